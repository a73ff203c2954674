// Placeholder until the real step lands.
#include "formats/tiffreader.h"

#include "shell/session.h"

namespace lumivane {
bool ReadTiffHeader(Session&) { return false; }
std::uint16_t ReadTiffShort(const std::uint8_t*, bool) { return 0; }
std::uint32_t ReadTiffLong(const std::uint8_t*, bool) { return 0; }
}  // namespace lumivane
