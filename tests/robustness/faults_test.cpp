// Failing disks and file-system faults through the batch command line: each
// gives a clear message and exit status 1, no success text, no output left
// behind, and the input unchanged.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "shell/controlids.h"
#include "tests/robustness/clirun.h"
#include "tests/support/floatfiles.h"
#include "tests/support/hdrfiles.h"
#include "tests/support/testfiles.h"

namespace lumivane {
namespace {

namespace fs = std::filesystem;
using robustness::CliResult;
using robustness::Quote;
using robustness::RunCli;
using testing::Bytes;
using testing::ReadBytes;
using testing::TempDir;
using testing::WriteBytes;

// 64 x 48 pixels: every output is larger than the small disks below.
constexpr std::uint32_t kWidth = 64, kHeight = 48;

struct Verb {
  std::string Name;
  std::string Verb;  // "tonemap" or "convert"
  std::string InputName;
  Bytes Input;
  std::string OutputExtension;
  int Command;
};

std::vector<Verb> Verbs() {
  const Bytes hdr =
      testing::HdrFile(testing::PatternImage(kWidth, kHeight), testing::RgbeRowForm::ComponentRuns);
  const Bytes tiff = testing::FloatTiff(testing::GradientImage(kWidth, kHeight), {false});
  const Bytes pfm = testing::StandardPfm(testing::GradientImage(kWidth, kHeight), true);
  return {
      {"tonemap Radiance", "tonemap", "in.hdr", hdr, ".tif", kOpenHdrCommand},
      {"tonemap TIFF", "tonemap", "in.tif", tiff, ".tif", kOpenTiffCommand},
      {"tonemap PFM", "tonemap", "in.pfm", pfm, ".tif", kOpenPfmCommand},
      {"HDR > TIFF", "convert", "in.hdr", hdr, ".tif", kHdrToTiffCommand},
      {"HDR > PFM", "convert", "in.hdr", hdr, ".pfm", kHdrToPfmCommand},
      {"PFM > TIFF", "convert", "in.pfm", pfm, ".tiff", kPfmToTiffCommand},
      {"TIFF > PFM", "convert", "in.tif", tiff, ".pfm", kTiffToPfmCommand},
  };
}

// The failure as the command line must report it: status 1, a message on
// standard error that contains `expected`, no success text.
void ExpectFailure(const CliResult& result, const std::string& expected) {
  EXPECT_EQ(result.Status, 1) << result.Err;
  EXPECT_TRUE(result.Err.starts_with("lumivane-cli: ")) << result.Err;
  EXPECT_NE(result.Err.find(expected), std::string::npos) << result.Err;
  EXPECT_EQ(result.Out.find("concluded"), std::string::npos) << result.Out;
}

std::string ErrorText(int error) {
  return std::strerror(error);
}

TEST(FaultInjection, OutputToAFullDevice) {
  if (!fs::is_character_file("/dev/full")) GTEST_SKIP() << "no /dev/full here";
  for (const Verb& verb : Verbs()) {
    SCOPED_TRACE(verb.Name);
    TempDir dir;
    const std::string input = dir.File(verb.InputName);
    WriteBytes(input, verb.Input);
    // A conversion takes its kind from the name: a link with the extension.
    std::string output = "/dev/full";
    if (verb.Verb == "convert") {
      output = dir.File("full" + verb.OutputExtension);
      fs::create_symlink("/dev/full", output);
    }
    const CliResult result = RunCli(dir, {verb.Verb, input, output});
    ExpectFailure(result, "Cannot write " + output + ": " + ErrorText(ENOSPC));
    EXPECT_EQ(ReadBytes(input), verb.Input);
    // The device is no partial output: it stays, and so does the link to it.
    EXPECT_TRUE(fs::is_character_file("/dev/full"));
    EXPECT_TRUE(fs::is_symlink(output) || output == "/dev/full");
  }
}

// A run of lumivane-cli in a mount namespace of its own, where `mount`
// (shell text) prepares `folder` first; `Left` lists what `folder` holds
// afterwards, read before the namespace and its mounts vanish.
struct MountedRun {
  CliResult Result;
  std::string Left;
};

MountedRun RunOnMount(const TempDir& dir, const std::string& mount, const std::string& folder,
                      const std::vector<std::string>& args) {
  std::string script = mount + " && " + Quote(LUMIVANE_CLI_PATH);
  for (const std::string& arg : args) script += " " + Quote(arg);
  script += " 2>" + Quote(dir.File("err.txt")) + "; echo $? >" + Quote(dir.File("status.txt")) +
            "; ls -A " + Quote(folder) + " >" + Quote(dir.File("left.txt"));
  MountedRun run;
  testing::RunCommand("unshare -rm sh -c " + Quote(script) + " </dev/null", &run.Result.Out);
  const auto text = [&](const std::string& name) {
    const Bytes bytes = ReadBytes(dir.File(name));
    return std::string(bytes.begin(), bytes.end());
  };
  const std::string status = text("status.txt");
  run.Result.Status = status.empty() ? -1 : std::stoi(status);
  run.Result.Err = text("err.txt");
  run.Left = text("left.txt");
  return run;
}

// Unprivileged user and mount namespaces (or root) let a test mount its own
// small or read-only file systems.
bool CanMountInOwnNamespace(const TempDir& dir) {
  const std::string point = dir.File("probe-mount");
  fs::create_directory(point);
  return testing::RunCommand("unshare -rm sh -c " +
                             Quote("mount -t tmpfs -o size=8k lumivane " + Quote(point)) +
                             " >/dev/null 2>&1") == 0;
}

// A disk that fills up while the pixel rows are written: a file-size limit
// (ulimit -f, 512-byte blocks in sh) and, where a user namespace may mount
// one, a tmpfs of 8 KiB.
TEST(FaultInjection, DiskFillingUpDuringTheRows) {
  for (const Verb& verb : Verbs()) {
    SCOPED_TRACE(verb.Name);
    TempDir dir;
    const std::string input = dir.File(verb.InputName);
    WriteBytes(input, verb.Input);
    const std::string output = dir.File("out" + verb.OutputExtension);
    const CliResult limited = RunCli(dir, {verb.Verb, input, output}, "ulimit -f 8");
    ExpectFailure(limited, "Cannot write " + output + ": " + ErrorText(EFBIG));
    EXPECT_FALSE(testing::FileExists(output));
    EXPECT_EQ(ReadBytes(input), verb.Input);
  }

  TempDir probe;
  if (!CanMountInOwnNamespace(probe))
    GTEST_SKIP() << "no tmpfs can be mounted here (unshare -rm and mount failed)";
  for (const Verb& verb : Verbs()) {
    SCOPED_TRACE(verb.Name);
    TempDir dir;
    const std::string input = dir.File(verb.InputName);
    WriteBytes(input, verb.Input);
    const std::string disk = dir.File("disk");
    fs::create_directory(disk);
    const std::string output = disk + "/out" + verb.OutputExtension;
    const MountedRun run = RunOnMount(dir, "mount -t tmpfs -o size=8k lumivane " + Quote(disk),
                                      disk, {verb.Verb, input, output});
    ExpectFailure(run.Result, "Cannot write " + output + ": " + ErrorText(ENOSPC));
    EXPECT_EQ(run.Left, "") << "left on the full disk";
    EXPECT_EQ(ReadBytes(input), verb.Input);
  }
}

// An output name that is a symbolic link writes through it: a failure must
// leave the file it points to as it was, and no partial file beside it.
TEST(FaultInjection, FailedOutputThroughASymbolicLinkLeavesNoPartialFile) {
  for (const Verb& verb : Verbs()) {
    SCOPED_TRACE(verb.Name);
    TempDir dir;
    const std::string input = dir.File(verb.InputName);
    WriteBytes(input, verb.Input);
    const std::string target = dir.File("target" + verb.OutputExtension);
    WriteBytes(target, Bytes(100, 0x11));
    const std::string link = dir.File("link" + verb.OutputExtension);
    fs::create_symlink(target, link);
    ExpectFailure(RunCli(dir, {verb.Verb, input, link}, "ulimit -f 8"),
                  "Cannot write " + link + ": " + ErrorText(EFBIG));
    EXPECT_EQ(ReadBytes(target), Bytes(100, 0x11));
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path()), fs::directory_iterator()), 4)
        << "a partial output is left";
    EXPECT_EQ(ReadBytes(input), verb.Input);
  }
}

