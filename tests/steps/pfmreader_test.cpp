#include "steps/pfmreader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/floatfiles.h"
#include "tests/support/testfiles.h"

namespace lumivane {
namespace {

using testing::Bytes;
using testing::StepHarness;
using testing::TempDir;

struct PfmResult {
  bool Accepted = false;
  std::vector<std::string> Log;
  std::string FailureMessage;
  std::uint32_t Width = 0, Height = 0;
  bool Intel = false, BottomUp = false, InputOpen = false;
  std::uint64_t Position = 0;
};

PfmResult ReadPfm(StepHarness& h, const std::string& path, const Bytes& file) {
  testing::WriteBytes(path, file);
  h.Window.Log.clear();
  h.Window.DialogAnswers = {path};
  h.Steps.LogLineCounter = 1;
  PfmResult r;
  r.Accepted = ReadPfmHeader(h.Steps);
  r.Log = h.Window.Log;
  r.FailureMessage = h.Steps.Context.FailureMessage;
  r.Width = h.Steps.Context.ImageWidth;
  r.Height = h.Steps.Context.ImageHeight;
  r.Intel = h.Steps.Context.SourceIntelOrder;
  r.BottomUp = h.Steps.Context.InputRowsBottomUp;
  r.InputOpen = h.Steps.Context.InputFile.IsOpen();
  r.Position = h.Steps.Context.InputFile.Position();
  h.Steps.Context.InputFile.Close();
  return r;
}

// The header text followed by the pixels of a w x h image.
Bytes WithPixels(const std::string& header, std::uint32_t w, std::uint32_t h) {
  return testing::Pfm(header, testing::GradientImage(w, h), true);
}

TEST(PfmReader, LogsTheHeaderAndStopsAtTheFirstPixel) {
  TempDir dir;
  StepHarness h;
  const std::string path = dir.File("in.pfm");
  const PfmResult r = ReadPfm(h, path, WithPixels("PF\n4 3\n-1.0\n", 4, 3));
  ASSERT_TRUE(r.Accepted) << r.FailureMessage;
  EXPECT_EQ(r.Log, (std::vector<std::string>{
                       "Image Width: 4", "Image Length: 3", "Exposition Scale:-1",
                       "Anlysed PFM wrapper in 0 seconds", "Ready to read PFM data from " + path}));
  EXPECT_EQ(r.Width, 4u);
  EXPECT_EQ(r.Height, 3u);
  EXPECT_TRUE(r.Intel);
  EXPECT_TRUE(r.BottomUp);
  EXPECT_TRUE(r.InputOpen);
  EXPECT_EQ(r.Position, 12u);
  EXPECT_EQ(h.Window.Dialogs.at(0).Title, "LUMIVANE Open PFM");
}

TEST(PfmReader, HeaderVariants) {
  TempDir dir;
  StepHarness h;
  const std::string path = dir.File("in.pfm");
  // The 10-byte header: the data starts 10 bytes in.
  PfmResult r = ReadPfm(h, path, WithPixels("PF\n1 1\n-1\n", 1, 1));
  ASSERT_TRUE(r.Accepted);
  EXPECT_EQ(r.Position, 10u);
  // Two spaces; a scale line ended by CR LF; any letter case of an upper-case F.
  r = ReadPfm(h, path, WithPixels("pF\n2  3\n-1.0\r\n", 2, 3));
  ASSERT_TRUE(r.Accepted) << r.FailureMessage;
  EXPECT_EQ(r.Width, 2u);
  EXPECT_EQ(r.Height, 3u);
  EXPECT_EQ(r.Position, 14u);
  EXPECT_TRUE(r.Intel);
  // Positive and zero scales select most significant byte first; a second file
  // is read with its own order; the magnitude is only logged.
  for (const char* scale : {"1.0", "0"}) {
    r = ReadPfm(h, path, WithPixels(std::string("PF\n1 1\n") + scale + "\n", 1, 1));
    ASSERT_TRUE(r.Accepted);
    EXPECT_FALSE(r.Intel);
  }
  r = ReadPfm(h, path, WithPixels("PF\n1 1\n-2.5\n", 1, 1));
  EXPECT_TRUE(r.Intel);
  EXPECT_EQ(r.Log[2], "Exposition Scale:-2.5");
  r = ReadPfm(h, path, WithPixels("PF\n1 1\n1e60\n", 1, 1));
  EXPECT_TRUE(r.Accepted);
  EXPECT_FALSE(r.Intel);
}

TEST(PfmReader, RefusesWhatItCannotRead) {
  TempDir dir;
  StepHarness h;
  const std::string path = dir.File("in.pfm");
  const std::string notPfm = path + " is not a Portable Floatmap file";
  const auto refused = [&](const Bytes& file, const std::string& message,
                           std::vector<std::string> logHead) {
    const PfmResult r = ReadPfm(h, path, file);
    EXPECT_FALSE(r.Accepted);
    EXPECT_EQ(r.FailureMessage, message);
    logHead.insert(logHead.end(), {message, "Closed file:", path, std::string(72, '-')});
    EXPECT_EQ(r.Log, logHead);
    EXPECT_FALSE(r.InputOpen);
    EXPECT_TRUE(h.Window.Boxes.empty());
  };
  const auto text = [](const std::string& s) { return Bytes(s.begin(), s.end()); };
  refused(WithPixels("PF\r\n1 1\n-1\n", 1, 1), notPfm, {});
  refused(text("P"), notPfm, {});
  refused(text("PX\n1 1\n-1\n"), notPfm, {});
  refused(WithPixels("Pf\n1 1\n-1\n", 1, 1),
          path +
              " is a one-channel (grey) Portable Floatmap file; only colour (PF) files can be"
              " read",
          {});
  // An empty width is 0: refused once both sizes are logged.
  refused(WithPixels("PF\n 1 1\n-1\n", 1, 1), path + " is smaller than 1 x 1 pixel",
          {"Image Width: 0", "Image Length: 1"});
  refused(WithPixels("PF\n-3 1\n-1\n", 1, 1), notPfm, {});
  refused(WithPixels("PF\n1 -3\n-1\n", 1, 1), notPfm, {"Image Width: 1"});
  refused(text("PF\n1 1"), notPfm, {"Image Width: 1"});
  refused(text("PF\n11\n-1\n"), notPfm, {});
  // No line feed ends the scale within the first 256 bytes.
  refused(text("PF\n1 1\n-1" + std::string(300, '0')), notPfm,
          {"Image Width: 1", "Image Length: 1"});
  refused(text("PF\n70000 70000\n-1\n"), path + " is too large: its pixels take more than 4 GiB",
          {"Image Width: 70000", "Image Length: 70000"});
  Bytes cut = WithPixels("PF\n2 2\n-1\n", 2, 2);
  cut.pop_back();
  refused(cut, path + " is shorter than its header promises",
          {"Image Width: 2", "Image Length: 2", "Exposition Scale:-1"});
}

TEST(PfmReader, CancelledDialogNamesNoEarlierInput) {
  StepHarness h;
  h.Steps.Context.InputFileName = "/earlier/file.pfm";
  EXPECT_FALSE(ReadPfmHeader(h.Steps));
  EXPECT_EQ(h.Steps.Context.FailureMessage, "Cannot open ");
  EXPECT_EQ(h.Window.Log, std::vector<std::string>{"Cannot open "});
}

}  // namespace
}  // namespace lumivane
