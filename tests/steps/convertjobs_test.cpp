#include "steps/convertjob.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <bit>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "formats/rgbe.h"
#include "shell/controlids.h"
#include "tests/support/floatfiles.h"
#include "tests/support/hdrfiles.h"
#include "tests/support/testfiles.h"

namespace lumivane {
namespace {

using testing::Bytes;
using testing::FloatImage;
using testing::JobRun;
using testing::RunJobCommand;
using testing::TempDir;

std::vector<std::string> Tail(const std::vector<std::string>& log, std::size_t count) {
  return log.size() < count ? log : std::vector<std::string>(log.end() - count, log.end());
}

// Floats whose bits must survive: NaN payloads (quiet and signalling), signed
// zeros and infinities, subnormals, the extremes.
FloatImage BitPatternImage(std::uint32_t width, std::uint32_t height) {
  const std::uint32_t patterns[] = {0x7FC12345, 0x7F800001, 0xFFC00000, 0x80000000, 0x00000000,
                                    0x7F800000, 0xFF800000, 0x00000001, 0x807FFFFF, 0x7F7FFFFF,
                                    0x3F800000, 0xBF400000, 0x3EAAAAAB};
  FloatImage image{width, height, {}};
  for (std::size_t i = 0; i < std::size_t{width} * height * 3; ++i)
    // Past the first round, vary the low payload bits too.
    image.Values.push_back(std::bit_cast<float>(
        patterns[i % 13] ^ (i >= 13 ? static_cast<std::uint32_t>(i << 8 & 0x7F00) : 0u)));
  return image;
}

TEST(ConvertFloat, PfmToTiffWritesLittleEndianRowsTopFirst) {
  TempDir dir;
  for (const auto& [w, h] :
       std::vector<std::pair<std::uint32_t, std::uint32_t>>{{2, 3}, {4, 2}, {2, 4}}) {
    const FloatImage image = testing::GradientImage(w, h);
    for (const bool intel : {false, true}) {
      testing::WriteBytes(dir.File("in.pfm"), testing::StandardPfm(image, intel));
      const JobRun run = RunJobCommand(kPfmToTiffCommand, dir.File("in.pfm"), dir.File("o.tif"));
      ASSERT_EQ(run.Boxes.size(), 1u) << run.FailureMessage;
      EXPECT_EQ(run.Boxes[0].Text, "PFM to TIFF conversion concluded.");
      ASSERT_EQ(run.Output.size(), 308u + 12u * w * h);
      EXPECT_EQ(testing::TiffPixels(run.Output), testing::PixelRows(image, 0, h));
      EXPECT_EQ(Tail(run.Log, 6),
                (std::vector<std::string>{"Converted from", dir.File("in.pfm") + " to",
                                          dir.File("o.tif") + " in", " 0 seconds",
                                          "Closed Source file " + dir.File("in.pfm"),
                                          "Closed destination file " + dir.File("o.tif")}));
    }
  }
}

TEST(ConvertFloat, TiffToPfmWritesTheBottomRowFirst) {
  TempDir dir;
  const FloatImage image = testing::GradientImage(2, 3);
  for (const bool intel : {false, true}) {
    for (const std::uint32_t rowsPerStrip : {0u, 1u, 2u}) {
      testing::WriteBytes(dir.File("in.tif"), testing::FloatTiff(image, {intel, rowsPerStrip}));
      const JobRun run = RunJobCommand(kTiffToPfmCommand, dir.File("in.tif"), dir.File("o.pfm"));
      ASSERT_EQ(run.Boxes.size(), 1u) << run.FailureMessage;
      EXPECT_EQ(run.Boxes[0].Text, "TIFF to PFM conversion concluded.");
      EXPECT_EQ(run.Output, testing::Pfm("PF\n2 3\n-1.00000\n", image, true));
    }
  }
}

TEST(ConvertFloat, RoundTripsKeepEveryBit) {
  TempDir dir;
  const FloatImage image = BitPatternImage(3, 5);
  for (const bool intel : {true, false}) {
    testing::WriteBytes(dir.File("in.tif"), testing::FloatTiff(image, {intel, 2}));
    const JobRun toPfm = RunJobCommand(kTiffToPfmCommand, dir.File("in.tif"), dir.File("a.pfm"));
    ASSERT_EQ(toPfm.Boxes.at(0).Text, "TIFF to PFM conversion concluded.");
    const FloatImage viaPfm = testing::ParseLittleEndianPfm(toPfm.Output);
    ASSERT_EQ(viaPfm.Values.size(), image.Values.size());
    EXPECT_EQ(std::memcmp(viaPfm.Values.data(), image.Values.data(), image.Values.size() * 4), 0);

    const JobRun toTiff = RunJobCommand(kPfmToTiffCommand, dir.File("a.pfm"), dir.File("b.tif"));
    ASSERT_EQ(toTiff.Boxes.at(0).Text, "PFM to TIFF conversion concluded.");
    EXPECT_EQ(testing::TiffPixels(toTiff.Output), testing::PixelRows(image, 0, 5));

    // ...and once more round: the PFM written from that TIFF equals the first one.
    const JobRun again = RunJobCommand(kTiffToPfmCommand, dir.File("b.tif"), dir.File("c.pfm"));
    EXPECT_EQ(again.Output, toPfm.Output);
  }
}

TEST(ConvertFloat, InputShortenedAfterItsHeaderFailsTheJob) {
  TempDir dir;
  const std::string path = dir.File("in.pfm");
  testing::WriteBytes(path, testing::StandardPfm(testing::GradientImage(3, 3), false));
  const JobRun run = RunJobCommand(kPfmToTiffCommand, path, dir.File("o.tif"), {}, [&] {
    std::filesystem::resize_file(path, std::filesystem::file_size(path) - 1);
  });
  ASSERT_EQ(run.Boxes.size(), 1u);
  EXPECT_EQ(run.Boxes[0].Text, path + " is shorter than its header promises");
  EXPECT_EQ(run.Boxes[0].Title, "LUMIVANE - Abort.");
  EXPECT_FALSE(run.OutputExists);
  EXPECT_EQ(std::find(run.Log.begin(), run.Log.end(), "Converted from"), run.Log.end());
}

// Rows of a page and more with least significant bytes first are copied by
// the kernel; the same image stored the other way round is read and swapped.
// Both ways must give the same file and the same progress, over several blocks.
TEST(ConvertFloat, KernelCopiedRowsEqualReadRowsOverSeveralBlocks) {
  TempDir dir;
  const FloatImage image = BitPatternImage(700, 700);  // 8400-byte rows, two 4 MiB blocks
  for (const auto& [command, suffix] :
       {std::pair{kPfmToTiffCommand, "tif"}, std::pair{kTiffToPfmCommand, "pfm"}}) {
    std::vector<JobRun> runs;
    for (const bool intel : {true, false}) {
      const std::string input = dir.File(command == kPfmToTiffCommand ? "in.pfm" : "in.tif");
      testing::WriteBytes(input, command == kPfmToTiffCommand
                                     ? testing::StandardPfm(image, intel)
                                     : testing::FloatTiff(image, {intel, 0}));
      runs.push_back(RunJobCommand(command, input, dir.File(std::string("o.") + suffix)));
      ASSERT_EQ(runs.back().Boxes.size(), 1u) << runs.back().FailureMessage;
    }
    EXPECT_EQ(runs[0].Progress, runs[1].Progress);
    if (command == kPfmToTiffCommand) {
      EXPECT_EQ(testing::TiffPixels(runs[0].Output), testing::PixelRows(image, 0, 700));
      EXPECT_EQ(runs[0].Output.size(), runs[1].Output.size());
      // Only the date and time in the header may differ.
      EXPECT_EQ(testing::TiffPixels(runs[0].Output), testing::TiffPixels(runs[1].Output));
    } else {
      EXPECT_EQ(runs[0].Output, testing::Pfm("PF\n700 700\n-1.00000\n", image, true));
      EXPECT_EQ(runs[0].Output, runs[1].Output);
    }
  }
}

// A full disk fails either conversion at its first pixel block, whichever way
// the rows would have travelled, and names the output.
TEST(ConvertJobs, FullDiskFailsTheJobAndNamesTheOutput) {
  TempDir dir;
  const FloatImage image = testing::GradientImage(400, 3);
  testing::WriteBytes(dir.File("in.pfm"), testing::StandardPfm(image, true));
  testing::WriteBytes(dir.File("in.tif"), testing::FloatTiff(image, {false, 1}));
  testing::WriteBytes(dir.File("in.hdr"), testing::HdrFile(testing::PatternImage(400, 3),
                                                           testing::RgbeRowForm::ComponentRuns));
  const std::pair<int, std::string> cases[] = {{kPfmToTiffCommand, "in.pfm"},
                                               {kTiffToPfmCommand, "in.tif"},
                                               {kHdrToTiffCommand, "in.hdr"},
                                               {kHdrToPfmCommand, "in.hdr"}};
  for (const auto& [command, input] : cases) {
    const Bytes before = testing::ReadBytes(dir.File(input));
    const JobRun run = RunJobCommand(command, dir.File(input), "/dev/full");
    ASSERT_EQ(run.Boxes.size(), 1u) << input;
    EXPECT_EQ(run.Boxes[0].Title, "LUMIVANE - Abort.");
    EXPECT_EQ(run.Boxes[0].Text, "Cannot write /dev/full: No space left on device") << input;
    EXPECT_EQ(run.FailureMessage, run.Boxes[0].Text);
    EXPECT_EQ(std::count(run.Log.begin(), run.Log.end(), run.Boxes[0].Text), 1) << input;
    EXPECT_EQ(std::find(run.Log.begin(), run.Log.end(), "Converted from"), run.Log.end());
    EXPECT_TRUE(std::filesystem::exists("/dev/full"));
    EXPECT_EQ(testing::ReadBytes(dir.File(input)), before);
  }
  // Into a regular file the workers write their rows at their places: a file
  // that may grow no further fails the job part-way, and none is left.
  testing::WriteBytes(dir.File("big.hdr"), testing::HdrFile(testing::PatternImage(400, 300),
                                                            testing::RgbeRowForm::ComponentRuns));
  for (const int command : {kHdrToTiffCommand, kHdrToPfmCommand}) {
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit small = saved;
    small.rlim_cur = 500000;  // of 1,440,000 bytes of rows
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const JobRun run = RunJobCommand(command, dir.File("big.hdr"), dir.File("out"));
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, SIG_DFL);
    ASSERT_EQ(run.Boxes.size(), 1u);
    EXPECT_EQ(run.Boxes[0].Text, "Cannot write " + dir.File("out") + ": " + std::strerror(EFBIG));
    EXPECT_FALSE(run.OutputExists);
  }
}

// The floats of one RGBE pixel, least significant byte first.
Bytes RgbeFloatBytes(const testing::RgbePixel& p) {
  Bytes out;
  for (const std::uint8_t m : {p.R, p.G, p.B}) {
    const Bytes b = testing::FloatBytes(RgbeToFloat(m, p.E), true);
    out.insert(out.end(), b.begin(), b.end());
  }
  return out;
}

TEST(ConvertHdr, TiffAndPfmOutputsHoldTheSameUprightImage) {
  TempDir dir;
  const testing::RgbePixels pixels = testing::PatternImage(6, 4);
  testing::WriteBytes(dir.File("in.hdr"),
                      testing::HdrFile(pixels, testing::RgbeRowForm::ComponentRuns));
  Bytes expected;
  for (const auto& p : pixels.Pixels) {
    const Bytes b = RgbeFloatBytes(p);
    expected.insert(expected.end(), b.begin(), b.end());
  }
  const JobRun tiff = RunJobCommand(kHdrToTiffCommand, dir.File("in.hdr"), dir.File("h.tif"));
  ASSERT_EQ(tiff.Boxes.size(), 1u) << tiff.FailureMessage;
  EXPECT_EQ(tiff.Boxes[0].Text, "HDR to TIFF conversion concluded.");
  EXPECT_EQ(testing::TiffPixels(tiff.Output), expected);
  EXPECT_EQ(Tail(tiff.Log, 4),
            (std::vector<std::string>{"Converting RGBE to floats", "Converted in 0 seconds",
                                      "Closed Source file " + dir.File("in.hdr"),
                                      "Closed destination file " + dir.File("h.tif")}));

  const JobRun pfm = RunJobCommand(kHdrToPfmCommand, dir.File("in.hdr"), dir.File("h.pfm"));
  ASSERT_EQ(pfm.Boxes.size(), 1u) << pfm.FailureMessage;
  EXPECT_EQ(pfm.Boxes[0].Text, "HDR to PFM conversion concluded.");
  // Stored bottom row first, so its last stored row is the image's top row.
  const std::string header = "PF\n6 4\n-1.00000\n";
  ASSERT_EQ(pfm.Output.size(), header.size() + expected.size());
  EXPECT_EQ(Bytes(pfm.Output.end() - 72, pfm.Output.end()),
            Bytes(expected.begin(), expected.begin() + 72));

  const JobRun back = RunJobCommand(kPfmToTiffCommand, dir.File("h.pfm"), dir.File("b.tif"));
  EXPECT_EQ(testing::TiffPixels(back.Output), testing::TiffPixels(tiff.Output));
}

TEST(ConvertPeers, OtherToolsOpenOurPfmsUpright) {
  if (!testing::HaveTool("oiiotool")) GTEST_SKIP() << "oiiotool is not installed";
  TempDir dir;
  FloatImage image = testing::GradientImage(2, 3);
  testing::WriteBytes(dir.File("in.tif"), testing::FloatTiff(image, {false}));
  const JobRun run = RunJobCommand(kTiffToPfmCommand, dir.File("in.tif"), dir.File("o.pfm"));
  ASSERT_EQ(run.Boxes.at(0).Text, "TIFF to PFM conversion concluded.");
  std::string dump;
  ASSERT_EQ(testing::RunCommand("oiiotool --dumpdata '" + dir.File("o.pfm") + "'", &dump), 0);
  // Pixel (0, 0) is the top-left pixel: the brightest of the image.
  const auto at = dump.find("Pixel (0, 0):");
  ASSERT_NE(at, std::string::npos) << dump;
  std::istringstream values(dump.substr(at + 13));
  float r = 0, g = 0, b = 0;
  values >> r >> g >> b;
  EXPECT_EQ(r, image.Values[0]);
  EXPECT_EQ(g, image.Values[1]);
  EXPECT_EQ(b, image.Values[2]);
}

}  // namespace
}  // namespace lumivane
