// Radiance RGBE scanlines decoded into four byte planes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "formats/rgbescan.h"

namespace lumivane {

class BinaryFile;
class RgbeData;

// (M + 0.5) / 256 x 2^(E - 128), exact in 32-bit float; no special case for E = 0.
float RgbeToFloat(std::uint8_t mantissa, std::uint8_t exponent);

// Index of the (mantissa, exponent) pair in 64K tables such as the one below.
inline std::size_t RgbeKey(std::uint8_t mantissa, std::uint8_t exponent) {
  return static_cast<std::size_t>(exponent) << 8 | mantissa;
}

// RgbeToFloat of every pair, built once: a load instead of an ldexp per value.
const std::vector<float>& RgbeFloatTable();

// A Radiance file's encoded bytes, read as the decoding reaches them. A
// checksum of every byte decoded lets a second pass over the file tell
// whether it read what the first one did.
class RgbeStream {
 public:
  // `bytes` bytes of `file` from `offset`; a short read ends the data.
  RgbeStream(BinaryFile& file, std::uint64_t offset, std::uint64_t bytes);
  ~RgbeStream();
  RgbeStream(const RgbeStream&) = delete;
  RgbeStream& operator=(const RgbeStream&) = delete;

  // Of the bytes read so far. The same bytes decoded the same way are read and
  // decoded in the same pieces, so they give the same checksum.
  std::uint64_t BytesRead() const { return read_; }
  std::uint64_t Checksum() const { return checksum_; }

 private:
  friend class RgbeData;
  friend class RgbeBlockDecoder;
  static constexpr std::size_t kChunkBytes = std::size_t{1} << 20;
  // More than the longest piece that decoding needs at once (a literal).
  static constexpr std::size_t kLookAhead = 4096;

  // `summed` false leaves the bytes to be summed by the caller, through
  // AddToChecksum, in an order that depends on the bytes alone.
  std::size_t Read(std::uint8_t* into, std::size_t count, bool summed = true);
  void AddToChecksum(std::uint64_t sum);

  BinaryFile& file_;
  std::uint64_t origin_;  // where the data starts in the file
  std::uint64_t offset_;
  std::uint64_t left_;
  std::uint64_t read_ = 0;
  std::uint64_t checksum_ = 0;
  std::vector<std::uint8_t> window_;
};

// Where each row of a file's data ends (counted from the data's start) and its
// kind, as one decoding of the file found them: a second decoding of the same
// file then needs no scan, and each piece reads its own bytes on its own
// thread. Complete only when every block was split at row starts.
struct RgbeRowIndex {
  std::vector<std::uint64_t> Ends;
  std::vector<RgbeRowKind> Kinds;
  std::vector<std::uint64_t> Sums;  // ChecksumBytes(0, ...) of each row's bytes
  bool Complete = true;
};

// The rows a run may spill into below its own, at this width.
std::uint32_t RgbeSpillRows(std::uint32_t width);

// Decodes rows [first, first + count) of data that `index` describes (complete,
// with no older run rows) from `file`, whose data start at `origin`: reads
// their bytes into `bytes` (room for them all) and the pixels into `planes`,
// from their first byte, each plane with room for count + RgbeSpillRows(width)
// rows. False when the bytes are not those the index was made from (fewer, or
// another checksum) or a row head is refused: the file changed.
bool DecodeIndexedRgbeRows(BinaryFile& file, std::uint64_t origin, const RgbeRowIndex& index,
                           std::uint32_t width, std::uint32_t first, std::uint32_t count,
                           std::uint8_t* bytes, std::uint8_t* const planes[4]);

// The rows at the head of `bytes` (at most `most`) scanned and decoded as the
// decoding of the whole image decodes them, into planes with room for
// `most` + RgbeSpillRows(width) rows from their first byte; each row's end
// (counted from `bytes`), kind and checksum go to `ends`, `kinds` and `sums`.
// Stops before a row that is not whole in the bytes, is refused, or has the
// older runs, which repeat the pixel before it.
struct RgbeRowsAhead {
  std::uint32_t Rows = 0;
  std::size_t Bytes = 0;
  RgbeRowScan::Result Stop = RgbeRowScan::Whole;  // Whole: `most` rows, or an older run row
  bool OldRuns = false;
};
RgbeRowsAhead DecodeRgbeRowsAhead(const std::uint8_t* bytes, std::size_t size, std::uint32_t width,
                                  std::uint32_t most, std::uint8_t* const planes[4],
                                  std::uint64_t* ends, RgbeRowKind* kinds, std::uint64_t* sums);

// An image's rows decoded in order, a block of rows at a time, to exactly the
// pixels a decoding of the whole image at once gives them, without the whole
// image in memory. Two blocks take turns: the one decoded last is not touched
// while the next one is decoded, so another thread may use it (and overwrite
// it) meanwhile.
//
// A block whose rows all lie whole in the data is split into pieces at row
// starts found by a scan of the run counts, and the pieces may be decoded on
// several threads; the scan of the block after it runs beside them. Any other
// block (data cut short, a refused row head) is decoded in one piece, byte
// by byte as the whole image would be.
class RgbeBlockDecoder {
 public:
  struct Block {
    std::uint8_t* R;
    std::uint8_t* G;
    std::uint8_t* B;
    std::uint8_t* E;
    std::uint32_t FirstRow;
    std::uint32_t Rows;  // each `width` bytes in every plane
  };

