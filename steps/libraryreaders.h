// The readers of the inputs read through libraries (OpenEXR, libtiff, the
// tolerant PFM reader): their rows go to the jobs as an ImageRowSource.
#pragma once

namespace lumivane {

class Session;

// Reader steps: the open dialog, then the format's header lines in the log.
// InputRows is left ready at the top row, InputFile open beneath it.
bool ReadExrHeader(Session& session);
bool ReadGeneralTiffHeader(Session& session);
bool ReadGeneralPfmHeader(Session& session);

}  // namespace lumivane
