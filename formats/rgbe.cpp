// Placeholder until the real step lands.
#include "formats/rgbe.h"

#include "shell/session.h"

namespace lumivane {
float RgbeToFloat(std::uint8_t, std::uint8_t) { return 0; }
bool LoadRgbeImage(Session&, RgbeImage&) { return false; }
bool AbortRadianceJob(Session&, const std::string&) { return false; }
}  // namespace lumivane
