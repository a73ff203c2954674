// The format table: one row per image format, with its name, its signature
// test, its extensions, what it can hold, how to open its rows and how to make
// a sink for it. The command line's routing, `info`, the window's dialogs, the
// completions, the help and the manual page all read it. Adding a format is
// one row here plus its codec files.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "formats/bytesource.h"
#include "formats/exrwriter.h"
#include "formats/imagerows.h"
#include "formats/jpegwriter.h"
#include "formats/readlimits.h"

namespace lumivane {

class BinaryFile;

enum class FormatId { Radiance, Tiff, Pfm, OpenExr, Png, Jpeg };

// How a sink writes, where the format has a choice.
struct SinkOptions {
  int JpegQuality = kDefaultJpegQuality;
  ExrOptions Exr;
  // Bits per channel of a tone-mapped output that can hold 16 (PNG, TIFF):
  // with 16 its rows come as 16-bit values in this machine's byte order.
  int Depth = 8;
  // How the output was made, written where the format has a place for it
  // (PNG tEXt, JPEG COM, TIFF Software and ImageDescription); nothing when empty.
  std::string Software;
  std::string Description;
  // What the input said of itself, kept by an output that can hold it.
  ImageMetadata Metadata;
  // The rows come with the input's alpha, for a format that holds it: a
  // conversion's float sink takes WriteRowsAndAlpha, a tone-mapped output's
  // rows carry a fourth, straight alpha sample.
  bool Alpha = false;
};

struct FormatRow {
  FormatId Id;
  // "Radiance": messages, `info`, help.
  const char* Name;
  // "HDR": success texts ("HDR Tonemapping concluded."), dialog filters.
  const char* ShortName;
  // Lower case, without the dot; the first is the one written with --to.
  std::vector<std::string> Extensions;
  // Whether a file's first bytes are of this format; null for a format that
  // is only written.
  bool (*Signature)(std::string_view firstBytes);
  // What those bytes are, for messages: "\"II\", \"MM\"".
  const char* SignatureText;
  // The signature of a format that is only written but whose header `info`
  // describes (how a PNG or JPEG output was made); null for the others.
  bool (*DescribedSignature)(std::string_view firstBytes);
  // What a file of the format can hold.
  bool HoldsNegatives;
  bool HoldsAlpha;
  const char* Depths;  // "32-bit float", "8-bit", ...
  // The rows of any file of the format that a library reader takes (the
  // classic readers' files too); null where there is none.
  std::unique_ptr<ImageRowSource> (*OpenRows)(std::unique_ptr<ByteSource> bytes, unsigned threads,
                                              const ReadLimits& limits, std::string& error);
  // A sink behind the header it writes at the file's position: floats (a
  // conversion's output) or 8-bit RGB (a tone-map's; for TIFF only with
  // alpha, the 24-bit TIFF being the classic header writer's); null where the
  // format does not take them.
  std::unique_ptr<FloatRowSink> (*FloatSink)(BinaryFile& file, std::uint32_t width,
                                             std::uint32_t height, const SinkOptions& options,
                                             std::string& error);
  std::unique_ptr<ByteRowSink> (*ByteSink)(BinaryFile& file, std::uint32_t width,
                                           std::uint32_t height, const SinkOptions& options,
                                           std::string& error);
  // The 16-bit RGB sink of a format that holds 16 bits a channel (taken when
  // SinkOptions::Depth is 16); null for the others.
  std::unique_ptr<WordRowSink> (*WordSink)(BinaryFile& file, std::uint32_t width,
                                           std::uint32_t height, const SinkOptions& options,
                                           std::string& error);

  bool Reads() const { return Signature != nullptr; }
  bool Described() const { return Signature != nullptr || DescribedSignature != nullptr; }
  bool WritesFloats() const { return FloatSink != nullptr; }
  bool WritesBytes() const { return ByteSink != nullptr; }
  bool WritesWords() const { return WordSink != nullptr; }
};

const std::vector<FormatRow>& FormatTable();
const FormatRow& FormatOf(FormatId id);
// By the extension after the last dot of the name's last part, any letter
// case; null for none the table knows.
const FormatRow* FormatOfName(std::string_view path);
// By the first bytes (the first 256 or fewer); null for none.
const FormatRow* FormatOfBytes(std::string_view firstBytes);
// The same, or the written format whose header `info` describes; null for none.
const FormatRow* DescribedFormatOfBytes(std::string_view firstBytes);

// ".tif, .tiff, .png" for the rows that `wanted` accepts, for usage texts.
std::string ExtensionList(bool (*wanted)(const FormatRow&));

}  // namespace lumivane
