#include "shell/recording.h"

#include <array>
#include <charconv>
#include <cmath>
#include <filesystem>
#include <vector>

#include "imaging/operatortable.h"
#include "imaging/settings.h"

namespace lumivane {

namespace {

constexpr const char* kClassic = "classic";

// The shortest text that reads back as the same 32-bit float, "0.25": what
// an output records reads as the user typed it, not in the log's style.
std::string RecordedNumber(double value) {
  std::array<char, 32> text{};
  const auto end =
      std::to_chars(text.data(), text.data() + text.size(), static_cast<float>(value)).ptr;
  return std::string(text.data(), end);
}

// The contrast that gives exactly `postGamma`, as [Accept] takes 1 / contrast,
// in its shortest text; empty when none near 1 / postGamma does.
std::string ContrastOf(float postGamma) {
  if (!(postGamma > 0.0f) || !std::isfinite(postGamma)) return {};
  const float guess = static_cast<float>(1.0L / static_cast<long double>(postGamma));
  std::string best;
  float candidate = guess;
  for (int step = 0; step < 3; ++step) candidate = std::nextafter(candidate, 0.0f);
  for (int i = 0; i < 7; ++i, candidate = std::nextafter(candidate, INFINITY)) {
    if (PostGammaFromContrast(candidate) != postGamma) continue;
    const std::string text = RecordedNumber(candidate);
    if (best.empty() || text.size() < best.size()) best = text;
  }
  return best;
}

}  // namespace

std::string RecordedSoftware() {
  return std::string("LUMIVANE ") + LUMIVANE_VERSION;
}

std::string DescribeOperator(const std::string& name, const OperatorValues& values,
                             const ClassicTexts& classic) {
  if (name.empty()) {
    std::string text = std::string(kClassic) + " brightness=" + classic.Brightness;
    text += classic.PostGamma.empty() ? " contrast=" + classic.Contrast
                                      : " post-gamma=" + classic.PostGamma;
    return text + " warm=" + (classic.Warm ? "1" : "0");
  }
  const OperatorRow* row = FindOperator(name);
  std::string text = name;
  for (const OperatorParameter& p : row ? row->Parameters : std::vector<OperatorParameter>{}) {
    text += std::string(" ") + p.Name + "=";
    // A length given in pixels stands over the one relative to the image.
    if (const auto pixels = values.find(PixelKey(p.Name)); pixels != values.end())
      text += RecordedNumber(pixels->second) + "px";
    else if (const auto value = values.find(p.Name); value != values.end())
      text += RecordedNumber(value->second);
    else
      text += std::isnan(p.Default) ? "auto" : RecordedNumber(p.Default);
  }
  return text;
}

ClassicTexts ClassicTextsOf(const JobSettings& settings) {
  ClassicTexts texts;
  texts.Brightness = RecordedNumber(settings.Brightness);
  texts.Contrast = ContrastOf(settings.PostGamma);
  if (texts.Contrast.empty()) texts.PostGamma = RecordedNumber(settings.PostGamma);
  texts.Warm = settings.WarmColours != 0;
  return texts;
}

std::string RecordedDescription(const std::string& input, const std::string& operatorLine) {
  std::string name = std::filesystem::path(input).filename().string();
  for (char& c : name)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  return "tone-mapped from " + name + " with " + operatorLine;
}

void RecordSettings(const std::string& input, const JobSettings& settings, SinkOptions& options) {
  options.Software = RecordedSoftware();
  options.Description = RecordedDescription(
      input,
      DescribeOperator(settings.Operator, settings.OperatorParameters, ClassicTextsOf(settings)));
}

}  // namespace lumivane
