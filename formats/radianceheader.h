// The Radiance header: the signature, then lines up to the resolution line,
// all of it inside the file's first 256 bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lumivane {

// The bytes the header scan looks at.
inline constexpr std::size_t kRadianceHeaderBlock = 256;

struct RadianceHeader {
  // Each side once its field was read, even when the file is refused later.
  std::optional<std::uint32_t> Width;
  std::optional<std::uint32_t> Height;
  // Where the pixels start: right after the resolution line.
  std::uint64_t DataStart = 0;
  // The log lines in order, up to the failure if there is one.
  std::vector<std::string> LogLines;
  // Why the file is refused; empty when it is accepted.
  std::string Failure;
};

// Reads the header from the file's first bytes (up to kRadianceHeaderBlock of
// them); `fileName` goes into the failure texts.
RadianceHeader ParseRadianceHeader(std::string_view bytes, const std::string& fileName);

}  // namespace lumivane
