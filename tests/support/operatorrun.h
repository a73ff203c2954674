// An operator of the operator table run on an image file the way the
// tone-map job runs one: a first pass over the rows for the image's facts
// (and the operator's gatherer), a second that maps them to 8-bit RGB. Reads
// OpenEXR through the library reader. The tests and the measuring harness
// (bench/) share it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "imaging/tonemapoperator.h"

namespace lumivane::testing {

struct OperatorPicture {
  std::uint32_t Width = 0;
  std::uint32_t Height = 0;
  std::vector<std::uint8_t> Rgb;  // top row first
  std::vector<std::string> Log;   // what the operator chose (Describe())
};

// `threads` map rows side by side. Nothing, with `error` set, for a name the
// table has not or a file that cannot be read.
std::optional<OperatorPicture> RunOperator(const std::string& name, const OperatorValues& values,
                                           const std::string& path, unsigned threads,
                                           std::string& error);

// The photographs (OpenEXR): those in $LUMIVANE_PHOTOS when it names a
// folder, else the six in tests/data/photos; the bundled samples/city.exr
// when there are none.
std::vector<std::string> Photographs();

}  // namespace lumivane::testing
