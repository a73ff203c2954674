#include "steps/tonemapjob.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "formats/rgbe.h"
#include "shell/controlids.h"
#include "shell/dispatch.h"
#include "steps/radiance.h"
#include "steps/session.h"
#include "steps/statuslog.h"
#include "steps/tiffwriter.h"
#include "tests/support/hdrfiles.h"
#include "tests/support/recordingwindow.h"
#include "tests/support/rgbeimage.h"
#include "tests/support/testfiles.h"

namespace lumivane {
namespace {

using testing::RecordedBox;
using testing::RecordingWindow;
using testing::RgbePixel;
using testing::RgbePixels;
using testing::RgbeRowForm;
using testing::TempDir;

// File > "Open HDR" through the dispatcher, the dialogs answered with `input`
// and `output`.
struct OpenHdrRun {
  RecordingWindow Window;
  Session Session_{Window};
  std::vector<std::uint8_t> Output;

  OpenHdrRun(const std::string& input, const std::string& output, bool warm = false) {
    Window.DialogAnswers = {input, output};
    Session_.Clock = [] { return 100.0L; };
    Session_.Settings.WarmColours = warm ? 1 : 0;
    HandleCommand(Session_, kOpenHdrCommand);
    if (testing::FileExists(output)) Output = testing::ReadBytes(output);
  }
  std::vector<std::uint8_t> Pixels() const {
    if (Output.size() < kTiffHeaderSize) return {};
    return {Output.begin() + kTiffHeaderSize, Output.end()};
  }
};

std::vector<std::uint8_t> ToneMapFile(const std::vector<std::uint8_t>& file, bool warm = false) {
  TempDir dir;
  testing::WriteBytes(dir.File("in.hdr"), file);
  OpenHdrRun run(dir.File("in.hdr"), dir.File("out.tif"), warm);
  EXPECT_EQ(run.Window.Boxes,
            (std::vector<RecordedBox>{
                {"HDR Tonemapping concluded.", "LUMIVANE - Success.", BoxKind::Information}}));
  return run.Pixels();
}

TEST(ToneMapHdrImage, CompleteJobLogsEveryStageInOrder) {
  // A pixel of four zero bytes (the minimum) and one of 0.99609375 in each
  // channel: Brightness 0.8 and the start exponent 1.2 give 143.
  TempDir dir;
  const std::string in = dir.File("in.hdr"), out = dir.File("out.tif");
  const RgbePixels image{2, 1, {{0, 0, 0, 0}, {127, 127, 127, 129}}};
  testing::WriteBytes(in, testing::HdrFile(image, RgbeRowForm::Flat));
  OpenHdrRun run(in, out);

  const std::string low = " 5.73971850987445E-42,";
  const std::string channel = low + " .99609375, .99609375, .4980469";
  EXPECT_EQ(run.Window.Log, (std::vector<std::string>{
                                "#?RADIANCE",
                                "FORMAT=32-bit_rle_rgbe",
                                "EXPOSURE = 1",
                                "",
                                "Image Length = 1",
                                "Image Width = 2",
                                "Ready to read HDR data from " + in,
                                "Input file opened:",
                                out,
                                "Creating IFD for 24-bit file.",
                                "IFD written to file " + out,
                                "Time used: 0 seconds",
                                "Got all data, closed source file.",
                                in,
                                "Decompressing RGBE data",
                                "RLE-0 Lines: 1",
                                "RLE-1 Lines: 0",
                                "RLE-2 Lines: 0",
                                "Decompressed RGBE data and RGBE image created in 0 seconds",
                                "Converting RGBE to float to find extreme values",
                                "Statistics (Low, High, Sum, Average of values)",
                                "Red:  " + channel,
                                "Green:" + channel,
                                "Blue: " + channel,
                                "Grey:  1.00000000317108E-30, .99609375, .99609375, .498046875",
                                "Dynamic range (grey):  9.9609374684131E+29",
                                "Established min and max values in image in 0 seconds",
                                "Starting tonemapping...",
                                "Decoding RGBE and converting to integer values",
                                "Tonemapping in 0 seconds",
                                "Writing to destination file.",
                                "Assembling and writing file in 0 seconds",
                                "Closed destination file " + out}));
  EXPECT_EQ(run.Window.Boxes,
            (std::vector<RecordedBox>{
                {"HDR Tonemapping concluded.", "LUMIVANE - Success.", BoxKind::Information}}));
  ASSERT_EQ(run.Output.size(), kTiffHeaderSize + 6);
  EXPECT_EQ(run.Pixels(), (std::vector<std::uint8_t>{0, 0, 0, 143, 143, 143}));
  EXPECT_FALSE(run.Session_.Context.InputFile.IsOpen());
  EXPECT_FALSE(run.Session_.Context.OutputFile.IsOpen());
  EXPECT_TRUE(run.Window.IsEnabled(kOpenHdrCommand));

  // The decoding pass sets row indexes, the three others row numbers.
  using P = testing::RecordedProgress;
  const std::vector<P> passes = {{P::Range, 1, 1},    {P::Position, 0, 0}, {P::Range, 1, 1},
                                 {P::Position, 1, 0}, {P::Range, 1, 1},    {P::Position, 1, 0},
                                 {P::Range, 1, 1},    {P::Position, 1, 0}};
  ASSERT_GE(run.Window.Progress.size(), passes.size());
  EXPECT_EQ(std::vector<P>(run.Window.Progress.end() - static_cast<std::ptrdiff_t>(passes.size()),
                           run.Window.Progress.end()),
            passes);
}

TEST(ToneMapHdrImage, ProgressCoversEveryRowOfEachPass) {
  TempDir dir;
  testing::WriteBytes(dir.File("in.hdr"),
                      testing::HdrFile(testing::PatternImage(5, 4), RgbeRowForm::ComponentRuns));
  OpenHdrRun run(dir.File("in.hdr"), dir.File("out.tif"));
  using P = testing::RecordedProgress;
  std::vector<P> passes = {{P::Range, 1, 4}};
  for (std::uint32_t y = 0; y < 4; ++y) passes.push_back({P::Position, y, 0});
  for (int pass = 0; pass < 3; ++pass) {
    passes.push_back({P::Range, 1, 4});
    for (std::uint32_t y = 1; y <= 4; ++y) passes.push_back({P::Position, y, 0});
  }
  ASSERT_GE(run.Window.Progress.size(), passes.size());
  EXPECT_EQ(std::vector<P>(run.Window.Progress.end() - static_cast<std::ptrdiff_t>(passes.size()),
                           run.Window.Progress.end()),
            passes);
  EXPECT_EQ(run.Output.size(), kTiffHeaderSize + 5 * 4 * 3);
}

TEST(ToneMapHdrImage, RowFormsAndSizesGiveIdenticalPixels) {
  const std::pair<std::uint32_t, std::uint32_t> sizes[] = {
      {1, 1}, {9, 1}, {9, 2}, {33, 7}, {300, 2}};
  for (const auto& [width, height] : sizes) {
    const RgbePixels image = testing::PatternImage(width, height, 7 * width + height);
    const auto flat = ToneMapFile(testing::HdrFile(image, RgbeRowForm::Flat));
    ASSERT_EQ(flat.size(), std::size_t{width} * height * 3) << width << "x" << height;
    EXPECT_EQ(ToneMapFile(testing::HdrFile(image, RgbeRowForm::ComponentRuns)), flat);
    EXPECT_EQ(ToneMapFile(testing::HdrFile(image, RgbeRowForm::OldRuns)), flat);
  }
  // A 1 x 1 image sits at its own minimum: black, in a 311-byte file.
  const auto single =
      ToneMapFile(testing::HdrFile(RgbePixels{1, 1, {{200, 100, 50, 140}}}, RgbeRowForm::Flat));
  EXPECT_EQ(single, (std::vector<std::uint8_t>{0, 0, 0}));
}

TEST(ToneMapHdrImage, NeutralImagesStayNeutral) {
  RgbePixels image = testing::PatternImage(20, 3, 5);
  for (auto& pixel : image.Pixels) pixel.G = pixel.B = pixel.R;
  for (const bool warm : {false, true}) {
    const auto pixels = ToneMapFile(testing::HdrFile(image, RgbeRowForm::Flat), warm);
    ASSERT_EQ(pixels.size(), 20u * 3 * 3);
    bool varied = false;
    for (std::size_t i = 0; i < pixels.size(); i += 3) {
      EXPECT_EQ(pixels[i], pixels[i + 1]) << i;
      EXPECT_EQ(pixels[i], pixels[i + 2]) << i;
      varied = varied || pixels[i] != pixels[0];
    }
    EXPECT_TRUE(varied);
  }
}

TEST(ToneMapHdrImage, RefusedRowHeadLeavesNoOutput) {
  TempDir dir;
  const std::string in = dir.File("in.hdr"), out = dir.File("out.tif");
  std::vector<std::uint8_t> data =
      testing::EncodeFlatRow(testing::PatternImage(10, 1).Pixels.data(), 10);
  data.insert(data.end(), {2, 2, 0, 5, 138, 1, 138, 1, 138, 1, 138, 1});
  testing::WriteBytes(in, testing::HdrFile(testing::StandardHdrHeader(10, 2), data));
  OpenHdrRun run(in, out);
  EXPECT_EQ(run.Window.Boxes,
            (std::vector<RecordedBox>{
                {"Cannot handle data.", "LUMIVANE - Radiance", BoxKind::Warning},
                {"RLE type 2 header error.", "LUMIVANE - Abort.", BoxKind::Error}}));
  EXPECT_FALSE(testing::FileExists(out));
  EXPECT_TRUE(testing::FileExists(in));
  ASSERT_FALSE(run.Window.Log.empty());
  EXPECT_EQ(run.Window.Log.back(), SeparatorLine());
  EXPECT_TRUE(run.Window.IsEnabled(kOpenHdrCommand));
}

TEST(ToneMapHdrImage, FailedWriteFailsTheJobAndRemovesTheOutput) {
  if (!testing::FileExists("/dev/full")) GTEST_SKIP() << "no /dev/full here";
  TempDir dir;
  const std::string in = dir.File("in.hdr"), out = dir.File("out.tif");
  testing::WriteBytes(in, testing::HdrFile(testing::PatternImage(8, 3), RgbeRowForm::Flat));
  RecordingWindow window;
  window.DialogAnswers = {in, out};
  Session session(window);
  ASSERT_TRUE(ReadHdrHeader(session));
  ASSERT_TRUE(WriteTiff24Header(session));
  // The disk fills up behind the header.
  session.Context.OutputFile = BinaryFile::CreateForWriting("/dev/full");
  EXPECT_FALSE(ToneMapHdrImage(session));
  const std::string text = "Cannot write " + out + ": " + std::strerror(ENOSPC);
  EXPECT_EQ(session.Context.FailureMessage, text);
  EXPECT_EQ(std::vector<std::string>(window.Log.end() - 4, window.Log.end()),
            (std::vector<std::string>{text, "Closed and deleted file:", out, SeparatorLine()}));
  EXPECT_FALSE(testing::FileExists(out));
  EXPECT_FALSE(session.Context.OutputFile.IsOpen());
  EXPECT_TRUE(testing::FileExists("/dev/full"));
}

// Into a regular file every worker writes its own rows: a file that may
// grow no further fails the job as a full disk does, and leaves no output.
TEST(ToneMapHdrImage, WritesRefusedPartWayFailTheJobAndRemoveTheOutput) {
  TempDir dir;
  const std::string in = dir.File("in.hdr"), out = dir.File("out.tif");
  testing::WriteBytes(
      in, testing::HdrFile(testing::PatternImage(600, 400), RgbeRowForm::ComponentRuns));
  std::signal(SIGXFSZ, SIG_IGN);
  rlimit saved{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  rlimit small = saved;
  small.rlim_cur = 300000;  // of 720,000 bytes of rows
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  OpenHdrRun run(in, out);
  setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, SIG_DFL);
  const std::string text = "Cannot write " + out + ": " + std::strerror(EFBIG);
  EXPECT_EQ(run.Session_.Context.FailureMessage, text);
  EXPECT_FALSE(testing::FileExists(out));
  const auto left = std::distance(std::filesystem::directory_iterator(dir.Path()),
                                  std::filesystem::directory_iterator());
  EXPECT_EQ(left, 1) << "only the input is left";
}

// A window that lets a test change the input while the job is between its
// two passes over the file.
class ChangingWindow : public RecordingWindow {
 public:
  std::function<void()> BetweenPasses;
  void InsertLogLine(std::size_t position, const std::string& text) override {
    RecordingWindow::InsertLogLine(position, text);
    if (text == "Starting tonemapping..." && BetweenPasses) BetweenPasses();
  }
};

// The second pass reads the file again: it must be what the first pass read,
// or the job fails rather than write pixels that its statistics do not fit.
TEST(ToneMapHdrImage, InputChangedBetweenThePassesFailsTheJob) {
  TempDir dir;
  const std::string in = dir.File("in.hdr"), out = dir.File("out.tif");
  // Over two megabytes of flat rows, so that the file is read in pieces.
  const std::vector<std::uint8_t> file =
      testing::HdrFile(testing::PatternImage(1024, 520), RgbeRowForm::Flat);
  ASSERT_GT(file.size(), std::size_t{2} << 20);
  testing::WriteBytes(in, file);
  const std::vector<std::uint8_t> expected = ToneMapFile(file);
  ASSERT_FALSE(expected.empty());

  struct Change {
    const char* What;
    std::function<void(std::vector<std::uint8_t>&)> Apply;
    bool Fails;
  };
  const Change changes[] = {
      {"one byte in the last piece", [](auto& bytes) { bytes[bytes.size() - 3] ^= 0x40; }, true},
      {"one byte in the first piece", [](auto& bytes) { bytes[200] ^= 0x01; }, true},
      {"cut short", [](auto& bytes) { bytes.resize(bytes.size() - 5000); }, true},
      // Bytes past the end that the first pass saw are no part of the image.
      {"grown", [](auto& bytes) { bytes.insert(bytes.end(), 300, 7); }, false},
      {"rewritten as it was", [](auto&) {}, false},
  };
  for (const Change& change : changes) {
    testing::WriteBytes(in, file);
    ChangingWindow window;
    window.DialogAnswers = {in, out};
    window.BetweenPasses = [&] {
      // In place, as an editor saving over the file would: the job's open
      // descriptor sees the new bytes.
      std::vector<std::uint8_t> bytes = file;
      change.Apply(bytes);
      std::FILE* f = std::fopen(in.c_str(), "r+b");
      ASSERT_NE(f, nullptr);
      ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
      std::fclose(f);
      if (bytes.size() < file.size()) {
        ASSERT_EQ(::truncate(in.c_str(), static_cast<off_t>(bytes.size())), 0);
      }
    };
    Session session(window);
    session.Clock = [] { return 100.0L; };
    HandleCommand(session, kOpenHdrCommand);
    if (change.Fails) {
      const std::string text = "Cannot read " + in + " again: it changed while it was tone-mapped.";
      EXPECT_EQ(window.Boxes, (std::vector<RecordedBox>{
                                  {"Cannot handle data.", "LUMIVANE - Radiance", BoxKind::Warning},
                                  {text, "LUMIVANE - Abort.", BoxKind::Error}}))
          << change.What;
      EXPECT_FALSE(testing::FileExists(out)) << change.What;
      ASSERT_FALSE(window.Log.empty());
      EXPECT_EQ(window.Log.back(), SeparatorLine());
    } else {
      EXPECT_EQ(window.Boxes.size(), 1u) << change.What;
      ASSERT_TRUE(testing::FileExists(out)) << change.What;
      const std::vector<std::uint8_t> got = testing::ReadBytes(out);
      EXPECT_EQ(std::vector<std::uint8_t>(got.begin() + kTiffHeaderSize, got.end()), expected)
          << change.What;
    }
    std::remove(out.c_str());
  }
}

// --- Peer tools ---

struct FloatImage {
  int Width = 0, Height = 0;
  std::vector<float> Values;  // RGB, top row first
};

void WritePfm(const std::string& path, const FloatImage& image) {
  std::string text =
      "PF\n" + std::to_string(image.Width) + " " + std::to_string(image.Height) + "\n-1.0\n";
  std::vector<std::uint8_t> bytes(text.begin(), text.end());
  // PFM rows go from the bottom up.
  for (int y = image.Height - 1; y >= 0; --y) {
    const auto* row = reinterpret_cast<const std::uint8_t*>(image.Values.data() +
                                                            std::size_t(y) * image.Width * 3);
    bytes.insert(bytes.end(), row, row + std::size_t(image.Width) * 12);
  }
  testing::WriteBytes(path, bytes);
}

FloatImage ReadPfm(const std::string& path) {
  const auto bytes = testing::ReadBytes(path);
  std::string head(bytes.begin(), bytes.begin() + std::min<std::size_t>(bytes.size(), 64));
  std::istringstream in(head);
  std::string magic;
  double scale = 0;
  FloatImage image;
  in >> magic >> image.Width >> image.Height >> scale;
  if (magic != "PF" || scale >= 0) return {};
  const std::size_t start = static_cast<std::size_t>(in.tellg()) + 1;
  const std::size_t count = std::size_t(image.Width) * image.Height * 3;
  if (bytes.size() < start + count * 4) return {};
  image.Values.resize(count);
  for (int y = 0; y < image.Height; ++y) {
    std::memcpy(image.Values.data() + std::size_t(image.Height - 1 - y) * image.Width * 3,
                bytes.data() + start + std::size_t(y) * image.Width * 12,
                std::size_t(image.Width) * 12);
  }
  return image;
}

// A scene with dynamic range: a horizontal sweep over six decades in red, a
// vertical ramp in green, constant blue.
FloatImage Scene(int width, int height) {
  FloatImage image{width, height, {}};
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      image.Values.push_back(0.001f * std::pow(10.0f, 6.0f * x / (width - 1)));
      image.Values.push_back(0.01f + 5.0f * y / height);
      image.Values.push_back(0.5f);
    }
  }
  return image;
}

