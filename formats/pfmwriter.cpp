// Placeholder until the real step lands.
#include "formats/pfmwriter.h"

#include "shell/session.h"

namespace lumivane {
bool WritePfmHeader(Session&) { return false; }
}  // namespace lumivane
