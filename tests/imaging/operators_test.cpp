// The global operators of the operator table: each curve against its paper's
// formula, the parameters each row describes, and the mapping's independence
// from where and in what pieces pixels come.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "imaging/globaloperator.h"
#include "imaging/operatortable.h"
#include "imaging/rgbepixels.h"

namespace lumivane {
namespace {

ImageFacts FactsOf(const std::vector<float>& rgb, std::uint32_t width) {
  ImageFacts facts;
  facts.Width = width;
  facts.Height = static_cast<std::uint32_t>(rgb.size() / 3 / width);
  std::vector<float> clean(rgb);
  for (std::size_t i = 0; i < clean.size(); ++i) {
    if (!(clean[i] > 0.0f) || !std::isfinite(clean[i])) clean[i] = 0.0f;
    facts.Channels[i % 3].Add(clean[i]);
  }
  facts.Luminance.AddPixels(clean.data(), clean.size() / 3);
  return facts;
}

std::unique_ptr<ToneOperator> Prepared(const char* name, const OperatorValues& values,
                                       const ImageFacts& facts) {
  const OperatorRow* row = FindOperator(name);
  EXPECT_NE(row, nullptr) << name;
  auto op = row->Make(values);
  op->Prepare(facts);
  return op;
}

// A grey scene of two luminances, a dark one on three pixels in four, each at
// the geometric centre of its histogram bin, so that the histogram's
// log-average is the exact one.
struct TwoLevelScene {
  float Dark = 0.0f, Bright = 0.0f;
  std::vector<float> Rgb;
  std::vector<double> Luminance;

