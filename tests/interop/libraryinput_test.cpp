// Files of today's tools through the library readers: every photograph as
// OpenEXR and as the TIFFs oiiotool makes of it tone-maps to one picture, and
// ImageMagick's commented PFM is read.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/operatorrun.h"
#include "tests/interop/peers.h"
#include "tests/support/floatfiles.h"

namespace lumivane::interop {
namespace {

using testing::Photographs;

Bytes TonemappedPixels(const TempDir& dir, const std::string& input, std::string* out = nullptr) {
  const std::string output = dir.File("out.tif");
  const Ran run = RunCli(dir, {"tonemap", input, output});
  EXPECT_EQ(run.Status, 0) << input << "\n" << run.Err;
  if (out) *out = run.Out;
  return testing::TiffPixels(testing::ReadBytes(output));
}

TEST(LibraryInputPeers, EveryPhotographTonemapsAlikeAsExrAndOiiotoolTiffs) {
  if (!HavePeers({"oiiotool"})) GTEST_SKIP() << "oiiotool is not installed";
  TempDir dir;
  for (const std::string& photo : Photographs()) {
    SCOPED_TRACE(photo);
    const std::string q = Quote(photo);
    const std::string plain = dir.File("plain.tif"), zip = dir.File("zip.tif"),
                      tiled = dir.File("tiled.tif"), planar = dir.File("planar.tif"),
                      half = dir.File("half.tif");
    ASSERT_EQ(Shell(dir, "oiiotool " + q + " -d float --compression none -o " + Quote(plain) +
                             " && oiiotool " + q + " -d float -o " + Quote(zip) + " && oiiotool " +
                             q + " -d float --compression none --tile 64 64 -o " + Quote(tiled) +
                             " && oiiotool " + q + " -d float --planarconfig separate -o " +
                             Quote(planar) + " && oiiotool " + q + " -d half -o " + Quote(half))
                  .Status,
              0);
    std::string log;
    const Bytes classic = TonemappedPixels(dir, plain, &log);
    ASSERT_FALSE(classic.empty());
    // The uncompressed one is the classic 96-bit reader's.
    EXPECT_NE(log.find("\nTIFF Tonemapping concluded.\n"), std::string::npos);
    EXPECT_NE(log.find(" --> 96-bit per pixel source file."), std::string::npos);
    EXPECT_EQ(TonemappedPixels(dir, photo, &log), classic);
    EXPECT_TRUE(log.ends_with("\nEXR Tonemapping concluded.\n")) << log;
    for (const std::string& tiff : {zip, tiled, planar, half})
      EXPECT_EQ(TonemappedPixels(dir, tiff), classic);
    // The PNG holds the TIFF's pixel bytes, as ImageMagick decodes them.
    ASSERT_EQ(RunCli(dir, {"tonemap", "-q", photo, dir.File("out.png")}).Status, 0);
    if (!std::filesystem::exists(kMagick)) continue;
    ASSERT_EQ(Shell(dir, std::string(kMagick) + " " + Quote(dir.File("out.png")) + " " +
                             Quote(dir.File("out.ppm")))
                  .Status,
              0);
    const auto png = ParsePpm(testing::ReadBytes(dir.File("out.ppm")));
    ASSERT_TRUE(png);
    EXPECT_EQ(png->Values, classic);
  }
}

// Every photograph through every pair of float formats keeps every bit: its
// half floats as OpenEXR float, 96-bit TIFF and PFM, each converted to each
// and then to PFM, give the PFM made straight from the photograph; made
// Radiance, it comes back to the same Radiance bytes through every format.
TEST(LibraryInputPeers, EveryPhotographRoundTripsThroughEveryFloatFormat) {
  TempDir dir;
  const auto convert = [&](const std::string& from, const std::string& to) {
    const Ran run = RunCli(dir, {"convert", "-q", from, to});
    EXPECT_EQ(run.Status, 0) << from << " > " << to << "\n" << run.Err;
  };
  for (const std::string& photo : Photographs()) {
    SCOPED_TRACE(photo);
    convert(photo, dir.File("reference.pfm"));
    const Bytes reference = testing::ReadBytes(dir.File("reference.pfm"));
    ASSERT_GT(reference.size(), 512u * 256 * 12);
    for (const std::string first : {"exr", "tif", "pfm"}) {
      convert(photo, dir.File("first." + first));
      for (const std::string second : {"exr", "tif", "pfm"}) {
        SCOPED_TRACE(first + " > " + second);
        convert(dir.File("first." + first), dir.File("second." + second));
        convert(dir.File("second." + second), dir.File("back.pfm"));
        EXPECT_EQ(testing::ReadBytes(dir.File("back.pfm")), reference);
      }
    }
    convert(photo, dir.File("photo.hdr"));
    const Bytes radiance = testing::ReadBytes(dir.File("photo.hdr"));
    for (const std::string via : {"hdr", "exr", "tif", "pfm"}) {
      SCOPED_TRACE("hdr > " + via + " > hdr");
      convert(dir.File("photo.hdr"), dir.File("via." + via));
      convert(dir.File("via." + via), dir.File("back.hdr"));
      EXPECT_EQ(testing::ReadBytes(dir.File("back.hdr")), radiance);
    }
  }
}

// ImageMagick copies a Radiance file's "#?RADIANCE" line into the PFM as a
// comment: read, it gives the bytes of the same file without the comment.
TEST(LibraryInputPeers, ImageMagicksCommentedPfm) {
  if (!HavePeers({"oiiotool"}) || !std::filesystem::exists(kMagick))
    GTEST_SKIP() << "oiiotool or ImageMagick is not installed";
  TempDir dir;
  const std::string photo = std::string(LUMIVANE_SOURCE_DIR) + "/samples/city.exr";
  ASSERT_EQ(
      Shell(dir, "oiiotool " + Quote(photo) + " -o " + Quote(dir.File("c.hdr")) + " && " + kMagick +
                     " " + Quote(dir.File("c.hdr")) + " " + Quote(dir.File("c.pfm")))
          .Status,
      0);
  const Bytes commented = testing::ReadBytes(dir.File("c.pfm"));
  const std::string head(commented.begin(), commented.begin() + 14);
  ASSERT_EQ(head, "PF\n#?RADIANCE\n");
  Bytes plain = commented;
  plain.erase(plain.begin() + 3, plain.begin() + 14);
  testing::WriteBytes(dir.File("plain.pfm"), plain);
  std::string log;
  const Bytes fromCommented = TonemappedPixels(dir, dir.File("c.pfm"), &log);
  EXPECT_TRUE(log.ends_with("\nPFM Tonemapping concluded.\n")) << log;
  EXPECT_NE(log.find("Comment: ?RADIANCE\n"), std::string::npos) << log;
  ASSERT_FALSE(fromCommented.empty());
  EXPECT_EQ(fromCommented, TonemappedPixels(dir, dir.File("plain.pfm")));
}

}  // namespace
}  // namespace lumivane::interop
