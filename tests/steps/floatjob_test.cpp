#include "steps/floatrows.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <bit>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "imaging/statistics.h"
#include "imaging/tonemap.h"
#include "io/binaryfile.h"
#include "shell/controlids.h"
#include "shell/dispatch.h"
#include "steps/session.h"
#include "tests/support/floatfiles.h"
#include "tests/support/oracles.h"
#include "tests/support/recordingwindow.h"
#include "tests/support/testfiles.h"

namespace lumivane {
namespace {

using testing::Bytes;
using testing::FloatImage;
using testing::JobRun;
using testing::RunJobCommand;
using testing::TempDir;

JobSettings Settings(bool warm, float brightness = 0.8f, float contrast = 1.2f) {
  JobSettings settings;
  settings.Brightness = brightness;
  settings.PostGamma = PostGammaFromContrast(contrast);
  settings.WarmColours = warm ? 1 : 0;
  return settings;
}

// The reference: statistics over every value, then the operator value by value.
Bytes ReferenceToneMap(const FloatImage& image, const JobSettings& settings) {
  ChannelAccumulators accumulators;
  for (std::size_t i = 0; i < image.Values.size(); ++i) accumulators[i % 3].Add(image.Values[i]);
  const ImageStatistics s =
      ComputeImageStatistics(accumulators, image.Width * image.Height, settings.WarmColours != 0);
  Bytes out;
  for (std::size_t i = 0; i < image.Values.size(); ++i)
    out.push_back(ToneMapChannel(image.Values[i], s.Minimum[i % 3], s.Average[i % 3],
                                 settings.Brightness, settings.PostGamma, OperatorWidth::Double));
  return out;
}

TEST(FloatJob, ByteHelpers) {
  std::uint8_t bytes[] = {1, 2, 3, 4};
  ReverseBytes4(bytes);
  EXPECT_EQ(Bytes(bytes, bytes + 4), (Bytes{4, 3, 2, 1}));
  const std::uint8_t one[] = {0x00, 0x00, 0x80, 0x3F};
  const std::uint8_t oneMsb[] = {0x3F, 0x80, 0x00, 0x00};
  EXPECT_EQ(StoredFloat(one, true), 1.0f);
  EXPECT_EQ(StoredFloat(oneMsb, false), 1.0f);
  EXPECT_EQ(FloatImageBytes(2, 3), 72u);
  EXPECT_EQ(FloatImageBytes(1, 357913941), 4294967292u);
  EXPECT_FALSE(FloatImageBytes(1, 357913942));
  EXPECT_FALSE(FloatImageBytes(0, 1));
  EXPECT_FALSE(FloatImageBytes(65536, 65536));
}

TEST(FloatJob, RowReaderReadsBlocksForwardsAndBackwards) {
  TempDir dir;
  Bytes file = {9, 9, 9};  // data start 3
  for (std::uint8_t row = 0; row < 7; ++row) file.insert(file.end(), {row, row, row, row});
  testing::WriteBytes(dir.File("rows"), file);
  for (const bool backwards : {false, true}) {
    for (const std::size_t block :
         {std::size_t{1}, std::size_t{8}, std::size_t{12}, std::size_t{1000}}) {
      BinaryFile in = BinaryFile::OpenForReading(dir.File("rows"));
      FloatRowReader rows(in, 3, 4, 7, backwards, block);
      std::vector<int> order;
      while (const std::uint8_t* row = rows.NextRow()) {
        EXPECT_EQ(row[3], row[0]);
        order.push_back(row[0]);
      }
      EXPECT_EQ(order, backwards ? (std::vector<int>{6, 5, 4, 3, 2, 1, 0})
                                 : (std::vector<int>{0, 1, 2, 3, 4, 5, 6}));
      EXPECT_EQ(rows.RowsRead(), 7u);
    }
  }
  // A file ending inside row 5 gives rows 0 to 4, then nothing.
  file.resize(3 + 4 * 5 + 2);
  testing::WriteBytes(dir.File("rows"), file);
  BinaryFile in = BinaryFile::OpenForReading(dir.File("rows"));
  FloatRowReader rows(in, 3, 4, 7, false, 8);
  int handed = 0;
  while (rows.NextRow()) ++handed;
  EXPECT_EQ(handed, 4);  // the block of rows 4 and 5 is incomplete
  // and asking again never hands out the rows of the failed block.
  EXPECT_EQ(rows.NextRow(), nullptr);
  EXPECT_EQ(rows.RowsRead(), 4u);
}

// The 2 x 1 image (0, 0, 0), (1, 2, 4) in all four stored forms.
TEST(FloatJob, WorkedExampleInEveryByteOrderAndFormat) {
  TempDir dir;
  const FloatImage image{2, 1, {0, 0, 0, 1, 2, 4}};
  struct Input {
    int Command;
    std::string Name;
    Bytes File;
    std::string Success;
  };
  const std::vector<Input> inputs = {
      {kOpenTiffCommand, "ii.tif", testing::FloatTiff(image, {true}),
       "TIFF Tonemapping concluded."},
      {kOpenTiffCommand, "mm.tif", testing::FloatTiff(image, {false}),
       "TIFF Tonemapping concluded."},
      {kOpenPfmCommand, "lsb.pfm", testing::StandardPfm(image, true), "PFM Tonemapping concluded."},
      {kOpenPfmCommand, "msb.pfm", testing::StandardPfm(image, false),
       "PFM Tonemapping concluded."},
  };
  for (const Input& input : inputs) {
    testing::WriteBytes(dir.File(input.Name), input.File);
    for (const bool warm : {true, false}) {
      const JobRun run =
          RunJobCommand(input.Command, dir.File(input.Name), dir.File("out.tif"), Settings(warm));
      ASSERT_EQ(run.Boxes.size(), 1u) << input.Name << ": " << run.FailureMessage;
      EXPECT_EQ(run.Boxes[0],
                (testing::RecordedBox{input.Success, "LUMIVANE - Success.", BoxKind::Information}));
      ASSERT_EQ(run.Output.size(), 308u + 6u);
      EXPECT_EQ(testing::TiffPixels(run.Output),
                warm ? (Bytes{0, 0, 0, 171, 171, 171}) : (Bytes{0, 0, 0, 121, 162, 198}))
          << input.Name;
      const auto red = std::find_if(run.Log.begin(), run.Log.end(),
                                    [](const std::string& l) { return l.rfind("Red:", 0) == 0; });
      ASSERT_NE(red, run.Log.end());
      EXPECT_EQ(*red, warm ? "Red:   0, 1, 1, .5" : "Red:   0, 1, 1, 1.166667");
    }
  }
}

TEST(FloatJob, LogsAndProgressOfTheWholeJob) {
  TempDir dir;
  const FloatImage image = testing::GradientImage(3, 4);
  testing::WriteBytes(dir.File("in.pfm"), testing::StandardPfm(image, true));
  const JobRun run = RunJobCommand(kOpenPfmCommand, dir.File("in.pfm"), dir.File("out.tif"));
  const auto first = std::find(run.Log.begin(), run.Log.end(), "Data analysed in 0 seconds");
  ASSERT_NE(first, run.Log.end());
  const std::vector<std::string> tail(first, run.Log.end());
  ASSERT_EQ(tail.size(), 11u);
  EXPECT_EQ(tail[1], "Statistics (Low, High, Sum, Average of values)");
  EXPECT_EQ(tail[6].rfind("Dynamic range (grey): ", 0), 0u);
  EXPECT_EQ(tail[7], "Starting tonemapping...");
  EXPECT_EQ(tail[8], "Tonemapped in 0 seconds");
  EXPECT_EQ(tail[9], "Closed Source file " + dir.File("in.pfm"));
  EXPECT_EQ(tail[10], "Closed destination file " + dir.File("out.tif"));
  using P = testing::RecordedProgress;
  std::vector<P> expected = {{P::Range, 0, 1}, {P::Position, 0, 0}};
  for (int pass = 0; pass < 2; ++pass) {
    expected.push_back({P::Range, 1, 4});
    for (std::uint32_t row = 1; row <= 4; ++row) expected.push_back({P::Position, row, 0});
  }
  // The header writer may move the bar too; the job's two passes come last.
  ASSERT_GE(run.Progress.size(), expected.size());
  EXPECT_EQ(std::vector<P>(run.Progress.end() - 10, run.Progress.end()),
            std::vector<P>(expected.end() - 10, expected.end()));
}

TEST(FloatJob, PfmAndTiffOfOneImageToneMapUprightAndEqualTheReference) {
  TempDir dir;
  FloatImage image = testing::GradientImage(5, 6);
  for (const bool warm : {true, false}) {
    const JobSettings settings = Settings(warm, 1.5f, 2.0f);
    const Bytes expected = ReferenceToneMap(image, settings);
    // The top row is the brightest: the first output row must be too.
    ASSERT_GT(expected[0], expected[expected.size() - 15]);
    for (const bool intel : {true, false}) {
      testing::WriteBytes(dir.File("in.pfm"), testing::StandardPfm(image, intel));
      testing::WriteBytes(dir.File("in.tif"), testing::FloatTiff(image, {intel, 4}));
      const JobRun pfm =
          RunJobCommand(kOpenPfmCommand, dir.File("in.pfm"), dir.File("p.tif"), settings);
      const JobRun tiff =
          RunJobCommand(kOpenTiffCommand, dir.File("in.tif"), dir.File("t.tif"), settings);
      EXPECT_EQ(testing::TiffPixels(pfm.Output), expected);
      EXPECT_EQ(testing::TiffPixels(tiff.Output), expected);
    }
  }
}

// Values below zero, NaN and infinities are taken as 0: the job gives the
// bytes and statistics of the same image with zeros there, and one more line
// after the statistics block that counts them (in both classic inputs).
TEST(FloatJob, ValuesBelowZeroOrNotFiniteAreTakenAsZero) {
  TempDir dir;
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  const FloatImage image{4, 1, {nan, 1, 2, inf, 3, 4, -inf, 5, -1, 0.5f, nan, 6}};
  FloatImage zeroed = image;
  for (float& v : zeroed.Values)
    if (!(v >= 0.0f) || v == inf) v = 0.0f;
  const JobSettings settings = Settings(true);
  const struct {
    int Command;
    const char* Name;
    Bytes (*Make)(const FloatImage&);
  } inputs[] = {
      {kOpenTiffCommand, "in.tif", [](const FloatImage& i) { return testing::FloatTiff(i, {false}); }},
      {kOpenPfmCommand, "in.pfm", [](const FloatImage& i) { return testing::StandardPfm(i, true); }},
  };
  for (const auto& input : inputs) {
    testing::WriteBytes(dir.File(input.Name), input.Make(image));
    const JobRun run = RunJobCommand(input.Command, dir.File(input.Name), dir.File("a.tif"), settings);
    testing::WriteBytes(dir.File(input.Name), input.Make(zeroed));
    const JobRun plain =
        RunJobCommand(input.Command, dir.File(input.Name), dir.File("b.tif"), settings);
    EXPECT_EQ(testing::TiffPixels(run.Output), testing::TiffPixels(plain.Output));
    const auto range = std::find_if(run.Log.begin(), run.Log.end(), [](const std::string& l) {
      return l.rfind("Dynamic range (grey):", 0) == 0;
    });
    ASSERT_NE(range, run.Log.end());
    EXPECT_EQ(*(range + 1), "Values below zero or not finite, taken as 0: 5");
    std::vector<std::string> without = run.Log;
    without.erase(without.begin() + (range + 1 - run.Log.begin()));
    for (std::string& line : without)
      if (const std::size_t at = line.find("a.tif"); at != std::string::npos) line[at] = 'b';
    EXPECT_EQ(without, plain.Log) << input.Name;
    EXPECT_EQ(std::count_if(plain.Log.begin(), plain.Log.end(),
                            [](const std::string& l) { return l.rfind("Values below", 0) == 0; }),
              0);
  }
}

TEST(FloatJob, InputShortenedAfterItsHeaderFailsTheJob) {
  TempDir dir;
  const FloatImage image = testing::GradientImage(4, 3);
  const struct {
    int Command;
    std::string Name;
    Bytes File;
    std::uintmax_t CutTo;  // inside the pixel rows
  } inputs[] = {{kOpenPfmCommand, "in.pfm", testing::StandardPfm(image, true), 100},
                {kOpenTiffCommand, "in.tif", testing::FloatTiff(image, {false, 1}), 8 + 70}};
  for (const auto& input : inputs) {
    const std::string path = dir.File(input.Name);
    testing::WriteBytes(path, input.File);
    const auto shorten = [&] { std::filesystem::resize_file(path, input.CutTo); };
    const JobRun run = RunJobCommand(input.Command, path, dir.File("out.tif"), {}, shorten);
    ASSERT_EQ(run.Boxes.size(), 1u);
    EXPECT_EQ(run.Boxes[0], (testing::RecordedBox{path + " is shorter than its header promises",
                                                  "LUMIVANE - Abort.", BoxKind::Error}));
    EXPECT_FALSE(run.OutputExists);
    EXPECT_EQ(std::vector<std::string>(run.Log.end() - 4, run.Log.end()),
              (std::vector<std::string>{path + " is shorter than its header promises",
                                        "Closed file:", path, std::string(72, '-')}));
  }
}

TEST(FloatJob, WriteFailureFailsTheJobAndRemovesTheOutput) {
  TempDir dir;
  testing::WriteBytes(dir.File("in.pfm"),
                      testing::StandardPfm(testing::GradientImage(20, 20), true));
  std::signal(SIGXFSZ, SIG_IGN);
  rlimit saved{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  rlimit small = saved;
  small.rlim_cur = 500;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  const JobRun run = RunJobCommand(kOpenPfmCommand, dir.File("in.pfm"), dir.File("out.tif"));
  setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, SIG_DFL);
  ASSERT_EQ(run.Boxes.size(), 1u);
  EXPECT_EQ(run.Boxes[0].Title, "LUMIVANE - Abort.");
  EXPECT_EQ(run.Boxes[0].Text.rfind("Cannot write " + dir.File("out.tif") + ": ", 0), 0u)
      << run.Boxes[0].Text;
  EXPECT_FALSE(run.OutputExists);
}

// Rewrites the input in place, as an editor saving over it would, when the
// second pass starts, and drops another program's file at the output path.
class ChangingWindow : public testing::RecordingWindow {
 public:
  std::function<void()> BetweenPasses;
  void InsertLogLine(std::size_t position, const std::string& text) override {
    RecordingWindow::InsertLogLine(position, text);
    if (text == "Starting tonemapping..." && BetweenPasses) BetweenPasses();
  }
};

// The statistics of the first pass fit only the bytes it read; a job whose
// input changed before the second pass fails, and deletes nothing it did not write.
TEST(FloatJob, InputChangedBetweenThePassesFailsTheJob) {
  const FloatImage image = testing::GradientImage(300, 40);
  // The same file but for one value in the middle of the image.
  FloatImage edited = image;
  edited.Values[edited.Values.size() / 2] += 1.0f;
  const struct {
    int Command;
    std::string Name;
    Bytes File, Edited;
  } inputs[] = {{kOpenPfmCommand, "in.pfm", testing::StandardPfm(image, true),
                 testing::StandardPfm(edited, true)},
                {kOpenTiffCommand, "in.tif", testing::FloatTiff(image, {false, 4}),
                 testing::FloatTiff(edited, {false, 4})}};
  const Bytes theirs = {'t', 'h', 'e', 'i', 'r', 's'};
  for (const auto& input : inputs) {
    for (const bool change : {true, false}) {
      SCOPED_TRACE(input.Name + (change ? " changed" : " rewritten as it was"));
      TempDir dir;
      const std::string in = dir.File(input.Name), out = dir.File("out.tif");
      testing::WriteBytes(in, input.File);
      ChangingWindow window;
      window.DialogAnswers = {in, out};
      window.BetweenPasses = [&] {
        const Bytes& bytes = change ? input.Edited : input.File;
        ASSERT_EQ(bytes.size(), input.File.size());
        std::FILE* f = std::fopen(in.c_str(), "r+b");
        ASSERT_NE(f, nullptr);
        ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
        std::fclose(f);
        testing::WriteBytes(out, theirs);
      };
      Session session(window);
      session.Clock = [] { return 100.0L; };
      HandleCommand(session, input.Command);
      ASSERT_EQ(window.Boxes.size(), 1u);
      if (change) {
        EXPECT_EQ(window.Boxes[0].Text,
                  "Cannot read " + in + " again: it changed while it was tone-mapped.");
        EXPECT_EQ(testing::ReadBytes(out), theirs);
      } else {
        EXPECT_EQ(window.Boxes[0].Title, "LUMIVANE - Success.");
        EXPECT_EQ(testing::TiffPixels(testing::ReadBytes(out)),
                  ReferenceToneMap(image, JobSettings{}));
      }
      EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()),
                              std::filesystem::directory_iterator()),
                2);
    }
  }
}

