#include "formats/pfmrows.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "shell/controlids.h"
#include "shell/dispatch.h"
#include "tests/support/floatfiles.h"
#include "tests/support/testfiles.h"

namespace lumivane {
namespace {

using testing::Bytes;
using testing::FloatImage;

struct Read {
  // The reader reads these bytes for as long as it lives.
  std::unique_ptr<Bytes> File;
  std::unique_ptr<ImageRowSource> Rows;
  std::string Error;
};

Read Open(const Bytes& file) {
  Read read;
  read.File = std::make_unique<Bytes>(file);
  read.Rows = OpenPfmRows(std::make_unique<MemoryBytes>(*read.File), ReadLimits{}, read.Error);
  return read;
}

std::vector<float> AllRows(ImageRowSource& rows) {
  const ImageDescription& d = rows.Description();
  std::vector<float> values(std::size_t{d.Width} * d.Height * 3);
  std::string error;
  // Two blocks of rows, to cross a block boundary.
  const std::uint32_t first = d.Height / 2;
  EXPECT_TRUE(rows.ReadRows(values.data(), first, error)) << error;
  EXPECT_TRUE(
      rows.ReadRows(values.data() + std::size_t{first} * d.Width * 3, d.Height - first, error))
      << error;
  return values;
}

TEST(PfmRows, CommentsEitherLetterCaseAndGreyFiles) {
  const FloatImage image = testing::GradientImage(3, 4);
  // As ImageMagick writes it: a comment line, scale 1 (most significant byte first).
  Read commented = Open(testing::Pfm("PF\n#?RADIANCE\n3 4\n# made by a test\n1.0\n", image, false));
  ASSERT_TRUE(commented.Rows) << commented.Error;
  EXPECT_EQ(AllRows(*commented.Rows), image.Values);
  const auto& lines = commented.Rows->Description().HeaderLines;
  EXPECT_EQ(lines, (std::vector<std::string>{"Comment: ?RADIANCE", "Comment: made by a test",
                                             "Image Width: 3", "Image Length: 4",
                                             "Exposition Scale: 1", "Channels: 3 (RGB)"}));
  std::string error;
  ASSERT_TRUE(commented.Rows->Rewind(error));
  EXPECT_EQ(AllRows(*commented.Rows), image.Values);

  Read lower = Open(testing::Pfm("pF\n3 4\n-1\n", image, true));
  ASSERT_TRUE(lower.Rows) << lower.Error;
  EXPECT_EQ(AllRows(*lower.Rows), image.Values);

  // Grey: one value per pixel, rows bottom first, given to R, G and B.
  Bytes grey = {'P', 'f', '\n', '2', ' ', '2', '\n', '-', '1', '\n'};
  for (const float v : {3.0f, 4.0f, 1.0f, 2.0f}) {
    const Bytes b = testing::FloatBytes(v, true);
    grey.insert(grey.end(), b.begin(), b.end());
  }
  Read greyRead = Open(grey);
  ASSERT_TRUE(greyRead.Rows) << greyRead.Error;
  EXPECT_EQ(AllRows(*greyRead.Rows), (std::vector<float>{1, 1, 1, 2, 2, 2, 3, 3, 3, 4, 4, 4}));
}

TEST(PfmRows, RefusesBrokenFilesWithTheReason) {
  const FloatImage image = testing::GradientImage(2, 2);
  const Bytes whole = testing::StandardPfm(image, true);
  const std::vector<std::pair<Bytes, std::string>> cases = {
      {Bytes(whole.begin(), whole.end() - 1), "shorter than its header promises"},
      {testing::Pfm("PF\n0 2\n-1\n", image, true), "not a whole number"},
      {testing::Pfm("PF\n2 2\nwide\n", image, true), "is not a number"},
      {testing::Pfm("PF\n2 2\n", {}, true), "incomplete"},
      {testing::Pfm("P6\n2 2\n255\n", image, true), "not a Portable Floatmap"},
      {testing::Pfm("PF\n100000 100000\n-1\n", image, true), "more than 2^31 pixels"},
  };
  for (const auto& [file, reason] : cases) {
    const Read read = Open(file);
    EXPECT_FALSE(read.Rows) << reason;
    EXPECT_NE(read.Error.find(reason), std::string::npos) << read.Error;
  }
}

TEST(PfmRows, OnlyWhatTheClassicReaderRefusesNeedsTheGeneralOne) {
  EXPECT_FALSE(NeedsGeneralPfmReader("PF\n2 2\n-1\n"));
  EXPECT_FALSE(NeedsGeneralPfmReader("pF\n2 2\n-1\n"));
  EXPECT_TRUE(NeedsGeneralPfmReader("Pf\n2 2\n-1\n"));
  EXPECT_FALSE(NeedsGeneralPfmReader("pf\n2 2\n-1\n"));
  EXPECT_TRUE(NeedsGeneralPfmReader("PF\n# comment\n2 2\n-1\n"));
  EXPECT_TRUE(NeedsGeneralPfmReader("PF\n2 2\n# comment\n-1\n"));
  EXPECT_TRUE(NeedsGeneralPfmReader("PF 2 2 -1\n"));
}

TEST(PfmRows, ACommentedFileTonemapsLikeTheClassicOne) {
  testing::TempDir dir;
  const FloatImage image = testing::GradientImage(9, 5);
  testing::WriteBytes(dir.File("plain.pfm"), testing::StandardPfm(image, true));
  testing::WriteBytes(dir.File("commented.pfm"),
                      testing::Pfm("PF\n# comment\n9 5\n1.0\n", image, false));
  const auto classic =
      testing::RunJobCommand(kOpenPfmCommand, dir.File("plain.pfm"), dir.File("a.tif"));
  const auto general =
      testing::RunJobCommand(kOpenGeneralPfmCommand, dir.File("commented.pfm"), dir.File("b.tif"));
  ASSERT_EQ(general.Boxes.size(), 1u);
  EXPECT_EQ(general.Boxes[0].Text, "PFM Tonemapping concluded.");
  ASSERT_FALSE(classic.Output.empty());
  EXPECT_EQ(testing::TiffPixels(general.Output), testing::TiffPixels(classic.Output));
}

}  // namespace
}  // namespace lumivane
