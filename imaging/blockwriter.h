// Output blocks written on a thread of their own while the caller fills the
// next one: two buffers take turns. With one worker thread (LUMIVANE_THREADS=1)
// every write happens at once on the calling thread.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "io/iobuffer.h"

namespace lumivane {

class BinaryFile;
class ByteRowSink;

class BlockWriter {
 public:
  // Writes go to `file` from its present position on.
  BlockWriter(BinaryFile& file, bool overlap);
  ~BlockWriter();
  BlockWriter(const BlockWriter&) = delete;
  BlockWriter& operator=(const BlockWriter&) = delete;

  // The buffer to fill with the next block, room for `bytes` bytes; the one
  // not in flight.
  std::uint8_t* Next(std::size_t bytes);
  // The same for a block that goes to `offset` of the file instead, written
  // there by the next Start().
  std::uint8_t* NextAt(std::size_t bytes, std::uint64_t offset);
  // Waits for the block in flight: false when its write failed (the file's
  // ErrorText() tells why). True when nothing is in flight.
  bool Finish();
  // Starts writing the first `bytes` bytes of the buffer Next() handed out.
  // Call Finish() first.
  void Start(std::size_t bytes);
  // Whether any block was started.
  bool Started() const { return started_; }
  // Blocks of whole rows of `rowBytes` go to `sink` instead, in the order
  // they are started (positions are ignored); nothing changes when it is null.
  // A failed sink write fails Finish() as a failed file write does.
  void SendTo(ByteRowSink* sink, std::size_t rowBytes);

 private:
  BinaryFile& file_;
  bool overlap_;
  IoBuffer buffers_[2];
  int current_ = 0;
  std::uint64_t offset_;
  bool positioned_ = false;
  std::uint64_t at_ = 0;
  // One thread for every write of the job, started at the first: a thread
  // started per block costs more than some blocks take to write.
  void Serve();
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::function<bool()> job_;  // the write in flight, until it is done
  bool pending_ = false;       // a write was started and not yet finished
  bool stopping_ = false;
  bool result_ = true;
  bool written_ = true;
  bool started_ = false;
  ByteRowSink* sink_ = nullptr;
  std::size_t sinkRowBytes_ = 0;
};

// Rows that each worker writes at their place in a regular file as soon as it
// has made them, on its own thread: no writing thread beside the workers, no
// order among the writes (a pipe or a sink needs BlockWriter's order).
class PlacedWriter {
 public:
  // Room for `bytes` bytes of rows; parts of one block fill disjoint ranges.
  PlacedWriter(BinaryFile& file, std::size_t bytes) : file_(file), buffer_(bytes) {}
  std::uint8_t* At(std::size_t from) { return buffer_.data() + from; }
  // Room for `bytes` bytes, for a writer made without it.
  void MakeRoom(std::size_t bytes) {
    if (buffer_.size() < bytes) buffer_.resize(bytes);
  }
  // Writes `bytes` bytes of the room from `from` to `position` of the file;
  // once a write failed, no more are made.
  void Write(std::size_t from, std::size_t bytes, std::uint64_t position);
  // The same from rows held elsewhere.
  void Write(const std::uint8_t* rows, std::size_t bytes, std::uint64_t position);
  // The same unless another thread is writing: false then, and nothing
  // written. The kernel lets one write into a file at a time and spins the
  // others; a thread told so can do other work first.
  bool TryWrite(const std::uint8_t* rows, std::size_t bytes, std::uint64_t position);
  bool Failed() const { return failed_; }

 private:
  void WriteHeld(const std::uint8_t* rows, std::size_t bytes, std::uint64_t position);

  BinaryFile& file_;
  std::vector<std::uint8_t> buffer_;
  std::atomic<bool> failed_ = false;
  std::mutex writing_;
};

}  // namespace lumivane
