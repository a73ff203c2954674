#include "tests/support/rgbeimage.h"

#include <cstring>
#include <limits>
#include <memory>
#include <new>

#include "formats/rgbe.h"
#include "steps/rgbeblocks.h"
#include "steps/session.h"
#include "steps/statuslog.h"

namespace lumivane {

bool LoadRgbeImage(Session& session, RgbeImage& image, bool plainSteps) {
  JobContext& context = session.Context;
  const std::uint32_t width = context.ImageWidth;
  const std::uint32_t height = context.ImageHeight;
  std::uint64_t position = 0, wanted = 0;
  if (!StartRgbeDecoding(session, position, wanted)) return false;
  if (wanted > std::numeric_limits<std::size_t>::max()) {
    return AbortRadianceJob(session, "Not enough memory for the image.");
  }
  std::unique_ptr<std::uint8_t[]> encoded(new (std::nothrow)
                                              std::uint8_t[static_cast<std::size_t>(wanted)]);
  if (!encoded && wanted > 0) return AbortRadianceJob(session, "Not enough memory for the image.");
  const std::size_t got = context.InputFile.Read(encoded.get(), static_cast<std::size_t>(wanted));
  context.InputFile.Close();
  LogRgbeDataRead(session);

  // One block of every row: the planes of the whole image.
  std::unique_ptr<RgbeBlockDecoder> decoder;
  const auto planeSize = std::size_t{width} * height;
  try {
    decoder = std::make_unique<RgbeBlockDecoder>(encoded.get(), got, width, height, height);
    image.Width = width;
    image.Height = height;
    for (auto* plane : {&image.R, &image.G, &image.B, &image.E}) plane->assign(planeSize, 0);
  } catch (const std::bad_alloc&) {
    image = RgbeImage();
    return AbortRadianceJob(session, "Not enough memory for the image.");
  }
  decoder->UsePlainSteps(plainSteps);
  LogRgbeDecodingStart(session);
  const std::int32_t start = ClockWholeSeconds(session);
  const bool decoded = decoder->DecodeNext();
  const RgbeBlockDecoder::Block block = decoder->Last();
  if (block.Rows > 0) ReplayProgress(session, 0, block.Rows - 1);
  if (!decoded) {
    image = RgbeImage();
    return AbortRgbeRowHead(session);
  }
  std::memcpy(image.R.data(), block.R, planeSize);
  std::memcpy(image.G.data(), block.G, planeSize);
  std::memcpy(image.B.data(), block.B, planeSize);
  std::memcpy(image.E.data(), block.E, planeSize);
  LogRgbeDecodingEnd(session, decoder->RowCounts(), decoder->CompleteRows(), start);
  return true;
}

}  // namespace lumivane
