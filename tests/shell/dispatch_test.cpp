#include <gtest/gtest.h>

#include <algorithm>
#include <new>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "shell/dispatch.h"
#include "shell/helptexts.h"
#include "steps/convertjob.h"
#include "steps/filedialogs.h"
#include "steps/floatrows.h"
#include "steps/tonemapjob.h"
#include "steps/pfmreader.h"
#include "steps/pfmwriter.h"
#include "steps/radiance.h"
#include "steps/session.h"
#include "steps/statuslog.h"
#include "steps/tiffreader.h"
#include "steps/tiffwriter.h"
#include "tests/support/recordingwindow.h"
#include "tests/support/testfiles.h"

namespace lumivane {
namespace {

using testing::RecordedBox;
using testing::RecordingWindow;

constexpr int kOpenItemIds[] = {kOpenHdrCommand, kOpenTiffCommand, kOpenPfmCommand};
constexpr int kConvertItemIds[] = {kHdrToTiffCommand, kHdrToPfmCommand, kPfmToTiffCommand,
                                   kTiffToPfmCommand};

const std::vector<std::pair<int, std::string>>& JobCommands() {
  static const std::vector<std::pair<int, std::string>> commands = {
      {kOpenHdrCommand, "HDR Tonemapping concluded."},
      {kOpenTiffCommand, "TIFF Tonemapping concluded."},
      {kOpenPfmCommand, "PFM Tonemapping concluded."},
      {kHdrToTiffCommand, "HDR to TIFF conversion concluded."},
      {kHdrToPfmCommand, "HDR to PFM conversion concluded."},
      {kPfmToTiffCommand, "PFM to TIFF conversion concluded."},
      {kTiffToPfmCommand, "TIFF to PFM conversion concluded."},
  };
  return commands;
}

RecordedBox AbortBox(const std::string& text) {
  return {text, "LUMIVANE - Abort.", BoxKind::Error};
}

RecordedBox UnknownBox() {
  return {"This Option does NOT exist.", "LUMIVANE", BoxKind::Error};
}

// Stand-in steps that record their calls; each chain's steps succeed unless told otherwise.
class Dispatch : public ::testing::Test {
 protected:
  void SetUp() override {
    session.Chains = CommandChains();
    for (JobChain& chain : session.Chains) {
      const std::string id = std::to_string(chain.CommandId);
      chain.Reader = Step("reader " + id, true);
      chain.Writer = Step("writer " + id, true);
      chain.Job = Step("job " + id, true);
    }
  }

  JobStep Step(std::string name, bool succeeds, std::string failure = {}) {
    return [this, name, succeeds, failure](Session& running) {
      calls.push_back(name);
      if (!succeeds) running.Context.FailureMessage = failure;
      return succeeds;
    };
  }

  JobChain& Chain(int commandId) {
    for (JobChain& chain : session.Chains)
      if (chain.CommandId == commandId) return chain;
    throw std::logic_error("no chain for " + std::to_string(commandId));
  }

  // A reader and a writer that behave as the real ones do when their dialog gives no file.
  static bool DialogReader(Session& running) {
    if (OpenHdrDialog(running)) return true;
    running.Context.FailureMessage = "Cannot open " + running.Context.InputFileName;
    return false;
  }
  static bool DialogWriter(Session& running) {
    if (SaveTiffDialog(running)) return true;
    running.Context.FailureMessage = "Cannot open " + running.Context.OutputFileName;
    running.Context.InputFile.Close();
    return false;
  }

