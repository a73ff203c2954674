#include "window/windowpreview.h"

#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <climits>
#include <cmath>

#include "formats/formattable.h"
#include "shell/controlids.h"
#include "steps/statuslog.h"
#include "window/operatorcontrols.h"
#include "window/windowplacement.h"

namespace lumivane {

namespace {

QString Number(double value) {
  return QString::fromStdString(FormatNumber(value, 7)).trimmed();
}

bool IsToneMappingCommand(int commandId) {
  return commandId == kOpenHdrCommand || commandId == kOpenTiffCommand ||
         commandId == kOpenPfmCommand;
}

}  // namespace

void PreviewImageView::SetImage(const QImage& image) {
  image_ = image;
  update();
}

QRect PreviewImageView::ImageRect() const {
  if (image_.isNull()) return {};
  // A small image keeps its own pixels: scaling it up would only blur them.
  QSize size = image_.size();
  if (size.width() > width() || size.height() > height())
    size.scale(this->size(), Qt::KeepAspectRatio);
  return QRect(QPoint((width() - size.width()) / 2, (height() - size.height()) / 2), size);
}

void PreviewImageView::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), QColor(48, 48, 48));
  if (image_.isNull()) return;
  const QRect drawn = ImageRect();
  if (drawn.size() != image_.size()) painter.setRenderHint(QPainter::SmoothPixmapTransform);
  painter.drawImage(drawn, image_);
}

HistogramView::HistogramView(QWidget* parent) : QWidget(parent) {
  setMinimumHeight(90);
  setMaximumHeight(140);
}

void HistogramView::SetHistograms(const ChannelHistograms& histograms) {
  histograms_ = histograms;
  update();
}

void HistogramView::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), Qt::black);
  std::uint32_t tallest = 1;
  for (const auto& channel : histograms_)
    tallest = std::max(tallest, *std::max_element(channel.begin(), channel.end()));
  // A square-root scale: a small peak (a clipped highlight) still shows
  // beside the tall bulk of the mid-tones.
  const double top = std::sqrt(static_cast<double>(tallest));
  const QRectF area = QRectF(rect()).adjusted(2, 4, -2, -2);
  const QColor colours[3] = {QColor(255, 0, 0), QColor(0, 255, 0), QColor(0, 0, 255)};
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setCompositionMode(QPainter::CompositionMode_Plus);
  for (int c = 0; c < 3; ++c) {
    QPainterPath path(area.bottomLeft());
    for (int v = 0; v < 256; ++v) {
      const double height = std::sqrt(static_cast<double>(histograms_[c][v])) / top * area.height();
      const double left = area.left() + area.width() * v / 256.0;
      const double right = area.left() + area.width() * (v + 1) / 256.0;
      path.lineTo(left, area.bottom() - height);
      path.lineTo(right, area.bottom() - height);
    }
    path.lineTo(area.bottomRight());
    path.closeSubpath();
    painter.fillPath(path, colours[c]);
  }
}

namespace {

constexpr QSize kWantedPreviewFrame(760, 680);

QString Patterns(const FormatRow& row) {
  QStringList patterns;
  for (const std::string& extension : row.Extensions)
    patterns << QStringLiteral("*.") + QString::fromStdString(extension);
  return patterns.join(QLatin1Char(' '));
}

QStringList FiltersOf(bool (*wanted)(const FormatRow&), const QString& allName) {
  QStringList each, all;
  for (const FormatRow& row : FormatTable()) {
    if (!wanted(row)) continue;
    each << QString::fromLatin1(row.Name) + QStringLiteral(" (") + Patterns(row) +
                QStringLiteral(")");
    all << Patterns(row);
  }
  QStringList filters;
  if (!allName.isEmpty())
    filters << allName + QStringLiteral(" (") + all.join(QLatin1Char(' ')) + QStringLiteral(")");
  return filters + each;
}

bool Readable(const FormatRow& row) {
  return row.Reads();
}

QString FromPath(const std::string& path) {
  return QFile::decodeName(QByteArray::fromStdString(path));
}

}  // namespace

QStringList ReadableImageFilters() {
  return FiltersOf(Readable, QStringLiteral("Images")) << QStringLiteral("All files (*)");
}

QStringList SavedImageFilters() {
  return FiltersOf(SavedAsFormat, QString());
}

