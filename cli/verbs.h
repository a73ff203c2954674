// The command line's verbs and their switches, as CLI11 options.
#pragma once

#include <CLI/CLI.hpp>

#include <string>
#include <vector>

#include "cli/limitoptions.h"
#include "cli/operatoroptions.h"
#include "cli/outputoptions.h"
#include "cli/sizeoptions.h"
#include "imaging/settings.h"

namespace lumivane {

// Every switch's value as parsed.
struct Switches {
  std::vector<std::string> Files;
  std::string OutputDir;
  std::string Format;
  std::string ToExtension;
  std::string BrightnessText = kBrightnessRule.DefaultText;
  std::string ContrastText = kContrastRule.DefaultText;
  std::string PostGammaText;
  bool Warm = false;
  bool Quiet = false;
  bool Json = false;
  std::string HelpVerb;
  OutputSwitches Output;
  LimitSwitches Limits;
  OperatorSwitches Operators;
  SizeSwitches Size;
};

struct Verbs {
  CLI::App* Tonemap = nullptr;
  CLI::App* Convert = nullptr;
  CLI::App* Info = nullptr;
  CLI::App* Operators = nullptr;
  CLI::App* Help = nullptr;
  // The classic operator's own settings.
  CLI::Option* Brightness = nullptr;
  CLI::Option* Contrast = nullptr;
  CLI::Option* PostGamma = nullptr;
  CLI::Option* WarmColours = nullptr;
};

Verbs AddVerbs(CLI::App& app, Switches& switches);

// "tonemap, convert, info, operators or help" (with `last` between the last two).
std::string VerbNames(const char* last);

}  // namespace lumivane
