// The local operator of Durand and Dorsey (2002): the log-luminance split by a
// bilateral filter into a base layer, whose range is compressed, and a detail
// layer, which is kept. The filter is a bilateral grid (imaging/bilateralgrid.h)
// filled in the statistics pass, blurred in Prepare and read in the mapping
// pass, so the operator streams like a global one.
#pragma once

#include "imaging/operatortable.h"

namespace lumivane {

// Its row of the operator table.
OperatorRow Durand02Row();

}  // namespace lumivane
