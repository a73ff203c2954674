// A main window whose message boxes and file dialogs are answered by the test.
#pragma once

#include <QFileDialog>
#include <QMessageBox>
#include <QString>
#include <functional>
#include <memory>
#include <vector>

#include "window/window.h"

namespace lumivane::testing {

struct ShownBox {
  QString Text;
  QString Title;
  QMessageBox::Icon Icon;
  QMessageBox::StandardButtons Buttons;
  Qt::TextFormat Format;
  Qt::WindowModality Modality;
  bool HasOwner;
};

class AnsweredWindow {
 public:
  AnsweredWindow() : window_(std::make_unique<MainWindow>()) {
    window_->RunBox = [this](QMessageBox& box) {
      Boxes.push_back({box.text(), box.windowTitle(), box.icon(), box.standardButtons(),
                       box.textFormat(), box.windowModality(), box.parent() != nullptr});
      if (box.icon() == QMessageBox::Question) return static_cast<int>(CreateAnswer);
      return static_cast<int>(QMessageBox::Ok);
    };
    window_->RunDialog = [this](QFileDialog& dialog) {
      ++DialogsShown;
      if (DialogAnswer) return DialogAnswer(dialog);
      return static_cast<int>(QDialog::Rejected);
    };
  }

  MainWindow& operator*() { return *window_; }
  MainWindow* operator->() { return window_.get(); }

  std::vector<ShownBox> Boxes;
  // The answer to a create prompt.
  QMessageBox::StandardButton CreateAnswer = QMessageBox::Yes;
  // Answers each file dialog; without it every dialog is cancelled.
  std::function<int(QFileDialog&)> DialogAnswer;
  int DialogsShown = 0;

 private:
  std::unique_ptr<MainWindow> window_;
};

// Types a name into a dialog and presses its accept button.
inline int ChooseFile(QFileDialog& dialog, const QString& path) {
  dialog.selectFile(path);
  // QFileDialog::accept is protected; through QDialog it runs with its checks.
  static_cast<QDialog&>(dialog).accept();
  return dialog.result();
}

}  // namespace lumivane::testing
