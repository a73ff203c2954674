#include "cli/inputformat.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <system_error>

#include "formats/bytesource.h"
#include "formats/exrrows.h"
#include "formats/pfmrows.h"
#include "formats/tiffheader.h"
#include "io/binaryfile.h"
#include "shell/controlids.h"

namespace lumivane {

InputFormat SniffInputFormat(std::string_view firstBytes) {
  if (firstBytes.starts_with("#?RADIANCE")) return InputFormat::Radiance;
  if (firstBytes.starts_with("II") || firstBytes.starts_with("MM")) return InputFormat::Tiff;
  if (firstBytes.size() >= 2 && (firstBytes[0] == 'P' || firstBytes[0] == 'p') &&
      (firstBytes[1] == 'F' || firstBytes[1] == 'f'))
    return InputFormat::Pfm;
  if (firstBytes.starts_with(std::string_view(reinterpret_cast<const char*>(kExrMagic), 4)))
    return InputFormat::Exr;
  return InputFormat::Unknown;
}

SniffResult SniffInputFile(const std::string& path) {
  SniffResult result;
  std::error_code error;
  const auto status = std::filesystem::status(path, error);
  if (std::filesystem::is_directory(status)) {
    result.Error = "is a directory";
    return result;
  }
  // A FIFO, device or socket is never opened: reading one could block or never end.
  if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status)) {
    result.Error = "is not a regular file";
    return result;
  }
  BinaryFile file = BinaryFile::OpenForReading(path);
  if (!file.IsOpen()) {
    result.Error = file.ErrorText();
    return result;
  }
  // A PFM's header lines, comments among them, lie in its first bytes.
  char head[256] = {};
  const std::size_t got = file.Read(head, sizeof head);
  if (file.ErrorNumber() != 0) {
    result.Error = file.ErrorText();
    return result;
  }
  result.Format = SniffInputFormat(std::string_view(head, got));
  if (result.Format == InputFormat::Pfm && NeedsGeneralPfmReader(std::string_view(head, got)))
    result.Format = InputFormat::GeneralPfm;
  // Whatever the 96-bit reader takes keeps its job; only the layouts it does
  // not take go to the library's reader. A file it refuses as damaged or too
  // large keeps its refusal.
  if (result.Format == InputFormat::Tiff) {
    FileBytes bytes(file);
    const TiffHeader header = ParseTiffHeader(
        std::span(reinterpret_cast<const std::uint8_t*>(head), std::min(got, kTiffHeadBytes)),
        bytes, path);
    if (header.OtherLayout) result.Format = InputFormat::GeneralTiff;
  }
  return result;
}

std::string_view InputFormatName(InputFormat format) {
  switch (format) {
    case InputFormat::Radiance:
      return "Radiance";
    case InputFormat::Tiff:
    case InputFormat::GeneralTiff:
      return "TIFF";
    case InputFormat::Pfm:
    case InputFormat::GeneralPfm:
      return "PFM";
    case InputFormat::Exr:
      return "OpenEXR";
    case InputFormat::Unknown:
      break;
  }
  return "unknown";
}

std::optional<int> ToneMapCommandFor(InputFormat format) {
  switch (format) {
    case InputFormat::Radiance:
      return kOpenHdrCommand;
    case InputFormat::Tiff:
      return kOpenTiffCommand;
    case InputFormat::Pfm:
      return kOpenPfmCommand;
    case InputFormat::Exr:
      return kOpenExrCommand;
    case InputFormat::GeneralTiff:
      return kOpenGeneralTiffCommand;
    case InputFormat::GeneralPfm:
      return kOpenGeneralPfmCommand;
    case InputFormat::Unknown:
      break;
  }
  return std::nullopt;
}

OutputKind OutputKindFromName(std::string_view path) {
  const std::size_t slash = path.find_last_of('/');
  const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
  const std::size_t dot = name.find_last_of('.');
  if (dot == std::string_view::npos) return OutputKind::Unknown;
  std::string extension(name.substr(dot + 1));
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (extension == "tif" || extension == "tiff") return OutputKind::Tiff96;
  if (extension == "pfm") return OutputKind::Pfm;
  return OutputKind::Unknown;
}

std::optional<int> ConvertCommandFor(InputFormat input, OutputKind output) {
  if (input == InputFormat::Radiance && output == OutputKind::Tiff96) return kHdrToTiffCommand;
  if (input == InputFormat::Radiance && output == OutputKind::Pfm) return kHdrToPfmCommand;
  if (input == InputFormat::Pfm && output == OutputKind::Tiff96) return kPfmToTiffCommand;
  if (input == InputFormat::Tiff && output == OutputKind::Pfm) return kTiffToPfmCommand;
  return std::nullopt;
}

}  // namespace lumivane
