// The "LUMIVANE - Preview" window: the last tone-mapping job's result, scaled
// to fit, with a histogram of its three channels and the settings it shows.
#pragma once

#include <QImage>
#include <QWidget>
#include <cstdint>

#include "imaging/previewsampler.h"
#include "steps/session.h"

class QLabel;

namespace lumivane {

// The image, scaled to fit with its aspect kept.
class PreviewImageView : public QWidget {
 public:
  explicit PreviewImageView(QWidget* parent) : QWidget(parent) {}
  void SetImage(const QImage& image);
  // Where the image is drawn inside the view.
  QRect ImageRect() const;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QImage image_;
};

// R, G and B counts per byte value, added where they overlap.
class HistogramView : public QWidget {
 public:
  explicit HistogramView(QWidget* parent);
  void SetHistograms(const ChannelHistograms& histograms);
  const ChannelHistograms& Histograms() const { return histograms_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  ChannelHistograms histograms_{};
};

class PreviewWindow : public QWidget {
 public:
  // Shows what `sampler` keeps; the sampler outlives the window.
  explicit PreviewWindow(const PreviewSampler& sampler);

  // After each command of the main window: a tone-mapping job that finished
  // shows its result (one that failed takes the old one away); [Accept] and
  // "Warm Colours" render the open preview again for `settings`.
  void AfterCommand(int commandId, const JobSettings& settings);

  const PreviewImage& Image() const { return image_; }
  const HistogramView& Histogram() const { return *histogram_; }
  const PreviewImageView& View() const { return *view_; }
  QString StatusText() const;

 private:
  void Render(const ToneSettings& settings);

  const PreviewSampler& sampler_;
  std::uint64_t shownJob_ = 0;
  bool placed_ = false;
  PreviewImage image_;
  PreviewImageView* view_;
  HistogramView* histogram_;
  QLabel* status_;
};

}  // namespace lumivane
