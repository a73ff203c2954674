// Real photographs through both front ends: a picture, not a pale sheet, from
// files whose lossy codec left values below zero; and conversions that keep
// those values as they are.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "imaging/previewsampler.h"
#include "shell/controlids.h"
#include "shell/dispatch.h"
#include "steps/session.h"
#include "tests/cli/clirun.h"
#include "tests/support/floatfiles.h"
#include "tests/support/libraryfiles.h"
#include "tests/support/recordingwindow.h"
#include "tests/support/testfiles.h"

namespace lumivane {
namespace {

const std::string kPhotos = LUMIVANE_SOURCE_DIR "/tests/data/photos/";

// Standard deviation of the Rec. 709 luminance of 8-bit RGB pixels.
double LuminanceSpread(const std::uint8_t* rgb, std::size_t pixels) {
  double sum = 0, squares = 0;
  for (std::size_t i = 0; i < pixels; ++i) {
    const double l = 0.2126 * rgb[3 * i] + 0.7152 * rgb[3 * i + 1] + 0.0722 * rgb[3 * i + 2];
    sum += l;
    squares += l * l;
  }
  const double mean = sum / static_cast<double>(pixels);
  return std::sqrt(squares / static_cast<double>(pixels) - mean * mean);
}

int RunCli(const std::vector<std::string>& args) {
  return testing::RunCliInProcess(args).Status;
}

TEST(Photographs, DefaultToneMapGivesAPictureOnTheCommandLineInTheWindowAndItsPreview) {
  testing::TempDir dir;
  for (const char* name : {"dawn", "esplanade"}) {
    SCOPED_TRACE(name);
    const std::string photo = kPhotos + name + ".exr";
    ASSERT_EQ(RunCli({"tonemap", "-q", photo, dir.File("cli.tif")}), 0);
    const testing::Bytes cli = testing::TiffPixels(testing::ReadBytes(dir.File("cli.tif")));
    ASSERT_EQ(cli.size(), 512u * 256 * 3);
    EXPECT_GE(LuminanceSpread(cli.data(), 512 * 256), 20.0);

    testing::RecordingWindow window;
    Session session(window);
    PreviewSampler preview;
    session.Preview = &preview;
    StartSession(session);
    window.DialogAnswers = {photo, dir.File("window.tif")};
    HandleCommand(session, kOpenExrCommand);
    ASSERT_EQ(window.Boxes.back().Text, "EXR Tonemapping concluded.");
    // The window starts with the exponent 1.2 itself, before its first [Accept].
    const testing::Bytes shownFile =
        testing::TiffPixels(testing::ReadBytes(dir.File("window.tif")));
    ASSERT_EQ(shownFile.size(), cli.size());
    EXPECT_GE(LuminanceSpread(shownFile.data(), 512 * 256), 20.0);
    const auto range = std::find_if(window.Log.begin(), window.Log.end(), [](const auto& line) {
      return line.starts_with("Dynamic range (grey):");
    });
    ASSERT_NE(range, window.Log.end());
    EXPECT_TRUE((range + 1)->starts_with("Values below zero or not finite, taken as 0: "));

    ASSERT_NE(preview.Last(), nullptr);
    const PreviewImage shown = RenderPreview(*preview.Last(), preview.Last()->Settings);
    EXPECT_GE(LuminanceSpread(shown.Rgb.data(), std::size_t{shown.Width} * shown.Height), 20.0);
  }
}

// A conversion edits nothing: the values below zero arrive as they were read.
TEST(Photographs, ConversionsKeepValuesBelowZero) {
  testing::TempDir dir;
  const std::string photo = kPhotos + "hall.exr";
  ASSERT_EQ(RunCli({"convert", "-q", photo, dir.File("hall.pfm")}), 0);
  const testing::FloatImage converted =
      testing::ParseLittleEndianPfm(testing::ReadBytes(dir.File("hall.pfm")));
  const testing::FloatImage original = testing::ReadExrAsRgba(photo);
  ASSERT_EQ(converted.Values.size(), original.Values.size());
  std::size_t negatives = 0;
  for (std::size_t i = 0; i < original.Values.size(); ++i) {
    ASSERT_EQ(std::bit_cast<std::uint32_t>(converted.Values[i]),
              std::bit_cast<std::uint32_t>(original.Values[i]))
        << i;
    negatives += original.Values[i] < 0.0f;
  }
  EXPECT_GT(negatives, 1000u);
}

}  // namespace
}  // namespace lumivane
