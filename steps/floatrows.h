// Stored float rows read in big blocks, and how the jobs over them fail.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "formats/floatimage.h"
#include "io/iobuffer.h"

namespace lumivane {

class BinaryFile;
class BlockWriter;
class RowWorkers;
class Session;

// Reads the rows of a float image from its data start in big blocks, memory
// proportional to one block whatever the height. Rows come in stored order, or
// last stored row first when `lastRowFirst` (one seek per block).
class FloatRowReader {
 public:
  static constexpr std::size_t kBlockBytes = std::size_t{4} << 20;

  FloatRowReader(BinaryFile& file, std::uint64_t dataStart, std::size_t rowBytes,
                 std::uint32_t rows, bool lastRowFirst, std::size_t blockBytes = kBlockBytes);

  // Each block is then read in as many pieces as `workers` has threads, side
  // by side: the copy out of the page cache costs as much as the pixel work.
  void ShareReadsWith(RowWorkers& workers) { workers_ = &workers; }
  // Sums a checksum of every row read with its stored index, so that two
  // passes over the same bytes agree in whichever order they read the rows.
  void KeepChecksum() { keepChecksum_ = true; }
  std::uint64_t Checksum() const { return checksum_; }

  // The next row, or nullptr when the file ends before it (or after the last row).
  const std::uint8_t* NextRow();
  // Up to `most` next rows into `rows`, fewer when the rows or the file end;
  // returns how many.
  std::uint32_t NextRows(const std::uint8_t** rows, std::uint32_t most);
  // Rows handed out so far.
  std::uint32_t RowsRead() const { return handed_; }
  bool AllRowsRead() const { return handed_ >= rows_; }
  // Rows per block read. The rows of one block stay valid until the next
  // block is read: that many rows from the start, or from a multiple of it.
  std::uint32_t RowsPerBlock() const { return rowsPerBlock_; }

 private:
  bool LoadBlock();

  BinaryFile& file_;
  std::uint64_t dataStart_;
  std::size_t rowBytes_;
  std::uint32_t rows_;
  bool lastRowFirst_;
  std::uint32_t rowsPerBlock_;
  IoBuffer block_;
  RowWorkers* workers_ = nullptr;
  // Stored row index of the block's first row, and rows in it.
  std::uint32_t blockFirst_ = 0;
  std::uint32_t blockRows_ = 0;
  std::uint32_t usedInBlock_ = 0;
  std::uint32_t handed_ = 0;
  bool failed_ = false;
  bool keepChecksum_ = false;
  std::uint64_t checksum_ = 0;
};

// The failure of a float job: logs `message` as the FailureMessage, closes the
// input (with its log lines) and discards the unfinished output.
// Returns false.
bool AbortFloatJob(Session& session, const std::string& message);

// Whether a stored-float input is one the jobs take: width and height above
// 0, its pixels under 4 GiB ("Cannot <verb> <input>: ..." otherwise), the file
// as long as its header promises. False after the job was aborted.
bool CheckStoredFloatSize(Session& session, const std::string& verb);

// "<input> is shorter than its header promises"
std::string ShortInputMessage(const Session& session);
// "Cannot write <output>: <reason>"
std::string WriteFailureMessage(const Session& session);

// Ends one block of `count` rows starting at row index `first`, filled into
// writer.Next(): once the block before is written, moves the bar to its end
// and through this block's rows but the last, then starts writing
// `byteCount` bytes of this one. Fails the job on a write error or on input
// that ran out before the image did. False after the job was aborted.
bool FinishRowBlock(Session& session, const FloatRowReader& rows, std::uint32_t first,
                    std::uint32_t count, BlockWriter& writer, std::size_t byteCount);
// After the last block: waits for its write and moves the bar to `rowsDone`.
// False after the job was aborted.
bool FinishLastRowBlock(Session& session, BlockWriter& writer, std::uint32_t rowsDone);

}  // namespace lumivane
