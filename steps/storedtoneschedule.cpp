// The tone-map's schedule for the classic operator over stored floats (the
// 96-bit TIFF and the PFM): the file is read twice in big blocks, the values
// taken in their stored byte order, the sums and the extremes side by side
// and the mapping by thresholds over the floats' bits (imaging/floattonemapper).
#include <vector>

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

class StoredFloatToneSchedule final : public ToneSchedule {
 public:
  bool Start(Session& session, const ToneOperator&, ByteRowSink* sink) override {
    sink_ = sink;
    dataStart_ = session.Context.InputFile.Position();
    return CheckStoredFloatSize(session, "tone-map");
  }

  bool Gather(Session& session, const ToneOperator&, OperatorGatherer*,
              GatheredImage& image) override;
  MapOutcome Map(Session& session, const ToneOperator& op) override;

 private:
  ByteRowSink* sink_ = nullptr;
  std::uint64_t dataStart_ = 0;
  std::uint64_t analysedChecksum_ = 0;
};

bool StoredFloatToneSchedule::Gather(Session& session, const ToneOperator&, OperatorGatherer*,
                                     GatheredImage& image) {
  JobContext& context = session.Context;
  const std::uint32_t width = context.ImageWidth, height = context.ImageHeight;
  const bool intel = context.SourceIntelOrder;
  // Statistics in file order, whichever row is the top one: per block, the
  // sums on one thread and the extremes on another, each in pixel order.
  FloatRowReader rows(context.InputFile, dataStart_, std::size_t{width} * 12, height, false);
  rows.KeepChecksum();
  const std::uint32_t rowsPerBlock = rows.RowsPerBlock();
  std::vector<const std::uint8_t*> block(rowsPerBlock);
  ChannelAccumulators& accumulators = image.Channels;
  ChannelAccumulators extremes;
  RowWorkers workers;
  rows.ShareReadsWith(workers);
  while (rows.RowsRead() < height) {
    const std::uint32_t first = rows.RowsRead();
    const std::uint32_t count = rows.NextRows(block.data(), rowsPerBlock);
    workers.Run(2, [&](std::size_t begin, std::size_t end) {
      for (std::size_t part = begin; part < end; ++part) {
        for (std::uint32_t i = 0; i < count; ++i) {
          (part == 0 ? AccumulateFloatSums : AccumulateFloatExtremes)(
              block[i], width, intel, part == 0 ? accumulators : extremes);
        }
      }
    });
    ReplayProgress(session, first + 1, first + count);
    if (rows.RowsRead() < height && count < rowsPerBlock)
      return AbortFloatJob(session, ShortInputMessage(session));
  }
  TakeExtremes(extremes, accumulators);
  analysedChecksum_ = rows.Checksum();
  return true;
}

MapOutcome StoredFloatToneSchedule::Map(Session& session, const ToneOperator& op) {
  JobContext& context = session.Context;
  const ClassicOperator& classic = *op.AsClassic();
  const std::uint32_t width = context.ImageWidth, height = context.ImageHeight;
  const bool intel = context.SourceIntelOrder;
  const FloatToneMapper& mapper = classic.Mapper();
  PreviewSampler* const preview = session.Preview;
  // The first stored PFM row is the bottom one; the TIFF's first row is the top.
  FloatRowReader rows(context.InputFile, dataStart_, std::size_t{width} * 12, height,
                      context.InputRowsBottomUp);
  rows.KeepChecksum();
  // A block's rows are mapped on all cores and written at once.
  const std::uint32_t rowsPerBlock = rows.RowsPerBlock();
  std::vector<const std::uint8_t*> block(rowsPerBlock);
  const std::size_t outputRowBytes = std::size_t{width} * 3;
  RowWorkers workers;
  rows.ShareReadsWith(workers);
  BlockWriter writer(context.OutputFile, workers.Threads() > 1);
  writer.SendTo(sink_, outputRowBytes);
  while (rows.RowsRead() < height) {
    const std::uint32_t first = rows.RowsRead();
    const std::uint32_t count = rows.NextRows(block.data(), rowsPerBlock);
    if (preview)
      for (std::uint32_t i = 0; i < count; ++i) preview->TakeFloatRow(first + i, block[i], intel);
    std::uint8_t* const out = writer.Next(outputRowBytes * count);
    workers.Run(count, [&](std::size_t begin, std::size_t end) {
      for (std::size_t i = begin; i < end; ++i) {
        mapper.Map(block[i], width, intel, out + outputRowBytes * i);
      }
    });
    if (!FinishRowBlock(session, rows, first, count, writer, outputRowBytes * count))
      return MapOutcome::Aborted;
  }
  if (!FinishLastRowBlock(session, writer, height)) return MapOutcome::Aborted;
  if (!FinishSink(sink_)) {
    AbortFloatJob(session, WriteFailureMessage(session));
    return MapOutcome::Aborted;
  }
  // The statistics hold only for the bytes the first pass read.
  if (rows.Checksum() != analysedChecksum_) {
    AbortFloatJob(session, "Cannot read " + context.InputFileName +
                               " again: it changed while it was tone-mapped.");
    return MapOutcome::Aborted;
  }
  return MapOutcome::Done;
}

}  // namespace

std::unique_ptr<ToneSchedule> MakeStoredFloatToneSchedule() {
  return std::make_unique<StoredFloatToneSchedule>();
}

}  // namespace lumivane
