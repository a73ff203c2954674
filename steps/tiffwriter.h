// The 24-bit and 96-bit TIFF header steps; the header's layout is formats/tiffheaderbytes.
#pragma once

#include "formats/tiffheaderbytes.h"

namespace lumivane {

class Session;

bool WriteTiff24Header(Session& session);
bool WriteTiff96Header(Session& session);

}  // namespace lumivane
