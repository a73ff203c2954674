// A PNG file's header chunks as libpng reads them, for `info`: the image
// header, the colour chunks and the texts before the image data. No pixel is
// decoded; PNG is written by tone-mapping, never read as an input.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "formats/bytesource.h"

namespace lumivane {

// A tEXt, zTXt or iTXt chunk; keyword and text in UTF-8 (the Latin-1 of tEXt
// and zTXt converted), as written.
struct PngText {
  std::string Chunk;  // "tEXt", "zTXt", "iTXt"
  std::string Keyword;
  std::string Text;
  std::string Language;  // iTXt only; often empty
};

struct PngChromaticities {
  double White[2], Red[2], Green[2], Blue[2];
};

struct PngDescription {
  std::uint32_t Width = 0;
  std::uint32_t Height = 0;
  int BitDepth = 0;
  std::string ColourType;  // "RGB", "RGB with alpha", "grey", "grey with alpha", "palette"
  bool Interlaced = false;
  // sRGB's rendering intent in words ("perceptual"); nothing without the chunk.
  std::optional<std::string> SrgbIntent;
  std::optional<double> Gamma;  // gAMA: the file's encoding exponent, 0.45455 for sRGB
  std::optional<PngChromaticities> Chromaticities;
  std::optional<std::string> IccProfileName;  // iCCP's name
  std::vector<PngText> Texts;
  // libpng's reason when it cannot read the header; empty when it can.
  std::string Failure;
};

// Whether the first bytes are the 8 of the PNG signature.
bool IsPngSignature(std::string_view firstBytes);

PngDescription DescribePng(ByteSource& bytes);

}  // namespace lumivane