  TwoLevelScene() {
    const auto centre = [](float v) {
      const std::size_t bin = LuminanceHistogram::BinOf(v);
      return static_cast<float>(std::sqrt(static_cast<double>(LuminanceHistogram::BinLow(bin)) *
                                          LuminanceHistogram::BinHigh(bin)));
    };
    Dark = centre(0.05f);
    Bright = centre(20.0f);
    for (int i = 0; i < 400; ++i) {
      const float v = i % 4 == 3 ? Bright : Dark;
      Rgb.insert(Rgb.end(), {v, v, v});
      Luminance.push_back(LuminanceOf(v, v, v));
    }
  }
  double LogAverage(double delta) const {
    double sum = 0.0;
    for (const double l : Luminance) sum += std::log(delta + l);
    return std::exp(sum / static_cast<double>(Luminance.size()));
  }
  double Maximum() const { return *std::max_element(Luminance.begin(), Luminance.end()); }
  double Minimum() const { return *std::min_element(Luminance.begin(), Luminance.end()); }
};

// Grey probes, seven so that lanes and a tail both run; and the display
// luminance the operator gives each with gamma 1 and saturation 1.
const std::vector<float> kProbes = {0.0f, 1e-3f, 0.05f, 0.3f, 1.0f, 20.0f, 300.0f};

template <typename Formula>
void ExpectCurve(const char* name, OperatorValues values, const Formula& formula) {
  SCOPED_TRACE(name);
  const TwoLevelScene scene;
  values["gamma"] = 1.0;
  values["saturation"] = 1.0;
  const auto op = Prepared(name, values, FactsOf(scene.Rgb, 20));
  std::vector<float> rgb, display(3 * kProbes.size());
  for (const float v : kProbes) rgb.insert(rgb.end(), {v, v, v});
  op->MapPixels(rgb.data(), PixelPlaces{}, kProbes.size(), display.data());
  for (std::size_t i = 0; i < kProbes.size(); ++i) {
    const double l = LuminanceOf(kProbes[i], kProbes[i], kProbes[i]);
    const double expected = std::clamp(formula(scene, l), 0.0, 1.0);
    for (int c = 0; c < 3; ++c) EXPECT_NEAR(display[3 * i + c], expected, 2e-5) << kProbes[i];
  }
}

// The three global operators' rows; the classic and the local ones have tests of their own.
std::vector<const OperatorRow*> GlobalRows() {
  std::vector<const OperatorRow*> rows;
  for (const char* name : {"reinhard02", "drago03", "filmic"}) rows.push_back(FindOperator(name));
  return rows;
}

TEST(GlobalOperators, CurvesFollowTheirPapers) {
  // Reinhard et al. 2002: L = a / L_av x L_w, L_d = L (1 + L / L_white^2) / (1 + L).
  const auto reinhard = [](double key, double white) {
    return [key, white](const TwoLevelScene& s, double l) {
      const double scale = key / s.LogAverage(1e-5);
      const double w = white > 0.0 ? white : scale * s.Maximum();
      const double ls = scale * l;
      return ls * (1.0 + ls / (w * w)) / (1.0 + ls);
    };
  };
  ExpectCurve("reinhard02", {{"key", 0.18}, {"max-percentile", 100.0}}, reinhard(0.18, 0.0));
  ExpectCurve("reinhard02", {{"key", 0.5}, {"white", 3.0}}, reinhard(0.5, 3.0));
  // Reinhard 2002 (JGT): a = 0.18 x 4^((2 log2 L_av - log2 L_min - log2 L_max) / (log2 L_max -
  // log2 L_min)).
  const TwoLevelScene scene;
  const double lav = scene.LogAverage(1e-5), lmin = scene.Minimum(), lmax = scene.Maximum();
  const double key = 0.18 * std::pow(4.0, (2 * std::log2(lav) - std::log2(lmin) - std::log2(lmax)) /
                                              (std::log2(lmax) - std::log2(lmin)));
  ASSERT_LT(key, 0.17);  // a dark scene: a low key
  ExpectCurve("reinhard02", {{"max-percentile", 100.0}}, reinhard(key, 0.0));

  // Drago et al. 2003, L_dmax = 100: L_d = log(L_w + 1) / log(2 + 8 (L_w / L_wmax)^(log b / log
  // 0.5)) / log10(L_wmax + 1), L_w over the log-average.
  for (const double bias : {0.85, 0.6}) {
    ExpectCurve("drago03", {{"bias", bias}, {"max-percentile", 100.0}},
                [bias](const TwoLevelScene& s, double l) {
                  const double lwa = s.LogAverage(1e-4);
                  const double lw = l / lwa, lwmax = s.Maximum() / lwa;
                  const double p = std::log(bias) / std::log(0.5);
                  return std::log(lw + 1.0) / std::log(2.0 + 8.0 * std::pow(lw / lwmax, p)) /
                         std::log10(lwmax + 1.0);
                });
  }

  // Narkowicz's ACES fit at 0.6 x 0.18 / L_av, its maximum at white; one stop more exposure.
  const auto aces = [](double x) { return x * (2.51 * x + 0.03) / (x * (2.43 * x + 0.59) + 0.14); };
  ExpectCurve("filmic", {{"max-percentile", 100.0}, {"exposure", 1.0}},
              [&](const TwoLevelScene& s, double l) {
                const double scale = 2.0 * 0.6 * 0.18 / s.LogAverage(1e-5);
                return aces(scale * l) / aces(scale * s.Maximum());
              });
}

TEST(GlobalOperators, ExposureSaturationAndMaxPercentile) {
  const TwoLevelScene scene;
  const ImageFacts facts = FactsOf(scene.Rgb, 20);
  const OperatorValues linear = {{"gamma", 1.0}, {"saturation", 1.0}, {"white", 1e6}};
  // With the white point fixed, one stop of exposure is twice the light.
  float once[3], doubled[3];
  const float pixel[3] = {0.3f, 0.2f, 0.1f}, twice[3] = {0.6f, 0.4f, 0.2f};
  OperatorValues brighter = linear;
  brighter["exposure"] = 1.0;
  Prepared("reinhard02", brighter, facts)->MapPixels(pixel, {}, 1, once);
  Prepared("reinhard02", linear, facts)->MapPixels(twice, {}, 1, doubled);
  for (int c = 0; c < 3; ++c) EXPECT_NEAR(once[c], doubled[c], 1e-6);

  // out = (in / L_in)^s x L_out, channel by channel.
  OperatorValues pale = linear;
  pale["saturation"] = 0.5;
  float grey[3], colour[3];
  const float l = LuminanceOf(pixel[0], pixel[1], pixel[2]);
  const float same[3] = {l, l, l};
  Prepared("reinhard02", linear, facts)->MapPixels(same, {}, 1, grey);
  Prepared("reinhard02", pale, facts)->MapPixels(pixel, {}, 1, colour);
  for (int c = 0; c < 3; ++c) EXPECT_NEAR(colour[c], std::sqrt(pixel[c] / l) * grey[0], 2e-6) << c;

  // A hot pixel (under 0.1 %) sets the white point only at percentile 100.
  std::vector<float> hot;
  for (int copy = 0; copy < 3; ++copy) hot.insert(hot.end(), scene.Rgb.begin(), scene.Rgb.end());
  hot.insert(hot.end(), {1e6f, 1e6f, 1e6f});
  const float probe[3] = {1.0f, 1.0f, 1.0f};
  float plain[3], trimmed[3], untrimmed[3];
  Prepared("drago03", {{"max-percentile", 100.0}}, facts)->MapPixels(probe, {}, 1, plain);
  Prepared("drago03", {}, FactsOf(hot, 1))->MapPixels(probe, {}, 1, trimmed);
  Prepared("drago03", {{"max-percentile", 100.0}}, FactsOf(hot, 1))
      ->MapPixels(probe, {}, 1, untrimmed);
  EXPECT_NEAR(trimmed[0], plain[0], 0.02);
  EXPECT_LT(untrimmed[0], plain[0] - 0.1);

  // The estimated saturation follows Mantiuk et al.'s range.
  for (const char* name : {"reinhard02", "drago03", "filmic"}) {
    const auto op = Prepared(name, {}, facts);
    const float s = dynamic_cast<const GlobalOperator&>(*op).Saturation();
    EXPECT_GE(s, 0.6f) << name;
    EXPECT_LE(s, 1.0f) << name;
  }
}

TEST(GlobalOperators, TableRowsDescribeTheirParameters) {
  std::set<std::string> names;
  for (const OperatorRow* global : GlobalRows()) {
    const OperatorRow& row = *global;
    SCOPED_TRACE(row.Name);
    EXPECT_TRUE(names.insert(row.Name).second);
    EXPECT_EQ(FindOperator(row.Name), &row);
    EXPECT_GT(std::string(row.Summary).size(), 10u);
    EXPECT_GT(std::string(row.Paper).size(), 20u);
    std::set<std::string> parameters;
    for (const OperatorParameter& p : row.Parameters) {
      SCOPED_TRACE(p.Name);
      EXPECT_TRUE(parameters.insert(p.Name).second);
      EXPECT_GT(std::string(p.Help).size(), 10u);
      EXPECT_LT(p.Low, p.High);
      if (!std::isnan(p.Default)) {
        EXPECT_GE(p.Default, p.Low);
        EXPECT_LE(p.Default, p.High);
      }
    }
    for (const char* common : {"max-percentile", "exposure", "saturation", "gamma"})
      EXPECT_EQ(parameters.count(common), 1u) << common;
    // Every parameter at either end of its range still gives a picture.
    for (const OperatorParameter& p : row.Parameters) {
      for (const double value : {p.Low, p.High}) {
        const TwoLevelScene scene;
        const auto op = Prepared(row.Name, {{p.Name, value}}, FactsOf(scene.Rgb, 20));
        float display[3];
        op->MapPixels(scene.Rgb.data(), {}, 1, display);
        for (const float d : display) EXPECT_TRUE(d >= 0.0f && d <= 1.0f) << p.Name << value;
      }
    }
  }
  EXPECT_EQ(FindOperator("reinhard05"), nullptr);
  EXPECT_TRUE(std::isnan(FindOperator("reinhard02")->Parameters.front().Default));  // the key
  EXPECT_EQ(FindOperator("drago03")->Parameters.front().Default, 0.85);             // the bias
}

TEST(GlobalOperators, APixelsResultDependsOnItsValuesAlone) {
  std::mt19937 random(11);
  std::uniform_real_distribution<float> stops(-12.0f, 10.0f), tint(0.0f, 1.0f);
  const std::uint32_t width = 301;
  std::vector<float> rgb;
  for (std::uint32_t i = 0; i < width * 3; ++i) {
    const float level = std::exp2(stops(random));
    for (int c = 0; c < 3; ++c) rgb.push_back(level * tint(random));
  }
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  const std::vector<float> odd = {-1.0f, 0.5f, 0.5f, nan,  0.5f, 0.5f, inf, 0.5f,
                                  0.5f,  0.0f, 0.5f, 0.5f, 0.0f, 0.0f, 0.0f};
  std::copy(odd.begin(), odd.end(), rgb.begin() + 3 * width + 30);  // in the row mapped
  const ImageFacts facts = FactsOf(rgb, width);
  const std::vector<float> row(rgb.begin() + 3 * width, rgb.begin() + 6 * width);

  for (const OperatorRow* global : GlobalRows()) {
    const OperatorRow& entry = *global;
    for (const OperatorValues& values :
         {OperatorValues{}, OperatorValues{{"saturation", 1.0}, {"gamma", 2.2}}}) {
      SCOPED_TRACE(entry.Name);
      const auto op = Prepared(entry.Name, values, facts);
      std::vector<std::uint8_t> full(3 * width), pieces(3 * width);
      std::vector<float> display(3 * width);
      op->MapPixelsToBytes(row.data(), PixelPlaces{1, 0, nullptr}, width, full.data());
      op->MapPixels(row.data(), PixelPlaces{1, 0, nullptr}, width, display.data());
      for (std::size_t i = 0; i < full.size(); ++i)
        ASSERT_EQ(full[i], std::lround(std::clamp(display[i], 0.0f, 1.0f) * 255.0f)) << i;
      // In uneven pieces, as bands and threads split a row.
      for (const std::uint32_t cut : {0u, 1u, 3u, 5u, 258u, 300u}) {
        op->MapPixelsToBytes(row.data(), PixelPlaces{1, 0, nullptr}, cut, pieces.data());
        op->MapPixelsToBytes(row.data() + 3 * cut, PixelPlaces{1, cut, nullptr}, width - cut,
                             pieces.data() + 3 * cut);
        ASSERT_EQ(pieces, full) << cut;
      }
      // Sampled columns, as the preview takes them.
      std::vector<std::uint32_t> columns;
      std::vector<float> sampled;
      for (std::uint32_t x = 2; x < width; x += 7) {
        columns.push_back(x);
        sampled.insert(sampled.end(), row.begin() + 3 * x, row.begin() + 3 * x + 3);
      }
      std::vector<std::uint8_t> preview(3 * columns.size());
      op->MapPixelsToBytes(sampled.data(), PixelPlaces{1, 0, columns.data()}, columns.size(),
                           preview.data());
      for (std::size_t i = 0; i < columns.size(); ++i)
        for (int c = 0; c < 3; ++c)
          ASSERT_EQ(preview[3 * i + c], full[3 * columns[i] + c]) << columns[i];
    }
  }
}

TEST(GlobalOperators, AnImageWithoutLightGivesBlack) {
  const std::vector<float> black(3 * 16, 0.0f);
  for (const OperatorRow* global : GlobalRows()) {
    const OperatorRow& row = *global;
    for (const ImageFacts& facts : {FactsOf(black, 4), ImageFacts{}}) {
      const auto op = Prepared(row.Name, {}, facts);
      const float probe[6] = {0.0f, 0.0f, 0.0f, 1.0f, 1.0f, 1.0f};
      float display[6];
      op->MapPixels(probe, {}, 2, display);
      for (int c = 0; c < 3; ++c) EXPECT_EQ(display[c], 0.0f) << row.Name;
      for (int c = 3; c < 6; ++c) EXPECT_TRUE(display[c] >= 0.0f && display[c] <= 1.0f);
      EXPECT_FALSE(op->Describe().empty());
    }
  }
}

}  // namespace
}  // namespace lumivane

