#include "steps/statuslog.h"

#include <algorithm>
#include <cfloat>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "imaging/statistics.h"
#include "steps/failure.h"
#include "steps/session.h"

namespace lumivane {

const std::string& SeparatorLine() {
  static const std::string line(72, '-');
  return line;
}

void LogLine(Session& session, std::string_view text) {
  const std::size_t position =
      session.LogLineCounter > 0 ? static_cast<std::size_t>(session.LogLineCounter - 1) : 0;
  session.Window.DeleteLogLine(position);
  session.Window.InsertLogLine(position, std::string(text));
  ++session.LogLineCounter;
}

bool CloseInputFile(Session& session) {
  const std::string message = session.Context.FailureMessage;
  return FailStep(session, message, InputClosedOnly());
}

void LogImageStatistics(Session& session, const ImageStatistics& statistics) {
  for (const std::string& line : ImageStatisticsLines(statistics)) LogLine(session, line);
  const std::string takenAsZero = TakenAsZeroLine(statistics);
  if (!takenAsZero.empty()) LogLine(session, takenAsZero);
}

namespace {

long long LocalMillisecondsOfDay() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  std::tm local{};
  localtime_r(&now.tv_sec, &local);
  return local.tm_hour * 3600000LL + local.tm_min * 60000LL + local.tm_sec * 1000LL +
         now.tv_nsec / 1000000;
}

}  // namespace

long double LocalClockSeconds() {
  // The local time of day is read once and then advanced by the steady clock.
  // Within a day this gives the local clock's readings, and a phase that runs
  // across midnight or across a change of the system clock still measures its
  // true length instead of a wrong or negative one.
  struct Anchor {
    long long LocalMilliseconds;
    std::chrono::steady_clock::time_point Steady;
  };
  static const Anchor anchor{LocalMillisecondsOfDay(), std::chrono::steady_clock::now()};
  const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
                           std::chrono::steady_clock::now() - anchor.Steady)
                           .count();
  return static_cast<long double>(anchor.LocalMilliseconds + elapsed) / 1000.0L;
}

long double ClockSeconds(Session& session) {
  return session.Clock ? session.Clock() : LocalClockSeconds();
}

std::int32_t ClockWholeSeconds(Session& session) {
  return static_cast<std::int32_t>(std::nearbyint(ClockSeconds(session)));
}

std::string ElapsedLine(std::string_view label, std::int32_t startSeconds,
                        std::int32_t endSeconds) {
  return std::string(label) + FormatNumber(endSeconds - startSeconds, 15) + " seconds";
}

void SetProgressRange(Session& session, std::uint32_t low, std::uint32_t high) {
  session.Window.SetProgressRange(low, high);
}

void SetProgressPosition(Session& session, std::uint32_t position) {
  session.Window.SetProgressPosition(position);
}

void ReplayProgress(Session& session, std::uint32_t first, std::uint32_t last) {
  for (std::uint64_t y = first; y <= last; ++y) {
    SetProgressPosition(session, static_cast<std::uint32_t>(y));
  }
}

}  // namespace lumivane
