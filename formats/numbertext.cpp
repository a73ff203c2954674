#include "formats/numbertext.h"

#include <algorithm>
#include <cctype>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace lumivane {

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

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

long double ParseWholeNumber(std::string_view digits, int base) {
  long double value = 0;
  for (const char c : digits) {
    const int lower = std::tolower(static_cast<unsigned char>(c));
    int digit;
    if (lower >= '0' && lower <= '9') {
      digit = lower - '0';
    } else if (lower >= 'a' && lower <= 'f') {
      digit = lower - 'a' + 10;
    } else {
      break;
    }
    if (digit >= base) break;
    value = value * base + digit;
  }
  return value;
}

}  // namespace

long double ParseNumber(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && IsBlank(text[i])) ++i;
  if (i < text.size() && text[i] == '&') {
    ++i;
    int base = 8;
    if (i < text.size()) {
      switch (text[i]) {
        case 'H':
        case 'h':
          base = 16;
          ++i;
          break;
        case 'B':
        case 'b':
          base = 2;
          ++i;
          break;
        case 'O':
        case 'o':
        case 'Q':
        case 'q':
          base = 8;
          ++i;
          break;
        default:
          break;
      }
    }
    return ParseWholeNumber(text.substr(i), base);
  }
  std::string number;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) number += text[i++];
  bool digits = false, point = false;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    if (std::isdigit(static_cast<unsigned char>(c))) {
      digits = true;
      number += c;
    } else if (c == '.' && !point) {
      point = true;
      number += c;
    } else {
      break;
    }
  }
  if (!digits) return 0;
  if (i < text.size() && (text[i] == 'E' || text[i] == 'e' || text[i] == 'D' || text[i] == 'd')) {
    std::size_t j = i + 1;
    std::string exponent = "e";
    if (j < text.size() && (text[j] == '+' || text[j] == '-')) exponent += text[j++];
    const std::size_t first = j;
    while (j < text.size() && std::isdigit(static_cast<unsigned char>(text[j])))
      exponent += text[j++];
    if (j > first) number += exponent;
  }
  return std::strtold(number.c_str(), nullptr);
}

}  // namespace lumivane
