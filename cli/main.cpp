#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <iostream>

#include "cli/commandline.h"
#include "io/termination.h"
#include "cli/streams.h"

int main(int argc, char** argv) {
  // A reader that stops early (| head) must not kill a job halfway through
  // writing its image; the lost log is reported by the exit status instead.
  std::signal(SIGPIPE, SIG_IGN);
  // A file-size limit reached while writing the image must fail the job, which
  // then discards the partial output, instead of killing the process.
  std::signal(SIGXFSZ, SIG_IGN);
  lumivane::InstallTerminationCleanup();
  struct stat input {};
  const bool inputIsFile = ::fstat(STDIN_FILENO, &input) == 0 && S_ISREG(input.st_mode);
  const lumivane::ConsoleStreams streams{std::cin,
                                         std::cout,
                                         std::cerr,
                                         inputIsFile,
                                         ::isatty(STDOUT_FILENO) == 1,
                                         ::isatty(STDERR_FILENO) == 1};
  return lumivane::RunCommandLine(argc, argv, streams);
}
