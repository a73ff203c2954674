#include "cli/consolewindow.h"

#include <unistd.h>

#include <algorithm>
#include <utility>

#include "cli/escape.h"
#include "io/termination.h"
#include "shell/controlids.h"

namespace lumivane {

namespace {

constexpr int kBarWidth = 40;

void Replace(std::string& text, const std::string& path, const std::string& name) {
  if (path.empty() || name.empty()) return;
  for (std::size_t at = text.find(path); at != std::string::npos;
       at = text.find(path, at + name.size()))
    text.replace(at, path.size(), name);
}

}  // namespace

std::string ConsoleWindow::Named(std::string text) const {
  Replace(text, options_.InputPath, options_.InputName);
  Replace(text, options_.OutputPath, options_.OutputName);
  return text;
}

ConsoleWindow::ConsoleWindow(ConsoleOptions options, std::ostream& out, std::ostream& err)
    : options_(std::move(options)), out_(out), err_(err) {}

ConsoleWindow::~ConsoleWindow() {
  ClearProgress();
}

std::string ConsoleWindow::EditText(int controlId) {
  if (controlId == kBrightnessBoxId) return options_.BrightnessText;
  if (controlId == kContrastBoxId) return options_.ContrastText;
  return {};
}

void ConsoleWindow::SetEditText(int controlId, const std::string& text) {
  if (controlId == kBrightnessBoxId) options_.BrightnessText = text;
  if (controlId == kContrastBoxId) options_.ContrastText = text;
}

int ConsoleWindow::CheckboxState(int) {
  return options_.WarmColours ? 1 : 0;
}

void ConsoleWindow::SetMenuItemEnabled(int, bool) {}

void ConsoleWindow::SetProgressRange(std::uint32_t low, std::uint32_t high) {
  progressLow_ = low;
  progressHigh_ = high;
  drawnPercent_ = -1;
}

void ConsoleWindow::SetProgressPosition(std::uint32_t position) {
  if (!options_.ShowProgress || progressHigh_ <= progressLow_) return;
  const std::uint64_t span = progressHigh_ - progressLow_;
  const std::uint64_t done = position > progressLow_ ? position - progressLow_ : 0;
  const int percent = static_cast<int>(std::min<std::uint64_t>(done, span) * 100 / span);
  // A redraw per percent keeps a pass over many thousand rows from flooding
  // the terminal; the reset to 0 between jobs draws nothing.
  if (percent == drawnPercent_ || percent == 0) return;
  DrawProgress(percent);
}

void ConsoleWindow::DrawProgress(int percent) {
  const int filled = percent * kBarWidth / 100;
  std::string bar = "\r[";
  bar.append(static_cast<std::size_t>(filled), '#');
  bar.append(static_cast<std::size_t>(kBarWidth - filled), ' ');
  bar += "] ";
  if (percent < 100) bar += ' ';
  if (percent < 10) bar += ' ';
  bar += std::to_string(percent) + "%";
  err_ << bar << std::flush;
  drawnPercent_ = percent;
  progressOnScreen_ = true;
  // The bar is drawn only where standard error is a terminal.
  SetProgressLineDescriptor(STDERR_FILENO);
}

void ConsoleWindow::ClearProgress() {
  if (!progressOnScreen_) return;
  err_ << "\r\033[K" << std::flush;
  SetProgressLineDescriptor(-1);
  progressOnScreen_ = false;
  drawnPercent_ = -1;
}

void ConsoleWindow::InsertLogLine(std::size_t position, const std::string& text) {
  if (position > log_.size()) position = log_.size();
  const auto line = log_.insert(log_.begin() + static_cast<std::ptrdiff_t>(position), Named(text));
  if (!options_.ShowLog) return;
  // A line is printed when it enters the list: in every job it is appended,
  // so standard output reads as the list does.
  ClearProgress();
  out_ << EscapeForTerminal(*line) << '\n' << std::flush;
}

void ConsoleWindow::DeleteLogLine(std::size_t position) {
  if (position < log_.size()) log_.erase(log_.begin() + static_cast<std::ptrdiff_t>(position));
}

void ConsoleWindow::ClearLog() {
  log_.clear();
}

void ConsoleWindow::ShowMessageBox(const std::string& text, const std::string& title,
                                   BoxKind kind) {
  ClearProgress();
  if (kind == BoxKind::Information) {
    successShown_ = true;
    if (options_.ShowLog) out_ << EscapeForTerminal(Named(text)) << '\n' << std::flush;
    return;
  }
  failureShown_ = true;
  err_ << "lumivane-cli: " << EscapeForTerminal(title) << ": " << EscapeForTerminal(Named(text))
       << '\n'
       << std::flush;
}

std::string ConsoleWindow::RunFileDialog(const FileDialogRequest& request) {
  return request.Kind == DialogKind::Open ? options_.InputPath : options_.OutputPath;
}

int ConsoleWindow::FocusedControl() {
  return 0;
}

void ConsoleWindow::SetFocusedControl(int) {}

void ConsoleWindow::EndModalLoop(int) {}

}  // namespace lumivane
