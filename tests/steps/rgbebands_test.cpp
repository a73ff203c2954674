#include "steps/rgbebands.h"

#include <gtest/gtest.h>

#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "cli/commandline.h"
#include "formats/checksum.h"
#include "formats/rgbescan.h"
#include "io/binaryfile.h"
#include "io/parallel.h"
#include "steps/session.h"
#include "steps/tiffwriter.h"
#include "tests/support/hdrfiles.h"
#include "tests/support/recordingwindow.h"
#include "tests/support/testfiles.h"

namespace lumivane {
namespace {

constexpr std::uint32_t kWidth = 256;

// A run row of literal bytes, random but for `tail` at the end of its
// exponents: the image's pixels are what the bytes say.
std::vector<std::uint8_t> LiteralRow(std::mt19937& random, int exponentLow, int exponentHigh,
                                     const std::vector<std::uint8_t>& tail) {
  std::vector<std::uint8_t> row = {2, 2, kWidth >> 8, kWidth & 255};
  std::uniform_int_distribution<int> byte(0, 255), exponent(exponentLow, exponentHigh);
  for (int c = 0; c < 4; ++c) {
    std::vector<std::uint8_t> values(kWidth);
    for (std::uint8_t& v : values)
      v = static_cast<std::uint8_t>(c < 3 ? byte(random) : exponent(random));
    if (c == 3) std::copy(tail.begin(), tail.end(), values.end() - static_cast<long>(tail.size()));
    for (std::size_t x = 0; x < kWidth; x += 128) {
      row.push_back(128);
      row.insert(row.end(), values.begin() + static_cast<long>(x),
                 values.begin() + static_cast<long>(x + 128));
    }
  }
  return row;
}

// Two whole run rows of runs alone, with the head of a third: what a search
// from inside a row takes for row starts.
std::vector<std::uint8_t> FakeRows() {
  std::vector<std::uint8_t> fake;
  for (int row = 0; row < 2; ++row) {
    fake.insert(fake.end(), {2, 2, kWidth >> 8, kWidth & 255});
    for (int c = 0; c < 4; ++c) fake.insert(fake.end(), {255, 9, 255, 9, 130, 9});
  }
  fake.insert(fake.end(), {2, 2, kWidth >> 8, kWidth & 255});
  return fake;
}

struct Reference {
  RgbeRowIndex Index;
  ChannelAccumulators Channels;
  std::uint32_t Counts[3] = {0, 0, 0};
};

// The first `height` rows of the data, from their definitions alone.
Reference ReferenceOf(const std::vector<std::uint8_t>& data, std::uint32_t height) {
  Reference reference;
  std::size_t at = 0;
  for (std::uint32_t y = 0; y < height; ++y) {
    const RgbeRowScan row = ScanRgbeRow(data.data() + at, data.size() - at, kWidth);
    EXPECT_EQ(row.Outcome, RgbeRowScan::Whole);
    reference.Index.Sums.push_back(ChecksumBytes(0, data.data() + at, row.Bytes));
    at += row.Bytes;
    reference.Index.Ends.push_back(at);
    reference.Index.Kinds.push_back(row.Kind);
    ++reference.Counts[static_cast<int>(row.Kind)];
  }
  RgbeBlockDecoder decoder(data.data(), data.size(), kWidth, height, height);
  EXPECT_TRUE(decoder.DecodeNext());
  const RgbeBlockDecoder::Block block = decoder.Last();
  for (std::size_t i = 0; i < std::size_t{kWidth} * height; ++i) {
    reference.Channels[0].Add(RgbeToFloat(block.R[i], block.E[i]));
    reference.Channels[1].Add(RgbeToFloat(block.G[i], block.E[i]));
    reference.Channels[2].Add(RgbeToFloat(block.B[i], block.E[i]));
  }
  return reference;
}

// Bands take noisy run rows, any mix of those with flat rows, and sums that
// must be chained; they leave to the block pass whatever they cannot take
// (a wrong guess at a row start, bytes past the last row, more rows than the
// header says, older run rows), and what they take is exactly the reference.
// Whole jobs into a file (bands) and into a pipe (blocks) write the same bytes.
TEST(RgbeBands, FirstPassIsTheReferenceOrLeavesTheDataToTheBlocks) {
  const std::uint32_t height = 300;
  std::mt19937 random(11);
  const auto rows = [&](int low, int high, const std::vector<std::uint8_t>& tail, bool flat) {
    std::vector<std::uint8_t> data;
    for (std::uint32_t y = 0; y < height; ++y) {
      std::vector<std::uint8_t> row = LiteralRow(random, low, high, tail);
      if (flat && y % 5 == 2) {
        // The same kind of pixels stored flat; 2, 2 would read as a run head.
        row.assign(4 * kWidth, 0);
        for (std::size_t i = 0; i < row.size(); ++i)
          row[i] = static_cast<std::uint8_t>(random() % 250 + 3);
      }
      data.insert(data.end(), row.begin(), row.end());
    }
    return data;
  };
  struct Case {
    std::string Name;
    std::vector<std::uint8_t> Data;
    std::uint32_t Height;
    int Bands;  // 1: at every thread count, 0: at none, -1: at some
  };
  std::vector<Case> cases;
  cases.push_back({"noisy", rows(120, 135, {}, false), height, 1});
  cases.push_back({"mixed with flat rows", rows(120, 135, {}, true), height, 1});
  // Bright values beside ones the chains round away.
  cases.push_back({"chained", rows(70, 200, {}, false), height, 1});
  // Guesses that land inside a row before its fake take the fake.
  cases.push_back({"fake row starts", rows(120, 135, FakeRows(), false), height, -1});
  std::vector<std::uint8_t> junk = cases[0].Data;
  junk.insert(junk.end(), 1000, 7);
  cases.push_back({"bytes past the last row", junk, height, 0});
  cases.push_back({"more rows than the header says", cases[0].Data, height - 3, 0});
  const testing::RgbePixels pattern = testing::PatternImage(kWidth, height, 3);
  cases.push_back({"older run rows",
                   testing::EncodeRgbeRows(pattern, testing::RgbeRowForm::OldRuns), height, 0});

  testing::TempDir folder;
  const std::string input = folder.File("in.hdr"), output = folder.File("out.tif");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    const std::vector<std::uint8_t> file =
        testing::HdrFile(testing::StandardHdrHeader(kWidth, c.Height), c.Data);
    testing::WriteBytes(input, file);
    const std::uint64_t origin = file.size() - c.Data.size();
    bool left = false, taken = false;
    for (const unsigned threads : {1u, 2u, 3u, 7u}) {
      testing::RecordingWindow window;
      Session session(window);
      BinaryFile in = BinaryFile::OpenForReading(input);
      RowWorkers workers(threads);
      RgbeBands bands(in, origin, c.Data.size(), kWidth, c.Height, 7, workers);
      ASSERT_TRUE(bands.MakeRooms());
      RgbeRowIndex index;
      ChannelAccumulators channels;
      std::uint32_t counts[3];
      const BandsOutcome outcome = bands.Sum(session, index, channels, counts);
      if (outcome != BandsOutcome::Done) {
        EXPECT_EQ(outcome, BandsOutcome::Unsuited) << threads;
        left = true;
        continue;
      }
      taken = true;
      const Reference reference = ReferenceOf(c.Data, c.Height);
      EXPECT_EQ(index.Ends, reference.Index.Ends) << threads;
      EXPECT_EQ(index.Kinds, reference.Index.Kinds) << threads;
      EXPECT_EQ(index.Sums, reference.Index.Sums) << threads;
      for (int k = 0; k < 3; ++k) EXPECT_EQ(counts[k], reference.Counts[k]) << threads;
      for (int ch = 0; ch < 3; ++ch) {
        EXPECT_EQ(channels[ch].Sum, reference.Channels[ch].Sum) << threads << " " << ch;
        EXPECT_EQ(channels[ch].Minimum, reference.Channels[ch].Minimum) << threads;
        EXPECT_EQ(channels[ch].Maximum, reference.Channels[ch].Maximum) << threads;
      }
    }
    EXPECT_EQ(left, c.Bands != 1);
    EXPECT_EQ(taken, c.Bands != 0);

    // The job into a file against the job into a pipe.
    for (const char* threads : {"1", "2", "7"}) {
      ::setenv("LUMIVANE_THREADS", threads, 1);
      std::ostringstream fileOut, fileErr, pipeOut, pipeErr;
      const std::vector<std::string> toFile = {"lumivane-cli", "tonemap", "-q", input, output};
      const std::vector<std::string> toPipe = {"lumivane-cli", "tonemap", "-q", "--format",
                                               "tif",          input,     "-"};
      std::vector<const char*> fileArgs, pipeArgs;
      for (const std::string& a : toFile) fileArgs.push_back(a.c_str());
      for (const std::string& a : toPipe) pipeArgs.push_back(a.c_str());
      EXPECT_EQ(RunCommandLine(5, fileArgs.data(), fileOut, fileErr, false), 0) << fileErr.str();
      EXPECT_EQ(RunCommandLine(7, pipeArgs.data(), pipeOut, pipeErr, false), 0) << pipeErr.str();
      ::unsetenv("LUMIVANE_THREADS");
      const std::vector<std::uint8_t> written = testing::ReadBytes(output);
      const std::string piped = pipeOut.str();
      ASSERT_EQ(written.size(), piped.size()) << threads;
      ASSERT_GT(written.size(), kTiffHeaderSize);
      EXPECT_TRUE(std::equal(written.begin() + kTiffHeaderSize, written.end(),
                             reinterpret_cast<const std::uint8_t*>(piped.data()) + kTiffHeaderSize))
          << threads;
    }
  }
}

}  // namespace
}  // namespace lumivane
