// The classic operator behind the operator interface: each channel value
// through ToneMapChannel (imaging/tonemap) with the image's statistics. Its
// schedules (tables over every RGBE pair, thresholds over float bits) are
// chosen by the tone-map job for the sources that allow them.
#pragma once

#include <memory>

#include "imaging/floattonemapper.h"
#include "imaging/statistics.h"
#include "imaging/tonemap.h"
#include "imaging/tonemapoperator.h"

namespace lumivane {

struct ClassicSettings {
  float Brightness = 0.8f;
  float PostGamma = 1.2f;
  bool WarmColours = false;
};

class ClassicOperator final : public ToneOperator {
 public:
  // `width`: the intermediates of a Radiance input are 32-bit, of the float inputs 64-bit.
  ClassicOperator(const ClassicSettings& settings, OperatorWidth width)
      : settings_(settings), width_(width) {}

  bool NeedsLuminance() const override { return false; }
  const ClassicOperator* AsClassic() const override { return this; }

  void Prepare(const ImageFacts& facts) override;
  void MapPixels(const float* rgb, const PixelPlaces& places, std::size_t count,
                 float* display) const override;
  void MapPixelsToBytes(const float* rgb, const PixelPlaces& places, std::size_t count,
                        std::uint8_t* out) const override;

  const ClassicSettings& Settings() const { return settings_; }
  OperatorWidth Width() const { return width_; }
  // After Prepare.
  const ImageStatistics& Statistics() const { return statistics_; }
  const ChannelAccumulators& Channels() const { return channels_; }
  std::uint32_t PixelCount() const { return pixelCount_; }
  // After Prepare with 64-bit intermediates: the thresholds over float bits.
  const FloatToneMapper& Mapper() const { return *mapper_; }

 private:
  ClassicSettings settings_;
  OperatorWidth width_;
  ChannelAccumulators channels_;
  std::uint32_t pixelCount_ = 0;
  ImageStatistics statistics_;
  std::unique_ptr<FloatToneMapper> mapper_;
};

}  // namespace lumivane
