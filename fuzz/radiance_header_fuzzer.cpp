// The Radiance header scan on any bytes.
#include "fuzz/fuzzharness.h"
#include "steps/radiance.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace lumivane::fuzzing;
  static MemoryFile input("radiance-input");
  input.Assign(data, size);
  FuzzSession session;
  session.Window.DialogAnswers = {input.Path()};
  const bool accepted = lumivane::ReadHdrHeader(session.Steps);
  CheckReaderContract(session.Steps, accepted, size);
  // The pixel data start behind the resolution line, inside the first 256 bytes.
  if (accepted) LUMIVANE_FUZZ_CHECK(session.Steps.Context.InputFile.Position() <= 256);
  return 0;
}
