#include "io/termination.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "io/binaryfile.h"
#include "tests/support/testfiles.h"

namespace lumivane {
namespace {

// A child process writes an output beside the old one, with a progress bar on
// a pipe, and is ended by a signal halfway: the temporary file goes, the old
// output stays, the bar is wiped, and the child dies of that signal, SIGQUIT
// without a core file.
TEST(Termination, SignalsDiscardTheUnfinishedOutputAndEndWithTheSignal) {
  for (const int signalNumber : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
    SCOPED_TRACE(signalNumber);
    testing::TempDir folder;
    const std::string out = folder.File("out.tif");
    testing::WriteText(out, "old");
    int bar[2];
    ASSERT_EQ(::pipe(bar), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      InstallTerminationCleanup();
      BinaryFile file = BinaryFile::CreateOutput(out);
      const std::vector<std::uint8_t> bytes(5000, 7);
      const bool written = file.IsOpen() && file.Write(bytes.data(), bytes.size());
      SetProgressLineDescriptor(bar[1]);
      // As a terminal or kill(1) sends it: to the process, which has it
      // blocked in every thread but the one that waits for it.
      if (written) ::kill(::getpid(), signalNumber);
      ::alarm(30);
      for (;;) ::pause();
    }
    ::close(bar[1]);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status)) << "exit status " << WEXITSTATUS(status);
    EXPECT_EQ(WTERMSIG(status), signalNumber);
    EXPECT_FALSE(WCOREDUMP(status));
    char wiped[16] = {};
    EXPECT_EQ(std::string(wiped, static_cast<std::size_t>(::read(bar[0], wiped, sizeof wiped))),
              "\r\033[K");
    ::close(bar[0]);
    EXPECT_EQ(testing::ReadBytes(out), (std::vector<std::uint8_t>{'o', 'l', 'd'}));
    std::size_t entries = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder.Path()))
      ++entries;
    EXPECT_EQ(entries, 1u) << "a temporary file is left";
  }
}

}  // namespace
}  // namespace lumivane
