#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QListWidget>
#include <QPixmap>
#include <QProgressBar>
#include <cstdint>
#include <string>
#include <vector>

#include "shell/controlids.h"
#include "shell/dispatch.h"
#include "tests/support/hdrfiles.h"
#include "tests/support/recordingwindow.h"
#include "tests/support/testfiles.h"
#include "tests/window/windowfixture.h"

namespace lumivane {
namespace {

using testing::AnsweredWindow;
using testing::ChooseFile;
using testing::TempDir;

constexpr std::uint32_t kWidth = 67;
constexpr std::uint32_t kHeight = 45;

struct DialogSeen {
  QString Title;
  QStringList Filters;
  QString SelectedFilter;
  QString Suffix;
  QString Folder;
  QFileDialog::AcceptMode Accept;
  QFileDialog::FileMode Mode;
  bool NonNative;
  bool NoOverwritePrompt;
  QPoint Position;
  bool OpenItemsEnabled[3];
  bool ConvertItemEnabled;
  bool QuitEnabled;
};

QStringList LogLines(MainWindow& window) {
  auto* log = qobject_cast<QListWidget*>(window.Control(kStatusLogId));
  QStringList lines;
  for (int i = 0; i < log->count(); ++i) lines << log->item(i)->text();
  return lines;
}

long double FixedClock() {
  return 3600.0L;
}

class WindowJob : public ::testing::Test {
 protected:
  void SetUp() override {
    input = folder.File("scene.hdr");
    testing::WriteBytes(input, testing::HdrFile(testing::PatternImage(kWidth, kHeight, 7),
                                                testing::RgbeRowForm::ComponentRuns));
    window->session().Clock = FixedClock;
    window.DialogAnswer = [this](QFileDialog& dialog) {
      DialogSeen seen{dialog.windowTitle(),
                      dialog.nameFilters(),
                      dialog.selectedNameFilter(),
                      dialog.defaultSuffix(),
                      dialog.directory().absolutePath(),
                      dialog.acceptMode(),
                      dialog.fileMode(),
                      dialog.testOption(QFileDialog::DontUseNativeDialog),
                      dialog.testOption(QFileDialog::DontConfirmOverwrite),
                      dialog.pos(),
                      {window->MenuAction(kOpenHdrCommand)->isEnabled(),
                       window->MenuAction(kOpenTiffCommand)->isEnabled(),
                       window->MenuAction(kOpenPfmCommand)->isEnabled()},
                      window->MenuAction(kHdrToTiffCommand)->isEnabled(),
                      window->MenuAction(kQuitCommand)->isEnabled()};
      dialogs.push_back(seen);
      if (DuringDialog) DuringDialog();
      if (answers.empty()) return static_cast<int>(QDialog::Rejected);
      const QString answer = answers.front();
      answers.erase(answers.begin());
      return ChooseFile(dialog, answer);
    };
  }

