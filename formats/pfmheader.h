// The Portable Float Map header, read and written: three text lines, "PF", the size, the scale
// whose sign gives the byte order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "formats/headerscan.h"

namespace lumivane {

// The bytes a reader looks at: the header must lie inside them.
inline constexpr std::size_t kPfmHeaderBlock = 256;

// Its data start lies right after the scale line.
struct PfmHeader : HeaderScan {
  // Least significant byte first (a negative scale).
  bool IntelOrder = false;
  // The pixel bytes, W x H x 12.
  std::uint32_t ImageBytes = 0;
};

// Reads the header from the file's first bytes (up to kPfmHeaderBlock of them);
// `fileName` goes into the failure texts.
PfmHeader ParsePfmHeader(std::string_view bytes, const std::string& fileName);

// "PF", the size and the scale -1 (least significant byte first), each line
// ending in LF: the header of every PFM this program writes.
std::string PfmHeaderText(std::uint32_t width, std::uint32_t height);

// A number's digits without the padding FormatNumber gives it.
std::string PfmDigits(std::uint32_t value);

}  // namespace lumivane
