#include <gtest/gtest.h>

#include <QApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QMimeData>
#include <QUrl>
#include <string>

#include "shell/controlids.h"
#include "tests/support/floatfiles.h"
#include "tests/support/testfiles.h"
#include "tests/window/windowfixture.h"

namespace lumivane {
namespace {

using testing::AnsweredWindow;
using testing::TempDir;

void Drop(MainWindow& window, const std::string& path) {
  QMimeData data;
  data.setUrls({QUrl::fromLocalFile(QString::fromStdString(path))});
  // As a desktop delivers it: the drop goes to the widget that took the drag.
  QDragEnterEvent enter(QPoint(20, 20), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(&window, &enter);
  QDropEvent drop(QPointF(20, 20), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(&window, &drop);
}

TEST(WindowDrop, ADroppedImageRunsItsToneMappingChainAndAsksOnlyForTheOutput) {
  TempDir dir;
  AnsweredWindow window;
  QStringList titles;
  const std::string output = dir.File("dropped.tif");
  window.DialogAnswer = [&](QFileDialog& dialog) {
    titles << dialog.windowTitle();
    return testing::ChooseFile(dialog, QString::fromStdString(output));
  };
  const std::string exr = std::string(LUMIVANE_SOURCE_DIR) + "/samples/city.exr";
  Drop(*window, exr);
  EXPECT_EQ(titles, QStringList{"LUMIVANE Save"});
  // The save dialog's create prompt, then the job's success.
  ASSERT_EQ(window.Boxes.size(), 2u);
  EXPECT_EQ(window.Boxes[1].Text, "EXR Tonemapping concluded.");
  const testing::JobRun direct =
      testing::RunJobCommand(kOpenExrCommand, exr, dir.File("direct.tif"));
  ASSERT_FALSE(direct.Output.empty());
  EXPECT_EQ(testing::TiffPixels(testing::ReadBytes(output)), testing::TiffPixels(direct.Output));

  // A file of no readable format: one error box, no dialog, no job.
  testing::WriteText(dir.File("notes.txt"), "hello\n");
  Drop(*window, dir.File("notes.txt"));
  EXPECT_EQ(titles.size(), 1);
  ASSERT_EQ(window.Boxes.size(), 3u);
  EXPECT_EQ(window.Boxes[2].Text.toStdString(),
            dir.File("notes.txt") + " is not a Radiance, TIFF, PFM or OpenEXR file");
  EXPECT_EQ(window.Boxes[2].Icon, QMessageBox::Critical);
}

}  // namespace
}  // namespace lumivane
