#include "window/windowextras.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QKeySequence>
#include <QListWidget>
#include <algorithm>
#include <vector>

#include "shell/controlids.h"

namespace lumivane {

void AddMenuShortcuts(const std::map<int, QAction*>& actions) {
  const std::pair<int, QKeySequence> keys[] = {
      {kGeneralHelpCommand, QKeySequence(Qt::Key_F1)},
      {kOpenHdrCommand, QKeySequence(Qt::CTRL | Qt::Key_O)},
      {kQuitCommand, QKeySequence(Qt::CTRL | Qt::Key_Q)}};
  for (const auto& [id, key] : keys) {
    const auto found = actions.find(id);
    if (found == actions.end()) continue;
    found->second->setShortcut(key);
    // The keys work while the preview window has the focus as well.
    found->second->setShortcutContext(Qt::ApplicationShortcut);
  }
}

QString LogTextToCopy(const QListWidget& log) {
  std::vector<int> rows;
  for (const QListWidgetItem* item : log.selectedItems()) rows.push_back(log.row(item));
  std::sort(rows.begin(), rows.end());
  if (rows.empty())
    for (int row = 0; row < log.count(); ++row) rows.push_back(row);
  QStringList lines;
  for (const int row : rows) lines << log.item(row)->text();
  return lines.join(QLatin1Char('\n'));
}

void AddLogCopyMenu(QListWidget& log) {
  log.setSelectionMode(QAbstractItemView::ExtendedSelection);
  log.setContextMenuPolicy(Qt::ActionsContextMenu);
  auto* copy = new QAction(QStringLiteral("Copy"), &log);
  copy->setObjectName(QStringLiteral("copyLog"));
  copy->setShortcut(QKeySequence::Copy);
  copy->setShortcutContext(Qt::WidgetShortcut);
  QObject::connect(copy, &QAction::triggered, &log,
                   [&log] { QApplication::clipboard()->setText(LogTextToCopy(log)); });
  log.addAction(copy);
}

}  // namespace lumivane
