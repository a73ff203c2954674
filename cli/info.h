// lumivane-cli info: what a file holds, read but never written.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "formats/readlimits.h"

namespace lumivane {

struct InfoInput {
  std::string Path;   // where it is read from (a kept copy of standard input, say)
  std::string Given;  // as the command line gives it: JSON's "file"
  std::string Name;   // what the text and the messages call it
};

struct InfoOptions {
  bool Json = false;
  bool Quiet = false;  // no notes on the error stream, failures only
  ReadLimits Limits;
};

// For each input: format, size, byte order, the header as it stands, each
// channel's minimum, maximum and mean with counts of values below zero, NaN
// and infinite, and the dynamic range; as text, or as JSON Lines (one object
// per input, each on a line of its own). A file that cannot be read is named
// on `err` (in JSON also as {"file", "error"}) and the others still follow;
// each file's output is flushed when it is done. Returns 0, or 1 when any
// file could not be read.
int RunInfo(const std::vector<InfoInput>& inputs, const InfoOptions& options, std::ostream& out,
            std::ostream& err);

}  // namespace lumivane
