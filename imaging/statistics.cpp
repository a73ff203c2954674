#include "imaging/statistics.h"

#include <string>

#include "formats/numbertext.h"

namespace lumivane {

namespace {
enum { kRed = 0, kGreen = 1, kBlue = 2 };
}

ImageStatistics ComputeImageStatistics(const ChannelAccumulators& accumulators,
                                       std::uint32_t pixelCount, bool warmColours) {
  ImageStatistics s;
  for (int c = 0; c < 3; ++c) {
    s.Minimum[c] = accumulators[c].Minimum;
    s.Maximum[c] = accumulators[c].Maximum;
    s.Sum[c] = accumulators[c].Sum;
    s.TakenAsZeroCount += accumulators[c].TakenAsZeroCount;
  }
  const double n = static_cast<double>(pixelCount);
  // Grey values add in the order G, R, B.
  s.GreyMinimum = (s.Minimum[kGreen] + s.Minimum[kRed] + s.Minimum[kBlue]) / 3.0;
  s.GreyMaximum = (s.Maximum[kGreen] + s.Maximum[kRed] + s.Maximum[kBlue]) / 3.0;
  const double greyTotal = s.Sum[kGreen] + s.Sum[kRed] + s.Sum[kBlue];
  s.GreyAverage = greyTotal / (3.0 * n);
  for (int c = 0; c < 3; ++c) s.Average[c] = static_cast<float>(s.Sum[c] / n);
  s.GreySum = greyTotal / 3.0;
  if (!warmColours) s.Average.fill(static_cast<float>(s.GreyAverage));
  if (s.GreyMinimum < kStatisticsLow) s.GreyMinimum = kStatisticsLow;
  if (s.GreyMaximum > kStatisticsHigh) s.GreyMaximum = kStatisticsHigh;
  s.DynamicRange = s.GreyMaximum / s.GreyMinimum;
  return s;
}

std::array<std::string, 6> ImageStatisticsLines(const ImageStatistics& s) {
  const auto channelLine = [&](const char* label, int c) {
    return std::string(label) + FormatNumber(s.Minimum[c], 15) + "," +
           FormatNumber(s.Maximum[c], 15) + "," + FormatNumber(s.Sum[c], 15) + "," +
           FormatNumber(s.Average[c], 7);
  };
  return {"Statistics (Low, High, Sum, Average of values)",
          channelLine("Red:  ", kRed),
          channelLine("Green:", kGreen),
          channelLine("Blue: ", kBlue),
          "Grey: " + FormatNumber(s.GreyMinimum, 15) + "," + FormatNumber(s.GreyMaximum, 15) + "," +
              FormatNumber(s.GreySum, 15) + "," + FormatNumber(s.GreyAverage, 15),
          "Dynamic range (grey): " + FormatNumber(s.DynamicRange, 15)};
}

std::string TakenAsZeroLine(const ImageStatistics& s) {
  if (s.TakenAsZeroCount == 0) return {};
  return "Values below zero or not finite, taken as 0:" +
         FormatNumber(s.TakenAsZeroCount, 15);
}

}  // namespace lumivane
