// A whole job command through the dispatcher on any bytes: the first byte
// picks one of the seven job commands, the rest is the input file. The output
// goes to a second in-memory file.
#include <limits>
#include <string>

#include "fuzz/fuzzharness.h"
#include "shell/controlids.h"
#include "shell/dispatch.h"
#include "shell/statuslog.h"

namespace {

// The jobs hold up to 4 bytes per pixel of the image the header claims, as
// they must; the harness keeps each run within libFuzzer's memory limit by
// refusing claims above 65536 pixels after the real reader accepted them.
constexpr std::uint64_t kMostPixels = std::uint64_t{1} << 16;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace lumivane;
  using namespace lumivane::fuzzing;
  if (size < 1) return 0;
  static MemoryFile input("job-input");
  static MemoryFile output("job-output");
  input.Assign(data + 1, size - 1);
  output.Assign(nullptr, 0);

  FuzzSession session;
  Session& steps = session.Steps;
  JobChain& chain = steps.Chains[data[0] % steps.Chains.size()];
  const JobStep reader = chain.Reader;
  chain.Reader = [reader](Session& s) {
    if (!reader(s)) return false;
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
  } else {
    LUMIVANE_FUZZ_CHECK(!steps.Context.FailureMessage.empty());
  }
  return 0;
}
