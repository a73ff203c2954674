// The tone-map's plain schedule: the input as rows of floats (from a library
// reader, or a classic file read as rows), a block of rows at a time, every
// operator through its MapPixels. The statistics are the classic ones to the
// bit: the sums on one thread and the extremes on another, each in pixel
// order, as the other schedules gather them.
#include <algorithm>
#include <bit>
#include <memory>
#include <vector>

#include "formats/classicsource.h"
#include "imaging/alpharows.h"
#include "imaging/blockwriter.h"
#include "imaging/classicoperator.h"
#include "imaging/fastpaths.h"
#include "imaging/previewsampler.h"
#include "io/parallel.h"
#include "steps/floatrows.h"
#include "steps/rowwriters.h"
#include "steps/session.h"
#include "steps/statuslog.h"
#include "steps/toneschedule.h"

namespace lumivane {

namespace {

// Rows travel as floats in this machine's order; the float kernels read them
// as stored pixels of that order.
constexpr bool kNativeIntel = std::endian::native == std::endian::little;
constexpr std::size_t kBlockBytes = std::size_t{4} << 20;

class RowToneSchedule final : public ToneSchedule {
 public:
  bool Start(Session& session, const ToneOperator& op, ByteRowSink* sink) override;
  bool Gather(Session& session, const ToneOperator& op, OperatorGatherer* gatherer,
              GatheredImage& image) override;
  MapOutcome Map(Session& session, const ToneOperator& op) override;

 private:
  bool Fail(Session& session, const std::string& reason) {
    session.Context.InputRows.reset();
    return AbortFloatJob(session, "Cannot read " + session.Context.InputFileName + ": " + reason);
  }
  MapOutcome MapToWords(Session& session, const ToneOperator& op);
  bool ReadBlock(std::uint32_t count, std::string& error) {
    return alpha_.empty() ? rows_->ReadRows(block_.data(), count, error)
                          : rows_->ReadRowsAndAlpha(block_.data(), alpha_.data(), count, error);
  }
  // Row `i` of the block mapped to levels, with its alpha where the output keeps it.
  template <typename Level, typename MapRow>
  void MapRows(std::uint32_t count, Level* out, MapRow mapRow) {
    const std::size_t samples = alpha_.empty() ? 3 : 4;
    workers_->Run(count, [&](std::size_t begin, std::size_t end) {
      std::vector<Level> rgb(alpha_.empty() ? 0 : std::size_t{width_} * 3);
      for (std::size_t i = begin; i < end; ++i) {
        Level* row = out + std::size_t{width_} * samples * i;
        mapRow(i, alpha_.empty() ? row : rgb.data());
        if (!alpha_.empty()) AppendAlpha(rgb.data(), alpha_.data() + width_ * i, width_, row);
      }
    });
  }
  void GatherFloats(const ToneOperator& op, OperatorGatherer* gatherer, std::uint32_t first,
                    std::uint32_t count, LuminanceHistogram& luminance);