// True when a file can be made in `folder`: then its permissions do not bite
// (the tests run as root, say).
bool CanCreateIn(const std::string& folder) {
  const std::string probe = folder + "/probe";
  const bool created = testing::RunCommand(": >" + Quote(probe) + " 2>/dev/null") == 0;
  std::error_code error;
  fs::remove(probe, error);
  return created;
}

TEST(FaultInjection, OutputIntoAMissingFolder) {
  for (const Verb& verb : Verbs()) {
    SCOPED_TRACE(verb.Name);
    TempDir dir;
    const std::string input = dir.File(verb.InputName);
    WriteBytes(input, verb.Input);
    const std::string missing = dir.File("none/out" + verb.OutputExtension);
    ExpectFailure(RunCli(dir, {verb.Verb, input, missing}), "Cannot open " + missing);
    EXPECT_FALSE(testing::FileExists(dir.File("none")));
    EXPECT_EQ(ReadBytes(input), verb.Input);
  }
}

// A folder without write permission, and a read-only mount, which bites
// even for root.
TEST(FaultInjection, OutputIntoAReadOnlyFolder) {
  TempDir dir;
  const std::string locked = dir.File("locked");
  fs::create_directory(locked);
  fs::permissions(locked, fs::perms::owner_read | fs::perms::owner_exec);
  const bool permissionsBite = !CanCreateIn(locked);
  fs::permissions(locked, fs::perms::owner_all);
  const bool canMount = CanMountInOwnNamespace(dir);
  if (!permissionsBite && !canMount)
    GTEST_SKIP() << "folder permissions do not bite for this user (root?) and no read-only "
                    "mount can be made here";
  for (const Verb& verb : Verbs()) {
    SCOPED_TRACE(verb.Name);
    const std::string input = dir.File(verb.InputName);
    WriteBytes(input, verb.Input);
    const std::string output = locked + "/out" + verb.OutputExtension;
    if (permissionsBite) {
      fs::permissions(locked, fs::perms::owner_read | fs::perms::owner_exec);
      ExpectFailure(RunCli(dir, {verb.Verb, input, output}), "Cannot open " + output);
      fs::permissions(locked, fs::perms::owner_all);
      EXPECT_FALSE(testing::FileExists(output));
    }
    if (canMount) {
      const MountedRun run = RunOnMount(dir,
                                        "mount --bind " + Quote(locked) + " " + Quote(locked) +
                                            " && mount -o remount,bind,ro " + Quote(locked),
                                        locked, {verb.Verb, input, output});
      ExpectFailure(run.Result, "Cannot open " + output);
      EXPECT_EQ(run.Left, "");
    }
    EXPECT_EQ(ReadBytes(input), verb.Input);
  }
}

