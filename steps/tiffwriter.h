// The fixed 308-byte TIFF header of every TIFF this program writes.
#pragma once

#include <array>
#include <cstdint>

namespace lumivane {

class Session;

inline constexpr std::uint32_t kTiffHeaderSize = 308;

bool WriteTiff24Header(Session& session);
bool WriteTiff96Header(Session& session);

// The header WriteTiff96Header writes, for an image whose 12-byte pixels fit
// 32-bit byte counts.
std::array<std::uint8_t, kTiffHeaderSize> Tiff96HeaderBytes(std::uint32_t width,
                                                            std::uint32_t height);

std::array<std::uint8_t, 4> EncodeLong32(std::uint32_t value);
std::array<char, 20> TiffDateTimeText();
std::array<char, 48> TiffSoftwareText();

}  // namespace lumivane
