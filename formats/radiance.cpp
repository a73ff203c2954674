// Placeholder until the real step lands.
#include "formats/radiance.h"

#include "shell/session.h"

namespace lumivane {
bool ReadHdrHeader(Session& s) { s.Context.FailureMessage = "not built"; return false; }
}  // namespace lumivane
