#include <unistd.h>

#include <iostream>

#include "cli/commandline.h"

int main(int argc, char** argv) {
  return lumivane::RunCommandLine(argc, argv, std::cout, std::cerr, ::isatty(STDERR_FILENO) == 1);
}
