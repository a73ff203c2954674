// Faster schedules of the per-pixel work of the jobs, equal byte for byte to
// the reference functions (RgbeToFloat, ChannelAccumulator, ToneMapChannel):
// the Radiance kernels, the float statistics and the float tone mapper.
#pragma once

#include "imaging/floatstatistics.h"
#include "imaging/floattonemapper.h"
#include "imaging/rgbekernels.h"
