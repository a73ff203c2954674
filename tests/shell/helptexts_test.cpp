#include "shell/helptexts.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <string>
#include <vector>

namespace lumivane {
namespace {

const std::string kBullet = "\xE2\x80\xA2";

// Splits at CR LF; a text that ends with CR LF gives no empty last line.
std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find("\r\n", start);
    if (end == std::string::npos) {
      lines.push_back(text.substr(start));
      break;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

bool IsSeparator(const std::string& line) {
  return !line.empty() && line.find_first_not_of('-') == std::string::npos;
}

// 1-based numbers of the separator lines, all of which must have `length` hyphens.
std::vector<int> SeparatorLines(const std::vector<std::string>& lines, std::size_t length) {
  std::vector<int> numbers;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (!IsSeparator(lines[i])) continue;
    EXPECT_EQ(lines[i].size(), length) << "line " << i + 1;
    numbers.push_back(static_cast<int>(i) + 1);
  }
  return numbers;
}

struct Text {
  const char* Name;
  std::string (*Builder)();
  std::size_t LineCount;
  std::size_t SeparatorLength;
  std::vector<int> Separators;
  std::vector<int> EmptyLines;
};

const std::vector<Text>& Texts() {
  static const std::vector<Text> texts = {
      {"General", GeneralHelpText, 22, 74, {22}, {2, 5, 8, 12, 16}},
      {"Usage", UsageHelpText, 25, 68, {11, 16, 25}, {2, 8, 20}},
      {"Operator", OperatorHelpText, 17, 66, {7, 17}, {2, 12}},
      {"Memory", MemoryHelpText, 17, 76, {17}, {2, 6, 10, 14}},
      {"Time", TimeHelpText, 27, 70, {20, 27}, {2, 5, 10, 15, 24}},
      {"Convert", ConvertHelpText, 17, 50, {17}, {2, 4, 9, 13}},
      {"About", AboutHelpText, 16, 35, {6, 16}, {2, 4, 5, 9, 13}},
  };
  return texts;
}

TEST(HelpTexts, LineCountsSeparatorsAndEmptyLines) {
  for (const Text& help : Texts()) {
    SCOPED_TRACE(help.Name);
    const std::vector<std::string> lines = Lines(help.Builder());
    ASSERT_EQ(lines.size(), help.LineCount);
    EXPECT_EQ(SeparatorLines(lines, help.SeparatorLength), help.Separators);
    std::vector<int> empty;
    for (std::size_t i = 0; i < lines.size(); ++i)
      if (lines[i].empty()) empty.push_back(static_cast<int>(i) + 1);
    EXPECT_EQ(empty, help.EmptyLines);
  }
}

TEST(HelpTexts, LinesAreJoinedByCrLfAndOnlyAboutLacksTheFinalBreak) {
  for (const Text& help : Texts()) {
    SCOPED_TRACE(help.Name);
    const std::string text = help.Builder();
    const bool endsWithBreak = text.size() >= 2 && text.compare(text.size() - 2, 2, "\r\n") == 0;
    EXPECT_EQ(endsWithBreak, std::string(help.Name) != "About");
    // No lone CR or LF, no tab, and no line with trailing blanks.
    for (std::size_t i = 0; i < text.size(); ++i) {
      if (text[i] == '\r') {
        EXPECT_EQ(text[i + 1], '\n') << i;
      }
      if (text[i] == '\n') {
        EXPECT_EQ(text[i - 1], '\r') << i;
      }
      EXPECT_NE(text[i], '\t') << i;
    }
    for (const std::string& line : Lines(text)) {
      if (!line.empty()) {
        EXPECT_NE(line.back(), ' ') << line;
      }
    }
  }
  EXPECT_EQ(AboutHelpText().substr(AboutHelpText().size() - 37), "\r\n" + std::string(35, '-'));
}

TEST(HelpTexts, UsageHasTwoBulletsAndFourIndentedLines) {
  const std::vector<std::string> lines = Lines(UsageHelpText());
  std::vector<int> bullets, indented;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].rfind(kBullet + "  ", 0) == 0) bullets.push_back(static_cast<int>(i) + 1);
    if (lines[i].rfind("    ", 0) == 0 && lines[i][4] != ' ')
      indented.push_back(static_cast<int>(i) + 1);
  }
  EXPECT_EQ(bullets, (std::vector<int>{17, 21}));
  EXPECT_EQ(indented, (std::vector<int>{6, 18, 22, 23}));
  EXPECT_EQ(lines[16], "\xE2\x80\xA2  Brightness: lower value darker, higher value brighter.");
  EXPECT_EQ(lines[20], "\xE2\x80\xA2  Contrast: lower value more contrast, higher less.");
  EXPECT_EQ(lines[5], "    processed.");
  EXPECT_EQ(lines[22], "    mapping.");
  // The bullet is the only character beyond ASCII in the Usage text.
  std::size_t high = 0;
  for (const char c : UsageHelpText()) high += static_cast<unsigned char>(c) >= 0x80;
  EXPECT_EQ(high, 2u * kBullet.size());
}

