#include "shell/dispatch.h"

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <exception>
#include <new>
#include <string>

#include "shell/helptexts.h"
#include "steps/convertjob.h"
#include "steps/failure.h"
#include "steps/floatrows.h"
#include "steps/libraryreaders.h"
#include "steps/pfmreader.h"
#include "steps/pfmwriter.h"
#include "steps/primariesstep.h"
#include "steps/radiance.h"
#include "steps/statuslog.h"
#include "steps/tiffreader.h"
#include "steps/tiffwriter.h"
#include "steps/tonemapjob.h"

namespace lumivane {

const std::vector<MenuItem>& MenuTable() {
  static const std::vector<MenuItem> table = {
      {"File", "Open HDR", kOpenHdrCommand},
      {"File", "Open TIFF96", kOpenTiffCommand},
      {"File", "Open PFM", kOpenPfmCommand},
      {"File", "-", 0},
      {"File", "Quit", kQuitCommand},
      {"Convert", "HDR > TIFF", kHdrToTiffCommand},
      {"Convert", "HDR > PFM", kHdrToPfmCommand},
      {"Convert", "PFM > TIFF", kPfmToTiffCommand},
      {"Convert", "TIFF > PFM", kTiffToPfmCommand},
      {"Help", "General", kGeneralHelpCommand},
      {"Help", "Usage", kUsageHelpCommand},
      {"Help", "Operator", kOperatorHelpCommand},
      {"Help", "Memory", kMemoryHelpCommand},
      {"Help", "Time", kTimeHelpCommand},
      {"Help", "-", 0},
      {"Help", "Convert", kConvertHelpCommand},
      {"Help", "-", 0},
      {"Help", "About", kAboutHelpCommand},
  };
  return table;
}

std::array<JobChain, 7> DefaultJobChains() {
  return {{
      {kOpenHdrCommand, ReadHdrHeader, WriteTiff24Header, ToneMapHdrImage,
       "HDR Tonemapping concluded."},
      {kOpenTiffCommand, ReadTiffHeader, WriteTiff24Header, ToneMapFloatImage,
       "TIFF Tonemapping concluded."},
      {kOpenPfmCommand, ReadPfmHeader, WriteTiff24Header, ToneMapFloatImage,
       "PFM Tonemapping concluded."},
      {kHdrToTiffCommand, ReadHdrHeader, WriteTiff96Header, ConvertHdrImage,
       "HDR to TIFF conversion concluded."},
      {kHdrToPfmCommand, ReadHdrHeader, WritePfmHeader, ConvertHdrImage,
       "HDR to PFM conversion concluded."},
      {kPfmToTiffCommand, ReadPfmHeader, WriteTiff96Header, ConvertFloatImage,
       "PFM to TIFF conversion concluded."},
      {kTiffToPfmCommand, ReadTiffHeader, WritePfmHeader, ConvertFloatImage,
       "TIFF to PFM conversion concluded."},
  }};
}

std::vector<JobChain> ImageJobChains() {
  return {
      {kOpenExrCommand, ReadInRec709(ReadExrHeader), WriteTiff24Header, ToneMapImage,
       "EXR Tonemapping concluded."},
      {kOpenGeneralTiffCommand, ReadInRec709(ReadGeneralTiffHeader), WriteTiff24Header,
       ToneMapImage, "TIFF Tonemapping concluded."},
      {kOpenGeneralPfmCommand, ReadInRec709(ReadGeneralPfmHeader), WriteTiff24Header, ToneMapImage,
       "PFM Tonemapping concluded."},
  };
}

const std::vector<JobChain>& CommandChains() {
  static const std::vector<JobChain> chains = [] {
    std::vector<JobChain> all;
    for (const JobChain& chain : DefaultJobChains()) all.push_back(chain);
    for (const JobChain& chain : ImageJobChains()) all.push_back(chain);
    return all;
  }();
  return chains;
}

namespace {

constexpr int kOpenItems[] = {kOpenHdrCommand, kOpenTiffCommand, kOpenPfmCommand};

void SetOpenItems(Session& session, bool enabled) {
  for (const int id : kOpenItems) session.Window.SetMenuItemEnabled(id, enabled);
}

void ShowAbortBox(Session& session) {
  session.Window.ShowMessageBox(session.Context.FailureMessage, "LUMIVANE - Abort.",
                                BoxKind::Error);
}

// Runs one step under the step contract. A step that throws (an image too
// large for memory, say) has not cleaned up after itself: it fails with the
// reason logged, both files are closed and its unfinished output is discarded.
bool RunStep(Session& session, const JobStep& step) {
  JobContext& context = session.Context;
  try {
    return step(session);
  } catch (const std::bad_alloc&) {
    context.FailureMessage = "Not enough memory.";
  } catch (const std::exception& error) {
    context.FailureMessage = error.what();
  }
  const std::string message = context.FailureMessage;
  // The library reader holds the input open through its own handles.
  context.InputRows.reset();
  return FailStep(
      session, message,
      FailureOptions().CloseInput(InputClosing::Quietly).CloseOutput(OutputClosing::RemoveIfOpen));
}

}  // namespace

void RunJobChain(Session& session, const JobChain& chain) {
  // One job at a time owns the job context; a command that arrives while a
  // dialog of a running job is open starts nothing.
  if (session.JobRunning) return;
  session.JobRunning = true;
  PrepareForJob(session);
  session.Context.OutputKeepsAlpha = chain.KeepsAlpha;
  const bool succeeded = RunStep(session, chain.Reader) && RunStep(session, chain.Writer) &&
                         RunStep(session, chain.Job);
  if (!succeeded) ShowAbortBox(session);
  // Steps close what they own; this only guards against a handle left behind.
  session.Context.InputRows.reset();
  session.Context.InputFile.Close();
  session.Context.OutputFile.Close();
  session.Context.ToneMappedRows.reset();
  session.Context.ToneMappedWords.reset();
  session.Context.ConvertedRows.reset();
  if (succeeded)
    session.Window.ShowMessageBox(chain.SuccessText, "LUMIVANE - Success.", BoxKind::Information);
  RestoreAfterJob(session);
  session.JobRunning = false;
}

namespace {

void ShowHelp(Session& session, std::string (*builder)(), const char* title) {
  session.Window.ShowMessageBox(builder(), title, BoxKind::Information);
}

}  // namespace

void HandleCommand(Session& session, int commandId) {
  const int id = commandId & 0xFFFF;
  for (const JobChain& chain : session.Chains.empty() ? CommandChains() : session.Chains) {
    if (chain.CommandId == id) {
      RunJobChain(session, chain);
      return;
    }
  }
  switch (id) {
    case kAcceptButtonId:
      AcceptSettings(session);
      return;
    case kWarmColoursBoxId:
      session.Settings.WarmColours = session.Window.CheckboxState(kWarmColoursBoxId) ? 1 : 0;
      return;
    case kBrightnessBoxId:
    case kContrastBoxId:
    case kStatusLogId:
    case kProgressBarId:
      return;
    case kGeneralHelpCommand:
      return ShowHelp(session, GeneralHelpText, "LUMIVANE - Help|General");
    case kUsageHelpCommand:
      return ShowHelp(session, UsageHelpText, "LUMIVANE - Help|Usage");
    case kOperatorHelpCommand:
      return ShowHelp(session, OperatorHelpText, "LUMIVANE - Help|Operator");
    case kMemoryHelpCommand:
      return ShowHelp(session, MemoryHelpText, "LUMIVANE - Help|Memory");
    case kTimeHelpCommand:
      return ShowHelp(session, TimeHelpText, "LUMIVANE - Help|Time");
    case kConvertHelpCommand:
      return ShowHelp(session, ConvertHelpText, "LUMIVANE - Help|Convert");
    case kAboutHelpCommand:
      return ShowHelp(session, AboutHelpText, "LUMIVANE - Help|About");
    case kQuitCommand:
      ResetWindow(session);
      session.Window.EndModalLoop(0);
      return;
    default:
      session.Window.ShowMessageBox("This Option does NOT exist.", "LUMIVANE", BoxKind::Error);
      return;
  }
}

namespace {

float ReadSetting(Session& session, int boxId, const SettingRule& rule) {
  const float value = SettingFromText(session.Window.EditText(boxId), rule).value_or(rule.Default);
  session.Window.SetEditText(boxId, FormatNumber(value, 7));
  return value;
}

}  // namespace

void AcceptSettings(Session& session) {
  session.Settings.Brightness = ReadSetting(session, kBrightnessBoxId, kBrightnessRule);
  const float contrast = ReadSetting(session, kContrastBoxId, kContrastRule);
  session.Settings.PostGamma = PostGammaFromContrast(contrast);
}

void ActivationChanged(Session& session, bool active) {
  if (!active) {
    session.RememberedFocus = session.Window.FocusedControl();
  } else if (session.RememberedFocus != 0) {
    session.Window.SetFocusedControl(session.RememberedFocus);
    session.RememberedFocus = 0;
  }
}

void PrepareForJob(Session& session) {
  SetOpenItems(session, false);
  SetProgressRange(session, 0, 1);
  SetProgressPosition(session, 0);
  session.Window.ClearLog();
  session.LogLineCounter = 1;
}

void RestoreAfterJob(Session& session) {
  SetOpenItems(session, true);
}

void ResetWindow(Session& session) {
  SetOpenItems(session, true);
  SetProgressRange(session, 0, 1);
  SetProgressPosition(session, 0);
  session.Window.ClearLog();
}

void StartSession(Session& session) {
  ResetWindow(session);
  session.LogLineCounter = 1;
  session.Settings.Brightness = kBrightnessRule.Default;
  session.Settings.PostGamma = kInitialPostGamma;
}

}  // namespace lumivane
