#include "cli/outputformat.h"

#include <algorithm>
#include <cctype>

#include "steps/pfmreader.h"
#include "steps/radiance.h"
#include "steps/tiffreader.h"
#include "steps/floatrows.h"
#include "steps/convertjob.h"
#include "steps/tonemapjob.h"
#include "steps/libraryreaders.h"

namespace lumivane {

namespace {

std::optional<RowOutput> RowOutputFor(OutputFormat format) {
  switch (format) {
    case OutputFormat::Tiff:
      return RowOutput::Tiff96;
    case OutputFormat::Png:
      return RowOutput::Png;
    case OutputFormat::Jpeg:
      return RowOutput::Jpeg;
    case OutputFormat::Pfm:
      return RowOutput::Pfm;
    case OutputFormat::Radiance:
      return RowOutput::Radiance;
    case OutputFormat::Exr:
      return RowOutput::Exr;
    case OutputFormat::Unknown:
      break;
  }
  return std::nullopt;
}

std::optional<ClassicInput> ClassicInputFor(InputFormat format) {
  switch (format) {
    case InputFormat::Radiance:
      return ClassicInput::Radiance;
    case InputFormat::Tiff:
      return ClassicInput::Tiff;
    case InputFormat::Pfm:
      return ClassicInput::Pfm;
    case InputFormat::Unknown:
    case InputFormat::Exr:
    case InputFormat::GeneralTiff:
    case InputFormat::GeneralPfm:
      break;
  }
  return std::nullopt;
}

// The readers of the inputs only the libraries take, and the names their
// success texts start with.
std::optional<std::pair<JobStep, const char*>> LibraryReaderFor(InputFormat format) {
  switch (format) {
    case InputFormat::Exr:
      return std::pair<JobStep, const char*>{ReadExrHeader, "EXR"};
    case InputFormat::GeneralTiff:
      return std::pair<JobStep, const char*>{ReadGeneralTiffHeader, "TIFF"};
    case InputFormat::GeneralPfm:
      return std::pair<JobStep, const char*>{ReadGeneralPfmHeader, "PFM"};
    default:
      return std::nullopt;
  }
}

JobStep ReaderFor(ClassicInput input) {
  switch (input) {
    case ClassicInput::Radiance:
      return ReadHdrHeader;
    case ClassicInput::Tiff:
      return ReadTiffHeader;
    case ClassicInput::Pfm:
      break;
  }
  return ReadPfmHeader;
}

}  // namespace

OutputFormat OutputFormatFromName(std::string_view path) {
  const std::size_t slash = path.find_last_of('/');
  const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
  const std::size_t dot = name.find_last_of('.');
  if (dot == std::string_view::npos) return OutputFormat::Unknown;
  std::string extension(name.substr(dot + 1));
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (extension == "tif" || extension == "tiff") return OutputFormat::Tiff;
  if (extension == "png") return OutputFormat::Png;
  if (extension == "jpg" || extension == "jpeg") return OutputFormat::Jpeg;
  if (extension == "pfm") return OutputFormat::Pfm;
  if (extension == "hdr") return OutputFormat::Radiance;
  if (extension == "exr") return OutputFormat::Exr;
  return OutputFormat::Unknown;
}

bool IsToneMapOutput(OutputFormat format) {
  return format == OutputFormat::Tiff || format == OutputFormat::Png ||
         format == OutputFormat::Jpeg;
}

bool IsConvertOutput(OutputFormat format) {
  return format == OutputFormat::Tiff || format == OutputFormat::Pfm ||
         format == OutputFormat::Radiance || format == OutputFormat::Exr;
}

std::optional<JobChain> ToneMapChainFor(InputFormat input, OutputFormat output,
                                        const RowOutputOptions& options) {
  const auto classic = ClassicInputFor(input);
  const auto row = RowOutputFor(output);
  if (!row || !TakesToneMappedRows(*row)) return std::nullopt;
  if (const auto library = LibraryReaderFor(input)) {
    JobChain chain;
    chain.Reader = library->first;
    chain.Writer = RowOutputWriter(*row, options);
    chain.Job = ToneMapImage;
    chain.SuccessText = std::string(library->second) + " Tonemapping concluded.";
    return chain;
  }
  if (!classic) return std::nullopt;
  JobChain chain;
  chain.Reader = ReaderFor(*classic);
  chain.Writer = RowOutputWriter(*row, options);
  chain.Job = ToneMapImage;
  chain.SuccessText = std::string(ClassicInputName(*classic)) + " Tonemapping concluded.";
  return chain;
}

std::optional<JobChain> ConvertChainFor(InputFormat input, OutputFormat output,
                                        const RowOutputOptions& options) {
  const auto classic = ClassicInputFor(input);
  const auto row = RowOutputFor(output);
  if (!row || !IsConvertOutput(output)) return std::nullopt;
  if (const auto library = LibraryReaderFor(input)) {
    JobChain chain;
    chain.Reader = library->first;
    chain.Writer = RowOutputWriter(*row, options);
    chain.Job = ConvertImage;
    chain.SuccessText =
        std::string(library->second) + " to " + RowOutputName(*row) + " conversion concluded.";
    return chain;
  }
  if (!classic) return std::nullopt;
  const OutputKind kind = output == OutputFormat::Tiff  ? OutputKind::Tiff96
                          : output == OutputFormat::Pfm ? OutputKind::Pfm
                                                        : OutputKind::Unknown;
  if (ConvertCommandFor(input, kind)) return std::nullopt;
  JobChain chain;
  chain.Reader = ReaderFor(*classic);
  chain.Writer = RowOutputWriter(*row, options);
  chain.Job = ConvertImage;
  chain.SuccessText = std::string(ClassicInputName(*classic)) + " to " + RowOutputName(*row) +
                      " conversion concluded.";
  return chain;
}

}  // namespace lumivane
