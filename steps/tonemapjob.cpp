#include "steps/tonemapjob.h"

#include <string>

#include "imaging/classicoperator.h"
#include "imaging/operatortable.h"
#include "imaging/previewsampler.h"
#include "steps/failure.h"
#include "steps/floatrows.h"
#include "steps/rgbeblocks.h"
#include "steps/rowwriters.h"
#include "steps/session.h"
#include "steps/statuslog.h"
#include "steps/toneschedule.h"

namespace lumivane {

namespace {

constexpr std::string_view kClassic = "classic";

// The phases' lines: a Radiance input is decoded, and its log tells the
// decoding apart from the statistics and the writing; the float inputs' log
// has a statistics phase and a mapping phase that writes as it goes.
bool DecodedStyle(const Session& session) {
  return session.Context.Layout == InputLayout::Radiance;
}

// A failed write leaves a file that no reader should take for the image.
bool FailWriting(Session& session) {
  const JobContext& context = session.Context;
  return FailStep(session,
                  "Cannot write " + context.OutputFileName + ": " + context.OutputFile.ErrorText(),
                  FailureOptions().CloseOutput(OutputClosing::RemoveWithLines).EndWithSeparator());
}

ImageStatistics LogStatistics(Session& session, const GatheredImage& image,
                              std::int32_t gatherStart) {
  const JobContext& context = session.Context;
  const std::uint32_t height = context.ImageHeight;
  const bool warm = session.Settings.WarmColours != 0;
  if (!DecodedStyle(session)) {
    const ImageStatistics statistics =
        ComputeImageStatistics(image.Channels, context.ImageWidth * height, warm);
    LogLine(session, ElapsedLine("Data analysed in", gatherStart, ClockWholeSeconds(session)));
    LogImageStatistics(session, statistics);
    return statistics;
  }
  // The values were summed beside the decoding; the bar shows their pass.
  LogLine(session, "Converting RGBE to float to find extreme values");
  SetProgressRange(session, 1, height);
  const std::int32_t start = ClockWholeSeconds(session);
  ReplayProgress(session, 1, height);
  const ImageStatistics statistics =
      ComputeImageStatistics(image.Channels, context.ImageWidth * height, warm);
  const std::int32_t end = ClockWholeSeconds(session);
  LogImageStatistics(session, statistics);
  LogLine(session, ElapsedLine("Established min and max values in image in", start, end));
  return statistics;
}

// After the mapping pass: the Radiance log's writing phase, or the float
// inputs' closing lines.
bool FinishOutput(Session& session, MapOutcome outcome, ByteRowSink* sink, std::int32_t start) {
  JobContext& context = session.Context;
  context.InputRows.reset();
  context.InputFile.Close();
  if (!DecodedStyle(session)) {
    if (!context.OutputFile.Commit()) return AbortFloatJob(session, WriteFailureMessage(session));
    LogLine(session, ElapsedLine("Tonemapped in", start, ClockWholeSeconds(session)));
    LogLine(session, "Closed Source file " + context.InputFileName);
    LogLine(session, "Closed destination file " + context.OutputFileName);
    return true;
  }
  LogLine(session, ElapsedLine("Tonemapping in", start, ClockWholeSeconds(session)));
  LogLine(session, "Writing to destination file.");
  const std::uint32_t height = context.ImageHeight;
  SetProgressRange(session, 1, height);
  start = ClockWholeSeconds(session);
  if (outcome == MapOutcome::NotWritten || !FinishSink(sink)) return FailWriting(session);
  ReplayProgress(session, 1, height);
  if (!context.OutputFile.Commit()) return FailWriting(session);
  LogLine(session,
          ElapsedLine("Assembling and writing file in", start, ClockWholeSeconds(session)));
  LogLine(session, "Closed destination file " + context.OutputFileName);
  return true;
}

// What the preview keeps of this job, before the mapping pass feeds it rows.
void BeginPreview(Session& session, const ToneOperator& op, const ImageFacts& facts) {
  PreviewSampler& preview = *session.Preview;
  const JobContext& context = session.Context;
  const std::uint32_t pixels = context.ImageWidth * context.ImageHeight;
  if (const ClassicOperator* classic = op.AsClassic()) {
    const ClassicSettings& settings = classic->Settings();
    preview.Begin(context.ImageWidth, context.ImageHeight, classic->Width(), classic->Channels(),
                  pixels, {settings.Brightness, settings.PostGamma, settings.WarmColours});
    return;
  }
  preview.Begin(context.ImageWidth, context.ImageHeight, OperatorWidth::Double, facts.Channels,
                pixels, {});
  preview.TakeOperator(session.Settings.Operator, session.Settings.OperatorParameters, facts);
}

}  // namespace

std::unique_ptr<ToneOperator> SessionOperator(const Session& session) {
  const JobSettings& settings = session.Settings;
  // The classic operator takes the session's settings, as the window's boxes give them.
  if (const OperatorRow* row = FindOperator(settings.Operator); row && row->Name != kClassic)
    return row->Make(settings.OperatorParameters);
  const OperatorWidth width = session.Context.Layout == InputLayout::Radiance
                                  ? OperatorWidth::Single
                                  : OperatorWidth::Double;
  return std::make_unique<ClassicOperator>(
      ClassicSettings{settings.Brightness, settings.PostGamma, settings.WarmColours != 0}, width);
}

bool ToneMapImage(Session& session) {
  JobContext& context = session.Context;
  const std::unique_ptr<ByteRowSink> sink = std::move(context.ToneMappedRows);
  const std::unique_ptr<ToneOperator> op = SessionOperator(session);
  const std::unique_ptr<ToneSchedule> schedule = ChooseToneSchedule(session, *op);
  if (!schedule->Start(session, *op, sink.get())) return false;
  const bool decoded = DecodedStyle(session);

  // Pass one: the statistics, and what the operator gathers beside them.
  if (decoded) {
    LogRgbeDataRead(session);
    LogRgbeDecodingStart(session);
  }
  const std::int32_t gatherStart = ClockWholeSeconds(session);
  if (!decoded) SetProgressRange(session, 1, context.ImageHeight);
  GatheredImage image;
  image.Facts.Width = context.ImageWidth;
  image.Facts.Height = context.ImageHeight;
  std::unique_ptr<OperatorGatherer> gatherer =
      op->MakeGatherer(context.ImageWidth, context.ImageHeight);
  if (!schedule->Gather(session, *op, gatherer.get(), image)) return false;
  if (decoded) LogRgbeDecodingEnd(session, image.RowCounts, image.CompleteRows, gatherStart);
  LogStatistics(session, image, gatherStart);
  image.Facts.Channels = image.Channels;
  op->Prepare(image.Facts);
  for (const std::string& line : op->Describe()) LogLine(session, line);

  // Pass two: every row mapped and written.
  LogLine(session, "Starting tonemapping...");
  if (decoded) LogLine(session, "Decoding RGBE and converting to integer values");
  std::int32_t start = 0;
  if (decoded) SetProgressRange(session, 1, context.ImageHeight);
  start = ClockWholeSeconds(session);
  if (!decoded) SetProgressRange(session, 1, context.ImageHeight);
  if (session.Preview) BeginPreview(session, *op, image.Facts);
  const MapOutcome outcome = schedule->Map(session, *op);
  if (outcome == MapOutcome::Aborted) return false;
  if (!FinishOutput(session, outcome, sink.get(), start)) return false;
  if (session.Preview) session.Preview->Finish(context.OutputFileName);
  return true;
}

}  // namespace lumivane
