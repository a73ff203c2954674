// The status log, the number-to-text rule, the clock and the progress bar.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace lumivane {

class Session;

// 72 hyphen-minus characters.
const std::string& SeparatorLine();

void LogLine(Session& session, std::string_view text);
// Closes InputFile, logs "Closed file:", the path and the separator; returns false.
bool CloseInputFile(Session& session);

// At most `digits` significant digits (1 to 18; 0 means 18) of the exact value;
// a sign character (space or "-"), no zero before the decimal point, exponent
// form when needed.
std::string FormatNumber(long double value, int digits);
std::string FormatNumber(double value, int digits);
std::string FormatNumber(float value, int digits);
std::string FormatNumber(std::uint64_t value, int digits);
std::string FormatNumber(std::int64_t value, int digits);
std::string FormatNumber(std::uint32_t value, int digits);
std::string FormatNumber(std::int32_t value, int digits);

// Local time of day in seconds since midnight, from the session's clock.
long double ClockSeconds(Session& session);
// A clock reading rounded to a whole second (halves to even), the unit of every
// elapsed time.
std::int32_t ClockWholeSeconds(Session& session);
// label + FormatNumber(elapsed, 15) + " seconds"
std::string ElapsedLine(std::string_view label, std::int32_t startSeconds,
                        std::int32_t endSeconds);

// The local clock used outside tests.
long double LocalClockSeconds();

void SetProgressRange(Session& session, std::uint32_t low, std::uint32_t high);
void SetProgressPosition(Session& session, std::uint32_t position);

}  // namespace lumivane
