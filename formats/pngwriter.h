// 8- and 16-bit RGB PNG output through libpng, a row block at a time, tagged
// as sRGB and carrying how it was made.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "formats/imagerows.h"

namespace lumivane {

class BinaryFile;

// Writes the PNG signature and header to `file` (at its position) and returns
// the sink for the rows; nothing, with `error` set, when libpng refuses.
// Texts in UTF-8: tEXt where Latin-1 holds them, iTXt otherwise. With
// `alpha` the rows carry a fourth, straight alpha sample a pixel (RGBA).
struct PngTexts {
  std::string Software;     // "Software"; left out when empty
  std::string Description;  // "Description"; left out when empty
};

std::unique_ptr<ByteRowSink> OpenPngSink(BinaryFile& file, std::uint32_t width,
                                         std::uint32_t height, const PngTexts& texts, bool alpha,
                                         std::string& error);
// The same with 16 bits a channel; rows of words in this machine's order.
std::unique_ptr<WordRowSink> OpenPng16Sink(BinaryFile& file, std::uint32_t width,
                                           std::uint32_t height, const PngTexts& texts, bool alpha,
                                           std::string& error);

}  // namespace lumivane
