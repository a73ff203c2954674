// The "LUMIVANE - Preview" window: the last tone-mapping job's result, or an
// image opened here, shown at 1:1 or scaled down to fit, with a histogram of
// its three channels. Here the operator of the operator table and its
// parameters can be chosen, and the result saved at full size.
#pragma once

#include <QElapsedTimer>
#include <QImage>
#include <QSize>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <optional>

#include "imaging/previewsampler.h"
#include "steps/session.h"
#include "window/previewjobs.h"

class QFileDialog;
class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;

namespace lumivane {

class OperatorControls;

// The image at 1:1 where it fits, else scaled down with its aspect kept.
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

// The least room the preview takes beside the main window: the controls of
// every operator still fit, and on a 1024 x 768 screen so does the main
// window beside it.
inline constexpr QSize kLeastPreviewFrame(300, 480);

// "Name (*.ext ...)" for every format the table reads, all of them first
// together, then each, then every file.
QStringList ReadableImageFilters();
// The same for the tone-mapped outputs "Save as" writes.
QStringList SavedImageFilters();

class PreviewWindow : public QWidget {
 public:
  // Shows what `sampler` keeps; the sampler outlives the window.
  explicit PreviewWindow(const PreviewSampler& sampler);

  // After each command of the main window: a tone-mapping job that finished
  // shows its result (one that failed takes the old one away); [Accept] and
  // "Warm Colours" render the open preview again for `settings`.
  void AfterCommand(int commandId, const JobSettings& settings);

  // The window the preview opens beside, kept clear of it.
  void SetNeighbour(QWidget* neighbour) { neighbour_ = neighbour; }
  // What one input may make a reader hold, for the files opened and saved here.
  void SetLimits(const ReadLimits& limits) { limits_ = limits; }
  // Reads the image at `path` small and shows it with the chosen operator;
  // false, with the reason in the status line, when it cannot.
  bool OpenFile(const std::string& path);
  // The full-size result of what the preview shows into `path`, by its
  // extension PNG, JPEG or TIFF; false, with the reason in the status line.
  bool SaveAs(const std::string& path);

  const PreviewImage& Image() const { return image_; }
  const HistogramView& Histogram() const { return *histogram_; }
  const PreviewImageView& View() const { return *view_; }
  OperatorControls& Controls() const { return *controls_; }
  QString StatusText() const;
  // The settings the shown image was made with, and a "Save as" writes.
  const JobSettings& ShownSettings() const { return shown_; }

  // How a file dialog is run; tests answer it here.
  std::function<int(QFileDialog&)> RunDialog;

 private:
  void Render(const ToneSettings& settings);
  void RenderPicture();
  void SetShown(const PreviewImage& image, const QString& status);
  void ShowBeside();
  void PlaceBesideNeighbour();
  void ChooseAndOpen();
  void ChooseAndSave();
  void ReportProgress(std::uint32_t low, std::uint32_t high, std::uint32_t position);

  const PreviewSampler& sampler_;
  std::uint64_t shownJob_ = 0;
  bool placed_ = false;
  QWidget* neighbour_ = nullptr;
  ReadLimits limits_;
  // The image this window maps itself: one opened here, or the main
  // window's last result once the operator is changed.
  std::optional<PreviewPicture> picture_;
  JobSettings shown_;
  PreviewImage image_;
  PreviewImageView* view_;
  HistogramView* histogram_;
  OperatorControls* controls_;
  QPushButton* open_;
  QPushButton* save_;
  QProgressBar* progress_;
  QLabel* status_;
  QTimer* renderSoon_;
  QElapsedTimer sinceRepaint_;
};

}  // namespace lumivane
