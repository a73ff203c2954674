// How the conversion job's one pass runs for an input and an output: the
// job (steps/convertjob) has the phases and their lines; a schedule only
// moves the rows, the fastest way the pair allows, to the same bytes.
// ChooseConvertSchedule is the one place where one is picked.
#pragma once

#include <cstdint>
#include <memory>

namespace lumivane {

class FloatRowSink;
class Session;

struct ConvertedImage {
  // Radiance input: the rows by kind, and those whose data were whole.
  std::uint32_t RowCounts[3] = {0, 0, 0};
  std::uint32_t CompleteRows = 0;
};

// NotWritten: every row was read but the output's write failed, left for
// the job's last phase to report.
enum class ConvertOutcome { Done, Aborted, NotWritten };

class ConvertSchedule {
 public:
  virtual ~ConvertSchedule() = default;
  // Before the job logs anything: a refusal of the pair (sizes, a short
  // input). The rows go to `sink`, or behind the output's header when it is
  // null. False after the job was aborted.
  virtual bool Start(Session& session, FloatRowSink* sink) = 0;
  // Every row, read and written; moves the bar.
  virtual ConvertOutcome Run(Session& session, ConvertedImage& image) = 0;
};

std::unique_ptr<ConvertSchedule> ChooseConvertSchedule(Session& session, const FloatRowSink* sink);

std::unique_ptr<ConvertSchedule> MakeRgbeConvertSchedule();
std::unique_ptr<ConvertSchedule> MakeStoredFloatCopySchedule();
std::unique_ptr<ConvertSchedule> MakeRowConvertSchedule();

}  // namespace lumivane