TEST(FloatJob, TallImagesNeedNoSixteenBitCounters) {
  TempDir dir;
  const FloatImage image = testing::GradientImage(1, 70000);
  testing::WriteBytes(dir.File("in.pfm"), testing::StandardPfm(image, false));
  const JobRun run =
      RunJobCommand(kOpenPfmCommand, dir.File("in.pfm"), dir.File("out.tif"), Settings(true));
  ASSERT_EQ(run.Boxes.size(), 1u);
  EXPECT_EQ(run.Boxes[0].Text, "PFM Tonemapping concluded.");
  EXPECT_EQ(testing::TiffPixels(run.Output), ReferenceToneMap(image, Settings(true)));
  EXPECT_EQ(run.Progress.back(),
            (testing::RecordedProgress{testing::RecordedProgress::Position, 70000, 0}));
}

// ---- files written by other tools ----

// The first and last output rows of a tone-mapped file of the given width.
std::pair<Bytes, Bytes> FirstAndLastRows(const Bytes& tiff, std::size_t width) {
  const Bytes pixels = testing::TiffPixels(tiff);
  if (pixels.size() < width * 3) return {};
  return {Bytes(pixels.begin(), pixels.begin() + width * 3),
          Bytes(pixels.end() - width * 3, pixels.end())};
}

