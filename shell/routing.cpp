#include "shell/routing.h"

#include <filesystem>
#include <span>
#include <system_error>

#include "formats/pfmrows.h"
#include "formats/tiffheader.h"
#include "io/binaryfile.h"
#include "shell/controlids.h"
#include "shell/dispatch.h"
#include "steps/convertjob.h"
#include "steps/downsamplestep.h"
#include "steps/libraryreaders.h"
#include "steps/pfmreader.h"
#include "steps/primariesstep.h"
#include "steps/radiance.h"
#include "steps/rowwriters.h"
#include "steps/tiffreader.h"
#include "steps/tiffwriter.h"
#include "steps/tonemapjob.h"

namespace lumivane {

namespace {

// Whether the classic reader of the file's format takes it, from that
// reader's own tests of the first bytes.
bool ClassicReaderTakes(const FormatRow& format, BinaryFile& file, std::string_view head,
                        const std::string& path) {
  switch (format.Id) {
    case FormatId::Radiance:
      return true;
    case FormatId::Pfm:
      return !NeedsGeneralPfmReader(head);
    case FormatId::Tiff: {
      // The layouts the 96-bit reader does not take go to the library's
      // reader; a file it refuses as damaged or too large keeps its refusal.
      FileBytes bytes(file);
      const auto* first = reinterpret_cast<const std::uint8_t*>(head.data());
      return !ParseTiffHeader(std::span(first, std::min(head.size(), kTiffHeadBytes)), bytes, path)
                  .OtherLayout;
    }
    default:
      return false;
  }
}

// "<IN> Tonemapping concluded." names the input as the menu does: HDR, TIFF, PFM, EXR.
std::string ToneMapSuccess(const InputRoute& input) {
  return std::string(input.Format->ShortName) + " Tonemapping concluded.";
}

std::string ConvertSuccess(const InputRoute& input, const FormatRow& output) {
  return std::string(input.Format->ShortName) + " to " + output.ShortName +
         " conversion concluded.";
}

// The menu's command for a pair, or 0: the classic inputs tone-mapped to the
// 24-bit TIFF, and the four conversions between the classic float formats.
int MenuCommand(const InputRoute& input, const FormatRow& output, bool toneMapped) {
  if (!input.Classic) return 0;
  const FormatId in = input.Format->Id, out = output.Id;
  if (toneMapped) {
    if (out != FormatId::Tiff) return 0;
    return in == FormatId::Radiance ? kOpenHdrCommand
           : in == FormatId::Tiff   ? kOpenTiffCommand
                                    : kOpenPfmCommand;
  }
  if (in == FormatId::Radiance && out == FormatId::Tiff) return kHdrToTiffCommand;
  if (in == FormatId::Radiance && out == FormatId::Pfm) return kHdrToPfmCommand;
  if (in == FormatId::Pfm && out == FormatId::Tiff) return kPfmToTiffCommand;
  if (in == FormatId::Tiff && out == FormatId::Pfm) return kTiffToPfmCommand;
  return 0;
}

std::optional<JobChain> MenuChain(int command) {
  for (const JobChain& chain : DefaultJobChains())
    if (chain.CommandId == command) return chain;
  return std::nullopt;
}

}  // namespace

InputRoute RouteInput(const std::string& path) {
  InputRoute route;
  std::error_code error;
  const auto status = std::filesystem::status(path, error);
  if (std::filesystem::is_directory(status)) {
    route.Error = "is a directory";
    return route;
  }
  // A FIFO, device or socket is never opened: reading one could block or never end.
  if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status)) {
    route.Error = "is not a regular file";
    return route;
  }
  BinaryFile file = BinaryFile::OpenForReading(path);
  if (!file.IsOpen()) {
    route.Error = file.ErrorText();
    return route;
  }
  // A PFM's header lines, comments among them, lie in its first bytes.
  char head[256] = {};
  const std::size_t got = file.Read(head, sizeof head);
  if (file.ErrorNumber() != 0) {
    route.Error = file.ErrorText();
    return route;
  }
  const std::string_view first(head, got);
  route.Format = FormatOfBytes(first);
  if (route.Format) route.Classic = ClassicReaderTakes(*route.Format, file, first, path);
  return route;
}

