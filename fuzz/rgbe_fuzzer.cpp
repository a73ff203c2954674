// The RGBE scanline decoder on any bytes. The first three bytes choose the
// image size (1 to 1024 wide, so that run rows of 256 and more occur, and 1
// to 32 high); the rest is the pixel data.
#include <limits>

#include "formats/rgbe.h"
#include "fuzz/fuzzharness.h"
#include "shell/binaryfile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace lumivane;
  using namespace lumivane::fuzzing;
  if (size < 3) return 0;
  static MemoryFile input("rgbe-input");
  static MemoryFile output("rgbe-output");
  input.Assign(data, size);

  FuzzSession session;
  JobContext& context = session.Steps.Context;
  context.ImageWidth = 1 + (std::uint32_t{data[0]} | std::uint32_t{data[1]} << 8) % 1024;
  context.ImageHeight = 1 + data[2] % 32;
  context.InputFileName = input.Path();
  context.InputFile = BinaryFile::OpenForReading(input.Path());
  LUMIVANE_FUZZ_CHECK(context.InputFile.Seek(3));
  context.OutputFileName = output.Path();
  context.OutputFile = BinaryFile::CreateForWriting(output.Path());

  RgbeImage image;
  const bool decoded = LoadRgbeImage(session.Steps, image);
  LUMIVANE_FUZZ_CHECK(!context.InputFile.IsOpen());
  if (decoded) {
    const std::size_t pixels = std::size_t{context.ImageWidth} * context.ImageHeight;
    LUMIVANE_FUZZ_CHECK(image.Width == context.ImageWidth && image.Height == context.ImageHeight);
    LUMIVANE_FUZZ_CHECK(image.R.size() == pixels && image.G.size() == pixels &&
                        image.B.size() == pixels && image.E.size() == pixels);
    LUMIVANE_FUZZ_CHECK(context.OutputFile.IsOpen());
  } else {
    LUMIVANE_FUZZ_CHECK(context.FailureMessage == "RLE type 2 header error.");
    LUMIVANE_FUZZ_CHECK(!context.OutputFile.IsOpen());
    LUMIVANE_FUZZ_CHECK(session.Window.Boxes.size() == 1 &&
                        session.Window.Boxes[0].Text == "Cannot handle data.");
  }
  return 0;
}
