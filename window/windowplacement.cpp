#include "window/windowplacement.h"

#include <QApplication>
#include <QCursor>
#include <QFontMetrics>
#include <QGridLayout>
#include <QGuiApplication>
#include <QMessageBox>
#include <QRegularExpression>
#include <QScreen>
#include <QSpacerItem>
#include <QTimer>
#include <QWidget>
#include <algorithm>

namespace lumivane {

namespace {

int AxisInside(int start, int length, int areaStart, int areaLength) {
  if (length >= areaLength) return areaStart;
  return std::clamp(start, areaStart, areaStart + areaLength - length);
}

// Room in a title bar beside its text: the icon and the buttons a window
// manager puts there.
constexpr int kTitleBarExtra = 140;
// Room in a box beside its text: the icon and the margins.
constexpr int kBoxTextExtra = 100;

}  // namespace

QPoint PositionInside(const QRect& frame, const QRect& available) {
  return {AxisInside(frame.x(), frame.width(), available.x(), available.width()),
          AxisInside(frame.y(), frame.height(), available.y(), available.height())};
}

void KeepOnScreen(QWidget& window) {
  QScreen* screen = QGuiApplication::screenAt(QCursor::pos());
  if (screen == nullptr) screen = window.screen();
  if (screen == nullptr) screen = QGuiApplication::primaryScreen();
  if (screen == nullptr) return;
  const QRect frame = window.frameGeometry();
  const QPoint corner = PositionInside(frame, screen->availableGeometry());
  // move() places the frame's corner for a top-level window.
  if (corner != frame.topLeft()) window.move(corner);
}

void KeepOnScreenOnceFramed(QWidget& window) {
  // Before the frame is known, its size and the corner that move() takes
  // are the client area's: fitting then would be off by the frame.
  QTimer::singleShot(300, &window, [&window] { KeepOnScreen(window); });
}

void FitBoxToTitleAndText(QMessageBox& box) {
  auto* grid = qobject_cast<QGridLayout*>(box.layout());
  if (grid == nullptr) return;
  // Title bars use a bold face about the size of the application's.
  QFont titleFont = QApplication::font("QMdiSubWindowTitleBar");
  titleFont.setBold(true);
  int width = QFontMetrics(titleFont).horizontalAdvance(box.windowTitle()) + kTitleBarExtra;
  const QFontMetrics textMetrics(box.font());
  int widestWord = 0;
  for (const QString& word : box.text().split(QRegularExpression(QStringLiteral("\\s+"))))
    widestWord = std::max(widestWord, textMetrics.horizontalAdvance(word));
  width = std::max(width, widestWord + kBoxTextExtra);
  if (const QScreen* screen = box.screen())
    width = std::min(width, screen->availableGeometry().width());
  // A message box sizes itself to its text; a spacer across its grid is the
  // one width it keeps.
  grid->addItem(new QSpacerItem(width, 0, QSizePolicy::Minimum, QSizePolicy::Expanding),
                grid->rowCount(), 0, 1, grid->columnCount());
}

}  // namespace lumivane