TEST(FloatJobPeers, FloatTiffsFromOiiotoolAndLibtiffToneMapUpright) {
  if (!testing::HaveTool("oiiotool") || !testing::HaveTool("tiffcp"))
    GTEST_SKIP() << "oiiotool or tiffcp is not installed";
  TempDir dir;
  const std::string made = dir.File("oiio.tif");
  ASSERT_EQ(testing::RunCommand("oiiotool --pattern fill:top=1,0.5,0.25:bottom=0,0,0 5x7 3 -d "
                                "float --compression none -o '" +
                                made + "' 2>&1"),
            0);
  const JobRun reference = RunJobCommand(kOpenTiffCommand, made, dir.File("ref.tif"));
  ASSERT_EQ(reference.Boxes.at(0).Text, "TIFF Tonemapping concluded.") << reference.FailureMessage;
  const auto [top, bottom] = FirstAndLastRows(reference.Output, 5);
  EXPECT_EQ(bottom, Bytes(15, 0));
  EXPECT_GT(top[0], 100);
  EXPECT_GT(top[0], top[1]);
  // libtiff rewrites: several strips of one or two rows, in either byte order.
  for (const std::string flags : {"-B -r 1", "-L -r 2", "-B -r 3"}) {
    const std::string copy = dir.File("copy.tif");
    ASSERT_EQ(testing::RunCommand("tiffcp -c none " + flags + " '" + made + "' '" + copy + "'"), 0);
    const JobRun run = RunJobCommand(kOpenTiffCommand, copy, dir.File("out.tif"));
    ASSERT_EQ(run.Boxes.at(0).Text, "TIFF Tonemapping concluded.") << flags << run.FailureMessage;
    EXPECT_EQ(testing::TiffPixels(run.Output), testing::TiffPixels(reference.Output)) << flags;
  }
}

