// What every header codec gives its reader step.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace lumivane {

struct HeaderScan {
  // Each side once its field was read, even when the file is refused later.
  std::optional<std::uint32_t> Width;
  std::optional<std::uint32_t> Height;
  // Where the pixels start.
  std::uint64_t DataStart = 0;
  // The log lines in order, up to the failure if there is one.
  std::vector<std::string> LogLines;
  // Why the file is refused; empty when it is accepted.
  std::string Failure;
};

}  // namespace lumivane
