// What a file can make the batch command line print or touch: no control
// character from a file or a file name reaches the terminal raw, and no text
// from a header is ever taken for a path.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "tests/robustness/clirun.h"
#include "tests/support/floatfiles.h"
#include "tests/support/hdrfiles.h"
#include "tests/support/testfiles.h"

namespace lumivane {
namespace {

namespace fs = std::filesystem;
using robustness::CliResult;
using robustness::RawControlIn;
using robustness::RunCli;
using testing::Bytes;
using testing::TempDir;

// Terminal controls: a title change, a screen clear, a bell, a carriage
// return that would overwrite the line, DEL, the 8-bit CSI both raw and as
// UTF-8, and a byte that is no UTF-8.
const std::string kHostile =
    "\x1B]0;owned\x07\x1B[2J\r\x7F\x9B"
    "31m\xC2\x9B"
    "1m\xFF";

void ExpectNothingRaw(const CliResult& result) {
  EXPECT_EQ(RawControlIn(result.Out), "") << result.Out;
  EXPECT_EQ(RawControlIn(result.Err), "") << result.Err;
}

Bytes Text(const std::string& text) {
  return Bytes(text.begin(), text.end());
}

Bytes HdrWithLines(const std::vector<std::string>& lines) {
  return testing::HdrFile(
      testing::HdrHeaderText(lines, 4, 2),
      testing::EncodeRgbeRows(testing::PatternImage(4, 2), testing::RgbeRowForm::Flat));
}

// A float TIFF with text tags (DocumentName, ImageDescription, Software,
// Artist) holding `text`.
Bytes TiffWithTexts(const std::string& text) {
  const testing::FloatImage image = testing::GradientImage(2, 2);
  testing::TiffBuilder tiff(false);
  const std::uint32_t data = tiff.Append(testing::PixelRows(image, 0, 2, false));
  Bytes ascii = Text(text);
  ascii.push_back(0);
  const auto count = static_cast<std::uint32_t>(ascii.size());
  tiff.Entry(256, 4, 1, tiff.Long(2));
  tiff.Entry(257, 4, 1, tiff.Long(2));
  tiff.Data(258, 3, 3, tiff.Shorts({32, 32, 32}));
  tiff.Entry(259, 3, 1, tiff.Short(1));
  tiff.Data(269, 2, count, ascii);
  tiff.Data(270, 2, count, ascii);
  tiff.Entry(273, 4, 1, tiff.Long(data));
  tiff.Entry(277, 3, 1, tiff.Short(3));
  tiff.Data(305, 2, count, ascii);
  tiff.Data(315, 2, count, ascii);
  tiff.Data(339, 3, 3, tiff.Shorts({3, 3, 3}));
  return tiff.Build();
}

TEST(Terminal, ControlBytesInHeadersReachTheTerminalEscaped) {
  TempDir dir;
  struct Run {
    std::string Name;
    Bytes File;
    std::vector<std::vector<std::string>> Jobs;  // verb and output name
    bool Succeeds;
  };
  const std::vector<std::vector<std::string>> hdrJobs = {
      {"tonemap", "out.tif"}, {"convert", "out.tif"}, {"convert", "out.pfm"}};
  const std::vector<Run> runs = {
      {"format line", HdrWithLines({"FORMAT=32-bit_rle_rgbe " + kHostile, "EXPOSURE=1"}), hdrJobs,
       true},
      {"exposure and comment lines",
       HdrWithLines({"# " + kHostile, "FORMAT=32-bit_rle_rgbe", "EXPOSURE=2" + kHostile}), hdrJobs,
       true},
      {"refused format line", HdrWithLines({"FORMAT=" + kHostile, "EXPOSURE=1"}), hdrJobs, false},
      {"TIFF text tags",
       TiffWithTexts(kHostile),
       {{"tonemap", "out.tif"}, {"convert", "out.pfm"}},
       true},
      {"PFM header",
       Text("PF\n2 2" + kHostile + "\n-1" + kHostile + "\n" + std::string(48, '\0')),
       {{"tonemap", "out.tif"}, {"convert", "out.tif"}},
       true},
      {"not an image", Text("P6" + kHostile), {{"tonemap", "out.tif"}}, false},
  };
  for (const Run& run : runs) {
    SCOPED_TRACE(run.Name);
    const std::string input = dir.File("hostile.in");
    testing::WriteBytes(input, run.File);
    for (const auto& job : run.Jobs) {
      SCOPED_TRACE(job[0] + " " + job[1]);
      const CliResult result = RunCli(dir, {job[0], input, dir.File(job[1])});
      EXPECT_EQ(result.Status, run.Succeeds ? 0 : 1) << result.Err;
      ExpectNothingRaw(result);
    }
  }
  // The escaped line is still there to read.
  testing::WriteBytes(dir.File("format.hdr"), runs[0].File);
  const CliResult shown = RunCli(dir, {"tonemap", dir.File("format.hdr"), dir.File("out.tif")});
  EXPECT_NE(shown.Out.find("FORMAT=32-bit_rle_rgbe \\x1B]0;owned\\x07\\x1B[2J\\x0D\\x7F\\x9B31m"
                           "\\u009B1m\\xFF\n"),
            std::string::npos)
      << shown.Out;
}

TEST(Terminal, ControlBytesInFileNamesReachTheTerminalEscaped) {
  TempDir dir;
  const std::string name = "a" + kHostile + "b";
  const std::string hdr = dir.File(name + ".hdr");
  testing::WriteBytes(hdr, HdrWithLines({"FORMAT=32-bit_rle_rgbe"}));
  const std::string pfm = dir.File(name + ".pfm");
  testing::WriteBytes(pfm, testing::StandardPfm(testing::GradientImage(2, 2), true));
  const std::vector<std::vector<std::string>> runs = {
      {"tonemap", hdr, dir.File(name + ".tif")},
      {"convert", pfm, dir.File(name + "-96.tif")},
      {"tonemap", hdr, dir.File(name + "/missing.tif")},
      {"tonemap", dir.File(name + ".none"), dir.File("x.tif")},
      {"convert", hdr, dir.File(name + ".bad")},
  };
  for (const auto& args : runs) {
    SCOPED_TRACE(args[0] + " " + args[2]);
    const CliResult result = RunCli(dir, args);
    ExpectNothingRaw(result);
    const std::string shownName = "a\\x1B]0;owned\\x07";
    EXPECT_TRUE(result.Out.find(shownName) != std::string::npos ||
                result.Err.find(shownName) != std::string::npos)
        << "the name is shown, escaped\n"
        << result.Out << result.Err;
  }
}

std::set<std::string> Listing(const fs::path& folder) {
  std::set<std::string> names;
  for (const auto& entry : fs::recursive_directory_iterator(folder))
    names.insert(fs::relative(entry.path(), folder).string());
  return names;
}

TEST(Terminal, NoTextFromAHeaderIsTakenForAPath) {
  TempDir dir;
  const std::string victim = dir.File("victim.tif");
  const Bytes victimBytes = Text("must stay as it is");
  testing::WriteBytes(victim, victimBytes);
  const std::string created = dir.File("created.tif");
  const std::string paths = victim + " " + created + " " + dir.File("created.pfm");
  const std::vector<std::pair<std::string, Bytes>> inputs = {
      // The whole header must lie within the 256 bytes the reader looks at.
      {"in.hdr", HdrWithLines({"OUTPUT=" + created, "FORMAT=32-bit_rle_rgbe", "EXPOSURE=1",
                               "VIEW= -vf " + victim})},
      {"in.tif", TiffWithTexts(paths)},
      {"in.pfm", Text("PF\n2 2 " + victim + "\n-1 " + created + "\n" + std::string(48, '\0'))},
  };
  for (const auto& [name, bytes] : inputs) {
    SCOPED_TRACE(name);
    testing::WriteBytes(dir.File(name), bytes);
  }
  const std::set<std::string> before = Listing(dir.Path());
  const std::vector<std::vector<std::string>> jobs = {
      {"tonemap", "in.hdr", "o1.tif"}, {"convert", "in.hdr", "o2.tif"},
      {"convert", "in.hdr", "o3.pfm"}, {"tonemap", "in.tif", "o4.tif"},
      {"convert", "in.tif", "o5.pfm"}, {"tonemap", "in.pfm", "o6.tif"},
      {"convert", "in.pfm", "o7.tif"}};
  std::set<std::string> expected = before;
  expected.insert("cli-stderr.txt");
  for (const auto& job : jobs) {
    SCOPED_TRACE(job[0] + " " + job[1] + " " + job[2]);
    const CliResult result = RunCli(dir, {job[0], dir.File(job[1]), dir.File(job[2])});
    EXPECT_EQ(result.Status, 0) << result.Err;
    expected.insert(job[2]);
    EXPECT_EQ(Listing(dir.Path()), expected);
    EXPECT_EQ(testing::ReadBytes(victim), victimBytes);
  }
  EXPECT_FALSE(testing::FileExists(created));
}

}  // namespace
}  // namespace lumivane
