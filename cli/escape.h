// Text from files (header lines, paths) on its way to a terminal.
#pragma once

#include <string>
#include <string_view>

namespace lumivane {

// Keeps printable ASCII and well-formed UTF-8 as they are. Writes every other
// byte as \xNN: control bytes below 0x20, DEL, and each byte of a malformed,
// overlong or surrogate UTF-8 sequence. The C1 controls U+0080..U+009F, which
// some terminals act on even in UTF-8, become \u0080..\u009F.
std::string EscapeForTerminal(std::string_view text);

}  // namespace lumivane
