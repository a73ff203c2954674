#include "formats/formattable.h"

#include <algorithm>
#include <cctype>

#include "formats/exrrows.h"
#include "formats/floatsinks.h"
#include "formats/jpeginfo.h"
#include "formats/pfmrows.h"
#include "formats/pnginfo.h"
#include "formats/pngwriter.h"
#include "formats/rgbewriter.h"
#include "formats/tiffrows.h"
#include "formats/tiffwordwriter.h"

namespace lumivane {

namespace {

bool RadianceSignature(std::string_view head) {
  return head.starts_with("#?RADIANCE");
}
bool TiffSignature(std::string_view head) {
  return head.starts_with("II") || head.starts_with("MM");
}
// "PF" in any letter case, as the classic reader takes it.
bool PfmSignature(std::string_view head) {
  return head.size() >= 2 && (head[0] == 'P' || head[0] == 'p') &&
         (head[1] == 'F' || head[1] == 'f');
}
bool ExrSignature(std::string_view head) {
  return head.starts_with(std::string_view(reinterpret_cast<const char*>(kExrMagic), 4));
}

std::unique_ptr<ImageRowSource> PfmRows(std::unique_ptr<ByteSource> bytes, unsigned,
                                        const ReadLimits& limits, std::string& error) {
  return OpenPfmRows(std::move(bytes), limits, error);
}

std::unique_ptr<FloatRowSink> RadianceFloats(BinaryFile& file, std::uint32_t width,
                                             std::uint32_t height, const SinkOptions& options,
                                             std::string& error) {
  return OpenRadianceSink(file, width, height, options.Metadata.Primaries, error);
}
// Alpha makes a fourth sample, which the 96-bit TIFF has no room for.
std::unique_ptr<FloatRowSink> TiffFloats(BinaryFile& file, std::uint32_t width,
                                         std::uint32_t height, const SinkOptions& options,
                                         std::string& error) {
  if (options.Alpha) return OpenTiffFloatAlphaSink(file, width, height, options.Metadata, error);
  return OpenTiff96Sink(file, width, height, error);
}
std::unique_ptr<FloatRowSink> PfmFloats(BinaryFile& file, std::uint32_t width, std::uint32_t height,
                                        const SinkOptions&, std::string& error) {
  return OpenPfmSink(file, width, height, error);
}
std::unique_ptr<FloatRowSink> ExrFloats(BinaryFile& file, std::uint32_t width, std::uint32_t height,
                                        const SinkOptions& options, std::string& error) {
  return OpenExrSink(file, width, height, options.Exr, options.Metadata, options.Alpha, error);
}
std::unique_ptr<ByteRowSink> PngBytes(BinaryFile& file, std::uint32_t width, std::uint32_t height,
                                      const SinkOptions& options, std::string& error) {
  return OpenPngSink(file, width, height, {options.Software, options.Description}, options.Alpha,
                     error);
}
std::unique_ptr<WordRowSink> PngWords(BinaryFile& file, std::uint32_t width, std::uint32_t height,
                                      const SinkOptions& options, std::string& error) {
  return OpenPng16Sink(file, width, height, {options.Software, options.Description}, options.Alpha,
                       error);
}
std::unique_ptr<ByteRowSink> JpegBytes(BinaryFile& file, std::uint32_t width, std::uint32_t height,
                                       const SinkOptions& options, std::string& error) {
  return OpenJpegSink(file, width, height, options.JpegQuality,
                      {options.Software, options.Description}, error);
}
std::unique_ptr<WordRowSink> TiffWords(BinaryFile& file, std::uint32_t width, std::uint32_t height,
                                       const SinkOptions& options, std::string& error) {
  return OpenTiff48Sink(file, width, height, {options.Software, options.Description}, options.Alpha,
                        error);
}
// The 8-bit TIFF through libtiff is for alpha: without it, the classic
// 24-bit writer's.
std::unique_ptr<ByteRowSink> TiffBytes(BinaryFile& file, std::uint32_t width, std::uint32_t height,
                                       const SinkOptions& options, std::string& error) {
  return OpenTiffLevelSink(file, width, height, {options.Software, options.Description},
                           options.Alpha, error);
}

// One row per format, in the order the table lists them.
FormatRow RadianceRow() {
  return {.Id = FormatId::Radiance,
          .Name = "Radiance",
          .ShortName = "HDR",
          .Extensions = {"hdr"},
          .Signature = RadianceSignature,
          .SignatureText = "\"#?RADIANCE\"",
          .DescribedSignature = nullptr,
          .HoldsNegatives = false,
          .HoldsAlpha = false,
          .Depths = "RGBE (8-bit mantissas, a shared exponent)",
          .OpenRows = nullptr,
          .FloatSink = RadianceFloats,
          .ByteSink = nullptr,
          .WordSink = nullptr};
}

FormatRow TiffRow() {
  return {.Id = FormatId::Tiff,
          .Name = "TIFF",
          .ShortName = "TIFF",
          .Extensions = {"tif", "tiff"},
          .Signature = TiffSignature,
          .SignatureText = "\"II\", \"MM\"",
          .DescribedSignature = nullptr,
          .HoldsNegatives = true,
          .HoldsAlpha = true,
          .Depths =
              "reads 8-, 16- and 32-bit integer and float; writes 8- and 16-bit and 32-bit "
              "float",
          .OpenRows = OpenTiffRows,
          .FloatSink = TiffFloats,
          .ByteSink = TiffBytes,
          .WordSink = TiffWords};
}

FormatRow PfmRow() {
  return {.Id = FormatId::Pfm,
          .Name = "PFM",
          .ShortName = "PFM",
          .Extensions = {"pfm"},
          .Signature = PfmSignature,
          .SignatureText = "\"PF\", \"Pf\" in any letter case",
          .DescribedSignature = nullptr,
          .HoldsNegatives = true,
          .HoldsAlpha = false,
          .Depths = "32-bit float",
          .OpenRows = PfmRows,
          .FloatSink = PfmFloats,
          .ByteSink = nullptr,
          .WordSink = nullptr};
}

FormatRow OpenExrRow() {
  return {.Id = FormatId::OpenExr,
          .Name = "OpenEXR",
          .ShortName = "EXR",
          .Extensions = {"exr"},
          .Signature = ExrSignature,
          .SignatureText = "the OpenEXR magic number",
          .DescribedSignature = nullptr,
          .HoldsNegatives = true,
          .HoldsAlpha = true,
          .Depths = "16-bit half and 32-bit float",
          .OpenRows = OpenExrRows,
          .FloatSink = ExrFloats,
          .ByteSink = nullptr,
          .WordSink = nullptr};
}

FormatRow PngRow() {
  return {.Id = FormatId::Png,
          .Name = "PNG",
          .ShortName = "PNG",
          .Extensions = {"png"},
          .Signature = nullptr,
          .SignatureText = "",
          .DescribedSignature = IsPngSignature,
          .HoldsNegatives = false,
          .HoldsAlpha = true,
          .Depths = "8- and 16-bit",
          .OpenRows = nullptr,
          .FloatSink = nullptr,
          .ByteSink = PngBytes,
          .WordSink = PngWords};
}

FormatRow JpegRow() {
  return {.Id = FormatId::Jpeg,
          .Name = "JPEG",
          .ShortName = "JPEG",
          .Extensions = {"jpg", "jpeg"},
          .Signature = nullptr,
          .SignatureText = "",
          .DescribedSignature = IsJpegSignature,
          .HoldsNegatives = false,
          .HoldsAlpha = false,
          .Depths = "8-bit",
          .OpenRows = nullptr,
          .FloatSink = nullptr,
          .ByteSink = JpegBytes,
          .WordSink = nullptr};
}

}  // namespace

const std::vector<FormatRow>& FormatTable() {
  static const std::vector<FormatRow> table = {RadianceRow(), TiffRow(), PfmRow(),
                                               OpenExrRow(),  PngRow(),  JpegRow()};
  return table;
}

const FormatRow& FormatOf(FormatId id) {
  for (const FormatRow& row : FormatTable())
    if (row.Id == id) return row;
  return FormatTable().front();
}

const FormatRow* FormatOfName(std::string_view path) {
  const std::size_t slash = path.find_last_of('/');
  const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
  const std::size_t dot = name.find_last_of('.');
  if (dot == std::string_view::npos) return nullptr;
  std::string extension(name.substr(dot + 1));
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  for (const FormatRow& row : FormatTable())
    if (std::find(row.Extensions.begin(), row.Extensions.end(), extension) != row.Extensions.end())
      return &row;
  return nullptr;
}

const FormatRow* FormatOfBytes(std::string_view firstBytes) {
  for (const FormatRow& row : FormatTable())
    if (row.Signature && row.Signature(firstBytes)) return &row;
  return nullptr;
}

const FormatRow* DescribedFormatOfBytes(std::string_view firstBytes) {
  if (const FormatRow* read = FormatOfBytes(firstBytes)) return read;
  for (const FormatRow& row : FormatTable())
    if (row.DescribedSignature && row.DescribedSignature(firstBytes)) return &row;
  return nullptr;
}

std::string ExtensionList(bool (*wanted)(const FormatRow&)) {
  std::string list;
  for (const FormatRow& row : FormatTable()) {
    if (!wanted(row)) continue;
    for (const std::string& extension : row.Extensions)
      list += (list.empty() ? "." : ", .") + extension;
  }
  return list;
}

}  // namespace lumivane