TEST(ToneMapHdrImage, FilesOfPeerToolsDecodeAndOurTiffReadsBack) {
  for (const char* tool : {"oiiotool", "convert", "pfsin", "pfsout", "tiffinfo"}) {
    if (!testing::HaveTool(tool)) GTEST_SKIP() << tool << " is not installed";
  }
  TempDir dir;
  const int width = 64, height = 40;
  WritePfm(dir.File("scene.pfm"), Scene(width, height));

  const std::vector<std::pair<std::string, std::string>> makers = {
      {"oiiotool", "oiiotool " + dir.File("scene.pfm") + " -o " + dir.File("oiiotool.hdr")},
      {"convert", "convert " + dir.File("scene.pfm") + " " + dir.File("convert.hdr")},
      {"pfsout", "pfsin " + dir.File("scene.pfm") + " | pfsout " + dir.File("pfsout.hdr")}};
  for (const auto& [name, command] : makers) {
    SCOPED_TRACE(name);
    const std::string hdr = dir.File(name + ".hdr");
    ASSERT_EQ(testing::RunCommand(command + " 2>&1"), 0) << command;

    // Our decoding against pfstools' (which may leave out the half step of
    // the mantissa): within one mantissa step of the pixel's largest channel.
    ASSERT_EQ(testing::RunCommand("pfsin " + hdr + " | pfsout " + dir.File(name + ".pfm")), 0);
    const FloatImage reference = ReadPfm(dir.File(name + ".pfm"));
    ASSERT_EQ(reference.Values.size(), std::size_t(width) * height * 3);
    {
      RecordingWindow window;
      window.DialogAnswers = {hdr};
      Session session(window);
      ASSERT_TRUE(ReadHdrHeader(session));
      RgbeImage image;
      ASSERT_TRUE(LoadRgbeImage(session, image));
      ASSERT_EQ(image.Width, std::uint32_t(width));
      ASSERT_EQ(image.Height, std::uint32_t(height));
      for (std::size_t i = 0; i < image.R.size(); ++i) {
        const std::uint8_t* planes[3] = {image.R.data(), image.G.data(), image.B.data()};
        float largest = 0;
        for (int c = 0; c < 3; ++c)
          largest = std::max(largest, RgbeToFloat(planes[c][i], image.E[i]));
        for (int c = 0; c < 3; ++c) {
          const float ours = RgbeToFloat(planes[c][i], image.E[i]);
          const float theirs = reference.Values[3 * i + c];
          ASSERT_NEAR(ours, theirs, largest / 128) << "pixel " << i << " channel " << c;
        }
      }
    }

    const std::string tif = dir.File(name + ".tif");
    OpenHdrRun run(hdr, tif);
    ASSERT_EQ(run.Window.Boxes.size(), 1u);
    EXPECT_EQ(run.Window.Boxes[0].Text, "HDR Tonemapping concluded.");
    ASSERT_EQ(run.Output.size(), kTiffHeaderSize + std::size_t(width) * height * 3);

    std::string info;
    ASSERT_EQ(testing::RunCommand("tiffinfo " + tif + " 2>&1", &info), 0) << info;
    EXPECT_NE(info.find("Image Width: 64 Image Length: 40"), std::string::npos) << info;
    EXPECT_NE(info.find("Bits/Sample: 8"), std::string::npos) << info;
    EXPECT_NE(info.find("Samples/Pixel: 3"), std::string::npos) << info;
    EXPECT_EQ(info.find("Warning"), std::string::npos) << info;
    if (testing::HaveTool("tiffdump")) {
      std::string dump;
      EXPECT_EQ(testing::RunCommand("tiffdump " + tif + " 2>&1", &dump), 0) << dump;
      EXPECT_NE(dump.find("StripByteCounts (279) LONG (4) 1<7680>"), std::string::npos) << dump;
    }
    std::string oiioInfo;
    ASSERT_EQ(testing::RunCommand("oiiotool --info -v " + tif + " 2>&1", &oiioInfo), 0);
    EXPECT_NE(oiioInfo.find("64 x   40, 3 channel, uint8 tiff"), std::string::npos) << oiioInfo;
    EXPECT_NE(oiioInfo.find("LUMIVANE"), std::string::npos) << oiioInfo;

    // Other readers see our pixel bytes.
    std::string raw;
    ASSERT_EQ(testing::RunCommand("convert " + tif + " -depth 8 rgb:-", &raw), 0);
    EXPECT_TRUE(std::vector<std::uint8_t>(raw.begin(), raw.end()) == run.Pixels());
    ASSERT_EQ(testing::RunCommand("oiiotool " + tif + " -o " + dir.File(name + ".ppm")), 0);
    const auto ppm = testing::ReadBytes(dir.File(name + ".ppm"));
    const std::string ppmHead = "P6\n64 40\n255\n";
    ASSERT_GT(ppm.size(), ppmHead.size());
    EXPECT_TRUE(std::vector<std::uint8_t>(
                    ppm.end() - static_cast<std::ptrdiff_t>(width * height * 3), ppm.end()) ==
                run.Pixels());
  }
}

}  // namespace
}  // namespace lumivane
