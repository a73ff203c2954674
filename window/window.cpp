#include "window/window.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontMetrics>
#include <QGroupBox>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QUrl>
#include <algorithm>
#include <climits>
#include <utility>

#include "imaging/previewsampler.h"
#include "imaging/settings.h"
#include "shell/routing.h"
#include "shell/controlids.h"
#include "shell/dispatch.h"
#include "window/windowextras.h"
#include "window/windowplacement.h"
#include "window/windowpreview.h"

// The icons live in a static library; nothing there would pull their
// registration into the program without this call.
static void InitialiseWindowResources() {
  Q_INIT_RESOURCE(lumivane);
}

namespace lumivane {

namespace {

constexpr char kControlIdProperty[] = "controlId";
constexpr char kCommandIdProperty[] = "commandId";

// The layout was drawn for "MS Sans Serif"; where it is missing, a face of
// about the same width keeps the texts inside their controls.
QFont SansSerifFont(int points, bool bold) {
  QFont font;
  font.setFamilies({"MS Sans Serif", "Microsoft Sans Serif", "Arial", "Liberation Sans", "Arimo",
                    "Nimbus Sans", "Helvetica"});
  font.setStyleHint(QFont::SansSerif);
  font.setPointSize(points);
  font.setBold(bold);
  return font;
}

// Columns of the log line up only in a fixed-pitch face.
QFont MonospaceFont(int points) {
  QFont font;
  font.setFamilies({"Courier New", "Liberation Mono", "Cousine", "DejaVu Sans Mono",
                    "Noto Sans Mono", "Nimbus Mono PS"});
  font.setStyleHint(QFont::TypeWriter);
  font.setFixedPitch(true);
  font.setPointSize(points);
  return font;
}

QString FromText(const std::string& text) {
  return QString::fromStdString(text);
}

// Help texts break their lines with CR LF; a Qt box breaks at LF alone.
QString BoxText(const std::string& text) {
  QString result = FromText(text);
  result.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  return result;
}

QMessageBox::Icon BoxIcon(BoxKind kind) {
  switch (kind) {
    case BoxKind::Error:
      return QMessageBox::Critical;
    case BoxKind::Warning:
      return QMessageBox::Warning;
    case BoxKind::Information:
      break;
  }
  return QMessageBox::Information;
}

int ProgressValue(std::uint32_t value, int shift) {
  return static_cast<int>(value >> shift);
}

}  // namespace

DialogUnits DialogUnits::Of(const QFont& font) {
  const QFontMetrics metrics(font);
  const int letters = metrics.horizontalAdvance(
      QStringLiteral("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"));
  DialogUnits units;
  units.BaseWidth = std::max(1, (letters / 26 + 1) / 2);
  units.BaseHeight = std::max(1, metrics.height());
  return units;
}

int DialogUnits::X(int units) const {
  return (units * BaseWidth * 2 + 4) / 8;
}

int DialogUnits::Y(int units) const {
  return (units * BaseHeight + 4) / 8;
}

QRect DialogUnits::Rect(int x, int y, int width, int height) const {
  return QRect(X(x), Y(y), X(width), Y(height));
}

QString NameFilterText(const FileFilter& filter) {
  const QString pattern = filter.Pattern == "*.*" ? QStringLiteral("*") : FromText(filter.Pattern);
  return FromText(filter.Name) + QStringLiteral(" (") + pattern + QStringLiteral(")");
}

void ConfigureFileDialog(QFileDialog& dialog, const FileDialogRequest& request) {
  const bool save = request.Kind == DialogKind::Save;
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setOption(QFileDialog::DontConfirmOverwrite);
  dialog.setWindowTitle(FromText(request.Title));
  dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
  dialog.setDirectory(QFile::decodeName(QByteArray::fromStdString(request.InitialFolder)));
  QStringList filters;
  for (const FileFilter& filter : request.Filters) filters << NameFilterText(filter);
  dialog.setNameFilters(filters);
  if (!filters.isEmpty()) dialog.selectNameFilter(filters.first());
  dialog.setDefaultSuffix(FromText(request.DefaultExtension));
  dialog.setWindowModality(Qt::ApplicationModal);
  dialog.move(300, 200);
}

MainWindow::MainWindow()
    : RunBox([](QMessageBox& box) { return box.exec(); }),
      RunDialog([](QFileDialog& dialog) { return dialog.exec(); }),
      windowFont_(SansSerifFont(8, false)),
      titleFont_(SansSerifFont(12, true)),
      logFont_(MonospaceFont(8)),
      settingsFont_(SansSerifFont(10, false)),
      hintFont_(SansSerifFont(10, true)),
      units_(DialogUnits::Of(windowFont_)) {
  InitialiseWindowResources();
  setWindowTitle(QStringLiteral("LUMIVANE v1.22"));
  QIcon icon;
  icon.addFile(QStringLiteral(":/lumivane/lumivane-32.png"));
  icon.addFile(QStringLiteral(":/lumivane/lumivane.png"));
  setWindowIcon(icon);
  // A fixed dialog frame: title, system menu, minimise and close, no maximise.
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
  setFont(windowFont_);
  CreateControls();
  CreateMenuBar();
  layout()->setSizeConstraint(QLayout::SetFixedSize);
  move(units_.X(320), units_.Y(250));
  session_ = std::make_unique<Session>(*this);
  StartSession(*session_);
  sampler_ = std::make_unique<PreviewSampler>();
  session_->Preview = sampler_.get();
  preview_ = std::make_unique<PreviewWindow>(*sampler_);
  AddMenuShortcuts(actions_);
  AddLogCopyMenu(*log_);
  setAcceptDrops(true);
}

MainWindow::~MainWindow() = default;

void MainWindow::CreateControls() {
  auto* client = new QWidget(this);
  client->setFixedSize(units_.X(380), units_.Y(261));
  setCentralWidget(client);

  const auto place = [&](QWidget* control, int id, QRect rect) {
    control->setObjectName(QStringLiteral("control%1").arg(id));
    control->setProperty(kControlIdProperty, id);
    control->setGeometry(rect);
    control->installEventFilter(this);
    controls_[id] = control;
  };
  // Static texts of the original are top-aligned and wrap at word breaks.
  const auto label = [&](int id, const QString& text, QRect rect) {
    auto* control = new QLabel(text, client);
    control->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    control->setWordWrap(true);
    place(control, id, rect);
    return control;
  };

  // Creation order is the tab order: list, edit boxes, button, checkbox.
  label(kTitleLabelId, QStringLiteral("Simple 96 bit HDRI to 24-bit TIFF Tone-Mapper"),
        units_.Rect(20, 10, 345, 20));
  label(kLogCaptionId, QStringLiteral("Status/Progress Log (read only)."),
        units_.Rect(20, 30, 120, 10));

  log_ = new QListWidget(client);
  log_->setSortingEnabled(false);
  log_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  log_->setFocusPolicy(Qt::StrongFocus);
  place(log_, kStatusLogId, units_.Rect(20, 40, 340, 90));

  progress_ = new QProgressBar(client);
  progress_->setTextVisible(false);
  progress_->setFormat(QStringLiteral("ProgressBar1"));
  progress_->setFocusPolicy(Qt::NoFocus);
  place(progress_, kProgressBarId, units_.Rect(20, 135, 340, 10));

  brightness_ = new QLineEdit(QString::fromLatin1(kBrightnessRule.DefaultText), client);
  place(brightness_, kBrightnessBoxId, units_.Rect(30, 180, 40, 15));
  contrast_ = new QLineEdit(QString::fromLatin1(kContrastRule.DefaultText), client);
  place(contrast_, kContrastBoxId, units_.Rect(30, 200, 40, 15));

  label(kBrightnessLabelId, QStringLiteral("Brightness 0.01 ... 10.00 (Default 0.8) [ERF]"),
        units_.Rect(75, 182, 200, 15));
  label(kContrastLabelId, QStringLiteral("Contrast 0.10 ... 10.0 (Default 1.2) [Post Gamma]"),
        units_.Rect(75, 202, 200, 15));

  accept_ = new QPushButton(QStringLiteral("Accept"), client);
  accept_->setAutoDefault(false);
  place(accept_, kAcceptButtonId, units_.Rect(280, 191, 70, 24));
  connect(accept_, &QPushButton::clicked, this, [this] { RunCommand(kAcceptButtonId); });

  auto* frame = new QGroupBox(QStringLiteral("Fine Adjustment (set first, then [Accept])"), client);
  place(frame, kFineAdjustmentFrameId, units_.Rect(20, 160, 340, 80));
  // The frame surrounds the boxes; below them it cannot take their clicks.
  frame->lower();

  label(kHintLabelId,
        QStringLiteral("Fastest - and in most cases best - conversion if both values set to 1.0."),
        units_.Rect(30, 220, 320, 15));

  warmColours_ = new QCheckBox(QStringLiteral("Warm Colours"), client);
  place(warmColours_, kWarmColoursBoxId, units_.Rect(280, 175, 70, 10));
  connect(warmColours_, &QCheckBox::clicked, this, [this] { RunCommand(kWarmColoursBoxId); });

  for (const int id : {kTitleLabelId, kAcceptButtonId, kFineAdjustmentFrameId})
    controls_[id]->setFont(titleFont_);
  log_->setFont(logFont_);
  for (const int id :
       {kBrightnessBoxId, kContrastBoxId, kBrightnessLabelId, kContrastLabelId, kWarmColoursBoxId})
    controls_[id]->setFont(settingsFont_);
  controls_[kHintLabelId]->setFont(hintFont_);

  // Esc anywhere in the window, the window itself included, is a command.
  installEventFilter(this);
}

void MainWindow::CreateMenuBar() {
  QMenuBar* bar = menuBar();
  bar->setNativeMenuBar(false);
  std::map<std::string, QMenu*> menus;
  for (const MenuItem& item : MenuTable()) {
    QMenu*& menu = menus[item.Menu];
    if (menu == nullptr) menu = bar->addMenu(FromText(item.Menu));
    if (item.Id == 0) {
      menu->addSeparator();
      continue;
    }
    QAction* action = menu->addAction(FromText(item.Text));
    action->setObjectName(QStringLiteral("command%1").arg(item.Id));
    action->setProperty(kCommandIdProperty, item.Id);
    const int id = item.Id;
    connect(action, &QAction::triggered, this, [this, id] { RunCommand(id); });
    actions_[id] = action;
  }
}

int MainWindow::RunModalLoop() {
  show();
  KeepOnScreenOnceFramed(*this);
  raise();
  activateWindow();
  loopRunning_ = true;
  const int result = QApplication::exec();
  loopRunning_ = false;
  return result;
}

QWidget* MainWindow::Control(int controlId) const {
  const auto found = controls_.find(controlId);
  return found == controls_.end() ? nullptr : found->second;
}

QAction* MainWindow::MenuAction(int commandId) const {
  const auto found = actions_.find(commandId);
  return found == actions_.end() ? nullptr : found->second;
}

void MainWindow::RunCommand(int commandId) {
  HandleCommand(*session_, commandId);
  preview_->AfterCommand(commandId, session_->Settings);
  // A close asked for while a job ran takes effect once the job is over.
  if (closeRequested_ && !session_->JobRunning) {
    closeRequested_ = false;
    close();
  }
}

std::string MainWindow::EditText(int controlId) {
  auto* box = qobject_cast<QLineEdit*>(Control(controlId));
  return box == nullptr ? std::string() : box->text().toStdString();
}

void MainWindow::SetEditText(int controlId, const std::string& text) {
  if (auto* box = qobject_cast<QLineEdit*>(Control(controlId))) box->setText(FromText(text));
}

int MainWindow::CheckboxState(int controlId) {
  auto* box = qobject_cast<QCheckBox*>(Control(controlId));
  return box != nullptr && box->isChecked() ? 1 : 0;
}

void MainWindow::SetMenuItemEnabled(int commandId, bool enabled) {
  if (QAction* action = MenuAction(commandId)) action->setEnabled(enabled);
}

void MainWindow::SetProgressRange(std::uint32_t low, std::uint32_t high) {
  progressLow_ = low;
  progressHigh_ = high;
  progressShift_ = std::max(low, high) > static_cast<std::uint32_t>(INT_MAX) ? 1 : 0;
  progress_->setRange(ProgressValue(low, progressShift_), ProgressValue(high, progressShift_));
}

void MainWindow::SetProgressPosition(std::uint32_t position) {
  // The bar, like the original control, keeps the position inside its bounds.
  const std::uint32_t first = std::min(progressLow_, progressHigh_);
  const std::uint32_t last = std::max(progressLow_, progressHigh_);
  progress_->setValue(ProgressValue(std::clamp(position, first, last), progressShift_));
  // A job runs inside a command; letting paint and timer events through now
  // and then keeps the window drawn while clicks and keys wait for its end.
  if (!sinceRepaint_.isValid() || sinceRepaint_.elapsed() >= 50) {
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    sinceRepaint_.start();
  }
}

void MainWindow::InsertLogLine(std::size_t position, const std::string& text) {
  const int count = log_->count();
  const int row = position > static_cast<std::size_t>(count) ? count : static_cast<int>(position);
  log_->insertItem(row, FromText(text));
}

void MainWindow::DeleteLogLine(std::size_t position) {
  if (position < static_cast<std::size_t>(log_->count()))
    delete log_->takeItem(static_cast<int>(position));
}

void MainWindow::ClearLog() {
  log_->clear();
}

void MainWindow::ShowMessageBox(const std::string& text, const std::string& title, BoxKind kind) {
  // No owner: the box stands on its own and blocks the whole program.
  QMessageBox box(BoxIcon(kind), FromText(title), BoxText(text), QMessageBox::Ok);
  box.setTextFormat(Qt::PlainText);
  box.setWindowModality(Qt::ApplicationModal);
  box.setWindowIcon(windowIcon());
  FitBoxToTitleAndText(box);
  RunBox(box);
}

namespace {

// The one local file a drag carries, or empty text.
QString DraggedFile(const QMimeData* data) {
  if (data == nullptr || !data->hasUrls() || data->urls().size() != 1) return {};
  const QUrl url = data->urls().first();
  return url.isLocalFile() ? url.toLocalFile() : QString();
}

}  // namespace

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
  if (!session_->JobRunning && !DraggedFile(event->mimeData()).isEmpty())
    event->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent* event) {
  const QString path = DraggedFile(event->mimeData());
  if (path.isEmpty()) return;
  event->acceptProposedAction();
  OpenImageFile(QFile::encodeName(QFileInfo(path).absoluteFilePath()).toStdString());
}

