#include "steps/pfmwriter.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/floatfiles.h"
#include "tests/support/testfiles.h"

namespace lumivane {
namespace {

using testing::StepHarness;
using testing::TempDir;

std::string HeaderOf(std::uint32_t width, std::uint32_t height, StepHarness& h,
                     const TempDir& dir) {
  const std::string path = dir.File("out.pfm");
  h.Steps.Context.ImageWidth = width;
  h.Steps.Context.ImageHeight = height;
  h.Steps.Context.InputFileName = "/images/source.tif";
  h.Window.DialogAnswers = {path};
  EXPECT_TRUE(WritePfmHeader(h.Steps));
  EXPECT_TRUE(h.Steps.Context.OutputFile.IsOpen());
  EXPECT_TRUE(h.Steps.Context.OutputRowsBottomUp);
  EXPECT_TRUE(h.Steps.Context.OutputFile.Commit());
  const auto bytes = testing::ReadBytes(path);
  return std::string(bytes.begin(), bytes.end());
}

TEST(PfmWriter, WritesTheThreeLineHeader) {
  TempDir dir;
  StepHarness h;
  const std::string header = HeaderOf(1, 1, h, dir);
  EXPECT_EQ(header, std::string("PF\n1 1\n-1.00000\n"));
  EXPECT_EQ(header.size(), 16u);
  EXPECT_EQ(h.Window.Log,
            (std::vector<std::string>{
                "Input file opened:", "/images/source.tif", "Creating Wrapper for 96-bit PFM file.",
                "Wrapper written to file " + dir.File("out.pfm"), "Time used: 0 seconds"}));
  EXPECT_EQ(h.Window.Dialogs.at(0).Title, "LUMIVANE Save");
  EXPECT_EQ(h.Window.Dialogs.at(0).DefaultExtension, "pfm");

  StepHarness other;
  EXPECT_EQ(HeaderOf(10000, 7, other, dir), "PF\n10000 7\n-1.00000\n");
  StepHarness wide;
  EXPECT_EQ(HeaderOf(640, 480, wide, dir), "PF\n640 480\n-1.00000\n");
}

TEST(PfmWriter, CancelledDialogClosesTheInput) {
  TempDir dir;
  testing::WriteBytes(dir.File("in.tif"), {1, 2, 3});
  StepHarness h;
  h.Steps.Context.ImageWidth = 2;
  h.Steps.Context.ImageHeight = 2;
  h.Steps.Context.InputFileName = dir.File("in.tif");
  h.Steps.Context.InputFile = BinaryFile::OpenForReading(dir.File("in.tif"));
  EXPECT_FALSE(WritePfmHeader(h.Steps));
  EXPECT_EQ(h.Steps.Context.FailureMessage, "Cannot open ");
  EXPECT_FALSE(h.Steps.Context.InputFile.IsOpen());
  EXPECT_FALSE(h.Steps.Context.OutputRowsBottomUp);
  EXPECT_EQ(h.Window.Log,
            (std::vector<std::string>{"Closed file:", dir.File("in.tif"), std::string(72, '-')}));
  EXPECT_EQ(h.Window.Boxes.at(0).Text, "Missing Filename.");
}

TEST(PfmWriter, RefusesSizesBeforeCreatingTheFile) {
  TempDir dir;
  for (const auto& [w, hgt] :
       std::vector<std::pair<std::uint32_t, std::uint32_t>>{{0, 3}, {3, 0}, {70000, 70000}}) {
    StepHarness h;
    h.Steps.Context.ImageWidth = w;
    h.Steps.Context.ImageHeight = hgt;
    h.Window.DialogAnswers = {dir.File("never.pfm")};
    EXPECT_FALSE(WritePfmHeader(h.Steps));
    EXPECT_TRUE(h.Window.Dialogs.empty());
    EXPECT_FALSE(testing::FileExists(dir.File("never.pfm")));
    EXPECT_NE(h.Steps.Context.FailureMessage.find("width or height 0, or more than 4 GiB"),
              std::string::npos);
  }
}

}  // namespace
}  // namespace lumivane