PreviewWindow::PreviewWindow(const PreviewSampler& sampler)
    : QWidget(nullptr, Qt::Window),
      RunDialog([](QFileDialog& dialog) { return dialog.exec(); }),
      sampler_(sampler) {
  setWindowTitle(QStringLiteral("LUMIVANE - Preview"));
  setObjectName(QStringLiteral("preview"));
  // It shows results; the keyboard stays with the main window's settings.
  setAttribute(Qt::WA_ShowWithoutActivating);
  setFocusPolicy(Qt::NoFocus);
  open_ = new QPushButton(QStringLiteral("Open..."), this);
  open_->setObjectName(QStringLiteral("open"));
  save_ = new QPushButton(QStringLiteral("Save as..."), this);
  save_->setObjectName(QStringLiteral("saveAs"));
  save_->setEnabled(false);
  controls_ = new OperatorControls(this);
  view_ = new PreviewImageView(this);
  view_->setMinimumSize(160, 100);
  histogram_ = new HistogramView(this);
  progress_ = new QProgressBar(this);
  progress_->setTextVisible(false);
  progress_->setMaximumHeight(8);
  status_ = new QLabel(this);
  status_->setTextInteractionFlags(Qt::NoTextInteraction);
  status_->setWordWrap(true);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(open_);
  buttons->addWidget(save_);
  buttons->addStretch(1);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(4, 4, 4, 4);
  layout->addLayout(buttons);
  layout->addWidget(controls_);
  layout->addWidget(view_, 1);
  layout->addWidget(histogram_);
  layout->addWidget(progress_);
  layout->addWidget(status_);
  resize(kWantedPreviewFrame);
  // Slider moves come faster than a large preview maps: the last one wins.
  renderSoon_ = new QTimer(this);
  renderSoon_->setSingleShot(true);
  renderSoon_->setInterval(0);
  connect(renderSoon_, &QTimer::timeout, this, [this] { RenderPicture(); });
  controls_->Changed = [this] {
    // The main window's result, mapped here from its samples from now on.
    if (!picture_ && sampler_.Last() != nullptr) {
      const PreviewSamples& samples = *sampler_.Last();
      picture_ = PreviewPicture{samples.Size.Width, samples.Size.Height, samples.Values,
                                samples.ImageWidth, samples.ImageHeight, std::string()};
    }
    if (picture_) renderSoon_->start();
  };
  connect(open_, &QPushButton::clicked, this, [this] { ChooseAndOpen(); });
  connect(save_, &QPushButton::clicked, this, [this] { ChooseAndSave(); });
}

void PreviewWindow::AfterCommand(int commandId, const JobSettings& settings) {
  if (IsToneMappingCommand(commandId)) {
    const PreviewSamples* samples = sampler_.Last();
    if (samples == nullptr) {
      // A job began and failed: the samples of what this window showed are gone.
      // An image opened here stays.
      if (!picture_ || picture_->Path.empty()) {
        picture_.reset();
        hide();
      }
      return;
    }
    if (sampler_.Finished() == shownJob_) return;
    shownJob_ = sampler_.Finished();
    picture_.reset();
    save_->setEnabled(false);
    Render(samples->Settings);
    ShowBeside();
    return;
  }
  // The main window's settings show its result again; an image opened here
  // keeps what was chosen for it.
  if ((commandId == kAcceptButtonId || commandId == kWarmColoursBoxId) && isVisible() &&
      sampler_.Last() != nullptr && (!picture_ || picture_->Path.empty())) {
    picture_.reset();
    Render({settings.Brightness, settings.PostGamma, settings.WarmColours != 0});
  }
}

void PreviewWindow::ShowBeside() {
  if (isVisible()) return;
  // Some platforms activate every window they show; the active one gets its
  // turn back.
  QWidget* active = QApplication::activeWindow();
  show();
  if (active != nullptr && active != this) active->activateWindow();
  if (placed_) return;
  placed_ = true;
  // The frames are known once the window manager has put them around both
  // windows, and the main window has been fitted to the screen.
  QTimer::singleShot(400, this, [this] { PlaceBesideNeighbour(); });
}

void PreviewWindow::PlaceBesideNeighbour() {
  const QScreen* screen = neighbour_ != nullptr ? neighbour_->screen() : this->screen();
  if (neighbour_ == nullptr || screen == nullptr || !neighbour_->isVisible()) {
    KeepOnScreen(*this);
    return;
  }
  const QRect frame = frameGeometry(), client = geometry();
  const QSize margins = frame.size() - client.size();
  const QRect placed = PlaceBeside(neighbour_->frameGeometry(), kWantedPreviewFrame,
                                   screen->availableGeometry(), kLeastPreviewFrame);
  resize(placed.size() - margins);
  move(placed.topLeft());
}

void PreviewWindow::Render(const ToneSettings& settings) {
  const PreviewSamples& samples = *sampler_.Last();
  shown_ = JobSettings{};
  shown_.Limits = limits_;
  shown_.Brightness = settings.Brightness;
  shown_.PostGamma = settings.PostGamma;
  shown_.WarmColours = settings.WarmColours ? 1 : 0;
  QString text = QFileInfo(QString::fromStdString(samples.OutputFileName)).fileName() +
                 QStringLiteral("  |  %1 x %2").arg(samples.ImageWidth).arg(samples.ImageHeight);
  if (samples.Size.Width != samples.ImageWidth || samples.Size.Height != samples.ImageHeight)
    text += QStringLiteral(" (shown from %1 x %2 samples)")
                .arg(samples.Size.Width)
                .arg(samples.Size.Height);
  text += QStringLiteral("  |  Brightness %1  |  Post gamma %2  |  Warm Colours %3")
              .arg(Number(settings.Brightness), Number(settings.PostGamma),
                   settings.WarmColours ? QStringLiteral("on") : QStringLiteral("off"));
  SetShown(RenderPreview(samples, settings), text);
}

