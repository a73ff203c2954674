#include "steps/floatrows.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <utility>

#include "formats/checksum.h"
#include "imaging/blockwriter.h"
#include "io/parallel.h"
#include "steps/failure.h"
#include "steps/session.h"
#include "steps/statuslog.h"

namespace lumivane {

FloatRowReader::FloatRowReader(BinaryFile& file, std::uint64_t dataStart, std::size_t rowBytes,
                               std::uint32_t rows, bool lastRowFirst, std::size_t blockBytes)
    : file_(file),
      dataStart_(dataStart),
      rowBytes_(rowBytes),
      rows_(rows),
      lastRowFirst_(lastRowFirst),
      rowsPerBlock_(static_cast<std::uint32_t>(
          std::clamp<std::size_t>(rowBytes ? blockBytes / rowBytes : 1, 1, std::max(rows, 1u)))) {}

bool FloatRowReader::LoadBlock() {
  const std::uint32_t remaining = rows_ - handed_;
  blockRows_ = std::min(rowsPerBlock_, remaining);
  // Rows still to come are [0, remaining) when reading backwards, else [handed_, rows_).
  blockFirst_ = lastRowFirst_ ? remaining - blockRows_ : handed_;
  usedInBlock_ = 0;
  const std::size_t bytes = std::size_t{blockRows_} * rowBytes_;
  const std::uint64_t offset = dataStart_ + std::uint64_t{blockFirst_} * rowBytes_;
  std::uint8_t* const block = block_.Place(bytes, offset);
  std::atomic<bool> whole = true;
  if (!workers_ || workers_->Threads() == 1) {
    whole = file_.ReadAt(block, bytes, offset) == bytes;
  } else {
    const unsigned pieces = workers_->Threads();
    workers_->Run(pieces, [&](std::size_t begin, std::size_t end) {
      for (std::size_t piece = begin; piece < end; ++piece) {
        const std::size_t from = bytes * piece / pieces, to = bytes * (piece + 1) / pieces;
        if (file_.ReadAt(block + from, to - from, offset + from) != to - from) whole = false;
      }
    });
  }
  // A short block ends the rows for good.
  if (!whole) failed_ = true;
  if (whole && keepChecksum_) {
    std::atomic<std::uint64_t> sum = 0;
    const auto sumRows = [&](std::size_t begin, std::size_t end) {
      std::uint64_t part = 0;
      for (std::size_t row = begin; row < end; ++row)
        part += ChecksumBytes(blockFirst_ + row, block + row * rowBytes_, rowBytes_);
      sum += part;
    };
    if (workers_) {
      workers_->Run(blockRows_, sumRows);
    } else {
      sumRows(0, blockRows_);
    }
    checksum_ += sum;
  }
  return whole;
}

std::uint32_t FloatRowReader::NextRows(const std::uint8_t** rows, std::uint32_t most) {
  std::uint32_t count = 0;
  while (count < most && !AllRowsRead()) {
    const std::uint8_t* row = NextRow();
    if (!row) break;
    rows[count++] = row;
  }
  return count;
}

const std::uint8_t* FloatRowReader::NextRow() {
  if (handed_ >= rows_ || failed_) return nullptr;
  if (usedInBlock_ == blockRows_ && !LoadBlock()) return nullptr;
  const std::uint32_t inBlock = lastRowFirst_ ? blockRows_ - 1 - usedInBlock_ : usedInBlock_;
  ++usedInBlock_;
  ++handed_;
  return block_.Data() + std::size_t{inBlock} * rowBytes_;
}

bool CheckStoredFloatSize(Session& session, const std::string& verb) {
  JobContext& context = session.Context;
  const auto imageBytes = FloatImageBytes(context.ImageWidth, context.ImageHeight);
  if (!imageBytes)
    return AbortFloatJob(session, "Cannot " + verb + " " + context.InputFileName +
                                      ": width or height 0, or more than 4 GiB of pixels");
  const auto size = context.InputFile.Size();
  if (size && *size < context.InputFile.Position() + *imageBytes)
    return AbortFloatJob(session, ShortInputMessage(session));
  return true;
}

std::string ShortInputMessage(const Session& session) {
  return session.Context.InputFileName + " is shorter than its header promises";
}

std::string WriteFailureMessage(const Session& session) {
  return "Cannot write " + session.Context.OutputFileName + ": " +
         session.Context.OutputFile.ErrorText();
}

bool FinishRowBlock(Session& session, const FloatRowReader& rows, std::uint32_t first,
                    std::uint32_t count, BlockWriter& writer, std::size_t byteCount) {
  // The block before is written by now, or the job fails.
  if (!writer.Finish()) return AbortFloatJob(session, WriteFailureMessage(session));
  if (writer.Started()) SetProgressPosition(session, first);
  if (count > 1) ReplayProgress(session, first + 1, first + count - 1);
  if (count > 0) writer.Start(byteCount);
  if (!rows.AllRowsRead() && count < rows.RowsPerBlock()) {
    // The input ran out: what it held is written before the job fails.
    if (count > 0 && !FinishLastRowBlock(session, writer, first + count)) return false;
    return AbortFloatJob(session, ShortInputMessage(session));
  }
  return true;
}

bool FinishLastRowBlock(Session& session, BlockWriter& writer, std::uint32_t rowsDone) {
  if (!writer.Finish()) return AbortFloatJob(session, WriteFailureMessage(session));
  if (writer.Started()) SetProgressPosition(session, rowsDone);
  return true;
}

bool AbortFloatJob(Session& session, const std::string& message) {
  return FailStep(session, message,
                  FailureOptions()
                      .CloseInput(InputClosing::WithLinesIfOpen)
                      .CloseOutput(OutputClosing::Remove)
                      .EndWithSeparator());
}

}  // namespace lumivane
