#include "cli/infofacts.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <sstream>
#include <vector>

#include "cli/consolewindow.h"
#include "formats/bytesource.h"
#include "formats/classicsource.h"
#include "formats/floatimage.h"
#include "shell/dispatch.h"
#include "shell/routing.h"
#include "steps/rgbeblocks.h"
#include "steps/session.h"

namespace lumivane {

namespace {

// Rows read at once: about this many bytes of floats.
constexpr std::size_t kBlockBytes = std::size_t{4} << 20;

// The header as it stands in the file, read apart from the reader's own scan.
void DescribeHeader(BinaryFile& file, FileFacts& facts) {
  FileBytes bytes(file);
  switch (facts.Format->Id) {
    case FormatId::Radiance:
      facts.Radiance = ReadRadianceHeaderText(bytes);
      break;
    case FormatId::Tiff:
      // A reader took the file: its first two bytes say "II" or "MM".
      facts.Tiff = DescribeTiff(bytes);
      facts.BigEndian = facts.Tiff->BigEndian;
      break;
    case FormatId::Pfm:
      facts.Pfm = ReadPfmHeaderText(bytes);
      if (facts.Pfm->Failure.empty()) facts.BigEndian = !facts.Pfm->LittleEndian;
      break;
    case FormatId::OpenExr:
      facts.Exr = DescribeExr(bytes);
      // The format stores every number least significant byte first.
      facts.BigEndian = false;
      break;
    default:
      break;
  }
}

// The rows of the image behind the reader step: those a library reader left
// ready, or the classic ones from the file's first pixel on.
std::shared_ptr<ImageRowSource> OpenRows(Session& session, const InputRoute& route,
                                         std::string& why) {
  JobContext& context = session.Context;
  if (!route.Classic) return context.InputRows;
  ClassicLayout layout;
  layout.Radiance = route.Format->Id == FormatId::Radiance;
  layout.FormatName = route.Format->ShortName;
  layout.Width = context.ImageWidth;
  layout.Height = context.ImageHeight;
  layout.DataStart = context.InputFile.Position();
  layout.IntelOrder = context.SourceIntelOrder;
  layout.BottomUp = context.InputRowsBottomUp;
  if (layout.Radiance) {
    std::uint64_t offset = 0, bytes = 0;
    if (!StartRgbeDecoding(session, offset, bytes)) {
      why = context.FailureMessage;
      return nullptr;
    }
  } else {
    const auto imageBytes = FloatImageBytes(layout.Width, layout.Height);
    const auto size = context.InputFile.Size();
    if (!imageBytes) {
      why = "its width or height is 0, or it has more than 4 GiB of pixels";
      return nullptr;
    }
    if (size && *size < layout.DataStart + *imageBytes) {
      why = "it is shorter than its header promises";
      return nullptr;
    }
  }
  return OpenClassicSource(context.InputFile, layout);
}

// Each channel's values as they stand; the luminance with the values that
// tone-mapping takes as 0 (below zero or not finite) taken as 0.
void AddPixels(const float* rgb, std::size_t pixels, FileFacts& facts,
               LuminanceHistogram& luminance) {
  const auto usable = [](float value) {
    return value > 0.0f && std::isfinite(value) ? value : 0.0f;
  };
  for (std::size_t i = 0; i < pixels; ++i) {
    const float* pixel = rgb + 3 * i;
    for (int c = 0; c < 3; ++c) facts.Channels[c].Add(pixel[c]);
    const float value = LuminanceOf(usable(pixel[0]), usable(pixel[1]), usable(pixel[2]));
    if (std::isfinite(value)) luminance.AddLuminance(value);
  }
}

bool GatherPixels(ImageRowSource& rows, FileFacts& facts, std::string& why) {
  const std::size_t rowFloats = std::size_t{facts.Width} * 3;
  const auto rowsPerBlock = static_cast<std::uint32_t>(std::clamp<std::size_t>(
      kBlockBytes / (rowFloats * sizeof(float)), 1, std::max(facts.Height, 1u)));
  std::vector<float> block(rowFloats * rowsPerBlock);
  LuminanceHistogram luminance;
  for (std::uint32_t first = 0; first < facts.Height; first += rowsPerBlock) {
    const std::uint32_t count = std::min(rowsPerBlock, facts.Height - first);
    if (!rows.ReadRows(block.data(), count, why)) {
      why = "its pixel data cannot be read: " + why;
      return false;
    }
    AddPixels(block.data(), std::size_t{facts.Width} * count, facts, luminance);
  }
  facts.Range.PositivePixels = luminance.Count() - luminance.Zeros();
  if (facts.Range.PositivePixels > 0) {
    facts.Range.Low = luminance.PositivePercentile(kDynamicRangeLowPercent);
    facts.Range.High = luminance.PositivePercentile(kDynamicRangeHighPercent);
  }
  return true;
}

// A PNG or JPEG file: the header that libpng or libjpeg reads, no pixel.
std::optional<FileFacts> InspectWritten(const std::string& path, std::string& why) {
  BinaryFile file = BinaryFile::OpenForReading(path);
  char head[256] = {};
  const std::size_t got = file.IsOpen() ? file.Read(head, sizeof head) : 0;
  if (!file.IsOpen() || file.ErrorNumber() != 0) {
    why = file.ErrorText();
    return std::nullopt;
  }
  FileFacts facts;
  facts.Format = DescribedFormatOfBytes(std::string_view(head, got));
  if (!facts.Format || facts.Format->Reads()) {
    why = "not a " + ReadableFormatNames() + " file";
    return std::nullopt;
  }
  FileBytes bytes(file);
  std::string failure;
  if (facts.Format->Id == FormatId::Png) {
    facts.Png = DescribePng(bytes);
    facts.Width = facts.Png->Width;
    facts.Height = facts.Png->Height;
    failure = facts.Png->Failure;
    // Its 16-bit samples, as every number of the format, most significant byte first.
    if (facts.Png->BitDepth == 16) facts.BigEndian = true;
  } else if (facts.Format->Id == FormatId::Jpeg) {
    facts.Jpeg = DescribeJpeg(bytes);
    facts.Width = facts.Jpeg->Width;
    facts.Height = facts.Jpeg->Height;
    failure = facts.Jpeg->Failure;
  }
  // Without its image header there is nothing to tell.
  if (facts.Width == 0 && !failure.empty()) {
    why = "its " + std::string(facts.Format->Name) + " header cannot be read: " + failure;
    return std::nullopt;
  }
  return facts;
}

void ReplaceAll(std::string& text, const std::string& from, const std::string& to) {
  if (from.empty() || from == to) return;
  for (std::size_t at = text.find(from); at != std::string::npos;
       at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
}

std::optional<FileFacts> Inspect(const std::string& path, const ReadLimits& limits,
                                 std::string& why) {
  FileFacts facts;
  const InputRoute route = RouteInput(path);
  facts.Format = route.Format;
  if (route.Error.empty() && !route.Format) return InspectWritten(path, why);
  if (!route.Error.empty() || !route.Format) {
    why = !route.Error.empty() ? route.Error : "not a " + ReadableFormatNames() + " file";
    return std::nullopt;
  }
  // The reader runs as in a job, into a log kept in memory; its boxes are
  // dropped, the failure message says the same.
  std::ostringstream discarded;
  ConsoleOptions options;
  options.InputPath = path;
  options.ShowLog = false;
  ConsoleWindow window(options, discarded, discarded);
  Session session(window);
  StartSession(session);
  session.Settings.Limits = limits;
  if (!ReaderStep(route)(session)) {
    why = session.Context.FailureMessage;
    return std::nullopt;
  }
  JobContext& context = session.Context;
  facts.Width = context.ImageWidth;
  facts.Height = context.ImageHeight;
  const std::uint64_t dataStart = context.InputFile.Position();
  DescribeHeader(context.InputFile, facts);
  if (route.Classic && route.Format->Id != FormatId::Radiance)
    facts.BigEndian = !context.SourceIntelOrder;
  const std::shared_ptr<ImageRowSource> rows = OpenRows(session, route, why);
  if (!rows || !GatherPixels(*rows, facts, why)) return std::nullopt;
  facts.PixelsRead = true;
  if (route.Format->Id == FormatId::Radiance) {
    FileBytes bytes(context.InputFile);
    facts.RowsComplete = CountWholeRgbeRows(bytes, dataStart, facts.Width, facts.Height);
  }
  return facts;
}

}  // namespace

std::optional<FileFacts> InspectFile(const std::string& path, const std::string& name,
                                     const ReadLimits& limits, std::string& why) {
  std::optional<FileFacts> facts = Inspect(path, limits, why);
  ReplaceAll(why, path, name);
  return facts;
}

std::string HeaderFailure(const FileFacts& facts) {
  if (facts.Radiance) return facts.Radiance->Failure;
  if (facts.Tiff) return facts.Tiff->Failure;
  if (facts.Pfm) return facts.Pfm->Failure;
  if (facts.Exr) return facts.Exr->Failure;
  if (facts.Png) return facts.Png->Failure;
  if (facts.Jpeg) return facts.Jpeg->Failure;
  return {};
}

}  // namespace lumivane
