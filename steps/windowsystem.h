// Everything the shell asks of a window system. The Qt window, the console
// front end and the tests' recording window each implement it, so the same
// dispatcher runs under all three.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace lumivane {

enum class BoxKind { Error, Warning, Information };

enum class DialogKind { Open, Save };

struct FileFilter {
  std::string Name;     // shown to the user, e.g. "HDR"
  std::string Pattern;  // e.g. "*.hdr"
};

struct FileDialogRequest {
  DialogKind Kind = DialogKind::Open;
  std::string Title;
  std::vector<FileFilter> Filters;  // in order; the first is selected at first
  std::string DefaultExtension;     // without the dot; added to a typed name without one
  std::string InitialFolder;        // the program's current directory
};

class WindowSystem {
 public:
  virtual ~WindowSystem() = default;

  virtual std::string EditText(int controlId) = 0;
  virtual void SetEditText(int controlId, const std::string& text) = 0;
  // 1 ticked, 0 not ticked.
  virtual int CheckboxState(int controlId) = 0;
  // A greyed item sends no command.
  virtual void SetMenuItemEnabled(int commandId, bool enabled) = 0;

  virtual void SetProgressRange(std::uint32_t low, std::uint32_t high) = 0;
  virtual void SetProgressPosition(std::uint32_t position) = 0;

  // Lines stay in insertion order; deleting a position without a line does nothing.
  virtual void InsertLogLine(std::size_t position, const std::string& text) = 0;
  virtual void DeleteLogLine(std::size_t position) = 0;
  virtual void ClearLog() = 0;

  // One OK button, modal; returns only when closed.
  virtual void ShowMessageBox(const std::string& text, const std::string& title,
                              BoxKind kind) = 0;

  // The full path of the chosen file, or empty text when cancelled.
  virtual std::string RunFileDialog(const FileDialogRequest& request) = 0;

  // Control ids; 0 means none.
  virtual int FocusedControl() = 0;
  virtual void SetFocusedControl(int controlId) = 0;

  virtual void EndModalLoop(int result) = 0;
};

}  // namespace lumivane
