#include "cli/inputformat.h"

#include <gtest/gtest.h>

#include "shell/controlids.h"
#include "tests/support/floatfiles.h"
#include "tests/support/libraryfiles.h"
#include "tests/support/testfiles.h"

namespace lumivane {
namespace {

using testing::TempDir;
using testing::WriteBytes;
using testing::WriteText;

TEST(SniffInputFormat, RecognisesTheFirstBytes) {
  EXPECT_EQ(SniffInputFormat("#?RADIANCE\nFORMAT=32-bit_rle_rgbe\n"), InputFormat::Radiance);
  EXPECT_EQ(SniffInputFormat("#?RADIANCE"), InputFormat::Radiance);
  EXPECT_EQ(SniffInputFormat(std::string("II*\0", 4)), InputFormat::Tiff);
  EXPECT_EQ(SniffInputFormat(std::string("MM\0*", 4)), InputFormat::Tiff);
  EXPECT_EQ(SniffInputFormat("PF\n2 1\n-1.0\n"), InputFormat::Pfm);
  EXPECT_EQ(SniffInputFormat("Pf\n2 1\n-1.0\n"), InputFormat::Pfm);

  EXPECT_EQ(SniffInputFormat(""), InputFormat::Unknown);
  EXPECT_EQ(SniffInputFormat("#?RADIANC"), InputFormat::Unknown);
  EXPECT_EQ(SniffInputFormat("#?RGBE\n"), InputFormat::Unknown);
  EXPECT_EQ(SniffInputFormat("#?radiance\n"), InputFormat::Unknown);
  EXPECT_EQ(SniffInputFormat("I"), InputFormat::Unknown);
  EXPECT_EQ(SniffInputFormat("IM*"), InputFormat::Unknown);
  EXPECT_EQ(SniffInputFormat("pf\n"), InputFormat::Pfm);
  EXPECT_EQ(SniffInputFormat("P6\n2 1\n255\n"), InputFormat::Unknown);
  EXPECT_EQ(SniffInputFormat(std::string("\x89PNG", 4)), InputFormat::Unknown);
}

TEST(SniffInputFormat, ReadsTheFileNotItsName) {
  TempDir dir;
  WriteText(dir.File("really-a-pfm.hdr"), "PF\n1 1\n-1\n");
  WriteText(dir.File("really-radiance.tif"), "#?RADIANCE\n");
  WriteBytes(dir.File("tiff.pfm"), {'M', 'M', 0, 42});
  WriteBytes(dir.File("empty.hdr"), {});
  EXPECT_EQ(SniffInputFile(dir.File("really-a-pfm.hdr")).Format, InputFormat::Pfm);
  EXPECT_EQ(SniffInputFile(dir.File("really-radiance.tif")).Format, InputFormat::Radiance);
  EXPECT_EQ(SniffInputFile(dir.File("tiff.pfm")).Format, InputFormat::Tiff);

  const SniffResult empty = SniffInputFile(dir.File("empty.hdr"));
  EXPECT_EQ(empty.Format, InputFormat::Unknown);
  EXPECT_EQ(empty.Error, "");

  const SniffResult missing = SniffInputFile(dir.File("missing.hdr"));
  EXPECT_EQ(missing.Format, InputFormat::Unknown);
  EXPECT_EQ(missing.Error, "No such file or directory");
  EXPECT_EQ(SniffInputFile(dir.Path().string()).Error, "is a directory");
}

// Files the classic readers take keep their chains; the rest go to the
// library readers.
TEST(SniffInputFile, SendsWhatTheClassicReadersRefuseToTheLibraryReaders) {
  TempDir dir;
  const testing::FloatImage image = testing::GradientImage(20, 18);
  WriteBytes(dir.File("classic.tif"), testing::FloatTiff(image));
  testing::LibraryTiffOptions layout;
  testing::WriteLibraryTiff(dir.File("strips.tif"), image, layout);
  layout.Tile = 16;
  testing::WriteLibraryTiff(dir.File("tiled.tif"), image, layout);
  layout = {};
  layout.Compression = 8;
  testing::WriteLibraryTiff(dir.File("deflate.tif"), image, layout);
  testing::WriteExr(dir.File("photo.exr"), image, {});
  WriteBytes(dir.File("plain.pfm"), testing::StandardPfm(image, true));
  WriteBytes(dir.File("lower.pfm"), testing::Pfm("pF\n20 18\n-1\n", image, true));
  WriteBytes(dir.File("commented.pfm"), testing::Pfm("PF\n# c\n20 18\n-1\n", image, true));
  WriteBytes(dir.File("grey.pfm"), testing::Pfm("Pf\n20 6\n-1\n", image, true));
  // Only "Pf" is grey; "pf" is a colour file as the classic reader reads it.
  WriteBytes(dir.File("lower-grey.pfm"), testing::Pfm("pf\n20 18\n-1\n", image, true));
  WriteBytes(dir.File("broken.tif"), {'I', 'I', 42, 0, 200, 0, 0, 0});
  // ImageWidth, ImageLength and StripOffsets alone: the 96-bit reader takes it.
  testing::TiffBuilder minimal(true);
  const std::uint32_t pixels = minimal.Append(testing::PixelRows(image, 0, 18));
  minimal.Entry(256, 3, 1, minimal.Short(20));
  minimal.Entry(257, 3, 1, minimal.Short(18));
  minimal.Entry(273, 4, 1, minimal.Long(pixels));
  WriteBytes(dir.File("minimal.tif"), minimal.Build());

  const std::vector<std::pair<std::string, InputFormat>> cases = {
      {"classic.tif", InputFormat::Tiff},      {"strips.tif", InputFormat::Tiff},
      {"tiled.tif", InputFormat::GeneralTiff}, {"deflate.tif", InputFormat::GeneralTiff},
      {"photo.exr", InputFormat::Exr},         {"plain.pfm", InputFormat::Pfm},
      {"lower.pfm", InputFormat::Pfm},         {"commented.pfm", InputFormat::GeneralPfm},
      {"grey.pfm", InputFormat::GeneralPfm},   {"broken.tif", InputFormat::Tiff},
      {"minimal.tif", InputFormat::Tiff},      {"lower-grey.pfm", InputFormat::Pfm},
  };
  for (const auto& [name, format] : cases)
    EXPECT_EQ(SniffInputFile(dir.File(name)).Format, format) << name;
  EXPECT_EQ(ToneMapCommandFor(InputFormat::Exr), kOpenExrCommand);
  EXPECT_EQ(ToneMapCommandFor(InputFormat::GeneralTiff), kOpenGeneralTiffCommand);
  EXPECT_EQ(ToneMapCommandFor(InputFormat::GeneralPfm), kOpenGeneralPfmCommand);
}

TEST(InputFormat, ChoosesTheToneMappingCommand) {
  EXPECT_EQ(ToneMapCommandFor(InputFormat::Radiance), kOpenHdrCommand);
  EXPECT_EQ(ToneMapCommandFor(InputFormat::Tiff), kOpenTiffCommand);
  EXPECT_EQ(ToneMapCommandFor(InputFormat::Pfm), kOpenPfmCommand);
  EXPECT_EQ(ToneMapCommandFor(InputFormat::Unknown), std::nullopt);
}

TEST(InputFormat, OutputKindFromTheExtensionInAnyCase) {
  EXPECT_EQ(OutputKindFromName("/a/b.tif"), OutputKind::Tiff96);
  EXPECT_EQ(OutputKindFromName("b.TIFF"), OutputKind::Tiff96);
  EXPECT_EQ(OutputKindFromName("b.Tiff"), OutputKind::Tiff96);
  EXPECT_EQ(OutputKindFromName("x.hdr.pfm"), OutputKind::Pfm);
  EXPECT_EQ(OutputKindFromName("X.PFM"), OutputKind::Pfm);
  EXPECT_EQ(OutputKindFromName("b.hdr"), OutputKind::Unknown);
  EXPECT_EQ(OutputKindFromName("b.tif.png"), OutputKind::Unknown);
  EXPECT_EQ(OutputKindFromName("tif"), OutputKind::Unknown);
  EXPECT_EQ(OutputKindFromName("/dir.pfm/name"), OutputKind::Unknown);
  EXPECT_EQ(OutputKindFromName("b.tif "), OutputKind::Unknown);
}

TEST(InputFormat, ExactlyTheFourConversions) {
  EXPECT_EQ(ConvertCommandFor(InputFormat::Radiance, OutputKind::Tiff96), kHdrToTiffCommand);
  EXPECT_EQ(ConvertCommandFor(InputFormat::Radiance, OutputKind::Pfm), kHdrToPfmCommand);
  EXPECT_EQ(ConvertCommandFor(InputFormat::Pfm, OutputKind::Tiff96), kPfmToTiffCommand);
  EXPECT_EQ(ConvertCommandFor(InputFormat::Tiff, OutputKind::Pfm), kTiffToPfmCommand);
  EXPECT_EQ(ConvertCommandFor(InputFormat::Tiff, OutputKind::Tiff96), std::nullopt);
  EXPECT_EQ(ConvertCommandFor(InputFormat::Pfm, OutputKind::Pfm), std::nullopt);
  for (const OutputKind kind : {OutputKind::Tiff96, OutputKind::Pfm, OutputKind::Unknown}) {
    EXPECT_EQ(ConvertCommandFor(InputFormat::Unknown, kind), std::nullopt);
  }
  for (const InputFormat format : {InputFormat::Radiance, InputFormat::Tiff, InputFormat::Pfm}) {
    EXPECT_EQ(ConvertCommandFor(format, OutputKind::Unknown), std::nullopt);
  }
}

}  // namespace
}  // namespace lumivane
