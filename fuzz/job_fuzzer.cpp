// A whole job command through the dispatcher on any bytes: the first byte
// picks one of the seven job commands, the rest is the input file. The output
// goes to a plain file in a temporary folder.
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "formats/rgbe.h"
#include "fuzz/fuzzharness.h"
#include "shell/dispatch.h"
#include "imaging/statistics.h"
#include "imaging/tonemap.h"
#include "io/binaryfile.h"
#include "shell/controlids.h"
#include "shell/dispatch.h"
#include "steps/statuslog.h"
#include "tests/support/rgbeimage.h"

namespace {

// The jobs hold up to 4 bytes per pixel of the image the header claims, as
// they must; the harness keeps each run within libFuzzer's memory limit by
// refusing claims above 65536 pixels after the real reader accepted them.
constexpr std::uint64_t kMostPixels = std::uint64_t{1} << 16;

using namespace lumivane;
using namespace lumivane::fuzzing;

// What the reader left for the job.
struct ReaderResult {
  bool Accepted = false;
  std::uint64_t DataStart = 0;
  std::uint32_t Width = 0, Height = 0;
  bool Intel = false;
  bool BottomUp = false;
};

// The pixels in stored order, three values each, as the bits of 32-bit
// floats, and how they reach the output from the reference functions alone.
struct StoredPixels {
  std::vector<std::uint32_t> Bits;
  float Value(std::size_t i) const {
    float v;
    std::memcpy(&v, &Bits[i], sizeof v);
    return v;
  }
};

StoredPixels FloatPixels(const std::uint8_t* file, const ReaderResult& r) {
  StoredPixels pixels;
  const std::size_t count = std::size_t{r.Width} * r.Height * 3;
  const std::uint8_t* at = file + r.DataStart;
  for (std::size_t i = 0; i < count; ++i, at += 4) {
    pixels.Bits.push_back(r.Intel ? std::uint32_t{at[0]} | std::uint32_t{at[1]} << 8 |
                                        std::uint32_t{at[2]} << 16 | std::uint32_t{at[3]} << 24
                                  : std::uint32_t{at[3]} | std::uint32_t{at[2]} << 8 |
                                        std::uint32_t{at[1]} << 16 | std::uint32_t{at[0]} << 24);
  }
  return pixels;
}

// Decodes the Radiance pixels again, in a session of their own.
StoredPixels RadiancePixels(const MemoryFile& input, const ReaderResult& r) {
  static MemoryFile scratch("job-scratch");
  FuzzSession session;
  JobContext& context = session.Steps.Context;
  context.ImageWidth = r.Width;
  context.ImageHeight = r.Height;
  context.InputFileName = input.Path();
  context.InputFile = BinaryFile::OpenForReading(input.Path());
  LUMIVANE_FUZZ_CHECK(context.InputFile.Seek(r.DataStart));
  context.OutputFileName = scratch.Path();
  context.OutputFile = BinaryFile::CreateForWriting(scratch.Path());
  RgbeImage image;
  LUMIVANE_FUZZ_CHECK(LoadRgbeImage(session.Steps, image));
  StoredPixels pixels;
  for (std::size_t i = 0; i < image.R.size(); ++i) {
    for (const std::uint8_t mantissa : {image.R[i], image.G[i], image.B[i]}) {
      const float v = RgbeToFloat(mantissa, image.E[i]);
      std::uint32_t bits;
      std::memcpy(&bits, &v, sizeof bits);
      pixels.Bits.push_back(bits);
    }
  }
  return pixels;
}

// The stored row shown as output row `row`: every output keeps the image
// upright, and a PFM output is written bottom row first.
std::uint32_t StoredRow(const ReaderResult& r, std::uint32_t row, bool pfmOutput) {
  const std::uint32_t imageRow = pfmOutput ? r.Height - 1 - row : row;
  return r.BottomUp ? r.Height - 1 - imageRow : imageRow;
}

void CheckToneMapped(const StoredPixels& pixels, const ReaderResult& r, const JobSettings& settings,
                     OperatorWidth width, const std::vector<std::uint8_t>& output) {
  ChannelAccumulators accumulators;
  for (std::size_t i = 0; i < pixels.Bits.size(); ++i) accumulators[i % 3].Add(pixels.Value(i));
  const ImageStatistics statistics =
      ComputeImageStatistics(accumulators, r.Width * r.Height, settings.WarmColours != 0);
  const std::size_t rowValues = std::size_t{r.Width} * 3;
  for (std::uint32_t row = 0; row < r.Height; ++row) {
    const std::size_t stored = std::size_t{StoredRow(r, row, false)} * rowValues;
    for (std::size_t i = 0; i < rowValues; ++i) {
      const int c = static_cast<int>(i % 3);
      const std::uint8_t expected =
          ToneMapChannel(pixels.Value(stored + i), statistics.Minimum[c], statistics.Average[c],
                         settings.Brightness, settings.PostGamma, width);
      LUMIVANE_FUZZ_CHECK(output[308 + row * rowValues + i] == expected);
    }
  }
}

void CheckConverted(const StoredPixels& pixels, const ReaderResult& r, bool pfmOutput,
                    std::size_t headerSize, const std::vector<std::uint8_t>& output) {
  const std::size_t rowValues = std::size_t{r.Width} * 3;
  for (std::uint32_t row = 0; row < r.Height; ++row) {
    const std::size_t stored = std::size_t{StoredRow(r, row, pfmOutput)} * rowValues;
    for (std::size_t i = 0; i < rowValues; ++i) {
      const std::uint32_t bits = pixels.Bits[stored + i];
      const std::uint8_t* at = &output[headerSize + 4 * (row * rowValues + i)];
      const std::uint32_t written = std::uint32_t{at[0]} | std::uint32_t{at[1]} << 8 |
                                    std::uint32_t{at[2]} << 16 | std::uint32_t{at[3]} << 24;
      LUMIVANE_FUZZ_CHECK(written == bits);
    }
  }
}

// The job's output as a plain file in a folder of its own: outputs are written
// beside their name and renamed into place, which a descriptor's /proc name
// cannot take.
class OutputFile {
 public:
  OutputFile() {
    char folder[] = "/tmp/lumivane-fuzz-XXXXXX";
    LUMIVANE_FUZZ_CHECK(::mkdtemp(folder) != nullptr);
    folder_ = folder;
    path_ = folder_ + "/output";
  }
  ~OutputFile() {
    Reset();
    ::rmdir(folder_.c_str());
  }
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  const std::string& Path() const { return path_; }
  void Reset() const { ::unlink(path_.c_str()); }
  std::vector<std::uint8_t> Contents() const {
    BinaryFile file = BinaryFile::OpenForReading(path_);
    if (!file.IsOpen()) return {};
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(file.Size().value_or(0)));
    bytes.resize(file.Read(bytes.data(), bytes.size()));
    return bytes;
  }
  std::uint64_t Size() const { return Contents().size(); }

