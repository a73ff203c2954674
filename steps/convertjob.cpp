#include "steps/convertjob.h"

#include <memory>

#include "formats/imagerows.h"
#include "steps/convertschedule.h"
#include "steps/floatrows.h"
#include "steps/rgbeblocks.h"
#include "steps/session.h"
#include "steps/statuslog.h"

namespace lumivane {

namespace {

// A Radiance input's last phase: the rows were converted beside the decoding,
// and the bar shows their pass.
bool FinishRadianceConversion(Session& session, ConvertOutcome outcome) {
  JobContext& context = session.Context;
  LogLine(session, "Converting RGBE to floats");
  SetProgressRange(session, 1, context.ImageHeight);
  const std::int32_t start = ClockWholeSeconds(session);
  if (outcome == ConvertOutcome::NotWritten)
    return AbortFloatJob(session, WriteFailureMessage(session));
  ReplayProgress(session, 1, context.ImageHeight);
  if (!context.OutputFile.Commit()) return AbortFloatJob(session, WriteFailureMessage(session));
  LogLine(session, ElapsedLine("Converted in", start, ClockWholeSeconds(session)));
  LogLine(session, "Closed Source file " + context.InputFileName);
  LogLine(session, "Closed destination file " + context.OutputFileName);
  return true;
}

}  // namespace

bool ConvertImage(Session& session) {
  JobContext& context = session.Context;
  const std::unique_ptr<FloatRowSink> sink = std::move(context.ConvertedRows);
  const std::unique_ptr<ConvertSchedule> schedule = ChooseConvertSchedule(session, sink.get());
  if (!schedule->Start(session, sink.get())) return false;
  const bool decoded = context.Layout == InputLayout::Radiance;
  if (decoded) {
    LogRgbeDataRead(session);
    LogRgbeDecodingStart(session);
  }
  const std::int32_t start = ClockWholeSeconds(session);
  if (!decoded) SetProgressRange(session, 1, context.ImageHeight);
  ConvertedImage image;
  const ConvertOutcome outcome = schedule->Run(session, image);
  if (outcome == ConvertOutcome::Aborted) return false;
  if (decoded) LogRgbeDecodingEnd(session, image.RowCounts, image.CompleteRows, start);
  context.InputRows.reset();
  context.InputFile.Close();
  if (decoded) return FinishRadianceConversion(session, outcome);
  if (outcome == ConvertOutcome::NotWritten || !context.OutputFile.Commit())
    return AbortFloatJob(session, WriteFailureMessage(session));
  return FinishConversion(session, start);
}

bool FinishConversion(Session& session, std::int32_t start) {
  const JobContext& context = session.Context;
  const std::int32_t end = ClockWholeSeconds(session);
  LogLine(session, "Converted from");
  LogLine(session, context.InputFileName + " to");
  LogLine(session, context.OutputFileName + " in");
  LogLine(session, FormatNumber(end - start, 15) + " seconds");
  LogLine(session, "Closed Source file " + context.InputFileName);
  LogLine(session, "Closed destination file " + context.OutputFileName);
  return true;
}

}  // namespace lumivane
