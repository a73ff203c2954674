// lumivane-cli: the batch front end over the dispatcher.
#pragma once

#include <optional>
#include <ostream>
#include <string_view>

namespace lumivane {

struct ConsoleStreams;

// Exit statuses.
inline constexpr int kExitSuccess = 0;
inline constexpr int kExitJobFailed = 1;
inline constexpr int kExitUsage = 2;

// A settings value as [Accept] reads a box, rounded to a 32-bit float; only
// plain decimal text (sign, digits, one point, exponent) is taken, whole.
std::optional<float> ParseSettingValue(std::string_view text);

// The whole command line; `errIsTerminal` decides whether a progress bar is drawn.
// Standard input reads as empty.
int RunCommandLine(int argc, const char* const* argv, std::ostream& out, std::ostream& err,
                   bool errIsTerminal);
int RunCommandLine(int argc, const char* const* argv, const ConsoleStreams& streams);

}  // namespace lumivane
