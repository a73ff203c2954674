// A window system for tests: answers edit texts, the checkbox and file
// dialogs from a script, and records every call.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "steps/windowsystem.h"

namespace lumivane::testing {

struct RecordedBox {
  std::string Text;
  std::string Title;
  BoxKind Kind;
  bool operator==(const RecordedBox&) const = default;
};

struct RecordedProgress {
  enum Kind { Range, Position } What;
  std::uint32_t First;   // low bound or position
  std::uint32_t Second;  // high bound; 0 for a position
  bool operator==(const RecordedProgress&) const = default;
};

class RecordingWindow : public WindowSystem {
 public:
  // --- script ---
  std::map<int, std::string> EditTexts;
  int Checkbox = 0;
  // Answers of the file dialogs, in order; an exhausted queue cancels.
  std::deque<std::string> DialogAnswers;
  // Called while a dialog is "open", before it answers.
  std::function<void(const FileDialogRequest&)> DuringDialog;
  int Focus = 0;

  // --- record ---
  std::vector<RecordedBox> Boxes;
  std::vector<FileDialogRequest> Dialogs;
  std::vector<std::string> Log;            // the list's current lines
  std::vector<std::string> LogOperations;  // "insert 0 text", "delete 0", "clear"
  std::vector<RecordedProgress> Progress;
  std::map<int, bool> MenuEnabled;  // current state per command id
  std::vector<std::pair<int, bool>> MenuChanges;
  std::uint32_t ProgressLow = 0, ProgressHigh = 0, ProgressPosition = 0;
  std::optional<int> EndedWith;
  std::vector<int> FocusSets;
  // Every call in order, one short text each ("box LUMIVANE - Abort.", "menu 1002 off",
  // "range 0 1", "position 0", "clear", "insert 0 text", "delete 0", "dialog LUMIVANE Save",
  // "get-text 1010", "set-text 1010  .8", "checkbox", "focus?", "focus 1011", "end 0"), so
  // tests can check the order of operations across kinds.
  std::vector<std::string> Events;

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

  // Menu state for an id never touched counts as enabled, as at start.
  bool IsEnabled(int commandId) const;
  // The boxes shown with this title, in order.
  std::vector<RecordedBox> BoxesTitled(const std::string& title) const;
};

}  // namespace lumivane::testing
