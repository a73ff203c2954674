// The Radiance header: the signature, then lines up to the resolution line,
// all of it inside the file's first 256 bytes.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "formats/headerscan.h"

namespace lumivane {

// The bytes the header scan looks at.
inline constexpr std::size_t kRadianceHeaderBlock = 256;

// Its data start lies right after the resolution line.
using RadianceHeader = HeaderScan;

// Reads the header from the file's first bytes (up to kRadianceHeaderBlock of
// them); `fileName` goes into the failure texts.
RadianceHeader ParseRadianceHeader(std::string_view bytes, const std::string& fileName);

}  // namespace lumivane