TEST(FloatJobPeers, PfmsFromImageMagickAndPfstoolsToneMapUpright) {
  if (!testing::HaveTool("oiiotool")) GTEST_SKIP() << "oiiotool is not installed";
  TempDir dir;
  const std::string made = dir.File("oiio.tif");
  ASSERT_EQ(testing::RunCommand("oiiotool --pattern fill:top=1,0.5,0.25:bottom=0,0,0 5x7 3 -d "
                                "float --compression none -o '" +
                                made + "' 2>&1"),
            0);
  std::vector<std::pair<std::string, std::string>> commands;
  if (testing::HaveTool("convert")) {
    commands.push_back({"ImageMagick LSB", "convert '" + made + "' -endian LSB "});
    commands.push_back({"ImageMagick MSB", "convert '" + made + "' -endian MSB "});
  }
  if (testing::HaveTool("pfsintiff") && testing::HaveTool("pfsoutpfm"))
    commands.push_back({"pfstools", "pfsintiff '" + made + "' | pfsoutpfm "});
  if (commands.empty()) GTEST_SKIP() << "neither ImageMagick nor pfstools is installed";
  for (const auto& [tool, command] : commands) {
    const std::string pfm = dir.File("peer.pfm");
    ASSERT_EQ(testing::RunCommand(command + "'" + pfm + "' 2>&1"), 0) << tool;
    const JobRun run = RunJobCommand(kOpenPfmCommand, pfm, dir.File("out.tif"));
    ASSERT_EQ(run.Boxes.at(0).Text, "PFM Tonemapping concluded.") << tool << run.FailureMessage;
    const auto [top, bottom] = FirstAndLastRows(run.Output, 5);
    EXPECT_GT(top[0], 100) << tool;
    EXPECT_LT(bottom[0], 10) << tool;
  }
}

}  // namespace
}  // namespace lumivane
