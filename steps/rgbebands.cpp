#include "steps/rgbebands.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <functional>
#include <new>
#include <thread>
#include <utility>

#include "imaging/blockwriter.h"
#include "imaging/rgbekernels.h"
#include "io/binaryfile.h"
#include "io/parallel.h"
#include "steps/session.h"
#include "steps/statuslog.h"

namespace lumivane {

namespace {

// No run row that a writer makes takes more: runs of one per component.
std::size_t LongestRowBytes(std::uint32_t width) {
  return 8 * std::size_t{width} + 4;
}

// Rows that scan whole from a guessed start before it counts as a row start.
constexpr unsigned kRowsToTrust = 2;

// Indexes stay small beside the planes.
constexpr std::uint32_t kMostBandedRows = std::uint32_t{1} << 20;

}  // namespace

struct RgbeBands::Band {
  std::uint64_t Start = 0, End = 0;
  // Read by the calling thread while the band runs.
  std::atomic<std::uint32_t> RowsDone = 0;
  std::atomic<bool> Met = false;
  std::vector<std::uint64_t> Ends;
  std::vector<RgbeRowKind> Kinds;
  std::vector<std::uint64_t> Sums;
  std::vector<std::pair<std::uint32_t, RgbeSumPiece>> Pieces;  // rows, sums
  ChannelAccumulators Extremes;
  std::uint32_t Counts[3] = {0, 0, 0};
  BandsOutcome Outcome = BandsOutcome::Unsuited;
};

RgbeBands::RgbeBands(BinaryFile& file, std::uint64_t origin, std::uint64_t bytes,
                     std::uint32_t width, std::uint32_t height, std::uint32_t rowsPerBlock,
                     RowWorkers& workers)
    : file_(file),
      origin_(origin),
      bytes_(bytes),
      width_(width),
      height_(height),
      rowsPerBlock_(std::clamp<std::uint32_t>(rowsPerBlock, 1, std::max(height, 1u))),
      planeSize_(std::size_t{rowsPerBlock_ + RgbeSpillRows(width)} * width),
      workers_(workers) {}

RgbeBands::~RgbeBands() = default;

bool RgbeBands::MakeRooms() {
  const std::size_t pixels = std::size_t{width_} * rowsPerBlock_;
  try {
    rooms_.resize(workers_.Threads());
    for (Room& room : rooms_) {
      // A block of a noisy photograph takes about 3.5 bytes a pixel.
      room.ByteRoom = 4 * pixels + 2 * LongestRowBytes(width_);
      room.Memory = PageBuffer(room.ByteRoom + 4 * planeSize_ + 3 * pixels);
      room.Bytes = room.Memory.Data();
      room.Planes = room.Bytes + room.ByteRoom;
      room.Rows = room.Planes + 4 * planeSize_;
    }
  } catch (const std::bad_alloc&) {
    rooms_.clear();
    return false;
  }
  for (Room& room : rooms_) free_.push_back(&room);
  return true;
}

RgbeBands::Room* RgbeBands::Take() {
  const std::lock_guard lock(freeLock_);
  Room* room = free_.back();
  free_.pop_back();
  return room;
}

void RgbeBands::Give(Room* room) {
  const std::lock_guard lock(freeLock_);
  free_.push_back(room);
}

std::uint8_t* RgbeBands::PlaneOf(Room& room, int component) const {
  return room.Planes + planeSize_ * static_cast<std::size_t>(component);
}

std::vector<std::uint64_t> RgbeBands::FindBandStarts() {
  // Many bands per thread: the cores of a virtual machine are not always
  // equally fast, and the last band leaves the other core idle.
  const std::size_t bands = workers_.Threads() == 1 ? 1 : 16 * std::size_t{workers_.Threads()};
  std::vector<std::uint64_t> starts(bands, bytes_);
  starts[0] = 0;
  const std::size_t window =
      std::min(rooms_[0].ByteRoom, (kRowsToTrust + 1) * LongestRowBytes(width_));
  workers_.RunTasks(bands - 1, [&](std::size_t task) {
    const std::uint64_t guess = (task + 1) * bytes_ / bands;
    const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(window, bytes_ - guess));
    Room* room = Take();
    if (file_.ReadAt(room->Bytes, want, origin_ + guess) == want) {
      const std::size_t at = FindRgbeRunRow(room->Bytes, want, 0, width_, kRowsToTrust);
      if (at < want) starts[task + 1] = guess + at;
    }
    Give(room);
  });
  std::sort(starts.begin(), starts.end());
  starts.erase(std::unique(starts.begin(), starts.end()), starts.end());
  if (starts.back() == bytes_) starts.pop_back();
  return starts;
}

