#include "steps/tiffwriter.h"

#include <limits>
#include <string>

#include "formats/tiffheaderbytes.h"
#include "steps/failure.h"
#include "steps/filedialogs.h"
#include "steps/session.h"
#include "steps/statuslog.h"

namespace lumivane {

namespace {

// The output is useless once its header is wrong: discard it, then close the
// input as every writer failure does.
bool FailAfterOpening(Session& session, const std::string& reason) {
  return FailStep(session, "Cannot write " + session.Context.OutputFileName + ": " + reason,
                  InputRefused().CloseOutput(OutputClosing::Remove));
}

bool WriteTiffHeader(Session& session, const TiffPixelLayout& layout) {
  JobContext& context = session.Context;
  if (!SaveTiffDialog(session)) {
    return FailStep(session, "Cannot open " + context.OutputFileName, InputClosedOnly());
  }
  const std::uint64_t stripBytes =
      std::uint64_t{context.ImageWidth} * context.ImageHeight * layout.BytesPerPixel;
  if (stripBytes > std::numeric_limits<std::uint32_t>::max()) {
    return FailAfterOpening(session, "the image is too large for a TIFF file");
  }

  const std::int32_t start = ClockWholeSeconds(session);
  LogLine(session, "Input file opened:");
  LogLine(session, context.OutputFileName);
  LogLine(session, std::string("Creating IFD for ") + layout.Bits + "-bit file.");
  const auto header = TiffHeaderBytes(layout, context.ImageWidth, context.ImageHeight,
                                      static_cast<std::uint32_t>(stripBytes));
  if (!context.OutputFile.Write(header.data(), header.size())) {
    return FailAfterOpening(session, context.OutputFile.ErrorText());
  }

  std::int32_t end = 0;
  if (layout.BitsPerSample == 8) end = ClockWholeSeconds(session);
  LogLine(session, "IFD written to file " + context.OutputFileName);
  if (layout.BitsPerSample != 8) end = ClockWholeSeconds(session);
  LogLine(session, ElapsedLine("Time used:", start, end));
  return true;
}

}  // namespace

bool WriteTiff24Header(Session& session) {
  return WriteTiffHeader(session, kTiff24Layout);
}

bool WriteTiff96Header(Session& session) {
  return WriteTiffHeader(session, kTiff96Layout);
}

}  // namespace lumivane
