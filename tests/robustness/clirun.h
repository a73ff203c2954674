// The robustness tests' names for the program runner, and a check of what
// reaches a terminal.
#pragma once

#include <string>
#include <vector>

#include "tests/support/clirunner.h"
#include "tests/support/testfiles.h"

namespace lumivane::robustness {

using CliResult = testing::CliRun;
using testing::Quote;

inline CliResult RunCli(const testing::TempDir& dir, const std::vector<std::string>& args,
                        const std::string& prefix = "") {
  return testing::RunCliProgram(dir, args, prefix);
}

// Every byte of `text` is printable ASCII, a line feed, or part of UTF-8
// that is no C1 control; otherwise the offending position.
std::string RawControlIn(const std::string& text);

}  // namespace lumivane::robustness
