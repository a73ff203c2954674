// The Portable Float Map header writer.
#pragma once

#include <cstdint>
#include <string>

namespace lumivane {

class Session;

bool WritePfmHeader(Session& session);

// "PF", the size and the scale -1 (least significant byte first), each line
// ending in LF: the header WritePfmHeader writes.
std::string PfmHeaderText(std::uint32_t width, std::uint32_t height);

}  // namespace lumivane