TEST(FaultInjection, InputsThatAreNoReadableFile) {
  for (const Verb& verb : Verbs()) {
    SCOPED_TRACE(verb.Name);
    TempDir dir;
    const std::string output = dir.File("out" + verb.OutputExtension);
    const auto expectRefused = [&](const std::string& input, const std::string& reason) {
      SCOPED_TRACE(input);
      ExpectFailure(RunCli(dir, {verb.Verb, input, output}),
                    "lumivane-cli: cannot read " + input + ": " + reason + "\n");
      EXPECT_FALSE(testing::FileExists(output));
    };
    expectRefused(dir.File("missing" + verb.OutputExtension), ErrorText(ENOENT));
    const std::string folder = dir.File("folder.hdr");
    fs::create_directory(folder);
    expectRefused(folder, "is a directory");
    // No writer ever comes: the open must neither block nor read.
    const std::string fifo = dir.File("pipe.hdr");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    expectRefused(fifo, "is not a regular file");
    expectRefused("/dev/zero", "is not a regular file");

    const std::string unreadable = dir.File(verb.InputName);
    WriteBytes(unreadable, verb.Input);
    fs::permissions(unreadable, fs::perms::none);
    if (::access(unreadable.c_str(), R_OK) != 0) {
      expectRefused(unreadable, ErrorText(EACCES));
      fs::permissions(unreadable, fs::perms::owner_read | fs::perms::owner_write);
      EXPECT_EQ(ReadBytes(unreadable), verb.Input);
    }
  }
}

