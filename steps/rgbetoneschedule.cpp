// The tone-map's schedule for Radiance input: decoded a block of rows at a
// time on every thread, twice, never whole in memory. With the classic
// operator every output byte is a function of (channel, mantissa, exponent):
// the mapping is a table look-up, and into a regular file without a preview
// both passes go in bands (steps/rgbebands). Any other operator maps the
// decoded rows as floats.
#include <algorithm>
#include <map>
#include <mutex>
#include <optional>
#include <vector>

#include "formats/rgbe.h"
#include "imaging/blockwriter.h"
#include "imaging/classicoperator.h"
#include "imaging/fastpaths.h"
#include "imaging/previewsampler.h"
#include "imaging/rgbepixels.h"
#include "io/parallel.h"
#include "steps/rgbebands.h"
#include "steps/rgbeblocks.h"
#include "steps/session.h"
#include "steps/toneschedule.h"

namespace lumivane {

namespace {

using Block = RgbeBlockDecoder::Block;

// What an operator beyond the classic one gathers from the decoded pieces, on
// the decoding threads: the luminance in histograms that threads take turns
// with, and the operator's own rows.
class FloatGathering {
 public:
  FloatGathering(std::uint32_t width, bool luminance, OperatorGatherer* gatherer)
      : width_(width), luminance_(luminance), gatherer_(gatherer) {}

  bool Wanted() const { return luminance_ || gatherer_; }

  void Add(const Block& piece) {
    if (!gatherer_) return AddLuminances(piece);
    std::vector<float> rows(std::size_t{width_} * piece.Rows * 3);
    RgbeBlockToFloats(piece, 0, std::size_t{width_} * piece.Rows, rows.data());
    if (gatherer_) gatherer_->AddRows(rows.data(), piece.FirstRow, piece.Rows);
    if (!luminance_) return;
    std::unique_ptr<LuminanceHistogram> histogram = Take();
    histogram->AddPixels(rows.data(), std::size_t{width_} * piece.Rows);
    const std::lock_guard lock(lock_);
    free_.push_back(std::move(histogram));
  }

  void MergeInto(LuminanceHistogram& total) {
    for (const auto& histogram : free_) total.Merge(*histogram);
  }

 private:
  // Straight from the planes: the same luminances the float rows give.
  void AddLuminances(const Block& piece) {
    if (!luminance_) return;
    std::unique_ptr<LuminanceHistogram> histogram = Take();
    const RgbePlanes pixels{piece.R, piece.G, piece.B, piece.E};
    const std::size_t count = std::size_t{width_} * piece.Rows;
    PixelBlock block;
    for (std::size_t done = 0; done < count; done += PixelBlock::kPixels) {
      const std::size_t n = std::min(PixelBlock::kPixels, count - done);
      LoadRgbeBlock(pixels.From(done), n, block);
      histogram->AddLuminances(block.Luminance, n);
    }
    const std::lock_guard lock(lock_);
    free_.push_back(std::move(histogram));
  }

  std::unique_ptr<LuminanceHistogram> Take() {
    const std::lock_guard lock(lock_);
    if (free_.empty()) return std::make_unique<LuminanceHistogram>();
    std::unique_ptr<LuminanceHistogram> histogram = std::move(free_.back());
    free_.pop_back();
    return histogram;
  }

  std::uint32_t width_;
  bool luminance_;
  OperatorGatherer* gatherer_;
  std::mutex lock_;
  std::vector<std::unique_ptr<LuminanceHistogram>> free_;
};

class RgbeToneSchedule final : public ToneSchedule {
 public:
  bool Start(Session& session, const ToneOperator& op, ByteRowSink* sink) override;
  bool Gather(Session& session, const ToneOperator& op, OperatorGatherer* gatherer,
              GatheredImage& image) override;
  MapOutcome Map(Session& session, const ToneOperator& op) override;

 private:
  bool SumBlocks(Session& session, FloatGathering& floats, GatheredImage& image);
  MapOutcome MapBlocks(Session& session, const ToneOperator& op, const RgbeToneTables* tables);
  void MapRows(const ToneOperator& op, const RgbeToneTables* tables, const Block& block,
               std::uint32_t begin, std::uint32_t end, std::uint8_t* to) const;
  bool MapsInBands(const RgbeToneTables* tables) const;

