#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <iostream>

#include "cli/commandline.h"
#include "cli/streams.h"
#include "io/termination.h"

int main(int argc, char** argv) {
  // A standard stream started closed must keep its number from the next file
  // opened, which would be read as standard input or get the log written into
  // it. /dev/null, read-only, reads as empty and fails every write as the
  // closed stream did.
  for (const int stream : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
    if (::fcntl(stream, F_GETFD) < 0) ::open("/dev/null", O_RDONLY);
  }
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
                                         ::isatty(STDERR_FILENO) == 1,
                                         S_ISDIR(input.st_mode)};
  return lumivane::RunCommandLine(argc, argv, streams);
}
