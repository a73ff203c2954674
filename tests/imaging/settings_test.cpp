#include "imaging/settings.h"

#include <gtest/gtest.h>

#include <cmath>

namespace lumivane {
namespace {

TEST(Settings, AcceptRuleRoundsToFloatBeforeTheRangeAndRefusesInfinities) {
  for (const SettingRule* rule : {&kBrightnessRule, &kContrastRule}) {
    EXPECT_EQ(SettingFromText(rule->DefaultText, *rule), rule->Default);
    EXPECT_EQ(SettingFromText(rule->RangeText, *rule), rule->Low);  // "0.01 to 50": its start
  }
  EXPECT_EQ(SettingFromText("50", kBrightnessRule), 50.0f);
  // Within half a float step of 50 the text rounds onto the bound and is taken.
  EXPECT_EQ(SettingFromText("50.000001", kBrightnessRule), 50.0f);
  EXPECT_EQ(SettingFromText("50.0001", kBrightnessRule), std::nullopt);
  EXPECT_EQ(SettingFromText("0.0099", kBrightnessRule), std::nullopt);
  EXPECT_EQ(SettingFromText("10.5", kContrastRule), std::nullopt);
  // Beyond the float range the number is an infinity, never a wrapped value.
  EXPECT_TRUE(std::isinf(SettingNumber("1e39")));
  EXPECT_LT(SettingNumber("-1e39"), 0.0f);
  EXPECT_EQ(SettingFromText("1e39", kBrightnessRule), std::nullopt);
  // The window's boxes read a number's start, as [Accept] always did.
  EXPECT_EQ(SettingFromText("2.5x", kBrightnessRule), 2.5f);
  EXPECT_EQ(PostGammaFromContrast(kContrastRule.Default), static_cast<float>(1.0L / 1.2L));
}

}  // namespace
}  // namespace lumivane
