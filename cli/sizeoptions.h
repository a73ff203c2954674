// --fit WxH and --scale F of tonemap: the picture made smaller as it is read.
#pragma once

#include <CLI/CLI.hpp>

#include <string>

#include "steps/downsamplestep.h"

namespace lumivane {

struct SizeSwitches {
  std::string Fit;
  double Scale = 0.0;
};

void AddSizeOptions(CLI::App& verb, SizeSwitches& switches);

// "2048x1536" as a box; nothing for text that is no such size.
std::optional<ImageSize> ParseBox(const std::string& text);

// The request the switches make (none when neither was given).
SizeRequest SizeRequestOf(const SizeSwitches& switches);

}  // namespace lumivane
