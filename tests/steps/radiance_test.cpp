#include "steps/radiance.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "steps/session.h"
#include "steps/statuslog.h"
#include "tests/support/hdrfiles.h"
#include "tests/support/recordingwindow.h"
#include "tests/support/testfiles.h"

namespace lumivane {
namespace {

using testing::RecordingWindow;
using testing::TempDir;

struct HeaderRun {
  bool Result = false;
  std::vector<std::string> Log;
  std::string Path;
  std::string FailureMessage;
  std::uint32_t Width = 0, Height = 0;
  std::uint64_t Position = 0;
  bool InputOpen = false;
};

std::vector<std::uint8_t> Bytes(const std::string& text) {
  return {text.begin(), text.end()};
}

// Pixel bytes without LF or space, so that they end no header line.
std::vector<std::uint8_t> QuietPixels(std::size_t count) {
  std::vector<std::uint8_t> bytes(count);
  for (std::size_t i = 0; i < count; ++i) bytes[i] = static_cast<std::uint8_t>(100 + i % 90);
  return bytes;
}

HeaderRun ReadHeader(const std::vector<std::uint8_t>& file, std::uint32_t oldWidth = 0,
                     std::uint32_t oldHeight = 0, const ReadLimits& limits = {}) {
  TempDir dir;
  HeaderRun run;
  run.Path = dir.File("in.hdr");
  testing::WriteBytes(run.Path, file);
  RecordingWindow window;
  window.DialogAnswers.push_back(run.Path);
  Session session(window);
  session.Settings.Limits = limits;
  session.Context.ImageWidth = oldWidth;
  session.Context.ImageHeight = oldHeight;
  run.Result = ReadHdrHeader(session);
  run.Log = window.Log;
  run.FailureMessage = session.Context.FailureMessage;
  run.Width = session.Context.ImageWidth;
  run.Height = session.Context.ImageHeight;
  run.InputOpen = session.Context.InputFile.IsOpen();
  run.Position = session.Context.InputFile.Position();
  return run;
}

std::vector<std::string> Refusal(const std::string& path, const std::string& text) {
  return {path + text, "Closed file:", path, SeparatorLine()};
}

std::vector<std::string> Tail(const std::vector<std::string>& log, std::size_t count) {
  return {log.end() - static_cast<std::ptrdiff_t>(std::min(count, log.size())), log.end()};
}

TEST(RadianceHeader, StandardHeaderIsLoggedAndLeavesTheFileAtThePixels) {
  const std::string header = "#?RADIANCE\nFORMAT=32-bit_rle_rgbe\nEXPOSURE=1.0\n\n-Y 512 +X 768\n";
  std::vector<std::uint8_t> file = Bytes(header);
  const auto pixels = QuietPixels(400);
  file.insert(file.end(), pixels.begin(), pixels.end());
  const HeaderRun run = ReadHeader(file);
  ASSERT_TRUE(run.Result);
  EXPECT_EQ(run.Log,
            (std::vector<std::string>{"#?RADIANCE", "FORMAT=32-bit_rle_rgbe", "EXPOSURE = 1", "",
                                      "Image Length = 512", "Image Width = 768",
                                      "Ready to read HDR data from " + run.Path}));
  EXPECT_EQ(run.Width, 768u);
  EXPECT_EQ(run.Height, 512u);
  EXPECT_TRUE(run.InputOpen);
  EXPECT_EQ(run.Position, header.size());
}

TEST(RadianceHeader, WithoutExposureTheLinesUpToTheFormatAreLoggedTwice) {
  const std::string header = "#?RADIANCE\n# made by a test\nFORMAT=32-bit_rle_rgbe\n\n-Y 3 +X 4\n";
  std::vector<std::uint8_t> file = Bytes(header);
  const auto pixels = QuietPixels(48);
  file.insert(file.end(), pixels.begin(), pixels.end());
  const HeaderRun run = ReadHeader(file);
  ASSERT_TRUE(run.Result);
  EXPECT_EQ(run.Log, (std::vector<std::string>{
                         "#?RADIANCE", "# made by a test", "FORMAT=32-bit_rle_rgbe", "",
                         "Image Length = 3", "Image Width = 4", "#?RADIANCE", "# made by a test",
                         "FORMAT=32-bit_rle_rgbe", "Ready to read HDR data from " + run.Path}));
  EXPECT_EQ(run.Position, header.size());
}

TEST(RadianceHeader, XyzeCommentsAndLowerCaseFormatLines) {
  // XYZE is accepted (only "rle" is looked for) and the exposure is logged
  // with seven digits and no leading zero.
  const std::string xyze =
      "#?RADIANCE\n# oiio\nFORMAT=32-bit_rle_xyze\nEXPOSURE=0.5\n\n-Y 2 +X 3\n";
  HeaderRun run = ReadHeader(Bytes(xyze + std::string(24, 'p')));
  ASSERT_TRUE(run.Result);
  EXPECT_EQ(run.Log,
            (std::vector<std::string>{"#?RADIANCE", "# oiio", "FORMAT=32-bit_rle_xyze",
                                      "EXPOSURE = .5", "", "Image Length = 2", "Image Width = 3",
                                      "Ready to read HDR data from " + run.Path}));

  // A lower-case "format" line is another line: logged, never tested.
  const std::string lower = "#?RADIANCE\nformat=plain\nEXPOSURE=2\n\n-Y 2 +X 3\n";
  run = ReadHeader(Bytes(lower + std::string(24, 'p')));
  ASSERT_TRUE(run.Result);
  EXPECT_EQ(run.Log, (std::vector<std::string>{"#?RADIANCE", "format=plain", "EXPOSURE = 2", "",
                                               "Image Length = 2", "Image Width = 3", "#?RADIANCE",
                                               "format=plain", "EXPOSURE = 2",
                                               "Ready to read HDR data from " + run.Path}));
  EXPECT_EQ(run.Position, lower.size());
}

TEST(RadianceHeader, OtherSignaturesAndFormatsAreRefused) {
  for (const std::string start : {"#?RGBE\n", "#?RADIANCE\r\n", "#?RADIANC", ""}) {
    const HeaderRun run =
        ReadHeader(Bytes(start + "FORMAT=32-bit_rle_rgbe\n\n-Y 2 +X 2\n" + std::string(16, 'p')));
    EXPECT_FALSE(run.Result) << start;
    EXPECT_EQ(run.FailureMessage, run.Path + " is not a Radiance file");
    EXPECT_EQ(run.Log, Refusal(run.Path, " is not a Radiance file"));
    EXPECT_FALSE(run.InputOpen);
  }
  const HeaderRun run = ReadHeader(Bytes("#?RADIANCE\n# x\nFORMAT=32-bit_rgbe\n\n-Y 2 +X 2\n"));
  EXPECT_FALSE(run.Result);
  EXPECT_EQ(run.FailureMessage, run.Path + " is not a compressed Radiance file");
  std::vector<std::string> expected = {"#?RADIANCE", "# x"};
  for (const auto& line : Refusal(run.Path, " is not a compressed Radiance file")) {
    expected.push_back(line);
  }
  EXPECT_EQ(run.Log, expected);
  EXPECT_FALSE(run.InputOpen);
}

TEST(RadianceHeader, SpaceAmongTheFirstPixelBytesContinuesTheScanThroughThem) {
  const std::string header = "#?RADIANCE\nFORMAT=32-bit_rle_rgbe\n\n-Y 1 +X 3\n";
  std::vector<std::uint8_t> file = Bytes(header);
  const std::vector<std::uint8_t> pixels = {200, 201,  202, 128, ' ', 'a', 7,
                                            'c', '\n', 'd', 'e', 1,   2,   3};
  file.insert(file.end(), pixels.begin(), pixels.end());
  const HeaderRun run = ReadHeader(file);
  ASSERT_TRUE(run.Result);
  // Control bytes of the pixel data are logged as they are; the piece that no
  // LF ends stops before the block's last byte.
  EXPECT_EQ(run.Log, (std::vector<std::string>{"#?RADIANCE", "FORMAT=32-bit_rle_rgbe", "",
                                               "Image Length = 1", "Image Width = 3",
                                               std::string("a\x07"
                                                           "c"),
                                               "de\x01\x02", "#?RADIANCE", "FORMAT=32-bit_rle_rgbe",
                                               "Ready to read HDR data from " + run.Path}));
  EXPECT_EQ(run.Width, 3u);
  EXPECT_EQ(run.Position, header.size());
}

TEST(RadianceHeader, CarriageReturnsAtLineEndsStayInTheLines) {
  const std::string header =
      "#?RADIANCE\nFORMAT=32-bit_rle_rgbe\r\nEXPOSURE=1.5\r\n\r\n-Y 2 +X 5\r\n";
  const HeaderRun run = ReadHeader(Bytes(header + std::string(40, 'p')));
  ASSERT_TRUE(run.Result);
  EXPECT_EQ(run.Log,
            (std::vector<std::string>{"#?RADIANCE", "FORMAT=32-bit_rle_rgbe\r", "EXPOSURE = 1.5",
                                      "\r", "Image Length = 2", "Image Width = 5",
                                      "Ready to read HDR data from " + run.Path}));
  EXPECT_EQ(run.Position, header.size());
}

TEST(RadianceHeader, ScanWithoutRecognisedLinesEnds) {
  // No LF after the signature and nothing recognised: one pass, then a refusal.
  const HeaderRun run = ReadHeader(Bytes("#?RADIANCE\n" + std::string(300, 'a')));
  EXPECT_FALSE(run.Result);
  std::vector<std::string> expected = {"#?RADIANCE", std::string(244, 'a')};
  for (const auto& line : Refusal(run.Path, " is not a Radiance file")) expected.push_back(line);
  EXPECT_EQ(run.Log, expected);

  // Short blocks, with and without a last LF, end the same way.
  for (const std::string rest : {"", "\n", "# only a comment\n", "abc"}) {
    const HeaderRun shortRun = ReadHeader(Bytes("#?RADIANCE\n" + rest));
    EXPECT_FALSE(shortRun.Result) << rest;
    EXPECT_EQ(Tail(shortRun.Log, 4), Refusal(shortRun.Path, " is not a Radiance file"));
  }
}

TEST(RadianceHeader, SizesThisHeaderDidNotSetAreRefused) {
  const std::string notRadiance = " is not a Radiance file";
  // Other orientations leave the height or width unset; the sizes of an
  // earlier file must not stand in for them.
  for (const std::string resolution : {"+Y 5 +X 5", "-X 5 -Y 5", "+Y 5 -X 5"}) {
    const std::string header = "#?RADIANCE\nFORMAT=32-bit_rle_rgbe\nEXPOSURE=1\n\n" + resolution;
    const HeaderRun run = ReadHeader(Bytes(header + "\n" + std::string(100, 'p')), 7, 9);
    EXPECT_FALSE(run.Result) << resolution;
    EXPECT_EQ(Tail(run.Log, 4), Refusal(run.Path, notRadiance)) << resolution;
  }
  // Two exposure lines reach the fourth recognised line before the width.
  HeaderRun run = ReadHeader(
      Bytes("#?RADIANCE\nFORMAT=32-bit_rle_rgbe\nEXPOSURE=1\nEXPOSURE=2\n\n-Y 5 +X 5\nppppp"), 7,
      9);
  EXPECT_FALSE(run.Result);
  EXPECT_EQ(Tail(run.Log, 4), Refusal(run.Path, notRadiance));
  // A resolution line beyond the first 256 bytes.
  run = ReadHeader(
      Bytes("#?RADIANCE\nFORMAT=32-bit_rle_rgbe\n#" + std::string(300, 'c') + "\n\n-Y 5 +X 5\n"), 7,
      9);
  EXPECT_FALSE(run.Result);
  EXPECT_EQ(Tail(run.Log, 4), Refusal(run.Path, notRadiance));
}

TEST(RadianceHeader, ZeroAndOversizedImagesAreRefused) {
  const std::string size = " has an image size that cannot be handled";
  for (const std::string resolution :
       {"-Y 0 +X 5", "-Y 5 +X 0", "-Y 70000 +X 70000", "-Y -3 +X 5", "-Y 1 +X 99999999999"}) {
    const std::string header = "#?RADIANCE\nFORMAT=32-bit_rle_rgbe\nEXPOSURE=1\n\n" + resolution;
    const HeaderRun run = ReadHeader(Bytes(header + "\n" + std::string(40, 'p')));
    EXPECT_FALSE(run.Result) << resolution;
    EXPECT_EQ(run.FailureMessage, run.Path + size);
    EXPECT_EQ(Tail(run.Log, 4), Refusal(run.Path, size)) << resolution;
    EXPECT_FALSE(run.InputOpen);
  }
  // 65537 x 65535 is 2^32 - 1, the largest count that fits; the pixel limit
  // refuses it unless raised.
  const auto largest =
      Bytes("#?RADIANCE\nFORMAT=32-bit_rle_rgbe\nEXPOSURE=1\n\n-Y 65535 +X 65537\nppp");
  const HeaderRun run = ReadHeader(largest, 0, 0, {.MaxPixels = std::uint64_t{1} << 32});
  EXPECT_TRUE(run.Result);
  EXPECT_EQ(run.Width, 65537u);
  const HeaderRun limited = ReadHeader(largest);
  EXPECT_FALSE(limited.Result);
  const std::string refusal =
      "Cannot read " + limited.Path +
      ": it claims 65537 x 65535 pixels (4294967295), more than the limit "
      "of 1073741824 pixels (--max-pixels or LUMIVANE_MAX_PIXELS raises it)";
  EXPECT_EQ(limited.FailureMessage, refusal);
  EXPECT_EQ(Tail(limited.Log, 4),
            (std::vector<std::string>{refusal, "Closed file:", limited.Path, SeparatorLine()}));
  EXPECT_FALSE(limited.InputOpen);
}

TEST(RadianceHeader, CancelledDialogNamesNoEarlierFile) {
  RecordingWindow window;
  Session session(window);
  session.Context.InputFileName = "/earlier/file.hdr";
  EXPECT_FALSE(ReadHdrHeader(session));
  EXPECT_EQ(session.Context.FailureMessage, "Cannot open ");
  EXPECT_EQ(window.Log, (std::vector<std::string>{"Cannot open "}));
  ASSERT_EQ(window.Boxes.size(), 1u);
  EXPECT_EQ(window.Boxes[0].Text, "No Input File Selected.");
}

TEST(RadianceHeader, EveryPrefixOfAFileIsReadSafely) {
  const auto file = testing::HdrFile(testing::PatternImage(5, 3), testing::RgbeRowForm::Flat);
  const std::size_t headerSize = testing::StandardHdrHeader(5, 3).size();
  for (std::size_t length = 0; length <= file.size(); ++length) {
    const HeaderRun run = ReadHeader({file.begin(), file.begin() + length});
    EXPECT_EQ(run.Result, length >= headerSize) << length;
    if (run.Result) {
      EXPECT_EQ(run.Position, headerSize);
    }
  }
}

}  // namespace
}  // namespace lumivane