  RgbeBlockDecoder(RgbeStream& stream, std::uint32_t width, std::uint32_t height,
                   std::uint32_t rowsPerBlock);
  // Decodes bytes already in memory.
  RgbeBlockDecoder(const std::uint8_t* bytes, std::size_t size, std::uint32_t width,
                   std::uint32_t height, std::uint32_t rowsPerBlock);
  ~RgbeBlockDecoder();
  RgbeBlockDecoder(const RgbeBlockDecoder&) = delete;
  RgbeBlockDecoder& operator=(const RgbeBlockDecoder&) = delete;

  // True decodes run lines one plain step at a time, the reference for the
  // chunked copies used otherwise; tests and benchmarks compare the two.
  void UsePlainSteps(bool plain);

  // Before the first block: the decoding writes where its rows end into
  // `index`, or follows an index that a decoding of the same data wrote
  // (when it is complete; otherwise it scans as usual). A file changed since
  // the index was written fails as a changed file does: a checksum or a
  // refused row differs.
  void RecordRows(RgbeRowIndex* index);
  void FollowRows(const RgbeRowIndex& index);
  bool FollowsRows() const { return follow_ != nullptr; }

  // Decodes the next block on the calling thread, in up to `pieces` pieces.
  // False on a refused row head: the job must abort.
  bool DecodeNext(unsigned pieces = 1);

  // The same in three steps, for callers that run the tasks on their threads:
  // PrepareNext (one thread) returns the number of tasks; RunTask(0) to
  // RunTask(n - 1) may then run at the same time, in any order; FinishNext
  // (one thread, after all of them) returns what DecodeNext would.
  std::size_t PrepareNext(unsigned pieces);
  void RunTask(std::size_t task);
  bool FinishNext();
  // The rows that task `task` decoded, when it decoded any without a refusal.
  bool TaskRows(std::size_t task, Block& rows) const;

  Block Last() const { return last_; }
  bool Finished() const { return rowsDone_ == height_; }
  const std::uint32_t (&RowCounts() const)[3] { return rowCounts_; }
  // The rows decoded so far whose bytes were all there: all of them, unless
  // the data ended early.
  std::uint32_t CompleteRows() const { return completeRows_; }

 private:
  struct Scan;
  struct Piece;
  std::uint8_t* Plane(int slot, int component);
  void ScanBlock(Scan& scan, std::uint32_t rows);
  std::uint64_t RowChecksums(const Scan& scan, const Piece& piece, const std::uint8_t* bytes,
                             std::uint64_t* sums);
  // Makes `size` bytes from `bytes` the start of the scan's data.
  void Carry(const std::uint8_t* bytes, std::size_t size, Scan& to);
  void Reserve(Scan& scan, std::size_t bytes);
  void DecodePiece(Piece& piece, std::size_t number);
  void Follow(Scan& scan, std::uint32_t first, std::uint32_t rows);
  void Record(const Scan& scan, std::uint32_t rows);

  std::unique_ptr<RgbeData> data_;
  RgbeStream* stream_ = nullptr;
  std::uint32_t width_, height_, rowsPerBlock_, marginRows_;
  std::size_t stride_;
  std::vector<std::uint8_t> slots_[2];
  int next_ = 0;
  std::uint32_t rowsDone_ = 0;
  std::uint32_t rowCounts_[3] = {0, 0, 0};
  std::uint32_t completeRows_ = 0;
  bool cut_ = false;
  // The block being decoded and the one after it, found by a scan.
  std::unique_ptr<Scan> scans_[2];
  std::vector<Piece> pieces_;
  bool scanAhead_ = false;
  bool plain_ = false;
  RgbeRowIndex* record_ = nullptr;
  const RgbeRowIndex* follow_ = nullptr;
  std::uint64_t blockStart_ = 0;                       // of the block being decoded, in the data
  std::vector<std::vector<std::uint8_t>> pieceBytes_;  // each piece's own, when following
  // What the block decoded last leaves to the next: the bytes its runs
  // spilled past its last row, and each plane's last pixel.
  std::uint8_t spill_[4][128] = {};
  std::size_t spillSize_ = 0;
  std::uint8_t previous_[4] = {};
  Block last_{};
};

}  // namespace lumivane
