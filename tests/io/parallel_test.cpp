#include "io/parallel.h"

#include <gtest/gtest.h>

#include <atomic>
#include <vector>

namespace lumivane {
namespace {

// Every task runs exactly once per call, whichever threads take it, and the
// call returns only when all of them are done; calls of both kinds follow
// each other on one team.
TEST(RowWorkers, RunTasksRunsEveryTaskOnceBeforeItReturns) {
  for (const unsigned threads : {1u, 2u, 7u}) {
    RowWorkers workers(threads);
    for (int call = 0; call < 300; ++call) {
      const std::size_t count = static_cast<std::size_t>(call % 13);
      std::vector<std::atomic<int>> runs(count);
      workers.RunTasks(count, [&](std::size_t task) { ++runs[task]; });
      for (std::size_t task = 0; task < count; ++task) {
        ASSERT_EQ(runs[task].load(), 1) << threads << " threads, call " << call;
      }
      if (call % 3 == 0) {
        std::atomic<std::size_t> covered{0};
        workers.Run(count, [&](std::size_t begin, std::size_t end) { covered += end - begin; });
        ASSERT_EQ(covered.load(), count);
      }
    }
  }
}

}  // namespace
}  // namespace lumivane
