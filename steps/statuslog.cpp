#include "shell/statuslog.h"

#include <algorithm>
#include <cfloat>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "shell/session.h"

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
  session.Context.InputFile.Close();
  LogLine(session, "Closed file:");
  LogLine(session, session.Context.InputFileName);
  LogLine(session, SeparatorLine());
  return false;
}

namespace {

// Every significant digit of a positive value, exactly, with the decimal
// exponent of the first one.
struct Scientific {
  std::string Digits;
  int Exponent = 0;
};

Scientific ExactDigits(long double magnitude) {
  // magnitude < 2^binaryExponent and is a whole multiple of
  // 2^(binaryExponent - LDBL_MANT_DIG), so its decimal expansion ends within
  // fractionDigits places after the point; printf renders it exactly.
  int binaryExponent = 0;
  std::frexp(magnitude, &binaryExponent);
  const int integerDigits = binaryExponent > 0 ? binaryExponent * 30103 / 100000 + 1 : 0;
  const int fractionDigits = std::max(0, LDBL_MANT_DIG - binaryExponent);
  const int precision = integerDigits + fractionDigits + 1;
  std::vector<char> buffer(static_cast<std::size_t>(precision) + 32);
  std::snprintf(buffer.data(), buffer.size(), "%.*Le", precision, magnitude);
  const std::string text(buffer.data());
  const std::size_t e = text.find('e');
  Scientific result;
  result.Digits = text.substr(0, 1) + text.substr(2, e - 2);
  result.Exponent = std::stoi(text.substr(e + 1));
  return result;
}

}  // namespace

std::string FormatNumber(long double value, int digits) {
  if (digits <= 0 || digits > 18) digits = 18;
  if (std::isnan(value)) return " NaN";
  if (std::isinf(value)) return value < 0 ? "-Inf" : " Inf";
  if (value == 0) return " 0";
  const bool negative = value < 0;
  Scientific sci = ExactDigits(std::fabs(value));

  // Round at `digits`: only the first dropped digit decides; exactly 5 goes
  // to the even neighbour.
  std::string kept = sci.Digits.substr(0, static_cast<std::size_t>(digits));
  const char dropped = sci.Digits.size() > kept.size() ? sci.Digits[kept.size()] : '0';
  const bool up = dropped > '5' || (dropped == '5' && (kept.back() - '0') % 2 == 1);
  if (up) {
    int i = static_cast<int>(kept.size()) - 1;
    while (i >= 0 && kept[static_cast<std::size_t>(i)] == '9')
      kept[static_cast<std::size_t>(i--)] = '0';
    if (i < 0) {
      kept.insert(kept.begin(), '1');
      kept.pop_back();
      ++sci.Exponent;
    } else {
      ++kept[static_cast<std::size_t>(i)];
    }
  }
  kept.erase(kept.find_last_not_of('0') + 1);

  const int d = static_cast<int>(kept.size());
  const int e = sci.Exponent - (d - 1);  // value = kept x 10^e
  std::string text(1, negative ? '-' : ' ');
  const auto exponentForm = [&] {
    text += kept[0];
    if (d > 1) text.append(".").append(kept, 1);
    const int power = d + e - 1;
    text += power < 0 ? "E-" : "E+";
    text += std::to_string(power < 0 ? -power : power);
  };
  if (e == 0) {
    text += kept;
  } else if (e > 0) {
    if (d + e <= digits) {
      text.append(kept).append(static_cast<std::size_t>(e), '0');
    } else {
      exponentForm();
    }
  } else {
    const int f = -e;
    if (f > digits) {
      exponentForm();
    } else if (d > f) {
      const auto whole = static_cast<std::size_t>(d - f);
      text.append(kept, 0, whole).append(".").append(kept, whole);
    } else {
      text.append(".").append(static_cast<std::size_t>(f - d), '0').append(kept);
    }
  }
  return text;
}

std::string FormatNumber(double value, int digits) {
  return FormatNumber(static_cast<long double>(value), digits);
}
std::string FormatNumber(float value, int digits) {
  return FormatNumber(static_cast<long double>(value), digits);
}
std::string FormatNumber(std::uint64_t value, int digits) {
  return FormatNumber(static_cast<long double>(value), digits);
}
std::string FormatNumber(std::int64_t value, int digits) {
  return FormatNumber(static_cast<long double>(value), digits);
}
std::string FormatNumber(std::uint32_t value, int digits) {
  return FormatNumber(static_cast<long double>(value), digits);
}
std::string FormatNumber(std::int32_t value, int digits) {
  return FormatNumber(static_cast<long double>(value), digits);
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

}  // namespace lumivane
