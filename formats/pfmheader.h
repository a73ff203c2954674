// The Portable Float Map header: three text lines, "PF", the size, the scale
// whose sign gives the byte order.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lumivane {

// The bytes a reader looks at: the header must lie inside them.
inline constexpr std::size_t kPfmHeaderBlock = 256;

struct PfmHeader {
  // Each side once its line was read, even when a later line refuses the file.
  std::optional<std::uint32_t> Width;
  std::optional<std::uint32_t> Height;
  // Least significant byte first (a negative scale).
  bool IntelOrder = false;
  // Where the pixels start: right after the scale line.
  std::uint64_t DataStart = 0;
  // The pixel bytes, W x H x 12.
  std::uint32_t ImageBytes = 0;
  // The log lines in order, up to the failure if there is one.
  std::vector<std::string> LogLines;
  // Why the file is refused; empty when it is accepted.
  std::string Failure;
};

// Reads the header from the file's first bytes (up to kPfmHeaderBlock of them);
// `fileName` goes into the failure texts.
PfmHeader ParsePfmHeader(std::string_view bytes, const std::string& fileName);

}  // namespace lumivane
