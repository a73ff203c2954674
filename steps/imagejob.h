// Tone-mapping of the inputs read through libraries (OpenEXR, libtiff, the
// tolerant PFM reader): the same statistics, operator and log as the float
// job, over the rows an ImageRowSource hands out.
#pragma once

namespace lumivane {

class Session;

// Reader steps: the open dialog, then the format's header lines in the log.
// InputRows is left ready at the top row, InputFile open beneath it.
bool ReadExrHeader(Session& session);
bool ReadGeneralTiffHeader(Session& session);
bool ReadGeneralPfmHeader(Session& session);

// The job after WriteTiff24Header: a statistics pass and a tone-mapping pass
// over InputRows, a block of rows at a time. Closes both files.
bool ToneMapImageRows(Session& session);

}  // namespace lumivane
