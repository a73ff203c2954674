#include "steps/tiffwriter.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "steps/session.h"
#include "steps/statuslog.h"
#include "tests/support/recordingwindow.h"
#include "tests/support/testfiles.h"

namespace lumivane {
namespace {

using testing::RecordingWindow;
using testing::TempDir;

constexpr std::size_t kDateStart = 240, kDateEnd = 260;

// The header as the layout tables give it, built independently of the writer.
std::vector<std::uint8_t> ExpectedHeader(std::uint32_t width, std::uint32_t height, int bits) {
  std::vector<std::uint8_t> bytes;
  const auto u16 = [&](std::uint32_t v) {
    bytes.push_back(static_cast<std::uint8_t>(v));
    bytes.push_back(static_cast<std::uint8_t>(v >> 8));
  };
  const auto u32 = [&](std::uint32_t v) {
    u16(v & 0xFFFF);
    u16(v >> 16);
  };
  const auto sizeType = [](std::uint32_t v) { return v > 65535 ? 4u : 3u; };
  const std::uint32_t bytesPerPixel = bits == 24 ? 3 : 12;
  bytes = {'I', 'I'};
  u16(42);
  u32(8);
  u16(17);
  const std::uint32_t entries[17][4] = {
      {254, 4, 1, 0},
      {256, sizeType(width), 1, width},
      {257, sizeType(height), 1, height},
      {258, 3, 3, 234},
      {259, 3, 1, 1},
      {262, 3, 1, 2},
      {273, 4, 1, 308},
      {274, 3, 1, 1},
      {277, 3, 1, 3},
      {278, sizeType(height), 1, height},
      {279, 4, 1, width * height * bytesPerPixel},
      {282, 5, 1, 218},
      {283, 5, 1, 218},
      {296, 3, 1, 2},
      {305, 2, 48, 260},
      {306, 2, 20, 240},
      {339, 3, 3, 226},
  };
  for (const auto& entry : entries) {
    u16(entry[0]);
    u16(entry[1]);
    u32(entry[2]);
    u32(entry[3]);
  }
  u32(0);
  u32(720000);
  u32(10000);
  for (int i = 0; i < 4; ++i) u16(bits == 24 ? 1 : 3);
  for (int i = 0; i < 3; ++i) u16(bits == 24 ? 8 : 32);
  bytes.resize(kDateEnd, 0);  // the date, masked
  const auto software = TiffSoftwareText();
  bytes.insert(bytes.end(), software.begin(), software.end());
  return bytes;
}

std::vector<std::uint8_t> MaskDate(std::vector<std::uint8_t> bytes) {
  for (std::size_t i = kDateStart; i < kDateEnd && i < bytes.size(); ++i) bytes[i] = 0;
  return bytes;
}

struct HeaderWrite {
  TempDir Dir;
  RecordingWindow Window;
  Session Session_{Window};
  bool Result = false;
  std::vector<long double> Readings;
  std::vector<std::size_t> LogSizeAtReading;