TEST(HelpTexts, LeadingSpacesOfTitlesAndColumns) {
  EXPECT_EQ(Lines(GeneralHelpText())[0], "____ ABOUT High Dynamic Range Tone-mapper LUMI ____");
  EXPECT_EQ(Lines(UsageHelpText())[0], std::string(10, ' ') + "______ HOW TO USE ______");
  EXPECT_EQ(Lines(OperatorHelpText())[0], std::string(10, ' ') + "____ TONE-MAPPING OPERATOR ____");
  EXPECT_EQ(Lines(MemoryHelpText())[0], std::string(10, ' ') + "________ MEMORY USAGE ________");
  EXPECT_EQ(Lines(TimeHelpText())[0],
            std::string(5, ' ') + "____ TIME NEEDED AND CPU UTILISED ____");
  EXPECT_EQ(Lines(ConvertHelpText())[0], std::string(5, ' ') + "_______ CONVERT _______");
  const std::vector<std::string> time = Lines(TimeHelpText());
  EXPECT_EQ(time[8], "  2.8% for writing the resulting TIFF file.");
  EXPECT_EQ(time[16], "  9.7% for analising - finding max, min and averages,");
  EXPECT_EQ(time[18], "  1.6% for writing the resulting TIFF file.");
  EXPECT_EQ(time[10], "If the user values are not set to 1 (as in the default case),");
}

TEST(HelpTexts, OperatorQuotesItsSourcesInGuillemets) {
  const std::vector<std::string> lines = Lines(OperatorHelpText());
  EXPECT_EQ(lines[7], "This program is based on the \xC2\xABPhotographic Tone-");
  const std::string& line9 = lines[8];
  EXPECT_EQ(line9.rfind("mapping Function\xC2\xBB", 0), 0u) << line9;
  EXPECT_NE(line9.find(" by Erik Reinhard"), std::string::npos) << line9;
  EXPECT_EQ(line9.substr(line9.size() - 11), "The formula");
  EXPECT_EQ(lines[9], "used is published in \xC2\xABHigh Dynamic Range Imaging\xC2\xBB");
  EXPECT_EQ(lines[10], "ISBN 0-12-585263-0 on p.210.");
  const std::string text = OperatorHelpText();
  EXPECT_EQ(std::count(text.begin(), text.end(), '\xAB'), 2);
  EXPECT_EQ(std::count(text.begin(), text.end(), '\xBB'), 2);
}

TEST(HelpTexts, AboutCreditsFollowTheHeading) {
  const std::vector<std::string> lines = Lines(AboutHelpText());
  EXPECT_EQ(lines[0], "LUMIVANE.exe - v.1.22:140329");
  EXPECT_EQ(lines[2], "DISCLAIMER:");
  for (const int credit : {7, 8, 10, 11, 12, 14, 15})
    EXPECT_FALSE(lines[static_cast<std::size_t>(credit - 1)].empty()) << credit;
  EXPECT_NE(lines[6].find("g++ 12"), std::string::npos);
  EXPECT_NE(AboutHelpText().find("CMake 3."), std::string::npos);
  EXPECT_NE(AboutHelpText().find("Qt 6"), std::string::npos);
  EXPECT_NE(AboutHelpText().find("lines of C++ source code."), std::string::npos);
  EXPECT_EQ(lines[13], "LUMIVANE developers");
  EXPECT_EQ(lines[14].rfind("https://", 0), 0u);
}

TEST(HelpTexts, SpotLinesAreExact) {
  const std::vector<std::string> general = Lines(GeneralHelpText());
  EXPECT_EQ(general[13], "while tone-mapping is in progress. If an error occured");
  EXPECT_EQ(general[19], "use of about 3.5 GB. 18,000 x 9,000 pixel 96-bit");
  const std::vector<std::string> usage = Lines(UsageHelpText());
  EXPECT_EQ(usage[6], "4. Define the destibation file.");
  EXPECT_EQ(usage[18], "> Fastest and mostly best conversion if set to 1.");
  const std::vector<std::string> memory = Lines(MemoryHelpText());
  EXPECT_EQ(memory[12], "fits 30,000 x 15,000 x 6 = 2,700,000,000 Bytes = 2.51 GB.");
  EXPECT_EQ(memory[15], "above file 30,000 x 15,000 x 3 + 308 = 1,350,000,308 Bytes.");
  const std::vector<std::string> convert = Lines(ConvertHelpText());
  EXPECT_EQ(convert[13], "HDR: RGBE RLE v2 colour format.");
  EXPECT_EQ(convert[15], "PFM: 96-bit Float colour format.");
}

}  // namespace
}  // namespace lumivane
