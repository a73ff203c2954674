// Splitting work on independent rows over the machine's cores.
//
// The calling thread always takes a share itself and is the only one that
// touches the session (log, progress bar): the window system is not
// thread-safe.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace lumivane {

// LUMIVANE_THREADS when it holds a whole number from 1 to 256, otherwise the
// hardware's thread count (at least 1). 1 keeps everything on the calling thread.
unsigned WorkerThreadCount();

// A fixed team of threads, started once per job.
class RowWorkers {
 public:
  using Work = std::function<void(std::size_t begin, std::size_t end)>;

  explicit RowWorkers(unsigned threads = WorkerThreadCount());
  ~RowWorkers();
  RowWorkers(const RowWorkers&) = delete;
  RowWorkers& operator=(const RowWorkers&) = delete;

  unsigned Threads() const { return threads_; }

  // Calls work(begin, end) on consecutive disjoint pieces that cover
  // [0, count), one piece per thread, and returns when every piece is done.
  void Run(std::size_t count, const Work& work);

  // Calls task(i) for every i in [0, count), in order of i as threads become
  // free: the calling thread and those of the team that are free to join.
  // Returns when every task is done, without waiting for a thread that never
  // joined, so that a thread the system keeps waiting holds up nothing.
  using Task = std::function<void(std::size_t)>;
  void RunTasks(std::size_t count, const Task& task);

 private:
  void Serve(unsigned index);

  unsigned threads_;
  std::vector<std::thread> team_;
  std::mutex mutex_;
  std::condition_variable start_;
  std::condition_variable finished_;
  void TakeTasks();

  const Work* work_ = nullptr;
  // RunTasks: the tasks, the next one to take, whether threads may still
  // join, and how many have joined and not finished.
  const Task* tasks_ = nullptr;
  std::size_t taskCount_ = 0;
  std::atomic<std::size_t> nextTask_{0};
  bool tasksOpen_ = false;
  std::uint64_t taskCall_ = 0;
  unsigned joined_ = 0;
  std::size_t count_ = 0;
  std::uint64_t generation_ = 0;
  unsigned pending_ = 0;
  bool stopping_ = false;
};

// Rows per wave such that a wave covers about `pixelsPerWave` pixels of a row
// `width` pixels wide; at least one row.
std::uint32_t RowsPerWave(std::uint32_t width, std::size_t pixelsPerWave);

}  // namespace lumivane
