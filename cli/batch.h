// Many inputs in one run: one job per input into a folder.
#pragma once

#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

namespace lumivane {

struct BatchItem {
  std::string Input;
  std::string Output;
};

// One job: its log to `out`, its failures to `err`; returns the exit status.
using BatchJob = std::function<int(const BatchItem& item, std::ostream& out, std::ostream& err)>;

// One item per input, its output in `folder` under the input's name with
// `extension`. Throws CLI::ValidationError for a folder that is none, standard
// input among the inputs, or two inputs that would write one output.
std::vector<BatchItem> PlanBatch(const std::vector<std::string>& inputs, const std::string& folder,
                                 const std::string& extension);

// Several jobs at once (one per core) when every input is small, one after
// the other otherwise, since each job already spreads a large image over the cores.
unsigned BatchThreads(std::size_t count, std::uint64_t largestInputBytes, unsigned cores);
unsigned BatchThreads(const std::vector<BatchItem>& items, unsigned cores);

// Runs every item, `threads` at a time. Each job's log reaches `out` whole
// when it ends; with `progress`, a line per file goes to `err`. Returns 0, or
// 1 when any job failed, after naming each failed input.
int RunBatch(const std::vector<BatchItem>& items, const BatchJob& job, unsigned threads,
             bool progress, std::ostream& out, std::ostream& err);

}  // namespace lumivane