std::string ReadableFormatNames() {
  std::vector<std::string> names;
  for (const FormatRow& row : FormatTable())
    if (row.Reads()) names.push_back(row.Name);
  std::string text;
  for (std::size_t i = 0; i < names.size(); ++i)
    text += (i == 0 ? "" : i + 1 == names.size() ? " or " : ", ") + names[i];
  return text;
}

std::string ReadableSignatures() {
  std::vector<std::string> texts;
  for (const FormatRow& row : FormatTable())
    if (row.Reads()) texts.push_back(row.SignatureText);
  std::string text;
  for (std::size_t i = 0; i < texts.size(); ++i)
    text += (i == 0 ? "" : i + 1 == texts.size() ? ", or " : ", ") + texts[i];
  return text;
}

int ToneMapCommand(const InputRoute& input) {
  if (!input.Format) return 0;
  switch (input.Format->Id) {
    case FormatId::Radiance:
      return kOpenHdrCommand;
    case FormatId::Tiff:
      return input.Classic ? kOpenTiffCommand : kOpenGeneralTiffCommand;
    case FormatId::Pfm:
      return input.Classic ? kOpenPfmCommand : kOpenGeneralPfmCommand;
    case FormatId::OpenExr:
      return kOpenExrCommand;
    default:
      return 0;
  }
}

JobStep ReaderStep(const InputRoute& input) {
  if (!input.Format) return {};
  switch (input.Format->Id) {
    case FormatId::Radiance:
      return ReadHdrHeader;
    case FormatId::Tiff:
      return input.Classic ? JobStep(ReadTiffHeader) : JobStep(ReadGeneralTiffHeader);
    case FormatId::Pfm:
      return input.Classic ? JobStep(ReadPfmHeader) : JobStep(ReadGeneralPfmHeader);
    case FormatId::OpenExr:
      return ReadExrHeader;
    default:
      return {};
  }
}

std::optional<JobChain> ToneMapChain(const InputRoute& input, const FormatRow& output,
                                     const SinkOptions& options) {
  if (!input.Format || !input.Format->Reads() || !output.WritesBytes()) return std::nullopt;
  const bool words = options.Depth == 16;
  if (words && !output.WritesWords()) return std::nullopt;
  if (const int command = MenuCommand(input, output, true); command && !words)
    return MenuChain(command);
  JobChain chain;
  chain.Reader = !input.Classic ? ReadInRec709(ReaderStep(input))
                 : words        ? ReadAsRows(ReaderStep(input))
                                : ReaderStep(input);
  chain.Job = ToneMapImage;
  chain.SuccessText = ToneMapSuccess(input);
  // The 24-bit TIFF is the classic header writer's for every input without
  // alpha.
  chain.Writer = RowOutputWriter(output, true, options);
  if (output.Id == FormatId::Tiff && !words)
    chain.Writer = KeepingAlphaOr(chain.Writer, WriteTiff24Header);
  chain.KeepsAlpha = output.HoldsAlpha;
  return chain;
}

std::optional<JobChain> ConvertChain(const InputRoute& input, const FormatRow& output,
                                     const SinkOptions& options) {
  if (!input.Format || !input.Format->Reads() || !output.WritesFloats()) return std::nullopt;
  JobChain chain;
  chain.Reader = ReaderStep(input);
  chain.Job = ConvertImage;
  chain.SuccessText = ConvertSuccess(input, output);
  if (const int command = MenuCommand(input, output, false)) return MenuChain(command);
  chain.Writer = RowOutputWriter(output, false, options);
  // Alpha goes beside the floats into the formats that hold it.
  chain.KeepsAlpha = output.HoldsAlpha;
  return chain;
}

}  // namespace lumivane
