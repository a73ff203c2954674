// The Portable Float Map header writer.
#pragma once

namespace lumivane {

class Session;

bool WritePfmHeader(Session& session);

}  // namespace lumivane
