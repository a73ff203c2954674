// The one tone-map job: the input's rows, one statistics pass, the operator,
// the output's rows. Every tone-mapping chain ends with it, whatever its input
// and output; how fast its passes run for an input is its schedule's part
// (steps/toneschedule).
#pragma once

#include <memory>

namespace lumivane {

class Session;
class ToneOperator;

// The job step: after a reader (which left the input as JobContext::Layout
// says) and a header writer (which left the output's file, or its sink in
// ToneMappedRows). Closes both files.
bool ToneMapImage(Session& session);

// The chains' names for it: File > "Open HDR", and "Open TIFF96" / "Open PFM".
inline bool ToneMapHdrImage(Session& session) {
  return ToneMapImage(session);
}
inline bool ToneMapFloatImage(Session& session) {
  return ToneMapImage(session);
}

// The operator the session's settings choose: the classic one, or a row of the
// operator table with its parameters.
std::unique_ptr<ToneOperator> SessionOperator(const Session& session);

}  // namespace lumivane
