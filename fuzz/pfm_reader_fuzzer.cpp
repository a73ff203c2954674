// The PFM reader on any bytes.
#include "fuzz/fuzzharness.h"
#include "steps/pfmreader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace lumivane::fuzzing;
  static MemoryFile input("pfm-input");
  input.Assign(data, size);
  FuzzSession session;
  session.Window.DialogAnswers = {input.Path()};
  const bool accepted = lumivane::ReadPfmHeader(session.Steps);
  CheckReaderContract(session.Steps, accepted, size);
  if (accepted) {
    const auto& context = session.Steps.Context;
    LUMIVANE_FUZZ_CHECK(context.InputFile.Position() <= 256);
    LUMIVANE_FUZZ_CHECK(context.InputFile.Position() +
                            std::uint64_t{context.ImageWidth} * context.ImageHeight * 12 <=
                        size);
  }
  return 0;
}
