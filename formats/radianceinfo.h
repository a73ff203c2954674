// A Radiance file described as it stands, for `info`: its header text and how
// many of its rows the pixel data hold whole. The readers' own header scan
// (radianceheader) stays as the jobs need it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "formats/bytesource.h"

namespace lumivane {

// Beyond this a header is taken to have no end.
inline constexpr std::size_t kMaxRadianceHeaderText = std::size_t{64} << 10;

struct RadianceHeaderText {
  // From the signature line up to, not including, the blank line that ends
  // the header, without their line feeds.
  std::vector<std::string> Lines;
  // The line after the blank line ("-Y 512 +X 768").
  std::string Resolution;
  // Why the header has no end where it should; empty when it has.
  std::string Failure;
};

RadianceHeaderText ReadRadianceHeaderText(ByteSource& bytes);

// The rows, from the top, whose encoded bytes lie whole in `bytes` from
// `dataStart` on, each taken as the decoder takes it (ScanRgbeRow); counting
// stops at the first row cut short or with a head no row may have. Reads
// the bytes a piece at a time: memory does not grow with a row's length.
std::uint32_t CountWholeRgbeRows(ByteSource& bytes, std::uint64_t dataStart, std::uint32_t width,
                                 std::uint32_t height);

}  // namespace lumivane
