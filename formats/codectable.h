// The formats read and written through the field's libraries (OpenEXR,
// libtiff, libpng, libjpeg) are built as a module of their own, loaded the
// first time a job needs one of them: a job on the classic formats never maps
// those libraries, which here take some 4 ms of every process's start. The
// public functions (exrrows.h, exrwriter.h, pngwriter.h, jpegwriter.h,
// tiffrows.h) forward to the module through this table.
#pragma once

#include <cstdint>

#include "formats/exrrows.h"
#include "formats/exrwriter.h"
#include "formats/jpegwriter.h"
#include "formats/pngwriter.h"
#include "formats/tiffrows.h"

namespace lumivane {

// The module's file, from the programs' folder.
inline constexpr const char* kCodecModule = "../lib/lumivane/lumivane-codecs.so";

struct CodecTable {
  // The version the module was built as: a module from another build may
  // disagree on every type here.
  const char* Version;
  decltype(&OpenExrRows) ExrRows;
  decltype(&OpenExrSink) ExrSink;
  decltype(&OpenPngSink) PngSink;
  decltype(&OpenJpegSink) JpegSink;
  decltype(&OpenTiffRows) TiffRows;
  decltype(&NeedsGeneralTiffReader) NeedsTiffLibrary;
};

// The module's own definitions behind the table.
namespace codecs {
std::unique_ptr<ImageRowSource> OpenExrRows(std::unique_ptr<ByteSource> bytes, unsigned threads,
                                            std::string& error);
std::unique_ptr<FloatRowSink> OpenExrSink(BinaryFile& file, std::uint32_t width,
                                          std::uint32_t height, const ExrOptions& options,
                                          std::string& error);
std::unique_ptr<ByteRowSink> OpenPngSink(BinaryFile& file, std::uint32_t width,
                                         std::uint32_t height, std::string& error);
std::unique_ptr<ByteRowSink> OpenJpegSink(BinaryFile& file, std::uint32_t width,
                                          std::uint32_t height, int quality, std::string& error);
std::unique_ptr<ImageRowSource> OpenTiffRows(std::unique_ptr<ByteSource> bytes, unsigned threads,
                                             std::string& error);
bool NeedsGeneralTiffReader(ByteSource& bytes);
}  // namespace codecs

}  // namespace lumivane

// The module's entry. Programs that link the module's objects in (the fuzz
// targets, for coverage) define it and load nothing.
extern "C" const lumivane::CodecTable* lumivane_codec_table();
