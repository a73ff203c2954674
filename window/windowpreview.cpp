#include "window/windowpreview.h"

#include <QApplication>
#include <QFileInfo>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include "shell/controlids.h"
#include "steps/statuslog.h"
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
  const QSize size = image_.size().scaled(this->size(), Qt::KeepAspectRatio);
  return QRect(QPoint((width() - size.width()) / 2, (height() - size.height()) / 2), size);
}

void PreviewImageView::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), QColor(48, 48, 48));
  if (image_.isNull()) return;
  painter.setRenderHint(QPainter::SmoothPixmapTransform);
  painter.drawImage(ImageRect(), image_);
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

PreviewWindow::PreviewWindow(const PreviewSampler& sampler)
    : QWidget(nullptr, Qt::Window), sampler_(sampler) {
  setWindowTitle(QStringLiteral("LUMIVANE - Preview"));
  setObjectName(QStringLiteral("preview"));
  // It shows results; the keyboard stays with the main window's settings.
  setAttribute(Qt::WA_ShowWithoutActivating);
  setFocusPolicy(Qt::NoFocus);
  view_ = new PreviewImageView(this);
  view_->setMinimumSize(160, 100);
  histogram_ = new HistogramView(this);
  status_ = new QLabel(this);
  status_->setTextInteractionFlags(Qt::NoTextInteraction);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(4, 4, 4, 4);
  layout->addWidget(view_, 1);
  layout->addWidget(histogram_);
  layout->addWidget(status_);
  resize(720, 560);
}

void PreviewWindow::AfterCommand(int commandId, const JobSettings& settings) {
  if (IsToneMappingCommand(commandId)) {
    const PreviewSamples* samples = sampler_.Last();
    if (samples == nullptr) {
      // A job began and failed: the samples of what this window showed are gone.
      hide();
      return;
    }
    if (sampler_.Finished() == shownJob_) return;
    shownJob_ = sampler_.Finished();
    Render(samples->Settings);
    if (!isVisible()) {
      // Some platforms activate every window they show; the active one gets
      // its turn back.
      QWidget* active = QApplication::activeWindow();
      show();
      if (active != nullptr && active != this) active->activateWindow();
      if (!placed_) KeepOnScreenOnceFramed(*this);
      placed_ = true;
    }
    return;
  }
  if ((commandId == kAcceptButtonId || commandId == kWarmColoursBoxId) && isVisible() &&
      sampler_.Last() != nullptr) {
    Render({settings.Brightness, settings.PostGamma, settings.WarmColours != 0});
  }
}

void PreviewWindow::Render(const ToneSettings& settings) {
  const PreviewSamples& samples = *sampler_.Last();
  image_ = RenderPreview(samples, settings);
  const QImage image(image_.Rgb.data(), static_cast<int>(image_.Width),
                     static_cast<int>(image_.Height), static_cast<qsizetype>(image_.Width) * 3,
                     QImage::Format_RGB888);
  view_->SetImage(image.copy());
  histogram_->SetHistograms(HistogramsOf(image_));
  QString text = QFileInfo(QString::fromStdString(samples.OutputFileName)).fileName() +
                 QStringLiteral("  |  %1 x %2").arg(samples.ImageWidth).arg(samples.ImageHeight);
  if (samples.Size.Width != samples.ImageWidth || samples.Size.Height != samples.ImageHeight)
    text += QStringLiteral(" (shown from %1 x %2 samples)")
                .arg(samples.Size.Width)
                .arg(samples.Size.Height);
  text += QStringLiteral("  |  Brightness %1  |  Post gamma %2  |  Warm Colours %3")
              .arg(Number(settings.Brightness), Number(settings.PostGamma),
                   settings.WarmColours ? QStringLiteral("on") : QStringLiteral("off"));
  status_->setText(text);
}

QString PreviewWindow::StatusText() const {
  return status_->text();
}

}  // namespace lumivane
