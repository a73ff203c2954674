#include "cli/escape.h"

#include <cstdint>

namespace lumivane {

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

void AppendHexByte(std::string& out, std::uint8_t byte) {
  out += "\\x";
  out += kHexDigits[byte >> 4];
  out += kHexDigits[byte & 0x0F];
}

// Length of the well-formed UTF-8 sequence at text[i], 0 when there is none.
std::size_t Utf8SequenceLength(std::string_view text, std::size_t i, std::uint32_t* codePoint) {
  const auto byte = [&](std::size_t k) { return static_cast<std::uint8_t>(text[k]); };
  const std::uint8_t lead = byte(i);
  std::size_t length;
  std::uint32_t value;
  std::uint32_t minimum;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    value = lead & 0x1F;
    minimum = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    value = lead & 0x0F;
    minimum = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    value = lead & 0x07;
    minimum = 0x10000;
  } else {
    return 0;
  }
  if (text.size() - i < length) return 0;
  for (std::size_t k = 1; k < length; ++k) {
    const std::uint8_t continuation = byte(i + k);
    if ((continuation & 0xC0) != 0x80) return 0;
    value = (value << 6) | (continuation & 0x3F);
  }
  if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
  *codePoint = value;
  return length;
}

}  // namespace

std::string EscapeForTerminal(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    const auto byte = static_cast<std::uint8_t>(text[i]);
    if (byte >= 0x20 && byte < 0x7F) {
      out += text[i++];
      continue;
    }
    if (byte < 0x80) {
      AppendHexByte(out, byte);
      ++i;
      continue;
    }
    std::uint32_t codePoint = 0;
    const std::size_t length = Utf8SequenceLength(text, i, &codePoint);
    if (length == 0) {
      AppendHexByte(out, byte);
      ++i;
    } else if (codePoint <= 0x9F) {
      out += "\\u00";
      out += kHexDigits[codePoint >> 4];
      out += kHexDigits[codePoint & 0x0F];
      i += length;
    } else {
      out.append(text.substr(i, length));
      i += length;
    }
  }
  return out;
}

}  // namespace lumivane
