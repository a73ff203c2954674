#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFontInfo>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QTimer>
#include <climits>
#include <string>
#include <vector>

#include "shell/controlids.h"
#include "shell/dispatch.h"
#include "tests/window/windowfixture.h"

namespace lumivane {
namespace {

using testing::AnsweredWindow;

QString TextOf(QWidget* control) {
  if (auto* label = qobject_cast<QLabel*>(control)) return label->text();
  if (auto* edit = qobject_cast<QLineEdit*>(control)) return edit->text();
  if (auto* button = qobject_cast<QAbstractButton*>(control)) return button->text();
  if (auto* frame = qobject_cast<QGroupBox*>(control)) return frame->title();
  return {};
}

QStringList LogLines(MainWindow& window) {
  auto* log = qobject_cast<QListWidget*>(window.Control(kStatusLogId));
  QStringList lines;
  for (int i = 0; i < log->count(); ++i) lines << log->item(i)->text();
  return lines;
}

void PressKey(QWidget* target, int key) {
  QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
  QCoreApplication::sendEvent(target, &press);
  QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier);
  QCoreApplication::sendEvent(target, &release);
}

TEST(MainWindowLayout, ControlsHaveTheirIdsKindsTextsAndDialogUnitGeometry) {
  AnsweredWindow window;
  EXPECT_EQ(window->windowTitle(), "LUMIVANE v1.22");
  EXPECT_FALSE(window->windowIcon().isNull());
  EXPECT_FALSE(window->windowIcon().pixmap(32, 32).isNull());

  struct Expected {
    int Id;
    const char* Kind;
    const char* Text;
    int X, Y, W, H;
  };
  const Expected table[] = {
      {1004, "QLabel", "Simple 96 bit HDRI to 24-bit TIFF Tone-Mapper", 20, 10, 345, 20},
      {1006, "QLabel", "Status/Progress Log (read only).", 20, 30, 120, 10},
      {1005, "QListWidget", "", 20, 40, 340, 90},
      {1007, "QProgressBar", "", 20, 135, 340, 10},
      {1010, "QLineEdit", "0.8", 30, 180, 40, 15},
      {1011, "QLineEdit", "1.2", 30, 200, 40, 15},
      {1012, "QLabel", "Brightness 0.01 ... 10.00 (Default 0.8) [ERF]", 75, 182, 200, 15},
      {1013, "QLabel", "Contrast 0.10 ... 10.0 (Default 1.2) [Post Gamma]", 75, 202, 200, 15},
      {1014, "QPushButton", "Accept", 280, 191, 70, 24},
      {1015, "QGroupBox", "Fine Adjustment (set first, then [Accept])", 20, 160, 340, 80},
      {1016, "QLabel", "Fastest - and in most cases best - conversion if both values set to 1.0.",
       30, 220, 320, 15},
      {1023, "QCheckBox", "Warm Colours", 280, 175, 70, 10},
  };
  const DialogUnits& units = window->Units();
  // The units come from the window font: a quarter of the average letter
  // width and an eighth of the line height.
  const QFontMetrics metrics(window->font());
  EXPECT_NEAR(units.BaseWidth * 52.0,
              metrics.horizontalAdvance("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"),
              52.0);
  EXPECT_EQ(units.BaseHeight, metrics.height());

  std::vector<QWidget*> controls;
  for (const Expected& expected : table) {
    SCOPED_TRACE(expected.Id);
    QWidget* control = window->Control(expected.Id);
    ASSERT_NE(control, nullptr);
    controls.push_back(control);
    EXPECT_EQ(control->objectName(), QString("control%1").arg(expected.Id));
    EXPECT_STREQ(control->metaObject()->className(), expected.Kind);
    EXPECT_EQ(TextOf(control), expected.Text);
    EXPECT_EQ(control->geometry(), units.Rect(expected.X, expected.Y, expected.W, expected.H));
  }
  // Siblings stack in creation order, except the frame, lowered beneath the
  // boxes it surrounds so that it cannot take their clicks.
  const QObjectList siblings = controls.front()->parentWidget()->children();
  EXPECT_EQ(siblings.indexOf(window->Control(1015)), 0);
  std::erase(controls, window->Control(1015));
  for (std::size_t i = 1; i < controls.size(); ++i)
    EXPECT_LT(siblings.indexOf(controls[i - 1]), siblings.indexOf(controls[i]));

  const auto geometry = [&](int id) { return window->Control(id)->geometry(); };
  EXPECT_LT(geometry(1010).right(), geometry(1012).left());
  EXPECT_LT(geometry(1011).right(), geometry(1013).left());
  EXPECT_LT(geometry(1010).bottom(), geometry(1011).top());
  for (const int inside : {1010, 1011, 1012, 1013, 1014, 1016, 1023})
    EXPECT_TRUE(geometry(1015).contains(geometry(inside))) << inside;
  EXPECT_LT(geometry(1005).bottom(), geometry(1007).top());
  EXPECT_LT(geometry(1007).bottom(), geometry(1015).top());
  EXPECT_LT(geometry(1023).bottom(), geometry(1014).top());
  // Widths keep the proportions of their dialog units (340 : 40 : 70), up to rounding.
  EXPECT_NEAR(geometry(1005).width() * 40.0 / 340.0, geometry(1010).width(), 1.0);
  EXPECT_NEAR(geometry(1014).width() * 340.0 / 70.0, geometry(1005).width(), 5.0);
  EXPECT_EQ(geometry(1005).width(), geometry(1007).width());
  const QPoint boxCentre = geometry(1010).center();
  EXPECT_EQ(window->centralWidget()->childAt(boxCentre), window->Control(1010));
}

TEST(MainWindowLayout, WindowHasAFixedSizeAndNoMaximiseButton) {
  AnsweredWindow window;
  window->show();
  QCoreApplication::processEvents();
  const QSize client(window->Units().X(380), window->Units().Y(261));
  EXPECT_EQ(window->centralWidget()->size(), client);
  EXPECT_EQ(window->minimumSize(), window->maximumSize());
  EXPECT_EQ(window->size(), window->minimumSize());
  EXPECT_EQ(window->height(), client.height() + window->menuBar()->height());
  const Qt::WindowFlags flags = window->windowFlags();
  EXPECT_FALSE(flags.testFlag(Qt::WindowMaximizeButtonHint));
  EXPECT_TRUE(flags.testFlag(Qt::WindowMinimizeButtonHint));
  EXPECT_TRUE(flags.testFlag(Qt::WindowCloseButtonHint));
  EXPECT_TRUE(flags.testFlag(Qt::WindowTitleHint));
  window->resize(client.width() * 2, client.height() * 2);
  EXPECT_EQ(window->size(), window->minimumSize());
}

TEST(MainWindowLayout, FontsFollowTheFontTable) {
  AnsweredWindow window;
  struct Expected {
    int Id;
    int Points;
    bool Bold;
    bool Monospace;
  };
  const Expected table[] = {
      {1004, 12, true, false},  {1006, 8, false, false},  {1005, 8, false, true},
      {1007, 8, false, false},  {1010, 10, false, false}, {1011, 10, false, false},
      {1012, 10, false, false}, {1013, 10, false, false}, {1014, 12, true, false},
      {1015, 12, true, false},  {1016, 10, true, false},  {1023, 10, false, false},
  };
  for (const Expected& expected : table) {
    SCOPED_TRACE(expected.Id);
    const QFont font = window->Control(expected.Id)->font();
    EXPECT_EQ(font.pointSize(), expected.Points);
    EXPECT_EQ(font.bold(), expected.Bold);
    EXPECT_EQ(QFontInfo(font).fixedPitch(), expected.Monospace);
  }
  EXPECT_EQ(window->font().pointSize(), 8);
  EXPECT_FALSE(window->font().bold());
}

TEST(MainWindowLayout, OnlyListEditBoxesButtonAndCheckboxTakeTabFocusInCreationOrder) {
  AnsweredWindow window;
  std::vector<int> order;
  QWidget* widget = window->nextInFocusChain();
  while (widget != &*window) {
    if ((widget->focusPolicy() & Qt::TabFocus) == Qt::TabFocus)
      order.push_back(widget->property("controlId").toInt());
    widget = widget->nextInFocusChain();
  }
  EXPECT_EQ(order, (std::vector<int>{1005, 1010, 1011, 1014, 1023}));
}

TEST(MainWindowMenu, MenuBarHasTheMenusItemsIdsAndSeparatorsInOrder) {
  AnsweredWindow window;
  QStringList tree;
  for (QAction* menuAction : window->menuBar()->actions()) {
    ASSERT_NE(menuAction->menu(), nullptr);
    for (QAction* item : menuAction->menu()->actions()) {
      const QString entry = item->isSeparator() ? "-"
                                                : QString("%1 %2 %3")
                                                      .arg(item->text())
                                                      .arg(item->property("commandId").toInt())
                                                      .arg(item->objectName());
      tree << menuAction->text() + ": " + entry;
      if (!item->isSeparator()) {
        EXPECT_TRUE(item->isEnabled());
        EXPECT_EQ(window->MenuAction(item->property("commandId").toInt()), item);
      }
    }
  }
  EXPECT_EQ(tree, QStringList({
                      "File: Open HDR 1002 command1002",
                      "File: Open TIFF96 1021 command1021",
                      "File: Open PFM 1022 command1022",
                      "File: -",
                      "File: Quit 1003 command1003",
                      "Convert: HDR > TIFF 1026 command1026",
                      "Convert: HDR > PFM 1025 command1025",
                      "Convert: PFM > TIFF 1024 command1024",
                      "Convert: TIFF > PFM 1027 command1027",
                      "Help: General 1008 command1008",
                      "Help: Usage 1017 command1017",
                      "Help: Operator 1018 command1018",
                      "Help: Memory 1019 command1019",
                      "Help: Time 1020 command1020",
                      "Help: -",
                      "Help: Convert 1028 command1028",
                      "Help: -",
                      "Help: About 1009 command1009",
                  }));
}

TEST(MainWindowMenu, AGreyedItemSendsNothing) {
  AnsweredWindow window;
  window->SetMenuItemEnabled(kOpenHdrCommand, false);
  window->SetMenuItemEnabled(kGeneralHelpCommand, false);
  EXPECT_FALSE(window->MenuAction(kOpenHdrCommand)->isEnabled());
  window->MenuAction(kOpenHdrCommand)->trigger();
  window->MenuAction(kGeneralHelpCommand)->trigger();
  EXPECT_EQ(window.DialogsShown, 0);
  EXPECT_TRUE(window.Boxes.empty());

  window->SetMenuItemEnabled(kGeneralHelpCommand, true);
  window->MenuAction(kGeneralHelpCommand)->trigger();
  EXPECT_EQ(window.Boxes.size(), 1u);
}

TEST(MainWindowSettings, StartStateAndAcceptWriteBack) {
  AnsweredWindow window;
  auto* brightness = qobject_cast<QLineEdit*>(window->Control(kBrightnessBoxId));
  auto* contrast = qobject_cast<QLineEdit*>(window->Control(kContrastBoxId));
  auto* warm = qobject_cast<QCheckBox*>(window->Control(kWarmColoursBoxId));
  EXPECT_EQ(brightness->text(), "0.8");
  EXPECT_EQ(contrast->text(), "1.2");
  EXPECT_FALSE(warm->isChecked());
  EXPECT_EQ(window->CheckboxState(kWarmColoursBoxId), 0);
  EXPECT_EQ(window->session().Settings.PostGamma, 1.2f);
  EXPECT_EQ(window->session().LogLineCounter, 1);
  auto* progress = qobject_cast<QProgressBar*>(window->Control(kProgressBarId));
  EXPECT_EQ(progress->minimum(), 0);
  EXPECT_EQ(progress->maximum(), 1);
  EXPECT_EQ(progress->value(), 0);
  EXPECT_FALSE(progress->isTextVisible());

  qobject_cast<QPushButton*>(window->Control(kAcceptButtonId))->click();
  EXPECT_EQ(brightness->text(), " .8");
  EXPECT_EQ(contrast->text(), " 1.2");
  EXPECT_EQ(window->session().Settings.Brightness, 0.8f);
  EXPECT_EQ(window->session().Settings.PostGamma, PostGammaFromContrast(1.2f));

  brightness->setText("50");
  contrast->setText("0");
  PressKey(window->Control(kAcceptButtonId), Qt::Key_Return);
  EXPECT_EQ(window->EditText(kBrightnessBoxId), " 50");
  EXPECT_EQ(window->EditText(kContrastBoxId), " 1.2");
  EXPECT_EQ(window->session().Settings.Brightness, 50.0f);

  warm->click();
  EXPECT_EQ(window->session().Settings.WarmColours, 1);
  warm->click();
  EXPECT_EQ(window->session().Settings.WarmColours, 0);
  EXPECT_TRUE(window.Boxes.empty());
}

TEST(MainWindowKeys, EnterAndEscapeAreUnknownCommands) {
  AnsweredWindow window;
  PressKey(window->Control(kBrightnessBoxId), Qt::Key_Return);
  PressKey(window->Control(kContrastBoxId), Qt::Key_Enter);
  PressKey(window->Control(kContrastBoxId), Qt::Key_Escape);
  PressKey(window->Control(kStatusLogId), Qt::Key_Escape);
  PressKey(&*window, Qt::Key_Escape);
  ASSERT_EQ(window.Boxes.size(), 5u);
  for (const auto& box : window.Boxes) {
    EXPECT_EQ(box.Text, "This Option does NOT exist.");
    EXPECT_EQ(box.Title, "LUMIVANE");
    EXPECT_EQ(box.Icon, QMessageBox::Critical);
    EXPECT_EQ(box.Buttons, QMessageBox::Ok);
    EXPECT_EQ(box.Modality, Qt::ApplicationModal);
    EXPECT_FALSE(box.HasOwner);
  }
  // The keys change nothing else.
  EXPECT_EQ(window->EditText(kBrightnessBoxId), "0.8");
  EXPECT_EQ(window->EditText(kContrastBoxId), "1.2");
}

TEST(MainWindowBoxes, HelpTextsShowTheirLinesInAnInformationBox) {
  AnsweredWindow window;
  window->MenuAction(kGeneralHelpCommand)->trigger();
  window->MenuAction(kAboutHelpCommand)->trigger();
  ASSERT_EQ(window.Boxes.size(), 2u);
  const auto& general = window.Boxes[0];
  EXPECT_EQ(general.Title, "LUMIVANE - Help|General");
  EXPECT_EQ(general.Icon, QMessageBox::Information);
  EXPECT_EQ(general.Format, Qt::PlainText);
  EXPECT_FALSE(general.Text.contains('\r'));
  const QStringList lines = general.Text.split('\n');
  ASSERT_EQ(lines.size(), 23);  // 22 lines, each ended by a break
  EXPECT_EQ(lines[0], "____ ABOUT High Dynamic Range Tone-mapper LUMI ____");
  EXPECT_EQ(lines[21], QString(74, '-'));
  EXPECT_EQ(lines[22], "");
  EXPECT_EQ(window.Boxes[1].Title, "LUMIVANE - Help|About");
  EXPECT_TRUE(window.Boxes[1].Text.startsWith("LUMIVANE.exe - v.1.22:140329\n\nDISCLAIMER:"));

  window->ShowMessageBox("careful", "Warned", BoxKind::Warning);
  EXPECT_EQ(window.Boxes.back().Icon, QMessageBox::Warning);
  EXPECT_EQ(window.Boxes.back().Buttons, QMessageBox::Ok);
}

TEST(MainWindowLog, LinesStayWhereTheyAreInsertedAndTheViewDoesNotFollow) {
  AnsweredWindow window;
  auto* log = qobject_cast<QListWidget*>(window->Control(kStatusLogId));
  EXPECT_FALSE(log->isSortingEnabled());
  window->InsertLogLine(0, "b second");
  window->InsertLogLine(1, "a third");
  window->InsertLogLine(0, "z first");
  window->InsertLogLine(99, "y last");
  EXPECT_EQ(LogLines(*window), QStringList({"z first", "b second", "a third", "y last"}));
  window->DeleteLogLine(7);
  window->DeleteLogLine(1);
  EXPECT_EQ(LogLines(*window), QStringList({"z first", "a third", "y last"}));
  window->ClearLog();
  EXPECT_TRUE(LogLines(*window).isEmpty());

  window->show();
  for (int i = 0; i < 300; ++i) window->InsertLogLine(i, "line " + std::to_string(i));
  QCoreApplication::processEvents();
  EXPECT_GT(log->verticalScrollBar()->maximum(), 0);
  EXPECT_EQ(log->verticalScrollBar()->value(), 0);
}

TEST(MainWindowProgress, BoundsAndPositionsCoverTheUnsignedRange) {
  AnsweredWindow window;
  auto* bar = qobject_cast<QProgressBar*>(window->Control(kProgressBarId));
  window->SetProgressRange(1, 1000);
  window->SetProgressPosition(1000);
  EXPECT_EQ(bar->minimum(), 1);
  EXPECT_EQ(bar->maximum(), 1000);
  EXPECT_EQ(bar->value(), 1000);
  window->SetProgressPosition(5000);
  EXPECT_EQ(bar->value(), 1000);
  window->SetProgressPosition(0);
  EXPECT_EQ(bar->value(), 1);

  window->SetProgressRange(0, 4000000000u);
  window->SetProgressPosition(4000000000u);
  EXPECT_EQ(bar->value(), bar->maximum());
  window->SetProgressPosition(2000000000u);
  EXPECT_NEAR(static_cast<double>(bar->value()) / bar->maximum(), 0.5, 1e-6);
  window->SetProgressRange(0, UINT32_MAX);
  window->SetProgressPosition(UINT32_MAX);
  EXPECT_EQ(bar->maximum(), INT_MAX);
  EXPECT_EQ(bar->value(), INT_MAX);

  window->SetProgressRange(0, 1);
  window->SetProgressPosition(0);
  EXPECT_EQ(bar->maximum(), 1);
  EXPECT_EQ(bar->value(), 0);
}

TEST(MainWindowFocus, ActivationRemembersAndRestoresTheFocusedControl) {
  AnsweredWindow window;
  window->Control(kContrastBoxId)->setFocus();
  EXPECT_EQ(window->FocusedControl(), kContrastBoxId);
  // The window is not active, so an activation change is a loss of activation.
  QEvent change(QEvent::ActivationChange);
  QCoreApplication::sendEvent(&*window, &change);
  EXPECT_EQ(window->session().RememberedFocus, kContrastBoxId);

  window->Control(kStatusLogId)->setFocus();
  EXPECT_EQ(window->FocusedControl(), kStatusLogId);
  ActivationChanged(window->session(), true);
  EXPECT_EQ(window->FocusedControl(), kContrastBoxId);
  EXPECT_EQ(window->session().RememberedFocus, 0);
}

TEST(MainWindowLoop, CloseButtonEndsWithZeroAndKeepsTheWindowState) {
  AnsweredWindow window;
  window->InsertLogLine(0, "kept");
  QTimer::singleShot(0, &*window, [&] { window->close(); });
  EXPECT_EQ(window->RunModalLoop(), 0);
  EXPECT_FALSE(window->isVisible());
  EXPECT_EQ(LogLines(*window), QStringList({"kept"}));
}

TEST(MainWindowLoop, QuitResetsTheWindowAndEndsWithZero) {
  AnsweredWindow window;
  window->InsertLogLine(0, "cleared");
  window->SetMenuItemEnabled(kOpenPfmCommand, false);
  QTimer::singleShot(0, &*window, [&] { window->MenuAction(kQuitCommand)->trigger(); });
  EXPECT_EQ(window->RunModalLoop(), 0);
  EXPECT_FALSE(window->isVisible());
  EXPECT_TRUE(LogLines(*window).isEmpty());
  EXPECT_TRUE(window->MenuAction(kOpenPfmCommand)->isEnabled());
}

}  // namespace
}  // namespace lumivane
