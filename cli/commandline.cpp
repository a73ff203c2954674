#include "cli/commandline.h"

#include <CLI/CLI.hpp>

#include <cctype>
#include <cmath>
#include <functional>
#include <sstream>
#include <string>

#include "cli/consolewindow.h"
#include "cli/escape.h"
#include "cli/inputformat.h"
#include "io/binaryfile.h"
#include "cli/outputformat.h"
#include "cli/outputoptions.h"
#include "shell/controlids.h"
#include "shell/dispatch.h"
#include "steps/session.h"

namespace lumivane {

namespace {

bool IsDecimalText(std::string_view text) {
  std::size_t i = 0;
  const auto digit = [&](std::size_t k) {
    return k < text.size() && std::isdigit(static_cast<unsigned char>(text[k]));
  };
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
  bool digits = false;
  while (digit(i)) digits = true, ++i;
  if (i < text.size() && text[i] == '.') {
    ++i;
    while (digit(i)) digits = true, ++i;
  }
  if (!digits) return false;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    if (!digit(i)) return false;
    while (digit(i)) ++i;
  }
  return i == text.size();
}

// A validator for a settings value in [low, high], compared in 32-bit float.
CLI::Validator SettingRange(float low, float high, const std::string& range) {
  return CLI::Validator(
      [low, high, range](std::string& text) -> std::string {
        const std::optional<float> value = ParseSettingValue(text);
        if (!value || !std::isfinite(*value) || *value < low || *value > high)
          return "'" + text + "' is not a number from " + range;
        return {};
      },
      "");
}

CLI::Validator PositiveFinite() {
  return CLI::Validator(
      [](std::string& text) -> std::string {
        const std::optional<float> value = ParseSettingValue(text);
        if (!value || !std::isfinite(*value) || !(*value > 0.0f))
          return "'" + text + "' is not a number above 0 (finite as a 32-bit float)";
        return {};
      },
      "");
}

struct JobRequest {
  int CommandId = 0;
  std::string InputPath;
  std::string OutputPath;
  float Brightness = 0.8f;
  float PostGamma = 1.2f;
  bool Warm = false;
  bool Quiet = false;
  // Set for an output or pair that no menu command writes.
  std::optional<JobChain> Chain;
};

int RunJob(const JobRequest& request, std::ostream& out, std::ostream& err, bool errIsTerminal) {
  ConsoleOptions options;
  options.InputPath = request.InputPath;
  options.OutputPath = request.OutputPath;
  options.WarmColours = request.Warm ? 1 : 0;
  options.ShowLog = !request.Quiet;
  options.ShowProgress = !request.Quiet && errIsTerminal;
  ConsoleWindow window(options, out, err);
  Session session(window);
  StartSession(session);
  session.Settings.Brightness = request.Brightness;
  session.Settings.PostGamma = request.PostGamma;
  // The checkbox reaches the settings through the dispatcher, as a click does.
  if (request.Warm) HandleCommand(session, kWarmColoursBoxId);
  if (request.Chain) {
    RunJobChain(session, *request.Chain);
  } else {
    HandleCommand(session, request.CommandId);
  }
  window.ClearProgress();
  out.flush();
  if (!out) {
    err << "lumivane-cli: cannot write the log to the standard output (the job "
        << (window.Succeeded() ? "succeeded" : "failed") << ")\n";
    return kExitJobFailed;
  }
  return window.Succeeded() ? kExitSuccess : kExitJobFailed;
}

// The input's format, or an exit status when it cannot be read or recognised.
std::optional<InputFormat> RecogniseInput(const std::string& path, std::ostream& err, int* status) {
  const SniffResult sniff = SniffInputFile(path);
  if (!sniff.Error.empty()) {
    err << "lumivane-cli: cannot read " << EscapeForTerminal(path) << ": " << sniff.Error << '\n';
    *status = kExitJobFailed;
    return std::nullopt;
  }
  if (sniff.Format == InputFormat::Unknown) {
    err << "lumivane-cli: " << EscapeForTerminal(path)
        << " is not a Radiance, TIFF, PFM or OpenEXR file (it starts with none of "
           "\"#?RADIANCE\", \"II\", \"MM\", \"PF\", \"Pf\" in any letter case, or the "
           "OpenEXR magic number)\n";
    *status = kExitJobFailed;
    return std::nullopt;
  }
  return sniff.Format;
}

}  // namespace

std::optional<float> ParseSettingValue(std::string_view text) {
  if (!IsDecimalText(text)) return std::nullopt;
  return static_cast<float>(ParseNumber(text));
}

