// The classic float files to each other: the rows as stored, byte-swapped
// where the input stores most significant bytes first, and reordered where
// one file stores its bottom row first. While no byte changes, the kernel
// copies the rows from file to file.
#include <algorithm>
#include <cstdint>

#include "imaging/blockwriter.h"
#include "imaging/fastpaths.h"
#include "io/parallel.h"
#include "steps/convertschedule.h"
#include "steps/floatrows.h"
#include "steps/session.h"
#include "steps/statuslog.h"

namespace lumivane {

namespace {

constexpr std::size_t kPageBytes = 4096;

// The kernel's copies, a row at a time, with the progress of the reading path
// per block. Returns the rows copied, the output positioned behind them;
// fewer than `height` where the kernel stopped (an end of input, an error, or
// files it cannot copy between), and the caller goes on from there by reading
// and writing.
std::uint32_t CopyRowsInKernel(Session& session, std::uint64_t dataStart, std::size_t rowBytes,
                               std::uint32_t height, std::uint32_t rowsPerBlock, bool reverse) {
  JobContext& context = session.Context;
  const std::uint64_t outputStart = context.OutputFile.Position();
  std::uint32_t done = 0;
  while (done < height) {
    const std::uint32_t count = std::min(rowsPerBlock, height - done);
    for (std::uint32_t y = done; y < done + count; ++y) {
      const std::uint64_t stored = reverse ? height - 1 - y : y;
      if (context.InputFile.CopyTo(context.OutputFile, dataStart + stored * rowBytes, rowBytes) !=
          rowBytes) {
        context.OutputFile.Seek(outputStart + std::uint64_t{y} * rowBytes);
        return y;
      }
    }
    ReplayProgress(session, done + 1, done + count);
    done += count;
  }
  return done;
}

class StoredFloatCopySchedule final : public ConvertSchedule {
 public:
  bool Start(Session& session, FloatRowSink*) override {
    JobContext& context = session.Context;
    outputBottomUp_ = context.OutputRowsBottomUp;
    context.OutputRowsBottomUp = false;
    return CheckStoredFloatSize(session, "convert");
  }
  ConvertOutcome Run(Session& session, ConvertedImage& image) override;

 private:
  bool outputBottomUp_ = false;
};

ConvertOutcome StoredFloatCopySchedule::Run(Session& session, ConvertedImage&) {
  JobContext& context = session.Context;
  const std::uint32_t width = context.ImageWidth, height = context.ImageHeight;
  const std::uint64_t dataStart = context.InputFile.Position();
  const std::size_t rowBytes = std::size_t{width} * 12;
  // Rows keep the image's orientation: a PFM's stored order is bottom to top.
  const bool reverse = context.InputRowsBottomUp != outputBottomUp_;
  // Both files store least significant bytes first when the input does. Rows
  // under a page are cheaper to read in blocks than to copy one by one.
  const auto rowsPerCopy = static_cast<std::uint32_t>(
      std::clamp<std::size_t>(FloatRowReader::kBlockBytes / rowBytes, 1, height));
  const std::uint32_t copied =
      context.SourceIntelOrder && rowBytes >= kPageBytes
          ? CopyRowsInKernel(session, dataStart, rowBytes, height, rowsPerCopy, reverse)
          : 0;
  // The rest: rows [copied, height) of the output.
  FloatRowReader rows(context.InputFile,
                      reverse ? dataStart : dataStart + std::uint64_t{copied} * rowBytes,
                      rowBytes, height - copied, reverse);
  // A block's rows are gathered in output order, byte-swapped on all cores
  // when needed, and written at once.
  const std::uint32_t rowsPerBlock = rows.RowsPerBlock();
  RowWorkers workers;
  rows.ShareReadsWith(workers);
  BlockWriter writer(context.OutputFile, workers.Threads() > 1);
  while (!rows.AllRowsRead()) {
    const std::uint32_t first = copied + rows.RowsRead();
    std::uint32_t count = 0;
    std::uint8_t* const out = writer.Next(rowBytes * rowsPerBlock);
    while (count < rowsPerBlock && !rows.AllRowsRead()) {
      const std::uint8_t* stored = rows.NextRow();
      if (!stored) break;
      std::copy(stored, stored + rowBytes, out + rowBytes * count++);
    }
    if (!context.SourceIntelOrder) {
      workers.Run(count, [&](std::size_t begin, std::size_t end) {
        SwapBytes4(out + rowBytes * begin, (end - begin) * rowBytes / 4);
      });
    }
    if (!FinishRowBlock(session, rows, first, count, writer, rowBytes * count))
      return ConvertOutcome::Aborted;
  }
  if (!FinishLastRowBlock(session, writer, height)) return ConvertOutcome::Aborted;
  return ConvertOutcome::Done;
}

}  // namespace

std::unique_ptr<ConvertSchedule> MakeStoredFloatCopySchedule() {
  return std::make_unique<StoredFloatCopySchedule>();
}

}  // namespace lumivane
