// The Portable Float Map reader.
#pragma once

namespace lumivane {

class Session;

bool ReadPfmHeader(Session& session);

}  // namespace lumivane
