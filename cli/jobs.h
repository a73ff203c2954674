// tonemap and convert: one job per input, routed through the command table,
// to a file, to standard output, or with -o DIR into a folder.
#pragma once

#include "cli/verbs.h"

namespace lumivane {

struct ConsoleStreams;

// After parsing: plans the outputs, then runs the jobs. Throws
// CLI::ParseError (a usage error) for switches that do not go together.
int RunJobVerb(const Verbs& verbs, const Switches& switches, const ConsoleStreams& streams);

}  // namespace lumivane
