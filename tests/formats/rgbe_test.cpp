#include "formats/rgbe.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "formats/rgbedata.h"
#include "io/binaryfile.h"
#include "steps/rgbeblocks.h"
#include "steps/session.h"
#include "steps/statuslog.h"
#include "tests/support/hdrfiles.h"
#include "tests/support/recordingwindow.h"
#include "tests/support/rgbeimage.h"
#include "tests/support/testfiles.h"

namespace lumivane {
namespace {

using testing::PlanesOf;
using testing::RecordingWindow;
using testing::RgbePixel;
using testing::RgbePixels;
using testing::RgbePlanes;
using testing::RgbeRowForm;
using testing::TempDir;

// Runs LoadRgbeImage on `data` as it would find it behind a header: the input
// positioned at the data, an output file open.
struct Load {
  TempDir Dir;
  RecordingWindow Window;
  Session Session_{Window};
  RgbeImage Image;
  bool Result = false;

  Load(const std::vector<std::uint8_t>& data, std::uint32_t width, std::uint32_t height,
       const std::string& header = "#?RADIANCE\n\n-Y 1 +X 1\n", bool plainSteps = false) {
    JobContext& context = Session_.Context;
    context.InputFileName = Dir.File("in.hdr");
    context.OutputFileName = Dir.File("out.tif");
    testing::WriteBytes(context.InputFileName, testing::HdrFile(header, data));
    context.InputFile = BinaryFile::OpenForReading(context.InputFileName);
    context.InputFile.Seek(header.size());
    context.OutputFile = BinaryFile::CreateOutput(context.OutputFileName);
    context.ImageWidth = width;
    context.ImageHeight = height;
    Result = LoadRgbeImage(Session_, Image, plainSteps);
  }
  RgbePlanes Planes() const { return {Image.R, Image.G, Image.B, Image.E}; }
};

std::vector<std::string> RowCountLines(std::uint32_t flat, std::uint32_t old,
                                       std::uint32_t component) {
  return {"RLE-0 Lines:" + FormatNumber(flat, 15), "RLE-1 Lines:" + FormatNumber(old, 15),
          "RLE-2 Lines:" + FormatNumber(component, 15)};
}

std::vector<std::string> Slice(const std::vector<std::string>& lines, std::size_t first,
                               std::size_t count) {
  if (first + count > lines.size()) return lines;
  return {lines.begin() + static_cast<std::ptrdiff_t>(first),
          lines.begin() + static_cast<std::ptrdiff_t>(first + count)};
}

TEST(RgbeToFloat, IsExactForEveryMantissaAndExponent) {
  EXPECT_EQ(RgbeToFloat(0, 0), std::ldexp(1.0f, -137));
  EXPECT_EQ(RgbeToFloat(128, 129), 1.00390625f);
  EXPECT_EQ(RgbeToFloat(255, 255), static_cast<float>(255.5L / 256 * std::ldexp(1.0L, 127)));
  for (int e = 0; e < 256; ++e) {
    for (int m = 0; m < 256; ++m) {
      const long double exact = (m + 0.5L) / 256 * std::ldexp(1.0L, e - 128);
      ASSERT_EQ(static_cast<long double>(
                    RgbeToFloat(static_cast<std::uint8_t>(m), static_cast<std::uint8_t>(e))),
                exact)
          << m << " " << e;
    }
  }
}

TEST(LoadRgbeImage, AllThreeRowFormsGiveTheSamePlanes) {
  const std::pair<std::uint32_t, std::uint32_t> sizes[] = {{1, 1},   {7, 1},   {5, 2},  {40, 5},
                                                           {255, 2}, {300, 3}, {700, 2}};
  for (const auto& [width, height] : sizes) {
    const RgbePixels image = testing::PatternImage(width, height, width + height);
    const RgbePlanes expected = PlanesOf(image);
    const std::pair<RgbeRowForm, std::vector<std::string>> forms[] = {
        {RgbeRowForm::Flat, RowCountLines(height, 0, 0)},
        {RgbeRowForm::OldRuns, RowCountLines(0, height, 0)},
        {RgbeRowForm::ComponentRuns, RowCountLines(0, 0, height)}};
    for (const auto& [form, counts] : forms) {
      Load load(testing::EncodeRgbeRows(image, form), width, height);
      ASSERT_TRUE(load.Result) << width << "x" << height;
      EXPECT_EQ(load.Image.Width, width);
      EXPECT_EQ(load.Image.Height, height);
      EXPECT_TRUE(load.Planes() == expected)
          << width << "x" << height << " form " << static_cast<int>(form);
      EXPECT_EQ(Slice(load.Window.Log, 3, 3), counts);
    }
  }
}

TEST(LoadRgbeImage, LogsProgressAndTimeOfTheDecodingPass) {
  const RgbePixels image = testing::PatternImage(6, 3);
  TempDir dir;
  RecordingWindow window;
  Session session(window);
  const long double readings[] = {10.4L, 12.6L};
  int reading = 0;
  session.Clock = [&] { return readings[reading++]; };
  JobContext& context = session.Context;
  context.InputFileName = dir.File("in.hdr");
  context.OutputFileName = dir.File("out.tif");
  testing::WriteBytes(context.InputFileName, testing::EncodeRgbeRows(image, RgbeRowForm::Flat));
  context.InputFile = BinaryFile::OpenForReading(context.InputFileName);
  context.OutputFile = BinaryFile::CreateOutput(context.OutputFileName);
  context.ImageWidth = 6;
  context.ImageHeight = 3;
  RgbeImage decoded;
  ASSERT_TRUE(LoadRgbeImage(session, decoded));
  EXPECT_FALSE(context.InputFile.IsOpen());
  EXPECT_TRUE(context.OutputFile.IsOpen());
  EXPECT_EQ(window.Log,
            (std::vector<std::string>{
                "Got all data, closed source file.", context.InputFileName,
                "Decompressing RGBE data", "RLE-0 Lines: 3", "RLE-1 Lines: 0", "RLE-2 Lines: 0",
                "Decompressed RGBE data and RGBE image created in 3 seconds"}));
  using P = testing::RecordedProgress;
  EXPECT_EQ(window.Progress,
            (std::vector<P>{
                {P::Range, 1, 3}, {P::Position, 0, 0}, {P::Position, 1, 0}, {P::Position, 2, 0}}));
  EXPECT_EQ(reading, 2);
}

TEST(LoadRgbeImage, RefusedRowHeadAbortsAndDeletesTheOutput) {
  // Head width 5 for an image 10 wide, and 44 (300 mod 256) with a zero high byte.
  const std::pair<std::uint32_t, std::vector<std::uint8_t>> cases[] = {
      {10, {2, 2, 0, 5, 138, 9, 138, 9, 138, 9, 138, 9}},
      {300, {2, 2, 0, 44, 134, 9, 134, 9, 134, 9, 134, 9}}};
  for (const auto& [width, row] : cases) {
    std::vector<std::uint8_t> data =
        testing::EncodeFlatRow(testing::PatternImage(width, 1).Pixels.data(), width);
    data.insert(data.end(), row.begin(), row.end());
    Load load(data, width, 2);
    EXPECT_FALSE(load.Result);
    const JobContext& context = load.Session_.Context;
    EXPECT_EQ(context.FailureMessage, "RLE type 2 header error.");
    ASSERT_EQ(load.Window.Boxes.size(), 1u);
    EXPECT_EQ(
        load.Window.Boxes[0],
        (testing::RecordedBox{"Cannot handle data.", "LUMIVANE - Radiance", BoxKind::Warning}));
    EXPECT_EQ(
        load.Window.Log,
        (std::vector<std::string>{
            "Got all data, closed source file.", context.InputFileName, "Decompressing RGBE data",
            "RLE type 2 header error.", "Closed file:", context.InputFileName,
            "Closed and deleted file:", context.OutputFileName, SeparatorLine()}));
    EXPECT_FALSE(testing::FileExists(context.OutputFileName));
    EXPECT_FALSE(context.OutputFile.IsOpen());
    EXPECT_FALSE(context.InputFile.IsOpen());
  }
}

TEST(LoadRgbeImage, NarrowRunRowsWithTheImageWidthDecode) {
  // Every writer stores rows of 8 or more pixels this way; a head width equal to
  // the image width is sound even with a zero high byte.
  const std::vector<std::uint8_t> data = {2, 2, 0, 8, 136, 10, 136, 20, 4,
                                          1, 2, 3, 4, 132, 5,  136, 129};
  Load load(data, 8, 1);
  ASSERT_TRUE(load.Result);
  EXPECT_EQ(load.Image.R, std::vector<std::uint8_t>(8, 10));
  EXPECT_EQ(load.Image.G, std::vector<std::uint8_t>(8, 20));
  EXPECT_EQ(load.Image.B, (std::vector<std::uint8_t>{1, 2, 3, 4, 5, 5, 5, 5}));
  EXPECT_EQ(load.Image.E, std::vector<std::uint8_t>(8, 129));

  // A nonzero high byte is decoded with the image width, whatever the head says.
  Load wide({2, 2, 1, 0, 131, 7, 131, 8, 131, 9, 131, 10}, 3, 1);
  ASSERT_TRUE(wide.Result);
  EXPECT_EQ(wide.Image.R, std::vector<std::uint8_t>(3, 7));
  EXPECT_EQ(wide.Image.E, std::vector<std::uint8_t>(3, 10));
}

TEST(LoadRgbeImage, OvershootingRunsAndLiteralsStayInsideThePlanes) {
  // Row 0: R runs 6 over a 4-wide row, G has a 6-byte literal, B and E fit.
  // The spill lands in row 1 and is overwritten there; on the last row it is
  // dropped at the end of the plane. A code of 0 writes nothing.
  const std::vector<std::uint8_t> data = {2, 2, 1,   4,  134, 9,  6,   1,  2,   3,
                                          4, 5, 6,   0,  132, 7,  132, 8,  2,   2,
                                          1, 4, 132, 11, 132, 12, 132, 13, 255, 14};
  Load load(data, 4, 2);
  ASSERT_TRUE(load.Result);
  EXPECT_EQ(load.Image.R, (std::vector<std::uint8_t>{9, 9, 9, 9, 11, 11, 11, 11}));
  EXPECT_EQ(load.Image.G, (std::vector<std::uint8_t>{1, 2, 3, 4, 12, 12, 12, 12}));
  EXPECT_EQ(load.Image.B, (std::vector<std::uint8_t>{7, 7, 7, 7, 13, 13, 13, 13}));
  EXPECT_EQ(load.Image.E, (std::vector<std::uint8_t>{8, 8, 8, 8, 14, 14, 14, 14}));

  // A spill that the next row does not overwrite stays (the next row is cut short).
  Load spill({2, 2, 1, 2, 131, 9, 2, 1, 2, 130, 3, 130, 4, 2, 2}, 2, 2);
  ASSERT_TRUE(spill.Result);
  EXPECT_EQ(spill.Image.R, (std::vector<std::uint8_t>{9, 9, 9, 0}));
  EXPECT_EQ(spill.Image.E, (std::vector<std::uint8_t>{4, 4, 0, 0}));
}

TEST(LoadRgbeImage, OldRunsRepeatThePreviousPixelWithShiftingCounts) {
  const RgbePixel p{50, 60, 70, 130};
  const RgbePixel q{80, 90, 100, 131};
  // Row 0 of 300: head run of 0, the literal p, then 43 + (1 << 8) = 299 repeats.
  // Row 1: its head repeats the last pixel of row 0 twice, then q, then a run
  // of 255 + (1 << 8) that stops at the row's end; row 2 follows straight
  // behind it.
  // Row 3 starts with a fresh colour after a head run of 0.
  std::vector<std::uint8_t> data = {1, 1, 1, 0, p.R, p.G, p.B, p.E, 1, 1, 1, 43, 1, 1, 1, 1};
  const std::vector<std::uint8_t> row1 = {1, 1, 1, 2, q.R, q.G, q.B, q.E, 1, 1, 1, 255, 1, 1, 1, 1};
  data.insert(data.end(), row1.begin(), row1.end());
  const std::vector<std::uint8_t> row2 = {1, 1, 1, 44, 1, 1, 1, 1};
  data.insert(data.end(), row2.begin(), row2.end());
  const std::vector<std::uint8_t> row3 = {1, 1, 1, 0,   p.R, p.G, p.B, p.E,
                                          1, 1, 1, 255, 1,   1,   1,   255};
  data.insert(data.end(), row3.begin(), row3.end());
  Load load(data, 300, 4);
  ASSERT_TRUE(load.Result);
  EXPECT_EQ(Slice(load.Window.Log, 3, 3), RowCountLines(0, 4, 0));
  RgbePixels expected{300, 4, std::vector<RgbePixel>(1200, q)};
  for (int x = 0; x < 300; ++x) expected.Pixels[x] = p;
  expected.Pixels[300] = expected.Pixels[301] = p;
  for (int x = 900; x < 1200; ++x) expected.Pixels[x] = p;
  EXPECT_TRUE(load.Planes() == PlanesOf(expected));

  // On the first row the pixel before the first column is all zeros.
  Load first({1, 1, 1, 2, 9, 9, 9, 9}, 3, 1);
  ASSERT_TRUE(first.Result);
  EXPECT_EQ(first.Image.R, (std::vector<std::uint8_t>{0, 0, 9}));
  EXPECT_EQ(first.Image.E, (std::vector<std::uint8_t>{0, 0, 9}));
}

TEST(LoadRgbeImage, EveryTruncationLoadsWithoutError) {
  // Rows of all three forms, cut after every byte: what is decoded matches the
  // whole file, what is missing stays 0.
  const RgbePixels image = testing::PatternImage(9, 6, 3);
  std::vector<std::uint8_t> data;
  RgbePixel previous;
  for (std::uint32_t y = 0; y < image.Height; ++y) {
    const RgbePixel* row = image.Pixels.data() + y * image.Width;
    std::vector<std::uint8_t> bytes;
    switch (y % 3) {
      case 0:
        bytes = testing::EncodeFlatRow(row, image.Width);
        break;
      case 1:
        bytes = testing::EncodeComponentRunRow(row, image.Width);
        break;
      default:
        bytes = testing::EncodeOldRunRow(row, image.Width, previous);
        break;
    }
    data.insert(data.end(), bytes.begin(), bytes.end());
    previous = row[image.Width - 1];
  }
  const RgbePlanes whole = PlanesOf(image);
  std::size_t previousMatches = 0;
  for (std::size_t length = 0; length <= data.size(); ++length) {
    Load load({data.begin(), data.begin() + static_cast<std::ptrdiff_t>(length)}, 9, 6);
    ASSERT_TRUE(load.Result) << length;
    ASSERT_TRUE(load.Window.Boxes.empty());
    const RgbePlanes planes = load.Planes();
    std::size_t matches = 0;
    for (const auto& [got, want] :
         {std::pair{&planes.R, &whole.R}, std::pair{&planes.G, &whole.G},
          std::pair{&planes.B, &whole.B}, std::pair{&planes.E, &whole.E}}) {
      ASSERT_EQ(got->size(), want->size());
      for (std::size_t i = 0; i < got->size(); ++i) {
        ASSERT_TRUE((*got)[i] == (*want)[i] || (*got)[i] == 0) << length << " at " << i;
        matches += (*got)[i] == (*want)[i];
      }
    }
    EXPECT_GE(matches, previousMatches) << length;
    previousMatches = matches;
    if (length == data.size()) {
      EXPECT_TRUE(planes == whole);
    }
  }
}

TEST(LoadRgbeImage, NoPixelDataGivesZeroPixels) {
  Load load({}, 2, 2);
  ASSERT_TRUE(load.Result);
  EXPECT_EQ(load.Image.R, std::vector<std::uint8_t>(4, 0));
  EXPECT_EQ(load.Image.E, std::vector<std::uint8_t>(4, 0));
  EXPECT_EQ(Slice(load.Window.Log, 3, 3), RowCountLines(2, 0, 0));

  // An input positioned beyond its end reads nothing.
  TempDir dir;
  RecordingWindow window;
  Session session(window);
  session.Context.InputFileName = dir.File("in.hdr");
  testing::WriteBytes(session.Context.InputFileName, {1, 2, 3});
  session.Context.InputFile = BinaryFile::OpenForReading(session.Context.InputFileName);
  session.Context.InputFile.Seek(1000);
  session.Context.ImageWidth = 1;
  session.Context.ImageHeight = 1;
  RgbeImage image;
  ASSERT_TRUE(LoadRgbeImage(session, image));
  EXPECT_EQ(image.R, std::vector<std::uint8_t>{0});
}

TEST(LoadRgbeImage, SizesWithoutRowsAreRefusedBeforeReading) {
  for (const auto& [width, height] :
       {std::pair<std::uint32_t, std::uint32_t>{0, 5}, {5, 0}, {70000, 70000}}) {
    Load load({1, 2, 3, 4}, width, height);
    EXPECT_FALSE(load.Result);
    EXPECT_FALSE(testing::FileExists(load.Session_.Context.OutputFileName));
    EXPECT_TRUE(load.Image.R.empty());
  }
}

// Random bytes behind row heads of every kind: runs and literals that spill
// into later rows (many of them when rows are narrow), old runs that repeat the
// row above's last pixel, data that ends mid-row. The block decoder, streaming
// from the file or over bytes in memory, must give the whole-image planes for
// every block height, and the same row counts.
TEST(RgbeBlockDecoder, GivesTheWholeImageDecodingForEveryBlockHeight) {
  std::uint32_t seed = 12345;
  const auto next = [&] {
    seed = seed * 1664525u + 1013904223u;
    return static_cast<std::uint8_t>(seed >> 24);
  };
  const std::pair<std::uint32_t, std::uint32_t> sizes[] = {{1, 1},   {1, 300}, {3, 40},  {8, 17},
                                                           {127, 5}, {128, 4}, {129, 6}, {700, 3}};
  int checked = 0, followed = 0;
  for (const auto& [width, height] : sizes) {
    for (int variant = 0; variant < 6; ++variant) {
      std::vector<std::uint8_t> data;
      const std::size_t target = std::size_t{width} * height * (variant == 5 ? 2 : 5);
      while (data.size() < target) {
        const std::uint8_t kind = next() % 4;
        if (kind == 0) data.insert(data.end(), {2, 2, 0, static_cast<std::uint8_t>(width)});
        if (kind == 1) data.insert(data.end(), {1, 1, 1, next()});
        for (int i = 0, n = next() % 200; i < n; ++i) data.push_back(next());
      }
      // The row head's low byte must be the width; others are refused.
      Load whole(data, width, height);
      if (!whole.Result) continue;
      const RgbePlanes expected = whole.Planes();
      for (const std::uint32_t rows : {1u, 2u, 7u, height}) {
        // Pieces decoded out of order, last first, as threads may finish them.
        for (const unsigned pieces : {1u, 3u, 7u}) {
          BinaryFile file = BinaryFile::OpenForReading(whole.Session_.Context.InputFileName);
          const std::uint64_t start = 22;  // the header of Load
          const std::uint64_t bytes = data.size();
          // Streamed, writing the row index; streamed again, following it
          // (its checksum must be the first's); in memory.
          RgbeRowIndex index;
          std::uint64_t recordedChecksum = 0;
          for (const int mode : {0, 1, 2}) {
            const bool streamed = mode < 2;
            RgbeStream stream(file, start, bytes);
            std::vector<std::uint8_t> inMemory(data);
            std::unique_ptr<RgbeBlockDecoder> decoder =
                streamed ? std::make_unique<RgbeBlockDecoder>(stream, width, height, rows)
                         : std::make_unique<RgbeBlockDecoder>(inMemory.data(), inMemory.size(),
                                                              width, height, rows);
            if (mode == 0) decoder->RecordRows(&index);
            if (mode == 1) decoder->FollowRows(index);
            EXPECT_EQ(decoder->FollowsRows(), mode == 1 && index.Complete);
            followed += decoder->FollowsRows() ? 1 : 0;
            RgbePlanes got;
            std::uint32_t nextRow = 0;
            while (!decoder->Finished()) {
              const std::size_t tasks = decoder->PrepareNext(pieces);
              for (std::size_t task = tasks; task-- > 0;) decoder->RunTask(task);
              ASSERT_TRUE(decoder->FinishNext());
              const RgbeBlockDecoder::Block block = decoder->Last();
              ASSERT_EQ(block.FirstRow, nextRow);
              const std::size_t n = std::size_t{width} * block.Rows;
              got.R.insert(got.R.end(), block.R, block.R + n);
              got.G.insert(got.G.end(), block.G, block.G + n);
              got.B.insert(got.B.end(), block.B, block.B + n);
              got.E.insert(got.E.end(), block.E, block.E + n);
              nextRow += block.Rows;
            }
            ASSERT_EQ(got, expected) << width << "x" << height << " rows " << rows << " pieces "
                                     << pieces << " variant " << variant << " mode " << mode;
            if (mode == 0) recordedChecksum = stream.Checksum();
            if (mode == 1) {
              EXPECT_EQ(stream.Checksum(), recordedChecksum);
            }
            const auto& counts = decoder->RowCounts();
            const std::vector<std::string>& log = whole.Window.Log;
            const std::size_t at =
                std::find(log.begin(), log.end(), RowCountLines(counts[0], 0, 0)[0]) - log.begin();
            EXPECT_EQ(Slice(log, at, 3), RowCountLines(counts[0], counts[1], counts[2]));
            // Data that end early say so right after the time, and only then.
            const bool cut = decoder->CompleteRows() < height;
            EXPECT_EQ(log.size(), at + (cut ? 5 : 4));
            if (cut) {
              EXPECT_EQ(log.back(), PixelDataEndEarlyLine(decoder->CompleteRows(), height));
            }
            ++checked;
          }
        }
      }
    }
  }
  EXPECT_GT(checked, 100);
  EXPECT_GT(followed, 20);
}

// Two run rows of short steps (as noisy photographs have) over planes that
// already hold other bytes, the second cut after every byte: the chunked steps
// leave every byte of every plane as the plain steps do, also the bytes past a
// cut that only the plane's earlier contents fill.
TEST(RgbeRows, ShortChunkedStepsLeaveThePlanesAsThePlainSteps) {
  constexpr std::uint32_t kWidth = 300;
  for (std::uint32_t trial = 1; trial < 30; ++trial) {
    std::uint32_t seed = trial;
    const auto next = [&] {
      seed = seed * 1664525u + 1013904223u;
      return static_cast<std::uint8_t>(seed >> 24);
    };
    std::vector<std::uint8_t> data;
    for (int row = 0; row < 2; ++row) {
      data.insert(data.end(), {2, 2, kWidth >> 8, kWidth & 255});
      for (int plane = 0; plane < 4; ++plane) {
        for (std::uint32_t x = 0; x < kWidth;) {
          const std::uint8_t count = static_cast<std::uint8_t>(1 + next() % (next() % 2 ? 12 : 40));
          if (next() % 2) {
            data.insert(data.end(), {static_cast<std::uint8_t>(128 + count), next()});
          } else {
            data.push_back(count);
            for (int i = 0; i < count; ++i) data.push_back(next());
          }
          x += count;  // the last step may spill into the next row
        }
      }
    }
    const std::size_t planeSize = 3 * kWidth;
    for (std::size_t cut = data.size() / 2; cut <= data.size(); ++cut) {
      std::vector<std::uint8_t> planes[2][4];
      for (const bool plain : {true, false}) {
        RgbeRowPlanes rows{{}, planeSize};
        for (int c = 0; c < 4; ++c) {
          std::vector<std::uint8_t>& plane = planes[plain][c];
          plane.resize(planeSize);
          for (std::size_t i = 0; i < planeSize; ++i)
            plane[i] = static_cast<std::uint8_t>(i * 7 + c);
          rows.Component[c] = plane.data();
        }
        RgbeData encoded(data.data(), cut);
        encoded.PlainSteps = plain;
        ASSERT_EQ(DecodeRgbeRow(encoded, rows, 0, kWidth), 2);
        DecodeRgbeRow(encoded, rows, kWidth, kWidth);
      }
      for (int c = 0; c < 4; ++c)
        ASSERT_EQ(planes[0][c], planes[1][c]) << "cut " << cut << " plane " << c;
    }
  }
}

// Whole-chunk copies of runs and literals, and whole flat rows, must leave
// every plane as the plain steps do: at the end of the data, where a copy's
// spare bytes would show, beside spills into the next row, and where the
// stream's window is refilled mid-row.
TEST(RgbeBlockDecoder, ChunkedStepsDecodeAsThePlainSteps) {
  std::uint32_t seed = 777;
  const auto next = [&] {
    seed = seed * 1664525u + 1013904223u;
    return static_cast<std::uint8_t>(seed >> 24);
  };
  struct Case {
    std::uint32_t Width, Height;
    std::size_t Bytes;  // of data, cut wherever that falls
  };
  std::vector<Case> cases = {{150, 40, 9000},  {150, 40, 30000},  {300, 25, 12345},
                             {700, 12, 40000}, {1000, 13, 40001}, {1024, 700, 2600000}};
  // Cut at every few bytes: each cut ends a copy in another place.
  for (std::size_t bytes = 11000; bytes < 12000; bytes += 7) cases.push_back({200, 30, bytes});
  std::uint64_t seen[3] = {};
  for (const Case& sized : cases) {
    for (int variant = 0; variant < 3; ++variant) {
      // Row heads of each kind with bytes behind them, mostly of the row's
      // length, so that rows of every kind follow each other.
      std::vector<std::uint8_t> data;
      while (data.size() < sized.Bytes) {
        const std::uint8_t kind = next() % 3;
        if (kind == 0) {
          data.insert(data.end(), {2, 2, static_cast<std::uint8_t>(sized.Width >> 8),
                                   static_cast<std::uint8_t>(sized.Width)});
        }
        if (kind == 1) data.insert(data.end(), {1, 1, 1, next()});
        const std::size_t length = 4 * std::size_t{sized.Width} * (next() % 4 + 1) / 4;
        for (std::size_t i = 0; i < length; ++i) {
          // Flat pixels must not start like a row head.
          std::uint8_t byte = next();
          // Short steps too, as in noisy photographs.
          if (variant == 2 && byte % 2)
            byte = static_cast<std::uint8_t>(byte % 4 ? byte % 16 : 128 + byte % 16);
          data.push_back(kind == 2 && i == 0 && byte < 3 ? 3 : byte);
        }
      }
      data.resize(sized.Bytes);
      const std::string what = std::to_string(sized.Width) + "x" + std::to_string(sized.Height) +
                               " " + std::to_string(sized.Bytes) + " variant " +
                               std::to_string(variant);
      Load whole(data, sized.Width, sized.Height);
      ASSERT_TRUE(whole.Result) << what;
      RgbePlanes decoded[2];
      std::uint32_t counts[2][3] = {};
      for (const bool plain : {true, false}) {
        BinaryFile file = BinaryFile::OpenForReading(whole.Session_.Context.InputFileName);
        RgbeStream stream(file, 22, data.size());
        RgbeBlockDecoder decoder(stream, sized.Width, sized.Height, 7);
        decoder.UsePlainSteps(plain);
        RgbePlanes& got = decoded[plain ? 0 : 1];
        while (!decoder.Finished()) {
          ASSERT_TRUE(decoder.DecodeNext()) << what;
          const RgbeBlockDecoder::Block block = decoder.Last();
          const std::size_t n = std::size_t{sized.Width} * block.Rows;
          got.R.insert(got.R.end(), block.R, block.R + n);
          got.G.insert(got.G.end(), block.G, block.G + n);
          got.B.insert(got.B.end(), block.B, block.B + n);
          got.E.insert(got.E.end(), block.E, block.E + n);
        }
        std::copy(std::begin(decoder.RowCounts()), std::end(decoder.RowCounts()),
                  counts[plain ? 0 : 1]);
      }
      ASSERT_EQ(decoded[0], decoded[1]) << what;
      EXPECT_TRUE(std::equal(std::begin(counts[0]), std::end(counts[0]), counts[1])) << what;
      // The whole-image loader takes the chunked steps too.
      EXPECT_EQ(whole.Planes(), decoded[0]) << what;
      for (int kind = 0; kind < 3; ++kind) seen[kind] += counts[0][kind];
    }
  }
  // Every kind of row came up.
  EXPECT_GT(seen[0] * seen[1] * seen[2], 0u);

  // The data ends a few bytes into the row after a whole run row: the bytes a
  // copy covered past the first row's end must be those the plain steps leave.
  for (const std::uint32_t width : {300u, 1000u}) {
    // Changing pixels: literals, so that plenty of bytes follow the red plane.
    testing::RgbePixels image{width, 2, {}};
    for (std::uint32_t i = 0; i < 2 * width; ++i) {
      image.Pixels.push_back({next(), next(), next(), static_cast<std::uint8_t>(next() | 3)});
    }
    image.Pixels[width].R |= 4;  // the flat row must not start like a row head
    std::vector<std::uint8_t> full = testing::EncodeComponentRunRow(image.Pixels.data(), width);
    const std::size_t firstRow = full.size();
    std::vector<std::uint8_t> flat = testing::EncodeFlatRow(image.Pixels.data() + width, width);
    full.insert(full.end(), flat.begin(), flat.end());
    for (std::size_t cut = 0; cut <= 70; ++cut) {
      const std::vector<std::uint8_t> data(full.begin(), full.begin() + firstRow + cut);
      RgbePlanes decoded[2];
      for (const bool plain : {true, false}) {
        Load load(data, width, 2, "#?RADIANCE\n\n-Y 1 +X 1\n", plain);
        ASSERT_TRUE(load.Result);
        decoded[plain ? 0 : 1] = load.Planes();
      }
      ASSERT_EQ(decoded[0], decoded[1]) << width << " cut " << cut;
    }
  }
}

// A refused row head stops the block decoder at that row, as it stops the job.
TEST(RgbeBlockDecoder, StopsAtARefusedRowHead) {
  std::vector<std::uint8_t> data;  // one flat row
  for (int x = 0; x < 8; ++x) data.insert(data.end(), {10, 20, 30, 140});
  data.insert(data.end(), {2, 2, 0, 5});  // width 5 in an 8-wide image
  RgbeBlockDecoder decoder(data.data(), data.size(), 8, 3, 8);
  EXPECT_FALSE(decoder.DecodeNext());
  EXPECT_EQ(decoder.Last().Rows, 1u);
  EXPECT_EQ(decoder.RowCounts()[0], 1u);
}

}  // namespace
}  // namespace lumivane
