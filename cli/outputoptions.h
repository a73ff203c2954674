// The command line's output switches (--quality, --depth, --half, --float,
// --compression) and
// the output's kind from its name, with their usage errors.
#pragma once

#include <CLI/CLI.hpp>

#include <string>

#include "formats/formattable.h"

namespace lumivane {

struct OutputSwitches {
  int Quality = kDefaultJpegQuality;
  int Depth = 8;
  bool Half = false;
  bool Float = false;
  std::string Compression;  // empty: not given
  bool Strip = false;
};

// tonemap: --quality N, --depth 8|16, --strip. convert: --half, --float, --compression NAME.
void AddToneMapOutputOptions(CLI::App& verb, OutputSwitches& switches);
void AddConvertOutputOptions(CLI::App& verb, OutputSwitches& switches);

// The output's format, or a usage error that lists the known extensions. A
// tone-mapping OUTPUT without an extension that names a device or a pipe
// (no regular file) is the 24-bit TIFF, as before extensions chose the kind.
const FormatRow& ToneMapOutputFormat(const std::string& given, const std::string& absolute);
const FormatRow& ConvertOutputFormat(const std::string& given);

// The switches as options for `format`; a usage error for a switch given for
// an output it does not apply to.
SinkOptions CheckOutputSwitches(const CLI::App& verb, const OutputSwitches& switches,
                                const FormatRow& format);

}  // namespace lumivane
