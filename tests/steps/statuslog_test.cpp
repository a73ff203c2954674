#include <gtest/gtest.h>

#include <cmath>
#include <ctime>
#include <string>
#include <vector>

#include "shell/dispatch.h"
#include "steps/session.h"
#include "steps/statuslog.h"
#include "tests/support/recordingwindow.h"
#include "tests/support/testfiles.h"

namespace lumivane {
namespace {

using testing::RecordingWindow;

TEST(SeparatorLine, IsSeventyTwoHyphens) {
  EXPECT_EQ(SeparatorLine(), std::string(72, '-'));
}

TEST(LogLine, LinesStayInTheOrderWritten) {
  RecordingWindow window;
  Session session(window);
  window.Log = {"old"};
  PrepareForJob(session);
  window.LogOperations.clear();
  LogLine(session, "zebra");
  LogLine(session, "apple");
  EXPECT_EQ(window.Log, (std::vector<std::string>{"zebra", "apple"}));
  // Each line is written at the counter's position, after deleting whatever stood there.
  EXPECT_EQ(window.LogOperations,
            (std::vector<std::string>{"delete 0", "insert 0 zebra", "delete 1", "insert 1 apple"}));
  EXPECT_EQ(session.LogLineCounter, 3);
}

TEST(LogLine, ACounterPointingAtAnExistingLineReplacesIt) {
  RecordingWindow window;
  Session session(window);
  LogLine(session, "one");
  LogLine(session, "two");
  LogLine(session, "three");
  session.LogLineCounter = 2;
  LogLine(session, "TWO");
  EXPECT_EQ(window.Log, (std::vector<std::string>{"one", "TWO", "three"}));
  EXPECT_EQ(session.LogLineCounter, 3);
}

TEST(LogLine, EmptyAndLongTextsAreWrittenWhole) {
  RecordingWindow window;
  Session session(window);
  const std::string longText(100000, 'x');
  LogLine(session, "");
  LogLine(session, longText);
  EXPECT_EQ(window.Log, (std::vector<std::string>{"", longText}));
}

TEST(CloseInputFile, ClosesLogsThreeLinesAndReturnsFalse) {
  testing::TempDir folder;
  const std::string path = folder.File("input.hdr");
  testing::WriteText(path, "#?RADIANCE\n");
  RecordingWindow window;
  Session session(window);
  LogLine(session, "Before");
  session.Context.InputFileName = path;
  session.Context.InputFile = BinaryFile::OpenForReading(path);
  ASSERT_TRUE(session.Context.InputFile.IsOpen());
  EXPECT_FALSE(CloseInputFile(session));
  EXPECT_FALSE(session.Context.InputFile.IsOpen());
  EXPECT_EQ(window.Log,
            (std::vector<std::string>{"Before", "Closed file:", path, std::string(72, '-')}));
  EXPECT_EQ(session.Context.InputFileName, path);
  // Closing again (nothing open) still logs and still fails.
  EXPECT_FALSE(CloseInputFile(session));
  EXPECT_EQ(window.Log.size(), 7u);
}

TEST(ElapsedTime, BothReadingsAreRoundedBeforeTheyAreSubtracted) {
  RecordingWindow window;
  Session session(window);
  std::vector<long double> readings;
  session.Clock = [&readings] {
    const long double reading = readings.front();
    readings.erase(readings.begin());
    return reading;
  };
  const auto phase = [&](long double start, long double end) {
    readings = {start, end};
    const std::int32_t t0 = ClockWholeSeconds(session);
    const std::int32_t t1 = ClockWholeSeconds(session);
    return ElapsedLine("Time used:", t0, t1);
  };
  EXPECT_EQ(phase(10.4L, 10.6L), "Time used: 1 seconds");
  EXPECT_EQ(phase(10.6L, 11.4L), "Time used: 0 seconds");
  EXPECT_EQ(phase(10.0L, 13.0L), "Time used: 3 seconds");
  // Halves go to the even second: 10.5 -> 10, 11.5 -> 12.
  EXPECT_EQ(phase(10.5L, 11.5L), "Time used: 2 seconds");
  EXPECT_EQ(phase(11.5L, 12.5L), "Time used: 0 seconds");
  EXPECT_EQ(phase(0.0L, 86399.999L), "Time used: 86400 seconds");
  EXPECT_EQ(ElapsedLine("Total time:", 5, 5), "Total time: 0 seconds");
}

TEST(ElapsedTime, ClockSecondsUsesTheSessionClock) {
  RecordingWindow window;
  Session session(window);
  session.Clock = [] { return 3723.456L; };
  EXPECT_EQ(ClockSeconds(session), 3723.456L);
  EXPECT_EQ(ClockWholeSeconds(session), 3723);
}

TEST(LocalClock, ReadsTheLocalTimeOfDayAndNeverGoesBack) {
  const long double first = LocalClockSeconds();
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  const long double expected = local.tm_hour * 3600.0L + local.tm_min * 60.0L + local.tm_sec;
  // Within two seconds of the local time of day (or just past midnight).
  const long double difference = std::fabs(first - expected);
  EXPECT_TRUE(difference < 2.0L || std::fabs(difference - 86400.0L) < 2.0L) << first;
  EXPECT_GE(first, 0.0L);
  // Millisecond resolution.
  EXPECT_NEAR(static_cast<double>(first * 1000.0L),
              static_cast<double>(std::nearbyint(first * 1000.0L)), 1e-6);
  long double previous = first;
  for (int i = 0; i < 1000; ++i) {
    const long double reading = LocalClockSeconds();
    EXPECT_GE(reading, previous);
    previous = reading;
  }
}

TEST(Progress, RangeAndPositionReachTheWindow) {
  RecordingWindow window;
  Session session(window);
  SetProgressRange(session, 1, 4000000000u);
  SetProgressPosition(session, 3999999999u);
  EXPECT_EQ(window.ProgressLow, 1u);
  EXPECT_EQ(window.ProgressHigh, 4000000000u);
  EXPECT_EQ(window.ProgressPosition, 3999999999u);
  ResetWindow(session);
  EXPECT_EQ(window.ProgressLow, 0u);
  EXPECT_EQ(window.ProgressHigh, 1u);
  EXPECT_EQ(window.ProgressPosition, 0u);
}

}  // namespace
}  // namespace lumivane