  std::uint64_t offset_ = 0, bytes_ = 0;
  std::uint32_t width_ = 0, height_ = 0, rowsPerBlock_ = 1;
  ByteRowSink* sink_ = nullptr;
  bool direct_ = false;
  bool banded_ = false;
  std::unique_ptr<RgbeStream> stream_;
  std::unique_ptr<RowWorkers> workers_;
  std::unique_ptr<RgbeBands> bands_;
  RgbeRowIndex rowIndex_;
};

bool RgbeToneSchedule::Start(Session& session, const ToneOperator& op, ByteRowSink* sink) {
  JobContext& context = session.Context;
  if (!StartRgbeDecoding(session, offset_, bytes_)) return false;
  width_ = context.ImageWidth;
  height_ = context.ImageHeight;
  sink_ = sink;
  // The file is read twice, through a small window each time, rather than
  // kept: neither the encoded nor the decoded image is ever whole in memory.
  stream_ = std::make_unique<RgbeStream>(context.InputFile, offset_, bytes_);
  workers_ = std::make_unique<RowWorkers>();
  rowsPerBlock_ = RowsPerWave(width_, kRgbePixelsPerBlock);
  // Into a regular file, each part of the second pass writes its own rows
  // where they belong, on its own thread, as soon as they are mapped: no
  // writing thread beside the workers. Rows for a sink, a pipe or a device
  // keep their order. Without a preview, the classic operator goes in bands.
  direct_ = !sink && context.OutputFile.IsRegularFile();
  bands_ = std::make_unique<RgbeBands>(context.InputFile, offset_, bytes_, width_, height_,
                                       rowsPerBlock_, *workers_);
  banded_ = direct_ && !session.Preview && op.AsClassic() && bands_->MakeRooms();
  return true;
}

// The first pass a block at a time: decoding, and the sums in row order
// beside it. Each piece's extremes and sums are taken beside its decoding, on
// any thread; the sums are then put together in row order, exactly as the
// pixel-order chains would give them, or chained pixel by pixel where they
// would not.
bool RgbeToneSchedule::SumBlocks(Session& session, FloatGathering& floats, GatheredImage& image) {
  RgbeBlockDecoder decoder(*stream_, width_, height_, rowsPerBlock_);
  decoder.RecordRows(&rowIndex_);
  ChannelAccumulators& channels = image.Channels;
  channels = {};
  ChannelAccumulators extremes;
  RgbeBlockWork sums;
  std::mutex piecesLock;
  std::map<std::uint32_t, std::pair<std::uint32_t, RgbeSumPiece>> pieces;  // by first row
  const std::uint32_t width = width_;
  sums.Decoded = [&](const Block& block) {
    const std::size_t pixels = std::size_t{width} * block.Rows;
    ChannelAccumulators piece;
    AccumulateRgbeExtremes(block.R, block.G, block.B, block.E, pixels, piece);
    const RgbeSumPiece sum = SumRgbePiece(block.R, block.G, block.B, block.E, pixels);
    if (floats.Wanted()) floats.Add(block);
    const std::lock_guard lock(piecesLock);
    for (int c = 0; c < 3; ++c) {
      extremes[c].Minimum = std::min(extremes[c].Minimum, piece[c].Minimum);
      extremes[c].Maximum = std::max(extremes[c].Maximum, piece[c].Maximum);
    }
    pieces.emplace(block.FirstRow, std::pair(block.Rows, sum));
  };
  sums.Use = [&](const Block& block, std::uint32_t, std::uint32_t) {
    std::vector<std::pair<std::uint32_t, std::pair<std::uint32_t, RgbeSumPiece>>> inBlock;
    {
      const std::lock_guard lock(piecesLock);
      const auto end = pieces.lower_bound(block.FirstRow + block.Rows);
      inBlock.assign(pieces.begin(), end);
      pieces.erase(pieces.begin(), end);
    }
    for (const auto& [firstRow, piece] : inBlock) {
      if (AddRgbeSumPiece(piece.second, channels)) continue;
      const std::size_t from = std::size_t{width} * (firstRow - block.FirstRow);
      AccumulateRgbeSums(block.R + from, block.G + from, block.B + from, block.E + from,
                         std::size_t{width} * piece.first, channels);
    }
  };
  const bool decoded = ForEachDecodedBlock(
      session, decoder, *workers_, BlockProgress::RowIndexAsDecoded, sums, bands_->RowsShown());
  for (int kind = 0; kind < 3; ++kind) image.RowCounts[kind] = decoder.RowCounts()[kind];
  image.CompleteRows = decoder.CompleteRows();
  for (int c = 0; c < 3; ++c) {
    channels[c].Minimum = extremes[c].Minimum;
    channels[c].Maximum = extremes[c].Maximum;
  }
  return decoded;
}

bool RgbeToneSchedule::Gather(Session& session, const ToneOperator& op, OperatorGatherer* gatherer,
                              GatheredImage& image) {
  FloatGathering floats(width_, op.NeedsLuminance(), gatherer);
  // Bands take only data that hold every row whole.
  image.CompleteRows = height_;
  const bool summedInBands = banded_ && bands_->Sum(session, rowIndex_, image.Channels,
                                                    image.RowCounts) == BandsOutcome::Done;
  if (!summedInBands && !SumBlocks(session, floats, image)) return AbortRgbeRowHead(session);
  floats.MergeInto(image.Facts.Luminance);
  return true;
}

// Rows of pixels of a block to output bytes, three per pixel.
void RgbeToneSchedule::MapRows(const ToneOperator& op, const RgbeToneTables* tables,
                               const Block& block, std::uint32_t begin, std::uint32_t end,
                               std::uint8_t* to) const {
  const std::size_t from = std::size_t{width_} * begin;
  const std::size_t pixels = std::size_t{width_} * (end - begin);
  if (tables) {
    ToneMapRgbeToRgb(block.R + from, block.G + from, block.B + from, block.E + from, pixels,
                     *tables, to);
    return;
  }
  const std::size_t rowBytes = std::size_t{width_} * 3;
  for (std::uint32_t y = begin; y < end; ++y) {
    const std::size_t first = std::size_t{width_} * y;
    const RgbePlanes pixels{block.R + first, block.G + first, block.B + first, block.E + first};
    op.MapRgbeToBytes(pixels, PixelPlaces{block.FirstRow + y, 0, nullptr}, width_,
                      to + rowBytes * (y - begin));
  }
}

// The statistics hold only for the bytes the first pass read. The same bytes
// decode the same way twice, so a refused row now means a change too.
// Following the first pass's rows reads only their bytes, not what lies past
// the last. Bands that summed the first pass always find room for the second:
// its rows fitted in the same rooms.
bool RgbeToneSchedule::MapsInBands(const RgbeToneTables* tables) const {
  return tables && banded_ && rowIndex_.Complete && rowIndex_.Sums.size() == height_ &&
         std::none_of(rowIndex_.Kinds.begin(), rowIndex_.Kinds.end(),
                      [](RgbeRowKind kind) { return kind == RgbeRowKind::OldRuns; });
}

MapOutcome RgbeToneSchedule::MapBlocks(Session& session, const ToneOperator& op,
                                       const RgbeToneTables* tables) {
  JobContext& context = session.Context;
  const std::size_t rowBytes = std::size_t{width_} * 3;
  const std::uint64_t dataStart = context.OutputFile.Position();
  PreviewSampler* const preview = session.Preview;
  // Its room is made only for the block pass: the bands map into rooms of
  // their own.
  PlacedWriter placed(context.OutputFile, 0);
  BlockWriter writer(context.OutputFile, workers_->Threads() > 1 && !direct_);
  writer.SendTo(sink_, rowBytes);
  bool writing = true;
  std::uint8_t* out = nullptr;
  const auto mapRows = [&](const Block& block, std::uint32_t begin, std::uint32_t end,
                           std::uint8_t* to) { MapRows(op, tables, block, begin, end, to); };
  RgbeBlockWork mapping;
  mapping.Before = [&](const Block& block) {
    if (!direct_) {
      out = writing ? writer.NextAt(rowBytes * block.Rows, dataStart + rowBytes * block.FirstRow)
                    : nullptr;
    }
    if (preview)
      preview->TakeRgbeRows(block.FirstRow, block.Rows, block.R, block.G, block.B, block.E);
  };
  mapping.Parts = workers_->Threads();
  mapping.Use = [&](const Block& block, std::uint32_t begin, std::uint32_t end) {
    if (direct_) {
      if (placed.Failed()) return;
      mapRows(block, begin, end, placed.At(rowBytes * begin));
      placed.Write(rowBytes * begin, rowBytes * (end - begin),
                   dataStart + rowBytes * (block.FirstRow + begin));
      return;
    }
    if (out) mapRows(block, begin, end, out + rowBytes * begin);
  };
  mapping.After = [&](const Block& block) {
    if (direct_ || !writing) return;
    writing = writer.Finish();
    if (writing) writer.Start(rowBytes * block.Rows);
  };
  const bool inBands = MapsInBands(tables);
  BandsOutcome outcome = BandsOutcome::NoRoom;
  if (inBands) outcome = bands_->Map(session, rowIndex_, *tables, dataStart, placed);
  bool same = outcome == BandsOutcome::Done;
  if (outcome == BandsOutcome::NoRoom) {
    if (direct_) placed.MakeRoom(rowBytes * rowsPerBlock_);
    RgbeStream reread(context.InputFile, offset_, bytes_);
    RgbeBlockDecoder again(reread, width_, height_, rowsPerBlock_);
    again.FollowRows(rowIndex_);
    const bool decoded =
        ForEachDecodedBlock(session, again, *workers_, BlockProgress::RowNumberOnceUsed, mapping);
    same = decoded && (again.FollowsRows() || reread.BytesRead() == stream_->BytesRead()) &&
           reread.Checksum() == stream_->Checksum();
  }
  writing = writer.Finish() && writing && !placed.Failed();
  if (!same) {
    AbortRadianceJob(session, "Cannot read " + context.InputFileName +
                                  " again: it changed while it was tone-mapped.");
    return MapOutcome::Aborted;
  }
  return writing ? MapOutcome::Done : MapOutcome::NotWritten;
}

MapOutcome RgbeToneSchedule::Map(Session& session, const ToneOperator& op) {
  const ClassicOperator* classic = op.AsClassic();
  std::optional<RgbeToneTables> tables;
  // The output byte depends only on the channel, mantissa and exponent.
  if (classic) {
    const ClassicSettings& settings = classic->Settings();
    tables = BuildRgbeToneTables(classic->Statistics(), settings.Brightness, settings.PostGamma,
                                 *workers_, &classic->Channels());
  }
  return MapBlocks(session, op, tables ? &*tables : nullptr);
}

}  // namespace

std::unique_ptr<ToneSchedule> MakeRgbeToneSchedule() {
  return std::make_unique<RgbeToneSchedule>();
}

}  // namespace lumivane