  RecordingWindow window;
  Session session{window};
  std::vector<std::string> calls;
};

TEST(DefaultJobChains, BindEachCommandToItsSteps) {
  using Step = bool (*)(Session&);
  struct Row {
    int Id;
    Step Reader, Writer, Job;
  };
  const Row rows[] = {
      {kOpenHdrCommand, ReadHdrHeader, WriteTiff24Header, ToneMapHdrImage},
      {kOpenTiffCommand, ReadTiffHeader, WriteTiff24Header, ToneMapFloatImage},
      {kOpenPfmCommand, ReadPfmHeader, WriteTiff24Header, ToneMapFloatImage},
      {kHdrToTiffCommand, ReadHdrHeader, WriteTiff96Header, ConvertHdrImage},
      {kHdrToPfmCommand, ReadHdrHeader, WritePfmHeader, ConvertHdrImage},
      {kPfmToTiffCommand, ReadPfmHeader, WriteTiff96Header, ConvertFloatImage},
      {kTiffToPfmCommand, ReadTiffHeader, WritePfmHeader, ConvertFloatImage},
  };
  const auto chains = DefaultJobChains();
  ASSERT_EQ(chains.size(), 7u);
  for (std::size_t i = 0; i < chains.size(); ++i) {
    SCOPED_TRACE(rows[i].Id);
    EXPECT_EQ(chains[i].CommandId, rows[i].Id);
    EXPECT_EQ(chains[i].SuccessText, JobCommands()[i].second);
    ASSERT_NE(chains[i].Reader.target<Step>(), nullptr);
    ASSERT_NE(chains[i].Writer.target<Step>(), nullptr);
    ASSERT_NE(chains[i].Job.target<Step>(), nullptr);
    EXPECT_EQ(*chains[i].Reader.target<Step>(), rows[i].Reader);
    EXPECT_EQ(*chains[i].Writer.target<Step>(), rows[i].Writer);
    EXPECT_EQ(*chains[i].Job.target<Step>(), rows[i].Job);
  }
}

TEST(MenuTable, ItemsInMenuOrder) {
  const std::vector<std::string> expected = {"File/Open HDR/1002",
                                             "File/Open TIFF96/1021",
                                             "File/Open PFM/1022",
                                             "File/-/0",
                                             "File/Quit/1003",
                                             "Convert/HDR > TIFF/1026",
                                             "Convert/HDR > PFM/1025",
                                             "Convert/PFM > TIFF/1024",
                                             "Convert/TIFF > PFM/1027",
                                             "Help/General/1008",
                                             "Help/Usage/1017",
                                             "Help/Operator/1018",
                                             "Help/Memory/1019",
                                             "Help/Time/1020",
                                             "Help/-/0",
                                             "Help/Convert/1028",
                                             "Help/-/0",
                                             "Help/About/1009"};
  std::vector<std::string> actual;
  for (const MenuItem& item : MenuTable())
    actual.push_back(item.Menu + "/" + item.Text + "/" + std::to_string(item.Id));
  EXPECT_EQ(actual, expected);
}

TEST_F(Dispatch, EachJobCommandRunsItsChainAndShowsOneSuccessBox) {
  for (const auto& [id, successText] : JobCommands()) {
    SCOPED_TRACE(id);
    calls.clear();
    window.Boxes.clear();
    HandleCommand(session, id);
    const std::string name = std::to_string(id);
    EXPECT_EQ(calls, (std::vector<std::string>{"reader " + name, "writer " + name, "job " + name}));
    EXPECT_EQ(
        window.Boxes,
        (std::vector<RecordedBox>{{successText, "LUMIVANE - Success.", BoxKind::Information}}));
    for (const int item : kOpenItemIds) EXPECT_TRUE(window.IsEnabled(item));
  }
}

TEST_F(Dispatch, AFailedStepGivesOneAbortBoxAndStopsTheChain) {
  struct Case {
    int FailingStep;  // 0 reader, 1 writer, 2 job
    std::vector<std::string> Calls;
  };
  const Case cases[] = {
      {0, {"reader 1002"}},
      {1, {"reader 1002", "writer 1002"}},
      {2, {"reader 1002", "writer 1002", "job 1002"}},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.FailingStep);
    SetUp();
    calls.clear();
    window.Boxes.clear();
    JobChain& chain = Chain(kOpenHdrCommand);
    JobStep* steps[] = {&chain.Reader, &chain.Writer, &chain.Job};
    const char* names[] = {"reader 1002", "writer 1002", "job 1002"};
    const std::string failure = "Failure number " + std::to_string(test.FailingStep);
    *steps[test.FailingStep] = Step(names[test.FailingStep], false, failure);
    HandleCommand(session, kOpenHdrCommand);
    EXPECT_EQ(calls, test.Calls);
    EXPECT_EQ(window.Boxes, std::vector<RecordedBox>{AbortBox(failure)});
    for (const int item : kOpenItemIds) EXPECT_TRUE(window.IsEnabled(item));
  }
}

TEST_F(Dispatch, AStepThatThrowsFailsAndLeavesNoPartialOutput) {
  testing::TempDir folder;
  const std::string input = folder.File("in.hdr");
  const std::string output = folder.File("out.tif");
  testing::WriteText(input, "#?RADIANCE\n");
  window.DialogAnswers = {input, output};
  Chain(kOpenHdrCommand).Reader = DialogReader;
  Chain(kOpenHdrCommand).Writer = DialogWriter;
  Chain(kOpenHdrCommand).Job = [&](Session& running) -> bool {
    EXPECT_TRUE(running.Context.OutputFile.Write("II*", 3));
    // Written beside: the output appears only when a job succeeds.
    EXPECT_FALSE(testing::FileExists(output));
    throw std::bad_alloc();
  };
  HandleCommand(session, kOpenHdrCommand);
  EXPECT_EQ(window.Boxes, std::vector<RecordedBox>{AbortBox("Not enough memory.")});
  EXPECT_EQ(window.Log, std::vector<std::string>{"Not enough memory."});
  EXPECT_FALSE(testing::FileExists(output));
  EXPECT_TRUE(testing::FileExists(input));
  EXPECT_FALSE(session.Context.InputFile.IsOpen());
  EXPECT_FALSE(session.Context.OutputFile.IsOpen());
  for (const int item : kOpenItemIds) EXPECT_TRUE(window.IsEnabled(item));

  // A reader that throws before any output exists; the next command runs normally.
  window.Boxes.clear();
  Chain(kOpenTiffCommand).Reader = [](Session&) -> bool {
    throw std::runtime_error("Header too strange.");
  };
  HandleCommand(session, kOpenTiffCommand);
  EXPECT_EQ(window.Boxes, std::vector<RecordedBox>{AbortBox("Header too strange.")});
  EXPECT_TRUE(calls.empty());
  HandleCommand(session, kOpenPfmCommand);
  EXPECT_EQ(calls, (std::vector<std::string>{"reader 1022", "writer 1022", "job 1022"}));
}

TEST_F(Dispatch, StepBoxesComeBeforeTheAbortBox) {
  Chain(kHdrToPfmCommand).Writer = [](Session& running) {
    running.Window.ShowMessageBox("Own box.", "LUMIVANE - Step", BoxKind::Warning);
    running.Context.FailureMessage = "Writer failed.";
    return false;
  };
  HandleCommand(session, kHdrToPfmCommand);
  EXPECT_EQ(window.Boxes,
            (std::vector<RecordedBox>{{"Own box.", "LUMIVANE - Step", BoxKind::Warning},
                                      AbortBox("Writer failed.")}));
}

TEST_F(Dispatch, OpenItemsAreGreyedWhileAChainRunsAndConvertItemsNever) {
  int checks = 0;
  const auto checkGreyed = [&](Session&) {
    for (const int item : kOpenItemIds) EXPECT_FALSE(window.IsEnabled(item)) << item;
    for (const int item : kConvertItemIds) EXPECT_TRUE(window.IsEnabled(item)) << item;
    EXPECT_TRUE(window.IsEnabled(kQuitCommand));
    ++checks;
    return true;
  };
  for (const auto& [id, text] : JobCommands()) {
    JobChain& chain = Chain(id);
    chain.Reader = chain.Writer = chain.Job = checkGreyed;
    HandleCommand(session, id);
    for (const int item : kOpenItemIds) EXPECT_TRUE(window.IsEnabled(item));
  }
  EXPECT_EQ(checks, 21);
  for (const auto& [item, enabled] : window.MenuChanges)
    EXPECT_TRUE(item == kOpenHdrCommand || item == kOpenTiffCommand || item == kOpenPfmCommand)
        << item;
  // Greyed once and enabled once per command.
  EXPECT_EQ(window.MenuChanges.size(), 7u * 6u);
}

TEST_F(Dispatch, PrepareForJobStartsEveryChainFromAClearWindow) {
  window.Log = {"left", "over"};
  session.LogLineCounter = 3;
  window.ProgressLow = 1;
  window.ProgressHigh = 1000;
  window.ProgressPosition = 1000;
  Chain(kOpenPfmCommand).Reader = [this](Session& running) {
    EXPECT_TRUE(window.Log.empty());
    EXPECT_EQ(running.LogLineCounter, 1);
    EXPECT_EQ(window.ProgressLow, 0u);
    EXPECT_EQ(window.ProgressHigh, 1u);
    EXPECT_EQ(window.ProgressPosition, 0u);
    LogLine(running, "first");
    return true;
  };
  Chain(kOpenPfmCommand).Job = [](Session& running) {
    SetProgressRange(running, 1, 1000);
    for (std::uint32_t row = 1; row <= 1000; ++row) SetProgressPosition(running, row);
    return true;
  };
  window.Events.clear();
  HandleCommand(session, kOpenPfmCommand);
  EXPECT_EQ(std::vector<std::string>(window.Events.begin(), window.Events.begin() + 6),
            (std::vector<std::string>{"menu 1002 off", "menu 1021 off", "menu 1022 off",
                                      "range 0 1", "position 0", "clear"}));
  // The log and the bar keep the job's state until the next job command.
  EXPECT_EQ(window.Log, std::vector<std::string>{"first"});
  EXPECT_EQ(window.ProgressLow, 1u);
  EXPECT_EQ(window.ProgressHigh, 1000u);
  EXPECT_EQ(window.ProgressPosition, 1000u);
  EXPECT_EQ(session.LogLineCounter, 2);
  // The success box comes before the open items are enabled again.
  const std::vector<std::string> tail(window.Events.end() - 4, window.Events.end());
  EXPECT_EQ(tail, (std::vector<std::string>{"box LUMIVANE - Success.", "menu 1002 on",
                                            "menu 1021 on", "menu 1022 on"}));
}

TEST_F(Dispatch, CancelledOpenDialogGivesTwoBoxesNamingNoEarlierInput) {
  testing::TempDir folder;
  const std::string input = folder.File("first.hdr");
  testing::WriteText(input, "#?RADIANCE\n");
  Chain(kOpenHdrCommand).Reader = DialogReader;

  // Nothing chosen since start: the abort box names nothing.
  HandleCommand(session, kOpenHdrCommand);
  EXPECT_EQ(window.Boxes, (std::vector<RecordedBox>{
                              {"No Input File Selected.", "LUMIVANE - Open Error", BoxKind::Error},
                              AbortBox("Cannot open ")}));
  EXPECT_TRUE(calls.empty());

  window.Boxes.clear();
  window.DialogAnswers = {input};
  HandleCommand(session, kOpenHdrCommand);
  EXPECT_EQ(session.Context.InputFileName, input);
  EXPECT_EQ(window.Boxes.size(), 1u);

  // A cancelled choice names no file of an earlier job.
  window.Boxes.clear();
  HandleCommand(session, kOpenHdrCommand);
  EXPECT_EQ(window.Boxes, (std::vector<RecordedBox>{
                              {"No Input File Selected.", "LUMIVANE - Open Error", BoxKind::Error},
                              AbortBox("Cannot open ")}));
  EXPECT_EQ(session.Context.InputFileName, "");
  for (const int item : kOpenItemIds) EXPECT_TRUE(window.IsEnabled(item));
}

TEST_F(Dispatch, CancelledSaveDialogGivesTwoBoxesNamingNothing) {
  session.Context.OutputFileName = "/earlier/output.tif";
  Chain(kOpenTiffCommand).Writer = DialogWriter;
  HandleCommand(session, kOpenTiffCommand);
  EXPECT_EQ(window.Boxes, (std::vector<RecordedBox>{
                              {"Missing Filename.", "LUMIVANE - Save As Error", BoxKind::Error},
                              AbortBox("Cannot open ")}));
  EXPECT_EQ(calls, std::vector<std::string>{"reader 1021"});
  EXPECT_EQ(session.Context.OutputFileName, "");
}

TEST_F(Dispatch, EnterEscAndUnknownIdsShowOnlyTheUnknownBox) {
  session.Settings.Brightness = 3.0f;
  for (const int id : {1, 2, 0, 999, 1001, 1004, 1006, 1012, 1013, 1015, 1016, 1029, 0xFFFF}) {
    SCOPED_TRACE(id);
    window.Events.clear();
    window.Boxes.clear();
    HandleCommand(session, id);
    EXPECT_EQ(window.Boxes, std::vector<RecordedBox>{UnknownBox()});
    EXPECT_EQ(window.Events, std::vector<std::string>{"box LUMIVANE"});
  }
  EXPECT_TRUE(calls.empty());
  EXPECT_EQ(session.Settings.Brightness, 3.0f);
}

TEST_F(Dispatch, NotificationCodesInTheHighBitsAreNotLookedAt) {
  window.EditTexts[kBrightnessBoxId] = "2";
  window.EditTexts[kContrastBoxId] = "4";
  HandleCommand(session, (0x0300 << 16) | kAcceptButtonId);
  EXPECT_EQ(session.Settings.Brightness, 2.0f);
  EXPECT_EQ(session.Settings.PostGamma, 0.25f);

  window.Checkbox = 1;
  HandleCommand(session, (1 << 16) | kWarmColoursBoxId);
  EXPECT_EQ(session.Settings.WarmColours, 1);

  HandleCommand(session, static_cast<int>(0xFFFF0000u | kHdrToTiffCommand));
  EXPECT_EQ(calls, (std::vector<std::string>{"reader 1026", "writer 1026", "job 1026"}));

  window.Boxes.clear();
  HandleCommand(session, (5 << 16) | kEnterKeyCommand);
  EXPECT_EQ(window.Boxes, std::vector<RecordedBox>{UnknownBox()});

  window.Boxes.clear();
  HandleCommand(session, (0x100 << 16) | kAboutHelpCommand);
  ASSERT_EQ(window.Boxes.size(), 1u);
  EXPECT_EQ(window.Boxes[0].Title, "LUMIVANE - Help|About");
}

TEST_F(Dispatch, IgnoredControlIdsDoNothing) {
  for (const int id : std::vector<int>{kBrightnessBoxId, kContrastBoxId, kStatusLogId,
                                       kProgressBarId, (0x0400 << 16) | kStatusLogId}) {
    HandleCommand(session, id);
  }
  EXPECT_TRUE(window.Events.empty());
  EXPECT_TRUE(calls.empty());
}

TEST_F(Dispatch, WarmColoursTakesTheCheckboxStateAtOnce) {
  std::vector<int> seen;
  Chain(kOpenHdrCommand).Job = [&seen](Session& running) {
    seen.push_back(running.Settings.WarmColours);
    return true;
  };
  window.Checkbox = 1;
  window.Events.clear();
  HandleCommand(session, kWarmColoursBoxId);
  EXPECT_EQ(session.Settings.WarmColours, 1);
  EXPECT_EQ(window.Events, std::vector<std::string>{"checkbox"});
  HandleCommand(session, kOpenHdrCommand);
  window.Checkbox = 0;
  HandleCommand(session, kWarmColoursBoxId);
  EXPECT_EQ(session.Settings.WarmColours, 0);
  HandleCommand(session, kOpenHdrCommand);
  EXPECT_EQ(seen, (std::vector<int>{1, 0}));
}

TEST_F(Dispatch, JobsSeeTheSettingsOfTheLatestAccept) {
  StartSession(session);
  std::vector<std::pair<float, float>> seen;
  Chain(kOpenHdrCommand).Job = [&seen](Session& running) {
    seen.emplace_back(running.Settings.Brightness, running.Settings.PostGamma);
    return true;
  };
  HandleCommand(session, kOpenHdrCommand);
  window.EditTexts[kBrightnessBoxId] = "0.8";
  window.EditTexts[kContrastBoxId] = "1.2";
  HandleCommand(session, kAcceptButtonId);
  HandleCommand(session, kOpenHdrCommand);
  // A failed job keeps the settings.
  Chain(kOpenHdrCommand).Reader = Step("reader", false, "Nope.");
  HandleCommand(session, kOpenHdrCommand);
  EXPECT_EQ(seen, (std::vector<std::pair<float, float>>{{0.8f, 1.2f}, {0.8f, 1.0f / 1.2f}}));
  EXPECT_EQ(session.Settings.Brightness, 0.8f);
  EXPECT_EQ(session.Settings.PostGamma, 1.0f / 1.2f);
  EXPECT_EQ(window.EditTexts[kBrightnessBoxId], " .8");
  EXPECT_EQ(window.EditTexts[kContrastBoxId], " 1.2");
}

TEST_F(Dispatch, FailureMessageIsNeverCleared) {
  Chain(kOpenHdrCommand).Job = Step("job", false, "Old failure.");
  HandleCommand(session, kOpenHdrCommand);
  HandleCommand(session, kOpenTiffCommand);
  EXPECT_EQ(session.Context.FailureMessage, "Old failure.");
  EXPECT_EQ(window.Boxes.back().Title, "LUMIVANE - Success.");
}

TEST_F(Dispatch, AJobCommandDuringARunningJobStartsNothing) {
  Chain(kOpenHdrCommand).Reader = DialogReader;
  testing::TempDir folder;
  const std::string input = folder.File("in.hdr");
  testing::WriteText(input, "#?RADIANCE\n");
  window.DialogAnswers = {input};
  int dialogs = 0;
  window.DuringDialog = [&](const FileDialogRequest&) {
    ++dialogs;
    for (const auto& [id, text] : JobCommands()) HandleCommand(session, id);
    HandleCommand(session, (1 << 16) | kTiffToPfmCommand);
    // Other commands still work while the dialog is open.
    HandleCommand(session, kUsageHelpCommand);
  };
  HandleCommand(session, kOpenHdrCommand);
  EXPECT_EQ(dialogs, 1);
  EXPECT_EQ(calls, (std::vector<std::string>{"writer 1002", "job 1002"}));
  EXPECT_EQ(window.Boxes,
            (std::vector<RecordedBox>{
                {UsageHelpText(), "LUMIVANE - Help|Usage", BoxKind::Information},
                {"HDR Tonemapping concluded.", "LUMIVANE - Success.", BoxKind::Information}}));
  EXPECT_EQ(std::count(window.Events.begin(), window.Events.end(), "clear"), 1);
  for (const int item : kOpenItemIds) EXPECT_TRUE(window.IsEnabled(item));

  // Once the job has ended, the next command runs again.
  window.DuringDialog = nullptr;
  calls.clear();
  HandleCommand(session, kHdrToTiffCommand);
  EXPECT_EQ(calls, (std::vector<std::string>{"reader 1026", "writer 1026", "job 1026"}));
}

TEST_F(Dispatch, HelpCommandsShowTheirTextsAsInformation) {
  struct Help {
    int Id;
    std::string (*Builder)();
    std::string Title;
  };
  const Help helps[] = {
      {kGeneralHelpCommand, GeneralHelpText, "LUMIVANE - Help|General"},
      {kUsageHelpCommand, UsageHelpText, "LUMIVANE - Help|Usage"},
      {kOperatorHelpCommand, OperatorHelpText, "LUMIVANE - Help|Operator"},
      {kMemoryHelpCommand, MemoryHelpText, "LUMIVANE - Help|Memory"},
      {kTimeHelpCommand, TimeHelpText, "LUMIVANE - Help|Time"},
      {kConvertHelpCommand, ConvertHelpText, "LUMIVANE - Help|Convert"},
      {kAboutHelpCommand, AboutHelpText, "LUMIVANE - Help|About"},
  };
  for (const Help& help : helps) {
    SCOPED_TRACE(help.Title);
    window.Events.clear();
    window.Boxes.clear();
    HandleCommand(session, help.Id);
    EXPECT_EQ(window.Boxes,
              (std::vector<RecordedBox>{{help.Builder(), help.Title, BoxKind::Information}}));
    EXPECT_FALSE(window.Boxes[0].Text.empty());
    EXPECT_EQ(window.Events.size(), 1u);
  }
}

TEST_F(Dispatch, QuitResetsTheWindowThenEndsWithZero) {
  window.Log = {"a line"};
  session.LogLineCounter = 2;
  window.Events.clear();
  HandleCommand(session, kQuitCommand);
  EXPECT_EQ(window.Events, (std::vector<std::string>{"menu 1002 on", "menu 1021 on", "menu 1022 on",
                                                     "range 0 1", "position 0", "clear", "end 0"}));
  EXPECT_EQ(window.EndedWith, 0);
  EXPECT_TRUE(window.Log.empty());
  // ResetWindow leaves the counter alone.
  EXPECT_EQ(session.LogLineCounter, 2);
}

TEST_F(Dispatch, StartSessionResetsWindowCounterAndSettings) {
  session.LogLineCounter = 9;
  session.Settings.Brightness = 5.0f;
  session.Settings.PostGamma = 0.5f;
  StartSession(session);
  EXPECT_EQ(window.Events, (std::vector<std::string>{"menu 1002 on", "menu 1021 on", "menu 1022 on",
                                                     "range 0 1", "position 0", "clear"}));
  EXPECT_EQ(session.LogLineCounter, 1);
  EXPECT_EQ(session.Settings.Brightness, 0.8f);
  EXPECT_EQ(session.Settings.PostGamma, 1.2f);
}

TEST_F(Dispatch, RestoreAfterJobOnlyEnablesTheOpenItems) {
  RestoreAfterJob(session);
  EXPECT_EQ(window.Events,
            (std::vector<std::string>{"menu 1002 on", "menu 1021 on", "menu 1022 on"}));
}

TEST_F(Dispatch, FocusIsRememberedAcrossAnActivationChange) {
  window.Focus = kContrastBoxId;
  ActivationChanged(session, false);
  window.Focus = 0;
  ActivationChanged(session, true);
  EXPECT_EQ(window.FocusSets, std::vector<int>{kContrastBoxId});
  EXPECT_EQ(window.Focus, kContrastBoxId);
  // The memory was cleared: a second activation does not move the focus.
  window.Focus = kAcceptButtonId;
  ActivationChanged(session, true);
  EXPECT_EQ(window.FocusSets, std::vector<int>{kContrastBoxId});
  EXPECT_EQ(window.Focus, kAcceptButtonId);
  // Losing activation with no focused control remembers nothing.
  window.Focus = 0;
  ActivationChanged(session, false);
  ActivationChanged(session, true);
  EXPECT_EQ(window.FocusSets, std::vector<int>{kContrastBoxId});
  // The latest deactivation counts.
  window.Focus = kBrightnessBoxId;
  ActivationChanged(session, false);
  window.Focus = kWarmColoursBoxId;
  ActivationChanged(session, false);
  window.Focus = 0;
  ActivationChanged(session, true);
  EXPECT_EQ(window.FocusSets, (std::vector<int>{kContrastBoxId, kWarmColoursBoxId}));
}

// After a cancelled dialog, no box or log line names a file of the job before.
TEST(DispatchChains, ACancelledDialogNamesNoFileOfAnEarlierJob) {
  testing::TempDir dir;
  const std::string input = dir.File("first.hdr"), output = dir.File("first.tif");
  testing::WriteBytes(input, testing::ReadBytes(LUMIVANE_SOURCE_DIR "/tests/data/dawn-crop.hdr"));
  RecordingWindow window;
  Session session(window);
  StartSession(session);
  window.DialogAnswers = {input, output};
  HandleCommand(session, kOpenHdrCommand);
  ASSERT_EQ(window.Boxes.back().Text, "HDR Tonemapping concluded.");
  const auto namesTheFirstJob = [&] {
    const auto names = [&](const std::string& text) {
      return text.find("first.") != std::string::npos;
    };
    return std::any_of(window.Log.begin(), window.Log.end(), names) ||
           std::any_of(window.Boxes.begin(), window.Boxes.end(),
                       [&](const RecordedBox& box) { return names(box.Text); });
  };
  // The open dialog cancelled, then the save dialog.
  for (const bool openCancelled : {true, false}) {
    window.Boxes.clear();
    window.DialogAnswers.clear();
    if (!openCancelled) window.DialogAnswers = {dir.File("second.hdr")};
    if (!openCancelled) testing::WriteBytes(dir.File("second.hdr"), testing::ReadBytes(input));
    HandleCommand(session, openCancelled ? kOpenPfmCommand : kOpenHdrCommand);
    ASSERT_EQ(window.Boxes.size(), 2u);
    EXPECT_EQ(window.Boxes[0].Text,
              openCancelled ? "No Input File Selected." : "Missing Filename.");
    EXPECT_EQ(window.Boxes[1], AbortBox("Cannot open "));
    EXPECT_FALSE(namesTheFirstJob());
  }
}

}  // namespace
}  // namespace lumivane
