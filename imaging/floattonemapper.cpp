#include "imaging/floattonemapper.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <iterator>
#include <limits>

#include "imaging/floatwords.h"
#include "imaging/tonemap.h"

namespace lumivane {

namespace {

float FloatOfKey(std::uint32_t key) {
  const std::uint32_t bits = (key & 0x80000000u) ? key ^ 0x80000000u : ~key;
  return std::bit_cast<float>(bits);
}

constexpr std::uint32_t kLowestFiniteKey = 0x00800000u;  // -FLT_MAX
constexpr std::uint32_t kPlusInfinityKey = 0xFF800000u;
// Neighbours of every threshold checked against the reference.
constexpr std::uint32_t kCheckWindow = 48;

// Thresholds 1 .. 255 at or below key.
unsigned ThresholdsAtOrBelow(const std::array<std::uint32_t, 257>& threshold, std::uint32_t key) {
  return static_cast<unsigned>(
      std::upper_bound(threshold.begin() + 1, threshold.begin() + 256, key) -
      (threshold.begin() + 1));
}

}  // namespace

FloatToneMapper::FloatToneMapper(const ImageStatistics& statistics, float brightness,
                                 float postGamma)
    : brightness_(brightness), postGamma_(postGamma) {
  for (int c = 0; c < 3; ++c) {
    channels_[c].Minimum = statistics.Minimum[c];
    channels_[c].Average = statistics.Average[c];
    FindThresholds(channels_[c]);
  }
  BuildTable();
  for (Channel& channel : channels_) {
    if (channel.Thresholds) channel.Thresholds = AgreesWithReference(channel);
  }
  LimitLanes(8);
}

std::uint8_t FloatToneMapper::Reference(const Channel& channel, float value) const {
  return ToneMapChannel(value, channel.Minimum, channel.Average, brightness_, postGamma_,
                        OperatorWidth::Double);
}

std::uint8_t FloatToneMapper::ClassifyInBuckets(const Channel& channel, std::uint32_t key) const {
  const unsigned range = channel.Bucket[key >> 16];
  unsigned byte = range & 0xFFu;
  unsigned left = (range >> 8) - byte;
  // The byte lies in [byte, byte + left]; halve that range.
  while (left > 0) {
    const unsigned half = (left + 1) / 2;
    if (channel.Threshold[byte + half] <= key) {
      byte += half;
      left -= half;
    } else {
      left = half - 1;
    }
  }
  return static_cast<std::uint8_t>(byte);
}

std::uint8_t FloatToneMapper::MapValue(int channel, float value) const {
  const Channel& ch = channels_[channel];
  if (!ch.Thresholds) return Reference(ch, value);
  return Classify(ch, std::bit_cast<std::uint32_t>(value));
}

void FloatToneMapper::FindThresholds(Channel& channel) const {
  channel.Thresholds = false;
  const double c = static_cast<double>(channel.Average) / static_cast<double>(brightness_);
  const float k = postGamma_;
  // Outside these bounds the monotonicity argument does not hold.
  if (!std::isfinite(channel.Minimum) || !std::isfinite(c) || !(brightness_ > 0.0f) ||
      !(k >= 0x1p-20f && k <= 65536.0f)) {
    return;
  }

  // The lowest finite value at or above the minimum.
  std::uint32_t low = kLowestFiniteKey, high = kPlusInfinityKey;
  while (low < high) {
    const std::uint32_t middle = low + (high - low) / 2;
    if (static_cast<double>(FloatOfKey(middle)) >= channel.Minimum) {
      high = middle;
    } else {
      low = middle + 1;
    }
  }
  channel.LowKey = low;
  channel.Span = kPlusInfinityKey - low;
  const auto byteAt = [&](std::uint32_t key) { return Reference(channel, FloatOfKey(key)); };

  channel.Threshold[0] = channel.LowKey;
  channel.Threshold[256] = 0xFFFFFFFFu;
  for (unsigned j = 1; j < 256; ++j) {
    std::uint32_t from = channel.Threshold[j - 1], to = kPlusInfinityKey;
    while (from < to) {
      const std::uint32_t middle = from + (to - from) / 2;
      if (byteAt(middle) >= j) {
        to = middle;
      } else {
        from = middle + 1;
      }
    }
    channel.Threshold[j] = from;
  }

  channel.Bucket.assign(65536, 0);
  const auto byteCount = [&](std::uint32_t key) {
    return ThresholdsAtOrBelow(channel.Threshold, key);
  };
  for (std::uint32_t bucket = 0; bucket < 65536; ++bucket) {
    const std::uint32_t first = std::max(bucket << 16, channel.LowKey);
    const std::uint32_t last = std::min(bucket << 16 | 0xFFFFu, kPlusInfinityKey - 1);
    if (first > last) continue;
    channel.Bucket[bucket] = static_cast<std::uint16_t>(byteCount(first) | byteCount(last) << 8);
  }

  channel.TableBase = channel.Threshold[1] - 1;
  channel.TableLast = std::min(channel.Threshold[255], kPlusInfinityKey - 1) - channel.TableBase;
  channel.Thresholds = channel.LowKey < kPlusInfinityKey;
}

void FloatToneMapper::BuildTable() {
  // One entry width for all channels, so that the lanes of a vector differ
  // only in their channel's constants.
  shift_ = 0;
  for (const Channel& channel : channels_) {
    if (!channel.Thresholds) continue;
    while ((channel.TableLast >> shift_) >= kTableEntries) ++shift_;
  }
  const std::uint32_t entryKeys = std::uint32_t{1} << shift_;
  table_.clear();
  for (Channel& channel : channels_) {
    channel.TableStart = static_cast<std::uint32_t>(table_.size());
    if (!channel.Thresholds) continue;
    const std::uint32_t entries = (channel.TableLast >> shift_) + 1;
    for (std::uint32_t e = 0; e < entries; ++e) {
      const std::uint32_t first = channel.TableBase + (e << shift_);
      const std::uint32_t last =
          channel.TableBase + std::min(channel.TableLast, (e << shift_) + (entryKeys - 1));
      const unsigned low = ThresholdsAtOrBelow(channel.Threshold, first);
      const unsigned high = ThresholdsAtOrBelow(channel.Threshold, last);
      if (high == low) {
        table_.push_back(low << 24 | entryKeys);
      } else if (high == low + 1) {
        table_.push_back(low << 24 | (channel.Threshold[low + 1] - first));
      } else {
        table_.push_back(kCrowded);
      }
    }
  }
}

// Every threshold's neighbourhood and both ends of the domain must agree with
// the reference, or the channel stays with the reference.
bool FloatToneMapper::AgreesWithReference(const Channel& channel) const {
  const auto agrees = [&](std::uint32_t first, std::uint32_t last) {
    first = std::max(first, channel.LowKey);
    last = std::min(last, kPlusInfinityKey - 1);
    for (std::uint64_t key = first; key <= last; ++key) {
      const float value = FloatOfKey(static_cast<std::uint32_t>(key));
      if (Classify(channel, std::bit_cast<std::uint32_t>(value)) != Reference(channel, value)) {
        return false;
      }
    }
    return true;
  };
  bool exact = agrees(channel.LowKey, channel.LowKey + kCheckWindow) &&
               agrees(kPlusInfinityKey - kCheckWindow, kPlusInfinityKey - 1);
  for (unsigned j = 1; j < 256 && exact; ++j) {
    const std::uint32_t t = channel.Threshold[j];
    if (t >= kPlusInfinityKey || t == channel.Threshold[j - 1]) continue;
    exact = agrees(t - std::min(t, kCheckWindow), t + kCheckWindow);
  }
  return exact;
}

}  // namespace lumivane
