// --fit and --scale: the input made smaller as it is read, so that the
// statistics, the operator and the output all see the smaller image.
#pragma once

#include "imaging/downsample.h"
#include "steps/session.h"

namespace lumivane {

struct SizeRequest {
  ImageSize Box;       // --fit WxH: inside this box, the aspect kept
  double Scale = 0.0;  // --scale F
  bool Wanted() const { return Scale > 0.0 || Box.Width > 0; }
};

// `reader`, then its rows averaged down to the size asked for, as the
// library readers leave rows (a classic input is read as rows for it). An
// image already as small or smaller stays as it is.
JobStep ReadDownsampled(JobStep reader, SizeRequest request);

// `reader`, then a classic input read as rows, as the library readers leave
// them (for the outputs only the plain row schedule writes).
JobStep ReadAsRows(JobStep reader);

}  // namespace lumivane
