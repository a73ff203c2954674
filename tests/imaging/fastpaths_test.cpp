#include "imaging/fastpaths.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <numeric>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "formats/rgbe.h"
#include "imaging/tonemap.h"
#include "io/parallel.h"
#include "tests/support/oracles.h"

namespace lumivane {
namespace {

const unsigned kThreadCounts[] = {1, 2, 3, 7};

std::uint64_t Bits(double value) {
  return std::bit_cast<std::uint64_t>(value);
}

void ExpectSameAccumulators(const ChannelAccumulators& expected,
                            const ChannelAccumulators& actual) {
  for (int c = 0; c < 3; ++c) {
    EXPECT_EQ(Bits(expected[c].Sum), Bits(actual[c].Sum)) << "channel " << c;
    EXPECT_EQ(Bits(expected[c].Minimum), Bits(actual[c].Minimum)) << "channel " << c;
    EXPECT_EQ(Bits(expected[c].Maximum), Bits(actual[c].Maximum)) << "channel " << c;
    EXPECT_EQ(expected[c].TakenAsZeroCount, actual[c].TakenAsZeroCount) << "channel " << c;
  }
}

TEST(RowWorkers, EveryIndexOnceForAnyThreadCountAndWavesInOrder) {
  for (unsigned threads : kThreadCounts) {
    RowWorkers workers(threads);
    EXPECT_EQ(workers.Threads(), threads);
    for (std::size_t count : {0u, 1u, 2u, 5u, 6u, 7u, 1000u}) {
      std::vector<std::atomic<int>> hits(count);
      workers.Run(count, [&](std::size_t begin, std::size_t end) {
        EXPECT_LT(begin, end);
        for (std::size_t i = begin; i < end; ++i) ++hits[i];
      });
      for (std::size_t i = 0; i < count; ++i) EXPECT_EQ(hits[i], 1) << count << " " << i;
    }
    std::vector<std::atomic<int>> rows(23);
    std::vector<std::uint32_t> waves;
    ForEachRowWave(
        workers, 23, 5,
        [&](std::size_t begin, std::size_t end) {
          for (std::size_t i = begin; i < end; ++i) ++rows[i];
        },
        [&](std::uint32_t begin, std::uint32_t end) {
          for (std::uint32_t i = begin; i < end; ++i) {
            EXPECT_EQ(rows[i], 1);
            waves.push_back(i);
          }
        });
    ASSERT_EQ(waves.size(), 23u);
    for (std::uint32_t i = 0; i < 23; ++i) EXPECT_EQ(waves[i], i);
  }
  EXPECT_EQ(RowsPerWave(1000, 5000), 5u);
  EXPECT_EQ(RowsPerWave(100000, 5000), 1u);
}

TEST(RowWorkers, ThreadCountFromTheEnvironment) {
  const unsigned hardware = std::max(1u, std::thread::hardware_concurrency());
  ::setenv("LUMIVANE_THREADS", "3", 1);
  EXPECT_EQ(WorkerThreadCount(), 3u);
  ::setenv("LUMIVANE_THREADS", "1", 1);
  EXPECT_EQ(WorkerThreadCount(), 1u);
  for (const char* bad : {"0", "-2", "x", "4x", "", "100000"}) {
    ::setenv("LUMIVANE_THREADS", bad, 1);
    EXPECT_EQ(WorkerThreadCount(), hardware) << bad;
  }
  ::unsetenv("LUMIVANE_THREADS");
  EXPECT_EQ(WorkerThreadCount(), hardware);
}

struct RgbePlanes {
  std::vector<std::uint8_t> R, G, B, E;
};

RgbePlanes RandomPlanes(std::size_t count, std::mt19937& random) {
  RgbePlanes planes{std::vector<std::uint8_t>(count), std::vector<std::uint8_t>(count),
                    std::vector<std::uint8_t>(count), std::vector<std::uint8_t>(count)};
  std::uniform_int_distribution<int> byte(0, 255), exponent(110, 150);
  for (std::size_t i = 0; i < count; ++i) {
    planes.R[i] = static_cast<std::uint8_t>(byte(random));
    planes.G[i] = static_cast<std::uint8_t>(byte(random));
    planes.B[i] = static_cast<std::uint8_t>(byte(random));
    // Mostly plausible exponents, some of the extremes.
    const int roll = byte(random);
    planes.E[i] = static_cast<std::uint8_t>(roll < 4 ? 0 : roll > 251 ? 255 : exponent(random));
  }
  return planes;
}

ChannelAccumulators ReferenceRgbeAccumulators(const RgbePlanes& planes) {
  ChannelAccumulators accumulators;
  for (std::size_t i = 0; i < planes.E.size(); ++i) {
    accumulators[0].Add(RgbeToFloat(planes.R[i], planes.E[i]));
    accumulators[1].Add(RgbeToFloat(planes.G[i], planes.E[i]));
    accumulators[2].Add(RgbeToFloat(planes.B[i], planes.E[i]));
  }
  return accumulators;
}

// Extremes over long stretches (where pixels go eight at a time), with the
// smallest and the largest value of each channel planted at every lane and in
// the tail, and values that differ by pair but equal in value.
TEST(RgbeFastPaths, ExtremesOfLongStretchesEqualTheReference) {
  std::mt19937 random(61);
  std::uniform_int_distribution<int> mantissa(100, 200), exponent(125, 131);
  for (std::size_t count : {8u, 9u, 15u, 16u, 17u, 64u, 1003u}) {
    for (std::size_t at = 0; at < count; at += 1 + count / 9) {
      RgbePlanes planes{std::vector<std::uint8_t>(count), std::vector<std::uint8_t>(count),
                        std::vector<std::uint8_t>(count), std::vector<std::uint8_t>(count)};
      for (std::size_t i = 0; i < count; ++i) {
        planes.R[i] = static_cast<std::uint8_t>(mantissa(random));
        planes.G[i] = static_cast<std::uint8_t>(mantissa(random));
        planes.B[i] = static_cast<std::uint8_t>(mantissa(random));
        planes.E[i] = static_cast<std::uint8_t>(exponent(random));
      }
      // A low red and green, a high blue at `at`; (64, 140) and (128, 139) are equal.
      planes.E[at] = 122;
      planes.R[at] = 3;
      planes.G[at] = 1;
      planes.B[at] = 255;
      planes.E[count - 1 - at] = 140;
      planes.R[count - 1 - at] = 64;
      for (const bool fromStart : {true, false}) {
        ChannelAccumulators expected, actual;
        if (!fromStart) {
          for (int c = 0; c < 3; ++c) {
            expected[c].Minimum = actual[c].Minimum = 1e-3;
            expected[c].Maximum = actual[c].Maximum = 1e3;
          }
        }
        for (std::size_t i = 0; i < count; ++i) {
          expected[0].Add(RgbeToFloat(planes.R[i], planes.E[i]));
          expected[1].Add(RgbeToFloat(planes.G[i], planes.E[i]));
          expected[2].Add(RgbeToFloat(planes.B[i], planes.E[i]));
        }
        AccumulateRgbeExtremes(planes.R.data(), planes.G.data(), planes.B.data(), planes.E.data(),
                               count, actual);
        for (int c = 0; c < 3; ++c) actual[c].Sum = expected[c].Sum;
        ExpectSameAccumulators(expected, actual);
      }
    }
  }
}

// Every pair alone gives its own value as both extremes, and any two pairs
// side by side order as their values, in the lanes and in the tail.
TEST(RgbeFastPaths, ExtremesOfEveryPairAndOfRandomTwosEqualTheReference) {
  const auto extremesOf = [](const std::vector<std::array<std::uint8_t, 2>>& pairs) {
    RgbePlanes planes;
    for (const auto& [m, e] : pairs) {
      planes.R.push_back(m);
      planes.G.push_back(static_cast<std::uint8_t>(255 - m));
      planes.B.push_back(m);
      planes.E.push_back(e);
    }
    ChannelAccumulators actual;
    AccumulateRgbeExtremes(planes.R.data(), planes.G.data(), planes.B.data(), planes.E.data(),
                           pairs.size(), actual);
    ChannelAccumulators expected = ReferenceRgbeAccumulators(planes);
    for (int c = 0; c < 3; ++c) actual[c].Sum = expected[c].Sum;
    return std::pair(expected, actual);
  };
  for (unsigned e = 0; e < 256; ++e) {
    for (unsigned m = 0; m < 256; ++m) {
      const std::array<std::uint8_t, 2> pair{static_cast<std::uint8_t>(m),
                                             static_cast<std::uint8_t>(e)};
      const auto [expected, actual] = extremesOf(std::vector(9, pair));
      ExpectSameAccumulators(expected, actual);
      if (HasFailure()) return;
    }
  }
  std::mt19937 random(62);
  std::uniform_int_distribution<int> byte(0, 255);
  for (int trial = 0; trial < 20000; ++trial) {
    std::vector<std::array<std::uint8_t, 2>> pairs;
    for (int i = 0; i < 2; ++i) {
      pairs.push_back(
          {static_cast<std::uint8_t>(byte(random)), static_cast<std::uint8_t>(byte(random))});
    }
    for (int i = 0; i < 7; ++i) pairs.push_back(pairs[i % 2]);
    const auto [expected, actual] = extremesOf(pairs);
    ExpectSameAccumulators(expected, actual);
    if (HasFailure()) return;
  }
}

// Sums of pieces added at once where the check allows, else chained: always
// the pixel-order chain's bits. Photograph-like stretches (with black pixels)
// must nearly all go at once; stretches with pixels that a chain rounds, or
// dark pixels that a small sum does not swallow, must be refused.
TEST(RgbeFastPaths, PieceSumsAddedAtOnceEqualThePixelChains) {
  std::mt19937 random(20);
  std::uniform_int_distribution<int> byte(0, 255), roll(0, 999), bright(118, 134);
  enum Scene { Photograph, RoundingPixels, DarkScene, AnyBytes };
  for (const Scene scene : {Photograph, RoundingPixels, DarkScene, AnyBytes}) {
    const std::size_t count = 200000;
    RgbePlanes planes{std::vector<std::uint8_t>(count), std::vector<std::uint8_t>(count),
                      std::vector<std::uint8_t>(count), std::vector<std::uint8_t>(count)};
    for (std::size_t i = 0; i < count; ++i) {
      const int r = roll(random);
      int e = bright(random);
      if (scene == AnyBytes) e = byte(random);
      if (scene != AnyBytes && r < 10) e = 0;  // black
      if (scene == RoundingPixels && r >= 990) e = 80 + r % 30;
      if (scene == DarkScene) e = 20 + r % 50;
      planes.E[i] = static_cast<std::uint8_t>(e);
      planes.R[i] = static_cast<std::uint8_t>(e == 0 ? 0 : byte(random));
      planes.G[i] = static_cast<std::uint8_t>(e == 0 ? 0 : byte(random));
      planes.B[i] = static_cast<std::uint8_t>(e == 0 ? 0 : byte(random));
    }
    const ChannelAccumulators expected = ReferenceRgbeAccumulators(planes);
    std::uniform_int_distribution<std::size_t> length(1, 9000);
    for (int split = 0; split < 3; ++split) {
      ChannelAccumulators actual;
      int atOnce = 0, chained = 0;
      for (std::size_t begin = 0; begin < count;) {
        const std::size_t n = std::min(length(random), count - begin);
        const std::uint8_t *r = planes.R.data() + begin, *g = planes.G.data() + begin,
                           *b = planes.B.data() + begin, *e = planes.E.data() + begin;
        if (AddRgbeSumPiece(SumRgbePiece(r, g, b, e, n), actual)) {
          ++atOnce;
        } else {
          AccumulateRgbeSums(r, g, b, e, n, actual);
          ++chained;
        }
        begin += n;
      }
      for (int c = 0; c < 3; ++c) {
        EXPECT_EQ(Bits(expected[c].Sum), Bits(actual[c].Sum)) << scene << " channel " << c;
      }
      if (scene == Photograph) {
        EXPECT_LE(chained, 1) << "of " << atOnce + chained;
      } else {
        EXPECT_GE(chained, 1) << scene;
      }
    }
  }
}

// RgbePixelsToFloats gives RgbeToFloat's bits, least significant byte first.
void ExpectRgbeFloats(const RgbePlanes& planes) {
  const std::size_t count = planes.E.size();
  std::vector<std::uint8_t> floats(12 * count);
  RgbePixelsToFloats(planes.R.data(), planes.G.data(), planes.B.data(), planes.E.data(), count,
                     floats.data());
  const std::uint8_t* mantissas[] = {planes.R.data(), planes.G.data(), planes.B.data()};
  for (std::size_t i = 0; i < count; ++i) {
    for (int c = 0; c < 3; ++c) {
      const auto bits = std::bit_cast<std::uint32_t>(RgbeToFloat(mantissas[c][i], planes.E[i]));
      const std::uint8_t expected[] = {
          static_cast<std::uint8_t>(bits), static_cast<std::uint8_t>(bits >> 8),
          static_cast<std::uint8_t>(bits >> 16), static_cast<std::uint8_t>(bits >> 24)};
      ASSERT_EQ(std::memcmp(floats.data() + 12 * i + 4 * c, expected, 4), 0) << i << " " << c;
    }
  }
}

TEST(RgbeFastPaths, ValuesStatisticsAndFloatsEqualTheReference) {
  const std::vector<float>& table = RgbeFloatTable();
  ASSERT_EQ(table.size(), 65536u);
  for (unsigned e = 0; e < 256; ++e) {
    for (unsigned m = 0; m < 256; ++m) {
      const auto mm = static_cast<std::uint8_t>(m), ee = static_cast<std::uint8_t>(e);
      ASSERT_EQ(std::bit_cast<std::uint32_t>(table[RgbeKey(mm, ee)]),
                std::bit_cast<std::uint32_t>(RgbeToFloat(mm, ee)));
    }
  }

  std::mt19937 random(6);
  for (std::size_t count : {1u, 7u, 33u, 4099u}) {
    const RgbePlanes planes = RandomPlanes(count, random);
    // Sums and extremes gathered apart and put together, over the whole
    // stretch and carried on over pieces as rows and blocks are.
    for (const std::size_t piece : {count, std::size_t{5}, std::size_t{7}}) {
      ChannelAccumulators sums, extremes;
      for (std::size_t begin = 0; begin < count; begin += piece) {
        const std::size_t n = std::min(piece, count - begin);
        AccumulateRgbeSums(planes.R.data() + begin, planes.G.data() + begin,
                           planes.B.data() + begin, planes.E.data() + begin, n, sums);
        AccumulateRgbeExtremes(planes.R.data() + begin, planes.G.data() + begin,
                               planes.B.data() + begin, planes.E.data() + begin, n, extremes);
      }
      for (int c = 0; c < 3; ++c) extremes[c].Sum = sums[c].Sum;
      ExpectSameAccumulators(ReferenceRgbeAccumulators(planes), extremes);
    }

    ExpectRgbeFloats(planes);
  }
  // Every pair, in the lanes (eight pixels share an exponent) and the tail.
  RgbePlanes pairs;
  for (std::size_t p = 0; p < 65536 + 5; ++p) {
    const auto m = static_cast<std::uint8_t>(p);
    pairs.R.push_back(m);
    pairs.G.push_back(static_cast<std::uint8_t>(255 - m));
    pairs.B.push_back(static_cast<std::uint8_t>(m ^ 0x5A));
    pairs.E.push_back(static_cast<std::uint8_t>(p >> 8));
  }
  ExpectRgbeFloats(pairs);
}

struct Setting {
  float Brightness;
  float PostGamma;
  bool Warm;
};

const Setting kSettings[] = {
    {0.8f, 1.0f, true},          {0.8f, 1.0f / 1.2f, false}, {0.01f, 1.0f / 1.2f, true},
    {50.0f, 1.0f / 1.2f, false}, {1.0f, 10.0f, true},        {0.8f, 0.1f, true},
    {50.0f, 1.0f, false},
};

TEST(RgbeFastPaths, ToneTablesEqualTheReferenceForEveryPair) {
  std::mt19937 random(7);
  const RgbePlanes planes = RandomPlanes(513, random);
  const ChannelAccumulators accumulators = ReferenceRgbeAccumulators(planes);
  for (const Setting& setting : kSettings) {
    const ImageStatistics statistics = ComputeImageStatistics(accumulators, 513, setting.Warm);
    RowWorkers one(1);
    const RgbeToneTables tables =
        BuildRgbeToneTables(statistics, setting.Brightness, setting.PostGamma, one);
    for (int c = 0; c < 3; ++c) {
      for (unsigned e = 0; e < 256; ++e) {
        for (unsigned m = 0; m < 256; ++m) {
          const auto mm = static_cast<std::uint8_t>(m), ee = static_cast<std::uint8_t>(e);
          ASSERT_EQ(
              tables.Channel[c][RgbeKey(mm, ee)],
              ToneMapChannel(RgbeToFloat(mm, ee), statistics.Minimum[c], statistics.Average[c],
                             setting.Brightness, setting.PostGamma, OperatorWidth::Single))
              << c << " " << m << " " << e;
        }
      }
    }
    for (unsigned threads : {2u, 3u, 7u}) {
      RowWorkers workers(threads);
      const RgbeToneTables again =
          BuildRgbeToneTables(statistics, setting.Brightness, setting.PostGamma, workers);
      EXPECT_EQ(again.Channel, tables.Channel) << threads;
    }
    // Restricted to the pairs between the extremes: exactly the planes' bytes.
    RowWorkers two(2);
    const RgbeToneTables present =
        BuildRgbeToneTables(statistics, setting.Brightness, setting.PostGamma, two, &accumulators);
    std::vector<std::uint8_t> full(3 * 513), restricted(3 * 513);
    ToneMapRgbeToRgb(planes.R.data(), planes.G.data(), planes.B.data(), planes.E.data(), 513,
                     tables, full.data());
    ToneMapRgbeToRgb(planes.R.data(), planes.G.data(), planes.B.data(), planes.E.data(), 513,
                     present, restricted.data());
    EXPECT_EQ(restricted, full);
    std::size_t mapped = 0;
    for (int c = 0; c < 3; ++c) {
      for (std::size_t key = 0; key < 65536; ++key) {
        const double value = RgbeFloatTable()[key];
        if (value < accumulators[c].Minimum || value > accumulators[c].Maximum) continue;
        ++mapped;
        ASSERT_EQ(present.Channel[c][key], tables.Channel[c][key]) << c << " " << key;
      }
    }
    EXPECT_LT(mapped, 3 * 65536u);

    // Short lengths, then the rest of the row, from odd starts.
    for (const std::size_t first : {0u, 1u, 5u}) {
      std::vector<std::size_t> counts(41);
      std::iota(counts.begin(), counts.end(), 0);
      counts.push_back(513 - first);
      for (const std::size_t count : counts) {
        std::vector<std::uint8_t> rgb(3 * count + 1, 0xA5);
        ToneMapRgbeToRgb(planes.R.data() + first, planes.G.data() + first, planes.B.data() + first,
                         planes.E.data() + first, count, tables, rgb.data());
        ASSERT_EQ(rgb.back(), 0xA5) << "wrote past the end, " << count;
        for (std::size_t i = 0; i < count; ++i) {
          const std::uint8_t* mantissas[] = {planes.R.data(), planes.G.data(), planes.B.data()};
          for (int c = 0; c < 3; ++c) {
            ASSERT_EQ(rgb[3 * i + c],
                      ToneMapChannel(RgbeToFloat(mantissas[c][first + i], planes.E[first + i]),
                                     statistics.Minimum[c], statistics.Average[c],
                                     setting.Brightness, setting.PostGamma, OperatorWidth::Single))
                << first << " " << count << " " << i << " " << c;
          }
        }
      }
    }
  }
}

std::vector<std::uint8_t> StoreFloats(const std::vector<float>& values, bool intelOrder) {
  std::vector<std::uint8_t> bytes(4 * values.size());
  for (std::size_t i = 0; i < values.size(); ++i) {
    const auto bits = std::bit_cast<std::uint32_t>(values[i]);
    for (int j = 0; j < 4; ++j) {
      bytes[4 * i + (intelOrder ? j : 3 - j)] = static_cast<std::uint8_t>(bits >> (8 * j));
    }
  }
  return bytes;
}

float RandomBitPattern(std::mt19937& random) {
  return std::bit_cast<float>(static_cast<std::uint32_t>(random()));
}

// Plausible image values with a sprinkling of every awkward kind.
std::vector<float> MixedValues(std::size_t count, std::mt19937& random, float scale) {
  std::uniform_real_distribution<float> unit(0.0f, 1.0f);
  std::uniform_int_distribution<int> roll(0, 99);
  const float specials[] = {0.0f,
                            -0.0f,
                            std::numeric_limits<float>::infinity(),
                            -std::numeric_limits<float>::infinity(),
                            std::numeric_limits<float>::quiet_NaN(),
                            -std::numeric_limits<float>::quiet_NaN(),
                            std::numeric_limits<float>::denorm_min(),
                            1e-40f,
                            std::numeric_limits<float>::max(),
                            -1.5f};
  std::vector<float> values(count);
  for (float& v : values) {
    const int r = roll(random);
    if (r < 5) {
      v = specials[static_cast<std::size_t>(r * 2 + (random() & 1))];
    } else if (r < 10) {
      v = RandomBitPattern(random);
    } else {
      v = scale * std::exp2(20.0f * unit(random) - 10.0f);
    }
  }
  return values;
}

ChannelAccumulators ReferenceFloatAccumulators(const std::vector<float>& values) {
  ChannelAccumulators accumulators;
  for (std::size_t i = 0; i < values.size(); ++i) accumulators[i % 3].Add(values[i]);
  return accumulators;
}

TEST(FloatFastPaths, SwappingAndStatisticsEqualTheReference) {
  for (std::size_t words : {0u, 1u, 3u, 5u, 17u, 1001u}) {
    std::vector<std::uint8_t> bytes(4 * words);
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i * 7 + 1);
    std::vector<std::uint8_t> swapped = bytes;
    SwapBytes4(swapped.data(), words);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
      ASSERT_EQ(swapped[i], bytes[i - i % 4 + 3 - i % 4]);
    }
  }

