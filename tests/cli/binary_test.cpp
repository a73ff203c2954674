// Runs of the real lumivane-cli binary, compared with the same jobs run in
// process through the dispatcher with a recording window.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <regex>
#include <string>
#include <vector>

#include "cli/escape.h"
#include "shell/controlids.h"
#include "shell/dispatch.h"
#include "steps/session.h"
#include "tests/support/clirunner.h"
#include "tests/support/hdrfiles.h"
#include "tests/support/recordingwindow.h"
#include "tests/support/testfiles.h"

namespace lumivane {
namespace {

using testing::FileExists;
using testing::ReadBytes;
using testing::RecordingWindow;
using testing::TempDir;
using testing::WriteBytes;

using Bytes = std::vector<std::uint8_t>;

using testing::Quote;

using CliResult = testing::CliRun;

CliResult RunBinary(const TempDir& dir, const std::vector<std::string>& args) {
  return testing::RunCliProgram(dir, args);
}

struct InProcessResult {
  std::vector<std::string> Log;
  std::vector<testing::RecordedBox> Boxes;
  Bytes Output;
};

// The job through the dispatcher as a window runs it; `settle` plays the
// user's part (boxes, [Accept], the checkbox) before the command.
InProcessResult RunInProcess(int commandId, const std::string& input, const std::string& output,
                             const std::function<void(RecordingWindow&, Session&)>& settle = {}) {
  RecordingWindow window;
  window.DialogAnswers = {input, output};
  Session session(window);
  StartSession(session);
  if (settle) settle(window, session);
  HandleCommand(session, commandId);
  InProcessResult result{window.Log, window.Boxes, ReadBytes(output)};
  std::filesystem::remove(output);
  return result;
}

// The elapsed seconds vary from run to run.
std::string MaskSeconds(const std::string& text) {
  static const std::regex seconds("[ -][0-9]+ seconds(\n|$)");
  return std::regex_replace(text, seconds, " # seconds$1");
}

std::string ExpectedStdout(const InProcessResult& run) {
  std::string text;
  for (const std::string& line : run.Log) text += EscapeForTerminal(line) + "\n";
  for (const auto& box : run.Boxes)
    if (box.Kind == BoxKind::Information) text += box.Text + "\n";
  return MaskSeconds(text);
}

// The TIFF DateTime text (bytes 240 to 259) is the time of writing.
Bytes MaskTiffDate(Bytes bytes) {
  if (bytes.size() >= 260 && bytes[0] == 'I' && bytes[1] == 'I')
    std::fill(bytes.begin() + 240, bytes.begin() + 260, std::uint8_t{0});
  return bytes;
}

// Untouched boxes and [Accept]: the command line's defaults.
void AcceptDefaults(RecordingWindow& window, Session& session) {
  window.EditTexts[kBrightnessBoxId] = "0.8";
  window.EditTexts[kContrastBoxId] = "1.2";
  HandleCommand(session, kAcceptButtonId);
}

// The synthetic sunset scene of the sample generator (a 320 x 200 sky near 1,
// a sun thousands of times brighter, hills in deep shadow), made once per run.
std::string SamplePath() {
  static const TempDir dir;
  static const std::string path = [] {
    const std::string cli = LUMIVANE_CLI_PATH;
    const std::string generator =
        cli.substr(0, cli.find_last_of('/') + 1) + "lumivane_sample_generator";
    const std::string file = dir.File("dawn.hdr");
    EXPECT_EQ(testing::RunCommand(Quote(generator) + " " + Quote(file)), 0);
    return file;
  }();
  return path;
}

// The bundled photograph, converted to Radiance by oiiotool.
std::string PhotoSamplePath() {
  return std::string(LUMIVANE_SOURCE_DIR) + "/samples/dawn.hdr";
}

// A small Radiance file of varied pixels in the given row form.
Bytes SmallHdr(std::uint32_t width, std::uint32_t height,
               testing::RgbeRowForm form = testing::RgbeRowForm::Flat,
               std::vector<std::string> headerLines = {"FORMAT=32-bit_rle_rgbe", "EXPOSURE=1.0"}) {
  return testing::HdrFile(testing::HdrHeaderText(headerLines, width, height),
                          testing::EncodeRgbeRows(testing::PatternImage(width, height), form));
}

void ExpectSameRun(const CliResult& cli, const InProcessResult& expected, const Bytes& written) {
  EXPECT_EQ(cli.Status, 0) << cli.Err;
  EXPECT_EQ(cli.Err, "");
  EXPECT_EQ(MaskSeconds(cli.Out), ExpectedStdout(expected));
  ASSERT_FALSE(expected.Output.empty());
  EXPECT_EQ(MaskTiffDate(written), MaskTiffDate(expected.Output));
}

TEST(CliBinary, ToneMapGivesTheDispatchersLogAndBytes) {
  TempDir dir;
  const std::string input = SamplePath();
  const std::string output = dir.File("sunset.tif");

  const InProcessResult accepted = RunInProcess(kOpenHdrCommand, input, output, AcceptDefaults);
  ASSERT_EQ(accepted.Boxes.size(), 1u);
  EXPECT_EQ(accepted.Boxes[0].Text, "HDR Tonemapping concluded.");
  const CliResult defaults = RunBinary(dir, {"tonemap", input, output});
  ExpectSameRun(defaults, accepted, ReadBytes(output));
  EXPECT_EQ(ReadBytes(output).size(), 308u + 320u * 200u * 3u);
  EXPECT_TRUE(defaults.Out.ends_with("\nHDR Tonemapping concluded.\n")) << defaults.Out;

  // The window's state before [Accept] is --post-gamma 1.2.
  const InProcessResult fresh = RunInProcess(kOpenHdrCommand, input, output);
  const CliResult postGamma = RunBinary(dir, {"tonemap", "--post-gamma", "1.2", input, output});
  ExpectSameRun(postGamma, fresh, ReadBytes(output));
  EXPECT_NE(MaskTiffDate(fresh.Output), MaskTiffDate(accepted.Output))
      << "the exponent must change the picture";

  // Settings typed into the boxes, [Accept], and the checkbox ticked.
  const InProcessResult custom =
      RunInProcess(kOpenHdrCommand, input, output, [](RecordingWindow& window, Session& session) {
        window.EditTexts[kBrightnessBoxId] = "2.5";
        window.EditTexts[kContrastBoxId] = "0.7";
        HandleCommand(session, kAcceptButtonId);
        window.Checkbox = 1;
        HandleCommand(session, kWarmColoursBoxId);
      });
  const CliResult settings = RunBinary(
      dir, {"tonemap", "--brightness", "2.5", "--contrast", "0.7", "--warm", input, output});
  ExpectSameRun(settings, custom, ReadBytes(output));
  EXPECT_NE(MaskTiffDate(custom.Output), MaskTiffDate(accepted.Output));

  // The log names the files by their absolute paths, as a dialog returns them.
  const std::string relativeDir = dir.File("rel");
  std::filesystem::create_directory(relativeDir);
  const std::string command = "cd " + Quote(relativeDir) + " && " + Quote(LUMIVANE_CLI_PATH) +
                              " tonemap " + Quote(input) + " out.tif 2>/dev/null";
  std::string out;
  EXPECT_EQ(testing::RunCommand(command, &out), 0);
  EXPECT_NE(out.find("Closed destination file " + relativeDir + "/out.tif\n"), std::string::npos)
      << out;
}

TEST(CliBinary, UsageErrorsExitTwoAndVersionPrints) {
  TempDir dir;
  const std::string output = dir.File("never.tif");
  const CliResult range =
      RunBinary(dir, {"tonemap", "--brightness", "0.0099", SamplePath(), output});
  EXPECT_EQ(range.Status, 2);
  EXPECT_EQ(range.Out, "");
  EXPECT_NE(range.Err.find("0.01 to 50"), std::string::npos) << range.Err;
  const CliResult pair = RunBinary(dir, {"convert", SamplePath(), dir.File("never.bmp")});
  EXPECT_EQ(pair.Status, 2);
  EXPECT_NE(pair.Err.find(".hdr, .tif, .tiff, .pfm, .exr"), std::string::npos);
  EXPECT_FALSE(FileExists(output));
  EXPECT_FALSE(FileExists(dir.File("never.bmp")));

  const CliResult version = RunBinary(dir, {"--version"});
  EXPECT_EQ(version.Status, 0);
  EXPECT_EQ(version.Out, "lumivane-cli 1.22\n");
}

TEST(CliBinary, QuietPrintsNothingAndStillWrites) {
  TempDir dir;
  const std::string output = dir.File("quiet.tif");
  const CliResult quiet = RunBinary(dir, {"tonemap", "--quiet", SamplePath(), output});
  EXPECT_EQ(quiet.Status, 0) << quiet.Err;
  EXPECT_EQ(quiet.Out, "");
  EXPECT_EQ(quiet.Err, "");
  EXPECT_EQ(ReadBytes(output).size(), 308u + 320u * 200u * 3u);
}

// Runs the binary with its standard output on a pipe whose reading end is
// already closed, as under `| head` once head has quit; stderr to `errFile`.
int RunIntoClosedPipe(const std::vector<std::string>& args, const std::string& errFile) {
  int fds[2];
  if (::pipe(fds) != 0) return -1;
  ::close(fds[0]);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, fds[1]);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errFile.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
  std::vector<std::string> all = {LUMIVANE_CLI_PATH};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& arg : all) argv.push_back(arg.data());
  argv.push_back(nullptr);
  pid_t child = 0;
  const int spawned =
      posix_spawn(&child, LUMIVANE_CLI_PATH, &actions, &attributes, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  ::close(fds[1]);
  if (spawned != 0) return -1;
  int status = 0;
  if (::waitpid(child, &status, 0) != child) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

TEST(CliBinary, AReaderThatQuitsEarlyLeavesAWholeImage) {
  TempDir dir;
  const std::string output = dir.File("piped.tif");
  const std::string errFile = dir.File("piped-err.txt");
  EXPECT_EQ(RunIntoClosedPipe({"tonemap", SamplePath(), output}, errFile), 1);
  const Bytes err = ReadBytes(errFile);
  EXPECT_EQ(std::string(err.begin(), err.end()),
            "lumivane-cli: cannot write the log to the standard output (the job succeeded)\n");
  EXPECT_EQ(ReadBytes(output).size(), 308u + 320u * 200u * 3u);
  // Quiet writes nothing to the pipe, so nothing is lost.
  EXPECT_EQ(RunIntoClosedPipe({"tonemap", "--quiet", SamplePath(), output}, errFile), 0);
}

TEST(CliBinary, FailedJobsExitOneWithTheBoxesOnStandardError) {
  TempDir dir;
  // A run-length row head whose width is not the image's is refused.
  Bytes refused = SmallHdr(8, 2);
  const std::size_t dataStart = refused.size() - 8 * 2 * 4;
  refused[dataStart + 0] = 2;
  refused[dataStart + 1] = 2;
  refused[dataStart + 2] = 0;
  refused[dataStart + 3] = 5;
  const std::string input = dir.File("refused.hdr");
  WriteBytes(input, refused);
  const std::string output = dir.File("refused.tif");
  const InProcessResult expected = RunInProcess(kOpenHdrCommand, input, output, AcceptDefaults);
  const CliResult cli = RunBinary(dir, {"tonemap", input, output});
  EXPECT_EQ(cli.Status, 1);
  EXPECT_EQ(MaskSeconds(cli.Out), ExpectedStdout(expected));
  EXPECT_EQ(cli.Err,
            "lumivane-cli: LUMIVANE - Radiance: Cannot handle data.\n"
            "lumivane-cli: LUMIVANE - Abort.: RLE type 2 header error.\n");
  EXPECT_EQ(cli.Out.find("concluded"), std::string::npos);
  EXPECT_FALSE(FileExists(output));

  // The output is the input under another name: refused, the input intact.
  const std::string sample = dir.File("sample.hdr");
  WriteBytes(sample, ReadBytes(SamplePath()));
  const std::string link = dir.File("link.tif");
  std::filesystem::create_hard_link(sample, link);
  const CliResult same = RunBinary(dir, {"tonemap", sample, link});
  EXPECT_EQ(same.Status, 1);
  EXPECT_NE(same.Err.find("lumivane-cli: LUMIVANE - Abort.: Cannot open " + link + "\n"),
            std::string::npos)
      << same.Err;
  EXPECT_EQ(ReadBytes(sample), ReadBytes(SamplePath()));

  // A folder that does not exist for the output.
  const CliResult noFolder = RunBinary(dir, {"tonemap", sample, dir.File("none/out.tif")});
  EXPECT_EQ(noFolder.Status, 1);
  EXPECT_NE(noFolder.Err.find("Cannot open " + dir.File("none/out.tif")), std::string::npos);
}

TEST(CliBinary, HeaderLinesWithControlBytesReachTheTerminalEscaped) {
  TempDir dir;
  const std::string input = dir.File("hostile.hdr");
  WriteBytes(input, SmallHdr(4, 3, testing::RgbeRowForm::Flat,
                             {"# \x1B]0;owned\x07 \x1B[2J\xFF end", "FORMAT=32-bit_rle_rgbe",
                              "EXPOSURE=1.0"}));
  const std::string output = dir.File("hostile.tif");
  const InProcessResult expected = RunInProcess(kOpenHdrCommand, input, output, AcceptDefaults);
  const CliResult cli = RunBinary(dir, {"tonemap", input, output});
  ExpectSameRun(cli, expected, ReadBytes(output));
  EXPECT_NE(cli.Out.find("\n# \\x1B]0;owned\\x07 \\x1B[2J\\xFF end\n"), std::string::npos)
      << cli.Out;
  for (const char c : cli.Out) {
    const auto byte = static_cast<unsigned char>(c);
    EXPECT_TRUE(c == '\n' || (byte >= 0x20 && byte != 0x7F)) << "raw byte " << int{byte};
  }
}

TEST(CliBinary, TheFourConversionsAndFloatInputs) {
  TempDir dir;
  const std::string hdr = dir.File("small.hdr");
  WriteBytes(hdr, SmallHdr(5, 4));

  struct Step {
    std::vector<std::string> Args;
    int Command;
    std::string Input;
    std::string Output;
    std::string Success;
  };
  const std::string tiff96 = dir.File("float.tif");
  const std::string pfm = dir.File("float.PFM");
  const std::vector<Step> steps = {
      {{"convert"}, kHdrToTiffCommand, hdr, tiff96, "HDR to TIFF conversion concluded."},
      {{"convert"}, kHdrToPfmCommand, hdr, pfm, "HDR to PFM conversion concluded."},
      {{"convert"},
       kPfmToTiffCommand,
       pfm,
       dir.File("again.tiff"),
       "PFM to TIFF conversion concluded."},
      {{"convert"},
       kTiffToPfmCommand,
       tiff96,
       dir.File("again.pfm"),
       "TIFF to PFM conversion concluded."},
      {{"tonemap"},
       kOpenTiffCommand,
       tiff96,
       dir.File("from-tiff.tif"),
       "TIFF Tonemapping concluded."},
      {{"tonemap", "--warm"},
       kOpenPfmCommand,
       pfm,
       dir.File("from-pfm.tif"),
       "PFM Tonemapping concluded."},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.Success);
    const bool warm = step.Args.size() > 1;
    const InProcessResult expected =
        RunInProcess(step.Command, step.Input, step.Output, [&](RecordingWindow& w, Session& s) {
          AcceptDefaults(w, s);
          w.Checkbox = warm ? 1 : 0;
          if (warm) HandleCommand(s, kWarmColoursBoxId);
        });
    ASSERT_EQ(expected.Boxes.size(), 1u);
    EXPECT_EQ(expected.Boxes[0].Text, step.Success);
    std::vector<std::string> args = step.Args;
    args.push_back(step.Input);
    args.push_back(step.Output);
    const CliResult cli = RunBinary(dir, args);
    ExpectSameRun(cli, expected, ReadBytes(step.Output));
  }
  // HDR > PFM then PFM > TIFF gives the pixels of HDR > TIFF.
  const Bytes direct = ReadBytes(tiff96);
  const Bytes twoSteps = ReadBytes(dir.File("again.tiff"));
  ASSERT_EQ(direct.size(), 308u + 5u * 4u * 12u);
  EXPECT_EQ(MaskTiffDate(direct), MaskTiffDate(twoSteps));
  // TIFF > PFM gives back the PFM of HDR > PFM.
  EXPECT_EQ(ReadBytes(dir.File("again.pfm")), ReadBytes(pfm));
}

TEST(CliBinary, EveryRowFormAndPeerWrittenRadianceFilesToneMap) {
  TempDir dir;
  // The same pixels in the three stored row forms, 12 wide: narrow
  // component-run rows as every Radiance writer stores them.
  std::vector<Bytes> tiffs;
  for (const auto form : {testing::RgbeRowForm::Flat, testing::RgbeRowForm::ComponentRuns,
                          testing::RgbeRowForm::OldRuns}) {
    const std::string input = dir.File("form.hdr");
    const std::string output = dir.File("form.tif");
    WriteBytes(input, SmallHdr(12, 5, form));
    const CliResult cli = RunBinary(dir, {"tonemap", input, output});
    EXPECT_EQ(cli.Status, 0) << cli.Err;
    tiffs.push_back(MaskTiffDate(ReadBytes(output)));
  }
  ASSERT_EQ(tiffs[0].size(), 308u + 12u * 5u * 3u);
  EXPECT_EQ(tiffs[1], tiffs[0]);
  EXPECT_EQ(tiffs[2], tiffs[0]);

  struct Peer {
    std::string Tool;
    std::string Command;  // writes peer.hdr from the sample
    std::uint32_t Width, Height;
  };
  const std::string sample = Quote(SamplePath());
  const std::string peerHdr = Quote(dir.File("peer.hdr"));
  const std::vector<Peer> peers = {
      {"oiiotool", "oiiotool " + sample + " --resize 100x60 -o " + peerHdr, 100, 60},
      {"convert", "convert " + sample + " -resize 100x60! " + peerHdr, 100, 60},
      {"pfsout", "pfsin " + sample + " | pfsout " + peerHdr, 320, 200},
  };
  for (const Peer& peer : peers) {
    SCOPED_TRACE(peer.Tool);
    if (!testing::HaveTool(peer.Tool)) continue;
    ASSERT_EQ(testing::RunCommand(peer.Command + " >/dev/null 2>&1"), 0);
    const std::string output = dir.File("peer.tif");
    const CliResult cli = RunBinary(dir, {"tonemap", dir.File("peer.hdr"), output});
    EXPECT_EQ(cli.Status, 0) << cli.Err << cli.Out;
    EXPECT_EQ(ReadBytes(output).size(), 308u + std::size_t{peer.Width} * peer.Height * 3u);
    EXPECT_NE(cli.Out.find("Image Width = " + std::to_string(peer.Width) + "\n"), std::string::npos)
        << cli.Out;
  }
}

TEST(CliBinary, TheBundledSampleIsReproducibleAndReadByPeers) {
  TempDir dir;
  const std::string cli = LUMIVANE_CLI_PATH;
  const std::string generator =
      cli.substr(0, cli.find_last_of('/') + 1) + "lumivane_sample_generator";
  const std::string regenerated = dir.File("dawn.hdr");
  ASSERT_EQ(testing::RunCommand(Quote(generator) + " " + Quote(regenerated)), 0);
  EXPECT_EQ(ReadBytes(regenerated), ReadBytes(SamplePath()));

  const std::string output = dir.File("sunset.tif");
  const CliResult run = RunBinary(dir, {"tonemap", SamplePath(), output});
  ASSERT_EQ(run.Status, 0) << run.Err;
  EXPECT_NE(run.Out.find("Image Length = 200\nImage Width = 320\n"), std::string::npos) << run.Out;
  EXPECT_NE(run.Out.find("RLE-2 Lines: 200\n"), std::string::npos) << run.Out;
  if (testing::HaveTool("tiffinfo")) {
    std::string info;
    EXPECT_EQ(testing::RunCommand("tiffinfo " + Quote(output) + " 2>&1", &info), 0);
    EXPECT_NE(info.find("Image Width: 320 Image Length: 200"), std::string::npos) << info;
  }
  // The picture spans the range: a saturated sun and near-black shadows.
  const Bytes tiff = ReadBytes(output);
  ASSERT_EQ(tiff.size(), 308u + 320u * 200u * 3u);
  const auto [darkest, brightest] = std::minmax_element(tiff.begin() + 308, tiff.end());
  EXPECT_LE(*darkest, 5);
  EXPECT_EQ(*brightest, 255);

  // The bundled photograph is a whole Radiance file that tone-maps.
  const CliResult photo = RunBinary(dir, {"tonemap", PhotoSamplePath(), output});
  ASSERT_EQ(photo.Status, 0) << photo.Err;
  EXPECT_NE(photo.Out.find("Image Length = 256\nImage Width = 512\n"), std::string::npos);
  EXPECT_EQ(ReadBytes(output).size(), 308u + 512u * 256u * 3u);
}

}  // namespace
}  // namespace lumivane
