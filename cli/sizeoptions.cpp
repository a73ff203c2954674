#include "cli/sizeoptions.h"

#include <charconv>

namespace lumivane {

namespace {

std::optional<std::uint32_t> ParseSide(std::string_view text) {
  std::uint32_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value == 0) return std::nullopt;
  return value;
}

}  // namespace

std::optional<ImageSize> ParseBox(const std::string& text) {
  const std::size_t x = text.find_first_of("xX");
  if (x == std::string::npos) return std::nullopt;
  const std::optional<std::uint32_t> width = ParseSide(std::string_view(text).substr(0, x));
  const std::optional<std::uint32_t> height = ParseSide(std::string_view(text).substr(x + 1));
  if (!width || !height) return std::nullopt;
  return ImageSize{*width, *height};
}

void AddSizeOptions(CLI::App& verb, SizeSwitches& switches) {
  CLI::Option* fit =
      verb.add_option("--fit", switches.Fit,
                      "Make the picture smaller to fit inside W x H pixels, its aspect kept, "
                      "by averaging in linear light before the statistics and the operator; "
                      "a smaller picture stays as it is")
          ->type_name("WxH")
          ->check(CLI::Validator(
              [](std::string& text) -> std::string {
                if (!ParseBox(text))
                  return "'" + text + "' is not a size such as 2048x2048 (whole numbers above 0)";
                return {};
              },
              ""));
  CLI::Option* scale =
      verb.add_option("--scale", switches.Scale,
                      "Make the picture smaller by the factor F, above 0 and at most 1 "
                      "(0.5 halves each side), averaging as --fit does")
          ->type_name("F")
          ->check(CLI::Validator(
              [](std::string& text) -> std::string {
                char* end = nullptr;
                const double value = std::strtod(text.c_str(), &end);
                if (end == text.c_str() || *end != '\0' || !(value > 0.0 && value <= 1.0))
                  return "'" + text + "' is not a number above 0 and at most 1";
                return {};
              },
              ""));
  fit->excludes(scale);
}

SizeRequest SizeRequestOf(const SizeSwitches& switches) {
  SizeRequest request;
  if (const std::optional<ImageSize> box = ParseBox(switches.Fit)) request.Box = *box;
  request.Scale = switches.Scale;
  return request;
}

}  // namespace lumivane