void MainWindow::OpenImageFile(const std::string& path) {
  if (session_->JobRunning) return;
  const InputRoute route = RouteInput(path);
  const int command = ToneMapCommand(route);
  if (command == 0) {
    ShowMessageBox(path + (route.Error.empty() ? " is not a " + ReadableFormatNames() + " file"
                                               : ": " + route.Error),
                   "LUMIVANE - File|Open", BoxKind::Error);
    return;
  }
  pendingOpenPath_ = path;
  RunCommand(command);
  pendingOpenPath_.clear();
}

std::string MainWindow::RunFileDialog(const FileDialogRequest& request) {
  if (request.Kind == DialogKind::Open && !pendingOpenPath_.empty())
    return std::exchange(pendingOpenPath_, std::string());
  QFileDialog dialog;
  ConfigureFileDialog(dialog, request);
  dialog.setWindowIcon(windowIcon());
  if (RunDialog(dialog) != QDialog::Accepted) return {};
  const QStringList files = dialog.selectedFiles();
  if (files.isEmpty()) return {};
  const QString path = QFileInfo(files.first()).absoluteFilePath();
  if (request.Kind == DialogKind::Save && !QFileInfo::exists(path) &&
      !ConfirmCreate(path, dialog.windowTitle()))
    return {};
  return QFile::encodeName(path).toStdString();
}

