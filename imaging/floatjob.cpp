// Placeholder until the real step lands.
#include "imaging/floatjob.h"

#include "shell/session.h"

namespace lumivane {
bool ToneMapFloatImage(Session&) { return false; }
void ReverseBytes4(std::uint8_t*) {}
}  // namespace lumivane
