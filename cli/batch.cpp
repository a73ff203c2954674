#include "cli/batch.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <sstream>
#include <thread>

#include "cli/escape.h"

namespace lumivane {

namespace {

// Below this every job is short, and the cores are better spent on files.
constexpr std::uint64_t kSmallImageBytes = std::uint64_t{32} << 20;

}  // namespace

unsigned BatchThreads(std::size_t count, std::uint64_t largestInputBytes, unsigned cores) {
  if (largestInputBytes > kSmallImageBytes || count < 2) return 1;
  return static_cast<unsigned>(std::min<std::size_t>(count, std::max(cores, 1u)));
}

int RunBatch(const std::vector<BatchItem>& items, const BatchJob& job, unsigned threads,
             bool progress, std::ostream& out, std::ostream& err) {
  std::atomic<std::size_t> next{0};
  std::mutex printing;
  std::size_t finished = 0;
  std::vector<bool> failed(items.size(), false);
  const auto work = [&] {
    for (std::size_t i = next++; i < items.size(); i = next++) {
      std::ostringstream log, failures;
      const int status = job(items[i], log, failures);
      const std::lock_guard<std::mutex> lock(printing);
      out << log.str() << std::flush;
      err << failures.str();
      failed[i] = status != 0;
      ++finished;
      if (progress) {
        err << "lumivane-cli: [" << finished << "/" << items.size() << "] "
            << EscapeForTerminal(items[i].Input) << (failed[i] ? ": failed" : " -> ")
            << (failed[i] ? "" : EscapeForTerminal(items[i].Output)) << '\n';
      }
      err << std::flush;
    }
  };
  std::vector<std::thread> team;
  for (unsigned t = 1; t < threads; ++t) team.emplace_back(work);
  work();
  for (std::thread& thread : team) thread.join();

  const auto failures = static_cast<std::size_t>(std::count(failed.begin(), failed.end(), true));
  if (failures == 0) return 0;
  err << "lumivane-cli: " << failures << " of " << items.size() << " inputs failed:\n";
  for (std::size_t i = 0; i < items.size(); ++i)
    if (failed[i]) err << "  " << EscapeForTerminal(items[i].Input) << '\n';
  return 1;
}

}  // namespace lumivane