void RgbeBands::SumBand(Band& band, const std::function<void()>& onBlock) {
  Room* room = Take();
  std::uint8_t* const planes[4] = {PlaneOf(*room, 0), PlaneOf(*room, 1), PlaneOf(*room, 2),
                                   PlaneOf(*room, 3)};
  std::uint8_t* const bytes = room->Bytes;
  const std::size_t capacity = room->ByteRoom;
  std::uint64_t at = band.Start;    // where bytes[0] lies in the data
  std::size_t begin = 0, held = 0;  // the bytes not yet taken: [begin, held)
  band.Outcome = BandsOutcome::Unsuited;
  try {
    while (!stopped_) {
      if (begin == held && at + held == band.End) {
        band.Outcome = BandsOutcome::Done;
        band.Met = true;
        break;
      }
      const std::size_t first = band.Ends.size();
      band.Ends.resize(first + rowsPerBlock_);
      band.Kinds.resize(first + rowsPerBlock_);
      band.Sums.resize(first + rowsPerBlock_);
      const RgbeRowsAhead taken =
          DecodeRgbeRowsAhead(bytes + begin, held - begin, width_, rowsPerBlock_, planes,
                              &band.Ends[first], &band.Kinds[first], &band.Sums[first]);
      band.Ends.resize(first + taken.Rows);
      band.Kinds.resize(first + taken.Rows);
      band.Sums.resize(first + taken.Rows);
      if (taken.OldRuns || taken.Stop == RgbeRowScan::Refused) break;
      if (taken.Rows == 0) {
        // The next row is not whole in the bytes at hand. One that reaches
        // past the band's end (a wrong guess) or is longer than the room
        // ends the bands; otherwise its bytes move to the front and more
        // are read behind them.
        if (at + held == band.End || (begin == 0 && held == capacity)) break;
        std::memmove(bytes, bytes + begin, held - begin);
        at += begin;
        held -= begin;
        begin = 0;
        const auto want = static_cast<std::size_t>(
            std::min<std::uint64_t>(capacity - held, band.End - at - held));
        if (file_.ReadAt(bytes + held, want, origin_ + at + held) != want) break;
        held += want;
        continue;
      }
      for (std::size_t row = first; row < band.Ends.size(); ++row) {
        band.Ends[row] += at + begin;
        ++band.Counts[static_cast<int>(band.Kinds[row])];
      }
      begin += taken.Bytes;
      const std::size_t pixels = std::size_t{width_} * taken.Rows;
      AccumulateRgbeExtremes(planes[0], planes[1], planes[2], planes[3], pixels, band.Extremes);
      band.Pieces.emplace_back(taken.Rows,
                               SumRgbePiece(planes[0], planes[1], planes[2], planes[3], pixels));
      band.RowsDone += taken.Rows;
      onBlock();
    }
  } catch (const std::bad_alloc&) {
    band.Outcome = BandsOutcome::NoRoom;
  }
  // Once a band fails, the others' work is of no use.
  if (band.Outcome != BandsOutcome::Done) stopped_ = true;
  Give(room);
}

BandsOutcome RgbeBands::Sum(Session& session, RgbeRowIndex& index, ChannelAccumulators& channels,
                            std::uint32_t (&rowCounts)[3]) {
  if (!UsesComponentRunRows(width_) || height_ > kMostBandedRows || rooms_.empty()) {
    return BandsOutcome::Unsuited;
  }
  const std::vector<std::uint64_t> starts = FindBandStarts();
  stopped_ = false;
  std::vector<Band> bands(starts.size());
  for (std::size_t b = 0; b < bands.size(); ++b) {
    bands[b].Start = starts[b];
    bands[b].End = b + 1 < starts.size() ? starts[b + 1] : bytes_;
  }
  // The bar (counting rows from 0) shows only rows that follow the image's
  // start unbroken: the block pass, if it must take over, goes on from there
  // and may stop at a row a band after them has passed.
  const auto caller = std::this_thread::get_id();
  const auto show = [&] {
    if (std::this_thread::get_id() != caller) return;
    std::uint32_t rows = 0;
    for (const Band& band : bands) {
      rows += band.RowsDone;
      if (!band.Met) break;
    }
    rows = std::min(rows, height_);
    if (rows > shown_) ReplayProgress(session, shown_, rows - 1);
    shown_ = std::max(shown_, rows);
  };
  workers_.RunTasks(bands.size(), [&](std::size_t b) { SumBand(bands[b], show); });
  show();

  std::size_t rows = 0;
  for (const Band& band : bands) {
    if (band.Outcome != BandsOutcome::Done) return band.Outcome;
    rows += band.Ends.size();
  }
  if (rows != height_) return BandsOutcome::Unsuited;
  try {
    index = {};
    index.Ends.reserve(height_);
    index.Kinds.reserve(height_);
    index.Sums.reserve(height_);
  } catch (const std::bad_alloc&) {
    return BandsOutcome::NoRoom;
  }
  channels = {};
  for (int kind = 0; kind < 3; ++kind) rowCounts[kind] = 0;
  for (const Band& band : bands) {
    index.Ends.insert(index.Ends.end(), band.Ends.begin(), band.Ends.end());
    index.Kinds.insert(index.Kinds.end(), band.Kinds.begin(), band.Kinds.end());
    index.Sums.insert(index.Sums.end(), band.Sums.begin(), band.Sums.end());
    for (int kind = 0; kind < 3; ++kind) rowCounts[kind] += band.Counts[kind];
    for (int c = 0; c < 3; ++c) {
      channels[c].Minimum = std::min(channels[c].Minimum, band.Extremes[c].Minimum);
      channels[c].Maximum = std::max(channels[c].Maximum, band.Extremes[c].Maximum);
    }
  }
  index.Complete = true;
  // The sums in row order; a piece whose total the chains would not give
  // is decoded again and chained pixel by pixel.
  Room& room = rooms_[0];
  std::uint8_t* const planes[4] = {PlaneOf(room, 0), PlaneOf(room, 1), PlaneOf(room, 2),
                                   PlaneOf(room, 3)};
  std::uint32_t y = 0;
  for (const Band& band : bands) {
    for (const auto& [pieceRows, piece] : band.Pieces) {
      if (!AddRgbeSumPiece(piece, channels)) {
        if (!DecodeIndexedRgbeRows(file_, origin_, index, width_, y, pieceRows, room.Bytes,
                                   planes)) {
          return BandsOutcome::Unsuited;
        }
        AccumulateRgbeSums(planes[0], planes[1], planes[2], planes[3],
                           std::size_t{width_} * pieceRows, channels);
      }
      y += pieceRows;
    }
  }
  return BandsOutcome::Done;
}

