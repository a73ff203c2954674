// Before tone-mapping: an input that states primaries other than Rec. 709's
// is read in Rec. 709 primaries, so that the operators' luminance weights and
// the display encoding mean what they say. Conversions keep the input's values.
#pragma once

#include "steps/session.h"

namespace lumivane {

// `reader`, then its rows converted when the input states other primaries.
JobStep ReadInRec709(JobStep reader);

}  // namespace lumivane
