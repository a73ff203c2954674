// The settings both front ends take from the environment.
#pragma once

#include <optional>
#include <string>

#include "formats/readlimits.h"

namespace lumivane {

// The read limits: the defaults, with LUMIVANE_MAX_PIXELS (a whole number)
// and LUMIVANE_MAX_MEMORY (bytes, or a number with K, M or G) where they are
// set and not empty. Nothing, with `error` naming the variable and its value,
// when either is not such a number.
std::optional<ReadLimits> LimitsFromEnvironment(std::string& error);

}  // namespace lumivane
