// How the tone-map job's two passes run for one input. The job
// (steps/tonemapjob) is the algorithm: its phases, log lines, statistics and
// the operator. A schedule only runs the passes over the input's rows, in the
// fastest way the input and the operator allow, and gives the same bytes as
// the plain schedule over float rows would. ChooseToneSchedule is the one
// place where one is picked.
#pragma once

#include <cstdint>
#include <memory>

#include "imaging/statistics.h"
#include "imaging/tonemapoperator.h"

namespace lumivane {

class ByteRowSink;
class Session;

// What the statistics pass found.
struct GatheredImage {
  // The classic statistics, as the log shows them.
  ChannelAccumulators Channels;
  // Radiance input: the rows by kind, and those whose data were whole.
  std::uint32_t RowCounts[3] = {0, 0, 0};
  std::uint32_t CompleteRows = 0;
  // The luminance, when the operator needs it.
  ImageFacts Facts;
};

// Pass two's end. NotWritten: every row was mapped but the output's write
// failed, left for the job's writing phase to report.
enum class MapOutcome { Done, Aborted, NotWritten };

class ToneSchedule {
 public:
  virtual ~ToneSchedule() = default;

  // Before the job logs anything: a refusal of the input (its size, a file
  // shorter than its header says). The rows go to `sink` when there is one,
  // else to the output file behind its header. False after the job was aborted.
  virtual bool Start(Session& session, const ToneOperator& op, ByteRowSink* sink) = 0;
  // Pass one: every row read once; the classic statistics, and what the
  // operator asks for (the luminance, its gatherer's rows). Moves the bar.
  // False after the job was aborted.
  virtual bool Gather(Session& session, const ToneOperator& op, OperatorGatherer* gatherer,
                      GatheredImage& image) = 0;
  // Pass two: every row read again, mapped by the prepared operator and
  // written to the output.
  virtual MapOutcome Map(Session& session, const ToneOperator& op) = 0;
};

std::unique_ptr<ToneSchedule> ChooseToneSchedule(Session& session, const ToneOperator& op);

// The schedules, for the tests that hold them against each other.
std::unique_ptr<ToneSchedule> MakeRgbeToneSchedule();
std::unique_ptr<ToneSchedule> MakeStoredFloatToneSchedule();
std::unique_ptr<ToneSchedule> MakeRowToneSchedule();

}  // namespace lumivane
