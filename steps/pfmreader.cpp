#include "steps/pfmreader.h"

#include <cstdint>
#include <string>
#include <string_view>

#include "formats/pfmheader.h"
#include "formats/readlimits.h"
#include "steps/failure.h"
#include "steps/filedialogs.h"
#include "steps/floatrows.h"
#include "steps/session.h"
#include "steps/statuslog.h"

namespace lumivane {

namespace {

bool Fail(Session& session, const std::string& message) {
  return FailStep(session, message, InputRefused());
}

}  // namespace

bool ReadPfmHeader(Session& session) {
  JobContext& context = session.Context;
  if (!OpenPfmDialog(session)) {
    return FailStep(session, "Cannot open " + context.InputFileName, FailureOptions());
  }
  const std::int32_t start = ClockWholeSeconds(session);
  char block[kPfmHeaderBlock];
  const std::size_t got = context.InputFile.Read(block, sizeof block);
  const PfmHeader header = ParsePfmHeader(std::string_view(block, got), context.InputFileName);
  // The lines come before the failure that ended the header, as they were read.
  if (header.Width) context.ImageWidth = *header.Width;
  if (header.Height) context.ImageHeight = *header.Height;
  for (const std::string& line : header.LogLines) LogLine(session, line);
  if (!header.Failure.empty()) return Fail(session, header.Failure);
  const std::string refusal =
      RefuseImageSize(context.ImageWidth, context.ImageHeight, session.Settings.Limits);
  if (!refusal.empty())
    return Fail(session, "Cannot read " + context.InputFileName + ": " + refusal);
  context.SourceIntelOrder = header.IntelOrder;
  context.InputRowsBottomUp = true;
  context.Layout = InputLayout::StoredFloats;

  const auto size = context.InputFile.Size();
  if (size && *size < header.DataStart + header.ImageBytes)
    return Fail(session, ShortInputMessage(session));
  if (!context.InputFile.Seek(header.DataStart)) return Fail(session, ShortInputMessage(session));
  LogLine(session, ElapsedLine("Anlysed PFM wrapper in", start, ClockWholeSeconds(session)));
  LogLine(session, "Ready to read PFM data from " + context.InputFileName);
  return true;
}

}  // namespace lumivane