  HeaderWrite(std::uint32_t width, std::uint32_t height, int bits,
              const std::string& output = "out.tif") {
    JobContext& context = Session_.Context;
    context.InputFileName = Dir.File("in.hdr");
    testing::WriteText(context.InputFileName, "input");
    context.InputFile = BinaryFile::OpenForReading(context.InputFileName);
    context.ImageWidth = width;
    context.ImageHeight = height;
    Readings = {12.4L, 12.6L};
    Session_.Clock = [this] {
      LogSizeAtReading.push_back(Window.Log.size());
      return Readings[std::min(LogSizeAtReading.size(), Readings.size()) - 1];
    };
    if (!output.empty()) {
      Window.DialogAnswers.push_back(output.front() == '/' ? output : Dir.File(output));
    }
    Result = bits == 24 ? WriteTiff24Header(Session_) : WriteTiff96Header(Session_);
  }
  // Until the job commits it, the output is the open file, not yet at its name.
  std::vector<std::uint8_t> Bytes() const {
    const BinaryFile& file = Session_.Context.OutputFile;
    if (file.IsOpen())
      return testing::ReadBytes("/proc/self/fd/" + std::to_string(file.Descriptor()));
    return testing::ReadBytes(Session_.Context.OutputFileName);
  }
};

TEST(EncodeLong32, LeastSignificantByteFirst) {
  EXPECT_EQ(EncodeLong32(0), (std::array<std::uint8_t, 4>{0, 0, 0, 0}));
  EXPECT_EQ(EncodeLong32(70000), (std::array<std::uint8_t, 4>{0x70, 0x11, 0x01, 0x00}));
  EXPECT_EQ(EncodeLong32(0xA1B2C3D4u), (std::array<std::uint8_t, 4>{0xD4, 0xC3, 0xB2, 0xA1}));
}

TEST(TiffTexts, DateTimeAndSoftwareHaveTheirFixedShapes) {
  const auto date = TiffDateTimeText();
  EXPECT_EQ(date[19], '\0');
  const std::string text(date.data(), 19);
  // YYYY:MM:DD HH:MM:SS
  const std::string shape = "dddd:dd:dd dd:dd:dd";
  for (std::size_t k = 0; k < shape.size(); ++k) {
    if (shape[k] == 'd') {
      EXPECT_TRUE(std::isdigit(static_cast<unsigned char>(text[k]))) << text;
    } else {
      EXPECT_EQ(text[k], shape[k]) << text;
    }
  }
  EXPECT_GE(text.substr(5, 2), "01");
  EXPECT_LE(text.substr(5, 2), "12");
  EXPECT_LE(text.substr(11, 2), "23");

  const auto software = TiffSoftwareText();
  EXPECT_EQ(software[47], '\0');
  const std::string name(software.data(), 47);
  for (const char c : name) EXPECT_TRUE(std::isprint(static_cast<unsigned char>(c))) << name;
  EXPECT_NE(name.find("LUMIVANE"), std::string::npos);
  EXPECT_NE(name.find("v1.22"), std::string::npos);
  EXPECT_NE(name.find("20"), std::string::npos) << name;
  EXPECT_NE(name.find("https://"), std::string::npos);
}

TEST(TiffHeader, TwentyFourAndNinetySixBitHeadersByteForByte) {
  HeaderWrite tiff24(4, 2, 24);
  ASSERT_TRUE(tiff24.Result);
  const auto bytes24 = tiff24.Bytes();
  ASSERT_EQ(bytes24.size(), kTiffHeaderSize);
  EXPECT_EQ(MaskDate(bytes24), ExpectedHeader(4, 2, 24));
  EXPECT_EQ(tiff24.Session_.Context.OutputFile.Position(), kTiffHeaderSize);
  EXPECT_TRUE(tiff24.Session_.Context.InputFile.IsOpen());

  HeaderWrite tiff96(4, 2, 96);
  ASSERT_TRUE(tiff96.Result);
  const auto bytes96 = tiff96.Bytes();
  EXPECT_EQ(MaskDate(bytes96), ExpectedHeader(4, 2, 96));

  // They differ only in the strip byte count (the value field of the entry at
  // 130) and the sample values.
  std::vector<std::size_t> differing;
  const auto masked24 = MaskDate(bytes24), masked96 = MaskDate(bytes96);
  for (std::size_t i = 0; i < kTiffHeaderSize; ++i) {
    if (masked24[i] != masked96[i]) differing.push_back(i);
  }
  for (const std::size_t i : differing) {
    EXPECT_TRUE((i >= 138 && i <= 141) || (i >= 226 && i <= 239)) << i;
  }
  EXPECT_EQ(bytes24[138], 24);
  EXPECT_EQ(bytes96[138], 96);

  // A complete 4 x 2 file is 332 bytes (24-bit) or 404 bytes (96-bit).
  for (auto* write : {&tiff24, &tiff96}) {
    const std::size_t pixels = write == &tiff24 ? 24 : 96;
    const std::vector<std::uint8_t> data(pixels, 7);
    ASSERT_TRUE(write->Session_.Context.OutputFile.Write(data.data(), data.size()));
    ASSERT_TRUE(write->Session_.Context.OutputFile.Commit());
  }
  EXPECT_EQ(tiff24.Bytes().size(), 332u);
  EXPECT_EQ(tiff96.Bytes().size(), 404u);
}

TEST(TiffHeader, SizesAbove65535AreWrittenAsLong) {
  HeaderWrite wide(70000, 3, 24);
  ASSERT_TRUE(wide.Result);
  const auto bytes = wide.Bytes();
  EXPECT_EQ(MaskDate(bytes), ExpectedHeader(70000, 3, 24));
  // ImageWidth: type LONG, value 70000; the height entries stay SHORT.
  EXPECT_EQ(std::vector<std::uint8_t>(bytes.begin() + 22, bytes.begin() + 34),
            (std::vector<std::uint8_t>{0x00, 0x01, 4, 0, 1, 0, 0, 0, 0x70, 0x11, 0x01, 0x00}));
  EXPECT_EQ(bytes[36], 3);
  EXPECT_EQ(bytes[120], 3);

  HeaderWrite tall(3, 70000, 24);
  ASSERT_TRUE(tall.Result);
  const auto tallBytes = tall.Bytes();
  EXPECT_EQ(MaskDate(tallBytes), ExpectedHeader(3, 70000, 24));
  EXPECT_EQ(tallBytes[24], 3);
  EXPECT_EQ(tallBytes[36], 4);
  EXPECT_EQ(tallBytes[120], 4);

  // 65535 itself is still a SHORT.
  HeaderWrite edge(65535, 100, 24);
  ASSERT_TRUE(edge.Result);
  EXPECT_EQ(MaskDate(edge.Bytes()), ExpectedHeader(65535, 100, 24));
  EXPECT_EQ(edge.Bytes()[24], 3);
}

TEST(TiffHeader, LogLinesAndClockReadingsInOrder) {
  HeaderWrite tiff24(4, 2, 24);
  const std::string out = tiff24.Session_.Context.OutputFileName;
  EXPECT_EQ(tiff24.Window.Log,
            (std::vector<std::string>{"Input file opened:", out, "Creating IFD for 24-bit file.",
                                      "IFD written to file " + out, "Time used: 1 seconds"}));
  // The 24-bit variant reads its end time before the "IFD written" line, the
  // 96-bit variant after it.
  EXPECT_EQ(tiff24.LogSizeAtReading, (std::vector<std::size_t>{0, 3}));

  HeaderWrite tiff96(4, 2, 96);
  const std::string out96 = tiff96.Session_.Context.OutputFileName;
  EXPECT_EQ(tiff96.Window.Log,
            (std::vector<std::string>{"Input file opened:", out96, "Creating IFD for 96-bit file.",
                                      "IFD written to file " + out96, "Time used: 1 seconds"}));
  EXPECT_EQ(tiff96.LogSizeAtReading, (std::vector<std::size_t>{0, 4}));
}

TEST(TiffHeader, CancelledSaveClosesTheInput) {
  HeaderWrite cancelled(4, 2, 24, "");
  EXPECT_FALSE(cancelled.Result);
  const JobContext& context = cancelled.Session_.Context;
  EXPECT_EQ(context.FailureMessage, "Cannot open ");
  EXPECT_FALSE(context.InputFile.IsOpen());
  EXPECT_EQ(cancelled.Window.Log,
            (std::vector<std::string>{"Closed file:", context.InputFileName, SeparatorLine()}));
  ASSERT_EQ(cancelled.Window.Boxes.size(), 1u);
  EXPECT_EQ(cancelled.Window.Boxes[0].Text, "Missing Filename.");
}

TEST(TiffHeader, ByteCountsBeyond32BitsAreRefusedWithoutAFileLeft) {
  const std::tuple<std::uint32_t, std::uint32_t, int> cases[] = {
      {20000, 20000, 96}, {40000, 40000, 24}, {65536, 65535, 24}};
  for (const auto& [width, height, bits] : cases) {
    HeaderWrite write(width, height, bits);
    EXPECT_FALSE(write.Result);
    const JobContext& context = write.Session_.Context;
    const std::string text =
        "Cannot write " + context.OutputFileName + ": the image is too large for a TIFF file";
    EXPECT_EQ(context.FailureMessage, text);
    EXPECT_EQ(write.Window.Log, (std::vector<std::string>{
                                    text, "Closed file:", context.InputFileName, SeparatorLine()}));
    EXPECT_FALSE(testing::FileExists(context.OutputFileName));
    EXPECT_FALSE(context.InputFile.IsOpen());
    EXPECT_FALSE(context.OutputFile.IsOpen());
  }
  // Just below the limit the header is written.
  HeaderWrite fits(20000, 20000, 24);
  EXPECT_TRUE(fits.Result);
  EXPECT_EQ(MaskDate(fits.Bytes()), ExpectedHeader(20000, 20000, 24));
}

TEST(TiffHeader, FailedHeaderWriteFailsTheStep) {
  if (!testing::FileExists("/dev/full")) GTEST_SKIP() << "no /dev/full here";
  HeaderWrite write(4, 2, 24, "/dev/full");
  EXPECT_FALSE(write.Result);
  const JobContext& context = write.Session_.Context;
  EXPECT_EQ(context.FailureMessage,
            "Cannot write /dev/full: " + std::string(std::strerror(ENOSPC)));
  EXPECT_EQ(std::vector<std::string>(write.Window.Log.end() - 4, write.Window.Log.end()),
            (std::vector<std::string>{context.FailureMessage, "Closed file:", context.InputFileName,
                                      SeparatorLine()}));
  EXPECT_FALSE(context.InputFile.IsOpen());
  // A device is never removed.
  EXPECT_TRUE(testing::FileExists("/dev/full"));
}

}  // namespace
}  // namespace lumivane
