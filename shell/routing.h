// Which chain a file calls for: the input's format from its first bytes
// (never its name), read by the classic reader when that reader takes it and
// by the format's library reader otherwise; the output's format from its
// extension. Both front ends route through here.
#pragma once

#include <optional>
#include <string>

#include "formats/formattable.h"
#include "steps/session.h"

namespace lumivane {

struct InputRoute {
  // Null when the file is none of the formats the table reads (or could not be read).
  const FormatRow* Format = nullptr;
  // Read by the classic reader (Radiance, the 96-bit TIFF, the PFM it takes).
  bool Classic = false;
  // Why the file could not be looked at; empty when it could.
  std::string Error;
};

InputRoute RouteInput(const std::string& path);

// "Radiance, TIFF, PFM or OpenEXR", and what their files start with, for the
// message about a file that is none of them.
std::string ReadableFormatNames();
std::string ReadableSignatures();

// The command that tone-maps the input to a 24-bit TIFF as the window runs it:
// a menu command for the classic inputs, a library reader's otherwise; 0 for
// none.
int ToneMapCommand(const InputRoute& input);

// The reader step of a route.
JobStep ReaderStep(const InputRoute& input);

// The chain that tone-maps the input to `output` (or converts it): the menu's
// chain where there is one for the pair, else the reader, the output's
// writer and the job. Nothing when the output format takes no such rows.
std::optional<JobChain> ToneMapChain(const InputRoute& input, const FormatRow& output,
                                     const SinkOptions& options);
std::optional<JobChain> ConvertChain(const InputRoute& input, const FormatRow& output,
                                     const SinkOptions& options);

}  // namespace lumivane
