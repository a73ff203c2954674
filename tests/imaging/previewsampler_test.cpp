#include "imaging/previewsampler.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "formats/rgbe.h"
#include "shell/controlids.h"
#include "shell/dispatch.h"
#include "tests/support/floatfiles.h"
#include "tests/support/hdrfiles.h"
#include "tests/support/testfiles.h"

namespace lumivane {
namespace {

using testing::Bytes;
using testing::TempDir;

constexpr std::uint32_t kWidth = 67;
constexpr std::uint32_t kHeight = 45;

TEST(PreviewSampler, GridIsBoundedKeepsTheAspectAndSamplesDistinctPositions) {
  EXPECT_EQ(PreviewSizeFor(kWidth, kHeight).Width, kWidth);
  EXPECT_EQ(PreviewSizeFor(kWidth, kHeight).Height, kHeight);
  const PreviewSize wide = PreviewSizeFor(30000, 15000);
  EXPECT_LE(std::uint64_t{wide.Width} * wide.Height, kPreviewMaxPixels);
  EXPECT_GT(std::uint64_t{wide.Width} * wide.Height, kPreviewMaxPixels * 99 / 100);
  EXPECT_NEAR(double(wide.Width) / wide.Height, 2.0, 0.01);
  const PreviewSize thin = PreviewSizeFor(0xFFFFFFFFu, 3);
  EXPECT_EQ(thin.Height, 1u);
  EXPECT_EQ(thin.Width, kPreviewMaxPixels);
  EXPECT_EQ(PreviewSizeFor(0, 5).Width, 0u);

  for (const auto& [count, size] :
       {std::pair{7u, 10u}, {10u, 10u}, {1u, 9u}, {2000u, 0xFFFFFFFFu}}) {
    std::int64_t previous = -1;
    for (std::uint32_t i = 0; i < count; ++i) {
      const std::uint32_t at = PreviewSourceIndex(i, count, size);
      EXPECT_GT(std::int64_t{at}, previous);
      EXPECT_LT(at, size);
      if (count == size) {
        EXPECT_EQ(at, i);
      }
      previous = at;
    }
  }
  EXPECT_EQ(PreviewSourceIndex(0, 1, 9), 4u);
}

JobSettings MakeSettings(float brightness, float contrast, bool warm) {
  JobSettings settings;
  settings.Brightness = brightness;
  settings.PostGamma = PostGammaFromContrast(contrast);
  settings.WarmColours = warm ? 1 : 0;
  return settings;
}

// The PFM with a comment line after its signature, as ImageMagick writes it.
Bytes Commented(Bytes pfm) {
  const std::string comment = "# made by a test\n";
  pfm.insert(pfm.begin() + 3, comment.begin(), comment.end());
  return pfm;
}

struct Input {
  const char* Name;
  int Command;
  Bytes File;
};

class PreviewAgainstJobs : public ::testing::TestWithParam<int> {};

// The samples of one job, rendered for other settings, are the bytes that
// jobs with those settings write at the sampled positions.
TEST_P(PreviewAgainstJobs, RenderGivesTheJobsBytesForEverySetting) {
  testing::FloatImage image = testing::GradientImage(kWidth, kHeight);
  // A spike clips a channel, and a dark corner sits at the minimum.
  image.Values[3 * (kWidth * 20 + 30)] = 5000.0f;
  const std::vector<Input> inputs = {
      {"scene.hdr", kOpenHdrCommand,
       testing::HdrFile(testing::PatternImage(kWidth, kHeight, 7),
                        testing::RgbeRowForm::ComponentRuns)},
      {"scene.tif", kOpenTiffCommand, testing::FloatTiff(image, {.IntelOrder = false})},
      // PFM rows are stored bottom row first.
      {"scene.pfm", kOpenPfmCommand, testing::StandardPfm(image, true)},
      // A comment line sends it to the library readers' job.
      {"commented.pfm", kOpenGeneralPfmCommand, Commented(testing::StandardPfm(image, true))}};
  const Input& input = inputs[GetParam()];
  TempDir folder;
  const std::string in = folder.File(input.Name);
  testing::WriteBytes(in, input.File);

  // Fewer preview pixels than image pixels, so the grid really subsamples.
  PreviewSampler sampler(500);
  testing::StepHarness harness;
  harness.Steps.Preview = &sampler;
  harness.Steps.Settings = MakeSettings(0.8f, 1.2f, false);
  harness.Window.DialogAnswers = {in, folder.File("first.tif")};
  HandleCommand(harness.Steps, input.Command);
  ASSERT_EQ(sampler.Finished(), 1u);
  const PreviewSamples* samples = sampler.Last();
  ASSERT_NE(samples, nullptr);
  EXPECT_EQ(samples->OutputFileName, folder.File("first.tif"));
  EXPECT_EQ(samples->Settings.PostGamma, PostGammaFromContrast(1.2f));
  const PreviewSize size = samples->Size;
  EXPECT_LE(std::uint64_t{size.Width} * size.Height, 500u);
  EXPECT_GT(size.Width, 10u);
  EXPECT_EQ(samples->Values.size(), std::size_t{size.Width} * size.Height * 3);

  const std::vector<JobSettings> settings = {
      MakeSettings(0.8f, 1.2f, false), MakeSettings(2.5f, 1.2f, false),
      MakeSettings(0.3f, 0.4f, false), MakeSettings(0.8f, 3.0f, true),
      MakeSettings(1.0f, 1.0f, true),  MakeSettings(50.0f, 10.0f, false)};
  for (const JobSettings& s : settings) {
    const testing::JobRun run =
        testing::RunJobCommand(input.Command, in, folder.File("reference.tif"), s);
    const Bytes pixels = testing::TiffPixels(run.Output);
    ASSERT_EQ(pixels.size(), std::size_t{3} * kWidth * kHeight);
    const PreviewImage preview =
        RenderPreview(*samples, {s.Brightness, s.PostGamma, s.WarmColours != 0});
    ASSERT_EQ(preview.Width, size.Width);
    ASSERT_EQ(preview.Rgb.size(), samples->Values.size());
    int differences = 0;
    for (std::uint32_t y = 0; y < size.Height; ++y) {
      const std::uint32_t sy = PreviewSourceIndex(y, size.Height, kHeight);
      for (std::uint32_t x = 0; x < size.Width; ++x) {
        const std::uint32_t sx = PreviewSourceIndex(x, size.Width, kWidth);
        for (int c = 0; c < 3; ++c) {
          differences += preview.Rgb[(std::size_t{y} * size.Width + x) * 3 + c] !=
                         pixels[(std::size_t{sy} * kWidth + sx) * 3 + c];
        }
      }
    }
    EXPECT_EQ(differences, 0) << input.Name << " brightness " << s.Brightness << " k "
                              << s.PostGamma << " warm " << s.WarmColours;
    const ChannelHistograms histograms = HistogramsOf(preview);
    for (int c = 0; c < 3; ++c) {
      std::uint64_t total = 0;
      for (const std::uint32_t count : histograms[c]) total += count;
      EXPECT_EQ(total, std::uint64_t{size.Width} * size.Height);
    }
  }

  // A conversion feeds nothing: the last job's samples stay. (The menu's
  // conversions read no commented PFM.)
  if (input.Command == kOpenGeneralPfmCommand) return;
  const bool pfm = input.Command == kOpenPfmCommand;
  harness.Window.DialogAnswers = {in, folder.File(pfm ? "converted.tif" : "converted.pfm")};
  HandleCommand(harness.Steps, input.Command == kOpenHdrCommand ? kHdrToPfmCommand
                               : pfm                            ? kPfmToTiffCommand
                                                                : kTiffToPfmCommand);
  ASSERT_EQ(harness.Window.Boxes.back().Title, "LUMIVANE - Success.");
  EXPECT_EQ(sampler.Finished(), 1u);
  EXPECT_EQ(sampler.Last(), samples);
  // A job that begins and never finishes leaves nothing half made to show.
  sampler.Begin(kWidth, kHeight, samples->Precision, {}, kWidth * kHeight, {});
  EXPECT_EQ(sampler.Last(), nullptr);
}

// Three grey pixels whose last one, with Brightness 1 and the exponent 1.2,
// lands on a rounding edge: 137 through the Radiance job's 32-bit operator,
// 138 through the float job's 64-bit one. Each preview follows its own job.
TEST(PreviewSampler, EachInputKindUsesItsJobsOperatorWidth) {
  const std::uint8_t mantissas[] = {0, 202, 195};
  testing::RgbePixels pixels{3, 1, {}};
  testing::FloatImage floats{3, 1, {}};
  for (const std::uint8_t m : mantissas) {
    const std::uint8_t e = m == 0 ? 0 : 100;
    pixels.Pixels.push_back({m, m, m, e});
    for (int c = 0; c < 3; ++c) floats.Values.push_back(RgbeToFloat(m, e));
  }
  TempDir folder;
  const std::string hdr = folder.File("edge.hdr"), pfm = folder.File("edge.pfm");
  testing::WriteBytes(hdr, testing::HdrFile(pixels, testing::RgbeRowForm::Flat));
  testing::WriteBytes(pfm, testing::StandardPfm(floats, true));
  JobSettings settings;
  settings.Brightness = 1.0f;
  settings.PostGamma = 1.2f;
  std::vector<std::uint8_t> lastBytes;
  for (const auto& [command, input] :
       {std::pair{int{kOpenHdrCommand}, hdr}, {int{kOpenPfmCommand}, pfm}}) {
    PreviewSampler sampler;
    testing::StepHarness harness;
    harness.Steps.Preview = &sampler;
    harness.Steps.Settings = settings;
    const std::string output = folder.File("edge.tif");
    harness.Window.DialogAnswers = {input, output};
    HandleCommand(harness.Steps, command);
    ASSERT_NE(sampler.Last(), nullptr);
    const Bytes written = testing::TiffPixels(testing::ReadBytes(output));
    EXPECT_EQ(RenderPreview(*sampler.Last(), {1.0f, 1.2f, false}).Rgb, written);
    ASSERT_EQ(written.size(), 9u);
    lastBytes.push_back(written[6]);
  }
  EXPECT_EQ(lastBytes, (std::vector<std::uint8_t>{137, 138}));
}

INSTANTIATE_TEST_SUITE_P(Inputs, PreviewAgainstJobs, ::testing::Values(0, 1, 2, 3));

}  // namespace
}  // namespace lumivane
