// The contract of every library-based row reader, checked on whatever it
// accepted: a size within the limit, and two passes that give the same rows.
#pragma once

#include <cstring>
#include <string>
#include <vector>

#include "formats/bytesource.h"
#include "formats/imagerows.h"
#include "formats/readlimits.h"
#include "fuzz/fuzzharness.h"

namespace lumivane::fuzzing {

// Pixels read at most: a hostile header may promise 2^31 pixels of a few bytes.
inline constexpr std::uint64_t kRowsFuzzPixels = std::uint64_t{1} << 16;

// The readers' limits under the fuzzers: a few buffers of this size stay well
// within the fuzzers' -rss_limit_mb, and the readers must refuse any more.
inline constexpr ReadLimits kFuzzLimits{std::uint64_t{1} << 24, std::uint64_t{64} << 20};

inline void CheckRowSource(ImageRowSource* rows, const std::string& error) {
  if (!rows) {
    LUMIVANE_FUZZ_CHECK(!error.empty());
    return;
  }
  const ImageDescription& d = rows->Description();
  const std::uint64_t pixels = std::uint64_t{d.Width} * d.Height;
  LUMIVANE_FUZZ_CHECK(d.Width > 0 && d.Height > 0);
  LUMIVANE_FUZZ_CHECK(pixels <= kFuzzLimits.MaxPixels);
  LUMIVANE_FUZZ_CHECK(!d.FormatName.empty() && !d.HeaderLines.empty());
  if (pixels > kRowsFuzzPixels) return;
  std::vector<float> first(pixels * 3), second(pixels * 3);
  // Blocks of three rows, then the rest, as the jobs read them.
  const auto pass = [&](std::vector<float>& values) {
    std::string why;
    std::uint32_t done = 0;
    while (done < d.Height) {
      const std::uint32_t count = std::min<std::uint32_t>(3, d.Height - done);
      if (!rows->ReadRows(values.data() + std::size_t{done} * d.Width * 3, count, why)) {
        LUMIVANE_FUZZ_CHECK(!why.empty());
        return false;
      }
      done += count;
    }
    return true;
  };
  const bool whole = pass(first);
  std::string why;
  LUMIVANE_FUZZ_CHECK(rows->Rewind(why));
  const bool again = pass(second);
  LUMIVANE_FUZZ_CHECK(whole == again);
  if (whole) LUMIVANE_FUZZ_CHECK(std::memcmp(first.data(), second.data(), first.size() * 4) == 0);
}

}  // namespace lumivane::fuzzing
