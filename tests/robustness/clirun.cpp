#include "tests/robustness/clirun.h"

#include "tests/support/testfiles.h"

namespace lumivane::robustness {

std::string RawControlIn(const std::string& text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte == '\n') continue;
    if (byte < 0x20 || byte == 0x7F)
      return "control byte " + std::to_string(byte) + " at " + std::to_string(i);
    if (byte < 0x80) continue;
    // A whole UTF-8 sequence; U+0080..U+009F (C2 80..C2 9F) are C1 controls.
    const std::size_t length = byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : byte >= 0xC2 ? 2 : 0;
    if (length == 0 || byte > 0xF4 || i + length > text.size())
      return "raw byte " + std::to_string(byte) + " at " + std::to_string(i);
    for (std::size_t k = 1; k < length; ++k)
      if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80)
        return "raw byte " + std::to_string(byte) + " at " + std::to_string(i);
    if (byte == 0xC2 && static_cast<unsigned char>(text[i + 1]) <= 0x9F)
      return "C1 control at " + std::to_string(i);
    i += length - 1;
  }
  return {};
}

}  // namespace lumivane::robustness
