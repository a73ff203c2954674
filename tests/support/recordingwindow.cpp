#include "tests/support/recordingwindow.h"

namespace lumivane::testing {

std::string RecordingWindow::EditText(int controlId) {
  const auto found = EditTexts.find(controlId);
  return found == EditTexts.end() ? std::string() : found->second;
}

void RecordingWindow::SetEditText(int controlId, const std::string& text) {
  EditTexts[controlId] = text;
}

int RecordingWindow::CheckboxState(int) { return Checkbox; }

void RecordingWindow::SetMenuItemEnabled(int commandId, bool enabled) {
  MenuEnabled[commandId] = enabled;
  MenuChanges.emplace_back(commandId, enabled);
}

void RecordingWindow::SetProgressRange(std::uint32_t low, std::uint32_t high) {
  ProgressLow = low;
  ProgressHigh = high;
  Progress.push_back({RecordedProgress::Range, low, high});
}

void RecordingWindow::SetProgressPosition(std::uint32_t position) {
  ProgressPosition = position;
  Progress.push_back({RecordedProgress::Position, position, 0});
}

void RecordingWindow::InsertLogLine(std::size_t position, const std::string& text) {
  LogOperations.push_back("insert " + std::to_string(position) + " " + text);
  if (position > Log.size()) position = Log.size();
  Log.insert(Log.begin() + static_cast<std::ptrdiff_t>(position), text);
}

void RecordingWindow::DeleteLogLine(std::size_t position) {
  LogOperations.push_back("delete " + std::to_string(position));
  if (position < Log.size()) Log.erase(Log.begin() + static_cast<std::ptrdiff_t>(position));
}

void RecordingWindow::ClearLog() {
  LogOperations.push_back("clear");
  Log.clear();
}

void RecordingWindow::ShowMessageBox(const std::string& text, const std::string& title,
                                     BoxKind kind) {
  Boxes.push_back({text, title, kind});
}

std::string RecordingWindow::RunFileDialog(const FileDialogRequest& request) {
  Dialogs.push_back(request);
  if (DuringDialog) DuringDialog(request);
  if (DialogAnswers.empty()) return {};
  std::string answer = DialogAnswers.front();
  DialogAnswers.pop_front();
  return answer;
}

int RecordingWindow::FocusedControl() { return Focus; }

void RecordingWindow::SetFocusedControl(int controlId) {
  Focus = controlId;
  FocusSets.push_back(controlId);
}

void RecordingWindow::EndModalLoop(int result) { EndedWith = result; }

bool RecordingWindow::IsEnabled(int commandId) const {
  const auto found = MenuEnabled.find(commandId);
  return found == MenuEnabled.end() || found->second;
}

}  // namespace lumivane::testing
