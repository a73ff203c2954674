#include "formats/pfminfo.h"

#include <algorithm>
#include <cctype>
#include <cstdint>

namespace lumivane {

PfmHeaderText ReadPfmHeaderText(ByteSource& bytes) {
  PfmHeaderText header;
  std::string text(
      static_cast<std::size_t>(std::min<std::uint64_t>(bytes.Size(), kMaxPfmHeaderText)), '\0');
  text.resize(bytes.ReadAt(text.data(), text.size(), 0));
  // The signature, width, height and scale, each a word; a comment runs from
  // '#' to the end of its line.
  int words = 0;
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t end = std::min(text.find('\n', at), text.size());
    const std::string line = text.substr(at, end - at);
    std::size_t i = 0;
    while (i < line.size() && line[i] != '#' && words < 4) {
      while (i < line.size() && std::isspace(static_cast<unsigned char>(line[i]))) ++i;
      if (i >= line.size() || line[i] == '#') break;
      const std::size_t wordStart = i;
      while (i < line.size() && !std::isspace(static_cast<unsigned char>(line[i])) &&
             line[i] != '#')
        ++i;
      if (++words == 4) header.LittleEndian = line[wordStart] == '-';
    }
    if (end == text.size()) break;
    header.Lines.push_back(line);
    if (words == 4) return header;
    at = end + 1;
  }
  header.Failure =
      "no line feed ends the scale in the first " + std::to_string(text.size()) + " bytes";
  return header;
}

}  // namespace lumivane