bool MainWindow::ConfirmCreate(const QString& path, const QString& title) {
  QMessageBox box(QMessageBox::Question, title,
                  QFileInfo(path).fileName() +
                      QStringLiteral("\nThis file does not exist.\nDo you want to create it?"),
                  QMessageBox::Yes | QMessageBox::No);
  box.setTextFormat(Qt::PlainText);
  box.setDefaultButton(QMessageBox::Yes);
  box.setWindowModality(Qt::ApplicationModal);
  box.setWindowIcon(windowIcon());
  FitBoxToTitleAndText(box);
  return RunBox(box) == QMessageBox::Yes;
}

int MainWindow::FocusedControl() {
  QWidget* focused = focusWidget();
  if (focused == nullptr) return 0;
  return focused->property(kControlIdProperty).toInt();
}

void MainWindow::SetFocusedControl(int controlId) {
  if (QWidget* control = Control(controlId)) control->setFocus(Qt::ActiveWindowFocusReason);
}

void MainWindow::EndModalLoop(int result) {
  hide();
  preview_->hide();
  if (loopRunning_) QCoreApplication::exit(result);
}

void MainWindow::closeEvent(QCloseEvent* event) {
  if (session_->JobRunning) {
    closeRequested_ = true;
    event->ignore();
    return;
  }
  event->accept();
  preview_->hide();
  if (loopRunning_) QCoreApplication::exit(0);
}

void MainWindow::changeEvent(QEvent* event) {
  if (event->type() == QEvent::ActivationChange && session_ != nullptr)
    ActivationChanged(*session_, isActiveWindow());
  QMainWindow::changeEvent(event);
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress) {
    switch (static_cast<QKeyEvent*>(event)->key()) {
      case Qt::Key_Return:
      case Qt::Key_Enter:
        // Enter on the push button presses it; anywhere else it is command 1.
        RunCommand(watched == accept_ ? int{kAcceptButtonId} : int{kEnterKeyCommand});
        return true;
      case Qt::Key_Escape:
        RunCommand(kEscapeKeyCommand);
        return true;
      default:
        break;
    }
  }
  return QMainWindow::eventFilter(watched, event);
}

}  // namespace lumivane
