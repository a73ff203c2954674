// The jobs with their fast paths, run with one and with several threads,
// against a computation from the reference functions alone.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <bit>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <nlohmann/json.hpp>
#include <random>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "cli/commandline.h"
#include "formats/rgbe.h"
#include "imaging/statistics.h"
#include "imaging/tonemap.h"
#include "shell/controlids.h"
#include "shell/dispatch.h"
#include "steps/session.h"
#include "steps/statuslog.h"
#include "tests/cli/clirun.h"
#include "tests/support/floatfiles.h"
#include "tests/support/hdrfiles.h"
#include "tests/support/recordingwindow.h"
#include "tests/support/testfiles.h"

namespace lumivane {
namespace {

using testing::RecordingWindow;

const char* const kThreadCounts[] = {"1", "2", "3", "7"};

struct JobRun {
  std::vector<std::string> Events;
  std::vector<std::uint8_t> Output;
};

struct Settings {
  float Brightness;
  float PostGamma;
  bool Warm;
};

// One command, start to end, with a clock that stands still.
JobRun RunCommand(int command, const std::string& input, const std::string& output,
                  const Settings& settings, const char* threads) {
  ::setenv("LUMIVANE_THREADS", threads, 1);
  RecordingWindow window;
  Session session(window);
  session.Clock = [] { return 3600.0L; };
  session.Settings.Brightness = settings.Brightness;
  session.Settings.PostGamma = settings.PostGamma;
  session.Settings.WarmColours = settings.Warm ? 1 : 0;
  window.DialogAnswers = {input, output};
  HandleCommand(session, command);
  ::unsetenv("LUMIVANE_THREADS");
  JobRun run{window.Events, {}};
  if (testing::FileExists(output)) run.Output = testing::ReadBytes(output);
  return run;
}

// The statistics lines and the pixel bytes from the reference functions only.
struct Expected {
  std::vector<std::string> StatisticsLines;
  std::vector<std::uint8_t> Pixels;
};

std::vector<std::string> StatisticsLines(const ImageStatistics& statistics) {
  RecordingWindow window;
  Session session(window);
  LogImageStatistics(session, statistics);
  return window.Log;
}

Expected ReferenceHdr(const testing::RgbePixels& image, const Settings& settings) {
  ChannelAccumulators accumulators;
  for (const testing::RgbePixel& p : image.Pixels) {
    accumulators[0].Add(RgbeToFloat(p.R, p.E));
    accumulators[1].Add(RgbeToFloat(p.G, p.E));
    accumulators[2].Add(RgbeToFloat(p.B, p.E));
  }
  const ImageStatistics statistics =
      ComputeImageStatistics(accumulators, image.Width * image.Height, settings.Warm);
  Expected expected{StatisticsLines(statistics), {}};
  for (const testing::RgbePixel& p : image.Pixels) {
    const std::uint8_t mantissas[] = {p.R, p.G, p.B};
    for (int c = 0; c < 3; ++c) {
      expected.Pixels.push_back(ToneMapChannel(
          RgbeToFloat(mantissas[c], p.E), statistics.Minimum[c], statistics.Average[c],
          settings.Brightness, settings.PostGamma, OperatorWidth::Single));
    }
  }
  return expected;
}

// `lines` as consecutive log lines among the recorded events.
bool ContainsInOrder(const std::vector<std::string>& recorded,
                     const std::vector<std::string>& lines) {
  std::vector<std::string> events;
  for (const std::string& event : recorded) {
    if (event.rfind("insert ", 0) == 0) events.push_back(event.substr(event.find(' ', 7) + 1));
  }
  for (std::size_t i = 0; i + lines.size() <= events.size(); ++i) {
    bool all = true;
    for (std::size_t j = 0; j < lines.size() && all; ++j) {
      all = events[i + j] == lines[j];
    }
    if (all) return true;
  }
  return false;
}

const Settings kSettings[] = {
    {0.8f, 1.0f, true},          {0.8f, 1.0f / 1.2f, false}, {0.01f, 1.0f / 1.2f, true},
    {50.0f, 1.0f / 1.2f, false}, {1.0f, 1.2f, true},
};

TEST(FastJobs, HdrToneMappingIsTheSameForAnyThreadCountAndEqualsTheReference) {
  struct Size {
    std::uint32_t Width, Height;
  };
  // 1 x 1, one row, rows narrower and wider than a wave, odd widths.
  const Size sizes[] = {{1, 1}, {9, 1}, {300, 1}, {1, 5}, {13, 2}, {257, 3}, {31, 17}, {4099, 2}};
  testing::TempDir folder;
  const std::string input = folder.File("in.hdr"), output = folder.File("out.tif");
  std::uint32_t seed = 1;
  for (const Size& size : sizes) {
    const testing::RgbePixels image = testing::PatternImage(size.Width, size.Height, seed++);
    const auto form =
        size.Width >= 8 ? testing::RgbeRowForm::ComponentRuns : testing::RgbeRowForm::Flat;
    testing::WriteBytes(input, testing::HdrFile(image, form));
    for (const Settings& settings : kSettings) {
      SCOPED_TRACE(std::to_string(size.Width) + " x " + std::to_string(size.Height) + " B " +
                   std::to_string(settings.Brightness) + " k " +
                   std::to_string(settings.PostGamma) + (settings.Warm ? " warm" : ""));
      const Expected expected = ReferenceHdr(image, settings);
      const JobRun one = RunCommand(kOpenHdrCommand, input, output, settings, "1");
      ASSERT_EQ(one.Output.size(), 308 + expected.Pixels.size());
      EXPECT_TRUE(
          std::equal(expected.Pixels.begin(), expected.Pixels.end(), one.Output.begin() + 308));
      EXPECT_TRUE(ContainsInOrder(one.Events, expected.StatisticsLines));
      for (const char* threads : kThreadCounts) {
        const JobRun many = RunCommand(kOpenHdrCommand, input, output, settings, threads);
        EXPECT_EQ(many.Events, one.Events) << threads << " threads";
        // The headers carry the time of day; the pixel data must match.
        ASSERT_EQ(many.Output.size(), one.Output.size()) << threads << " threads";
        EXPECT_TRUE(
            std::equal(one.Output.begin() + 308, one.Output.end(), many.Output.begin() + 308))
            << threads << " threads";
      }
    }
  }
}

// One command line, and what it wrote to `output` (then removed).
struct CliJobRun : testing::CliRun {
  std::vector<std::uint8_t> Output;
};

CliJobRun RunCliWith(const char* threads, const std::vector<std::string>& args,
                  const std::string& output) {
  ::setenv("LUMIVANE_THREADS", threads, 1);
  CliJobRun run;
  static_cast<testing::CliRun&>(run) = testing::RunCliInProcess(args);
  ::unsetenv("LUMIVANE_THREADS");
  if (!output.empty() && testing::FileExists(output)) {
    run.Output = testing::ReadBytes(output);
    std::remove(output.c_str());
  }
  return run;
}

// The bundled photograph, 512 x 256, tiled 2 x 3: noisy rows of mostly
// literal bytes, over several blocks of rows.
testing::RgbePixels TiledPhotograph() {
  const std::vector<std::uint8_t> file =
      testing::ReadBytes(std::string(LUMIVANE_SOURCE_DIR) + "/samples/dawn.hdr");
  const std::string text(file.begin(), file.begin() + 64);
  const std::size_t start = text.find("+X 512\n") + 7;
  RgbeBlockDecoder decoder(file.data() + start, file.size() - start, 512, 256, 256);
  EXPECT_TRUE(decoder.DecodeNext());
  const RgbeBlockDecoder::Block block = decoder.Last();
  testing::RgbePixels tiled{1024, 768, {}};
  for (std::uint32_t y = 0; y < tiled.Height; ++y) {
    for (std::uint32_t x = 0; x < tiled.Width; ++x) {
      const std::size_t i = std::size_t{y % 256} * 512 + x % 512;
      tiled.Pixels.push_back({block.R[i], block.G[i], block.B[i], block.E[i]});
    }
  }
  return tiled;
}

TEST(FastJobs, RadianceJobsOnAPhotographAreTheSameForAnyThreadCount) {
  const testing::RgbePixels image = TiledPhotograph();
  const auto rows = [&](int mix) {
    std::vector<std::uint8_t> data;
    for (std::uint32_t y = 0; y < image.Height; ++y) {
      const testing::RgbePixel* row = &image.Pixels[std::size_t{y} * image.Width];
      const int form = mix == 1 ? 0 : mix == 2 ? 2 : static_cast<int>(y % 7 % 3);
      const std::vector<std::uint8_t> encoded =
          form == 0 ? testing::EncodeFlatRow(row, image.Width)
          : form == 1
              ? testing::EncodeOldRunRow(row, image.Width, y > 0 ? row[-1] : testing::RgbePixel{})
              : testing::EncodeComponentRunRow(row, image.Width);
      data.insert(data.end(), encoded.begin(), encoded.end());
    }
    return data;
  };
  const std::string header = testing::StandardHdrHeader(image.Width, image.Height);
  std::vector<std::vector<std::uint8_t>> files;
  for (int mix = 0; mix < 3; ++mix) files.push_back(testing::HdrFile(header, rows(mix)));
  // Cut short two thirds in, and refused at two rows: the first one counts.
  std::vector<std::uint8_t> cut = files[0];
  cut.resize(header.size() + (cut.size() - header.size()) * 2 / 3);
  files.push_back(cut);
  std::vector<std::uint8_t> refused = rows(2);
  for (const std::uint32_t y : {700u, 300u}) {
    std::size_t at = 0;
    for (std::uint32_t n = 0; n < y; ++n) {
      const testing::RgbePixel* row = &image.Pixels[std::size_t{n} * image.Width];
      at += testing::EncodeComponentRunRow(row, image.Width).size();
    }
    refused[at + 2] = 0;
    refused[at + 3] = 7;
  }
  files.push_back(testing::HdrFile(header, refused));
  // Older-style run rows whose head repeats the last pixel of the row above.
  files.push_back(testing::HdrFile(testing::PatternImage(image.Width, image.Height, 5),
                                   testing::RgbeRowForm::OldRuns));

  testing::TempDir folder;
  const std::string input = folder.File("in.hdr"), output = folder.File("out");
  const Settings settings{0.8f, 1.0f / 1.2f, false};
  for (std::size_t f = 0; f < files.size(); ++f) {
    testing::WriteBytes(input, files[f]);
    for (const int command : {kOpenHdrCommand, kHdrToPfmCommand}) {
      SCOPED_TRACE("file " + std::to_string(f) + " command " + std::to_string(command));
      // A failed job leaves an older output as it was.
      std::remove(output.c_str());
      const JobRun one = RunCommand(command, input, output, settings, "1");
      EXPECT_EQ(one.Output.empty(), f == 4);
      for (const char* threads : kThreadCounts) {
        const JobRun many = RunCommand(command, input, output, settings, threads);
        EXPECT_EQ(many.Events, one.Events) << threads << " threads";
        ASSERT_EQ(many.Output.size(), one.Output.size()) << threads << " threads";
        const std::size_t skip = command == kOpenHdrCommand && !one.Output.empty() ? 308 : 0;
        EXPECT_TRUE(
            std::equal(one.Output.begin() + skip, one.Output.end(), many.Output.begin() + skip))
            << threads << " threads";
      }
    }
  }
  // The command line's readers of Radiance rows: every output and `info` alike
  // for any thread count, and a Radiance copy of the uncut files holds every
  // pixel of the image.
  const std::vector<std::vector<std::string>> commands = {{"convert", "-q", input, output + ".exr"},
                                                          {"convert", "-q", input, output + ".hdr"},
                                                          {"tonemap", "-q", input, output + ".png"},
                                                          {"info", input}};
  for (std::size_t f = 0; f < files.size(); ++f) {
    testing::WriteBytes(input, files[f]);
    for (const std::vector<std::string>& args : commands) {
      SCOPED_TRACE("file " + std::to_string(f) + " " + args.back());
      const std::string written = args[0] == "info" ? "" : args.back();
      const CliJobRun one = RunCliWith("1", args, written);
      EXPECT_EQ(one.Status, f == 4 ? 1 : 0) << one.Err;
      EXPECT_EQ(one.Output.empty(), f == 4 || written.empty());
      if (f < 3 && written.ends_with(".hdr")) {
        const std::string text(one.Output.begin(), one.Output.begin() + 100);
        const std::size_t head = text.find("+X 1024\n");
        ASSERT_NE(head, std::string::npos);
        const std::size_t start = head + 8;
        RgbeBlockDecoder decoder(one.Output.data() + start, one.Output.size() - start, image.Width,
                                 image.Height, image.Height);
        ASSERT_TRUE(decoder.DecodeNext());
        const RgbeBlockDecoder::Block block = decoder.Last();
        for (std::size_t i = 0; i < image.Pixels.size(); ++i) {
          const testing::RgbePixel& p = image.Pixels[i];
          ASSERT_TRUE(block.R[i] == p.R && block.G[i] == p.G && block.B[i] == p.B &&
                      block.E[i] == p.E)
              << "pixel " << i;
        }
      }
      if (args[0] == "info" && f != 4) {
        // Each channel's maximum and mean as the tone-mapping job logs its
        // high and sum: info reads the pixels the job reads.
        const CliJobRun job = RunCliWith("1", {"tonemap", input, output + ".tif"}, output + ".tif");
        const CliJobRun json = RunCliWith("1", {"info", "--json", input}, "");
        const nlohmann::json facts = nlohmann::json::parse(json.Out);
        const double pixels = static_cast<double>(image.Width) * image.Height;
        for (const auto& [label, key] :
             {std::pair{"Red:", "red"}, std::pair{"Green:", "green"}, std::pair{"Blue:", "blue"}}) {
          const std::size_t at = job.Out.find(label);
          ASSERT_NE(at, std::string::npos) << job.Out;
          double low = 0, high = 0, sum = 0;
          ASSERT_EQ(std::sscanf(job.Out.c_str() + at + std::strlen(label), " %lf, %lf, %lf", &low,
                                &high, &sum),
                    3);
          const nlohmann::json& channel = facts["channels"][key];
          EXPECT_NEAR(channel["maximum"].get<double>(), high, high * 1e-6) << key;
          EXPECT_NEAR(channel["mean"].get<double>() * pixels, sum, sum * 1e-9) << key;
        }
      }
      for (const char* threads : kThreadCounts) {
        const CliJobRun many = RunCliWith(threads, args, written);
        EXPECT_EQ(many.Status, one.Status) << threads << " threads";
        EXPECT_EQ(many.Out, one.Out) << threads << " threads";
        EXPECT_EQ(many.Err, one.Err) << threads << " threads";
        EXPECT_TRUE(many.Output == one.Output) << threads << " threads";
      }
    }
  }
  // The three stored forms hold the same pixels.
  std::vector<std::uint8_t> outputs[3];
  for (int mix = 0; mix < 3; ++mix) {
    testing::WriteBytes(input, files[mix]);
    outputs[mix] = RunCommand(kHdrToPfmCommand, input, output, settings, "2").Output;
  }
  EXPECT_EQ(outputs[0], outputs[1]);
  EXPECT_EQ(outputs[0], outputs[2]);
}

// A gradient with the awkward values a float file can hold.
testing::FloatImage AwkwardImage(std::uint32_t width, std::uint32_t height) {
  testing::FloatImage image = testing::GradientImage(width, height);
  const float specials[] = {std::numeric_limits<float>::quiet_NaN(),
                            std::numeric_limits<float>::infinity(),
                            -std::numeric_limits<float>::infinity(),
                            -0.25f,
                            1e-42f,
                            0.0f};
  for (std::size_t i = 5; i < image.Values.size(); i += 23) {
    image.Values[i] = specials[(i / 23) % 6];
  }
  return image;
}

std::vector<std::uint8_t> ReferenceFloat(const testing::FloatImage& image, bool bottomRowFirst,
                                         const Settings& settings) {
  ChannelAccumulators accumulators;
  for (std::uint32_t n = 0; n < image.Height; ++n) {
    const std::uint32_t y = bottomRowFirst ? image.Height - 1 - n : n;
    for (std::size_t i = 0; i < std::size_t{image.Width} * 3; ++i) {
      accumulators[i % 3].Add(image.Values[std::size_t{y} * image.Width * 3 + i]);
    }
  }
  const ImageStatistics statistics =
      ComputeImageStatistics(accumulators, image.Width * image.Height, settings.Warm);
  std::vector<std::uint8_t> pixels;
  for (std::size_t i = 0; i < image.Values.size(); ++i) {
    const int c = static_cast<int>(i % 3);
    pixels.push_back(ToneMapChannel(image.Values[i], statistics.Minimum[c], statistics.Average[c],
                                    settings.Brightness, settings.PostGamma,
                                    OperatorWidth::Double));
  }
  return pixels;
}

struct FloatSize {
  std::uint32_t Width, Height;
};
// 1 x 1, one row, odd widths, and an image of several 4 MB blocks.
const FloatSize kFloatSizes[] = {{1, 1}, {17, 1}, {1, 9}, {13, 5}, {2003, 211}};

TEST(FastJobs, FloatToneMappingIsTheSameForAnyThreadCountAndEqualsTheReference) {
  testing::TempDir folder;
  const std::string output = folder.File("out.tif");
  for (const FloatSize& size : kFloatSizes) {
    const testing::FloatImage image = AwkwardImage(size.Width, size.Height);
    const bool large = size.Width * size.Height > 100000;
    for (const bool pfm : {true, false}) {
      const bool intel = size.Width % 2 == 1;
      const std::string input = folder.File(pfm ? "in.pfm" : "in.tif");
      testing::WriteBytes(input, pfm ? testing::StandardPfm(image, intel)
                                     : testing::FloatTiff(image, {.IntelOrder = !intel}));
      for (const Settings& settings : kSettings) {
        if (large && settings.PostGamma != 1.0f && settings.Brightness != 0.8f) continue;
        SCOPED_TRACE(std::to_string(size.Width) + " x " + std::to_string(size.Height) +
                     (pfm ? " PFM" : " TIFF") + " B " + std::to_string(settings.Brightness) +
                     " k " + std::to_string(settings.PostGamma) + (settings.Warm ? " warm" : ""));
        const std::vector<std::uint8_t> expected = ReferenceFloat(image, pfm, settings);
        const int command = pfm ? kOpenPfmCommand : kOpenTiffCommand;
        const JobRun one = RunCommand(command, input, output, settings, "1");
        ASSERT_EQ(one.Output.size(), 308 + expected.size());
        EXPECT_TRUE(std::equal(expected.begin(), expected.end(), one.Output.begin() + 308));
        for (const char* threads : kThreadCounts) {
          const JobRun many = RunCommand(command, input, output, settings, threads);
          EXPECT_EQ(many.Events, one.Events) << threads << " threads";
          ASSERT_EQ(many.Output.size(), one.Output.size()) << threads << " threads";
          EXPECT_TRUE(
              std::equal(one.Output.begin() + 308, one.Output.end(), many.Output.begin() + 308))
              << threads << " threads";
        }
      }
    }
  }
}

TEST(FastJobs, ConversionsAreTheSameForAnyThreadCountAndEqualTheReference) {
  testing::TempDir folder;
  const Settings unused{0.8f, 1.0f, false};
  for (const FloatSize& size : kFloatSizes) {
    SCOPED_TRACE(std::to_string(size.Width) + " x " + std::to_string(size.Height));
    // Radiance to PFM: every value is RgbeToFloat's, least significant byte first.
    const testing::RgbePixels rgbe = testing::PatternImage(size.Width, size.Height, size.Width);
    const std::string hdr = folder.File("in.hdr"), pfm = folder.File("out.pfm");
    testing::WriteBytes(hdr, testing::HdrFile(rgbe, testing::RgbeRowForm::Flat));
    const JobRun one = RunCommand(kHdrToPfmCommand, hdr, pfm, unused, "1");
    const testing::FloatImage floats = testing::ParseLittleEndianPfm(one.Output);
    ASSERT_EQ(floats.Values.size(), rgbe.Pixels.size() * 3);
    for (std::size_t i = 0; i < rgbe.Pixels.size(); ++i) {
      const testing::RgbePixel& p = rgbe.Pixels[i];
      const std::uint8_t mantissas[] = {p.R, p.G, p.B};
      for (int c = 0; c < 3; ++c) {
        ASSERT_EQ(std::bit_cast<std::uint32_t>(floats.Values[3 * i + c]),
                  std::bit_cast<std::uint32_t>(RgbeToFloat(mantissas[c], p.E)));
      }
    }
    // Float to float in both byte orders: the values come back unchanged.
    const testing::FloatImage image = AwkwardImage(size.Width, size.Height);
    for (const bool intel : {true, false}) {
      const std::string tiff = folder.File("in.tif"), out = folder.File("back.pfm");
      testing::WriteBytes(tiff, testing::FloatTiff(image, {.IntelOrder = intel}));
      const JobRun back = RunCommand(kTiffToPfmCommand, tiff, out, unused, "1");
      const testing::FloatImage read = testing::ParseLittleEndianPfm(back.Output);
      ASSERT_EQ(read.Values.size(), image.Values.size());
      EXPECT_EQ(std::memcmp(read.Values.data(), image.Values.data(), 4 * image.Values.size()), 0);
      for (const char* threads : kThreadCounts) {
        EXPECT_EQ(RunCommand(kTiffToPfmCommand, tiff, out, unused, threads).Output, back.Output)
            << threads;
        const JobRun again = RunCommand(kHdrToPfmCommand, hdr, pfm, unused, threads);
        EXPECT_EQ(again.Events, one.Events) << threads;
        EXPECT_EQ(again.Output, one.Output) << threads;
      }
    }
  }
}

}  // namespace
}  // namespace lumivane
