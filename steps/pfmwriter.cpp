#include "steps/pfmwriter.h"

#include <string>

#include "steps/failure.h"
#include "steps/filedialogs.h"
#include "steps/floatrows.h"
#include "steps/session.h"
#include "steps/statuslog.h"

namespace lumivane {

bool WritePfmHeader(Session& session) {
  JobContext& context = session.Context;
  // Checked before a file is created: the jobs count pixel bytes in 32 bits.
  if (!FloatImageBytes(context.ImageWidth, context.ImageHeight)) {
    return FailStep(session,
                    "Cannot write a PFM of " + PfmDigits(context.ImageWidth) + " x " +
                        PfmDigits(context.ImageHeight) +
                        " pixels: width or height 0, or more than 4 GiB of pixels",
                    InputRefused());
  }
  if (!SavePfmDialog(session)) {
    return FailStep(session, "Cannot open " + context.OutputFileName, InputClosedOnly());
  }
  const std::int32_t start = ClockWholeSeconds(session);
  LogLine(session, "Input file opened:");
  LogLine(session, context.InputFileName);
  LogLine(session, "Creating Wrapper for 96-bit PFM file.");
  const std::string header = PfmHeaderText(context.ImageWidth, context.ImageHeight);
  if (!context.OutputFile.Write(header.data(), header.size()))
    return AbortFloatJob(session, WriteFailureMessage(session));
  LogLine(session, "Wrapper written to file " + context.OutputFileName);
  LogLine(session, ElapsedLine("Time used:", start, ClockWholeSeconds(session)));
  context.OutputRowsBottomUp = true;
  return true;
}

}  // namespace lumivane
