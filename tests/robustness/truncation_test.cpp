// Every input format and row kind, cut after every byte, through whole jobs
// of the dispatcher: each length gives the result the file defines, or one
// clear failure with no output left behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "formats/rgbe.h"
#include "shell/controlids.h"
#include "tests/support/floatfiles.h"
#include "tests/support/hdrfiles.h"
#include "tests/support/testfiles.h"

namespace lumivane {
namespace {

using testing::Bytes;
using testing::JobRun;
using testing::TempDir;

constexpr const char* kAbortTitle = "LUMIVANE - Abort.";
constexpr const char* kSuccessTitle = "LUMIVANE - Success.";

Bytes Prefix(const Bytes& file, std::size_t length) {
  return Bytes(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(length));
}

// The TIFF DateTime text (bytes 240 to 259) is the time of writing.
Bytes MaskTiffDate(Bytes bytes) {
  if (bytes.size() >= 260) std::fill(bytes.begin() + 240, bytes.begin() + 260, std::uint8_t{0});
  return bytes;
}

std::size_t BoxesTitled(const JobRun& run, const std::string& title) {
  return static_cast<std::size_t>(std::count_if(
      run.Boxes.begin(), run.Boxes.end(), [&](const auto& box) { return box.Title == title; }));
}

bool LogMentions(const JobRun& run, const std::string& text) {
  return std::any_of(run.Log.begin(), run.Log.end(),
                     [&](const std::string& line) { return line.find(text) != std::string::npos; });
}

// One abort box naming what went wrong, no success, and no output file.
void ExpectCleanFailure(const JobRun& run, const std::string& input) {
  EXPECT_EQ(BoxesTitled(run, kAbortTitle), 1u);
  EXPECT_EQ(BoxesTitled(run, kSuccessTitle), 0u);
  EXPECT_FALSE(run.OutputExists);
  EXPECT_TRUE(run.FailureMessage.starts_with(input) || run.FailureMessage == "Not a TIFF file.")
      << run.FailureMessage;
  EXPECT_FALSE(LogMentions(run, "concluded"));
}

void ExpectSuccess(const JobRun& run, std::size_t outputSize) {
  EXPECT_EQ(BoxesTitled(run, kSuccessTitle), 1u);
  EXPECT_EQ(BoxesTitled(run, kAbortTitle), 0u) << run.FailureMessage;
  ASSERT_TRUE(run.OutputExists);
  EXPECT_EQ(run.Output.size(), outputSize);
}

float LittleEndianFloat(const std::uint8_t* bytes) {
  std::uint32_t bits = std::uint32_t{bytes[0]} | std::uint32_t{bytes[1]} << 8 |
                       std::uint32_t{bytes[2]} << 16 | std::uint32_t{bytes[3]} << 24;
  float value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

struct HdrCase {
  const char* Name;
  testing::RgbeRowForm Form;
};

TEST(Truncation, RadianceFilesOfEveryRowFormThroughEveryJob) {
  constexpr std::uint32_t kWidth = 12, kHeight = 3;
  const testing::RgbePixels image = testing::PatternImage(kWidth, kHeight, 5);
  const std::size_t headerSize = testing::StandardHdrHeader(kWidth, kHeight).size();
  const std::size_t pixels = std::size_t{kWidth} * kHeight;
  for (const HdrCase& form : {HdrCase{"flat", testing::RgbeRowForm::Flat},
                              HdrCase{"component runs", testing::RgbeRowForm::ComponentRuns},
                              HdrCase{"old runs", testing::RgbeRowForm::OldRuns}}) {
    SCOPED_TRACE(form.Name);
    TempDir dir;
    const std::string input = dir.File("in.hdr");
    const Bytes file = testing::HdrFile(image, form.Form);
    testing::WriteBytes(input, file);
    const JobRun wholeTone = testing::RunJobCommand(kOpenHdrCommand, input, dir.File("whole.tif"));
    const JobRun wholeTiff = testing::RunJobCommand(kHdrToTiffCommand, input, dir.File("w96.tif"));
    ASSERT_EQ(BoxesTitled(wholeTone, kSuccessTitle), 1u);
    ASSERT_EQ(BoxesTitled(wholeTiff, kSuccessTitle), 1u);

    for (std::size_t length = 0; length <= file.size(); ++length) {
      SCOPED_TRACE("length " + std::to_string(length));
      testing::WriteBytes(input, Prefix(file, length));
      const std::string toneOut = dir.File("out.tif");
      const std::string tiffOut = dir.File("out96.tif");
      const std::string pfmOut = dir.File("out.pfm");
      const JobRun tone = testing::RunJobCommand(kOpenHdrCommand, input, toneOut);
      const JobRun tiff = testing::RunJobCommand(kHdrToTiffCommand, input, tiffOut);
      const JobRun pfm = testing::RunJobCommand(kHdrToPfmCommand, input, pfmOut);
      if (length < headerSize) {
        // Without its whole resolution line the file is no Radiance picture.
        for (const JobRun* run : {&tone, &tiff, &pfm}) ExpectCleanFailure(*run, input);
        continue;
      }
      // Missing pixel data read as zero bytes; the log says how many rows are whole,
      // right after the decoding's time, in every job.
      const std::size_t whole =
          std::min<std::size_t>(kHeight, (length - headerSize) / (4 * kWidth));
      for (const JobRun* run : {&tone, &tiff, &pfm}) {
        const auto decoded = std::find_if(run->Log.begin(), run->Log.end(), [](const auto& line) {
          return line.starts_with("Decompressed RGBE data and RGBE image created in");
        });
        ASSERT_NE(decoded, run->Log.end());
        const bool cut = (decoded + 1)->starts_with("Pixel data end early: ");
        EXPECT_EQ(cut, length < file.size());
        if (cut && form.Form == testing::RgbeRowForm::Flat) {
          EXPECT_EQ(*(decoded + 1), "Pixel data end early: " + std::to_string(whole) + " of " +
                                        std::to_string(kHeight) + " rows complete.");
        }
      }
      ExpectSuccess(tone, 308 + 3 * pixels);
      ExpectSuccess(tiff, 308 + 12 * pixels);
      ASSERT_EQ(tiff.Output.size(), 308 + 12 * pixels);
      for (std::size_t i = 0; i < pixels; ++i) {
        const testing::RgbePixel& want = image.Pixels[i];
        const std::uint8_t mantissas[3] = {want.R, want.G, want.B};
        for (int c = 0; c < 3; ++c) {
          const float got = LittleEndianFloat(&tiff.Output[308 + 12 * i + 4 * c]);
          const bool decoded = got == RgbeToFloat(mantissas[c], want.E);
          const bool partly = got == RgbeToFloat(0, want.E) ||
                              got == RgbeToFloat(mantissas[c], 0) || got == RgbeToFloat(0, 0);
          ASSERT_TRUE(decoded || (partly && length < file.size()))
              << "pixel " << i << " channel " << c << " is " << got;
        }
      }
      // The PFM holds the very same values.
      const testing::FloatImage fromPfm = testing::ParseLittleEndianPfm(pfm.Output);
      ASSERT_EQ(fromPfm.Values.size(), 3 * pixels);
      for (std::size_t i = 0; i < 3 * pixels; ++i)
        ASSERT_EQ(fromPfm.Values[i], LittleEndianFloat(&tiff.Output[308 + 4 * i])) << i;
      if (length == file.size()) {
        EXPECT_EQ(MaskTiffDate(tone.Output), MaskTiffDate(wholeTone.Output));
        EXPECT_EQ(MaskTiffDate(tiff.Output), MaskTiffDate(wholeTiff.Output));
      }
    }
  }
}

// A float TIFF with its IFD and tables in front of the pixels, so that a cut
// falls inside the pixel data and not only into the IFD.
Bytes IfdFirstTiff(const testing::FloatImage& image, bool intel, std::uint32_t rowsPerStrip) {
  testing::TiffBuilder order(intel);
  const std::uint32_t strips = (image.Height + rowsPerStrip - 1) / rowsPerStrip;
  const std::uint32_t rowBytes = image.Width * 12;
  constexpr std::uint32_t kEntries = 11;
  const std::uint32_t ifdEnd = 8 + 2 + kEntries * 12 + 4;
  const std::uint32_t bitsAt = ifdEnd, formatAt = ifdEnd + 6;
  const std::uint32_t offsetsAt = formatAt + 6;
  const std::uint32_t countsAt = offsetsAt + (strips > 1 ? 4 * strips : 0);
  const std::uint32_t dataAt = countsAt + (strips > 1 ? 4 * strips : 0);

  std::vector<std::uint32_t> offsets, counts;
  for (std::uint32_t s = 0; s < strips; ++s) {
    const std::uint32_t rows = std::min(rowsPerStrip, image.Height - s * rowsPerStrip);
    offsets.push_back(dataAt + s * rowsPerStrip * rowBytes);
    counts.push_back(rows * rowBytes);
  }
  Bytes file = {static_cast<std::uint8_t>(intel ? 'I' : 'M'),
                static_cast<std::uint8_t>(intel ? 'I' : 'M')};
  const auto put = [&file](const Bytes& bytes) {
    file.insert(file.end(), bytes.begin(), bytes.end());
  };
  put(order.Short(42));
  put(order.Long(8));
  put(order.Short(kEntries));
  const auto entry = [&](std::uint16_t tag, std::uint16_t type, std::uint32_t count, Bytes value) {
    put(order.Short(tag));
    put(order.Short(type));
    put(order.Long(count));
    value.resize(4, 0);
    put(value);
  };
  entry(256, 4, 1, order.Long(image.Width));
  entry(257, 4, 1, order.Long(image.Height));
  entry(258, 3, 3, order.Long(bitsAt));
  entry(259, 3, 1, order.Short(1));
  entry(262, 3, 1, order.Short(2));
  entry(273, 4, strips, order.Long(strips > 1 ? offsetsAt : offsets[0]));
  entry(277, 3, 1, order.Short(3));
  entry(278, 4, 1, order.Long(rowsPerStrip));
  entry(279, 4, strips, order.Long(strips > 1 ? countsAt : counts[0]));
  entry(284, 3, 1, order.Short(1));
  entry(339, 3, 3, order.Long(formatAt));
  put(order.Long(0));
  put(order.Shorts({32, 32, 32}));
  put(order.Shorts({3, 3, 3}));
  if (strips > 1) {
    put(order.Longs(offsets));
    put(order.Longs(counts));
  }
  put(testing::PixelRows(image, 0, image.Height, intel));
  return file;
}

struct FloatCase {
  std::string Name;
  Bytes File;
  // The reader needs every byte up to here; what follows (the TIFF's link to
  // a next IFD) it never reads.
  std::size_t Needed;
  int ToneCommand;
  int ConvertCommand;
  std::size_t ConvertedSize;
};

TEST(Truncation, FloatTiffsAndPfmsOfBothByteOrdersThroughEveryJob) {
  constexpr std::uint32_t kWidth = 3, kHeight = 4;
  const testing::FloatImage image = testing::GradientImage(kWidth, kHeight);
  const std::size_t pixelBytes = std::size_t{kWidth} * kHeight * 12;
  const std::size_t pfmHeader = std::string("PF\n3 4\n-1.00000\n").size();
  std::vector<FloatCase> cases;
  for (const bool intel : {true, false}) {
    const std::string order = intel ? " II" : " MM";
    testing::FloatTiffOptions strips{intel};
    strips.RowsPerStrip = 1;
    const Bytes single = testing::FloatTiff(image, {intel});
    const Bytes perRow = testing::FloatTiff(image, strips);
    const Bytes first = IfdFirstTiff(image, intel, kHeight);
    const Bytes firstTwo = IfdFirstTiff(image, intel, 2);
    const Bytes pfm = testing::StandardPfm(image, intel);
    cases.push_back({"TIFF single strip" + order, single, single.size() - 4, kOpenTiffCommand,
                     kTiffToPfmCommand, pfmHeader + pixelBytes});
    cases.push_back({"TIFF one strip per row" + order, perRow, perRow.size() - 4, kOpenTiffCommand,
                     kTiffToPfmCommand, pfmHeader + pixelBytes});
    cases.push_back({"TIFF IFD first" + order, first, first.size(), kOpenTiffCommand,
                     kTiffToPfmCommand, pfmHeader + pixelBytes});
    cases.push_back({"TIFF IFD first, two strips" + order, firstTwo, firstTwo.size(),
                     kOpenTiffCommand, kTiffToPfmCommand, pfmHeader + pixelBytes});
    cases.push_back({std::string("PFM") + (intel ? " scale -1" : " scale 1"), pfm, pfm.size(),
                     kOpenPfmCommand, kPfmToTiffCommand, 308 + pixelBytes});
  }
  for (const FloatCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TempDir dir;
    const std::string input = dir.File("in.bin");
    testing::WriteBytes(input, c.File);
    const JobRun wholeTone = testing::RunJobCommand(c.ToneCommand, input, dir.File("whole.tif"));
    const JobRun wholeConverted =
        testing::RunJobCommand(c.ConvertCommand, input, dir.File("w.out"));
    ASSERT_EQ(BoxesTitled(wholeTone, kSuccessTitle), 1u) << wholeTone.FailureMessage;
    ASSERT_EQ(BoxesTitled(wholeConverted, kSuccessTitle), 1u) << wholeConverted.FailureMessage;
    ASSERT_EQ(wholeTone.Output.size(), 308 + 3 * std::size_t{kWidth} * kHeight);
    ASSERT_EQ(wholeConverted.Output.size(), c.ConvertedSize);

    // Every pixel of a float image is needed: a cut before the last byte
    // read fails before a row is written; after it, nothing changes.
    for (std::size_t length = 0; length <= c.File.size(); ++length) {
      SCOPED_TRACE("length " + std::to_string(length));
      testing::WriteBytes(input, Prefix(c.File, length));
      const JobRun tone = testing::RunJobCommand(c.ToneCommand, input, dir.File("out.tif"));
      const JobRun converted = testing::RunJobCommand(c.ConvertCommand, input, dir.File("out.x"));
      if (length < c.Needed) {
        ExpectCleanFailure(tone, input);
        ExpectCleanFailure(converted, input);
        continue;
      }
      ExpectSuccess(tone, wholeTone.Output.size());
      ExpectSuccess(converted, wholeConverted.Output.size());
      EXPECT_EQ(MaskTiffDate(tone.Output), MaskTiffDate(wholeTone.Output));
      EXPECT_EQ(MaskTiffDate(converted.Output), MaskTiffDate(wholeConverted.Output));
    }
  }
}

}  // namespace
}  // namespace lumivane
