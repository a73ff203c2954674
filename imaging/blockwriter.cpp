#include "imaging/blockwriter.h"

#include <string>
#include <system_error>

#include "formats/imagerows.h"
#include "io/binaryfile.h"

namespace lumivane {

BlockWriter::BlockWriter(BinaryFile& file, bool overlap)
    : file_(file), overlap_(overlap), offset_(file.Position()) {}

BlockWriter::~BlockWriter() {
  // The buffer in flight must outlive its write.
  Finish();
  if (!thread_.joinable()) return;
  {
    const std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

void BlockWriter::Serve() {
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [&] { return stopping_ || job_; });
    if (!job_) return;
    lock.unlock();
    const bool result = job_();
    lock.lock();
    result_ = result;
    job_ = nullptr;
    changed_.notify_all();
  }
}

std::uint8_t* BlockWriter::Next(std::size_t bytes) {
  positioned_ = false;
  return buffers_[current_].Place(bytes, offset_);
}

std::uint8_t* BlockWriter::NextAt(std::size_t bytes, std::uint64_t offset) {
  positioned_ = true;
  at_ = offset;
  return buffers_[current_].Place(bytes, offset);
}

bool BlockWriter::Finish() {
  if (pending_) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return !job_; });
    written_ = result_;
    pending_ = false;
  }
  return written_;
}

void BlockWriter::Start(std::size_t bytes) {
  const std::uint8_t* data = buffers_[current_].Data();
  started_ = true;
  current_ ^= 1;
  const bool positioned = positioned_;
  const std::uint64_t at = at_;
  if (!positioned) offset_ += bytes;
  const auto write = [this, data, bytes, positioned, at] {
    if (sink_) {
      std::string error;
      return sink_->WriteRows(data, static_cast<std::uint32_t>(bytes / sinkRowBytes_), error);
    }
    return positioned ? file_.WriteAt(data, bytes, at) : file_.Write(data, bytes);
  };
  if (overlap_ && !thread_.joinable()) {
    try {
      thread_ = std::thread([this] { Serve(); });
    } catch (const std::system_error&) {
      // No thread could be started: the writes run here instead.
      overlap_ = false;
    }
  }
  if (overlap_) {
    {
      const std::lock_guard lock(mutex_);
      job_ = write;
    }
    pending_ = true;
    changed_.notify_all();
    return;
  }
  written_ = write();
}

void BlockWriter::SendTo(ByteRowSink* sink, std::size_t rowBytes) {
  sink_ = sink;
  sinkRowBytes_ = rowBytes;
}

void PlacedWriter::Write(std::size_t from, std::size_t bytes, std::uint64_t position) {
  Write(buffer_.data() + from, bytes, position);
}

void PlacedWriter::Write(const std::uint8_t* rows, std::size_t bytes, std::uint64_t position) {
  const std::lock_guard lock(writing_);
  WriteHeld(rows, bytes, position);
}

bool PlacedWriter::TryWrite(const std::uint8_t* rows, std::size_t bytes, std::uint64_t position) {
  const std::unique_lock lock(writing_, std::try_to_lock);
  if (!lock.owns_lock()) return false;
  WriteHeld(rows, bytes, position);
  return true;
}

void PlacedWriter::WriteHeld(const std::uint8_t* rows, std::size_t bytes, std::uint64_t position) {
  if (failed_) return;
  if (!file_.WriteAt(rows, bytes, position)) failed_ = true;
}

}  // namespace lumivane