namespace lumivane {
namespace {

// Radiance pixels mapped from their planes give the bytes their float values
// give, for every mantissa and exponent (the smallest exponents, whose
// values are not normal floats, take the planes' slower way), with every
// operator, and the planes load exactly as the floats do.
TEST(RgbePlanes, MapToTheBytesOfTheirFloatValues) {
  std::vector<std::uint8_t> r, g, b, e;
  std::mt19937 random(11);
  for (int exponent = 0; exponent < 256; ++exponent) {
    for (int m = 0; m < 256; ++m) {
      r.push_back(static_cast<std::uint8_t>(m));
      g.push_back(static_cast<std::uint8_t>(random()));
      b.push_back(static_cast<std::uint8_t>(255 - m));
      // Mostly mid-range exponents, so that most blocks take the fast way.
      e.push_back(static_cast<std::uint8_t>(m % 7 == 0 ? exponent : 120 + exponent % 20));
    }
  }
  const std::size_t count = r.size();
  const RgbePlanes planes{r.data(), g.data(), b.data(), e.data()};
  std::vector<float> rgb(3 * count);
  RgbePlanesToFloats(planes, count, rgb.data());
  for (std::size_t done = 0; done < count; done += 200) {
    const std::size_t n = std::min<std::size_t>(200, count - done);
    PixelBlock fromFloats, fromPlanes;
    fromFloats.Load(rgb.data() + 3 * done, n);
    LoadRgbeBlock(planes.From(done), n, fromPlanes);
    for (std::size_t i = 0; i < fromFloats.Lanes(); ++i) {
      ASSERT_EQ(fromFloats.R[i], fromPlanes.R[i]) << done + i;
      ASSERT_EQ(fromFloats.B[i], fromPlanes.B[i]) << done + i;
      ASSERT_EQ(fromFloats.Luminance[i], fromPlanes.Luminance[i]) << done + i;
    }
  }
  const ImageFacts facts = FactsOf(rgb, 256);
  for (const char* name : {"reinhard02", "drago03", "filmic", "durand02", "classic"}) {
    SCOPED_TRACE(name);
    const OperatorRow* row = FindOperator(name);
    auto op = row->Make({});
    if (auto gatherer = op->MakeGatherer(facts.Width, facts.Height))
      gatherer->AddRows(rgb.data(), 0, facts.Height);
    op->Prepare(facts);
    std::vector<std::uint8_t> viaFloats(3 * 256), viaPlanes(3 * 256);
    for (std::uint32_t y = 0; y < facts.Height; ++y) {
      op->MapPixelsToBytes(rgb.data() + 3 * 256 * y, PixelPlaces{y, 0, nullptr}, 256,
                           viaFloats.data());
      op->MapRgbeToBytes(planes.From(256 * y), PixelPlaces{y, 0, nullptr}, 256, viaPlanes.data());
      ASSERT_EQ(viaFloats, viaPlanes) << y;
    }
  }
}

}  // namespace
}  // namespace lumivane
