#include "imaging/convertjobs.h"

#include <bit>
#include <cstdint>
#include <vector>

#include "formats/rgbe.h"
#include "imaging/floatjob.h"
#include "shell/session.h"
#include "shell/statuslog.h"

namespace lumivane {

namespace {

void StoreLittleEndian(float value, std::uint8_t* out) {
  const auto bits = std::bit_cast<std::uint32_t>(value);
  out[0] = static_cast<std::uint8_t>(bits);
  out[1] = static_cast<std::uint8_t>(bits >> 8);
  out[2] = static_cast<std::uint8_t>(bits >> 16);
  out[3] = static_cast<std::uint8_t>(bits >> 24);
}

// The output's row order is consumed by the job it was set for.
bool TakeOutputRowsBottomUp(JobContext& context) {
  const bool bottomUp = context.OutputRowsBottomUp;
  context.OutputRowsBottomUp = false;
  return bottomUp;
}

std::string SizeMessage(const Session& session) {
  return "Cannot convert " + session.Context.InputFileName +
         ": width or height 0, or more than 4 GiB of pixels";
}

}  // namespace

bool ConvertHdrImage(Session& session) {
  JobContext& context = session.Context;
  const bool bottomUp = TakeOutputRowsBottomUp(context);
  const std::uint32_t width = context.ImageWidth;
  const std::uint32_t height = context.ImageHeight;
  if (!FloatImageBytes(width, height)) return AbortFloatJob(session, SizeMessage(session));

  RgbeImage image;
  if (!LoadRgbeImage(session, image)) return false;

  std::vector<std::uint8_t> row(std::size_t{width} * 12);
  LogLine(session, "Converting RGBE to floats");
  SetProgressRange(session, 1, height);
  const std::int32_t start = ClockWholeSeconds(session);
  for (std::uint32_t written = 1; written <= height; ++written) {
    // A PFM gets its bottom row first.
    const std::uint32_t stored = bottomUp ? height - written : written - 1;
    const std::size_t first = std::size_t{stored} * width;
    std::uint8_t* out = row.data();
    for (std::size_t i = first; i < first + width; ++i, out += 12) {
      StoreLittleEndian(RgbeToFloat(image.R[i], image.E[i]), out);
      StoreLittleEndian(RgbeToFloat(image.G[i], image.E[i]), out + 4);
      StoreLittleEndian(RgbeToFloat(image.B[i], image.E[i]), out + 8);
    }
    if (!context.OutputFile.Write(row.data(), row.size()))
      return AbortFloatJob(session, WriteFailureMessage(session));
    SetProgressPosition(session, written);
  }
  image = RgbeImage();
  context.OutputFile.Close();
  LogLine(session, ElapsedLine("Converted in", start, ClockWholeSeconds(session)));
  LogLine(session, "Closed Source file " + context.InputFileName);
  LogLine(session, "Closed destination file " + context.OutputFileName);
  return true;
}

bool ConvertFloatImage(Session& session) {
  JobContext& context = session.Context;
  const bool outputBottomUp = TakeOutputRowsBottomUp(context);
  const std::uint32_t width = context.ImageWidth;
  const std::uint32_t height = context.ImageHeight;
  const std::uint64_t dataStart = context.InputFile.Position();
  const auto imageBytes = FloatImageBytes(width, height);
  if (!imageBytes) return AbortFloatJob(session, SizeMessage(session));
  const auto size = context.InputFile.Size();
  if (size && *size < dataStart + *imageBytes)
    return AbortFloatJob(session, ShortInputMessage(session));

  const std::size_t rowBytes = std::size_t{width} * 12;
  const std::int32_t start = ClockWholeSeconds(session);
  SetProgressRange(session, 1, height);
  {
    // Rows keep the image's orientation: a PFM's stored order is bottom to top.
    FloatRowReader rows(context.InputFile, dataStart, rowBytes, height,
                        context.InputRowsBottomUp != outputBottomUp);
    std::vector<std::uint8_t> row(rowBytes);
    while (rows.RowsRead() < height) {
      const std::uint8_t* stored = rows.NextRow();
      if (!stored) return AbortFloatJob(session, ShortInputMessage(session));
      row.assign(stored, stored + rowBytes);
      if (!context.SourceIntelOrder)
        for (std::size_t i = 0; i < rowBytes; i += 4) ReverseBytes4(row.data() + i);
      if (!context.OutputFile.Write(row.data(), row.size()))
        return AbortFloatJob(session, WriteFailureMessage(session));
      SetProgressPosition(session, rows.RowsRead());
    }
  }
  context.InputFile.Close();
  context.OutputFile.Close();
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