TEST(FaultInjection, OutputThatIsTheInputThroughALink) {
  for (const Verb& verb : Verbs()) {
    SCOPED_TRACE(verb.Name);
    TempDir dir;
    const std::string input = dir.File(verb.InputName);
    WriteBytes(input, verb.Input);
    const std::string hard = dir.File("hard" + verb.OutputExtension);
    const std::string soft = dir.File("soft" + verb.OutputExtension);
    fs::create_hard_link(input, hard);
    fs::create_symlink(input, soft);
    fs::create_directory(dir.File("sub"));
    for (const std::string& link : {hard, soft, dir.File("sub/../" + verb.InputName)}) {
      SCOPED_TRACE(link);
      // Both verbs take the output's kind from its extension: a spelling of the
      // input's name with another one is a usage error before any file is opened.
      if (!link.ends_with(verb.OutputExtension)) continue;
      const CliResult result = RunCli(dir, {verb.Verb, input, link});
      ExpectFailure(result, "LUMIVANE - Abort.: Cannot open ");
      EXPECT_EQ(ReadBytes(input), verb.Input);
      EXPECT_EQ(ReadBytes(link), verb.Input);
    }
    EXPECT_TRUE(fs::is_symlink(soft));
    EXPECT_EQ(fs::hard_link_count(input), 2u);
  }
}

// The job reads the file it opened: removing or replacing the input's name
// while the output is chosen changes nothing in the result.
TEST(FaultInjection, InputRemovedOrReplacedBetweenSteps) {
  for (const Verb& verb : Verbs()) {
    SCOPED_TRACE(verb.Name);
    TempDir dir;
    const std::string input = dir.File(verb.InputName);
    WriteBytes(input, verb.Input);
    const testing::JobRun plain =
        testing::RunJobCommand(verb.Command, input, dir.File("plain" + verb.OutputExtension));
    ASSERT_TRUE(plain.OutputExists) << plain.FailureMessage;

    const testing::JobRun removed =
        testing::RunJobCommand(verb.Command, input, dir.File("removed" + verb.OutputExtension), {},
                               [&] { fs::remove(input); });
    EXPECT_FALSE(testing::FileExists(input));
    ASSERT_EQ(removed.Boxes.size(), 1u) << removed.FailureMessage;
    EXPECT_EQ(removed.Boxes[0].Title, "LUMIVANE - Success.");
    EXPECT_EQ(removed.Output.size(), plain.Output.size());
    // The TIFF date (bytes 240 to 259) may differ; the rest may not.
    const auto masked = [](Bytes bytes) {
      if (bytes.size() >= 260 && bytes[0] == 'I')
        std::fill(bytes.begin() + 240, bytes.begin() + 260, std::uint8_t{0});
      return bytes;
    };
    EXPECT_EQ(masked(removed.Output), masked(plain.Output));

    WriteBytes(input, verb.Input);
    const std::string other = dir.File("other");
    WriteBytes(other, Bytes(verb.Input.size(), 0x55));
    const testing::JobRun replaced =
        testing::RunJobCommand(verb.Command, input, dir.File("replaced" + verb.OutputExtension), {},
                               [&] { fs::rename(other, input); });
    EXPECT_EQ(masked(replaced.Output), masked(plain.Output));
    EXPECT_EQ(ReadBytes(input), Bytes(verb.Input.size(), 0x55));
  }
}

}  // namespace
}  // namespace lumivane
