// The one conversion job: the input's rows to the output's, no value changed.
// Every conversion chain ends with it; its schedules (steps/convertschedule)
// move the rows fast for the pairs that allow it.
#pragma once

#include <cstdint>

namespace lumivane {

class Session;

// The job step: after a reader and a header writer (which left the output's
// file behind its header, or a sink in ConvertedRows). Closes both files.
bool ConvertImage(Session& session);

// The chains' names for it: "HDR > TIFF" and "HDR > PFM", "PFM > TIFF" and "TIFF > PFM".
inline bool ConvertHdrImage(Session& session) {
  return ConvertImage(session);
}
inline bool ConvertFloatImage(Session& session) {
  return ConvertImage(session);
}

// The float inputs' last lines: "Converted from", the names, the seconds since
// `start`, and both files closed.
bool FinishConversion(Session& session, std::int32_t start);

}  // namespace lumivane
