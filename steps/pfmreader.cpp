#include "steps/pfmreader.h"

#include <cmath>
#include <cstdint>
#include <limits>
#include <string_view>

#include "formats/numbertext.h"
#include "steps/failure.h"
#include "steps/filedialogs.h"
#include "steps/floatjob.h"
#include "steps/session.h"
#include "steps/statuslog.h"

namespace lumivane {

namespace {

constexpr std::size_t kHeaderBlock = 256;

bool Fail(Session& session, const std::string& message) {
  return FailStep(session, message, InputRefused());
}

// A size from the header text: a whole, non-negative number that fits 32 bits.
std::optional<std::uint32_t> ParseSize(std::string_view text) {
  const long double value = std::nearbyint(ParseNumber(text));
  if (!(value >= 0 && value <= std::numeric_limits<std::uint32_t>::max())) return std::nullopt;
  return static_cast<std::uint32_t>(value);
}

// Only the sign of the scale matters; out-of-range text becomes an infinity.
float ParseScale(std::string_view text) {
  const long double value = ParseNumber(text);
  constexpr float kMax = std::numeric_limits<float>::max();
  if (value > kMax) return std::numeric_limits<float>::infinity();
  if (value < -kMax) return -std::numeric_limits<float>::infinity();
  return static_cast<float>(value);
}

}  // namespace

bool ReadPfmHeader(Session& session) {
  JobContext& context = session.Context;
  if (!OpenPfmDialog(session)) {
    return FailStep(session, "Cannot open " + context.InputFileName, FailureOptions());
  }
  const std::int32_t start = ClockWholeSeconds(session);
  char block[kHeaderBlock];
  const std::size_t got = context.InputFile.Read(block, sizeof block);
  const std::string_view header(block, got);
  const std::string notPfm = context.InputFileName + " is not a Portable Floatmap file";

  const auto lower = [](char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c); };
  if (got < 3 || lower(header[0]) != 'p' || lower(header[1]) != 'f' || header[2] != '\n')
    return Fail(session, notPfm);
  // A lower-case "f" marks one grey channel per pixel; the jobs read three.
  if (header[1] == 'f')
    return Fail(session, context.InputFileName +
                             " is a one-channel (grey) Portable Floatmap file; only colour"
                             " (PF) files can be read");

  const std::size_t space = header.find(' ', 3);
  if (space == std::string_view::npos) return Fail(session, notPfm);
  const auto width = ParseSize(header.substr(3, space - 3));
  if (!width) return Fail(session, notPfm);
  context.ImageWidth = *width;
  LogLine(session, "Image Width:" + FormatNumber(context.ImageWidth, 15));

  const std::size_t heightEnd = header.find('\n', space + 1);
  if (heightEnd == std::string_view::npos) return Fail(session, notPfm);
  const auto height = ParseSize(header.substr(space + 1, heightEnd - space - 1));
  if (!height) return Fail(session, notPfm);
  context.ImageHeight = *height;
  LogLine(session, "Image Length:" + FormatNumber(context.ImageHeight, 15));

  if (static_cast<double>(context.ImageWidth) * static_cast<double>(context.ImageHeight) < 1)
    return Fail(session, context.InputFileName + " is smaller than 1 x 1 pixel");
  const auto imageBytes = FloatImageBytes(context.ImageWidth, context.ImageHeight);
  if (!imageBytes)
    return Fail(session, context.InputFileName + " is too large: its pixels take more than 4 GiB");

  const std::size_t scaleEnd = header.find('\n', heightEnd + 1);
  if (scaleEnd == std::string_view::npos) return Fail(session, notPfm);
  const float scale = ParseScale(header.substr(heightEnd + 1, scaleEnd - heightEnd - 1));
  LogLine(session, "Exposition Scale:" + FormatNumber(scale, 7));
  context.SourceIntelOrder = scale < 0;
  context.InputRowsBottomUp = true;

  const std::uint64_t dataStart = scaleEnd + 1;
  const auto size = context.InputFile.Size();
  if (size && *size < dataStart + *imageBytes) return Fail(session, ShortInputMessage(session));
  if (!context.InputFile.Seek(dataStart)) return Fail(session, ShortInputMessage(session));
  LogLine(session, ElapsedLine("Anlysed PFM wrapper in", start, ClockWholeSeconds(session)));
  LogLine(session, "Ready to read PFM data from " + context.InputFileName);
  return true;
}

}  // namespace lumivane
