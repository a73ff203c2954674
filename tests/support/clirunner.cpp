#include "tests/support/clirunner.h"

namespace lumivane::testing {

CliRun RunShell(const TempDir& dir, const std::string& command) {
  const std::string errFile = dir.File("cli-stderr.txt");
  CliRun run;
  run.Status = RunCommand("sh -c " + Quote("(" + command + ") 2>" + Quote(errFile) + " </dev/null"),
                          &run.Out);
  const auto err = ReadBytes(errFile);
  run.Err.assign(err.begin(), err.end());
  return run;
}

CliRun RunCliProgram(const TempDir& dir, const std::vector<std::string>& args,
                     const std::string& prefix) {
  std::string command = "timeout 600 " + Quote(LUMIVANE_CLI_PATH);
  for (const std::string& arg : args) command += " " + Quote(arg);
  return RunShell(dir, prefix.empty() ? command : prefix + "; " + command);
}

}  // namespace lumivane::testing
