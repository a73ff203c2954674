// Ways to reach what the window already does: keyboard shortcuts for three
// menu items, and a "Copy" menu on the status log.
#pragma once

#include <QString>
#include <map>

class QAction;
class QListWidget;

namespace lumivane {

// F1 for Help > General, Ctrl+O for File > "Open HDR", Ctrl+Q for Quit; the
// menus show them beside the unchanged item texts.
void AddMenuShortcuts(const std::map<int, QAction*>& actions);

// The log's selected lines in their order, or every line when none is
// selected, one per line.
QString LogTextToCopy(const QListWidget& log);

// A context menu with "Copy", which puts LogTextToCopy on the clipboard. Lines
// can be selected in ranges; nothing scrolls the view.
void AddLogCopyMenu(QListWidget& log);

}  // namespace lumivane
