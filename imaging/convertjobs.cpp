// Placeholder until the real step lands.
#include "imaging/convertjobs.h"

#include "shell/session.h"

namespace lumivane {
bool ConvertHdrImage(Session&) { return false; }
bool ConvertFloatImage(Session&) { return false; }
}  // namespace lumivane
