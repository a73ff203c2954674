// The Portable Float Map header writer.
#pragma once

#include "formats/pfmheader.h"

namespace lumivane {

class Session;

bool WritePfmHeader(Session& session);

}  // namespace lumivane
