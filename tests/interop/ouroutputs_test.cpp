// This program's 24-bit TIFFs, 96-bit TIFFs and PFMs, read by the peers.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <iostream>
#include <limits>
#include <string>
#include <vector>

#include "tests/interop/peers.h"

namespace lumivane::interop {
namespace {

// ImageMagick's policy on Debian refuses images above 16384 pixels in either
// dimension.
constexpr std::uint32_t kMagickLimit = 16384;
// A pfs stream holds at most 65535 pixels in either dimension.
constexpr std::uint32_t kPfsLimit = 65535;

std::string SizeText(std::uint32_t width, std::uint32_t height) {
  return std::to_string(width) + " x " + std::to_string(height);
}

// Both libtiff tools accept the file without a word on standard error.
void ExpectCleanTiff(const TempDir& dir, const std::string& path, std::uint32_t width,
                     std::uint32_t height, bool floats) {
  const Ran info = Shell(dir, "tiffinfo " + Quote(path));
  EXPECT_EQ(info.Status, 0);
  EXPECT_EQ(info.Err, "");
  EXPECT_NE(info.Out.find("Image Width: " + std::to_string(width) +
                          " Image Length: " + std::to_string(height) + "\n"),
            std::string::npos)
      << info.Out;
  EXPECT_NE(info.Out.find(floats ? "Bits/Sample: 32\n" : "Bits/Sample: 8\n"), std::string::npos);
  EXPECT_NE(info.Out.find(floats ? "Sample Format: IEEE floating point\n"
                                 : "Sample Format: unsigned integer\n"),
            std::string::npos);
  EXPECT_NE(info.Out.find("Orientation: row 0 top, col 0 lhs\n"), std::string::npos);
  const Ran dump = Shell(dir, "tiffdump " + Quote(path));
  EXPECT_EQ(dump.Status, 0);
  EXPECT_EQ(dump.Err, "");
  EXPECT_NE(dump.Out.find("Magic: 0x4949 <little-endian>"), std::string::npos) << dump.Out;
}

// A 16-bit quantum as ImageMagick 6 Q16 makes it from a float.
std::uint16_t Quantum(float value) {
  return static_cast<std::uint16_t>(
      std::floor(65535.0 * std::clamp(static_cast<double>(value), 0.0, 1.0) + 0.5));
}

void ExpectMagickQuanta(const TempDir& dir, const std::string& path, const FloatImage& floats) {
  if (floats.Width > kMagickLimit || floats.Height > kMagickLimit) return;
  const Ran magick =
      Shell(dir, std::string(kMagick) + " " + Quote(path) + " -depth 16 -endian LSB rgb:-");
  ASSERT_EQ(magick.Status, 0) << magick.Err;
  EXPECT_EQ(magick.Err, "");
  ASSERT_EQ(magick.Out.size(), floats.Values.size() * 2);
  for (std::size_t i = 0; i < floats.Values.size(); ++i) {
    const auto low = static_cast<unsigned char>(magick.Out[2 * i]);
    const auto high = static_cast<unsigned char>(magick.Out[2 * i + 1]);
    ASSERT_EQ(low | high << 8, Quantum(floats.Values[i])) << "value " << i;
  }
}

// pfstools reads into XYZ and writes back to RGB; the black pixels of a
// Radiance file decode to subnormal floats.
void ExpectPfstoolsFloats(const TempDir& dir, const std::string& command,
                          const FloatImage& floats) {
  if (floats.Width > kPfsLimit || floats.Height > kPfsLimit) return;
  const std::string copy = dir.File("pfs-copy.pfm");
  const Ran pfs = Shell(dir, command + " | pfsoutpfm " + Quote(copy));
  ASSERT_EQ(pfs.Status, 0) << pfs.Err;
  const auto theirs = ParsePfm(testing::ReadBytes(copy));
  ASSERT_TRUE(theirs);
  ASSERT_EQ(theirs->Width, floats.Width);
  ASSERT_EQ(theirs->Height, floats.Height);
  for (std::size_t i = 0; i < floats.Values.size(); ++i)
    ASSERT_NEAR(theirs->Values[i], floats.Values[i],
                PixelMaximum(floats, i / 3) * 4e-6 + 4 * std::numeric_limits<float>::denorm_min())
        << "value " << i;
}

// OpenImageIO reads the file and writes it again as a float TIFF.
void ExpectOiioFloats(const TempDir& dir, const std::string& path, const FloatImage& floats) {
  const std::string copy = dir.File("oiio-copy.tif");
  const Ran oiio =
      Shell(dir, "oiiotool " + Quote(path) + " -d float --compression none -o " + Quote(copy));
  ASSERT_EQ(oiio.Status, 0) << oiio.Err;
  const auto theirs = TifffileFloats(dir, copy);
  ASSERT_TRUE(theirs);
  ASSERT_EQ(theirs->Width, floats.Width);
  ASSERT_EQ(theirs->Height, floats.Height);
  ASSERT_TRUE(theirs->Values == floats.Values);
}

void Check24BitTiff(const TempDir& dir, const std::string& path, std::uint32_t width,
                    std::uint32_t height) {
  SCOPED_TRACE("24-bit TIFF");
  const Bytes file = testing::ReadBytes(path);
  ASSERT_EQ(file.size(), 308 + std::size_t{width} * height * 3);
  const Bytes pixels(file.begin() + 308, file.end());
  ExpectCleanTiff(dir, path, width, height, false);
  EXPECT_TRUE(TiffinfoPixelBytes(dir, path) == pixels);

  const std::string ppm = dir.File("oiio.ppm");
  ASSERT_EQ(Shell(dir, "oiiotool " + Quote(path) + " -o " + Quote(ppm)).Status, 0);
  const auto viaOiio = ParsePpm(testing::ReadBytes(ppm));
  ASSERT_TRUE(viaOiio);
  EXPECT_EQ(viaOiio->Width, width);
  EXPECT_EQ(viaOiio->Height, height);
  EXPECT_TRUE(viaOiio->Values == pixels);

  if (width > kMagickLimit || height > kMagickLimit) return;
  const Ran magick = Shell(dir, std::string(kMagick) + " " + Quote(path) + " -depth 8 rgb:-");
  ASSERT_EQ(magick.Status, 0) << magick.Err;
  EXPECT_EQ(magick.Err, "");
  EXPECT_TRUE(Bytes(magick.Out.begin(), magick.Out.end()) == pixels);
}

void Check96BitTiff(const TempDir& dir, const std::string& path, const FloatImage& floats) {
  SCOPED_TRACE("96-bit TIFF");
  const Bytes file = testing::ReadBytes(path);
  ASSERT_EQ(file.size(), 308 + floats.Values.size() * 4);
  ExpectCleanTiff(dir, path, floats.Width, floats.Height, true);
  EXPECT_TRUE(TiffinfoPixelBytes(dir, path) == Bytes(file.begin() + 308, file.end()));
  const auto viaTifffile = TifffileFloats(dir, path);
  ASSERT_TRUE(viaTifffile);
  EXPECT_TRUE(viaTifffile->Values == floats.Values);
  ExpectOiioFloats(dir, path, floats);
  ExpectMagickQuanta(dir, path, floats);
  ExpectPfstoolsFloats(dir, "pfsintiff " + Quote(path), floats);
}

void CheckPfm(const TempDir& dir, const std::string& path, const FloatImage& floats) {
  SCOPED_TRACE("PFM");
  const Bytes file = testing::ReadBytes(path);
  const std::string header =
      "PF\n" + std::to_string(floats.Width) + " " + std::to_string(floats.Height) + "\n-1.00000\n";
  ASSERT_GE(file.size(), header.size());
  EXPECT_EQ(std::string(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(header.size())),
            header);
  const auto parsed = ParsePfm(file);
  ASSERT_TRUE(parsed);
  EXPECT_TRUE(parsed->Values == floats.Values);
  ExpectOiioFloats(dir, path, floats);
  ExpectMagickQuanta(dir, path, floats);
  ExpectPfstoolsFloats(dir, "pfsin " + Quote(path), floats);
}

TEST(OurOutputsReadByPeers, TiffsAndPfmsReadBackWithTheirSizeAndValues) {
  if (!HavePeers({"tiffinfo", "tiffdump", "oiiotool", kMagick, "pfsin", "pfsintiff", "pfsoutpfm",
                  "tifffile"}))
    GTEST_SKIP() << "libtiff tools, oiiotool, ImageMagick, pfstools or tifffile is missing";
  // The last is taller than 65535 rows: ImageWidth, ImageLength and
  // RowsPerStrip must be LONG there.
  const std::vector<std::pair<std::uint32_t, std::uint32_t>> sizes = {
      {37, 5}, {1, 9}, {263, 1}, {3, 70000}};
  for (const auto& [width, height] : sizes) {
    SCOPED_TRACE(SizeText(width, height));
    TempDir dir;
    const FloatImage scene = Scene(width, height);
    const std::string pfm = dir.File("scene.pfm");
    testing::WriteBytes(pfm, testing::StandardPfm(scene, false));

    const std::string mapped = dir.File("mapped.tif");
    ASSERT_EQ(RunCli(dir, {"tonemap", "-q", pfm, mapped}).Status, 0);
    Check24BitTiff(dir, mapped, width, height);

    const std::string floats = dir.File("floats.tif");
    ASSERT_EQ(RunCli(dir, {"convert", "-q", pfm, floats}).Status, 0);
    Check96BitTiff(dir, floats, scene);
    const std::string back = dir.File("back.pfm");
    ASSERT_EQ(RunCli(dir, {"convert", "-q", floats, back}).Status, 0);
    CheckPfm(dir, back, scene);
    if (HasFatalFailure()) return;
    if (height > kMagickLimit) continue;

    // The outputs of a Radiance input, here one that OpenImageIO wrote.
    const std::string hdr = dir.File("scene.hdr");
    ASSERT_EQ(Shell(dir, "oiiotool " + Quote(pfm) + " -o " + Quote(hdr)).Status, 0);
    const std::string hdrFloats = dir.File("hdr.tif");
    const std::string hdrPfm = dir.File("hdr.pfm");
    const std::string hdrMapped = dir.File("hdr-mapped.tif");
    ASSERT_EQ(RunCli(dir, {"convert", "-q", hdr, hdrFloats}).Status, 0);
    ASSERT_EQ(RunCli(dir, {"convert", "-q", hdr, hdrPfm}).Status, 0);
    ASSERT_EQ(RunCli(dir, {"tonemap", "-q", hdr, hdrMapped}).Status, 0);
    const FloatImage decoded = OurTiff96(testing::ReadBytes(hdrFloats), width, height);
    ASSERT_EQ(decoded.Values.size(), scene.Values.size());
    Check96BitTiff(dir, hdrFloats, decoded);
    CheckPfm(dir, hdrPfm, decoded);
    Check24BitTiff(dir, hdrMapped, width, height);
    if (HasFatalFailure()) return;
  }
  std::cout << "ImageMagick was left out above " << kMagickLimit
            << " pixels per dimension (its policy limit), pfstools above " << kPfsLimit << "\n";
}

}  // namespace
}  // namespace lumivane::interop
