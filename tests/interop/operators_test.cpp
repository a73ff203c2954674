// The operators of the operator table beside pfstmo's implementations of the
// same papers, on every shared photograph: with the maximum taken at
// percentile 100, gamma 2.2 and saturation 1, reinhard02 --key 0.18 and
// drago03 --bias 0.85 agree with
//   pfsin IN | pfstmo_reinhard02 | pfsgamma -g 2.2 | pfsout OUT.png
// (and pfstmo_drago03) within 2 levels on at least 98 % of the channel
// values. The peers abort on values below zero, so both sides read the
// photograph raised to at least 1e-4 by oiiotool. pfsout writes 16 bits a
// channel, which are taken to 8 by rounding v x 255 / 65535.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "tests/interop/peers.h"
#include "tests/support/operatorrun.h"

namespace lumivane::interop {
namespace {

struct Agreement {
  double WithinTwo = 0.0;
  int Largest = 0;
  double Mean = 0.0;
};

Agreement Compare(const Bytes& ours, const Bytes& theirs) {
  Agreement a;
  std::size_t within = 0;
  double total = 0.0;
  for (std::size_t i = 0; i < ours.size(); ++i) {
    const int difference = std::abs(int{ours[i]} - int{theirs[i]});
    within += difference <= 2;
    a.Largest = std::max(a.Largest, difference);
    total += difference;
  }
  a.WithinTwo = static_cast<double>(within) / static_cast<double>(ours.size());
  a.Mean = total / static_cast<double>(ours.size());
  return a;
}

// A 16-bit binary PPM (P6, maxval 65535), as ImageMagick writes one: its
// samples rounded to 8 bits.
std::optional<Bytes> EightBitsOf16BitPpm(const Bytes& file) {
  const std::string text(file.begin(), file.begin() + std::min<std::size_t>(file.size(), 64));
  unsigned width = 0, height = 0, maxval = 0;
  int header = 0;
  if (std::sscanf(text.c_str(), "P6 %u %u %u%n", &width, &height, &maxval, &header) != 3 ||
      maxval != 65535)
    return std::nullopt;
  const std::size_t samples = std::size_t{3} * width * height;
  const std::size_t start = static_cast<std::size_t>(header) + 1;
  if (file.size() < start + 2 * samples) return std::nullopt;
  Bytes eight(samples);
  for (std::size_t i = 0; i < samples; ++i) {
    const unsigned v = file[start + 2 * i] << 8 | file[start + 2 * i + 1];
    eight[i] = static_cast<std::uint8_t>((v * 255 + 32767) / 65535);
  }
  return eight;
}

struct Pairing {
  const char* Operator;
  OperatorValues Values;
  const char* Peer;
};

TEST(OperatorPeers, Reinhard02AndDrago03AgreeWithPfstmo) {
  if (!HavePeers({"pfsin", "pfsout", "pfsgamma", "pfstmo_reinhard02", "pfstmo_drago03", "oiiotool",
                  kMagick}))
    GTEST_SKIP() << "pfstools, pfstmo, oiiotool or ImageMagick is not installed";
  const OperatorValues matching = {{"max-percentile", 100.0}, {"gamma", 2.2}, {"saturation", 1.0}};
  std::vector<Pairing> pairings = {{"reinhard02", matching, "pfstmo_reinhard02"},
                                   {"drago03", matching, "pfstmo_drago03"}};
  pairings[0].Values["key"] = 0.18;
  pairings[1].Values["bias"] = 0.85;
  TempDir dir;
  for (const std::string& photo : testing::Photographs()) {
    const std::string name = std::filesystem::path(photo).stem().string();
    const std::string clamped = dir.File(name + "4.exr");
    const Ran clamp =
        Shell(dir, "oiiotool " + Quote(photo) + " --clamp:min=1e-4 -o " + Quote(clamped));
    ASSERT_EQ(clamp.Status, 0) << clamp.Err;
    for (const Pairing& pairing : pairings) {
      SCOPED_TRACE(name + " " + pairing.Operator);
      const std::string png = dir.File("peer.png"), ppm = dir.File("peer.ppm");
      const Ran peer = Shell(dir, "pfsin " + Quote(clamped) + " | " + pairing.Peer +
                                      " | pfsgamma -g 2.2 | pfsout " + Quote(png) + " && " +
                                      kMagick + " " + Quote(png) + " -depth 16 " + Quote(ppm));
      ASSERT_EQ(peer.Status, 0) << peer.Err;
      const auto theirs = EightBitsOf16BitPpm(testing::ReadBytes(ppm));
      std::string error;
      const auto ours = testing::RunOperator(pairing.Operator, pairing.Values, clamped, 2, error);
      ASSERT_TRUE(theirs && ours) << error;
      ASSERT_EQ(theirs->size(), ours->Rgb.size());
      const Agreement a = Compare(ours->Rgb, *theirs);
      std::cout << name << " " << pairing.Operator << " against " << pairing.Peer
                << ": within 2 levels " << 100.0 * a.WithinTwo << " %, largest " << a.Largest
                << ", mean " << a.Mean << "\n";
      EXPECT_GE(a.WithinTwo, 0.98);
    }
  }
}

}  // namespace
}  // namespace lumivane::interop
