#include "formats/readlimits.h"

#include <cctype>
#include <charconv>
#include <limits>

namespace lumivane {

namespace {

std::string Raising(std::string_view flag, std::string_view variable) {
  return " (" + std::string(flag) + " or " + std::string(variable) + " raises it)";
}

std::optional<std::uint64_t> WholeNumber(std::string_view text) {
  std::uint64_t value = 0;
  const char* end = text.data() + text.size();
  const auto [stop, failure] = std::from_chars(text.data(), end, value);
  if (text.empty() || failure != std::errc() || stop != end) return std::nullopt;
  return value;
}

}  // namespace

std::string RefusePixelCount(std::uint64_t width, std::uint64_t height, const ReadLimits& limits) {
  // Both sides are 32-bit in every format, so the product fits.
  const std::uint64_t pixels = width * height;
  if (pixels <= limits.MaxPixels) return {};
  return "it claims " + std::to_string(width) + " x " + std::to_string(height) + " pixels (" +
         std::to_string(pixels) + "), more than the limit of " + std::to_string(limits.MaxPixels) +
         " pixels" + Raising(kMaxPixelsFlag, kMaxPixelsVariable);
}

std::string RefuseImageSize(std::uint64_t width, std::uint64_t height, const ReadLimits& limits) {
  const std::string refusal = RefusePixelCount(width, height, limits);
  if (!refusal.empty()) return refusal;
  return RefuseBuffer("rows of " + std::to_string(width) + " pixels", "one row as float RGB",
                      width * 12, limits);
}

std::string RefuseBuffer(std::string_view claim, std::string_view buffer, std::uint64_t bytes,
                         const ReadLimits& limits) {
  if (bytes <= limits.MaxBufferBytes) return {};
  return "it claims " + std::string(claim) + "; " + std::string(buffer) + " needs " +
         std::to_string(bytes) + " bytes, more than the limit of " +
         std::to_string(limits.MaxBufferBytes) + " bytes for one buffer" +
         Raising(kMaxMemoryFlag, kMaxMemoryVariable);
}

std::string NotEnoughMemory(std::string_view what, std::uint64_t bytes) {
  return "not enough memory for " + std::string(what) + " (" + std::to_string(bytes) + " bytes)";
}

std::optional<std::uint64_t> ParsePixelLimit(std::string_view text) {
  const std::optional<std::uint64_t> value = WholeNumber(text);
  if (!value || *value == 0) return std::nullopt;
  return value;
}

std::optional<std::uint64_t> ParseMemoryLimit(std::string_view text) {
  int shift = 0;
  if (!text.empty()) {
    switch (std::toupper(static_cast<unsigned char>(text.back()))) {
      case 'K':
        shift = 10;
        break;
      case 'M':
        shift = 20;
        break;
      case 'G':
        shift = 30;
        break;
      default:
        break;
    }
  }
  if (shift > 0) text.remove_suffix(1);
  const std::optional<std::uint64_t> value = WholeNumber(text);
  if (!value || *value == 0 || *value > std::numeric_limits<std::uint64_t>::max() >> shift)
    return std::nullopt;
  return *value << shift;
}

}  // namespace lumivane
