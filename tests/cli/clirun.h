// lumivane-cli run in this process, as main() runs it, with its streams caught
// (tests/support/clirunner.h runs the program itself).
#pragma once

#include <string>
#include <vector>

#include "tests/support/clirunner.h"

namespace lumivane::testing {

// `args` after the program's name, `input` as standard input; standard error
// is taken as no terminal.
CliRun RunCliInProcess(const std::vector<std::string>& args, const std::string& input = "");

}  // namespace lumivane::testing
