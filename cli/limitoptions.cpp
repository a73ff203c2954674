#include "cli/limitoptions.h"

#include "shell/environment.h"

namespace lumivane {

namespace {

template <typename Parse>
CLI::Validator Accepting(Parse parse, std::string expected) {
  return CLI::Validator(
      [parse, expected](std::string& text) -> std::string {
        if (!parse(text)) return "'" + text + "' is not " + expected;
        return {};
      },
      "");
}

}  // namespace

void AddLimitOptions(CLI::App& verb, LimitSwitches& switches) {
  verb.add_option(std::string(kMaxPixelsFlag), switches.MaxPixels,
                  "Refuse an input that claims more than N pixels (default " +
                      std::to_string(kDefaultMaxPixels) + ", or " +
                      std::string(kMaxPixelsVariable) + ")")
      ->type_name("N")
      ->check(Accepting(ParsePixelLimit, "a whole number of pixels above 0"));
  verb.add_option(std::string(kMaxMemoryFlag), switches.MaxMemory,
                  "Refuse an input whose reading needs more than SIZE bytes in one buffer (a "
                  "strip, a row of tiles, a chunk, a row of pixels); SIZE is bytes, or a number "
                  "followed by K, M or G for powers of 1024 (default 1G, or " +
                      std::string(kMaxMemoryVariable) + ")")
      ->type_name("SIZE")
      ->check(
          Accepting(ParseMemoryLimit, "a size above 0 (bytes, or a number followed by K, M or G)"));
}

ReadLimits ResolveLimits(const LimitSwitches& switches) {
  std::string error;
  std::optional<ReadLimits> limits = LimitsFromEnvironment(error);
  if (!limits) throw CLI::ValidationError("environment", error);
  if (!switches.MaxPixels.empty()) limits->MaxPixels = *ParsePixelLimit(switches.MaxPixels);
  if (!switches.MaxMemory.empty()) limits->MaxBufferBytes = *ParseMemoryLimit(switches.MaxMemory);
  return *limits;
}

}  // namespace lumivane
