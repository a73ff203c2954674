// The tone-mapping settings' defaults and ranges, and [Accept]'s rule from a
// box's text to a setting: the window's boxes, the dispatcher and the command
// line's switches (and the preview's defaults) all take them from here.
#pragma once

#include <optional>
#include <string_view>

namespace lumivane {

struct SettingRule {
  float Low;
  float High;
  float Default;
  // As the boxes start out and the command line's help shows them.
  const char* DefaultText;
  const char* RangeText;
};

inline constexpr SettingRule kBrightnessRule = {0.01f, 50.0f, 0.8f, "0.8", "0.01 to 50"};
// The post-gamma exponent is 1 / contrast once [Accept] was pressed.
inline constexpr SettingRule kContrastRule = {0.1f, 10.0f, 1.2f, "1.2", "0.1 to 10"};
// Before the first [Accept] the exponent is 1.2 itself, not 1 / 1.2.
inline constexpr float kInitialPostGamma = 1.2f;

// A box's text as a number, read as the window reads it, rounded to a 32-bit
// float; beyond the float range an infinity, which every range refuses.
float SettingNumber(std::string_view text);

// [Accept]'s rule: the text's number when it lies in the rule's range; nothing
// otherwise (the window then puts the default back, the command line refuses it).
std::optional<float> SettingFromText(std::string_view text, const SettingRule& rule);

// 1 / contrast in extended precision, rounded to a 32-bit float, as [Accept] stores it.
float PostGammaFromContrast(float contrast);

}  // namespace lumivane
