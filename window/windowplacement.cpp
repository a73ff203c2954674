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
#include <array>

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

// The free room on each side of `neighbour` inside `available`.
struct SideRoom {
  QRect Room;
  bool Horizontal;  // left or right of the neighbour
};

std::array<SideRoom, 4> RoomsBeside(const QRect& neighbour, const QRect& available) {
  const QRect inside = neighbour.intersected(available);
  const int top = available.top(), bottom = available.bottom();
  const int left = available.left(), right = available.right();
  return {{{QRect(QPoint(inside.right() + 1, top), QPoint(right, bottom)), true},
           {QRect(QPoint(left, top), QPoint(inside.left() - 1, bottom)), true},
           {QRect(QPoint(left, inside.bottom() + 1), QPoint(right, bottom)), false},
           {QRect(QPoint(left, top), QPoint(right, inside.top() - 1)), false}}};
}

long long Area(const QSize& size) {
  return size.isValid() ? static_cast<long long>(size.width()) * size.height() : 0;
}

}  // namespace

QRect PlaceBeside(const QRect& neighbour, QSize wanted, const QRect& available, QSize least) {
  const std::array<SideRoom, 4> rooms = RoomsBeside(neighbour, available);
  const SideRoom* best = nullptr;
  long long bestArea = -1;
  for (const SideRoom& side : rooms) {
    const long long area = Area(side.Room.size().boundedTo(wanted));
    const bool fits = side.Room.width() >= least.width() && side.Room.height() >= least.height();
    const bool bestFits =
        best && best->Room.width() >= least.width() && best->Room.height() >= least.height();
    if (best == nullptr || (fits && !bestFits) || (fits == bestFits && area > bestArea)) {
      best = &side;
      bestArea = area;
    }
  }
  QSize size = wanted.boundedTo(available.size());
  if (best->Room.width() >= least.width() && best->Room.height() >= least.height())
    size = size.boundedTo(best->Room.size());
  else
    size = least.boundedTo(available.size());
  // Beside the neighbour's edge, level with it where the room allows.
  QRect frame(QPoint(0, 0), size);
  const QRect& room = best->Room;
  if (best->Horizontal) {
    const bool right = room.left() > neighbour.left();
    frame.moveLeft(right ? room.left() : room.right() + 1 - size.width());
    frame.moveTop(neighbour.top());
  } else {
    const bool below = room.top() > neighbour.top();
    frame.moveTop(below ? room.top() : room.bottom() + 1 - size.height());
    frame.moveLeft(neighbour.left());
  }
  frame.moveTopLeft(PositionInside(frame, available));
  return frame;
}

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