  std::mt19937 random(8);
  for (std::size_t pixels : {1u, 2u, 7u, 1000u}) {
    const std::vector<float> values = MixedValues(3 * pixels, random, 2.0f);
    const ChannelAccumulators expected = ReferenceFloatAccumulators(values);
    for (bool intel : {true, false}) {
      const std::vector<std::uint8_t> stored = StoreFloats(values, intel);
      ChannelAccumulators actual;
      AccumulateFloatPixels(stored.data(), pixels, intel, actual);
      ExpectSameAccumulators(expected, actual);
      ChannelAccumulators sums, extremes;
      for (std::size_t begin = 0; begin < pixels; begin += 3) {
        const std::size_t n = std::min<std::size_t>(3, pixels - begin);
        AccumulateFloatSums(stored.data() + 12 * begin, n, intel, sums);
        AccumulateFloatExtremes(stored.data() + 12 * begin, n, intel, extremes);
      }
      TakeExtremes(extremes, sums);
      ExpectSameAccumulators(expected, sums);
    }
  }
  // Signed zeros: the first of equal extremes is kept, as in the reference.
  for (bool negativeFirst : {true, false}) {
    const std::vector<float> values = {negativeFirst ? -0.0f : 0.0f, 0.0f, 0.0f,
                                       negativeFirst ? 0.0f : -0.0f, 0.0f, 0.0f};
    const std::vector<std::uint8_t> stored = StoreFloats(values, true);
    ChannelAccumulators actual;
    AccumulateFloatPixels(stored.data(), 2, true, actual);
    ExpectSameAccumulators(ReferenceFloatAccumulators(values), actual);
    ChannelAccumulators sums, extremes;
    AccumulateFloatSums(stored.data(), 2, true, sums);
    AccumulateFloatExtremes(stored.data(), 2, true, extremes);
    TakeExtremes(extremes, sums);
    ExpectSameAccumulators(actual, sums);
    EXPECT_EQ(std::signbit(actual[0].Minimum), negativeFirst);
  }
}

