// How much one file may make a reader hold: the pixels it claims and the
// largest single buffer (a strip, a row of tiles, a chunk, a row of float
// pixels) reading it needs. A header of a few bytes can claim gigabytes; every
// reader checks its claims against these before it allocates, as ImageMagick's
// resource policy and OpenImageIO's limits do. Pure code.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace lumivane {

// 2^30 pixels: more than twice the 30,000 x 15,000 the program is built for.
inline constexpr std::uint64_t kDefaultMaxPixels = std::uint64_t{1} << 30;
inline constexpr std::uint64_t kDefaultMaxBufferBytes = std::uint64_t{1} << 30;

// The refusals say how to raise a limit: the front ends take these names.
inline constexpr std::string_view kMaxPixelsFlag = "--max-pixels";
inline constexpr std::string_view kMaxPixelsVariable = "LUMIVANE_MAX_PIXELS";
inline constexpr std::string_view kMaxMemoryFlag = "--max-memory";
inline constexpr std::string_view kMaxMemoryVariable = "LUMIVANE_MAX_MEMORY";

struct ReadLimits {
  std::uint64_t MaxPixels = kDefaultMaxPixels;
  std::uint64_t MaxBufferBytes = kDefaultMaxBufferBytes;
};

// Empty when an image of width x height pixels is within the pixel limit;
// otherwise the refusal in words, naming no file.
std::string RefusePixelCount(std::uint64_t width, std::uint64_t height, const ReadLimits& limits);
// The same, and one row of it as float RGB (12 bytes a pixel), which every
// job over float rows holds, within the buffer limit.
std::string RefuseImageSize(std::uint64_t width, std::uint64_t height, const ReadLimits& limits);

// Empty when `bytes` for one buffer are within the limit; otherwise the
// refusal: "it claims " + claim + "; " + buffer + " needs ... bytes, ...".
std::string RefuseBuffer(std::string_view claim, std::string_view buffer, std::uint64_t bytes,
                         const ReadLimits& limits);

// "not enough memory for " + what + " (N bytes)": an allocation within the
// limits that the system still refused.
std::string NotEnoughMemory(std::string_view what, std::uint64_t bytes);

// A pixel count: a whole number above 0. A size: bytes, or a number followed
// by K, M or G (either case) for 1024, 1024^2 or 1024^3 bytes. Nothing for
// any other text or a value beyond 64 bits.
std::optional<std::uint64_t> ParsePixelLimit(std::string_view text);
std::optional<std::uint64_t> ParseMemoryLimit(std::string_view text);

}  // namespace lumivane
