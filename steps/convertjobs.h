// The four conversions between float formats, without tone-mapping.
#pragma once

namespace lumivane {

class Session;

bool ConvertHdrImage(Session& session);
bool ConvertFloatImage(Session& session);

}  // namespace lumivane
