// PNG's tEXt and zTXt hold Latin-1; the program's texts are UTF-8 (file
// names mostly are). Pure code.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace lumivane {

// Each byte as the character of that number.
std::string Latin1ToUtf8(std::string_view latin1);

// Well-formed UTF-8 whose characters are all U+0000 to U+00FF, as Latin-1
// bytes; nothing for any other text.
std::optional<std::string> Utf8ToLatin1(std::string_view utf8);

// Whether the text is well-formed UTF-8 (no overlong form, no surrogate,
// nothing above U+10FFFF).
bool IsUtf8(std::string_view text);

}  // namespace lumivane
