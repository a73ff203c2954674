#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <string>
#include <vector>

#include "shell/controlids.h"
#include "shell/dispatch.h"
#include "window/windowextras.h"
#include "window/windowplacement.h"
#include "window/windowpreview.h"
#include "tests/support/floatfiles.h"
#include "tests/support/hdrfiles.h"
#include "tests/support/testfiles.h"
#include "tests/window/windowfixture.h"

namespace lumivane {
namespace {

using testing::AnsweredWindow;
using testing::TempDir;

constexpr std::uint32_t kWidth = 67;
constexpr std::uint32_t kHeight = 45;

class Preview : public ::testing::Test {
 protected:
  void SetUp() override {
    input = folder.File("scene.hdr");
    testing::WriteBytes(input, testing::HdrFile(testing::PatternImage(kWidth, kHeight, 7),
                                                testing::RgbeRowForm::ComponentRuns));
  }

  void Run(int command, const std::string& in, const std::string& out) {
    std::vector<QString> answers = {QString::fromStdString(in), QString::fromStdString(out)};
    window.DialogAnswer = [answers](QFileDialog& dialog) mutable {
      const QString answer = answers.front();
      answers.erase(answers.begin());
      return testing::ChooseFile(dialog, answer);
    };
    window->MenuAction(command)->trigger();
  }

  // The pixels a full job writes with the window's current settings.
  testing::Bytes JobPixels() {
    const testing::JobRun run = testing::RunJobCommand(
        kOpenHdrCommand, input, folder.File("reference.tif"), window->session().Settings);
    return testing::TiffPixels(run.Output);
  }

  void Settle() { QCoreApplication::processEvents(); }

