// A TIFF file's first image directory as it stands, for `info`: every entry
// with its tag, its name as libtiff knows it, its type and its values. Read
// entry by entry from the bytes, so that a file no reader takes is still
// described, and with a bound on what is read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "formats/bytesource.h"

namespace lumivane {

// Entries and values shown at most; the counts say how many there are.
inline constexpr std::size_t kMaxTiffEntriesShown = 1024;
inline constexpr std::size_t kMaxTiffValuesShown = 32;
inline constexpr std::size_t kMaxTiffTextShown = 1024;

struct TiffEntry {
  std::uint16_t Tag = 0;
  // "ImageWidth"; empty for a tag libtiff does not know.
  std::string Name;
  // "SHORT", "ASCII", ...; "type N" for an unknown type.
  std::string Type;
  std::uint64_t Count = 0;
  // ASCII: the text up to its first NUL, at most kMaxTiffTextShown bytes.
  bool IsText = false;
  std::string Text;
  // Every other type: the first kMaxTiffValuesShown values (a rational as
  // its quotient, an undefined byte as its number).
  std::vector<double> Numbers;
  // Why the values are not shown (they lie beyond the end of the file, or
  // the type is unknown); empty when they are.
  std::string Problem;
};

struct TiffDescription {
  bool BigEndian = false;
  bool BigTiff = false;
  std::uint64_t DirectoryOffset = 0;
  std::uint64_t EntryCount = 0;  // as the directory says; Entries holds the first of them
  std::vector<TiffEntry> Entries;
  // Why no directory could be read; empty when it could.
  std::string Failure;
};

TiffDescription DescribeTiff(ByteSource& bytes);

}  // namespace lumivane
