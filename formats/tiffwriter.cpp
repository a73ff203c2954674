// Placeholder until the real step lands.
#include "formats/tiffwriter.h"

#include "shell/session.h"

namespace lumivane {
bool WriteTiff24Header(Session&) { return false; }
bool WriteTiff96Header(Session&) { return false; }
std::array<std::uint8_t, 4> EncodeLong32(std::uint32_t) { return {}; }
std::array<char, 20> TiffDateTimeText() { return {}; }
std::array<char, 48> TiffSoftwareText() { return {}; }
}  // namespace lumivane
