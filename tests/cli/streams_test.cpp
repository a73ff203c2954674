// "-" for standard input and output through the real binary: the image bytes
// alone on standard output, the log on standard error, and no temporary file
// left behind on any road.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/floatfiles.h"
#include "tests/support/testfiles.h"

namespace lumivane {
namespace {

using testing::Bytes;
using testing::ReadBytes;
using testing::TempDir;

using testing::Quote;

struct ShellRun {
  int Status = -1;
  std::string Err;
};

// `shell` with $CLI the program and $TMPDIR a folder of its own, standard
// error caught in a file.
ShellRun Shell(const TempDir& dir, const std::string& shell) {
  std::filesystem::create_directories(dir.File("tmp"));
  const std::string command = "CLI=" + Quote(LUMIVANE_CLI_PATH) +
                              " TMPDIR=" + Quote(dir.File("tmp")) + "; export TMPDIR; cd " +
                              Quote(dir.Path().string()) + " && { " + shell + "; } 2>err.txt";
  ShellRun run;
  run.Status = testing::RunCommand(command);
  const Bytes err = ReadBytes(dir.File("err.txt"));
  run.Err.assign(err.begin(), err.end());
  return run;
}

bool TemporaryFolderEmpty(const TempDir& dir) {
  return std::filesystem::is_empty(dir.File("tmp"));
}

const std::string kSample = std::string(LUMIVANE_SOURCE_DIR) + "/samples/dawn.hdr";

TEST(StandardStreams, PipesGiveTheFileRunsBytesAndTheLogGoesToStandardError) {
  TempDir dir;
  ASSERT_EQ(Shell(dir, "$CLI tonemap " + Quote(kSample) + " file.tif >file.log").Status, 0);
  ASSERT_EQ(Shell(dir, "$CLI convert " + Quote(kSample) + " file.pfm >/dev/null").Status, 0);

  const ShellRun piped =
      Shell(dir, "cat " + Quote(kSample) + " | $CLI tonemap - - --format tif >piped.tif");
  EXPECT_EQ(piped.Status, 0) << piped.Err;
  EXPECT_NE(piped.Err.find("Statistics (Low, High, Sum, Average of values)\n"), std::string::npos);
  EXPECT_NE(piped.Err.find("HDR Tonemapping concluded.\n"), std::string::npos);
  const Bytes file = ReadBytes(dir.File("file.tif"));
  EXPECT_EQ(testing::TiffPixels(ReadBytes(dir.File("piped.tif"))), testing::TiffPixels(file));
  EXPECT_EQ(ReadBytes(dir.File("piped.tif")).size(), file.size());

  // The standard output's own name, and a conversion, whose bytes carry no clock.
  EXPECT_EQ(
      Shell(dir, "$CLI tonemap " + Quote(kSample) + " /dev/stdout --format tif >named.tif").Status,
      0);
  EXPECT_EQ(testing::TiffPixels(ReadBytes(dir.File("named.tif"))), testing::TiffPixels(file));
  const ShellRun converted =
      Shell(dir, "cat " + Quote(kSample) + " | $CLI convert - - --format pfm | cat >piped.pfm");
  EXPECT_EQ(converted.Status, 0) << converted.Err;
  EXPECT_EQ(ReadBytes(dir.File("piped.pfm")), ReadBytes(dir.File("file.pfm")));
  // A redirected file is read by name, not spooled.
  EXPECT_EQ(Shell(dir, "$CLI convert - back.tif <file.pfm >back.log").Status, 0);
  EXPECT_EQ(Shell(dir, "$CLI convert file.pfm direct.tif >/dev/null").Status, 0);
  EXPECT_EQ(testing::TiffPixels(ReadBytes(dir.File("back.tif"))),
            testing::TiffPixels(ReadBytes(dir.File("direct.tif"))));
  const Bytes log = ReadBytes(dir.File("back.log"));
  EXPECT_NE(
      std::string(log.begin(), log.end()).find("Ready to read PFM data from standard input\n"),
      std::string::npos);
  EXPECT_TRUE(TemporaryFolderEmpty(dir));
}

TEST(StandardStreams, FailuresSayWhyAndLeaveNoTemporaryFile) {
  TempDir dir;
  const ShellRun junk = Shell(dir, "echo junk | $CLI tonemap - - --format tif >out.tif");
  EXPECT_EQ(junk.Status, 1);
  EXPECT_NE(junk.Err.find("is not a Radiance, TIFF, PFM or OpenEXR file"), std::string::npos)
      << junk.Err;
  EXPECT_TRUE(ReadBytes(dir.File("out.tif")).empty());

  const ShellRun noFormat = Shell(dir, "$CLI tonemap " + Quote(kSample) + " - >out.tif");
  EXPECT_EQ(noFormat.Status, 2);
  EXPECT_NE(noFormat.Err.find("an OUTPUT of - (standard output) needs --format"), std::string::npos)
      << noFormat.Err;
  // Tone-mapping writes no float formats, whatever the stream.
  const ShellRun pfm = Shell(dir, "$CLI tonemap " + Quote(kSample) + " - --format pfm >out.pfm");
  EXPECT_EQ(pfm.Status, 2);
  EXPECT_NE(pfm.Err.find("does not end in a known extension"), std::string::npos) << pfm.Err;

  // Standard input is "standard input" in every message, whatever file keeps it.
  const std::string notAnImage =
      " is not a Radiance, TIFF, PFM or OpenEXR file (it starts with none of";
  for (const auto& [shell, message] : std::vector<std::pair<std::string, std::string>>{
           {"printf '#?RADIANCE\\nFORMAT=32-bit_rle_rgbe\\n\\n' | $CLI tonemap - never.tif",
            "standard input is not a Radiance file"},
           {"$CLI tonemap - never.tif </dev/null", "standard input" + notAnImage},
           {"$CLI tonemap - never.tif <&-", "standard input" + notAnImage},
           {"$CLI convert - never.pfm <.", "cannot read standard input: Is a directory"}}) {
    const ShellRun run = Shell(dir, shell + " >/dev/null");
    EXPECT_EQ(run.Status, 1) << shell;
    EXPECT_NE(run.Err.find(message), std::string::npos) << shell << "\n" << run.Err;
    EXPECT_EQ(run.Err.find("/proc/self"), std::string::npos) << run.Err;
    EXPECT_EQ(run.Err.find("/lumivane-"), std::string::npos) << run.Err;
  }
  EXPECT_FALSE(testing::FileExists(dir.File("never.tif")));
  EXPECT_FALSE(testing::FileExists(dir.File("never.pfm")));
  // Read once only: - twice is a usage error, whatever else is said.
  const ShellRun twice = Shell(dir, "cat " + Quote(kSample) + " | $CLI tonemap -o . - -");
  EXPECT_EQ(twice.Status, 2);
  EXPECT_NE(twice.Err.find("standard input (-) is given 2 times as an input; it can be read "
                           "only once"),
            std::string::npos)
      << twice.Err;

  // No temporary folder to keep standard input in, or to write the image to.
  const ShellRun noFolder =
      Shell(dir, "cat " + Quote(kSample) + " | TMPDIR=" + Quote(dir.File("gone")) +
                     " $CLI convert - - --format pfm >out.pfm; TMPDIR=" + Quote(dir.File("gone")) +
                     " $CLI convert " + Quote(kSample) + " - --format pfm >>out.pfm");
  EXPECT_EQ(noFolder.Status, 1);
  const std::string why = "lumivane-cli: cannot make a temporary file in " + dir.File("gone") +
                          ": No such file or "
                          "directory\n";
  EXPECT_EQ(noFolder.Err, why + why);
  EXPECT_TRUE(ReadBytes(dir.File("out.pfm")).empty());

  // The reader of the pipe quits at once: the job still ends, and says so.
  const ShellRun closed =
      Shell(dir, "{ $CLI convert " + Quote(kSample) +
                     " - --format pfm; echo $? >status.txt; } | head -c 1 >/dev/null");
  const Bytes status = ReadBytes(dir.File("status.txt"));
  EXPECT_EQ(std::string(status.begin(), status.end()), "1\n");
  EXPECT_NE(closed.Err.find("cannot write the image to standard output: Broken pipe"),
            std::string::npos)
      << closed.Err;

  // An image is never written to a terminal; `script` gives the run one.
  if (testing::HaveTool("script")) {
    const ShellRun terminal = Shell(
        dir, "script -qec \"$CLI tonemap " + kSample + " - --format tif\" /dev/null >screen.txt");
    std::string screen;
    const Bytes shown = ReadBytes(dir.File("screen.txt"));
    screen.assign(shown.begin(), shown.end());
    EXPECT_EQ(terminal.Status, 2) << screen;
    EXPECT_NE(screen.find("standard output is a terminal: no image is written there"),
              std::string::npos)
        << screen;
    EXPECT_EQ(screen.find("II*"), std::string::npos);
  }
  EXPECT_TRUE(TemporaryFolderEmpty(dir));
}

// Interrupted while it keeps standard input: the kept copy goes too. Where
// the file system has unnamed files it never had a name.
TEST(StandardStreams, ASignalRemovesTheTemporaryFile) {
  TempDir dir;
  // A FIFO held open by the shell: standard input never ends on its own. The
  // copy is being made once the program holds a file of $TMPDIR open.
  Shell(dir,
        "mkfifo in.fifo; $CLI tonemap - out.tif <in.fifo >log.txt & pid=$!; exec 3>in.fifo; "
        "cat " +
            Quote(kSample) + " >&3; " +
            "held=no; for i in $(seq 200); do ls -l /proc/$pid/fd | grep -q \"$TMPDIR/\" && "
            "{ held=yes; break; }; sleep 0.05; done; echo $held >held.txt; "
            "ls \"$TMPDIR\" >seen.txt; kill -TERM $pid; wait $pid; echo $? >status.txt");
  const testing::Bytes held = ReadBytes(dir.File("held.txt"));
  EXPECT_EQ(std::string(held.begin(), held.end()), "yes\n");
  const testing::Bytes seen = ReadBytes(dir.File("seen.txt"));
  if (testing::HasUnnamedFiles(dir.File("tmp")))
    EXPECT_TRUE(seen.empty()) << std::string(seen.begin(), seen.end());
  else
    EXPECT_EQ(std::string(seen.begin(), seen.begin() + std::min<std::size_t>(seen.size(), 9)),
              "lumivane-");
  const testing::Bytes status = ReadBytes(dir.File("status.txt"));
  EXPECT_EQ(std::string(status.begin(), status.end()), "143\n");
  EXPECT_TRUE(TemporaryFolderEmpty(dir));
  EXPECT_FALSE(testing::FileExists(dir.File("out.tif")));
}

}  // namespace
}  // namespace lumivane
