#include "formats/pfmheader.h"

#include <cmath>
#include <limits>

#include "formats/floatimage.h"
#include "formats/numbertext.h"

namespace lumivane {

namespace {

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

std::string PfmDigits(std::uint32_t value) {
  const std::string text = FormatNumber(value, 15);
  const auto first = text.find_first_not_of(' ');
  const auto last = text.find_last_not_of(' ');
  return text.substr(first, last - first + 1);
}

std::string PfmHeaderText(std::uint32_t width, std::uint32_t height) {
  return "PF\n" + PfmDigits(width) + " " + PfmDigits(height) + "\n-1.00000\n";
}

PfmHeader ParsePfmHeader(std::string_view bytes, const std::string& fileName) {
  const std::string_view header = bytes.substr(0, kPfmHeaderBlock);
  const std::size_t got = header.size();
  PfmHeader result;
  const auto fail = [&](std::string text) {
    result.Failure = std::move(text);
    return result;
  };
  const std::string notPfm = fileName + " is not a Portable Floatmap file";

  const auto lower = [](char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c); };
  if (got < 3 || lower(header[0]) != 'p' || lower(header[1]) != 'f' || header[2] != '\n')
    return fail(notPfm);
  // A lower-case "f" marks one grey channel per pixel; the jobs read three.
  if (header[1] == 'f')
    return fail(fileName +
                " is a one-channel (grey) Portable Floatmap file; only colour"
                " (PF) files can be read");

  const std::size_t space = header.find(' ', 3);
  if (space == std::string_view::npos) return fail(notPfm);
  result.Width = ParseSize(header.substr(3, space - 3));
  if (!result.Width) return fail(notPfm);
  result.LogLines.push_back("Image Width:" + FormatNumber(*result.Width, 15));

  const std::size_t heightEnd = header.find('\n', space + 1);
  if (heightEnd == std::string_view::npos) return fail(notPfm);
  result.Height = ParseSize(header.substr(space + 1, heightEnd - space - 1));
  if (!result.Height) return fail(notPfm);
  result.LogLines.push_back("Image Length:" + FormatNumber(*result.Height, 15));

  if (static_cast<double>(*result.Width) * static_cast<double>(*result.Height) < 1)
    return fail(fileName + " is smaller than 1 x 1 pixel");
  const auto imageBytes = FloatImageBytes(*result.Width, *result.Height);
  if (!imageBytes) return fail(fileName + " is too large: its pixels take more than 4 GiB");
  result.ImageBytes = *imageBytes;

  const std::size_t scaleEnd = header.find('\n', heightEnd + 1);
  if (scaleEnd == std::string_view::npos) return fail(notPfm);
  const float scale = ParseScale(header.substr(heightEnd + 1, scaleEnd - heightEnd - 1));
  result.LogLines.push_back("Exposition Scale:" + FormatNumber(scale, 7));
  result.IntelOrder = scale < 0;
  result.DataStart = scaleEnd + 1;
  return result;
}

}  // namespace lumivane
