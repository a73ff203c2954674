#include "tests/support/recordingwindow.h"

namespace lumivane::testing {

std::string RecordingWindow::EditText(int controlId) {
  Events.push_back("get-text " + std::to_string(controlId));
  const auto found = EditTexts.find(controlId);
  return found == EditTexts.end() ? std::string() : found->second;
}

void RecordingWindow::SetEditText(int controlId, const std::string& text) {
  Events.push_back("set-text " + std::to_string(controlId) + " " + text);
  EditTexts[controlId] = text;
}

int RecordingWindow::CheckboxState(int) {
  Events.push_back("checkbox");
  return Checkbox;
}

void RecordingWindow::SetMenuItemEnabled(int commandId, bool enabled) {
  Events.push_back("menu " + std::to_string(commandId) + (enabled ? " on" : " off"));
  MenuEnabled[commandId] = enabled;
  MenuChanges.emplace_back(commandId, enabled);
}

void RecordingWindow::SetProgressRange(std::uint32_t low, std::uint32_t high) {
  Events.push_back("range " + std::to_string(low) + " " + std::to_string(high));
  ProgressLow = low;
  ProgressHigh = high;
  Progress.push_back({RecordedProgress::Range, low, high});
}

void RecordingWindow::SetProgressPosition(std::uint32_t position) {
  Events.push_back("position " + std::to_string(position));
  ProgressPosition = position;
  Progress.push_back({RecordedProgress::Position, position, 0});
}

void RecordingWindow::InsertLogLine(std::size_t position, const std::string& text) {
  LogOperations.push_back("insert " + std::to_string(position) + " " + text);
  Events.push_back(LogOperations.back());
  if (position > Log.size()) position = Log.size();
  Log.insert(Log.begin() + static_cast<std::ptrdiff_t>(position), text);
}

void RecordingWindow::DeleteLogLine(std::size_t position) {
  LogOperations.push_back("delete " + std::to_string(position));
  Events.push_back(LogOperations.back());
  if (position < Log.size()) Log.erase(Log.begin() + static_cast<std::ptrdiff_t>(position));
}

void RecordingWindow::ClearLog() {
  LogOperations.push_back("clear");
  Events.push_back("clear");
  Log.clear();
}

void RecordingWindow::ShowMessageBox(const std::string& text, const std::string& title,
                                     BoxKind kind) {
  Events.push_back("box " + title);
  Boxes.push_back({text, title, kind});
}

std::string RecordingWindow::RunFileDialog(const FileDialogRequest& request) {
  Events.push_back("dialog " + request.Title);
  Dialogs.push_back(request);
  if (DuringDialog) DuringDialog(request);
  if (DialogAnswers.empty()) return {};
  std::string answer = DialogAnswers.front();
  DialogAnswers.pop_front();
  return answer;
}

int RecordingWindow::FocusedControl() {
  Events.push_back("focus?");
  return Focus;
}

void RecordingWindow::SetFocusedControl(int controlId) {
  Events.push_back("focus " + std::to_string(controlId));
  Focus = controlId;
  FocusSets.push_back(controlId);
}

void RecordingWindow::EndModalLoop(int result) {
  Events.push_back("end " + std::to_string(result));
  EndedWith = result;
}

bool RecordingWindow::IsEnabled(int commandId) const {
  const auto found = MenuEnabled.find(commandId);
  return found == MenuEnabled.end() || found->second;
}

std::vector<RecordedBox> RecordingWindow::BoxesTitled(const std::string& title) const {
  std::vector<RecordedBox> found;
  for (const RecordedBox& box : Boxes)
    if (box.Title == title) found.push_back(box);
  return found;
}

}  // namespace lumivane::testing
