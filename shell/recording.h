// What a tone-mapped output records of how it was made, where its format has
// a place for it (PNG texts, JPEG comments, the 16-bit TIFF's tags): the
// program and its version, and one line naming the input, the operator and
// every parameter. Both front ends record through here, so that the same
// settings read the same whichever of them made the output.
#pragma once

#include <string>

#include "formats/formattable.h"
#include "imaging/tonemapoperator.h"
#include "steps/session.h"

namespace lumivane {

// The classic operator's settings as texts: the command line's as typed.
struct ClassicTexts {
  std::string Brightness;
  std::string Contrast;
  std::string PostGamma;  // empty unless the exponent was set itself (--post-gamma)
  bool Warm = false;
};

// "LUMIVANE 1.22".
std::string RecordedSoftware();

// The operator and every parameter, given or defaulted, on one line:
// "reinhard02 key=auto white=auto ...", a number as the shortest text that
// reads back as the same 32-bit float. An empty `name` is the classic
// operator, with `classic`.
std::string DescribeOperator(const std::string& name, const OperatorValues& values,
                             const ClassicTexts& classic);

// The classic settings a session holds, as texts: the contrast whose exponent
// the post-gamma is, when a contrast gives exactly that exponent, else the
// exponent itself.
ClassicTexts ClassicTextsOf(const JobSettings& settings);

// "tone-mapped from dawn.hdr with " + `operatorLine`: the input by its name
// alone (its folders are nobody else's business), control bytes as '?'.
std::string RecordedDescription(const std::string& input, const std::string& operatorLine);

// Software and Description of an output tone-mapped from `input` with `settings`.
void RecordSettings(const std::string& input, const JobSettings& settings, SinkOptions& options);

}  // namespace lumivane
