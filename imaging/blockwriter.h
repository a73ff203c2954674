// Output blocks written on a thread of their own while the caller fills the
// next one: two buffers take turns. With one worker thread (LUMIVANE_THREADS=1)
// every write happens at once on the calling thread.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

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

}  // namespace lumivane
