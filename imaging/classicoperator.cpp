#include "imaging/classicoperator.h"

#include <bit>

namespace lumivane {

void ClassicOperator::Prepare(const ImageFacts& facts) {
  channels_ = facts.Channels;
  pixelCount_ = facts.Width * facts.Height;
  statistics_ = ComputeImageStatistics(channels_, pixelCount_, settings_.WarmColours);
  if (width_ == OperatorWidth::Double)
    mapper_ = std::make_unique<FloatToneMapper>(statistics_, settings_.Brightness,
                                                settings_.PostGamma);
}

void ClassicOperator::MapPixels(const float* rgb, const PixelPlaces& places, std::size_t count,
                                float* display) const {
  std::vector<std::uint8_t> bytes(3 * count);
  MapPixelsToBytes(rgb, places, count, bytes.data());
  for (std::size_t i = 0; i < bytes.size(); ++i) display[i] = bytes[i] / 255.0f;
}

void ClassicOperator::MapPixelsToBytes(const float* rgb, const PixelPlaces&, std::size_t count,
                                       std::uint8_t* out) const {
  if (mapper_) {
    // The thresholds read floats as stored; these are in this machine's order.
    constexpr bool kNativeIntel = std::endian::native == std::endian::little;
    mapper_->Map(reinterpret_cast<const std::uint8_t*>(rgb), count, kNativeIntel, out);
    return;
  }
  for (std::size_t i = 0; i < 3 * count; ++i) {
    const std::size_t c = i % 3;
    out[i] = ToneMapChannel(rgb[i], statistics_.Minimum[c], statistics_.Average[c],
                            settings_.Brightness, settings_.PostGamma, width_);
  }
}

}  // namespace lumivane