// Whole rows, long enough for the side-by-side lanes: the extremes must be
// the reference's to the bit, zero signs included, from any starting values.
TEST(FloatFastPaths, ExtremesOfLongRowsEqualTheReference) {
  std::mt19937 random(81);
  const float inf = std::numeric_limits<float>::infinity();
  const float nan = std::numeric_limits<float>::quiet_NaN();
  std::vector<std::vector<float>> rows;
  for (std::size_t pixels : {3u, 4u, 5u, 8u, 13u, 40u, 1000u, 1001u}) {
    rows.push_back(MixedValues(3 * pixels, random, 2.0f));
  }
  // Zeros of both signs as the extremes, met first at every position of a lane.
  for (std::size_t at = 0; at < 30; at += 7) {
    for (float first : {-0.0f, 0.0f}) {
      std::vector<float> positive(3 * 33, 0.5f), negative(3 * 33, -0.5f);
      for (std::size_t i = at; i < positive.size(); i += 11) {
        positive[i] = negative[i] = (i == at || i == at + 1 || i == at + 2) ? first : -first;
      }
      rows.push_back(positive);
      rows.push_back(negative);
    }
  }
  rows.push_back(std::vector<float>(3 * 9, nan));
  rows.push_back(
      {inf, -inf, nan, -inf, inf, 1.0f, nan, nan, nan, inf, inf, -inf, 2.0f, -2.0f, inf});

  ChannelAccumulators starts[2];
  for (int c = 0; c < 3; ++c) starts[1][c].Maximum = -1e30;  // lets zero become the maximum
  for (const std::vector<float>& row : rows) {
    const std::size_t pixels = row.size() / 3;
    for (const ChannelAccumulators& start : starts) {
      ChannelAccumulators expected = start;
      for (std::size_t i = 0; i < row.size(); ++i) expected[i % 3].Add(row[i]);
      for (bool intel : {true, false}) {
        const std::vector<std::uint8_t> stored = StoreFloats(row, intel);
        const std::size_t split = random() % (pixels + 1);
        ChannelAccumulators whole = start, parts = start;
        AccumulateFloatExtremes(stored.data(), pixels, intel, whole);
        AccumulateFloatExtremes(stored.data(), split, intel, parts);
        AccumulateFloatExtremes(stored.data() + 12 * split, pixels - split, intel, parts);
        for (int c = 0; c < 3; ++c) whole[c].Sum = parts[c].Sum = expected[c].Sum;
        ExpectSameAccumulators(expected, whole);
        ExpectSameAccumulators(expected, parts);
      }
    }
  }
}

