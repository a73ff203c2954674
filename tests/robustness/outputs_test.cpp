// What a job does to the file it replaces: a failed or racing
// job leaves the old output as it was and nothing beside it; outputs that are
// no regular files end the job at once when nobody reads them; paths mean
// what the kernel makes of them.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "shell/controlids.h"
#include "shell/dispatch.h"
#include "steps/session.h"
#include "tests/robustness/clirun.h"
#include "tests/support/floatfiles.h"
#include "tests/support/hdrfiles.h"
#include "tests/support/recordingwindow.h"
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

constexpr std::uint32_t kWidth = 64, kHeight = 48;

// The names in `dir`, sorted, without RunCli's own file.
std::vector<std::string> Listing(const TempDir& dir) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir.Path())) {
    const std::string name = entry.path().filename().string();
    if (name != "cli-stderr.txt") names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

unsigned ModeOf(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 ? info.st_mode & 0777u : 0u;
}

// A TIFF this program wrote, without its DateTime text (bytes 240 to 259).
Bytes WithoutDateTime(Bytes file) {
  if (file.size() >= 260) file.erase(file.begin() + 240, file.begin() + 260);
  return file;
}

struct Job {
  std::string Verb, InputName, OutputName;
  Bytes Input, Damaged;
};

std::vector<Job> Jobs() {
  const std::string header = testing::StandardHdrHeader(kWidth, kHeight);
  Bytes rows =
      testing::EncodeRgbeRows(testing::PatternImage(kWidth, kHeight), testing::RgbeRowForm::Flat);
  const Bytes hdr = testing::HdrFile(header, rows);
  // A row head that no row kind allows, at row 40 of 48.
  const std::uint8_t refused[] = {2, 2, 0, 8};
  std::copy(std::begin(refused), std::end(refused), rows.begin() + 40 * kWidth * 4);
  const Bytes damagedHdr = testing::HdrFile(header, rows);
  const testing::FloatImage image = testing::GradientImage(kWidth, kHeight);
  const Bytes pfm = testing::StandardPfm(image, true);
  const Bytes tiff = testing::FloatTiff(image, {false});
  // Float inputs whose pixel rows end early.
  const Bytes shortPfm(pfm.begin(), pfm.end() - 500);
  Bytes shortTiff = tiff;
  shortTiff.resize(shortTiff.size() - 500);
  return {{"tonemap", "in.hdr", "out.tif", hdr, damagedHdr},
          {"tonemap", "in.pfm", "out.tif", pfm, shortPfm},
          {"tonemap", "in.tif", "out.tif", tiff, shortTiff},
          {"convert", "in.hdr", "out.tif", hdr, damagedHdr},
          {"convert", "in.hdr", "out.pfm", hdr, damagedHdr},
          {"convert", "in.pfm", "out.tif", pfm, shortPfm},
          {"convert", "in.tif", "out.pfm", tiff, shortTiff}};
}

TEST(Outputs, OldOutputSurvivesEveryFailureWithNothingLeftBeside) {
  const Bytes old(1000, 0x5A);
  for (const Job& job : Jobs()) {
    for (const bool damaged : {true, false}) {
      SCOPED_TRACE(job.Verb + " " + job.InputName + " " + job.OutputName +
                   (damaged ? ", damaged input" : ", file-size limit"));
      TempDir dir;
      const std::string in = dir.File(job.InputName), out = dir.File(job.OutputName);
      WriteBytes(in, damaged ? job.Damaged : job.Input);
      WriteBytes(out, old);
      ASSERT_EQ(::chmod(out.c_str(), 0604), 0);
      const CliResult result = RunCli(dir, {job.Verb, in, out}, damaged ? "" : "ulimit -f 8");
      EXPECT_EQ(result.Status, 1) << result.Err;
      EXPECT_EQ(ReadBytes(out), old);
      EXPECT_EQ(ModeOf(out), 0604u);
      EXPECT_EQ(Listing(dir), (std::vector<std::string>{job.InputName, job.OutputName}));
    }
  }
}

TEST(Outputs, OldOutputOnAFullDiskSurvives) {
  TempDir dir;
  const std::string probe = dir.File("probe");
  fs::create_directory(probe);
  if (testing::RunCommand("unshare -rm sh -c " +
                          Quote("mount -t tmpfs -o size=8k lumivane " + Quote(probe)) +
                          " >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "no tmpfs can be mounted here (unshare -rm and mount failed)";
  for (const Job& job : Jobs()) {
    SCOPED_TRACE(job.Verb + " " + job.InputName + " " + job.OutputName);
    const std::string in = dir.File(job.InputName), disk = dir.File("disk");
    WriteBytes(in, job.Input);
    fs::create_directories(disk);
    const std::string out = disk + "/" + job.OutputName;
    // 1000 bytes of Z on the 8 KiB disk first; what is left of it is read
    // before the namespace and its mount vanish.
    const std::string script =
        "mount -t tmpfs -o size=8k lumivane " + Quote(disk) + " && head -c 1000 /dev/zero | tr " +
        Quote("\\000") + " Z >" + Quote(out) + " && " + Quote(LUMIVANE_CLI_PATH) + " " + job.Verb +
        " " + Quote(in) + " " + Quote(out) + " >/dev/null 2>&1; echo $? >" +
        Quote(dir.File("status")) + "; ls -A " + Quote(disk) + " >" + Quote(dir.File("left")) +
        "; cat " + Quote(out) + " >" + Quote(dir.File("kept"));
    testing::RunCommand("unshare -rm sh -c " + Quote(script) + " </dev/null");
    const Bytes status = ReadBytes(dir.File("status")), left = ReadBytes(dir.File("left"));
    EXPECT_EQ(std::string(status.begin(), status.end()), "1\n");
    EXPECT_EQ(std::string(left.begin(), left.end()), job.OutputName + "\n");
    EXPECT_EQ(ReadBytes(dir.File("kept")), Bytes(1000, 'Z'));
  }
}

TEST(Outputs, PipesThatNobodyReadsEndTheJobAtOnce) {
  TempDir dir;
  const std::string in = dir.File("in.pfm"), fifo = dir.File("fifo");
  // The output, 196 KB, is larger than a pipe holds.
  WriteBytes(in, testing::StandardPfm(testing::GradientImage(256, 256), true));
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const CliResult unread = RunCli(dir, {"tonemap", in, fifo});
  EXPECT_EQ(unread.Status, 1);
  EXPECT_NE(unread.Err.find("Cannot write to " + fifo + ": no program reads from it."),
            std::string::npos)
      << unread.Err;

  // A reader that quits after 1000 bytes.
  const std::string script = "{ timeout 60 " + Quote(LUMIVANE_CLI_PATH) + " tonemap -q " +
                             Quote(in) + " /dev/stdout 2>" + Quote(dir.File("err")) +
                             "; echo $? >" + Quote(dir.File("status")) +
                             "; } | head -c 1000 >/dev/null";
  testing::RunCommand("sh -c " + Quote(script));
  const Bytes status = ReadBytes(dir.File("status")), err = ReadBytes(dir.File("err"));
  EXPECT_EQ(std::string(status.begin(), status.end()), "1\n");
  EXPECT_NE(std::string(err.begin(), err.end()).find(std::string(std::strerror(EPIPE))),
            std::string::npos);
  EXPECT_TRUE(fs::is_fifo(fifo));

  // OpenEXR goes back to write its offset table last: a FIFO that is read
  // (here by the shell itself) cannot take that, and the message says so.
  const std::string exr = dir.File("out.exr");
  ASSERT_EQ(::mkfifo(exr.c_str(), 0600), 0);
  const std::string read = "exec 3<>" + Quote(exr) + "; " + Quote(LUMIVANE_CLI_PATH) +
                           " convert -q " + Quote(in) + " " + Quote(exr) + " 2>" +
                           Quote(dir.File("err")) + "; echo $? >" + Quote(dir.File("status"));
  testing::RunCommand("sh -c " + Quote(read) + " </dev/null");
  const Bytes exrStatus = ReadBytes(dir.File("status")), exrErr = ReadBytes(dir.File("err"));
  EXPECT_EQ(std::string(exrStatus.begin(), exrStatus.end()), "1\n");
  EXPECT_EQ(std::string(exrErr.begin(), exrErr.end()),
            "lumivane-cli: LUMIVANE - Abort.: Cannot write " + exr +
                ": an OpenEXR file is written by going back to its table of offsets at the end, "
                "which this output cannot do (" +
                std::strerror(ESPIPE) + ")\n");
}

TEST(Outputs, WorkersThatCannotStartLeaveTheWorkToThoseThatDid) {
#if defined(LUMIVANE_SANITIZED_BUILD) || defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the address sanitizer's reserved address space defeats ulimit -v";
#endif
  TempDir dir;
  const std::string hdr = dir.File("in.hdr"), pfm = dir.File("in.pfm");
  WriteBytes(
      hdr, testing::HdrFile(testing::PatternImage(300, 200), testing::RgbeRowForm::ComponentRuns));
  WriteBytes(pfm, testing::StandardPfm(testing::GradientImage(300, 200), true));
  for (const auto& [verb, in, name] :
       {std::tuple{"tonemap", pfm, "t.tif"}, std::tuple{"tonemap", hdr, "h.tif"},
        std::tuple{"convert", hdr, "h.pfm"}}) {
    SCOPED_TRACE(std::string(verb) + " " + name);
    const std::string reference = dir.File(std::string("one-") + name), out = dir.File(name);
    ASSERT_EQ(
        RunCli(dir, {verb, in, reference}, "LUMIVANE_THREADS=1; export LUMIVANE_THREADS").Status,
        0);
    // Room for a few 8 MiB thread stacks, not for 64.
    const CliResult result = RunCli(
        dir, {verb, in, out}, "ulimit -v 120000; LUMIVANE_THREADS=64; export LUMIVANE_THREADS");
    EXPECT_EQ(result.Status, 0) << result.Err;
    EXPECT_EQ(WithoutDateTime(ReadBytes(out)), WithoutDateTime(ReadBytes(reference)));
  }
}

// `sub/link/../x` is the x beside the link's target, not sub/x.
TEST(Outputs, PathsThroughALinkAndDotDotAreTheFilesTheKernelNames) {
  TempDir dir;
  fs::create_directories(dir.File("real/deep"));
  fs::create_directories(dir.File("sub"));
  fs::create_directory_symlink("../real/deep", dir.File("sub/link"));
  WriteBytes(dir.File("real/in.pfm"), testing::StandardPfm(testing::GradientImage(8, 6), true));
  WriteBytes(dir.File("sub/in.pfm"), testing::StandardPfm(testing::GradientImage(5, 9), true));
  const Bytes unrelated(100, 0x33);
  WriteBytes(dir.File("sub/out.tif"), unrelated);
  const std::string cd = "cd " + Quote(dir.Path().string());
  ASSERT_EQ(RunCli(dir, {"tonemap", "real/in.pfm", "reference.tif"}, cd).Status, 0);
  const CliResult result =
      RunCli(dir, {"tonemap", "sub/link/../in.pfm", "sub/link/../out.tif"}, cd);
  EXPECT_EQ(result.Status, 0) << result.Err;
  EXPECT_EQ(WithoutDateTime(ReadBytes(dir.File("real/out.tif"))),
            WithoutDateTime(ReadBytes(dir.File("reference.tif"))));
  EXPECT_EQ(ReadBytes(dir.File("sub/out.tif")), unrelated);
  // The log keeps the user's spelling.
  EXPECT_NE(result.Out.find(dir.File("sub/link/../in.pfm")), std::string::npos) << result.Out;

  const CliResult nowhere = RunCli(dir, {"tonemap", "real/in.pfm", "nowhere/../a.tif"}, cd);
  EXPECT_EQ(nowhere.Status, 1);
  EXPECT_FALSE(testing::FileExists(dir.File("a.tif")));
}

// Records the log and runs `onLine` on each line as it is added.
class HookedWindow : public testing::RecordingWindow {
 public:
  std::function<void(const std::string&)> OnLine;
  void InsertLogLine(std::size_t position, const std::string& text) override {
    RecordingWindow::InsertLogLine(position, text);
    if (OnLine) OnLine(text);
  }
};

// A second job that writes the same output from start to end while the first
// is under way: the output is then one of the two, whole, never a mix.
TEST(Outputs, TwoJobsWritingOneOutputLeaveOneWholeFile) {
  TempDir dir;
  const std::string first = dir.File("first.pfm"), second = dir.File("second.hdr");
  const std::string out = dir.File("out.tif");
  WriteBytes(first, testing::StandardPfm(testing::GradientImage(64, 48), true));
  WriteBytes(second,
             testing::HdrFile(testing::PatternImage(32, 20), testing::RgbeRowForm::ComponentRuns));
  const Bytes alone = testing::RunJobCommand(kOpenPfmCommand, first, dir.File("alone.tif")).Output;
  ASSERT_FALSE(alone.empty());
  HookedWindow window;
  window.DialogAnswers = {first, out};
  bool secondRan = false;
  window.OnLine = [&](const std::string& line) {
    if (secondRan || !line.starts_with("IFD written to file ")) return;
    secondRan = true;
    const testing::JobRun run = testing::RunJobCommand(kOpenHdrCommand, second, out);
    ASSERT_EQ(run.Boxes.size(), 1u);
    EXPECT_EQ(run.Boxes[0].Title, "LUMIVANE - Success.");
  };
  Session session(window);
  HandleCommand(session, kOpenPfmCommand);
  ASSERT_TRUE(secondRan);
  ASSERT_EQ(window.Boxes.size(), 1u);
  EXPECT_EQ(window.Boxes[0].Title, "LUMIVANE - Success.");
  // The job that finished last is the output.
  EXPECT_EQ(WithoutDateTime(ReadBytes(out)), WithoutDateTime(alone));
  EXPECT_EQ(Listing(dir),
            (std::vector<std::string>{"alone.tif", "first.pfm", "out.tif", "second.hdr"}));
}

}  // namespace
}  // namespace lumivane
