#include "imaging/settings.h"

#include <limits>

#include "formats/numbertext.h"

namespace lumivane {

float SettingNumber(std::string_view text) {
  // A plain conversion of a number beyond the float range would be undefined.
  const long double value = ParseNumber(text);
  constexpr float kInfinity = std::numeric_limits<float>::infinity();
  if (value > std::numeric_limits<float>::max()) return kInfinity;
  if (value < -std::numeric_limits<float>::max()) return -kInfinity;
  return static_cast<float>(value);
}

std::optional<float> SettingFromText(std::string_view text, const SettingRule& rule) {
  const float value = SettingNumber(text);
  if (value < rule.Low || value > rule.High) return std::nullopt;
  return value;
}

float PostGammaFromContrast(float contrast) {
  return static_cast<float>(1.0L / static_cast<long double>(contrast));
}

}  // namespace lumivane
