#include "steps/radiance.h"

#include <string>
#include <string_view>

#include "formats/radianceheader.h"
#include "formats/readlimits.h"
#include "steps/failure.h"
#include "steps/filedialogs.h"
#include "steps/session.h"
#include "steps/statuslog.h"

namespace lumivane {

namespace {

bool Fail(Session& session, const std::string& text) {
  return FailStep(session, text, InputRefused());
}

}  // namespace

bool ReadHdrHeader(Session& session) {
  JobContext& context = session.Context;
  if (!OpenHdrDialog(session)) {
    return FailStep(session, "Cannot open " + context.InputFileName, FailureOptions());
  }

  char block[kRadianceHeaderBlock];
  context.InputFile.Seek(0);
  const std::size_t got = context.InputFile.Read(block, sizeof block);
  const RadianceHeader header =
      ParseRadianceHeader(std::string_view(block, got), context.InputFileName);
  // The lines come before the failure that ended the header, as they were read.
  if (header.Height) context.ImageHeight = *header.Height;
  if (header.Width) context.ImageWidth = *header.Width;
  for (const std::string& line : header.LogLines) LogLine(session, line);
  if (!header.Failure.empty()) return Fail(session, header.Failure);
  // The Radiance jobs hold rows of RGBE bytes, and refuse rows too wide for them themselves.
  const std::string refusal =
      RefusePixelCount(context.ImageWidth, context.ImageHeight, session.Settings.Limits);
  if (!refusal.empty())
    return Fail(session, "Cannot read " + context.InputFileName + ": " + refusal);
  if (!context.InputFile.Seek(header.DataStart)) {
    return Fail(session, context.InputFileName + " is not a Radiance file");
  }

  context.Layout = InputLayout::Radiance;
  LogLine(session, "Ready to read HDR data from " + context.InputFileName);
  return true;
}

}  // namespace lumivane
