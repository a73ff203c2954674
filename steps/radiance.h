// The Radiance RGBE header reader.
#pragma once

namespace lumivane {

class Session;

bool ReadHdrHeader(Session& session);

}  // namespace lumivane