int RunCommandLine(int argc, const char* const* argv, std::ostream& out, std::ostream& err,
                   bool errIsTerminal) {
  CLI::App app{
      "Tone-maps high-dynamic-range images (Radiance .hdr, float or integer TIFF, PFM, OpenEXR) "
      "to 24-bit "
      "TIFF files and converts between the float formats. The input's format is recognised "
      "from its first bytes.",
      "lumivane-cli"};
  app.set_version_flag("--version", std::string("lumivane-cli ") + LUMIVANE_VERSION);
  app.require_subcommand(1);
  app.footer(
      "Exit status: 0 success, 1 the job failed, 2 usage error.\n"
      "The status log and the success text go to standard output; failures to standard "
      "error.");

  std::string input;
  std::string output;
  std::string brightnessText = "0.8";
  std::string contrastText = "1.2";
  std::string postGammaText;
  bool warm = false;
  bool quiet = false;
  OutputSwitches switches;

  CLI::App* tonemap = app.add_subcommand(
      "tonemap",
      "Tone-map INPUT (Radiance, float or integer TIFF, PFM or OpenEXR) to OUTPUT, an 8-bit RGB "
      "image whose kind its extension gives: .tif or .tiff a 24-bit TIFF, .png a PNG (the TIFF's "
      "pixel bytes), .jpg or .jpeg a JPEG.");
  tonemap
      ->add_option("--brightness", brightnessText,
                   "Brightness, 0.01 to 50; higher is brighter (default 0.8)")
      ->type_name("B")
      ->check(SettingRange(0.01f, 50.0f, "0.01 to 50"));
  CLI::Option* contrast =
      tonemap
          ->add_option("--contrast", contrastText,
                       "Contrast, 0.1 to 10; the post-gamma exponent is 1 / contrast, as the "
                       "window's [Accept] sets it (default 1.2)")
          ->type_name("C")
          ->check(SettingRange(0.1f, 10.0f, "0.1 to 10"));
  CLI::Option* postGamma =
      tonemap
          ->add_option("--post-gamma", postGammaText,
                       "The post-gamma exponent itself, above 0 (1.2 is the window's state "
                       "before [Accept])")
          ->type_name("K")
          ->check(PositiveFinite());
  contrast->excludes(postGamma);
  tonemap->add_flag("--warm", warm, "Warm colours: each channel's own average");
  tonemap->add_flag("-q,--quiet", quiet, "No log, progress or success text; failures only");
  tonemap->add_option("INPUT", input, "The image to tone-map")->type_name("")->required();
  AddToneMapOutputOptions(*tonemap, switches);
  tonemap->add_option("OUTPUT", output, "The image to write (replaced if it exists)")
      ->type_name("")
      ->required();

  CLI::App* convert = app.add_subcommand(
      "convert",
      "Convert INPUT (Radiance, float TIFF or PFM, by its first bytes) to OUTPUT without "
      "tone-mapping: HDR > TIFF, HDR > PFM, PFM > TIFF and TIFF > PFM as the Convert menu "
      "does, and any other pair, a format to itself included. OUTPUT's extension gives its "
      "kind: .tif or .tiff a 96-bit float TIFF, .pfm a PFM, .hdr a Radiance file, .exr an "
      "OpenEXR file.");
  convert->add_flag("-q,--quiet", quiet, "No log, progress or success text; failures only");
  convert->add_option("INPUT", input, "The Radiance, float TIFF or PFM image")
      ->type_name("")
      ->required();
  AddConvertOutputOptions(*convert, switches);
  convert->add_option("OUTPUT", output, "The file to write: .tif, .tiff, .pfm, .hdr or .exr")
      ->type_name("")
      ->required();

  JobRequest request;
  try {
    app.parse(argc, argv);
    request.InputPath = AbsolutePath(input);
    request.OutputPath = AbsolutePath(output);
    request.Quiet = quiet;
    int status = kExitJobFailed;
    if (tonemap->parsed()) {
      request.Brightness = *ParseSettingValue(brightnessText);
      request.PostGamma = postGamma->count() > 0
                              ? *ParseSettingValue(postGammaText)
                              : PostGammaFromContrast(*ParseSettingValue(contrastText));
      request.Warm = warm;
      const OutputFormat kind = ToneMapOutputFormat(output, request.OutputPath);
      const RowOutputOptions options = CheckOutputSwitches(*tonemap, switches, kind);
      const std::optional<InputFormat> format = RecogniseInput(request.InputPath, err, &status);
      if (!format) return status;
      request.CommandId = *ToneMapCommandFor(*format);
      request.Chain = ToneMapChainFor(*format, kind, options);
    } else {
      const OutputFormat kind = ConvertOutputFormat(output);
      const RowOutputOptions options = CheckOutputSwitches(*convert, switches, kind);
      const std::optional<InputFormat> format = RecogniseInput(request.InputPath, err, &status);
      if (!format) return status;
      const OutputKind classic = OutputKindFromName(output);
      request.CommandId = ConvertCommandFor(*format, classic).value_or(0);
      request.Chain = ConvertChainFor(*format, kind, options);
    }
  } catch (const CLI::ParseError& error) {
    // Usage messages quote the arguments, file names among them.
    std::ostringstream message;
    const int code = app.exit(error, out, message);
    std::istringstream lines(message.str());
    for (std::string line; std::getline(lines, line);) err << EscapeForTerminal(line) << '\n';
    return code == static_cast<int>(CLI::ExitCodes::Success) ? kExitSuccess : kExitUsage;
  }
  return RunJob(request, out, err, errIsTerminal);
}

}  // namespace lumivane
