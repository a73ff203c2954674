// A JPEG file's markers before its image data as libjpeg reads them, for
// `info`: the frame, the comments and the ICC profile. No pixel is decoded;
// JPEG is written by tone-mapping, never read as an input.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "formats/bytesource.h"

namespace lumivane {

// The markers before the image data are read as far as this; beyond it the
// header is refused.
inline constexpr std::uint64_t kMaxJpegHeaderBytes = std::uint64_t{32} << 20;

struct JpegProfile {
  std::uint64_t Bytes = 0;
  // Its description as Little CMS reads it; empty when it has none or the
  // profile cannot be opened.
  std::string Description;
};

struct JpegDescription {
  std::uint32_t Width = 0;
  std::uint32_t Height = 0;
  int BitDepth = 0;         // bits a sample: 8 (12 for a 12-bit file)
  int Components = 0;       // 3 for colour, 1 for grey
  std::string ColourSpace;  // "YCbCr", "grey", "RGB", "CMYK", "YCCK", "unknown"
  std::string Coding;       // "sequential" or "progressive", then ", arithmetic" for
                            // arithmetic coding
  bool Jfif = false;        // an APP0 JFIF marker
  std::optional<JpegProfile> Profile;
  // Each COM segment's bytes, in the file's order.
  std::vector<std::string> Comments;
  // libjpeg's reason when it cannot read the header; empty when it can.
  std::string Failure;
};

// Whether the first bytes are a JPEG's start of image and a marker.
bool IsJpegSignature(std::string_view firstBytes);

JpegDescription DescribeJpeg(ByteSource& bytes);

}  // namespace lumivane
