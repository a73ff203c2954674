// bin/lumivane: the program's window. `--screenshot FILE` draws the window
// once into a PNG and ends, which works without a display. `lumivane IMAGE`
// shows IMAGE in the preview window at start, ready to be tone-mapped there.
#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QPixmap>
#include <QStringList>
#include <QTimer>
#include <csignal>
#include <cstdio>

#include "io/termination.h"
#include "shell/environment.h"
#include "window/window.h"
#include "window/windowpreview.h"

int main(int argc, char** argv) {
  // A pipe or FIFO output whose reader quits fails the job (EPIPE) instead of
  // killing the window; a file-size limit fails it the same way.
  std::signal(SIGPIPE, SIG_IGN);
  std::signal(SIGXFSZ, SIG_IGN);
  lumivane::InstallTerminationCleanup();
  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("lumivane"));
  QApplication::setApplicationVersion(QStringLiteral(LUMIVANE_VERSION));
  QGuiApplication::setDesktopFileName(QStringLiteral("lumivane"));
  // The window's own close and Quit end the loop; a last window closing must not end it twice.
  QApplication::setQuitOnLastWindowClosed(false);

  std::string limitsError;
  const std::optional<lumivane::ReadLimits> limits = lumivane::LimitsFromEnvironment(limitsError);
  if (!limits) {
    std::fprintf(stderr, "lumivane: %s\n", limitsError.c_str());
    return 2;
  }
  const QStringList arguments = QApplication::arguments();
  const qsizetype screenshot = arguments.indexOf(QStringLiteral("--screenshot"));
  lumivane::MainWindow window;
  window.session().Settings.Limits = *limits;
  if (screenshot >= 0) {
    if (screenshot + 1 >= arguments.size()) {
      std::fprintf(stderr, "lumivane: --screenshot needs a file name\n");
      return 2;
    }
    window.show();
    QApplication::processEvents();
    if (!window.grab().save(arguments.at(screenshot + 1), "PNG")) {
      std::fprintf(stderr, "lumivane: cannot write %s\n", qPrintable(arguments.at(screenshot + 1)));
      return 1;
    }
    return 0;
  }
  window.Preview().SetNeighbour(&window);
  window.Preview().SetLimits(*limits);
  // `lumivane FILE`, as the desktop entry starts it: FILE shows in the
  // preview once the window is up, with no dialog to answer first.
  if (arguments.size() == 2) {
    const std::string path =
        QFile::encodeName(QFileInfo(arguments.at(1)).absoluteFilePath()).toStdString();
    QTimer::singleShot(0, &window, [&window, path] { window.Preview().OpenFile(path); });
  }
  return window.RunModalLoop();
}
