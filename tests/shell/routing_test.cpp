#include "shell/routing.h"

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

FormatId IdOf(std::string_view bytes) {
  const FormatRow* row = FormatOfBytes(bytes);
  return row ? row->Id : FormatId::Png;  // PNG: no readable format answers
}

TEST(FormatTable, SignaturesAndExtensions) {
  EXPECT_EQ(IdOf("#?RADIANCE\nFORMAT=32-bit_rle_rgbe\n"), FormatId::Radiance);
  EXPECT_EQ(IdOf("#?RADIANCE"), FormatId::Radiance);
  EXPECT_EQ(IdOf(std::string("II*\0", 4)), FormatId::Tiff);
  EXPECT_EQ(IdOf(std::string("MM\0*", 4)), FormatId::Tiff);
  for (const char* pfm : {"PF\n2 1\n-1.0\n", "Pf\n", "pf\n", "pF\n"})
    EXPECT_EQ(IdOf(pfm), FormatId::Pfm);
  EXPECT_EQ(IdOf(std::string("\x76\x2f\x31\x01", 4)), FormatId::OpenExr);
  for (const char* none :
       {"", "#?RADIANC", "#?RGBE\n", "#?radiance\n", "I", "IM*", "P6\n2 1\n255\n", "\x89PNG"})
    EXPECT_EQ(FormatOfBytes(none), nullptr) << none;

  EXPECT_EQ(FormatOfName("/a/b.tif")->Id, FormatId::Tiff);
  EXPECT_EQ(FormatOfName("b.TIFF")->Id, FormatId::Tiff);
  EXPECT_EQ(FormatOfName("x.hdr.pfm")->Id, FormatId::Pfm);
  EXPECT_EQ(FormatOfName("X.JPEG")->Id, FormatId::Jpeg);
  for (const char* none : {"b.tif.gif", "tif", "/dir.pfm/name", "b.tif "})
    EXPECT_EQ(FormatOfName(none), nullptr) << none;
  // What can be read is what has a signature; every format is written somehow.
  for (const FormatRow& row : FormatTable()) {
    EXPECT_EQ(row.Reads(), row.Signature != nullptr) << row.Name;
    EXPECT_TRUE(row.WritesBytes() || row.WritesFloats()) << row.Name;
  }
}

TEST(RouteInput, ReadsTheFileNotItsName) {
  TempDir dir;
  WriteText(dir.File("really-a-pfm.hdr"), "PF\n1 1\n-1\n");
  WriteText(dir.File("really-radiance.tif"), "#?RADIANCE\n");
  WriteBytes(dir.File("tiff.pfm"), {'M', 'M', 0, 42});
  WriteBytes(dir.File("empty.hdr"), {});
  EXPECT_EQ(RouteInput(dir.File("really-a-pfm.hdr")).Format->Id, FormatId::Pfm);
  EXPECT_EQ(RouteInput(dir.File("really-radiance.tif")).Format->Id, FormatId::Radiance);
  EXPECT_EQ(RouteInput(dir.File("tiff.pfm")).Format->Id, FormatId::Tiff);

  const InputRoute empty = RouteInput(dir.File("empty.hdr"));
  EXPECT_EQ(empty.Format, nullptr);
  EXPECT_EQ(empty.Error, "");
  const InputRoute missing = RouteInput(dir.File("missing.hdr"));
  EXPECT_EQ(missing.Format, nullptr);
  EXPECT_EQ(missing.Error, "No such file or directory");
  EXPECT_EQ(RouteInput(dir.Path().string()).Error, "is a directory");
}

// Files the classic readers take keep their chains; only the layouts they do
// not take go to the library readers, and what they refuse as damaged keeps
// their refusal.
TEST(RouteInput, SendsWhatTheClassicReadersDoNotTakeToTheLibraryReaders) {
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

  const struct {
    const char* Name;
    int Command;
  } cases[] = {
      {"classic.tif", kOpenTiffCommand},      {"strips.tif", kOpenTiffCommand},
      {"tiled.tif", kOpenGeneralTiffCommand}, {"deflate.tif", kOpenGeneralTiffCommand},
      {"photo.exr", kOpenExrCommand},         {"plain.pfm", kOpenPfmCommand},
      {"lower.pfm", kOpenPfmCommand},         {"commented.pfm", kOpenGeneralPfmCommand},
      {"grey.pfm", kOpenGeneralPfmCommand},   {"lower-grey.pfm", kOpenPfmCommand},
      {"broken.tif", kOpenTiffCommand},       {"minimal.tif", kOpenTiffCommand},
  };
  for (const auto& [name, command] : cases)
    EXPECT_EQ(ToneMapCommand(RouteInput(dir.File(name))), command) << name;
}

// The menu's chains for its seven pairs, the one job behind every other.
TEST(RouteInput, ChainsAreTheMenusWhereItHasThem) {
  InputRoute classicTiff{&FormatOf(FormatId::Tiff), true, ""};
  InputRoute libraryTiff{&FormatOf(FormatId::Tiff), false, ""};
  InputRoute radiance{&FormatOf(FormatId::Radiance), true, ""};
  InputRoute pfm{&FormatOf(FormatId::Pfm), true, ""};
  const FormatRow& tiff = FormatOf(FormatId::Tiff);
  const FormatRow& pfmOut = FormatOf(FormatId::Pfm);
  EXPECT_EQ(ToneMapChain(radiance, tiff, {})->CommandId, kOpenHdrCommand);
  EXPECT_EQ(ToneMapChain(classicTiff, tiff, {})->CommandId, kOpenTiffCommand);
  EXPECT_EQ(ToneMapChain(pfm, tiff, {})->CommandId, kOpenPfmCommand);
  EXPECT_EQ(ConvertChain(radiance, tiff, {})->CommandId, kHdrToTiffCommand);
  EXPECT_EQ(ConvertChain(radiance, pfmOut, {})->CommandId, kHdrToPfmCommand);
  EXPECT_EQ(ConvertChain(pfm, tiff, {})->CommandId, kPfmToTiffCommand);
  EXPECT_EQ(ConvertChain(classicTiff, pfmOut, {})->CommandId, kTiffToPfmCommand);
  for (const auto& chain :
       {ToneMapChain(libraryTiff, tiff, {}), ConvertChain(classicTiff, tiff, {}),
        ConvertChain(pfm, pfmOut, {}), ToneMapChain(radiance, FormatOf(FormatId::Png), {})}) {
    ASSERT_TRUE(chain);
    EXPECT_EQ(chain->CommandId, 0);
  }
  EXPECT_EQ(ToneMapChain(libraryTiff, tiff, {})->SuccessText, "TIFF Tonemapping concluded.");
  EXPECT_EQ(ConvertChain(radiance, FormatOf(FormatId::OpenExr), {})->SuccessText,
            "HDR to EXR conversion concluded.");
  EXPECT_FALSE(ToneMapChain(radiance, FormatOf(FormatId::OpenExr), {}));
  EXPECT_FALSE(ConvertChain(radiance, FormatOf(FormatId::Jpeg), {}));
}

}  // namespace
}  // namespace lumivane