  ByteRowSink* sink_ = nullptr;
  WordRowSink* words_ = nullptr;
  std::shared_ptr<ImageRowSource> rows_;
  std::uint32_t width_ = 0, height_ = 0, rowsPerBlock_ = 1;
  std::vector<float> block_;
  std::vector<float> alpha_;  // the block's alpha, for an output that keeps it
  std::unique_ptr<RowWorkers> workers_;
};

bool RowToneSchedule::Start(Session& session, const ToneOperator&, ByteRowSink* sink) {
  JobContext& context = session.Context;
  sink_ = sink;
  words_ = context.ToneMappedWords.get();
  width_ = context.ImageWidth;
  height_ = context.ImageHeight;
  rows_ = context.InputRows;
  if (!rows_) {
    // A classic input read as rows, for an operator beyond the classic one.
    if (context.Layout == InputLayout::StoredFloats && !CheckStoredFloatSize(session, "tone-map"))
      return false;
    ClassicLayout layout;
    layout.FormatName = context.Layout == InputLayout::Radiance ? "HDR" : "TIFF";
    layout.Radiance = context.Layout == InputLayout::Radiance;
    layout.Width = width_;
    layout.Height = height_;
    layout.DataStart = context.InputFile.Position();
    layout.IntelOrder = context.SourceIntelOrder;
    layout.BottomUp = context.InputRowsBottomUp;
    rows_ = OpenClassicSource(context.InputFile, layout);
  }
  const std::size_t rowFloats = std::size_t{width_} * 3;
  rowsPerBlock_ = static_cast<std::uint32_t>(
      std::clamp<std::size_t>(kBlockBytes / (rowFloats * sizeof(float)), 1, height_));
  block_.resize(rowFloats * rowsPerBlock_);
  if ((sink_ && sink_->TakesAlpha()) || (words_ && words_->TakesAlpha())) {
    rows_ = StraightAlphaRows(std::move(rows_));
    alpha_.resize(std::size_t{width_} * rowsPerBlock_);
  }
  workers_ = std::make_unique<RowWorkers>();
  return true;
}

// The luminance and the operator's own rows, on every thread: the histograms
// count in integers and the gatherer takes rows in any order.
void RowToneSchedule::GatherFloats(const ToneOperator& op, OperatorGatherer* gatherer,
                                   std::uint32_t first, std::uint32_t count,
                                   LuminanceHistogram& luminance) {
  const bool wantsLuminance = op.NeedsLuminance();
  if (!wantsLuminance && !gatherer) return;
  const std::size_t rowFloats = std::size_t{width_} * 3;
  std::vector<LuminanceHistogram> parts(wantsLuminance ? workers_->Threads() : 0);
  workers_->Run(workers_->Threads(), [&](std::size_t begin, std::size_t end) {
    for (std::size_t part = begin; part < end; ++part) {
      const auto from = static_cast<std::uint32_t>(count * part / workers_->Threads());
      const auto to = static_cast<std::uint32_t>(count * (part + 1) / workers_->Threads());
      if (from == to) continue;
      const float* rows = block_.data() + rowFloats * from;
      if (gatherer) gatherer->AddRows(rows, first + from, to - from);
      if (wantsLuminance) parts[part].AddPixels(rows, std::size_t{width_} * (to - from));
    }
  });
  for (const LuminanceHistogram& part : parts) luminance.Merge(part);
}

bool RowToneSchedule::Gather(Session& session, const ToneOperator& op, OperatorGatherer* gatherer,
                             GatheredImage& image) {
  const auto* blockBytes = reinterpret_cast<const std::uint8_t*>(block_.data());
  std::string error;
  ChannelAccumulators extremes;
  for (std::uint32_t first = 0; first < height_;) {
    const std::uint32_t count = std::min(rowsPerBlock_, height_ - first);
    if (!rows_->ReadRows(block_.data(), count, error)) return Fail(session, error);
    // The sums on one thread and the extremes on another, each in pixel order,
    // as the float job gathers them: the same statistics to the bit.
    workers_->Run(2, [&](std::size_t begin, std::size_t end) {
      for (std::size_t part = begin; part < end; ++part) {
        (part == 0 ? AccumulateFloatSums : AccumulateFloatExtremes)(
            blockBytes, std::size_t{count} * width_, kNativeIntel,
            part == 0 ? image.Channels : extremes);
      }
    });
    GatherFloats(op, gatherer, first, count, image.Facts.Luminance);
    first += count;
    SetProgressPosition(session, first);
  }
  TakeExtremes(extremes, image.Channels);
  image.CompleteRows = rows_->CompleteRows();
  return true;
}

// 16-bit outputs: each block mapped to words and handed to the sink, which
// writes as it goes.
MapOutcome RowToneSchedule::MapToWords(Session& session, const ToneOperator& op) {
  const std::size_t rowFloats = std::size_t{width_} * 3;
  std::vector<std::uint16_t> words(std::size_t{width_} * (alpha_.empty() ? 3 : 4) * rowsPerBlock_);
  const auto* blockBytes = reinterpret_cast<const std::uint8_t*>(block_.data());
  std::string error;
  for (std::uint32_t first = 0; first < height_;) {
    const std::uint32_t count = std::min(rowsPerBlock_, height_ - first);
    if (!ReadBlock(count, error)) {
      Fail(session, error);
      return MapOutcome::Aborted;
    }
    MapRows(count, words.data(), [&](std::size_t i, std::uint16_t* row) {
      op.MapPixelsToWords(block_.data() + i * rowFloats,
                          PixelPlaces{first + static_cast<std::uint32_t>(i), 0, nullptr}, width_,
                          row);
    });
    if (session.Preview)
      for (std::uint32_t i = 0; i < count; ++i)
        session.Preview->TakeFloatRow(first + i, blockBytes + i * rowFloats * sizeof(float),
                                      kNativeIntel);
    if (!words_->WriteRows(words.data(), count, error)) break;
    first += count;
    SetProgressPosition(session, first);
  }
  if (!error.empty() || !words_->Finish(error)) {
    session.Context.InputRows.reset();
    AbortFloatJob(session, WriteFailureMessage(session));
    return MapOutcome::Aborted;
  }
  return MapOutcome::Done;
}

MapOutcome RowToneSchedule::Map(Session& session, const ToneOperator& op) {
  JobContext& context = session.Context;
  std::string error;
  if (!rows_->Rewind(error)) {
    Fail(session, error);
    return MapOutcome::Aborted;
  }
  if (words_) return MapToWords(session, op);
  const std::size_t rowFloats = std::size_t{width_} * 3;
  const std::size_t outputRowBytes = std::size_t{width_} * (alpha_.empty() ? 3 : 4);
  const auto* blockBytes = reinterpret_cast<const std::uint8_t*>(block_.data());
  PreviewSampler* const preview = session.Preview;
  BlockWriter writer(context.OutputFile, workers_->Threads() > 1);
  // PNG and JPEG outputs take the same bytes through their library's sink.
  writer.SendTo(sink_, outputRowBytes);
  const auto failWrite = [&] {
    context.InputRows.reset();
    AbortFloatJob(session, WriteFailureMessage(session));
    return MapOutcome::Aborted;
  };
  for (std::uint32_t first = 0; first < height_;) {
    const std::uint32_t count = std::min(rowsPerBlock_, height_ - first);
    if (!ReadBlock(count, error)) {
      writer.Finish();
      Fail(session, error);
      return MapOutcome::Aborted;
    }
    MapRows(count, writer.Next(outputRowBytes * count), [&](std::size_t i, std::uint8_t* row) {
      op.MapPixelsToBytes(block_.data() + i * rowFloats,
                          PixelPlaces{first + static_cast<std::uint32_t>(i), 0, nullptr}, width_,
                          row);
    });
    if (preview)
      for (std::uint32_t i = 0; i < count; ++i)
        preview->TakeFloatRow(first + i, blockBytes + i * rowFloats * sizeof(float), kNativeIntel);
    // The block before is written by now, or the job fails.
    if (!writer.Finish()) return failWrite();
    writer.Start(outputRowBytes * count);
    first += count;
    SetProgressPosition(session, first);
  }
  if (!writer.Finish() || !FinishSink(sink_)) return failWrite();
  return MapOutcome::Done;
}

}  // namespace

std::unique_ptr<ToneSchedule> MakeRowToneSchedule() {
  return std::make_unique<RowToneSchedule>();
}

}  // namespace lumivane