  TempDir folder;
  std::string input;
  AnsweredWindow window;
};

TEST_F(Preview, ShowsTheJobsBytesAndRendersThemAgainForNewSettings) {
  window->show();
  // The main window has the keyboard before the job, as a user's would.
  window->activateWindow();
  Settle();
  ASSERT_EQ(QApplication::activeWindow(), &*window);
  window->Control(kBrightnessBoxId)->setFocus();
  Run(kOpenHdrCommand, input, folder.File("out.tif"));
  ASSERT_EQ(window.Boxes.back().Text, "HDR Tonemapping concluded.");
  PreviewWindow& preview = window->Preview();
  Settle();
  ASSERT_TRUE(preview.isVisible());
  EXPECT_EQ(preview.windowTitle(), "LUMIVANE - Preview");
  // Showing the preview leaves the keyboard where it was.
  EXPECT_TRUE(preview.testAttribute(Qt::WA_ShowWithoutActivating));
  EXPECT_EQ(QApplication::activeWindow(), &*window);
  EXPECT_EQ(window->focusWidget(), window->Control(kBrightnessBoxId));
  EXPECT_EQ(preview.Image().Width, kWidth);
  EXPECT_EQ(preview.Image().Rgb, JobPixels());
  EXPECT_TRUE(preview.StatusText().contains("out.tif"));
  EXPECT_TRUE(preview.StatusText().contains("67 x 45"));
  EXPECT_TRUE(preview.StatusText().contains("Post gamma 1.2"));

  auto* brightness = qobject_cast<QLineEdit*>(window->Control(kBrightnessBoxId));
  auto* contrast = qobject_cast<QLineEdit*>(window->Control(kContrastBoxId));
  auto* accept = qobject_cast<QPushButton*>(window->Control(kAcceptButtonId));
  brightness->setText("2.5");
  contrast->setText("0.5");
  accept->click();
  const testing::Bytes brighter = JobPixels();
  EXPECT_EQ(preview.Image().Rgb, brighter);
  EXPECT_TRUE(preview.StatusText().contains("Brightness 2.5  |  Post gamma 2  |  Warm Colours off"))
      << preview.StatusText().toStdString();

  qobject_cast<QCheckBox*>(window->Control(kWarmColoursBoxId))->click();
  const testing::Bytes warm = JobPixels();
  EXPECT_NE(warm, brighter);
  EXPECT_EQ(preview.Image().Rgb, warm);
  EXPECT_TRUE(preview.StatusText().contains("Warm Colours on"));

  brightness->setText("0.2");
  contrast->setText("4");
  accept->click();
  EXPECT_EQ(preview.Image().Rgb, JobPixels());
  std::uint64_t counted = 0;
  for (const auto& channel : preview.Histogram().Histograms())
    for (const std::uint32_t count : channel) counted += count;
  EXPECT_EQ(counted, std::uint64_t{3} * kWidth * kHeight);

  // Scaled to fit, its aspect kept.
  preview.resize(800, 300);
  Settle();
  const QRect drawn = preview.View().ImageRect();
  EXPECT_LE(drawn.height(), preview.View().height());
  EXPECT_NEAR(double(drawn.width()) / drawn.height(), double(kWidth) / kHeight, 0.05);
}

TEST_F(Preview, ConversionsDoNotOpenItAndAClosedPreviewComesBackWithTheNextJob) {
  Run(kHdrToTiffCommand, input, folder.File("float.tif"));
  ASSERT_EQ(window.Boxes.back().Text, "HDR to TIFF conversion concluded.");
  EXPECT_FALSE(window->Preview().isVisible());

  Run(kOpenHdrCommand, input, folder.File("out.tif"));
  EXPECT_TRUE(window->Preview().isVisible());
  window->Preview().close();
  // Closed, it is not rendered again by the settings.
  const testing::Bytes before = window->Preview().Image().Rgb;
  qobject_cast<QCheckBox*>(window->Control(kWarmColoursBoxId))->click();
  EXPECT_EQ(window->Preview().Image().Rgb, before);

  // The next job shows its own result, a float input this time.
  const std::string pfm = folder.File("scene.pfm");
  testing::WriteBytes(pfm, testing::StandardPfm(testing::GradientImage(5, 3), true));
  Run(kOpenPfmCommand, pfm, folder.File("pfm.tif"));
  ASSERT_EQ(window.Boxes.back().Text, "PFM Tonemapping concluded.");
  EXPECT_TRUE(window->Preview().isVisible());
  EXPECT_EQ(window->Preview().Image().Rgb,
            testing::TiffPixels(testing::ReadBytes(folder.File("pfm.tif"))));
}

TEST(WindowPlacement, MovesJustEnoughToBeWholeOnTheScreen) {
  const QRect area(0, 30, 1024, 738);
  EXPECT_EQ(PositionInside(QRect(100, 100, 500, 400), area), QPoint(100, 100));
  EXPECT_EQ(PositionInside(QRect(524, 368, 500, 400), area), QPoint(524, 368));
  EXPECT_EQ(PositionInside(QRect(600, 500, 500, 400), area), QPoint(524, 368));
  EXPECT_EQ(PositionInside(QRect(-20, 0, 500, 400), area), QPoint(0, 30));
  EXPECT_EQ(PositionInside(QRect(300, 300, 1100, 900), area), QPoint(0, 30));

  // The main window's own position runs off a small screen.
  AnsweredWindow window;
  window->show();
  QCoreApplication::processEvents();
  const QRect available = window->screen()->availableGeometry();
  const QPoint before = window->frameGeometry().topLeft();
  KeepOnScreen(*window);
  const QRect frame = window->frameGeometry();
  if (QRect(before, frame.size()).intersected(available) != QRect(before, frame.size())) {
    EXPECT_TRUE(available.contains(frame)) << frame.x() << "," << frame.y();
  } else {
    EXPECT_EQ(frame.topLeft(), before);
  }
  window->move(available.topLeft() + QPoint(3, 4));
  KeepOnScreen(*window);
  EXPECT_EQ(window->frameGeometry().topLeft(), available.topLeft() + QPoint(3, 4));
}

TEST(WindowBoxes, ABoxIsWideEnoughForItsTitle) {
  AnsweredWindow window;
  int boxWidth = 0, labelWidth = 0, wordWidth = 0;
  window->RunBox = [&](QMessageBox& box) {
    box.show();
    QCoreApplication::processEvents();
    boxWidth = box.width();
    auto* label = box.findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
    labelWidth = label->width();
    wordWidth = 0;
    for (const QString& word : label->text().split(' '))
      wordWidth = std::max(wordWidth, label->fontMetrics().horizontalAdvance(word));
    return static_cast<int>(QMessageBox::Ok);
  };
  const QString title = QStringLiteral("LUMIVANE - Abort.");
  window->ShowMessageBox("Cannot open ", title.toStdString(), BoxKind::Error);
  QFont bold = QApplication::font("QMdiSubWindowTitleBar");
  bold.setBold(true);
  EXPECT_GE(boxWidth, QFontMetrics(bold).horizontalAdvance(title) + 120);
  EXPECT_GE(labelWidth, wordWidth);

  // A long path has no place to break: the box grows to show it whole.
  const std::string path =
      "Cannot open /" + std::string(40, 'd') + "/" + std::string(40, 'f') + ".tif";
  window->ShowMessageBox(path, title.toStdString(), BoxKind::Error);
  EXPECT_GE(labelWidth, wordWidth);
}

TEST(WindowLog, CopyTakesTheSelectedLinesOrAllAndKeysAreShownBesideTheItems) {
  AnsweredWindow window;
  auto* log = qobject_cast<QListWidget*>(window->Control(kStatusLogId));
  for (int i = 0; i < 4; ++i) window->InsertLogLine(i, "line " + std::to_string(i));
  QAction* copy = nullptr;
  for (QAction* action : log->actions())
    if (action->text() == "Copy") copy = action;
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(log->contextMenuPolicy(), Qt::ActionsContextMenu);
  copy->trigger();
  EXPECT_EQ(QApplication::clipboard()->text(), "line 0\nline 1\nline 2\nline 3");
  log->item(3)->setSelected(true);
  log->item(1)->setSelected(true);
  copy->trigger();
  EXPECT_EQ(QApplication::clipboard()->text(), "line 1\nline 3");

  EXPECT_EQ(window->MenuAction(kGeneralHelpCommand)->shortcut(), QKeySequence(Qt::Key_F1));
  EXPECT_EQ(window->MenuAction(kOpenHdrCommand)->shortcut(), QKeySequence("Ctrl+O"));
  EXPECT_EQ(window->MenuAction(kQuitCommand)->shortcut(), QKeySequence("Ctrl+Q"));
  EXPECT_EQ(window->MenuAction(kOpenHdrCommand)->text(), "Open HDR");
  EXPECT_EQ(window->MenuAction(kQuitCommand)->text(), "Quit");
}

}  // namespace
}  // namespace lumivane
