#include "steps/tiffreader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "shell/controlids.h"
#include "steps/tiffwriter.h"
#include "tests/support/floatfiles.h"
#include "tests/support/libraryfiles.h"
#include "tests/support/testfiles.h"

namespace lumivane {
namespace {

using testing::Bytes;
using testing::StepHarness;
using testing::TempDir;
using testing::TiffBuilder;

struct ReadResult {
  bool Accepted = false;
  std::vector<std::string> Log;
  std::vector<testing::RecordedBox> Boxes;
  std::string FailureMessage;
  std::uint32_t Width = 0, Height = 0;
  bool Intel = false;
  std::uint64_t Position = 0;
  bool InputOpen = false;
};

ReadResult ReadTiff(const TempDir& dir, const Bytes& file, std::uint32_t previousWidth = 0) {
  const std::string path = dir.File("in.tif");
  testing::WriteBytes(path, file);
  StepHarness h;
  h.Steps.Context.ImageWidth = previousWidth;
  h.Window.DialogAnswers = {path};
  ReadResult r;
  r.Accepted = ReadTiffHeader(h.Steps);
  r.Log = h.Window.Log;
  r.Boxes = h.Window.Boxes;
  r.FailureMessage = h.Steps.Context.FailureMessage;
  r.Width = h.Steps.Context.ImageWidth;
  r.Height = h.Steps.Context.ImageHeight;
  r.Intel = h.Steps.Context.SourceIntelOrder;
  r.Position = h.Steps.Context.InputFile.Position();
  r.InputOpen = h.Steps.Context.InputFile.IsOpen();
  return r;
}

// A TIFF written by this program's own header writer, with its pixel rows.
Bytes OwnTiff(const TempDir& dir, bool bits96, std::uint32_t width, std::uint32_t height) {
  const std::string path = dir.File(bits96 ? "own96.tif" : "own24.tif");
  StepHarness h;
  h.Steps.Context.ImageWidth = width;
  h.Steps.Context.ImageHeight = height;
  h.Window.DialogAnswers = {path};
  EXPECT_TRUE(bits96 ? WriteTiff96Header(h.Steps) : WriteTiff24Header(h.Steps));
  const Bytes pixels(std::size_t{width} * height * (bits96 ? 12 : 3), 0x3F);
  h.Steps.Context.OutputFile.Write(pixels.data(), pixels.size());
  EXPECT_TRUE(h.Steps.Context.OutputFile.Commit());
  return testing::ReadBytes(path);
}

TEST(TiffReader, ShortAndLongFollowTheByteOrder) {
  const std::uint8_t bytes[] = {0x12, 0x34, 0x56, 0x78};
  EXPECT_EQ(ReadTiffShort(bytes, true), 0x3412);
  EXPECT_EQ(ReadTiffShort(bytes, false), 0x1234);
  EXPECT_EQ(ReadTiffLong(bytes, true), 0x78563412u);
  EXPECT_EQ(ReadTiffLong(bytes, false), 0x12345678u);
}

TEST(TiffReader, AcceptsItsOwn96BitFileWithTheFullLog) {
  TempDir dir;
  const ReadResult r = ReadTiff(dir, OwnTiff(dir, true, 4, 2));
  ASSERT_TRUE(r.Accepted) << r.FailureMessage;
  const std::vector<std::string> expected = {
      "TIFF Version (usually 42): 42",
      "IFD start address: 8",
      "Number of tags: 17",
      " 254 NewSubfile",
      " 256 ImageWidth = 4",
      " 257 ImageLength = 2",
      " 258 BitsPerSample = 3",
      " --> 96-bit per pixel source file.",
      " 259 Compression = 1",
      " 262 PhotometricInterpretation",
      " 273 StripOffset (DataStart) = 308",
      " 274 Orientation",
      " 277 SamplesPerPixel = 3",
      " 278 RowsPerStrip = 2",
      " 279 StripByteCounts: 96 bytes",
      " 282 XResolution",
      " 283 YResolution",
      " 296 ResolutionUnit = 2",
      " 305 Software",
      " 306 Date Time",
      " 339 Sample Format = IEEE floating point.",
      "DONE reading and interpreting IFD.",
      "Analised TIFF IFD in 0 seconds",
      "Ready to read TIFF data from " + dir.File("in.tif"),
  };
  EXPECT_EQ(r.Log, expected);
  EXPECT_TRUE(r.Boxes.empty());
  EXPECT_EQ(r.Width, 4u);
  EXPECT_EQ(r.Height, 2u);
  EXPECT_TRUE(r.Intel);
  EXPECT_EQ(r.Position, 308u);
  EXPECT_TRUE(r.InputOpen);
}

TEST(TiffReader, RefusesItsOwn24BitFileAtTag258) {
  TempDir dir;
  const ReadResult r = ReadTiff(dir, OwnTiff(dir, false, 4, 2));
  EXPECT_FALSE(r.Accepted);
  ASSERT_EQ(r.Boxes.size(), 1u);
  EXPECT_EQ(r.Boxes[0], (testing::RecordedBox{"Tag 258 issue: not 32 bit per colour.",
                                              "LUMIVANE - Tag issue.", BoxKind::Error}));
  EXPECT_EQ(r.FailureMessage, "Tag 258 issue: not 32 bit per colour.");
  ASSERT_GE(r.Log.size(), 10u);
  const std::vector<std::string> tail(r.Log.end() - 5, r.Log.end());
  EXPECT_EQ(tail,
            (std::vector<std::string>{" 258 BitsPerSample = 3",
                                      "Interpreting IFD tags, expecting 32 but got 8 bits instead.",
                                      "Closed file:", dir.File("in.tif"), std::string(72, '-')}));
  EXPECT_FALSE(r.InputOpen);
}

TEST(TiffReader, EveryCheckRefusesWithItsBoxAndLogLine) {
  struct Case {
    std::uint16_t Tag, Type;
    std::uint32_t Count;
    std::uint16_t Value;
    std::string Box, Title, LogLine;
  };
  const std::vector<Case> cases = {
      {258, 3, 1, 32, "Tag 258 issue: not 3 values.", "LUMIVANE - Tag issue.",
       "Interpreting IFD tags, expecting 3."},
      {259, 3, 1, 5, "Tag 259 issue: has data compression.", "LUMIVANE - File issue.",
       "Interpreting tags, expecting 1."},
      {277, 3, 1, 4, "Tag 277 issue: not 3 bytes.", "LUMIVANE - Tag issue.",
       "Interpreting tags, expecting 3."},
      {284, 3, 1, 2, "Tag 284 issue: planes, not triplets.", "LUMIVANE - Tag issue.",
       "Interpreting tags, expecting 1."},
  };
  TempDir dir;
  for (const Case& c : cases) {
    for (const bool intel : {true, false}) {
      TiffBuilder tiff(intel);
      tiff.Entry(c.Tag, c.Type, c.Count, tiff.Short(c.Value));
      const ReadResult r = ReadTiff(dir, tiff.Build());
      EXPECT_FALSE(r.Accepted);
      ASSERT_EQ(r.Boxes.size(), 1u) << c.Tag;
      EXPECT_EQ(r.Boxes[0].Text, c.Box);
      EXPECT_EQ(r.Boxes[0].Title, c.Title);
      EXPECT_EQ(r.FailureMessage, c.Box);
      ASSERT_EQ(r.Log.size(), 8u) << c.Tag;
      EXPECT_EQ(r.Log[4], c.LogLine);
      EXPECT_EQ(r.Log[5], "Closed file:");
    }
  }
  // An unknown sample format logs its verdict on the entry line and nothing after the box.
  TiffBuilder tiff(true);
  tiff.Data(339, 3, 3, tiff.Shorts({1, 1, 1}));
  const ReadResult r = ReadTiff(dir, tiff.Build());
  EXPECT_FALSE(r.Accepted);
  EXPECT_EQ(r.FailureMessage, "Tag 339 issue: sample format unknown.");
  ASSERT_EQ(r.Log.size(), 7u);
  EXPECT_EQ(r.Log[3], " 339 Sample Format = Undefined or unknown. Cannot interpret data.");
  EXPECT_EQ(r.Log[4], "Closed file:");
}

TEST(TiffReader, ByteOrderMarkMustBeExact) {
  TempDir dir;
  for (const Bytes& mark : {Bytes{'i', 'i', 42, 0, 8, 0, 0, 0}, Bytes{'m', 'm', 0, 42},
                            Bytes{'I', 'M', 42, 0}, Bytes{'I'}}) {
    const ReadResult r = ReadTiff(dir, mark);
    EXPECT_FALSE(r.Accepted);
    ASSERT_EQ(r.Boxes.size(), 1u);
    EXPECT_EQ(r.Boxes[0],
              (testing::RecordedBox{"Not a TIFF file.", "LUMIVANE - File|Open", BoxKind::Error}));
    EXPECT_EQ(r.FailureMessage, "Not a TIFF file.");
    ASSERT_EQ(r.Log.size(), 4u);
    EXPECT_EQ(r.Log[0], "STOP - No Job!");
    EXPECT_EQ(r.Log[1], "Closed file:");
  }
}

TEST(TiffReader, TagQuirksOfTheEntryValue) {
  TempDir dir;
  const testing::FloatImage image = testing::GradientImage(4464, 1);
  {
    // A type-3 ImageWidth counts only its first two bytes: 70 11 01 00 is 4464.
    TiffBuilder tiff(true);
    const std::uint32_t data = tiff.Append(testing::PixelRows(image, 0, 1));
    tiff.Entry(256, 3, 1, {0x70, 0x11, 0x01, 0x00});
    tiff.Entry(257, 3, 1, tiff.Short(1));
    tiff.Entry(273, 4, 1, tiff.Long(data));
    tiff.Entry(258, 3, 3, tiff.Long(tiff.Append(tiff.Shorts({32, 32, 32}))));
    tiff.Entry(262, 3, 1, tiff.Short(3));
    // Type 5 keeps the value of the SHORT before it: Photometric's 3.
    tiff.Entry(277, 5, 1, tiff.Long(0));
    const ReadResult r = ReadTiff(dir, tiff.Build());
    ASSERT_TRUE(r.Accepted) << r.FailureMessage;
    EXPECT_EQ(r.Width, 4464u);
    EXPECT_EQ(r.Log[3], " 256 ImageWidth = 4464");
    EXPECT_EQ(r.Log[9], " 277 SamplesPerPixel = 3");
    EXPECT_EQ(r.Position, data);
  }
  {
    // The same type-5 entry after a SHORT of 4 is checked against 4 and refused.
    TiffBuilder tiff(true);
    tiff.Entry(262, 3, 1, tiff.Short(4));
    tiff.Entry(277, 5, 1, tiff.Long(3));
    const ReadResult r = ReadTiff(dir, tiff.Build());
    EXPECT_FALSE(r.Accepted);
    EXPECT_EQ(r.FailureMessage, "Tag 277 issue: not 3 bytes.");
  }
  {
    // In "MM" a type-3 StripOffsets, RowsPerStrip, StripByteCounts or ResolutionUnit
    // is read as a 32-bit number: the value comes out times 65536.
    TiffBuilder tiff(false);
    tiff.Entry(278, 3, 1, tiff.Short(2));
    tiff.Entry(279, 3, 1, tiff.Short(24));
    tiff.Entry(296, 3, 1, tiff.Short(2));
    tiff.Entry(273, 3, 1, tiff.Short(8));
    const ReadResult r = ReadTiff(dir, tiff.Build(), 1);
    EXPECT_EQ(r.Log[3], " 278 RowsPerStrip = 131072");
    EXPECT_EQ(r.Log[4], " 279 StripByteCounts: 1572864 bytes");
    EXPECT_EQ(r.Log[5], " 296 ResolutionUnit = 131072");
    EXPECT_EQ(r.Log[6], " 273 StripOffset (DataStart) = 524288");
    // ...which lies outside this small file.
    EXPECT_FALSE(r.Accepted);
  }
  {
    // Only the first BitsPerSample value counts; unknown tags are "Not needed";
    // a later entry wins; with no size entries the previous size stays.
    TiffBuilder tiff(false);
    const std::uint32_t data = tiff.Append(testing::PixelRows(image, 0, 1, false));
    tiff.Data(258, 3, 3, tiff.Shorts({32, 8, 8}));
    tiff.Entry(273, 4, 1, tiff.Long(0));
    tiff.Entry(273, 4, 1, tiff.Long(data));
    tiff.Entry(317, 3, 1, tiff.Short(1));
    const ReadResult r = ReadTiff(dir, tiff.Build(), 4464);
    EXPECT_FALSE(r.Accepted);  // the height of the previous command is 0
    EXPECT_EQ(r.Log[7], " 317 Not needed");
  }
}

TEST(TiffReader, SeveralContiguousStripsReadFromTheFirstOffset) {
  TempDir dir;
  const testing::FloatImage image = testing::GradientImage(3, 5);
  for (const bool intel : {true, false}) {
    const Bytes file = testing::FloatTiff(image, {intel, 2, 0, false});
    const ReadResult r = ReadTiff(dir, file);
    ASSERT_TRUE(r.Accepted) << r.FailureMessage;
    EXPECT_EQ(r.Position, 8u);  // the first strip follows the file header
    // The entry is logged as given: the offset of the strip table.
    const Bytes single = testing::FloatTiff(image, {intel, 0, 0, false});
    EXPECT_NE(r.Log[9], " 273 StripOffset (DataStart) = 8");
    EXPECT_EQ(std::vector<std::uint8_t>(file.begin() + 8, file.begin() + 8 + 180),
              std::vector<std::uint8_t>(single.begin() + 8, single.begin() + 8 + 180));
  }
}

// Two SHORT values fit the 4-byte value field, where TIFF stores them instead
// of at an offset (tifffile writes StripByteCounts of two strips so).
TEST(TiffReader, StripTablesThatFitTheValueFieldAreReadFromIt) {
  TempDir dir;
  const testing::FloatImage image = testing::GradientImage(3, 2);
  for (const bool intel : {true, false}) {
    for (const bool shortOffsets : {false, true}) {
      SCOPED_TRACE(std::string(intel ? "II" : "MM") + (shortOffsets ? " SHORT" : " LONG"));
      TiffBuilder tiff(intel);
      const std::uint32_t first = tiff.Append(testing::PixelRows(image, 0, 1, intel));
      const std::uint32_t second = tiff.Append(testing::PixelRows(image, 1, 1, intel));
      tiff.Entry(256, 3, 1, tiff.Short(3));
      tiff.Entry(257, 3, 1, tiff.Short(2));
      tiff.Data(258, 3, 3, tiff.Shorts({32, 32, 32}));
      tiff.Entry(259, 3, 1, tiff.Short(1));
      if (shortOffsets) {
        tiff.Data(
            273, 3, 2,
            tiff.Shorts({static_cast<std::uint16_t>(first), static_cast<std::uint16_t>(second)}));
      } else {
        tiff.Data(273, 4, 2, tiff.Longs({first, second}));
      }
      tiff.Entry(277, 3, 1, tiff.Short(3));
      tiff.Entry(278, 3, 1, tiff.Short(1));
      tiff.Data(279, 3, 2, tiff.Shorts({36, 36}));
      tiff.Data(339, 3, 3, tiff.Shorts({3, 3, 3}));
      const Bytes file = tiff.Build();
      const ReadResult r = ReadTiff(dir, file);
      ASSERT_TRUE(r.Accepted) << r.FailureMessage;
      EXPECT_EQ(r.Position, first);

      const testing::JobRun run =
          testing::RunJobCommand(kTiffToPfmCommand, dir.File("in.tif"), dir.File("out.pfm"));
      ASSERT_TRUE(run.OutputExists) << run.FailureMessage;
      EXPECT_EQ(testing::ParseLittleEndianPfm(run.Output).Values, image.Values);
    }
  }
}

TEST(TiffReader, RefusesStripsThatDoNotFollowEachOther) {
  TempDir dir;
  const testing::FloatImage image = testing::GradientImage(3, 5);
  for (const testing::FloatTiffOptions& options :
       {testing::FloatTiffOptions{true, 2, 4, false}, testing::FloatTiffOptions{false, 2, 0, true},
        testing::FloatTiffOptions{true, 1, 12, true}}) {
    const ReadResult r = ReadTiff(dir, testing::FloatTiff(image, options));
    EXPECT_FALSE(r.Accepted);
    EXPECT_EQ(r.FailureMessage,
              dir.File("in.tif") +
                  " has strips that do not follow each other in row order; such files cannot be "
                  "read.");
    ASSERT_EQ(r.Boxes.size(), 1u);
    EXPECT_EQ(r.Boxes[0].Text, r.FailureMessage);
    EXPECT_FALSE(r.InputOpen);
  }
  // Several strips without a table of their byte counts cannot be checked.
  TiffBuilder tiff(true);
  tiff.Data(273, 4, 2, tiff.Longs({8, 20}));
  tiff.Entry(279, 4, 1, tiff.Long(12));
  const ReadResult r = ReadTiff(dir, tiff.Build());
  EXPECT_FALSE(r.Accepted);
  EXPECT_NE(r.FailureMessage.find("no matching StripByteCounts table"), std::string::npos);
}

// Tables longer than the block of values the reader takes at once: checked
// to their last entry, in both byte orders.
TEST(TiffReader, LongStripTablesAreCheckedToTheirLastEntry) {
  TempDir dir;
  constexpr std::uint32_t kRows = 40000;
  const testing::FloatImage image = testing::GradientImage(1, kRows);
  for (const bool intel : {true, false}) {
    for (const int fault : {0, 1, 2}) {
      SCOPED_TRACE(std::string(intel ? "II" : "MM") + " fault " + std::to_string(fault));
      TiffBuilder tiff(intel);
      const std::uint32_t first = tiff.Append(testing::PixelRows(image, 0, kRows, intel));
      std::vector<std::uint32_t> offsets(kRows);
      for (std::uint32_t i = 0; i < kRows; ++i) offsets[i] = first + 12 * i;
      // 1: a strip out of place near the end; 2: a byte-count table past the end.
      if (fault == 1) offsets[kRows - 5] += 4;
      tiff.Entry(256, 3, 1, tiff.Short(1));
      tiff.Entry(257, 3, 1, tiff.Short(static_cast<std::uint16_t>(kRows)));
      tiff.Data(258, 3, 3, tiff.Shorts({32, 32, 32}));
      tiff.Entry(259, 3, 1, tiff.Short(1));
      tiff.Data(273, 4, kRows, tiff.Longs(offsets));
      tiff.Entry(277, 3, 1, tiff.Short(3));
      tiff.Entry(278, 3, 1, tiff.Short(1));
      const std::uint32_t counts = fault == 2 ? kRows - 1000 : kRows;
      tiff.Data(279, 4, kRows, tiff.Longs(std::vector<std::uint32_t>(counts, 12)));
      tiff.Data(339, 3, 3, tiff.Shorts({3, 3, 3}));
      const ReadResult r = ReadTiff(dir, tiff.Build());
      if (fault == 0) {
        ASSERT_TRUE(r.Accepted) << r.FailureMessage;
        EXPECT_EQ(r.Height, kRows);
        EXPECT_EQ(r.Position, first);
      } else {
        EXPECT_FALSE(r.Accepted);
        EXPECT_EQ(r.FailureMessage,
                  dir.File("in.tif") +
                      (fault == 1 ? " has strips that do not follow each other in row order; "
                                    "such files cannot be read."
                                  : " has its strip tables outside the file."));
      }
    }
  }
}

TEST(TiffReader, NeverReadsOutsideTheFile) {
  TempDir dir;
  const std::string name = dir.File("in.tif");
  const testing::FloatImage image = testing::GradientImage(2, 2);
  const Bytes good = testing::FloatTiff(image);
  ASSERT_TRUE(ReadTiff(dir, good).Accepted);

  TiffBuilder outside(true);
  outside.Entry(256, 4, 1, outside.Long(1));
  const Bytes farIfd = outside.BuildWithIfdOffset(0x7FFFFFF0);
  EXPECT_EQ(ReadTiff(dir, farIfd).FailureMessage,
            name + " has its IFD start address outside the file.");
  EXPECT_EQ(ReadTiff(dir, Bytes{'I', 'I', 42, 0, 8}).FailureMessage,
            name + " ends inside its TIFF header.");
  EXPECT_EQ(ReadTiff(dir, Bytes(good.begin(), good.end() - 20)).FailureMessage,
            name + " ends inside its IFD.");

  TiffBuilder bits(true);
  bits.Entry(258, 3, 3, bits.Long(5000));
  EXPECT_EQ(ReadTiff(dir, bits.Build()).FailureMessage,
            name + " has its BitsPerSample values outside the file.");
  TiffBuilder format(false);
  format.Entry(339, 3, 3, format.Long(0xFFFFFFFF));
  EXPECT_EQ(ReadTiff(dir, format.Build()).FailureMessage,
            name + " has its SampleFormat values outside the file.");
  TiffBuilder table(true);
  table.Entry(273, 4, 3, table.Long(0xFFFFFFF0));
  EXPECT_EQ(ReadTiff(dir, table.Build()).FailureMessage,
            name + " has its strip offsets outside the file.");
}

TEST(TiffReader, RefusesSizesNoJobCanHandle) {
  TempDir dir;
  const std::string name = dir.File("in.tif");
  const auto sized = [](std::uint32_t width, std::uint32_t height) {
    TiffBuilder tiff(true);
    tiff.Entry(256, 4, 1, tiff.Long(width));
    tiff.Entry(257, 4, 1, tiff.Long(height));
    tiff.Entry(273, 4, 1, tiff.Long(8));
    return tiff.Build();
  };
  for (const auto& [w, h] : std::vector<std::pair<std::uint32_t, std::uint32_t>>{
           {0, 5}, {5, 0}, {70000, 70000}, {0xFFFFFFFF, 1}, {1, 357913942}}) {
    const ReadResult r = ReadTiff(dir, sized(w, h));
    EXPECT_FALSE(r.Accepted);
    EXPECT_EQ(r.FailureMessage,
              name + " has a width or height of 0, or more than 4 GiB of pixels.");
  }
  // 357913941 x 12 bytes fits 32 bits: refused only because the file is short.
  const ReadResult r = ReadTiff(dir, sized(1, 357913941));
  EXPECT_EQ(r.FailureMessage, name + " is shorter than its header promises.");
}

// A tiled float TIFF has no StripOffsets: it used to be mapped from byte 0,
// IFD bytes and all, and tone-mapped to rubbish with success.
TEST(TiffReader, RefusesTiledFilesAndNamesTheGeneralReader) {
  TempDir dir;
  for (const bool intel : {true, false}) {
    testing::LibraryTiffOptions tiled;
    tiled.Tile = 16;
    tiled.BigEndian = !intel;
    const std::string path = dir.File("tiled.tif");
    testing::WriteLibraryTiff(path, testing::GradientImage(20, 18), tiled);
    const ReadResult r = ReadTiff(dir, testing::ReadBytes(path));
    EXPECT_FALSE(r.Accepted);
    EXPECT_FALSE(r.InputOpen);
    ASSERT_EQ(r.Boxes.size(), 1u);
    EXPECT_EQ(r.Boxes[0].Title, "LUMIVANE - File issue.");
    EXPECT_EQ(r.FailureMessage, r.Boxes[0].Text);
    EXPECT_NE(r.FailureMessage.find("is a tiled TIFF"), std::string::npos) << r.FailureMessage;
    EXPECT_NE(r.FailureMessage.find("read by the general reader"), std::string::npos);
  }
}

}  // namespace
}  // namespace lumivane
