// lumivane-cli run in this process, as main() runs it, with its streams caught.
#pragma once

#include <string>
#include <vector>

namespace lumivane::testing {

struct CliRun {
  int Status = -1;
  std::string Out;
  std::string Err;
};

// `args` after the program's name; standard error is taken as no terminal.
CliRun RunCliInProcess(const std::vector<std::string>& args);

}  // namespace lumivane::testing
