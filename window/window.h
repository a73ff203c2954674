// The program's window: the Qt implementation of the window system, the
// controls and menu bar of the main window, and the modal loop that runs it.
#pragma once

#include <QElapsedTimer>
#include <QEventLoop>
#include <QFont>
#include <QMainWindow>
#include <QRect>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "steps/session.h"
#include "steps/windowsystem.h"

class QAction;
class QCheckBox;
class QFileDialog;
class QLineEdit;
class QListWidget;
class QMessageBox;
class QProgressBar;
class QPushButton;

namespace lumivane {

class PreviewSampler;
class PreviewWindow;

// The dialog-unit rule of the original layout: one horizontal unit is a
// quarter of the font's average letter width, one vertical unit an eighth of
// its line height.
struct DialogUnits {
  int BaseWidth = 0;
  int BaseHeight = 0;

  static DialogUnits Of(const QFont& font);
  int X(int units) const;
  int Y(int units) const;
  QRect Rect(int x, int y, int width, int height) const;
};

// The non-native dialog for a request: title, name filters in order with the
// first selected, default suffix, start folder, one file, no overwrite prompt,
// placed at 300, 200 pixels.
void ConfigureFileDialog(QFileDialog& dialog, const FileDialogRequest& request);
// "HDR (*.hdr)"; the catch-all "*.*" becomes "*", which also matches names without a dot.
QString NameFilterText(const FileFilter& filter);

class MainWindow : public QMainWindow, public WindowSystem {
  Q_OBJECT

 public:
  MainWindow();
  ~MainWindow() override;

  Session& session() { return *session_; }

  // Shows the window and runs until Quit or the close button ends it; returns the end result.
  int RunModalLoop();

  // Tone-maps the image at `path` (any readable format) as the matching open
  // command does, the file taken as the open dialog's answer: a dropped file,
  // or the one named when the program starts. The save dialog still asks.
  void OpenImageFile(const std::string& path);

  // The control with this id (1004 ... 1023), or null.
  QWidget* Control(int controlId) const;
  // The menu item with this command id, or null.
  QAction* MenuAction(int commandId) const;
  const DialogUnits& Units() const { return units_; }
  // The window that shows the last tone-mapping job's result.
  PreviewWindow& Preview() const { return *preview_; }

  // How a message box or file dialog is run; tests answer them here instead
  // of in a modal loop. Each returns the button or dialog result.
  std::function<int(QMessageBox&)> RunBox;
  std::function<int(QFileDialog&)> RunDialog;

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

 protected:
  void closeEvent(QCloseEvent* event) override;
  void changeEvent(QEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void CreateControls();
  void CreateMenuBar();
  void RunCommand(int commandId);
  // Asks whether to create a file that does not exist yet; false when refused.
  bool ConfirmCreate(const QString& path, const QString& title);

  // The window font and the four control fonts, released with the window.
  QFont windowFont_;
  QFont titleFont_;
  QFont logFont_;
  QFont settingsFont_;
  QFont hintFont_;
  DialogUnits units_;

  std::map<int, QWidget*> controls_;
  std::map<int, QAction*> actions_;
  QListWidget* log_ = nullptr;
  QProgressBar* progress_ = nullptr;
  QLineEdit* brightness_ = nullptr;
  QLineEdit* contrast_ = nullptr;
  QPushButton* accept_ = nullptr;
  QCheckBox* warmColours_ = nullptr;

  // The bar is an int control; bounds above its range are halved to fit.
  std::uint32_t progressLow_ = 0;
  std::uint32_t progressHigh_ = 1;
  int progressShift_ = 0;
  QElapsedTimer sinceRepaint_;

  QEventLoop loop_;
  bool loopRunning_ = false;
  bool closeRequested_ = false;
  // The next open dialog's answer, set by OpenImageFile.
  std::string pendingOpenPath_;
  std::unique_ptr<Session> session_;
  std::unique_ptr<PreviewSampler> sampler_;
  std::unique_ptr<PreviewWindow> preview_;
};

}  // namespace lumivane
