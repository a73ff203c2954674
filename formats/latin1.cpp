#include "formats/latin1.h"

#include <cstdint>
#include <utility>

namespace lumivane {

namespace {

// The character at `at` and its length in bytes; a length of 0 for a
// malformed sequence.
std::pair<std::uint32_t, std::size_t> NextCharacter(std::string_view text, std::size_t at) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(at);
  if (lead < 0x80) return {lead, 1};
  const std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 0;
  if (length == 0 || lead > 0xF4 || at + length > text.size()) return {0, 0};
  std::uint32_t code = lead & (0x7F >> length);
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(at + i) & 0xC0) != 0x80) return {0, 0};
    code = code << 6 | (byte(at + i) & 0x3F);
  }
  constexpr std::uint32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
  if (code < kLeast[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return {0, 0};
  return {code, length};
}

}  // namespace

std::string Latin1ToUtf8(std::string_view latin1) {
  std::string text;
  text.reserve(latin1.size());
  for (const char c : latin1) {
    const auto code = static_cast<unsigned char>(c);
    if (code < 0x80) {
      text += c;
      continue;
    }
    text += static_cast<char>(0xC0 | code >> 6);
    text += static_cast<char>(0x80 | (code & 0x3F));
  }
  return text;
}

std::optional<std::string> Utf8ToLatin1(std::string_view utf8) {
  std::string text;
  for (std::size_t at = 0; at < utf8.size();) {
    const auto [code, length] = NextCharacter(utf8, at);
    if (length == 0 || code > 0xFF) return std::nullopt;
    text += static_cast<char>(code);
    at += length;
  }
  return text;
}

bool IsUtf8(std::string_view text) {
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t length = NextCharacter(text, at).second;
    if (length == 0) return false;
    at += length;
  }
  return true;
}

}  // namespace lumivane
