// "Open TIFF96" and "Open PFM": float image to 24-bit TIFF, streamed by rows.
#pragma once

#include <cstdint>

namespace lumivane {

class Session;

bool ToneMapFloatImage(Session& session);

// Bytes 4, 3, 2, 1 of the four at `bytes`, in place.
void ReverseBytes4(std::uint8_t* bytes);

}  // namespace lumivane
