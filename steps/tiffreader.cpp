#include "steps/tiffreader.h"

#include <span>
#include <string>

#include "formats/bytesource.h"
#include "formats/readlimits.h"
#include "formats/tiffheader.h"
#include "steps/failure.h"
#include "steps/filedialogs.h"
#include "steps/session.h"
#include "steps/statuslog.h"

namespace lumivane {

namespace {

bool Refuse(Session& session, const std::string& box, const std::string& title,
            const std::string& logLine) {
  return FailStep(session, box,
                  InputRefused().ShowBox({box, title, BoxKind::Error}).LogInstead(logLine));
}

}  // namespace

bool ReadTiffHeader(Session& session) {
  JobContext& context = session.Context;
  context.SourceIntelOrder = false;
  context.InputRowsBottomUp = false;
  context.Layout = InputLayout::StoredFloats;
  const std::int32_t start = ClockWholeSeconds(session);
  if (!OpenTiffDialog(session)) {
    return FailStep(session, "Cannot open " + context.InputFileName, FailureOptions());
  }
  // The first bytes are read in order, so that a pipe is still told from a TIFF.
  std::uint8_t head[kTiffHeadBytes] = {};
  const std::size_t got = context.InputFile.Read(head, sizeof head);
  FileBytes file(context.InputFile);
  const TiffHeader header = ParseTiffHeader(std::span(head, got), file, context.InputFileName,
                                            context.ImageWidth, context.ImageHeight);
  context.SourceIntelOrder = header.IntelOrder;
  if (header.Width) context.ImageWidth = *header.Width;
  if (header.Height) context.ImageHeight = *header.Height;
  for (const std::string& line : header.LogLines) LogLine(session, line);
  if (!header.Failure.empty())
    return Refuse(session, header.Failure, header.FailureTitle, header.FailureLogLine);
  const std::string refusal =
      RefuseImageSize(context.ImageWidth, context.ImageHeight, session.Settings.Limits);
  if (!refusal.empty())
    return FailStep(session, "Cannot read " + context.InputFileName + ": " + refusal,
                    InputRefused());
  if (!context.InputFile.Seek(header.DataStart))
    return Refuse(session, context.InputFileName + " is shorter than its header promises.",
                  kTiffFileIssueTitle, "");
  LogLine(session, ElapsedLine("Analised TIFF IFD in", start, ClockWholeSeconds(session)));
  LogLine(session, "Ready to read TIFF data from " + context.InputFileName);
  return true;
}

}  // namespace lumivane
