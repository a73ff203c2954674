// lumivane-cli info: what a file holds, read but never written.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "formats/readlimits.h"

namespace lumivane {

// For each path: format, size, byte order, the header lines the reader logs,
// the statistics block the tone-mapping jobs log, and counts of NaN, infinite
// and negative values; as text, or as one JSON object per line. The paths are
// shown as `names` gives them; the readers hold to `limits`. Returns 0, or 1
// when any file could not be read.
int RunInfo(const std::vector<std::string>& paths, const std::vector<std::string>& names, bool json,
            const ReadLimits& limits, std::ostream& out, std::ostream& err);

}  // namespace lumivane