BandsOutcome RgbeBands::Map(Session& session, const RgbeRowIndex& index,
                            const RgbeToneTables& tables, std::uint64_t dataStart,
                            PlacedWriter& writer) {
  if (rooms_.empty()) return BandsOutcome::NoRoom;
  const std::size_t rowBytes = std::size_t{width_} * 3;
  const std::size_t bands = std::min<std::size_t>(height_, 8 * std::size_t{workers_.Threads()});
  const auto bandStart = [&](std::size_t band) {
    return static_cast<std::uint32_t>(band * height_ / bands);
  };
  const auto rowsFrom = [&](std::uint32_t y) { return y == 0 ? 0 : index.Ends[y - 1]; };
  // A step takes a block of rows, fewer where they would not fit in the
  // room, and at least one: a row longer than the room grows every room here.
  std::size_t longest = 0;
  for (std::uint32_t y = 0; y < height_; ++y) {
    longest = std::max<std::size_t>(longest, index.Ends[y] - rowsFrom(y));
  }
  try {
    for (Room& room : rooms_) {
      if (room.ByteRoom < longest) {
        room.Longer = PageBuffer(longest);
        room.Bytes = room.Longer.Data();
        room.ByteRoom = longest;
      }
    }
  } catch (const std::bad_alloc&) {
    return BandsOutcome::NoRoom;
  }
  std::atomic<bool> changed = false;
  // The second pass's bar counts rows from 1, moved on the calling thread.
  std::atomic<std::uint32_t> mapped = 0;
  std::uint32_t shown = 0;
  const auto caller = std::this_thread::get_id();
  workers_.RunTasks(bands, [&](std::size_t band) {
    Room* room = Take();
    std::uint8_t* const planes[4] = {PlaneOf(*room, 0), PlaneOf(*room, 1), PlaneOf(*room, 2),
                                     PlaneOf(*room, 3)};
    const std::uint32_t end = bandStart(band + 1);
    // Rows mapped but not written yet: the file was busy, and the next
    // block's decoding went first.
    std::size_t held = 0;
    std::uint64_t heldAt = 0;
    for (std::uint32_t y = bandStart(band); y < end && !changed;) {
      std::uint32_t rows = std::min(rowsPerBlock_, end - y);
      while (rows > 1 && index.Ends[y + rows - 1] - rowsFrom(y) > room->ByteRoom) --rows;
      if (!DecodeIndexedRgbeRows(file_, origin_, index, width_, y, rows, room->Bytes, planes)) {
        changed = true;
        break;
      }
      if (held > 0) writer.Write(room->Rows, std::exchange(held, 0), heldAt);
      if (!writer.Failed()) {
        ToneMapRgbeToRgb(planes[0], planes[1], planes[2], planes[3], std::size_t{width_} * rows,
                         tables, room->Rows);
        const std::uint64_t at = dataStart + rowBytes * y;
        if (!writer.TryWrite(room->Rows, rowBytes * rows, at)) {
          held = rowBytes * rows;
          heldAt = at;
        }
      }
      y += rows;
      const std::uint32_t now = mapped += rows;
      if (std::this_thread::get_id() == caller && now > shown) {
        ReplayProgress(session, shown + 1, now);
        shown = now;
      }
    }
    if (held > 0) writer.Write(room->Rows, held, heldAt);
    Give(room);
  });
  if (changed) return BandsOutcome::Changed;
  if (shown < height_) ReplayProgress(session, shown + 1, height_);
  return BandsOutcome::Done;
}

}  // namespace lumivane
