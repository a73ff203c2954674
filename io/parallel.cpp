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

void RowWorkers::TakeTasks() {
  for (std::size_t task = nextTask_++; task < taskCount_; task = nextTask_++) (*tasks_)(task);
}

void RowWorkers::Serve(unsigned index) {
  std::uint64_t seen = 0;
  std::uint64_t seenCall = 0;
  for (;;) {
    const Work* work;
    std::size_t count;
    {
      std::unique_lock lock(mutex_);
      const auto newTasks = [&] { return tasksOpen_ && taskCall_ != seenCall; };
      start_.wait(lock, [&] { return stopping_ || generation_ != seen || newTasks(); });
      if (stopping_) return;
      if (newTasks()) {
        seenCall = taskCall_;
        ++joined_;
        lock.unlock();
        TakeTasks();
        lock.lock();
        if (--joined_ == 0) finished_.notify_one();
        continue;
      }
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

void RowWorkers::RunTasks(std::size_t count, const Task& task) {
  if (threads_ == 1 || count <= 1) {
    for (std::size_t i = 0; i < count; ++i) task(i);
    return;
  }
  {
    std::lock_guard lock(mutex_);
    tasks_ = &task;
    taskCount_ = count;
    nextTask_ = 0;
    tasksOpen_ = true;
    ++taskCall_;
  }
  start_.notify_all();
  TakeTasks();
  std::unique_lock lock(mutex_);
  tasksOpen_ = false;
  finished_.wait(lock, [&] { return joined_ == 0; });
  tasks_ = nullptr;
}

std::uint32_t RowsPerWave(std::uint32_t width, std::size_t pixelsPerWave) {
  if (width == 0) return 1;
  const std::size_t rows = pixelsPerWave / width;
  return static_cast<std::uint32_t>(std::clamp<std::size_t>(rows, 1, 1u << 20));
}

}  // namespace lumivane