void PreviewWindow::RenderPicture() {
  if (!picture_) return;
  shown_ = controls_->Settings(shown_);
  shown_.Limits = limits_;
  const PreviewPicture& picture = *picture_;
  QString text = picture.Path.empty() ? QStringLiteral("The main window's result")
                                      : QFileInfo(FromPath(picture.Path)).fileName();
  text += QStringLiteral("  |  %1 x %2").arg(picture.ImageWidth).arg(picture.ImageHeight);
  if (picture.Width != picture.ImageWidth || picture.Height != picture.ImageHeight)
    text += QStringLiteral(" (shown from %1 x %2)").arg(picture.Width).arg(picture.Height);
  text += QStringLiteral("  |  ") + controls_->OperatorName();
  SetShown(MapPicture(picture, shown_), text);
}

void PreviewWindow::SetShown(const PreviewImage& image, const QString& status) {
  image_ = image;
  const QImage shown(image_.Rgb.data(), static_cast<int>(image_.Width),
                     static_cast<int>(image_.Height), static_cast<qsizetype>(image_.Width) * 3,
                     QImage::Format_RGB888);
  view_->SetImage(shown.copy());
  histogram_->SetHistograms(HistogramsOf(image_));
  status_->setText(status);
}

bool PreviewWindow::OpenFile(const std::string& path) {
  std::string error;
  std::optional<PreviewPicture> picture =
      LoadPreviewPicture(path, kPreviewPictureSide, limits_, error);
  if (!picture) {
    status_->setText(QString::fromStdString(error));
    ShowBeside();
    return false;
  }
  picture_ = std::move(picture);
  save_->setEnabled(true);
  RenderPicture();
  ShowBeside();
  return true;
}

bool PreviewWindow::SaveAs(const std::string& path) {
  if (!picture_ || picture_->Path.empty()) return false;
  open_->setEnabled(false);
  save_->setEnabled(false);
  controls_->setEnabled(false);
  const SaveOutcome outcome =
      SaveToneMapped(picture_->Path, path, shown_,
                     [this](std::uint32_t low, std::uint32_t high, std::uint32_t position) {
                       ReportProgress(low, high, position);
                     });
  open_->setEnabled(true);
  save_->setEnabled(true);
  controls_->setEnabled(true);
  progress_->reset();
  status_->setText(outcome.Succeeded ? QStringLiteral("Saved ") + FromPath(path)
                                     : QString::fromStdString(outcome.Message));
  return outcome.Succeeded;
}

void PreviewWindow::ReportProgress(std::uint32_t low, std::uint32_t high, std::uint32_t position) {
  // Rows are counted in millions at most; the bar takes them as ints.
  progress_->setRange(static_cast<int>(std::min<std::uint32_t>(low, INT_MAX)),
                      static_cast<int>(std::min<std::uint32_t>(high, INT_MAX)));
  progress_->setValue(static_cast<int>(std::min<std::uint32_t>(position, INT_MAX)));
  // Paint and timer events now and then keep both windows drawn while the
  // job runs; clicks and keys wait for its end.
  if (!sinceRepaint_.isValid() || sinceRepaint_.elapsed() >= 50) {
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    sinceRepaint_.start();
  }
}

void PreviewWindow::ChooseAndOpen() {
  QFileDialog dialog(this, QStringLiteral("LUMIVANE Open Image"));
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(QFileDialog::ExistingFile);
  dialog.setNameFilters(ReadableImageFilters());
  if (RunDialog(dialog) != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
  OpenFile(QFile::encodeName(dialog.selectedFiles().first()).toStdString());
}

void PreviewWindow::ChooseAndSave() {
  QFileDialog dialog(this, QStringLiteral("LUMIVANE Save as"));
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setNameFilters(SavedImageFilters());
  // A name typed without an extension takes the chosen filter's first one.
  const auto suffixOf = [](const QString& filter) {
    return filter.section(QStringLiteral("*."), 1, 1).section(QLatin1Char(' '), 0, 0).remove(')');
  };
  dialog.setDefaultSuffix(suffixOf(dialog.nameFilters().value(0)));
  connect(
      &dialog, &QFileDialog::filterSelected, &dialog,
      [&dialog, suffixOf](const QString& filter) { dialog.setDefaultSuffix(suffixOf(filter)); });
  if (RunDialog(dialog) != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
  SaveAs(QFile::encodeName(dialog.selectedFiles().first()).toStdString());
}

QString PreviewWindow::StatusText() const {
  return status_->text();
}

}  // namespace lumivane
