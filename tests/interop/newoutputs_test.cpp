// The outputs written through libraries and the Radiance encoder, read by
// OpenImageIO (and tifffile for the floats it writes back), 8 and 16 bits.
#include <gtest/gtest.h>
#include <half.h>

#include <string>
#include <vector>

#include "tests/interop/peers.h"

namespace lumivane::interop {
namespace {

// OpenImageIO reads `path` and writes it again as an uncompressed float TIFF.
std::optional<FloatImage> OiioFloats(const TempDir& dir, const std::string& path) {
  const std::string copy = dir.File("oiio-copy.tif");
  const Ran oiio =
      Shell(dir, "oiiotool " + Quote(path) + " -d float --compression none -o " + Quote(copy));
  EXPECT_EQ(oiio.Status, 0) << oiio.Err;
  return TifffileFloats(dir, copy);
}

TEST(NewOutputs, OpenImageIoReadsOurExrRadiancePngAndJpeg) {
  if (!HavePeers({"oiiotool", "tifffile"})) GTEST_SKIP() << "oiiotool or tifffile missing";
  TempDir dir;
  const FloatImage scene = Scene(97, 41);
  const std::string pfm = dir.File("scene.pfm");
  testing::WriteBytes(pfm, testing::StandardPfm(scene, true));

  ASSERT_EQ(RunCli(dir, {"convert", "-q", pfm, dir.File("float.exr")}).Status, 0);
  ASSERT_EQ(
      RunCli(dir, {"convert", "-q", "--half", "--compression", "dwab", pfm, dir.File("half.exr")})
          .Status,
      0);
  const auto floats = OiioFloats(dir, dir.File("float.exr"));
  ASSERT_TRUE(floats);
  EXPECT_EQ(floats->Width, scene.Width);
  EXPECT_TRUE(floats->Values == scene.Values);
  // DWAB is lossy, but not for the rounding to half: compare with no compression too.
  ASSERT_EQ(RunCli(dir, {"convert", "-q", "--half", "--compression", "none", pfm,
                         dir.File("half-plain.exr")})
                .Status,
            0);
  const auto halves = OiioFloats(dir, dir.File("half-plain.exr"));
  ASSERT_TRUE(halves);
  for (std::size_t i = 0; i < scene.Values.size(); ++i)
    ASSERT_EQ(halves->Values[i], static_cast<float>(Imath::half(scene.Values[i]))) << i;
  EXPECT_TRUE(OiioFloats(dir, dir.File("half.exr")));

  // Radiance: OpenImageIO decodes our file to the floats it decodes the
  // Radiance input to.
  const std::string hdr = dir.File("scene.hdr");
  ASSERT_EQ(Shell(dir, "oiiotool " + Quote(pfm) + " -o " + Quote(hdr)).Status, 0);
  ASSERT_EQ(RunCli(dir, {"convert", "-q", hdr, dir.File("ours.hdr")}).Status, 0);
  const auto theirs = OiioFloats(dir, hdr);
  const auto ours = OiioFloats(dir, dir.File("ours.hdr"));
  ASSERT_TRUE(theirs && ours);
  EXPECT_TRUE(theirs->Values == ours->Values);

  // PNG as the TIFF; JPEG readable at its size.
  for (const char* name : {"mapped.tif", "mapped.png", "mapped.jpg"})
    ASSERT_EQ(RunCli(dir, {"tonemap", "-q", pfm, dir.File(name)}).Status, 0) << name;
  const auto bytes = [&](const char* name) {
    const std::string ppm = dir.File(std::string(name) + ".ppm");
    EXPECT_EQ(Shell(dir, "oiiotool " + Quote(dir.File(name)) + " -o " + Quote(ppm)).Status, 0);
    return ParsePpm(testing::ReadBytes(ppm));
  };
  const auto tiff = bytes("mapped.tif"), png = bytes("mapped.png"), jpeg = bytes("mapped.jpg");
  ASSERT_TRUE(tiff && png && jpeg);
  EXPECT_TRUE(png->Values == tiff->Values);
  EXPECT_EQ(jpeg->Width, scene.Width);
  EXPECT_EQ(jpeg->Height, scene.Height);

  // 16 bits: OpenImageIO reads the PNG and the libtiff TIFF as the same
  // levels, each within half an 8-bit level of the 8-bit picture.
  for (const char* name : {"deep.png", "deep.tif"})
    ASSERT_EQ(RunCli(dir, {"tonemap", "-q", "--depth", "16", pfm, dir.File(name)}).Status, 0)
        << name;
  const auto deepPng = OiioFloats(dir, dir.File("deep.png"));
  const auto deepTiff = OiioFloats(dir, dir.File("deep.tif"));
  ASSERT_TRUE(deepPng && deepTiff);
  EXPECT_TRUE(deepPng->Values == deepTiff->Values);
  ASSERT_EQ(deepTiff->Values.size(), tiff->Values.size());
  for (std::size_t i = 0; i < tiff->Values.size(); ++i)
    ASSERT_NEAR(deepTiff->Values[i] * 255.0, tiff->Values[i], 0.51) << i;
}

}  // namespace
}  // namespace lumivane::interop
