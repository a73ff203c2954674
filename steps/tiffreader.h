// The 96-bit float TIFF reader.
#pragma once

#include <cstdint>

namespace lumivane {

class Session;

bool ReadTiffHeader(Session& session);

std::uint16_t ReadTiffShort(const std::uint8_t* bytes, bool intelOrder);
std::uint32_t ReadTiffLong(const std::uint8_t* bytes, bool intelOrder);

}  // namespace lumivane
