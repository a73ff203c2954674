#include <unistd.h>

#include <csignal>
#include <iostream>

#include "cli/commandline.h"
#include "io/termination.h"

int main(int argc, char** argv) {
  // A reader that stops early (| head) must not kill a job halfway through
  // writing its image; the lost log is reported by the exit status instead.
  std::signal(SIGPIPE, SIG_IGN);
  // A file-size limit reached while writing the image must fail the job, which
  // then discards the partial output, instead of killing the process.
  std::signal(SIGXFSZ, SIG_IGN);
  lumivane::InstallTerminationCleanup();
  return lumivane::RunCommandLine(argc, argv, std::cout, std::cerr, ::isatty(STDERR_FILENO) == 1);
}
