// durand02 on the shared photographs: beside pfstools' pfstmo_durand02 -g on
// the same input (raised to at least 1e-4, as the peer needs), and with its
// defaults on the photographs as they are, where no picture may be
// degenerate. Until the tone-map job takes --operator, the operator runs here
// through the library: OpenEXR rows, the statistics pass, the operator.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "formats/bytesource.h"
#include "formats/exrrows.h"
#include "imaging/operatortable.h"
#include "tests/interop/peers.h"
#include "tests/support/operatorrun.h"

namespace lumivane::interop {
namespace {

using testing::Photographs;

float Clean(float v) {
  return v > 0.0f && std::isfinite(v) ? v : 0.0f;
}

// The picture durand02 makes of an OpenEXR file, the gatherer's blocks of 16
// rows shared between two threads as the job's team would.
Rgb8Image Durand02Picture(const std::string& path, const OperatorValues& values) {
  const Bytes file = testing::ReadBytes(path);
  std::string error;
  const std::unique_ptr<ImageRowSource> rows =
      OpenExrRows(std::make_unique<MemoryBytes>(file), 1, ReadLimits{}, error);
  EXPECT_TRUE(rows) << error;
  if (!rows) return {};
  const std::uint32_t width = rows->Description().Width;
  const std::uint32_t height = rows->Description().Height;
  std::vector<float> rgb(std::size_t{3} * width * height);
  EXPECT_TRUE(rows->ReadRows(rgb.data(), height, error)) << error;

  const std::unique_ptr<ToneOperator> op = FindOperator("durand02")->Make(values);
  ImageFacts facts;
  facts.Width = width;
  facts.Height = height;
  for (std::size_t i = 0; i < rgb.size(); i += 3) {
    const float clean[3] = {Clean(rgb[i]), Clean(rgb[i + 1]), Clean(rgb[i + 2])};
    for (int c = 0; c < 3; ++c) facts.Channels[c].Add(clean[c]);
    facts.Luminance.AddPixels(clean, 1);
  }
  {
    const std::unique_ptr<OperatorGatherer> gatherer = op->MakeGatherer(width, height);
    constexpr std::uint32_t kBlock = 16;
    std::vector<std::thread> team;
    for (std::uint32_t t = 0; t < 2; ++t)
      team.emplace_back([&, t] {
        for (std::uint32_t y = t * kBlock; y < height; y += 2 * kBlock)
          gatherer->AddRows(rgb.data() + std::size_t{3} * width * y, y,
                            std::min(kBlock, height - y));
      });
    for (std::thread& thread : team) thread.join();
  }
  op->Prepare(facts);
  Rgb8Image picture{width, height, Bytes(rgb.size())};
  for (std::uint32_t y = 0; y < height; ++y)
    op->MapPixelsToBytes(rgb.data() + std::size_t{3} * width * y, PixelPlaces{y, 0, nullptr}, width,
                         picture.Values.data() + std::size_t{3} * width * y);
  return picture;
}

std::string Name(const std::string& path) {
  return std::filesystem::path(path).stem();
}

TEST(Durand02SideBySide, AgreesWithPfstmoDurand02WithinSixLevelsOnAverage) {
  if (!HavePeers({"oiiotool", "pfsin", "pfstmo_durand02", "pfsgamma", "pfsout", kMagick}))
    GTEST_SKIP() << "oiiotool, pfstools, pfstmo or ImageMagick is not installed";
  TempDir dir;
  for (const std::string& photo : Photographs()) {
    SCOPED_TRACE(photo);
    const std::string raised = dir.File("raised.exr");
    const std::string png = dir.File("pfstmo.png");
    const std::string ppm = dir.File("pfstmo.ppm");
    const Ran ran = Shell(
        dir, "oiiotool " + Quote(photo) + " --clamp:min=1e-4 -o " + Quote(raised) + " && pfsin " +
                 Quote(raised) + " | pfstmo_durand02 -q -g | pfsgamma -g 2.2 | pfsout " +
                 Quote(png) + " && " + kMagick + " " + Quote(png) + " -depth 8 " + Quote(ppm));
    ASSERT_EQ(ran.Status, 0) << ran.Err;
    const auto theirs = ParsePpm(testing::ReadBytes(ppm));
    ASSERT_TRUE(theirs);
    const Rgb8Image ours =
        Durand02Picture(raised, {{PixelKey("sigma-s"), 40.0}, {"gamma", 2.2}, {"saturation", 1.0}});
    ASSERT_EQ(ours.Width, theirs->Width);
    ASSERT_EQ(ours.Height, theirs->Height);
    ASSERT_EQ(ours.Values.size(), theirs->Values.size());
    double total = 0.0;
    for (std::size_t i = 0; i < ours.Values.size(); ++i)
      total += std::abs(int{ours.Values[i]} - int{theirs->Values[i]});
    const double mean = total / static_cast<double>(ours.Values.size());
    std::printf("durand02 beside pfstmo_durand02 -g, %s: mean difference %.2f levels\n",
                Name(photo).c_str(), mean);
    EXPECT_LE(mean, 6.0);
  }
}

TEST(Durand02Photographs, NoDefaultPictureIsDegenerate) {
  for (const std::string& photo : Photographs()) {
    SCOPED_TRACE(photo);
    const Rgb8Image picture = Durand02Picture(photo, {});
    const std::size_t pixels = std::size_t{picture.Width} * picture.Height;
    ASSERT_GT(pixels, 0u);
    double sum = 0.0;
    double squares = 0.0;
    std::size_t clipped = 0;
    for (std::size_t i = 0; i < pixels; ++i) {
      const std::uint8_t* const p = picture.Values.data() + 3 * i;
      const double y = std::round(0.2126 * p[0] + 0.7152 * p[1] + 0.0722 * p[2]);
      sum += y;
      squares += y * y;
      clipped += y == 0.0 || y == 255.0;
    }
    const double mean = sum / static_cast<double>(pixels);
    const double deviation = std::sqrt(squares / static_cast<double>(pixels) - mean * mean);
    std::printf("durand02 defaults, %s: mean %.1f, deviation %.1f, %.2f %% at 0 or 255\n",
                Name(photo).c_str(), mean, deviation,
                100.0 * static_cast<double>(clipped) / static_cast<double>(pixels));
    EXPECT_GE(deviation, 10.0);
    EXPECT_LE(static_cast<double>(clipped), 0.9 * static_cast<double>(pixels));
  }
}

}  // namespace
}  // namespace lumivane::interop
