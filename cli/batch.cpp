#include "cli/batch.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <mutex>
#include <sstream>
#include <thread>

#include "cli/escape.h"
#include "cli/streams.h"
#include "io/binaryfile.h"

namespace lumivane {

namespace {

// Below this every job is short, and the cores are better spent on files.
constexpr std::uint64_t kSmallImageBytes = std::uint64_t{32} << 20;

}  // namespace

unsigned BatchThreads(std::size_t count, std::uint64_t largestInputBytes, unsigned cores) {
  if (largestInputBytes > kSmallImageBytes || count < 2) return 1;
  return static_cast<unsigned>(std::min<std::size_t>(count, std::max(cores, 1u)));
}

std::vector<BatchItem> PlanBatch(const std::vector<std::string>& inputs, const std::string& folder,
                                 const std::string& extension) {
  if (!std::filesystem::is_directory(folder))
    throw CLI::ValidationError("--output-dir", "'" + folder + "' is not a folder");
  std::vector<BatchItem> items;
  for (const std::string& input : inputs) {
    if (NamesStandardInput(input))
      throw CLI::ValidationError("FILES", "standard input cannot be one of several inputs");
    const std::string output = AbsolutePath(
        (std::filesystem::path(folder) / std::filesystem::path(input).stem()).string() + "." +
        extension);
    for (const BatchItem& earlier : items)
      if (earlier.Output == output)
        throw CLI::ValidationError("FILES", "'" + earlier.Input + "' and '" + input +
                                                "' would both write '" + output + "'");
    items.push_back({AbsolutePath(input), output});
  }
  return items;
}

unsigned BatchThreads(const std::vector<BatchItem>& items, unsigned cores) {
  std::uint64_t largest = 0;
  for (const BatchItem& item : items) {
    std::error_code error;
    const auto size = std::filesystem::file_size(item.Input, error);
    if (!error) largest = std::max<std::uint64_t>(largest, size);
  }
  return BatchThreads(items.size(), largest, cores);
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
