// --fit, --scale and -o DIR --to: the size and kind of what tonemap writes.
#include <gtest/gtest.h>
#include <png.h>

#include <filesystem>

#include "tests/cli/clirun.h"
#include "tests/support/floatfiles.h"
#include "tests/support/testfiles.h"

namespace lumivane::testing {
namespace {

const std::string kPhotos = std::string(LUMIVANE_SOURCE_DIR) + "/tests/data/photos/";

TEST(OutputSizes, ScaledInputToneMapsAsTheAveragedImageWould) {
  TempDir dir;
  const FloatImage image = GradientImage(8, 6);
  FloatImage halved{4, 3, {}};
  for (std::uint32_t y = 0; y < 3; ++y)
    for (std::uint32_t x = 0; x < 4; ++x)
      for (std::uint32_t c = 0; c < 3; ++c) {
        double sum = 0.0;
        for (std::uint32_t k = 0; k < 4; ++k)
          sum += image.Values[((2 * y + k / 2) * 8 + 2 * x + k % 2) * 3 + c];
        halved.Values.push_back(static_cast<float>(sum / 4.0));
      }
  WriteBytes(dir.File("full.pfm"), StandardPfm(image, true));
  WriteBytes(dir.File("half.pfm"), StandardPfm(halved, true));
  for (const char* op : {"classic", "reinhard02"}) {
    SCOPED_TRACE(op);
    const CliRun scaled = RunCliInProcess(
        {"tonemap", "--operator", op, "--scale", "0.5", dir.File("full.pfm"), dir.File("s.tif")});
    ASSERT_EQ(scaled.Status, 0) << scaled.Err;
    EXPECT_NE(scaled.Out.find("Made smaller to 4 x 3 pixels by averaging\n"), std::string::npos);
    const CliRun direct = RunCliInProcess(
        {"tonemap", "-q", "--operator", op, dir.File("half.pfm"), dir.File("d.tif")});
    ASSERT_EQ(direct.Status, 0) << direct.Err;
    const Bytes expected = TiffPixels(ReadBytes(dir.File("d.tif")));
    ASSERT_EQ(expected.size(), 4u * 3 * 3);
    EXPECT_EQ(TiffPixels(ReadBytes(dir.File("s.tif"))), expected);
  }
}

TEST(OutputSizes, FitAndToWriteEachInputInTheChosenKindAndSize) {
  TempDir dir;
  std::filesystem::create_directory(dir.File("out"));
  const CliRun run = RunCliInProcess({"tonemap", "-q", "--fit", "100x100", "--to", "png", "-o",
                                      dir.File("out"), kPhotos + "dawn.exr", kPhotos + "hall.exr"});
  ASSERT_EQ(run.Status, 0) << run.Err;
  for (const char* name : {"dawn", "hall"}) {
    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    ASSERT_TRUE(png_image_begin_read_from_file(
        &png, dir.File(std::string("out/") + name + ".png").c_str()));
    EXPECT_EQ(png.width, 100u);
    EXPECT_EQ(png.height, 50u);
    png_image_free(&png);
  }
  for (const char* to : {"jpg", "jpeg"}) {
    ASSERT_EQ(
        RunCliInProcess({"tonemap", "-q", "--to", to, "-o", dir.File("out"), kPhotos + "city.exr"})
            .Status,
        0);
    const Bytes jpeg = ReadBytes(dir.File(std::string("out/city.") + to));
    ASSERT_GE(jpeg.size(), 3u);
    EXPECT_EQ(jpeg[0], 0xFF);
    EXPECT_EQ(jpeg[1], 0xD8);
  }
  // Unknown kinds, a --to without -o DIR and both sizes at once write nothing.
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"tonemap", "--to", "bmp", "-o", dir.File("out"),
                                 kPhotos + "bridge.exr"},
        {"tonemap", "--to", "png", kPhotos + "bridge.exr", dir.File("b.png")},
        {"tonemap", "--fit", "9x9", "--scale", "0.5", kPhotos + "bridge.exr", dir.File("b.png")},
        {"tonemap", "--fit", "9", kPhotos + "bridge.exr", dir.File("b.png")},
        {"tonemap", "--scale", "1.5", kPhotos + "bridge.exr", dir.File("b.png")}}) {
    EXPECT_EQ(RunCliInProcess(args).Status, 2) << args[2];
  }
  EXPECT_FALSE(FileExists(dir.File("out/bridge.bmp")));
  EXPECT_FALSE(FileExists(dir.File("b.png")));
  // Two inputs of one name in different formats would write one output: refused
  // before any job, naming both.
  WriteBytes(dir.File("bridge.hdr"),
             ReadBytes(std::string(LUMIVANE_SOURCE_DIR) + "/samples/dawn.hdr"));
  const CliRun clash = RunCliInProcess({"tonemap", "-q", "--to", "png", "-o", dir.File("out"),
                                        kPhotos + "bridge.exr", dir.File("bridge.hdr")});
  EXPECT_EQ(clash.Status, 2);
  EXPECT_NE(clash.Err.find("bridge.exr' and '"), std::string::npos) << clash.Err;
  EXPECT_NE(clash.Err.find("bridge.hdr' would both write"), std::string::npos) << clash.Err;
  EXPECT_FALSE(FileExists(dir.File("out/bridge.png")));
}

}  // namespace
}  // namespace lumivane::testing
