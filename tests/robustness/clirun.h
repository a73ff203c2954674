// Runs of the real lumivane-cli binary for the robustness tests.
#pragma once

#include <string>
#include <vector>

#include "tests/support/testfiles.h"

namespace lumivane::robustness {

struct CliResult {
  int Status = -1;
  std::string Out;
  std::string Err;
};

using testing::Quote;

// lumivane-cli with `args`, its standard error caught in a file of `dir`;
// `prefix` is shell text run before it in the same shell (ulimit, say).
// A guard ends a run that hangs, so that a blocking input cannot stall CI.
CliResult RunCli(const testing::TempDir& dir, const std::vector<std::string>& args,
                 const std::string& prefix = "");

// Every byte of `text` is printable ASCII, a line feed, or part of UTF-8
// that is no C1 control; otherwise the offending position.
std::string RawControlIn(const std::string& text);

}  // namespace lumivane::robustness
