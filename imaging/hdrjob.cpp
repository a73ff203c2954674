#include "imaging/hdrjob.h"

#include <algorithm>
#include <string>
#include <vector>

#include "formats/rgbe.h"
#include "imaging/statistics.h"
#include "imaging/tonemap.h"
#include "shell/session.h"
#include "shell/statuslog.h"

namespace lumivane {

namespace {

// Rows are gathered into blocks of about this size before they are written.
constexpr std::size_t kWriteBlockBytes = std::size_t{4} << 20;

void AccumulatePixel(const RgbeImage& image, std::size_t i, ChannelAccumulators& channels) {
  channels[0].Add(RgbeToFloat(image.R[i], image.E[i]));
  channels[1].Add(RgbeToFloat(image.G[i], image.E[i]));
  channels[2].Add(RgbeToFloat(image.B[i], image.E[i]));
}

// The three output bytes of one pixel replace its mantissas.
void ToneMapPixel(RgbeImage& image, std::size_t i, const ImageStatistics& statistics,
                  const JobSettings& settings) {
  std::uint8_t* planes[3] = {&image.R[i], &image.G[i], &image.B[i]};
  for (int c = 0; c < 3; ++c) {
    const float v = RgbeToFloat(*planes[c], image.E[i]);
    *planes[c] = ToneMapChannel(v, statistics.Minimum[c], statistics.Average[c],
                                settings.Brightness, settings.PostGamma, OperatorWidth::Single);
  }
}

ImageStatistics GatherStatistics(Session& session, const RgbeImage& image) {
  const std::uint32_t width = image.Width;
  const std::uint32_t height = image.Height;
  LogLine(session, "Converting RGBE to float to find extreme values");
  SetProgressRange(session, 1, height);
  const std::int32_t start = ClockWholeSeconds(session);
  ChannelAccumulators channels;
  for (std::uint32_t y = 0; y < height; ++y) {
    const std::size_t rowStart = std::size_t{width} * y;
    for (std::uint32_t x = 0; x < width; ++x) AccumulatePixel(image, rowStart + x, channels);
    SetProgressPosition(session, y + 1);
  }
  const ImageStatistics statistics =
      ComputeImageStatistics(channels, width * height, session.Settings.WarmColours != 0);
  const std::int32_t end = ClockWholeSeconds(session);
  LogImageStatistics(session, statistics);
  LogLine(session, ElapsedLine("Established min and max values in image in", start, end));
  return statistics;
}

void ToneMapImage(Session& session, RgbeImage& image, const ImageStatistics& statistics) {
  const std::uint32_t width = image.Width;
  const std::uint32_t height = image.Height;
  LogLine(session, "Starting tonemapping...");
  LogLine(session, "Decoding RGBE and converting to integer values");
  SetProgressRange(session, 1, height);
  const std::int32_t start = ClockWholeSeconds(session);
  for (std::uint32_t y = 0; y < height; ++y) {
    const std::size_t rowStart = std::size_t{width} * y;
    for (std::uint32_t x = 0; x < width; ++x) {
      ToneMapPixel(image, rowStart + x, statistics, session.Settings);
    }
    SetProgressPosition(session, y + 1);
  }
  const std::int32_t end = ClockWholeSeconds(session);
  LogLine(session, ElapsedLine("Tonemapping in", start, end));
}

// A failed write leaves a file that no reader should take for the image.
bool FailWriting(Session& session) {
  JobContext& context = session.Context;
  context.FailureMessage =
      "Cannot write " + context.OutputFileName + ": " + context.OutputFile.ErrorText();
  LogLine(session, context.FailureMessage);
  context.OutputFile.Close();
  RemoveFile(context.OutputFileName);
  LogLine(session, "Closed and deleted file:");
  LogLine(session, context.OutputFileName);
  LogLine(session, SeparatorLine());
  return false;
}

bool WriteImage(Session& session, const RgbeImage& image) {
  JobContext& context = session.Context;
  const std::uint32_t width = image.Width;
  const std::uint32_t height = image.Height;
  LogLine(session, "Writing to destination file.");
  SetProgressRange(session, 1, height);
  const std::int32_t start = ClockWholeSeconds(session);

  const std::size_t rowBytes = std::size_t{width} * 3;
  const std::size_t rowsPerBlock = std::max<std::size_t>(1, kWriteBlockBytes / rowBytes);
  std::vector<std::uint8_t> block(rowBytes * std::min<std::size_t>(rowsPerBlock, height));
  std::size_t filled = 0;
  for (std::uint32_t y = 0; y < height; ++y) {
    const std::size_t rowStart = std::size_t{width} * y;
    std::uint8_t* out = block.data() + filled;
    for (std::uint32_t x = 0; x < width; ++x) {
      out[3 * x] = image.R[rowStart + x];
      out[3 * x + 1] = image.G[rowStart + x];
      out[3 * x + 2] = image.B[rowStart + x];
    }
    filled += rowBytes;
    if (filled == block.size() || y + 1 == height) {
      if (!context.OutputFile.Write(block.data(), filled)) return FailWriting(session);
      filled = 0;
    }
    SetProgressPosition(session, y + 1);
  }

  context.OutputFile.Close();
  const std::int32_t end = ClockWholeSeconds(session);
  LogLine(session, ElapsedLine("Assembling and writing file in", start, end));
  LogLine(session, "Closed destination file " + context.OutputFileName);
  return true;
}

}  // namespace

bool ToneMapHdrImage(Session& session) {
  RgbeImage image;
  if (!LoadRgbeImage(session, image)) return false;
  const ImageStatistics statistics = GatherStatistics(session, image);
  ToneMapImage(session, image, statistics);
  return WriteImage(session, image);
}

}  // namespace lumivane
