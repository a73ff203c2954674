// The records every step shares, owned by one session object: a test can run
// many jobs in one process, each session starting from fresh state.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "formats/imagerows.h"
#include "formats/readlimits.h"
#include "imaging/settings.h"
#include "imaging/tonemapoperator.h"
#include "io/binaryfile.h"
#include "steps/windowsystem.h"

namespace lumivane {

class ImageRowSource;

struct JobSettings {
  float Brightness = kBrightnessRule.Default;
  // 1.2 itself until the first [Accept], not 1 / 1.2.
  float PostGamma = kInitialPostGamma;
  std::int32_t WarmColours = 0;
  // A row of the operator table by name, with its parameters; empty: the
  // classic operator with the three settings above.
  std::string Operator;
  OperatorValues OperatorParameters;
  // What one input may make a reader hold; set by the front ends.
  ReadLimits Limits;
};

// How the reader left the input for the job.
enum class InputLayout {
  // InputFile at the first byte of the encoded Radiance rows.
  Radiance,
  // InputFile at the first of width x height pixels of three stored floats
  // (SourceIntelOrder, InputRowsBottomUp).
  StoredFloats,
  // InputRows.
  Rows,
};

struct JobContext {
  BinaryFile InputFile;
  std::string InputFileName;
  BinaryFile OutputFile;
  std::string OutputFileName;
  std::string FailureMessage;
  std::uint32_t ImageWidth = 0;
  std::uint32_t ImageHeight = 0;
  InputLayout Layout = InputLayout::StoredFloats;
  bool SourceIntelOrder = false;
  // PFM stores its rows bottom to top, every other format top to bottom. Set
  // by the float readers for the input; set by the PFM writer for the output and
  // cleared by the job that consumes it.
  bool InputRowsBottomUp = false;
  bool OutputRowsBottomUp = false;
  // An output written through a library codec: its writer step opens the
  // sink behind the header, the job takes it and sends every row there.
  std::unique_ptr<ByteRowSink> ToneMappedRows;
  // The same for an output of 16 bits a channel; the plain row schedule
  // writes it.
  std::unique_ptr<WordRowSink> ToneMappedWords;
  std::unique_ptr<FloatRowSink> ConvertedRows;
  // The rows of an input read through a library (OpenEXR, libtiff, the
  // tolerant PFM reader), over InputFile; released before InputFile closes.
  std::shared_ptr<ImageRowSource> InputRows;
  // The chain's output keeps an input's alpha (JobChain::KeepsAlpha).
  bool OutputKeepsAlpha = false;
};

class Session;
class PreviewSampler;

// The step contract: true on success; on failure FailureMessage is set, the
// step has logged its reason and closed what it owned.
using JobStep = std::function<bool(Session&)>;

struct JobChain {
  int CommandId = 0;
  JobStep Reader;
  JobStep Writer;
  JobStep Job;
  std::string SuccessText;
  // The writer keeps the alpha of an input whose reader gives it: the
  // reader then does not say it is dropped.
  bool KeepsAlpha = false;
};

// Local time of day in seconds since midnight, millisecond resolution.
using ClockSource = std::function<long double()>;

class Session {
 public:
  explicit Session(WindowSystem& window);

  WindowSystem& Window;
  JobSettings Settings;
  JobContext Context;
  std::int32_t LogLineCounter = 1;
  ClockSource Clock;
  // The job chains the commands run: empty for the command table's own;
  // tests put stand-in steps here.
  std::vector<JobChain> Chains;

  bool JobRunning = false;
  int RememberedFocus = 0;
  // Set by a front end that shows the tone-mapped result: the tone-mapping
  // jobs feed it. Null costs the jobs nothing.
  PreviewSampler* Preview = nullptr;
};

}  // namespace lumivane
