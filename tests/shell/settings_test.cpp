#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "shell/dispatch.h"
#include "steps/session.h"
#include "steps/statuslog.h"
#include "tests/support/recordingwindow.h"

namespace lumivane {
namespace {

using testing::RecordingWindow;

TEST(ParseNumber, DecimalNumbers) {
  EXPECT_EQ(ParseNumber("0.8"), 0.8L);
  EXPECT_EQ(ParseNumber("-3.25"), -3.25L);
  EXPECT_EQ(ParseNumber("+4"), 4.0L);
  EXPECT_EQ(ParseNumber(".5"), 0.5L);
  EXPECT_EQ(ParseNumber("5."), 5.0L);
  EXPECT_EQ(ParseNumber("1E3"), 1000.0L);
  EXPECT_EQ(ParseNumber("1e+3"), 1000.0L);
  EXPECT_EQ(ParseNumber("25e-1"), 2.5L);
  EXPECT_EQ(ParseNumber("1.5D2"), 150.0L);
  EXPECT_EQ(ParseNumber("1.5d-1"), 0.15L);
  EXPECT_EQ(ParseNumber("2D+2"), 200.0L);
}

TEST(ParseNumber, LeadingBlanksAreSkipped) {
  EXPECT_EQ(ParseNumber("  \t\r\n12"), 12.0L);
  EXPECT_EQ(ParseNumber(" \t&H10"), 16.0L);
  // Only the four blanks: a form feed or a vertical tab is not skipped.
  EXPECT_EQ(ParseNumber("\f7"), 0.0L);
  EXPECT_EQ(ParseNumber("\v7"), 0.0L);
}

TEST(ParseNumber, ReadingStopsAtTheFirstCharacterThatDoesNotFit) {
  EXPECT_EQ(ParseNumber("2,5"), 2.0L);
  EXPECT_EQ(ParseNumber("12abc"), 12.0L);
  EXPECT_EQ(ParseNumber("1.2.3"), 1.2L);
  EXPECT_EQ(ParseNumber(" 1 2"), 1.0L);
  EXPECT_EQ(ParseNumber("1e"), 1.0L);
  EXPECT_EQ(ParseNumber("1e+"), 1.0L);
  EXPECT_EQ(ParseNumber("3E+x"), 3.0L);
  EXPECT_EQ(ParseNumber("7 seconds"), 7.0L);
  EXPECT_EQ(ParseNumber("- 3"), 0.0L);
  EXPECT_EQ(ParseNumber("1x2"), 1.0L);
}

TEST(ParseNumber, TextWithoutANumberIsZero) {
  EXPECT_EQ(ParseNumber(""), 0.0L);
  EXPECT_EQ(ParseNumber("   "), 0.0L);
  EXPECT_EQ(ParseNumber("abc"), 0.0L);
  EXPECT_EQ(ParseNumber("."), 0.0L);
  EXPECT_EQ(ParseNumber("-"), 0.0L);
  EXPECT_EQ(ParseNumber("+."), 0.0L);
  EXPECT_EQ(ParseNumber("e5"), 0.0L);
  EXPECT_EQ(ParseNumber("inf"), 0.0L);
  EXPECT_EQ(ParseNumber("nan"), 0.0L);
  EXPECT_EQ(ParseNumber("0x10"), 0.0L);
}

TEST(ParseNumber, OtherBasesAfterAmpersand) {
  EXPECT_EQ(ParseNumber("&HFF"), 255.0L);
  EXPECT_EQ(ParseNumber("&hff"), 255.0L);
  EXPECT_EQ(ParseNumber("&H1G"), 1.0L);
  EXPECT_EQ(ParseNumber("&B101"), 5.0L);
  EXPECT_EQ(ParseNumber("&b1012"), 5.0L);
  EXPECT_EQ(ParseNumber("&O17"), 15.0L);
  EXPECT_EQ(ParseNumber("&o17"), 15.0L);
  EXPECT_EQ(ParseNumber("&Q17"), 15.0L);
  EXPECT_EQ(ParseNumber("&q17"), 15.0L);
  // Without a letter the digits are octal.
  EXPECT_EQ(ParseNumber("&17"), 15.0L);
  EXPECT_EQ(ParseNumber("&19"), 1.0L);
  EXPECT_EQ(ParseNumber("&"), 0.0L);
  EXPECT_EQ(ParseNumber("&H"), 0.0L);
  EXPECT_EQ(ParseNumber("&Hz"), 0.0L);
  EXPECT_EQ(ParseNumber("&B2"), 0.0L);
  // Whole numbers only: the point ends the digits.
  EXPECT_EQ(ParseNumber("&H1.8"), 1.0L);
  EXPECT_EQ(ParseNumber("&HFFFFFFFF"), 4294967295.0L);
}

struct Accepted {
  std::string BrightnessText;
  std::string ContrastText;
  float Brightness;
  float PostGamma;
};

Accepted Accept(const std::string& brightness, const std::string& contrast) {
  RecordingWindow window;
  Session session(window);
  window.EditTexts[kBrightnessBoxId] = brightness;
  window.EditTexts[kContrastBoxId] = contrast;
  AcceptSettings(session);
  return {window.EditTexts[kBrightnessBoxId], window.EditTexts[kContrastBoxId],
          session.Settings.Brightness, session.Settings.PostGamma};
}

TEST(AcceptSettings, BrightnessBoundsInFloat) {
  EXPECT_EQ(Accept("0.01", "1.2").BrightnessText, " .01");
  EXPECT_EQ(Accept("0.01", "1.2").Brightness, 0.01f);
  EXPECT_EQ(Accept("0.0099", "1.2").BrightnessText, " .8");
  EXPECT_EQ(Accept("0.0099", "1.2").Brightness, 0.8f);
  EXPECT_EQ(Accept("50", "1.2").BrightnessText, " 50");
  EXPECT_EQ(Accept("50", "1.2").Brightness, 50.0f);
  EXPECT_EQ(Accept("50.5", "1.2").BrightnessText, " .8");
  EXPECT_EQ(Accept("50.5", "1.2").Brightness, 0.8f);
  // Above the label's 10.00, still accepted.
  EXPECT_EQ(Accept("10.5", "1.2").BrightnessText, " 10.5");
  EXPECT_EQ(Accept("10.5", "1.2").Brightness, 10.5f);
  // 0.00999999977 and 50.0000019 round to the bounds themselves in 32-bit float.
  EXPECT_EQ(Accept("0.00999999977", "1.2").Brightness, 0.01f);
  EXPECT_EQ(Accept("50.0000019", "1.2").Brightness, 50.0f);
  EXPECT_EQ(Accept("50.000004", "1.2").Brightness, 0.8f);
  EXPECT_EQ(Accept("-1", "1.2").Brightness, 0.8f);
}

TEST(AcceptSettings, UnreadableTextsGiveTheDefaults) {
  EXPECT_EQ(Accept("2,5", "1.2").BrightnessText, " 2");
  EXPECT_EQ(Accept("2,5", "1.2").Brightness, 2.0f);
  for (const char* text : {"", "abc", "   ", ",5"}) {
    const Accepted accepted = Accept(text, text);
    EXPECT_EQ(accepted.BrightnessText, " .8") << text;
    EXPECT_EQ(accepted.Brightness, 0.8f) << text;
    EXPECT_EQ(accepted.ContrastText, " 1.2") << text;
    EXPECT_EQ(accepted.PostGamma, 1.0f / 1.2f) << text;
  }
  // Numbers far outside the float range are refused like any other out-of-range value.
  EXPECT_EQ(Accept("1e4000", "1e4000").Brightness, 0.8f);
  EXPECT_EQ(Accept("-1e4000", "-1e4000").ContrastText, " 1.2");
  EXPECT_EQ(Accept("1e-4000", "1e-4000").BrightnessText, " .8");
  EXPECT_EQ(Accept("&H14", "&B1").Brightness, 20.0f);
}

TEST(AcceptSettings, ContrastGivesThePostGammaExponent) {
  const Accepted low = Accept("0.8", "0.1");
  EXPECT_EQ(low.ContrastText, " .1");
  EXPECT_EQ(low.PostGamma, 10.0f);
  const Accepted high = Accept("0.8", "10");
  EXPECT_EQ(high.ContrastText, " 10");
  EXPECT_EQ(high.PostGamma, 0.1f);
  const Accepted zero = Accept("0.8", "0");
  EXPECT_EQ(zero.ContrastText, " 1.2");
  EXPECT_EQ(zero.PostGamma, 1.0f / 1.2f);
  EXPECT_EQ(Accept("0.8", "0.099").ContrastText, " 1.2");
  EXPECT_EQ(Accept("0.8", "10.01").ContrastText, " 1.2");
  EXPECT_EQ(Accept("0.8", "2").PostGamma, 0.5f);
  EXPECT_EQ(Accept("0.8", "4").PostGamma, 0.25f);
  EXPECT_EQ(PostGammaFromContrast(1.2f), 0.833333313465118408203125f);
  EXPECT_EQ(FormatNumber(PostGammaFromContrast(1.2f), 7), " .8333333");
}

TEST(AcceptSettings, UntouchedBoxesAreWrittenBackWithALeadingSpace) {
  RecordingWindow window;
  Session session(window);
  StartSession(session);
  EXPECT_EQ(session.Settings.Brightness, 0.8f);
  EXPECT_EQ(session.Settings.PostGamma, 1.2f);
  window.EditTexts[kBrightnessBoxId] = "0.8";
  window.EditTexts[kContrastBoxId] = "1.2";
  window.Events.clear();
  AcceptSettings(session);
  EXPECT_EQ(session.Settings.Brightness, 0.8f);
  EXPECT_EQ(session.Settings.PostGamma, 0.833333313465118408203125f);
  // Brightness is read and written back before Contrast is read; nothing else happens.
  EXPECT_EQ(window.Events, (std::vector<std::string>{"get-text 1010", "set-text 1010  .8",
                                                     "get-text 1011", "set-text 1011  1.2"}));
  // A second [Accept] on the written-back texts changes nothing.
  AcceptSettings(session);
  EXPECT_EQ(window.EditTexts[kBrightnessBoxId], " .8");
  EXPECT_EQ(window.EditTexts[kContrastBoxId], " 1.2");
  EXPECT_EQ(session.Settings.PostGamma, 0.833333313465118408203125f);
  EXPECT_TRUE(window.Boxes.empty());
  EXPECT_TRUE(window.Dialogs.empty());
}

TEST(AcceptSettings, WarmColoursIsNotTouched) {
  RecordingWindow window;
  Session session(window);
  session.Settings.WarmColours = 1;
  window.EditTexts[kBrightnessBoxId] = "3";
  window.EditTexts[kContrastBoxId] = "0.5";
  AcceptSettings(session);
  EXPECT_EQ(session.Settings.WarmColours, 1);
  EXPECT_EQ(session.Settings.Brightness, 3.0f);
  EXPECT_EQ(session.Settings.PostGamma, 2.0f);
}

}  // namespace
}  // namespace lumivane
