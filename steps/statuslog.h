// The status log, the number-to-text rule, the clock and the progress bar.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "formats/numbertext.h"

namespace lumivane {

class Session;
struct ImageStatistics;

// 72 hyphen-minus characters.
const std::string& SeparatorLine();

void LogLine(Session& session, std::string_view text);
// Closes InputFile, logs "Closed file:", the path and the separator; returns false.
bool CloseInputFile(Session& session);

// The six-line statistics block.
void LogImageStatistics(Session& session, const ImageStatistics& statistics);

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
// Moves the bar through `first` to `last`, one position at a time. Every pass
// of a job shows its rows on the bar one by one; a pass whose work was done
// elsewhere (beside the decoding, or in whole blocks) replays its rows' steps
// here so that the bar moves as for any other pass.
void ReplayProgress(Session& session, std::uint32_t first, std::uint32_t last);

}  // namespace lumivane
