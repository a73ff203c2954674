#include "steps/libraryreaders.h"

#include <gtest/gtest.h>
#include <tiffio.h>

#include <OpenEXR/ImfCompression.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "shell/controlids.h"
#include "shell/dispatch.h"
#include "tests/support/floatfiles.h"
#include "tests/support/libraryfiles.h"
#include "tests/support/testfiles.h"

namespace lumivane {
namespace {

using testing::Bytes;
using testing::FloatImage;
using testing::JobRun;
using testing::RunJobCommand;
using testing::TempDir;

const std::string kSuccessTitle = "LUMIVANE - Success.";

JobSettings Settings(bool warm) {
  JobSettings settings;
  settings.PostGamma = PostGammaFromContrast(1.2f);
  settings.WarmColours = warm ? 1 : 0;
  return settings;
}

// The six statistics lines of a job's log.
std::vector<std::string> StatisticsBlock(const JobRun& run) {
  const auto at =
      std::find(run.Log.begin(), run.Log.end(), "Statistics (Low, High, Sum, Average of values)");
  if (run.Log.end() - at < 6) return {};
  return std::vector<std::string>(at, at + 6);
}

// What the classic "Open TIFF96" chain makes of the same float values.
JobRun ClassicRun(const TempDir& dir, const FloatImage& values, bool warm) {
  testing::WriteBytes(dir.File("classic.tif"), testing::FloatTiff(values));
  return RunJobCommand(kOpenTiffCommand, dir.File("classic.tif"), dir.File("classic-out.tif"),
                       Settings(warm));
}

void ExpectSameAsClassic(const JobRun& run, const JobRun& classic, const std::string& success) {
  ASSERT_EQ(run.Boxes.size(), 1u) << run.FailureMessage;
  EXPECT_EQ(run.Boxes[0].Text, success);
  EXPECT_EQ(run.Boxes[0].Title, kSuccessTitle);
  ASSERT_FALSE(classic.Output.empty());
  EXPECT_EQ(testing::TiffPixels(run.Output), testing::TiffPixels(classic.Output));
  EXPECT_EQ(StatisticsBlock(run), StatisticsBlock(classic));
  ASSERT_EQ(StatisticsBlock(run).size(), 6u);
}

FloatImage Scene(std::uint32_t width, std::uint32_t height) {
  FloatImage image = testing::GradientImage(width, height);
  // Spread the values over decades, as a real scene has them.
  for (std::size_t i = 0; i < image.Values.size(); i += 7) image.Values[i] *= 300.0f;
  return image;
}

TEST(ImageJob, EveryTiffLayoutTonemapsToTheClassicBytes) {
  TempDir dir;
  const FloatImage scene = Scene(37, 29);
  using Options = testing::LibraryTiffOptions;
  struct Case {
    const char* Name;
    Options Layout;
  };
  const std::vector<Case> cases = {
      {"deflate strips", {.Compression = COMPRESSION_ADOBE_DEFLATE}},
      {"LZW tiles, big-endian", {.Compression = COMPRESSION_LZW, .Tile = 16, .BigEndian = true}},
      {"uncompressed tiles", {.Tile = 16}},
      {"planar strips", {.RowsPerStrip = 5, .Planar = true}},
      {"half, planar tiles",
       {.Bits = 16, .Compression = COMPRESSION_ADOBE_DEFLATE, .Tile = 16, .Planar = true}},
      {"RGBA 16-bit integers",
       {.Bits = 16,
        .Float = false,
        .Compression = COMPRESSION_LZW,
        .RowsPerStrip = 7,
        .Alpha = true}},
      {"grey 8-bit integers with alpha",
       {.Bits = 8, .Float = false, .RowsPerStrip = 29, .Grey = true, .Alpha = true}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    const std::string path = dir.File("in.tif");
    const FloatImage values = testing::WriteLibraryTiff(path, scene, c.Layout);
    for (const bool warm : {false, true}) {
      const JobRun classic = ClassicRun(dir, values, warm);
      const JobRun run =
          RunJobCommand(kOpenGeneralTiffCommand, path, dir.File("out.tif"), Settings(warm));
      ExpectSameAsClassic(run, classic, "TIFF Tonemapping concluded.");
    }
  }
}

// Strips larger than the reader decodes whole are read a few rows at a time
// through libtiff's scanline interface, separate planes each by a handle of its own.
TEST(ImageJob, LargeStripsReadByScanlinesTonemapToTheClassicBytes) {
  TempDir dir;
  const FloatImage scene = Scene(1500, 1500);
  using Options = testing::LibraryTiffOptions;
  for (const Options& layout :
       {Options{.Compression = COMPRESSION_ADOBE_DEFLATE, .RowsPerStrip = 1500},
        Options{.Compression = COMPRESSION_LZW, .RowsPerStrip = 1500, .Planar = true}}) {
    SCOPED_TRACE(layout.Planar ? "planar" : "contiguous");
    const std::string path = dir.File("in.tif");
    const FloatImage values = testing::WriteLibraryTiff(path, scene, layout);
    const JobRun classic = ClassicRun(dir, values, false);
    const JobRun run =
        RunJobCommand(kOpenGeneralTiffCommand, path, dir.File("out.tif"), Settings(false));
    ExpectSameAsClassic(run, classic, "TIFF Tonemapping concluded.");
  }
}

TEST(ImageJob, ExrLayoutsTonemapToTheClassicBytes) {
  TempDir dir;
  const FloatImage scene = Scene(41, 23);
  struct Case {
    const char* Name;
    testing::ExrOptions Layout;
  };
  const std::vector<Case> cases = {
      {"half, ZIP scanlines", {.Compression = Imf::ZIP_COMPRESSION}},
      {"float, PIZ tiles, shifted data window",
       {.Half = false,
        .Compression = Imf::PIZ_COMPRESSION,
        .Tile = 16,
        .OriginX = -3,
        .OriginY = 5}},
      {"half RGBA, RLE tiles", {.Compression = Imf::RLE_COMPRESSION, .Tile = 8, .Alpha = true}},
      {"luminance only",
       {.Compression = Imf::NO_COMPRESSION, .OriginX = 2, .OriginY = 2, .Grey = true}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    const std::string path = dir.File("in.exr");
    const FloatImage values = testing::WriteExr(path, scene, c.Layout);
    const JobRun classic = ClassicRun(dir, values, true);
    const JobRun run = RunJobCommand(kOpenExrCommand, path, dir.File("out.tif"), Settings(true));
    ExpectSameAsClassic(run, classic, "EXR Tonemapping concluded.");
  }
}

// A real photograph: its EXR and the TIFFs made from it all give one picture.
TEST(ImageJob, ThePhotographTonemapsAlikeFromEveryLayout) {
  TempDir dir;
  const std::string exr = std::string(LUMIVANE_SOURCE_DIR) + "/samples/city.exr";
  const FloatImage photo = testing::ReadExrAsRgba(exr);
  ASSERT_EQ(photo.Width, 512u);
  const JobRun classic = ClassicRun(dir, photo, false);
  ExpectSameAsClassic(RunJobCommand(kOpenExrCommand, exr, dir.File("exr.tif"), Settings(false)),
                      classic, "EXR Tonemapping concluded.");
  const std::vector<testing::LibraryTiffOptions> layouts = {
      {.Compression = COMPRESSION_ADOBE_DEFLATE, .RowsPerStrip = 32},
      {.Tile = 64},
      {.Bits = 16, .Compression = COMPRESSION_LZW, .RowsPerStrip = 16, .Planar = true},
  };
  for (const auto& layout : layouts) {
    const std::string path = dir.File("photo.tif");
    EXPECT_EQ(testing::WriteLibraryTiff(path, photo, layout).Values, photo.Values);
    ExpectSameAsClassic(
        RunJobCommand(kOpenGeneralTiffCommand, path, dir.File("tiff.tif"), Settings(false)),
        classic, "TIFF Tonemapping concluded.");
  }
}

// Strips and tiles are decoded on every thread: any number of them gives the
// classic bytes, over more than one block of rows and with bands that straddle
// the blocks' edges; a broken strip fails alike.
TEST(ImageJob, AnyThreadCountGivesTheSameBytes) {
  TempDir dir;
  const FloatImage scene = Scene(613, 700);
  using Options = testing::LibraryTiffOptions;
  const std::vector<Options> layouts = {
      {.Compression = COMPRESSION_ADOBE_DEFLATE, .RowsPerStrip = 5},
      {.Compression = COMPRESSION_LZW, .Tile = 48, .Planar = true},
      {.Bits = 16, .Tile = 16, .Grey = true},
      {.RowsPerStrip = 700, .Alpha = true},
  };
  for (const Options& layout : layouts) {
    SCOPED_TRACE(std::to_string(layout.Tile) + " " + std::to_string(layout.RowsPerStrip));
    const std::string path = dir.File("in.tif");
    const FloatImage values = testing::WriteLibraryTiff(path, scene, layout);
    const JobRun classic = ClassicRun(dir, values, false);
    for (const char* threads : {"1", "2", "3", "7"}) {
      SCOPED_TRACE(threads);
      ::setenv("LUMIVANE_THREADS", threads, 1);
      const JobRun run =
          RunJobCommand(kOpenGeneralTiffCommand, path, dir.File("out.tif"), Settings(false));
      ::unsetenv("LUMIVANE_THREADS");
      ExpectSameAsClassic(run, classic, "TIFF Tonemapping concluded.");
    }
  }
  const std::string path = dir.File("broken.tif");
  testing::WriteLibraryTiff(path, scene, {.Compression = COMPRESSION_ADOBE_DEFLATE, .Tile = 32});
  Bytes bytes = testing::ReadBytes(path);
  std::fill(bytes.begin() + static_cast<long>(bytes.size() / 3),
            bytes.begin() + static_cast<long>(bytes.size() / 2), 0x5A);
  testing::WriteBytes(path, bytes);
  std::string first;
  for (const char* threads : {"1", "3"}) {
    ::setenv("LUMIVANE_THREADS", threads, 1);
    const JobRun run =
        RunJobCommand(kOpenGeneralTiffCommand, path, dir.File("none.tif"), Settings(false));
    ::unsetenv("LUMIVANE_THREADS");
    EXPECT_NE(run.FailureMessage.find("a tile could not be decoded"), std::string::npos)
        << run.FailureMessage;
    EXPECT_FALSE(run.OutputExists);
    if (first.empty()) first = run.FailureMessage;
    EXPECT_EQ(run.FailureMessage, first);
  }
}

TEST(ImageJob, BadInputsFailWithTheReasonAndLeaveNoOutput) {
  TempDir dir;
  const FloatImage scene = Scene(40, 40);
  const std::string exr = dir.File("cut.exr");
  testing::WriteExr(exr, scene, {});
  Bytes bytes = testing::ReadBytes(exr);
  bytes.resize(bytes.size() - 40);
  testing::WriteBytes(exr, bytes);
  const std::string tiff = dir.File("cut.tif");
  testing::WriteLibraryTiff(tiff, scene,
                            {.Compression = COMPRESSION_ADOBE_DEFLATE, .RowsPerStrip = 4});
  bytes = testing::ReadBytes(tiff);
  // The last strips' data, stored before the IFD at the end, becomes rubbish.
  std::fill(bytes.begin() + static_cast<long>(bytes.size() / 2), bytes.end() - 400, 0xA5);
  testing::WriteBytes(tiff, bytes);
  testing::WriteBytes(dir.File("not-exr.exr"), {0x76, 0x2f, 0x31, 0x01, 2, 0, 0, 0});
  // Forged headers of a small tiled file: the library would size its tables
  // from them before reading a pixel.
  const std::string tiled = dir.File("tiled.exr");
  testing::WriteExr(tiled, scene, {.Tile = 8});
  const Bytes small = testing::ReadBytes(tiled);
  const auto forge = [&](const std::string& name, std::uint32_t size, std::uint32_t tile) {
    Bytes forged = small;
    const auto patch = [&](const std::string& attribute, const std::vector<std::uint32_t>& values) {
      const auto at = std::search(forged.begin(), forged.end(), attribute.begin(), attribute.end());
      ASSERT_NE(at, forged.end()) << attribute;
      // The value follows the attribute's name, type and 4-byte size (little-endian).
      auto value = at + static_cast<long>(attribute.size()) + 4;
      for (const std::uint32_t v : values)
        for (int b = 0; b < 4; ++b) *value++ = static_cast<std::uint8_t>(v >> (8 * b));
    };
    patch(std::string("dataWindow\0box2i\0", 17), {0, 0, size - 1, size - 1});
    patch(std::string("tiles\0tiledesc\0", 15), {tile, tile});
    testing::WriteBytes(dir.File(name), forged);
  };
  forge("huge.exr", 65536, 64);
  forge("many-tiles.exr", 2000, 1);
  forge("big-tiles.exr", 40000, 8192);
  // Found by fuzzing: a channel list shorter than its channels, after which
  // the library took text for an attribute claiming 1.7 GB.
  testing::WriteBytes(
      dir.File("framing.exr"),
      {0x76, 0x2f, 0x31, 0x01, 0x02, 0x00, 0x00, 0x00, 0x63, 0x68, 0x61, 0x6e, 0x6e, 0x65,
       0x6c, 0x73, 0x00, 0x63, 0x68, 0x6c, 0x69, 0x73, 0x74, 0x00, 0x13, 0x00, 0x00, 0x00,
       0x5d, 0x93, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00,
       0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x63, 0x6f, 0x6d, 0x70, 0x72, 0x65, 0x62, 0x6f,
       0x78, 0x32, 0x69, 0x00, 0x10, 0x00, 0x00, 0x00, 0x64, 0x69, 0x00, 0x00, 0x00, 0x00,
       0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x63, 0x6f, 0x6d, 0x74});

  // Found by fuzzing: a 5 x 4 TIFF whose tiles claim 65533 x 32772 pixels,
  // which every decoding thread would have allocated.
  testing::WriteBytes(
      dir.File("big-tiles.tif"),
      {0x49, 0x49, 0x2a, 0x00, 0x30, 0x00, 0x00, 0x00, 0xff, 0x80, 0xff, 0x80, 0xff, 0x80, 0xff,
       0x80, 0xff, 0x80, 0xff, 0x80, 0xff, 0x80, 0xff, 0x80, 0xff, 0x80, 0xff, 0x84, 0xff, 0x80,
       0xff, 0x80, 0xff, 0x80, 0xff, 0x80, 0xff, 0x80, 0xff, 0x80, 0xff, 0x80, 0xff, 0x80, 0xff,
       0x80, 0xff, 0x80, 0x0c, 0x00, 0x00, 0x01, 0x03, 0x00, 0x01, 0x00, 0x00, 0x00, 0x05, 0x00,
       0x00, 0x00, 0x01, 0x01, 0x03, 0x00, 0x01, 0x00, 0x00, 0x00, 0x04, 0x00, 0x00, 0x00, 0x02,
       0x01, 0x03, 0x00, 0x02, 0x00, 0x00, 0x00, 0x08, 0x00, 0x08, 0x00, 0x03, 0x01, 0x03, 0x00,
       0x01, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x7b, 0x01, 0x03, 0x00, 0x01, 0x00, 0x00,
       0x00, 0x01, 0x00, 0x00, 0x00, 0x11, 0x01, 0x04, 0x00, 0x30, 0x00, 0x00, 0x00, 0x08, 0x00,
       0x00, 0x00, 0x15, 0x01, 0x03, 0x00, 0x01, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x16,
       0x01, 0x03, 0x00, 0x01, 0x00, 0x00, 0x00, 0x04, 0x80, 0x00, 0x00, 0x17, 0x01, 0x04, 0x00,
       0x01, 0x00, 0x00, 0x00, 0x28, 0x00, 0x00, 0x00, 0x1c, 0x01, 0x03, 0x00, 0x01, 0x00, 0x00,
       0x00, 0x01, 0x00, 0x00, 0x00, 0x42, 0x01, 0x03, 0x00, 0x01, 0x00, 0x00, 0x00, 0xfd, 0xff,
       0xfe, 0x00, 0x01, 0x00, 0x53, 0x01, 0x03, 0x00, 0x02, 0x00, 0x00, 0x00, 0x01, 0x00, 0x01,
       0x00, 0x00, 0x00, 0x00, 0x00});

  struct Case {
    int Command;
    std::string Input;
    std::string Reason;
  };
  const std::vector<Case> cases = {
      {kOpenExrCommand, exr, "its chunk table does not cover its data window"},
      {kOpenGeneralTiffCommand, tiff, "could not be decoded"},
      {kOpenExrCommand, dir.File("not-exr.exr"), "OpenEXR cannot read it"},
      {kOpenGeneralTiffCommand, dir.File("not-exr.exr"), "not a TIFF file libtiff can read"},
      {kOpenExrCommand, dir.File("huge.exr"), "it has more than 2^31 pixels"},
      {kOpenExrCommand, dir.File("many-tiles.exr"), "more than the file can hold"},
      {kOpenExrCommand, dir.File("big-tiles.exr"), "its tiles have more than 2^24 pixels"},
      {kOpenExrCommand, dir.File("framing.exr"), "not what its channel list holds"},
      {kOpenGeneralTiffCommand, dir.File("big-tiles.tif"), "its tiles have more than 2^24 pixels"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Input);
    const std::string output = dir.File("out.tif");
    const JobRun run = RunJobCommand(c.Command, c.Input, output, Settings(false));
    ASSERT_EQ(run.Boxes.size(), 1u);
    EXPECT_EQ(run.Boxes[0].Title, "LUMIVANE - Abort.");
    EXPECT_TRUE(run.FailureMessage.starts_with("Cannot read " + c.Input + ": "))
        << run.FailureMessage;
    EXPECT_NE(run.FailureMessage.find(c.Reason), std::string::npos) << run.FailureMessage;
    EXPECT_FALSE(run.OutputExists);
  }
}

}  // namespace
}  // namespace lumivane
