// A PFM file's header as it stands, for `info`: its lines up to the scale,
// comments included, and the byte order the scale's sign gives.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "formats/bytesource.h"

namespace lumivane {

// Beyond this a header is taken to have no end.
inline constexpr std::size_t kMaxPfmHeaderText = 4096;

struct PfmHeaderText {
  // From the signature line to the line that holds the scale, without their
  // line feeds.
  std::vector<std::string> Lines;
  // A negative scale: least significant byte first.
  bool LittleEndian = false;
  // Why the header has no end where it should; empty when it has.
  std::string Failure;
};

PfmHeaderText ReadPfmHeaderText(ByteSource& bytes);

}  // namespace lumivane