struct ImageCase {
  const char* Name;
  std::vector<float> Values;
};

std::vector<ImageCase> FloatImages() {
  std::mt19937 random(9);
  std::vector<ImageCase> images;
  images.push_back({"mixed", MixedValues(3 * 999, random, 1.0f)});
  images.push_back({"bright", MixedValues(3 * 64, random, 3e4f)});
  std::vector<float> offset(3 * 100);
  for (std::size_t i = 0; i < offset.size(); ++i) offset[i] = 1000.0f + 0.01f * (i % 37);
  images.push_back({"narrow band far from zero", offset});
  std::vector<float> negative(3 * 50);
  for (std::size_t i = 0; i < negative.size(); ++i) negative[i] = -5.0f + 0.1f * (i % 11);
  images.push_back({"negative average", negative});
  images.push_back({"one pixel", {0.25f, 2.0f, 1e-30f}});
  images.push_back({"all zero", std::vector<float>(9, 0.0f)});
  images.push_back({"subnormal", {1e-42f, 2e-41f, 1e-45f, 3e-40f, 0.0f, 1e-39f}});
  const float nan = std::numeric_limits<float>::quiet_NaN();
  images.push_back({"no finite values", {nan, nan, nan, nan, nan, nan}});
  return images;
}

TEST(FloatFastPaths, ThresholdsEqualTheReferenceOperator) {
  std::mt19937 random(10);
  for (const ImageCase& image : FloatImages()) {
    const std::size_t pixels = image.Values.size() / 3;
    const ChannelAccumulators accumulators = ReferenceFloatAccumulators(image.Values);
    for (const Setting& setting : kSettings) {
      const ImageStatistics statistics =
          ComputeImageStatistics(accumulators, static_cast<std::uint32_t>(pixels), setting.Warm);
      const FloatToneMapper mapper(statistics, setting.Brightness, setting.PostGamma);
      const auto reference = [&](int c, float v) {
        return ToneMapChannel(v, statistics.Minimum[c], statistics.Average[c], setting.Brightness,
                              setting.PostGamma, OperatorWidth::Double);
      };
      const std::string where = std::string(image.Name) +
                                " B=" + std::to_string(setting.Brightness) +
                                " k=" + std::to_string(setting.PostGamma);
      // Per channel, the probes that lie in the classified domain, for whole rows below.
      std::vector<float> inDomain[3];
      for (int c = 0; c < 3; ++c) {
        if (std::isfinite(statistics.Minimum[c]) && std::string(image.Name) != "no finite values") {
          EXPECT_TRUE(mapper.UsesThresholds(c)) << where << " channel " << c;
        }
        // The image's own values, arbitrary bit patterns, and values spread
        // densely just above the minimum and around the key average.
        std::vector<float> probes;
        for (std::size_t i = c; i < image.Values.size(); i += 3) probes.push_back(image.Values[i]);
        for (int i = 0; i < 20000; ++i) probes.push_back(RandomBitPattern(random));
        const double m = statistics.Minimum[c];
        const double span = std::max(1e-3, std::fabs(static_cast<double>(statistics.Average[c])));
        std::uniform_real_distribution<double> near(0.0, 1.0);
        if (std::isfinite(m)) {
          for (int i = 0; i < 20000; ++i) {
            probes.push_back(static_cast<float>(m + span * std::exp2(40.0 * near(random) - 30.0)));
          }
          float v = static_cast<float>(m);
          for (int i = 0; i < 2000; ++i) {
            probes.push_back(v);
            v = std::nextafter(v, std::numeric_limits<float>::infinity());
          }
        }
        for (float v : probes) {
          ASSERT_EQ(mapper.MapValue(c, v), reference(c, v))
              << where << " channel " << c << " value " << v << " bits "
              << std::bit_cast<std::uint32_t>(v);
          if (std::isfinite(v) && static_cast<double>(v) >= m) inDomain[c].push_back(v);
        }
      }

      // The probes as rows, so that whole groups of pixels take the vector
      // path; every 97th pixel gets a NaN, which sends its group the slow way.
      const std::size_t rowPixels =
          std::min({inDomain[0].size(), inDomain[1].size(), inDomain[2].size()});
      std::vector<float> probeRow(3 * rowPixels);
      for (std::size_t i = 0; i < probeRow.size(); ++i) {
        probeRow[i] =
            i % (3 * 97) == 4 ? std::numeric_limits<float>::quiet_NaN() : inDomain[i % 3][i / 3];
      }
      // Each width of lanes the processor has, and the image's rows too.
      for (unsigned lanes : {1u, 4u, 8u}) {
        FloatToneMapper narrowed = mapper;
        narrowed.LimitLanes(lanes);
        const std::string how = where + " lanes " + std::to_string(narrowed.Lanes());
        for (bool intel : {true, false}) {
          for (const std::vector<float>* row : {&std::as_const(probeRow), &image.Values}) {
            const std::vector<std::uint8_t> stored = StoreFloats(*row, intel);
            std::vector<std::uint8_t> out(row->size(), 0xEE);
            narrowed.Map(stored.data(), row->size() / 3, intel, out.data());
            for (std::size_t i = 0; i < row->size(); ++i) {
              ASSERT_EQ(out[i], reference(static_cast<int>(i % 3), (*row)[i]))
                  << how << (intel ? " II" : " MM") << " value " << i << ": " << (*row)[i];
            }
          }
        }
      }
    }
  }
}

}  // namespace
}  // namespace lumivane