 private:
  std::string folder_;
  std::string path_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  static MemoryFile input("job-input");
  static const OutputFile output;
  input.Assign(data + 1, size - 1);
  output.Reset();

  FuzzSession session;
  Session& steps = session.Steps;
  const auto chains = DefaultJobChains();
  steps.Chains.assign(chains.begin(), chains.end());
  JobChain& chain = steps.Chains[data[0] % steps.Chains.size()];
  const JobStep reader = chain.Reader;
  ReaderResult reading;
  chain.Reader = [reader, &reading](Session& s) {
    if (!reader(s)) return false;
    const JobContext& c = s.Context;
    reading = {true,          c.InputFile.Position(), c.ImageWidth,
               c.ImageHeight, c.SourceIntelOrder,     c.InputRowsBottomUp};
    if (std::uint64_t{s.Context.ImageWidth} * s.Context.ImageHeight <= kMostPixels) return true;
    s.Context.FailureMessage = "larger than the fuzzing harness runs";
    return CloseInputFile(s);
  };
  steps.Settings.WarmColours = data[0] & 0x80 ? 1 : 0;
  session.Window.DialogAnswers = {input.Path(), output.Path()};
  HandleCommand(steps, chain.CommandId);

  // One box of the dispatcher's: the success box or the abort box, never both.
  std::size_t successes = 0, aborts = 0;
  for (const Box& box : session.Window.Boxes) {
    if (box.Title == "LUMIVANE - Success.") ++successes;
    if (box.Title == "LUMIVANE - Abort.") ++aborts;
  }
  LUMIVANE_FUZZ_CHECK(successes + aborts == 1);
  LUMIVANE_FUZZ_CHECK(!steps.Context.InputFile.IsOpen() && !steps.Context.OutputFile.IsOpen());
  if (successes == 1) {
    // The whole image was written: the header and every row's pixels.
    const std::uint64_t pixels =
        std::uint64_t{steps.Context.ImageWidth} * steps.Context.ImageHeight;
    const int id = chain.CommandId;
    std::uint64_t expected = 0;
    if (id == kOpenHdrCommand || id == kOpenTiffCommand || id == kOpenPfmCommand) {
      expected = 308 + 3 * pixels;
    } else if (id == kHdrToTiffCommand || id == kPfmToTiffCommand) {
      expected = 308 + 12 * pixels;
    } else {
      const std::string header = "PF\n" + std::to_string(steps.Context.ImageWidth) + " " +
                                 std::to_string(steps.Context.ImageHeight) + "\n-1.00000\n";
      expected = header.size() + 12 * pixels;
      LUMIVANE_FUZZ_CHECK(output.Size() == expected);
      const auto written = output.Contents();
      LUMIVANE_FUZZ_CHECK(std::string(written.begin(), written.begin() + header.size()) == header);
    }
    LUMIVANE_FUZZ_CHECK(output.Size() == expected);

    // Every output byte as the reference functions give it.
    LUMIVANE_FUZZ_CHECK(reading.Accepted);
    const bool radiance =
        id == kOpenHdrCommand || id == kHdrToTiffCommand || id == kHdrToPfmCommand;
    const StoredPixels values =
        radiance ? RadiancePixels(input, reading) : FloatPixels(data + 1, reading);
    const std::vector<std::uint8_t> written = output.Contents();
    if (id == kOpenHdrCommand || id == kOpenTiffCommand || id == kOpenPfmCommand) {
      CheckToneMapped(values, reading, steps.Settings,
                      radiance ? OperatorWidth::Single : OperatorWidth::Double, written);
    } else {
      const bool pfmOutput = id == kHdrToPfmCommand || id == kTiffToPfmCommand;
      CheckConverted(values, reading, pfmOutput, written.size() - 12 * pixels, written);
    }
  } else {
    LUMIVANE_FUZZ_CHECK(!steps.Context.FailureMessage.empty());
  }
  return 0;
}