  TempDir folder;
  std::string input;
  AnsweredWindow window;
  std::vector<DialogSeen> dialogs;
  QStringList answers;
  std::function<void()> DuringDialog;
};

TEST_F(WindowJob, OpenHdrFromTheMenuRunsTheWholeChain) {
  const QString typedOutput = QString::fromStdString(folder.File("tonemapped"));
  answers = {QString::fromStdString(input), typedOutput};
  // A command that arrives while a dialog is open starts no second job.
  DuringDialog = [this] { window->MenuAction(kHdrToTiffCommand)->trigger(); };

  window->show();
  window->MenuAction(kOpenHdrCommand)->trigger();

  ASSERT_EQ(dialogs.size(), 2u);
  EXPECT_EQ(window.DialogsShown, 2);
  const DialogSeen& open = dialogs[0];
  EXPECT_EQ(open.Title, "LUMIVANE Open HDR");
  EXPECT_EQ(open.Filters, QStringList({"HDR (*.hdr)", "All Files (*)"}));
  EXPECT_EQ(open.SelectedFilter, "HDR (*.hdr)");
  EXPECT_EQ(open.Suffix, "hdr");
  EXPECT_EQ(open.Folder, QDir::current().absolutePath());
  EXPECT_EQ(open.Accept, QFileDialog::AcceptOpen);
  EXPECT_EQ(open.Mode, QFileDialog::ExistingFile);
  EXPECT_TRUE(open.NonNative);
  EXPECT_EQ(open.Position, QPoint(300, 200));
  const DialogSeen& save = dialogs[1];
  EXPECT_EQ(save.Title, "LUMIVANE Save");
  EXPECT_EQ(save.Filters, QStringList({"TIF (*.tif)", "TIFF (*.tiff)", "All Files (*)"}));
  EXPECT_EQ(save.SelectedFilter, "TIF (*.tif)");
  EXPECT_EQ(save.Suffix, "tif");
  EXPECT_EQ(save.Folder, QDir::current().absolutePath());
  EXPECT_EQ(save.Accept, QFileDialog::AcceptSave);
  EXPECT_EQ(save.Mode, QFileDialog::AnyFile);
  EXPECT_TRUE(save.NoOverwritePrompt);
  EXPECT_EQ(save.Position, QPoint(300, 200));
  for (const DialogSeen& seen : dialogs) {
    EXPECT_FALSE(seen.OpenItemsEnabled[0]);
    EXPECT_FALSE(seen.OpenItemsEnabled[1]);
    EXPECT_FALSE(seen.OpenItemsEnabled[2]);
    EXPECT_TRUE(seen.ConvertItemEnabled);
    EXPECT_TRUE(seen.QuitEnabled);
  }
  // The program's folder stays where it was.
  EXPECT_NE(QDir::current().absolutePath(), QString::fromStdString(folder.Path().string()));

  // The typed name had no extension: the dialog added it, and the create prompt came first.
  const std::string output = folder.File("tonemapped.tif");
  ASSERT_EQ(window.Boxes.size(), 2u);
  EXPECT_EQ(window.Boxes[0].Icon, QMessageBox::Question);
  EXPECT_EQ(window.Boxes[0].Title, "LUMIVANE Save");
  EXPECT_TRUE(window.Boxes[0].Text.startsWith("tonemapped.tif\n"));
  EXPECT_EQ(window.Boxes[0].Buttons, QMessageBox::Yes | QMessageBox::No);
  EXPECT_EQ(window.Boxes[1].Text, "HDR Tonemapping concluded.");
  EXPECT_EQ(window.Boxes[1].Title, "LUMIVANE - Success.");
  EXPECT_EQ(window.Boxes[1].Icon, QMessageBox::Information);

  for (const int id : {kOpenHdrCommand, kOpenTiffCommand, kOpenPfmCommand})
    EXPECT_TRUE(window->MenuAction(id)->isEnabled()) << id;
  auto* bar = qobject_cast<QProgressBar*>(window->Control(kProgressBarId));
  EXPECT_EQ(bar->minimum(), 1);
  EXPECT_EQ(bar->maximum(), static_cast<int>(kHeight));
  EXPECT_EQ(bar->value(), bar->maximum());

  // The same job through the recording window gives the same log and pixels.
  testing::RecordingWindow recording;
  Session reference(recording);
  reference.Clock = FixedClock;
  const std::string referenceOutput = folder.File("reference.tif");
  recording.DialogAnswers = {input, referenceOutput};
  StartSession(reference);
  HandleCommand(reference, kOpenHdrCommand);
  ASSERT_EQ(recording.Boxes.size(), 1u);
  ASSERT_EQ(recording.Boxes[0].Text, "HDR Tonemapping concluded.");

  QStringList expectedLog;
  for (const std::string& line : recording.Log) {
    std::string same = line;
    const auto at = same.find(referenceOutput);
    if (at != std::string::npos) same.replace(at, referenceOutput.size(), output);
    expectedLog << QString::fromStdString(same);
  }
  const QStringList log = LogLines(*window);
  EXPECT_EQ(log, expectedLog);
  auto* list = qobject_cast<QListWidget*>(window->Control(kStatusLogId));
  EXPECT_TRUE(list->selectedItems().isEmpty());
  EXPECT_TRUE(log.contains("Image Width = 67"));
  EXPECT_TRUE(log.contains("Image Length = 45"));

  const std::vector<std::uint8_t> written = testing::ReadBytes(output);
  const std::vector<std::uint8_t> expected = testing::ReadBytes(referenceOutput);
  ASSERT_EQ(written.size(), std::size_t{308} + 3 * kWidth * kHeight);
  ASSERT_EQ(expected.size(), written.size());
  EXPECT_TRUE(std::equal(written.begin() + 308, written.end(), expected.begin() + 308));

  QCoreApplication::processEvents();
  const QString screenshot = QStringLiteral(LUMIVANE_BUILD_DIR "/window-after-job.png");
  EXPECT_TRUE(window->grab().save(screenshot, "PNG"));
}

TEST_F(WindowJob, CancelledOpenDialogGivesTheTwoBoxes) {
  window->MenuAction(kOpenHdrCommand)->trigger();
  ASSERT_EQ(window.Boxes.size(), 2u);
  EXPECT_EQ(window.Boxes[0].Text, "No Input File Selected.");
  EXPECT_EQ(window.Boxes[0].Title, "LUMIVANE - Open Error");
  EXPECT_EQ(window.Boxes[0].Icon, QMessageBox::Critical);
  EXPECT_EQ(window.Boxes[1].Text, "Cannot open ");
  EXPECT_EQ(window.Boxes[1].Title, "LUMIVANE - Abort.");
  EXPECT_TRUE(window->MenuAction(kOpenHdrCommand)->isEnabled());
}

TEST_F(WindowJob, RefusedCreatePromptCancelsTheSaveAndAnExistingFileIsTakenWithoutAsking) {
  const std::string refused = folder.File("refused.tif");
  answers = {QString::fromStdString(input), QString::fromStdString(refused)};
  window.CreateAnswer = QMessageBox::No;
  window->MenuAction(kOpenHdrCommand)->trigger();
  ASSERT_EQ(window.Boxes.size(), 3u);
  EXPECT_EQ(window.Boxes[0].Icon, QMessageBox::Question);
  EXPECT_EQ(window.Boxes[1].Text, "Missing Filename.");
  EXPECT_EQ(window.Boxes[1].Title, "LUMIVANE - Save As Error");
  EXPECT_EQ(window.Boxes[2].Text, "Cannot open ");
  EXPECT_FALSE(testing::FileExists(refused));

  const std::string existing = folder.File("existing.tif");
  testing::WriteText(existing, std::string(100000, 'x'));
  window.Boxes.clear();
  answers = {QString::fromStdString(input), QString::fromStdString(existing)};
  window->MenuAction(kOpenHdrCommand)->trigger();
  ASSERT_EQ(window.Boxes.size(), 1u);
  EXPECT_EQ(window.Boxes[0].Text, "HDR Tonemapping concluded.");
  EXPECT_EQ(testing::ReadBytes(existing).size(), std::size_t{308} + 3 * kWidth * kHeight);
}

TEST_F(WindowJob, CloseDuringAJobWaitsForItsEnd) {
  answers = {QString::fromStdString(input), QString::fromStdString(folder.File("out.tif"))};
  bool visibleAfterClose = false;
  DuringDialog = [&] {
    window->close();
    visibleAfterClose = window->isVisible();
  };
  window->show();
  window->MenuAction(kOpenHdrCommand)->trigger();
  EXPECT_TRUE(visibleAfterClose);
  ASSERT_FALSE(window.Boxes.empty());
  EXPECT_EQ(window.Boxes.back().Text, "HDR Tonemapping concluded.");
  EXPECT_FALSE(window->isVisible());
}

}  // namespace
}  // namespace lumivane
