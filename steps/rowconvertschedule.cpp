// Any input to any output as rows of floats: the rows a library reader hands
// out, or a classic file read as rows, into the output's row sink.
#include <algorithm>
#include <memory>
#include <vector>

#include "formats/classicsource.h"
#include "formats/floatimage.h"
#include "steps/convertschedule.h"
#include "steps/floatrows.h"
#include "steps/session.h"
#include "steps/statuslog.h"

namespace lumivane {

namespace {

// Rows converted at a time: about a megabyte of floats.
constexpr std::size_t kBlockBytes = std::size_t{1} << 20;

class RowConvertSchedule final : public ConvertSchedule {
 public:
  bool Start(Session& session, FloatRowSink* sink) override;
  ConvertOutcome Run(Session& session, ConvertedImage& image) override;

 private:
  FloatRowSink* sink_ = nullptr;
  std::shared_ptr<ImageRowSource> source_;
};

bool RowConvertSchedule::Start(Session& session, FloatRowSink* sink) {
  JobContext& context = session.Context;
  sink_ = sink;
  const std::uint32_t width = context.ImageWidth, height = context.ImageHeight;
  if (!sink || !FloatImageBytes(width, height))
    return AbortFloatJob(session, "Cannot convert " + context.InputFileName +
                                      ": width or height 0, or more than 4 GiB of pixels");
  // A library reader has its rows ready already; the classic readers leave
  // only the file positioned at the first pixel.
  source_ = context.InputRows;
  if (!source_) {
    ClassicLayout layout;
    layout.Radiance = context.Layout == InputLayout::Radiance;
    layout.Width = width;
    layout.Height = height;
    layout.DataStart = context.InputFile.Position();
    layout.IntelOrder = context.SourceIntelOrder;
    layout.BottomUp = context.InputRowsBottomUp;
    source_ = OpenClassicSource(context.InputFile, layout);
  }
  return true;
}

ConvertOutcome RowConvertSchedule::Run(Session& session, ConvertedImage& image) {
  JobContext& context = session.Context;
  const std::uint32_t width = context.ImageWidth, height = context.ImageHeight;
  // A decoded input's bar counts rows from 0, as its decoding does.
  const std::uint32_t shift = context.Layout == InputLayout::Radiance ? 0 : 1;
  const std::uint32_t rowsPerBlock = static_cast<std::uint32_t>(
      std::clamp<std::size_t>(kBlockBytes / (std::size_t{width} * 12), 1, height));
  std::vector<float> rows(std::size_t{width} * 3 * rowsPerBlock);
  // A sink that keeps alpha has the alpha plane of the same rows beside them.
  const bool alpha = sink_->TakesAlpha();
  std::vector<float> alphas(alpha ? std::size_t{width} * rowsPerBlock : 0);
  std::string error;
  for (std::uint32_t first = 0; first < height; first += rowsPerBlock) {
    const std::uint32_t count = std::min(rowsPerBlock, height - first);
    if (!(alpha ? source_->ReadRowsAndAlpha(rows.data(), alphas.data(), count, error)
                : source_->ReadRows(rows.data(), count, error))) {
      context.InputRows.reset();
      AbortFloatJob(session, "Cannot read " + context.InputFileName + ": " + error);
      return ConvertOutcome::Aborted;
    }
    if (!(alpha ? sink_->WriteRowsAndAlpha(rows.data(), alphas.data(), count, error)
                : sink_->WriteRows(rows.data(), count, error))) {
      AbortFloatJob(session, "Cannot write " + context.OutputFileName + ": " + error);
      return ConvertOutcome::Aborted;
    }
    ReplayProgress(session, first + shift, first + count - 1 + shift);
  }
  if (!sink_->Finish(error)) {
    AbortFloatJob(session, "Cannot write " + context.OutputFileName + ": " + error);
    return ConvertOutcome::Aborted;
  }
  const std::array<std::uint32_t, 3> kinds = source_->RowKinds();
  std::copy(kinds.begin(), kinds.end(), image.RowCounts);
  image.CompleteRows = source_->CompleteRows();
  return ConvertOutcome::Done;
}

}  // namespace

std::unique_ptr<ConvertSchedule> MakeRowConvertSchedule() {
  return std::make_unique<RowConvertSchedule>();
}

}  // namespace lumivane
