// The window system of the batch command line: the status log goes to one
// stream as it grows, failure boxes and the progress bar to another, and the
// file dialogs answer with the paths given on the command line.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "imaging/settings.h"
#include "steps/windowsystem.h"

namespace lumivane {

struct ConsoleOptions {
  std::string InputPath;   // the open dialogs' answer
  std::string OutputPath;  // the save dialogs' answer
  // What the log and the messages call them, when not their paths: "standard
  // input" for a file kept from standard input, say.
  std::string InputName;
  std::string OutputName;
  int WarmColours = 0;  // the checkbox state
  // The settings boxes' texts, which [Accept] reads and writes back.
  std::string BrightnessText = kBrightnessRule.DefaultText;
  std::string ContrastText = kContrastRule.DefaultText;
  bool ShowLog = true;        // log lines and the success text
  bool ShowProgress = false;  // a bar on the error stream, for a terminal only
};

class ConsoleWindow : public WindowSystem {
 public:
  ConsoleWindow(ConsoleOptions options, std::ostream& out, std::ostream& err);
  ~ConsoleWindow() override;

  std::string EditText(int controlId) override;
  void SetEditText(int controlId, const std::string& text) override;
  int CheckboxState(int controlId) override;
  void SetMenuItemEnabled(int commandId, bool enabled) override;
  void SetProgressRange(std::uint32_t low, std::uint32_t high) override;
  void SetProgressPosition(std::uint32_t position) override;
  void InsertLogLine(std::size_t position, const std::string& text) override;
  void DeleteLogLine(std::size_t position) override;
  void ClearLog() override;
  void ShowMessageBox(const std::string& text, const std::string& title, BoxKind kind) override;
  std::string RunFileDialog(const FileDialogRequest& request) override;
  int FocusedControl() override;
  void SetFocusedControl(int controlId) override;
  void EndModalLoop(int result) override;

  // The job succeeded: a success box came and no failure box.
  bool Succeeded() const { return successShown_ && !failureShown_; }
  const std::vector<std::string>& Log() const { return log_; }
  // `text` with the paths that have names put as those names.
  std::string Named(std::string text) const;
  // Removes a bar from the terminal line, so that what follows starts clean.
  void ClearProgress();

 private:
  void DrawProgress(int percent);

  ConsoleOptions options_;
  std::ostream& out_;
  std::ostream& err_;
  std::vector<std::string> log_;
  std::uint32_t progressLow_ = 0;
  std::uint32_t progressHigh_ = 1;
  int drawnPercent_ = -1;
  bool progressOnScreen_ = false;
  bool successShown_ = false;
  bool failureShown_ = false;
};

}  // namespace lumivane
