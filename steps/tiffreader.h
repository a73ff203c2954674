// The 96-bit float TIFF reader.
#pragma once

#include "formats/tiffheader.h"

namespace lumivane {

class Session;

bool ReadTiffHeader(Session& session);

}  // namespace lumivane
