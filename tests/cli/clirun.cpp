#include "tests/cli/clirun.h"

#include <sstream>

#include "cli/commandline.h"
#include "cli/streams.h"

namespace lumivane::testing {

CliRun RunCliInProcess(const std::vector<std::string>& args, const std::string& input) {
  std::vector<const char*> argv = {"lumivane-cli"};
  for (const std::string& arg : args) argv.push_back(arg.c_str());
  std::istringstream in(input);
  std::ostringstream out, err;
  CliRun run;
  run.Status = RunCommandLine(static_cast<int>(argv.size()), argv.data(), {in, out, err});
  run.Out = out.str();
  run.Err = err.str();
  return run;
}

}  // namespace lumivane::testing
