#include "io/parallel.h"

#include <algorithm>
#include <cstdlib>
#include <string>
#include <system_error>

namespace lumivane {

unsigned WorkerThreadCount() {
  if (const char* text = std::getenv("LUMIVANE_THREADS")) {
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (end != text && *end == '\0' && value >= 1 && value <= 256) {
      return static_cast<unsigned>(value);
    }
  }
  return std::max(1u, std::thread::hardware_concurrency());
}

RowWorkers::RowWorkers(unsigned threads) : threads_(std::max(1u, threads)) {
  const unsigned wanted = threads_;
  team_.reserve(wanted - 1);
  for (unsigned index = 1; index < wanted; ++index) {
    try {
      team_.emplace_back([this, index] { Serve(index); });
    } catch (const std::system_error&) {
      // A process or memory limit: the threads that did start, and the
      // calling one, share the work instead.
      break;
    }
  }
  std::lock_guard lock(mutex_);
  threads_ = static_cast<unsigned>(team_.size()) + 1;
}

RowWorkers::~RowWorkers() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  start_.notify_all();
  for (auto& thread : team_) thread.join();
}

namespace {

// Piece `index` of `pieces` over [0, count): sizes differ by at most one.
std::size_t PieceStart(std::size_t count, unsigned pieces, unsigned index) {
  return count / pieces * index + std::min<std::size_t>(index, count % pieces);
}

}  // namespace

void RowWorkers::Serve(unsigned index) {
  std::uint64_t seen = 0;
  for (;;) {
    const Work* work;
    std::size_t count;
    {
      std::unique_lock lock(mutex_);
      start_.wait(lock, [&] { return stopping_ || generation_ != seen; });
      if (stopping_) return;
      seen = generation_;
      work = work_;
      count = count_;
    }
    const std::size_t begin = PieceStart(count, threads_, index);
    const std::size_t end = PieceStart(count, threads_, index + 1);
    if (begin < end) (*work)(begin, end);
    {
      std::lock_guard lock(mutex_);
      if (--pending_ == 0) finished_.notify_one();
    }
  }
}

void RowWorkers::Run(std::size_t count, const Work& work) {
  if (count == 0) return;
  if (threads_ == 1 || count == 1) {
    work(0, count);
    return;
  }
  {
    std::lock_guard lock(mutex_);
    work_ = &work;
    count_ = count;
    pending_ = threads_ - 1;
    ++generation_;
  }
  start_.notify_all();
  const std::size_t end = PieceStart(count, threads_, 1);
  if (end > 0) work(0, end);
  std::unique_lock lock(mutex_);
  finished_.wait(lock, [&] { return pending_ == 0; });
  work_ = nullptr;
}

std::uint32_t RowsPerWave(std::uint32_t width, std::size_t pixelsPerWave) {
  if (width == 0) return 1;
  const std::size_t rows = pixelsPerWave / width;
  return static_cast<std::uint32_t>(std::clamp<std::size_t>(rows, 1, 1u << 20));
}

}  // namespace lumivane
