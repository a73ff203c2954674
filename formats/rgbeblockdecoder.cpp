#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "formats/checksum.h"
#include "formats/rgbe.h"
#include "formats/rgbedata.h"
#include "formats/rgbescan.h"
#include "io/binaryfile.h"

namespace lumivane {

namespace {
// The furthest a run or literal reaches past its row's end.
constexpr std::size_t kMaxSpill = 127;
constexpr std::size_t kScanReadBytes = std::size_t{1} << 18;
}  // namespace

struct RgbeBlockDecoder::Scan {
  // The bytes from the head of the block's first row on, as far as they were
  // read (in memory: to the end of the data).
  std::unique_ptr<std::uint8_t[]> Owned;
  std::size_t Capacity = 0;
  const std::uint8_t* Bytes = nullptr;
  std::size_t Size = 0;
  bool Scanned = false;
  // Every row of the block lies whole in Bytes; otherwise Rows counts those
  // before the first row that does not.
  bool Whole = false;
  std::uint32_t Rows = 0;
  std::vector<std::size_t> Ends;  // each row's end, counted from Bytes
  std::vector<RgbeRowKind> Kinds;
  std::vector<std::uint64_t> Sums;  // each row's checksum, when recording
};

struct RgbeBlockDecoder::Piece {
  std::uint32_t FirstRow, Rows;  // of the block
  std::size_t From;              // where its first row begins in the scan's bytes
  std::size_t PlaneSize;         // bytes it may write in each plane from its first row
  bool Sequential;
  std::uint32_t Counts[3] = {0, 0, 0};
  std::uint32_t Decoded = 0;
  std::uint32_t Whole = 0;  // of those, decoded before the data ran out
  bool Refused = false;
  std::uint64_t Checksum = 0;  // of the bytes it took from the scan
};

RgbeBlockDecoder::RgbeBlockDecoder(RgbeStream& stream, std::uint32_t width, std::uint32_t height,
                                   std::uint32_t rowsPerBlock)
    : RgbeBlockDecoder(nullptr, 0, width, height, rowsPerBlock) {
  data_ = std::make_unique<RgbeData>(&stream);
  stream_ = &stream;
  scans_[0]->Bytes = nullptr;
  scans_[0]->Size = 0;
}

RgbeBlockDecoder::RgbeBlockDecoder(const std::uint8_t* bytes, std::size_t size, std::uint32_t width,
                                   std::uint32_t height, std::uint32_t rowsPerBlock)
    : data_(std::make_unique<RgbeData>(bytes, size)),
      width_(width),
      height_(height),
      rowsPerBlock_(std::clamp<std::uint32_t>(rowsPerBlock, 1, std::max(height, 1u))),
      marginRows_(width == 0 ? 0 : static_cast<std::uint32_t>((kMaxSpill + width - 1) / width)),
      // The byte before each plane holds the pixel before its first.
      stride_(1 + (std::size_t{rowsPerBlock_} + marginRows_) * width) {
  for (auto& slot : slots_) slot.resize(4 * stride_);
  for (auto& scan : scans_) scan = std::make_unique<Scan>();
  scans_[0]->Bytes = bytes;
  scans_[0]->Size = size;
}

RgbeBlockDecoder::~RgbeBlockDecoder() = default;

std::uint8_t* RgbeBlockDecoder::Plane(int slot, int component) {
  return slots_[slot].data() + stride_ * static_cast<std::size_t>(component) + 1;
}

void RgbeBlockDecoder::UsePlainSteps(bool plain) {
  plain_ = plain;
  data_->PlainSteps = plain;
}

void RgbeBlockDecoder::Carry(const std::uint8_t* bytes, std::size_t size, Scan& to) {
  to.Scanned = false;
  if (!stream_) {
    to.Bytes = bytes;
    to.Size = size;
    return;
  }
  to.Size = 0;
  Reserve(to, size);
  if (size > 0) std::memcpy(to.Owned.get(), bytes, size);
  to.Bytes = to.Owned.get();
  to.Size = size;
}

void RgbeBlockDecoder::Reserve(Scan& scan, std::size_t bytes) {
  if (bytes <= scan.Capacity) return;
  const std::size_t capacity = std::max(bytes, 2 * scan.Capacity);
  auto grown = std::make_unique_for_overwrite<std::uint8_t[]>(capacity);
  if (scan.Size > 0) std::memcpy(grown.get(), scan.Bytes, scan.Size);
  scan.Owned = std::move(grown);
  scan.Capacity = capacity;
  scan.Bytes = scan.Owned.get();
}

void RgbeBlockDecoder::ScanBlock(Scan& scan, std::uint32_t rows) {
  scan.Ends.resize(rows);
  scan.Kinds.resize(rows);
  if (record_) scan.Sums.resize(rows);
  // No row that a writer makes takes more than 8 bytes a pixel (runs of one
  // per component); rows beyond that (codes of 0) are left to the decoding
  // byte by byte, which reads them through a small window.
  const std::size_t limit =
      std::size_t{rows} * (8 * std::size_t{width_} + 4) + RgbeStream::kChunkBytes;
  std::size_t at = 0;
  std::uint32_t row = 0;
  while (row < rows) {
    const RgbeRowScan found = ScanRgbeRow(scan.Bytes + at, scan.Size - at, width_);
    if (found.Outcome == RgbeRowScan::CutShort && stream_ && stream_->left_ > 0 &&
        scan.Size < limit) {
      // Small reads keep the bytes carried to the next block few; a row
      // longer than a read doubles them, so that it is not scanned again for
      // every read.
      const std::size_t more = std::max(kScanReadBytes, scan.Size - at);
      Reserve(scan, scan.Size + more);
      // The bytes are summed as they are decoded, on the decoding threads.
      scan.Size += stream_->Read(scan.Owned.get() + scan.Size, more, false);
      continue;
    }
    if (found.Outcome != RgbeRowScan::Whole) break;
    at += found.Bytes;
    scan.Ends[row] = at;
    scan.Kinds[row] = found.Kind;
    ++row;
  }
  scan.Rows = row;
  scan.Whole = row == rows;
  scan.Scanned = true;
}

std::size_t RgbeBlockDecoder::PrepareNext(unsigned pieces) {
  pieces_.clear();
  scanAhead_ = false;
  if (Finished()) return 0;
  Scan& scan = *scans_[0];
  const std::uint32_t first = rowsDone_;
  const std::uint32_t rows = std::min(rowsPerBlock_, height_ - first);
  if (follow_) {
    Follow(scan, first, rows);
  } else if (!scan.Scanned) {
    ScanBlock(scan, rows);
  }
  const int slot = next_;
  next_ ^= 1;
  // The rows runs may spill into, clipped at the image's end as the whole
  // image's planes are.
  const std::size_t size =
      std::size_t{std::min<std::uint32_t>(rowsPerBlock_ + marginRows_, height_ - first)} * width_;
  const std::size_t end = std::size_t{width_} * rows;
  for (int c = 0; c < 4; ++c) {
    std::uint8_t* plane = Plane(slot, c);
    // Whole rows write every byte of the block; only the bytes past them may
    // keep what was there, and they carry spills to the next block.
    std::memset(plane + (scan.Whole ? end : 0), 0, size - (scan.Whole ? end : 0));
    std::memcpy(plane, spill_[c], spillSize_);
    plane[-1] = previous_[c];
  }
  last_ = {Plane(slot, 0), Plane(slot, 1), Plane(slot, 2), Plane(slot, 3), first, 0};

  // In rows narrower than the longest spill, a row's runs may reach past the
  // row below it, where a piece that ends there would not let them.
  if (!scan.Whole || pieces <= 1 || width_ < kMaxSpill) {
    pieces_.push_back({0, rows, 0, size, !scan.Whole});
  } else {
    // Pieces of about equal bytes; an older run row repeats the pixel before
    // it, so none starts a piece.
    const std::size_t total = scan.Ends[rows - 1];
    std::uint32_t start = 0;
    for (std::uint32_t row = 1; row < rows; ++row) {
      const std::size_t due = total / pieces * (pieces_.size() + 1);
      if (scan.Ends[row - 1] >= due && scan.Kinds[row] != RgbeRowKind::OldRuns &&
          pieces_.size() + 1 < pieces) {
        const std::size_t from = start == 0 ? 0 : scan.Ends[start - 1];
        pieces_.push_back({start, row - start, from, std::size_t{width_} * (row - start), false});
        start = row;
      }
    }
    const std::size_t from = start == 0 ? 0 : scan.Ends[start - 1];
    pieces_.push_back({start, rows - start, from, size - std::size_t{width_} * start, false});
  }
  scanAhead_ = !follow_ && scan.Whole && first + rows < height_;
  if (follow_ && pieceBytes_.size() < pieces_.size()) pieceBytes_.resize(pieces_.size());
  return 1 + pieces_.size();
}

void RgbeBlockDecoder::RunTask(std::size_t task) {
  if (task > 0) {
    DecodePiece(pieces_[task - 1], task - 1);
    return;
  }
  if (!scanAhead_) return;
  const Scan& scan = *scans_[0];
  const std::size_t end = scan.Ends[scan.Rows - 1];
  Scan& after = *scans_[1];
  Carry(scan.Bytes + end, scan.Size - end, after);
  const std::uint32_t first = last_.FirstRow + scan.Rows;
  ScanBlock(after, std::min(rowsPerBlock_, height_ - first));
}

// The checksums of the piece's rows, each of its own bytes, folded in row
// order: a decoding that follows an index compares rows one by one, in
// whatever pieces it reads them. `bytes` holds the piece's, from its first
// row's; `sums` (may be null) gets each row's.
std::uint64_t RgbeBlockDecoder::RowChecksums(const Scan& scan, const Piece& piece,
                                             const std::uint8_t* bytes, std::uint64_t* sums) {
  std::uint64_t folded = 0;
  for (std::uint32_t row = piece.FirstRow; row < piece.FirstRow + piece.Rows; ++row) {
    const std::size_t start = row == 0 ? 0 : scan.Ends[row - 1];
    const std::uint64_t sum =
        ChecksumBytes(0, bytes + (start - piece.From), scan.Ends[row] - start);
    if (sums) sums[row] = sum;
    folded = ChecksumBytes(folded, reinterpret_cast<const std::uint8_t*>(&sum), sizeof sum);
  }
  return folded;
}

void RgbeBlockDecoder::DecodePiece(Piece& piece, std::size_t number) {
  const std::size_t at = std::size_t{width_} * piece.FirstRow;
  RgbeRowPlanes planes{{last_.R + at, last_.G + at, last_.B + at, last_.E + at},
                       piece.PlaneSize,
                       last_.FirstRow > 0 || piece.FirstRow > 0};
  const Scan& scan = *scans_[0];
  // Following an index there are no scanned bytes: the piece reads its own.
  RgbeData local =
      follow_ ? RgbeData(nullptr, 0) : RgbeData(scan.Bytes + piece.From, scan.Size - piece.From);
  RgbeData* data = &local;
  if (follow_) {
    // The piece's own bytes, read on this thread; fewer than the index
    // promises is a changed file.
    const std::size_t size = scan.Ends[piece.FirstRow + piece.Rows - 1] - piece.From;
    std::vector<std::uint8_t>& bytes = pieceBytes_[number];
    if (bytes.size() < size) bytes.resize(size);
    const std::uint64_t at = stream_->origin_ + blockStart_ + piece.From;
    if (stream_->file_.ReadAt(bytes.data(), size, at) != size) {
      piece.Refused = true;
      return;
    }
    piece.Checksum = RowChecksums(scan, piece, bytes.data(), nullptr);
    local = RgbeData(bytes.data(), size);
  } else if (stream_ && !piece.Sequential) {
    piece.Checksum = RowChecksums(scan, piece, scan.Bytes + piece.From,
                                  record_ ? scans_[0]->Sums.data() : nullptr);
  }
  if (piece.Sequential) {
    // Byte by byte to the end of the data, read on as far as it goes.
    if (stream_) {
      piece.Checksum = ChecksumBytes(0, scan.Bytes, scan.Size);
      data_->Seed(scan.Bytes, scan.Size);
    } else {
      *data_ = RgbeData(scan.Bytes, scan.Size);
    }
    data = data_.get();
  }
  data->PlainSteps = plain_;
  for (std::uint32_t y = 0; y < piece.Rows; ++y) {
    const int kind = DecodeRgbeRow(*data, planes, std::size_t{width_} * y, width_);
    if (kind < 0) {
      piece.Refused = true;
      return;
    }
    ++piece.Counts[kind];
    ++piece.Decoded;
    if (!data->RanOut()) ++piece.Whole;
  }
}

bool RgbeBlockDecoder::TaskRows(std::size_t task, Block& rows) const {
  if (task == 0 || task > pieces_.size()) return false;
  const Piece& piece = pieces_[task - 1];
  if (piece.Refused || piece.Decoded == 0) return false;
  const std::size_t at = std::size_t{width_} * piece.FirstRow;
  rows = {last_.R + at, last_.G + at, last_.B + at, last_.E + at, last_.FirstRow + piece.FirstRow,
          piece.Decoded};
  return true;
}

bool RgbeBlockDecoder::FinishNext() {
  if (pieces_.empty()) return true;
  bool refused = false;
  for (const Piece& piece : pieces_) {
    if (stream_) stream_->AddToChecksum(piece.Checksum);
    for (int kind = 0; kind < 3; ++kind) rowCounts_[kind] += piece.Counts[kind];
    last_.Rows += piece.Decoded;
    if (!cut_) {
      completeRows_ += piece.Whole;
      cut_ = piece.Whole < piece.Decoded;
    }
    if (piece.Refused) {
      refused = true;
      break;
    }
  }
  if (refused) return false;
  const std::uint32_t rows = last_.Rows;
  const std::size_t size =
      std::size_t{std::min<std::uint32_t>(rowsPerBlock_ + marginRows_, height_ - last_.FirstRow)} *
      width_;
  const std::size_t end = std::size_t{width_} * rows;
  spillSize_ = std::min(kMaxSpill, size - end);
  std::uint8_t* const planes[4] = {last_.R, last_.G, last_.B, last_.E};
  for (int c = 0; c < 4; ++c) {
    std::memcpy(spill_[c], planes[c] + end, spillSize_);
    previous_[c] = planes[c][end - 1];
  }
  rowsDone_ += rows;
  Scan& scan = *scans_[0];
  if (record_) Record(scan, rows);
  if (follow_) {
    const std::size_t used = scan.Ends[rows - 1];
    stream_->read_ += used;
    blockStart_ += used;
    return true;
  }
  if (!scan.Whole) {
    // The decoding read on past the scan: the next block starts where it stopped.
    Carry(data_->Here(), data_->Remaining(), *scans_[1]);
  } else if (!scanAhead_) {
    const std::size_t used = scan.Ends[scan.Rows - 1];
    Carry(scan.Bytes + used, scan.Size - used, *scans_[1]);
  }
  std::swap(scans_[0], scans_[1]);
  return true;
}

// Indexes stay small beside the planes: a row of at least one pixel takes at
// least four bytes, and an index of more rows than this is not kept.
constexpr std::uint32_t kMaxIndexedRows = std::uint32_t{1} << 20;

void RgbeBlockDecoder::RecordRows(RgbeRowIndex* index) {
  record_ = stream_ && height_ <= kMaxIndexedRows ? index : nullptr;
  if (!index) return;
  *index = {};
  index->Complete = record_ != nullptr;
  if (record_) {
    index->Ends.reserve(height_);
    index->Kinds.reserve(height_);
    index->Sums.reserve(height_);
  }
}

void RgbeBlockDecoder::FollowRows(const RgbeRowIndex& index) {
  follow_ = stream_ && index.Complete && index.Ends.size() == height_ ? &index : nullptr;
}

void RgbeBlockDecoder::Record(const Scan& scan, std::uint32_t rows) {
  if (!record_->Complete) return;
  if (!scan.Whole || scan.Rows != rows) {
    *record_ = {};
    record_->Complete = false;
    return;
  }
  for (std::uint32_t row = 0; row < rows; ++row) {
    record_->Ends.push_back(blockStart_ + scan.Ends[row]);
    record_->Kinds.push_back(scan.Kinds[row]);
    record_->Sums.push_back(scan.Sums[row]);
  }
  blockStart_ += scan.Ends[rows - 1];
}

void RgbeBlockDecoder::Follow(Scan& scan, std::uint32_t first, std::uint32_t rows) {
  scan.Ends.resize(rows);
  scan.Kinds.resize(rows);
  for (std::uint32_t row = 0; row < rows; ++row) {
    scan.Ends[row] = static_cast<std::size_t>(follow_->Ends[first + row] - blockStart_);
    scan.Kinds[row] = follow_->Kinds[first + row];
  }
  scan.Bytes = nullptr;
  scan.Size = 0;
  scan.Rows = rows;
  scan.Whole = true;
  scan.Scanned = true;
}

bool RgbeBlockDecoder::DecodeNext(unsigned pieces) {
  const std::size_t tasks = PrepareNext(pieces);
  for (std::size_t task = 0; task < tasks; ++task) RunTask(task);
  return FinishNext();
}

namespace {

// Decodes `count` rows that lie whole in `bytes` into planes with room for
// `roomRows` rows; the first refused row head ends it with false.
bool DecodeWholeRows(const std::uint8_t* bytes, std::size_t size, std::uint32_t width,
                     std::uint32_t count, std::uint32_t roomRows, std::uint8_t* const planes[4]) {
  RgbeData data(bytes, size);
  const RgbeRowPlanes rows{{planes[0], planes[1], planes[2], planes[3]},
                           std::size_t{roomRows + RgbeSpillRows(width)} * width,
                           false};
  for (std::uint32_t y = 0; y < count; ++y) {
    if (DecodeRgbeRow(data, rows, std::size_t{width} * y, width) < 0) return false;
  }
  return true;
}

}  // namespace

std::uint32_t RgbeSpillRows(std::uint32_t width) {
  return width == 0 ? 0 : static_cast<std::uint32_t>((kMaxSpill + width - 1) / width);
}

bool DecodeIndexedRgbeRows(BinaryFile& file, std::uint64_t origin, const RgbeRowIndex& index,
                           std::uint32_t width, std::uint32_t first, std::uint32_t count,
                           std::uint8_t* bytes, std::uint8_t* const planes[4]) {
  if (count == 0) return true;
  const std::uint64_t from = first == 0 ? 0 : index.Ends[first - 1];
  const std::uint64_t to = index.Ends[first + count - 1];
  const auto size = static_cast<std::size_t>(to - from);
  if (file.ReadAt(bytes, size, origin + from) != size) return false;
  for (std::uint32_t row = first; row < first + count; ++row) {
    const std::size_t start = static_cast<std::size_t>((row == 0 ? 0 : index.Ends[row - 1]) - from);
    const std::size_t end = static_cast<std::size_t>(index.Ends[row] - from);
    if (ChecksumBytes(0, bytes + start, end - start) != index.Sums[row]) return false;
  }
  return DecodeWholeRows(bytes, size, width, count, count, planes);
}

RgbeRowsAhead DecodeRgbeRowsAhead(const std::uint8_t* bytes, std::size_t size, std::uint32_t width,
                                  std::uint32_t most, std::uint8_t* const planes[4],
                                  std::uint64_t* ends, RgbeRowKind* kinds, std::uint64_t* sums) {
  RgbeRowsAhead taken;
  while (taken.Rows < most) {
    const RgbeRowScan row = ScanRgbeRow(bytes + taken.Bytes, size - taken.Bytes, width);
    if (row.Outcome != RgbeRowScan::Whole) {
      taken.Stop = row.Outcome;
      break;
    }
    if (row.Kind == RgbeRowKind::OldRuns) {
      taken.OldRuns = true;
      break;
    }
    sums[taken.Rows] = ChecksumBytes(0, bytes + taken.Bytes, row.Bytes);
    taken.Bytes += row.Bytes;
    ends[taken.Rows] = taken.Bytes;
    kinds[taken.Rows] = row.Kind;
    ++taken.Rows;
  }
  // Every scanned row decodes: the scan refuses what the decoding would.
  DecodeWholeRows(bytes, taken.Bytes, width, taken.Rows, most, planes);
  return taken;
}

}  // namespace lumivane
