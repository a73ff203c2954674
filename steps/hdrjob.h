// File > "Open HDR": Radiance to 24-bit TIFF.
#pragma once

namespace lumivane {

class Session;

bool ToneMapHdrImage(Session& session);

}  // namespace lumivane
