// --max-pixels and --max-memory: the read limits of tonemap, convert and info,
// over those the environment sets.
#pragma once

#include <CLI/CLI.hpp>

#include <string>

#include "formats/readlimits.h"

namespace lumivane {

struct LimitSwitches {
  std::string MaxPixels;
  std::string MaxMemory;
};

void AddLimitOptions(CLI::App& verb, LimitSwitches& switches);

// The defaults, over them LUMIVANE_MAX_PIXELS and LUMIVANE_MAX_MEMORY, over
// those the flags. Throws CLI::ValidationError for a variable that holds no
// such value (the flags are checked as they are parsed).
ReadLimits ResolveLimits(const LimitSwitches& switches);

}  // namespace lumivane
