#include "shell/environment.h"

#include <cstdlib>

namespace lumivane {

namespace {

// False, with `error` set, when the variable holds no value `parse` takes.
template <typename Parse>
bool TakeVariable(std::string_view name, Parse parse, const char* expected, std::uint64_t& value,
                  std::string& error) {
  const char* text = std::getenv(std::string(name).c_str());
  if (!text || !*text) return true;
  const std::optional<std::uint64_t> parsed = parse(text);
  if (!parsed) {
    error = std::string(name) + "='" + text + "' is not " + expected;
    return false;
  }
  value = *parsed;
  return true;
}

}  // namespace

std::optional<ReadLimits> LimitsFromEnvironment(std::string& error) {
  ReadLimits limits;
  if (!TakeVariable(kMaxPixelsVariable, ParsePixelLimit, "a whole number of pixels above 0",
                    limits.MaxPixels, error) ||
      !TakeVariable(kMaxMemoryVariable, ParseMemoryLimit,
                    "a size above 0 (bytes, or a number followed by K, M or G)",
                    limits.MaxBufferBytes, error))
    return std::nullopt;
  return limits;
}

}  // namespace lumivane
