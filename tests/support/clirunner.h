// Runs of the lumivane-cli program itself, for tests where the process is the
// point: exit codes, signals, standard streams, resource limits.
#pragma once

#include <string>
#include <vector>

#include "tests/support/testfiles.h"

namespace lumivane::testing {

struct CliRun {
  int Status = -1;
  std::string Out;
  std::string Err;
};

// A shell command with standard input from /dev/null and its standard output
// and standard error kept apart (the error through a file of `dir`).
CliRun RunShell(const TempDir& dir, const std::string& command);

// lumivane-cli with `args`; `prefix` is shell text run before it in the same
// shell (ulimit, say). A guard ends a run that hangs, so that a blocking input
// cannot stall CI.
CliRun RunCliProgram(const TempDir& dir, const std::vector<std::string>& args,
                     const std::string& prefix = "");

}  // namespace lumivane::testing
