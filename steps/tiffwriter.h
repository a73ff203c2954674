// The fixed 308-byte TIFF header of every TIFF this program writes.
#pragma once

#include <array>
#include <cstdint>

namespace lumivane {

class Session;

inline constexpr std::uint32_t kTiffHeaderSize = 308;

bool WriteTiff24Header(Session& session);
bool WriteTiff96Header(Session& session);

std::array<std::uint8_t, 4> EncodeLong32(std::uint32_t value);
std::array<char, 20> TiffDateTimeText();
std::array<char, 48> TiffSoftwareText();

}  // namespace lumivane
