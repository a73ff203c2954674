#include "cli/consolewindow.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "shell/controlids.h"
#include "shell/dispatch.h"
#include "steps/filedialogs.h"
#include "steps/session.h"
#include "steps/statuslog.h"
#include "tests/support/testfiles.h"

namespace lumivane {
namespace {

using testing::TempDir;
using testing::WriteText;

ConsoleOptions Options(std::string input = "/in.hdr", std::string output = "/out.tif") {
  ConsoleOptions options;
  options.InputPath = std::move(input);
  options.OutputPath = std::move(output);
  return options;
}

std::size_t Count(const std::string& text, const std::string& piece) {
  std::size_t count = 0;
  for (std::size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1))
    ++count;
  return count;
}

TEST(ConsoleWindow, LogAndSuccessToOutFailuresToErr) {
  std::ostringstream out, err;
  {
    ConsoleWindow window(Options(), out, err);
    window.InsertLogLine(0, "first");
    window.InsertLogLine(1, "");
    window.InsertLogLine(2, "# \x1B[2J\x07 bell \xFF");
    window.ShowMessageBox("HDR Tonemapping concluded.", "LUMIVANE - Success.",
                          BoxKind::Information);
    EXPECT_TRUE(window.Succeeded());
    EXPECT_EQ(window.Log(), (std::vector<std::string>{"first", "", "# \x1B[2J\x07 bell \xFF"}));
  }
  EXPECT_EQ(out.str(), "first\n\n# \\x1B[2J\\x07 bell \\xFF\nHDR Tonemapping concluded.\n");
  EXPECT_EQ(err.str(), "");

  std::ostringstream out2, err2;
  {
    ConsoleWindow window(Options(), out2, err2);
    window.InsertLogLine(0, "RLE type 2 header error.");
    window.ShowMessageBox("Cannot handle data.", "LUMIVANE - Radiance", BoxKind::Warning);
    window.ShowMessageBox("RLE type 2\nheader error.", "LUMIVANE - Abort.", BoxKind::Error);
    EXPECT_FALSE(window.Succeeded());
  }
  EXPECT_EQ(out2.str(), "RLE type 2 header error.\n");
  EXPECT_EQ(err2.str(),
            "lumivane-cli: LUMIVANE - Radiance: Cannot handle data.\n"
            "lumivane-cli: LUMIVANE - Abort.: RLE type 2\\x0Aheader error.\n");
}

TEST(ConsoleWindow, QuietKeepsOnlyFailures) {
  std::ostringstream out, err;
  ConsoleOptions options = Options();
  options.ShowLog = false;
  options.ShowProgress = false;
  ConsoleWindow window(options, out, err);
  window.InsertLogLine(0, "a line");
  window.SetProgressRange(1, 10);
  window.SetProgressPosition(5);
  window.ShowMessageBox("Done.", "LUMIVANE - Success.", BoxKind::Information);
  EXPECT_TRUE(window.Succeeded());
  window.ShowMessageBox("Cannot open /x", "LUMIVANE - Abort.", BoxKind::Error);
  EXPECT_FALSE(window.Succeeded());
  EXPECT_EQ(out.str(), "");
  EXPECT_EQ(err.str(), "lumivane-cli: LUMIVANE - Abort.: Cannot open /x\n");
  // The list itself is still kept, as a window keeps it.
  EXPECT_EQ(window.Log(), std::vector<std::string>{"a line"});
}

TEST(ConsoleWindow, ListOperationsFollowTheWindowsList) {
  std::ostringstream out, err;
  ConsoleWindow window(Options(), out, err);
  window.DeleteLogLine(0);
  window.InsertLogLine(0, "b");
  window.InsertLogLine(0, "a");
  window.InsertLogLine(9, "c");
  window.DeleteLogLine(1);
  EXPECT_EQ(window.Log(), (std::vector<std::string>{"a", "c"}));
  window.ClearLog();
  EXPECT_TRUE(window.Log().empty());
  EXPECT_EQ(out.str(), "b\na\nc\n");
}

TEST(ConsoleWindow, ProgressOnlyWhenAskedAndThrottled) {
  std::ostringstream out, err;
  ConsoleOptions options = Options();
  options.ShowProgress = true;
  {
    ConsoleWindow window(options, out, err);
    window.SetProgressRange(0, 1);
    window.SetProgressPosition(0);
    EXPECT_EQ(err.str(), "") << "the reset before a job draws nothing";
    window.SetProgressRange(1, 10000);
    for (std::uint32_t row = 1; row <= 10000; ++row) window.SetProgressPosition(row);
    // One redraw per percent, not per row.
    EXPECT_EQ(Count(err.str(), "\r["), 100u);
    EXPECT_NE(err.str().find("] 100%"), std::string::npos);
    EXPECT_NE(err.str().find("]  50%"), std::string::npos);
    // A log line first clears the bar from the terminal line.
    window.InsertLogLine(0, "Tonemapping in 1 seconds");
    EXPECT_EQ(err.str().substr(err.str().size() - 4), "\r\033[K");
    // A new pass draws again from its start.
    window.SetProgressRange(1, 4);
    window.SetProgressPosition(1);
    EXPECT_NE(err.str().find("]  25%"), std::string::npos);
  }
  // The bar leaves no trace behind when the window goes.
  EXPECT_EQ(err.str().substr(err.str().size() - 4), "\r\033[K");
  EXPECT_EQ(out.str(), "Tonemapping in 1 seconds\n");

  std::ostringstream out2, err2;
  ConsoleWindow quiet(Options(), out2, err2);
  quiet.SetProgressRange(1, 10);
  for (std::uint32_t row = 1; row <= 10; ++row) quiet.SetProgressPosition(row);
  EXPECT_EQ(err2.str(), "");
}

TEST(ConsoleWindow, DialogsAnswerWithTheCommandLinePaths) {
  std::ostringstream out, err;
  ConsoleOptions options = Options("/data/in.pfm", "/data/out.tif");
  options.WarmColours = 1;
  ConsoleWindow window(options, out, err);
  FileDialogRequest open;
  open.Kind = DialogKind::Open;
  FileDialogRequest save;
  save.Kind = DialogKind::Save;
  EXPECT_EQ(window.RunFileDialog(open), "/data/in.pfm");
  EXPECT_EQ(window.RunFileDialog(save), "/data/out.tif");
  EXPECT_EQ(window.CheckboxState(kWarmColoursBoxId), 1);
}

// A job chain of stand-in steps through the real dispatcher and file dialogs.
TEST(ConsoleWindow, RunsAJobChainOfTheDispatcher) {
  TempDir dir;
  WriteText(dir.File("in.hdr"), "#?RADIANCE\n");
  std::ostringstream out, err;
  ConsoleOptions options = Options(dir.File("in.hdr"), dir.File("out.tif"));
  options.WarmColours = 1;
  ConsoleWindow window(options, out, err);
  Session session(window);
  StartSession(session);
  float seenPostGamma = 0;
  std::int32_t seenWarm = -1;
  const JobStep reader = [](Session& s) {
    if (!OpenHdrDialog(s)) {
      s.Context.FailureMessage = "Cannot open " + s.Context.InputFileName;
      LogLine(s, s.Context.FailureMessage);
      return false;
    }
    LogLine(s, "Reading " + s.Context.InputFileName);
    return true;
  };
  session.Chains = CommandChains();
  session.Chains[0].Reader = reader;
  session.Chains[0].Writer = [](Session& s) {
    if (!SaveTiffDialog(s)) return false;
    LogLine(s, "Writing " + s.Context.OutputFileName);
    return true;
  };
  session.Chains[0].Job = [&](Session& s) {
    seenPostGamma = s.Settings.PostGamma;
    seenWarm = s.Settings.WarmColours;
    s.Context.InputFile.Close();
    s.Context.OutputFile.Commit();
    LogLine(s, "Done\twith tab");
    return true;
  };
  session.Settings.PostGamma = PostGammaFromContrast(2.0f);
  HandleCommand(session, kWarmColoursBoxId);
  HandleCommand(session, kOpenHdrCommand);
  EXPECT_TRUE(window.Succeeded());
  EXPECT_EQ(out.str(), "Reading " + dir.File("in.hdr") + "\nWriting " + dir.File("out.tif") +
                           "\nDone\\x09with tab\nHDR Tonemapping concluded.\n");
  EXPECT_EQ(err.str(), "");
  EXPECT_EQ(seenPostGamma, 0.5f);
  EXPECT_EQ(seenWarm, 1);
  EXPECT_TRUE(testing::FileExists(dir.File("out.tif")));

  // A step that fails: its log on out, the abort box on err, no success text.
  std::ostringstream out2, err2;
  ConsoleWindow failing(Options(dir.File("missing.hdr"), dir.File("out2.tif")), out2, err2);
  Session session2(failing);
  StartSession(session2);
  session2.Chains = CommandChains();
  session2.Chains[0].Reader = reader;
  HandleCommand(session2, kOpenHdrCommand);
  EXPECT_FALSE(failing.Succeeded());
  EXPECT_EQ(out2.str(), "Cannot open " + dir.File("missing.hdr") + "\n");
  EXPECT_NE(
      err2.str().find("lumivane-cli: LUMIVANE - Abort.: Cannot open " + dir.File("missing.hdr")),
      std::string::npos);
  EXPECT_FALSE(testing::FileExists(dir.File("out2.tif")));
}

}  // namespace
}  // namespace lumivane
