#include "cli/commandline.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <functional>
#include <new>
#include <sstream>
#include <string>
#include <thread>

#include "cli/batch.h"
#include "cli/consolewindow.h"
#include "cli/escape.h"
#include "cli/info.h"
#include "cli/inputformat.h"
#include "cli/limitoptions.h"
#include "cli/outputformat.h"
#include "cli/operatoroptions.h"
#include "cli/outputoptions.h"
#include "cli/streams.h"
#include "io/binaryfile.h"
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

// A settings value that [Accept] takes as it is: out of its range, where the
// window would put the default back, the command line refuses it instead.
CLI::Validator SettingRange(const SettingRule& rule) {
  return CLI::Validator(
      [&rule](std::string& text) -> std::string {
        if (!ParseSettingValue(text) || !SettingFromText(text, rule))
          return "'" + text + "' is not a number from " + rule.RangeText;
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
  // What messages call them when not their paths ("standard input").
  std::string InputName;
  std::string OutputName;
  // Tone-mapping: the boxes' texts go through [Accept]; --post-gamma then sets
  // the exponent itself.
  bool AcceptSettings = false;
  std::string BrightnessText = kBrightnessRule.DefaultText;
  std::string ContrastText = kContrastRule.DefaultText;
  std::optional<float> PostGamma;
  bool Warm = false;
  bool Quiet = false;
  // The outputs and conversion pairs beyond the menu's commands.
  std::optional<JobChain> Chain;
  ReadLimits Limits;
  ChosenOperator Operator;
};

// The abort box says "Cannot open " and the path; this adds the system's reason.
void ExplainCannotOpen(const JobContext& context, const ConsoleWindow& window, std::ostream& err) {
  const auto explain = [&](const std::string& path, const std::string& why) {
    err << "lumivane-cli: cannot open " << EscapeForTerminal(window.Named(path)) << ": " << why
        << '\n';
  };
  if (!context.OutputFileName.empty() &&
      context.FailureMessage == "Cannot open " + context.OutputFileName) {
    explain(context.OutputFileName, context.OutputFile.ErrorNumber() != 0
                                        ? context.OutputFile.ErrorText()
                                        : "it is the input file, under this or another name");
  } else if (!context.InputFileName.empty() &&
             context.FailureMessage == "Cannot open " + context.InputFileName &&
             context.InputFile.ErrorNumber() != 0) {
    explain(context.InputFileName, context.InputFile.ErrorText());
  }
}

int RunJob(const JobRequest& request, std::ostream& out, std::ostream& err, bool errIsTerminal) {
  ConsoleOptions options;
  options.InputPath = request.InputPath;
  options.OutputPath = request.OutputPath;
  options.InputName = request.InputName;
  options.OutputName = request.OutputName;
  options.WarmColours = request.Warm ? 1 : 0;
  options.BrightnessText = request.BrightnessText;
  options.ContrastText = request.ContrastText;
  options.ShowLog = !request.Quiet;
  options.ShowProgress = !request.Quiet && errIsTerminal;
  ConsoleWindow window(options, out, err);
  Session session(window);
  StartSession(session);
  session.Settings.Limits = request.Limits;
  session.Settings.Operator = request.Operator.Name;
  session.Settings.OperatorParameters = request.Operator.Values;
  if (request.AcceptSettings) HandleCommand(session, kAcceptButtonId);
  if (request.PostGamma) session.Settings.PostGamma = *request.PostGamma;
  // The checkbox reaches the settings through the dispatcher, as a click does.
  if (request.Warm) HandleCommand(session, kWarmColoursBoxId);
  if (request.Chain) {
    RunJobChain(session, *request.Chain);
  } else {
    HandleCommand(session, request.CommandId);
  }
  window.ClearProgress();
  if (!window.Succeeded()) ExplainCannotOpen(session.Context, window, err);
  out.flush();
  if (!out) {
    err << "lumivane-cli: cannot write the log to the standard output (the job "
        << (window.Succeeded() ? "succeeded" : "failed") << ")\n";
    return kExitJobFailed;
  }
  return window.Succeeded() ? kExitSuccess : kExitJobFailed;
}

// The input's format, or an exit status when it cannot be read or recognised.
std::optional<InputFormat> RecogniseInput(const std::string& path, const std::string& name,
                                          std::ostream& err, int* status) {
  const SniffResult sniff = SniffInputFile(path);
  if (!sniff.Error.empty()) {
    err << "lumivane-cli: cannot read " << EscapeForTerminal(name) << ": " << sniff.Error << '\n';
    *status = kExitJobFailed;
    return std::nullopt;
  }
  if (sniff.Format == InputFormat::Unknown) {
    err << "lumivane-cli: " << EscapeForTerminal(name)
        << " is not a Radiance, TIFF, PFM or OpenEXR file (it starts with none of "
           "\"#?RADIANCE\", \"II\", \"MM\", \"PF\", \"Pf\" in any letter case, or the "
           "OpenEXR magic number)\n";
    *status = kExitJobFailed;
    return std::nullopt;
  }
  return sniff.Format;
}

// The job for the input at `input`: its menu command, or the chain for the
// outputs and pairs beyond the menu. False, after a message, when the input
// cannot be read or recognised.
bool ChooseJob(bool toneMapping, OutputFormat output, OutputKind kind,
               const RowOutputOptions& options, const std::string& input, JobRequest& request,
               std::ostream& err, int* status) {
  const std::optional<InputFormat> format =
      RecogniseInput(input, request.InputName.empty() ? input : request.InputName, err, status);
  if (!format) return false;
  if (toneMapping) {
    request.CommandId = ToneMapCommandFor(*format).value_or(0);
    request.Chain = ToneMapChainFor(*format, output, options);
  } else {
    request.CommandId = ConvertCommandFor(*format, kind).value_or(0);
    request.Chain = ConvertChainFor(*format, output, options);
  }
  if (request.CommandId == 0 && !request.Chain)
    throw CLI::ValidationError("OUTPUT", "no job writes this output from a " +
                                             std::string(InputFormatName(*format)) + " input");
  return true;
}

// Runs `job` for `input`; an exception that reaches here (memory, say, in
// recognising the input) fails this input alone, with its reason.
template <typename Job>
int GuardJob(const std::string& input, std::ostream& err, Job job) {
  try {
    return job();
  } catch (const CLI::ParseError&) {
    throw;
  } catch (const std::bad_alloc&) {
    err << "lumivane-cli: " << EscapeForTerminal(input) << ": not enough memory\n";
  } catch (const std::exception& error) {
    err << "lumivane-cli: " << EscapeForTerminal(input) << ": " << EscapeForTerminal(error.what())
        << '\n';
  }
  return kExitJobFailed;
}

// Standard input can be read only once, and a second spool would replace the first.
void CheckStandardInputOnce(const std::vector<std::string>& inputs) {
  const auto count = std::count_if(inputs.begin(), inputs.end(), NamesStandardInput);
  if (count > 1)
    throw CLI::ValidationError("FILES", "standard input (-) is given " + std::to_string(count) +
                                            " times as an input; it can be read only once");
}

}  // namespace

std::optional<float> ParseSettingValue(std::string_view text) {
  if (!IsDecimalText(text)) return std::nullopt;
  return SettingNumber(text);
}

int RunCommandLine(int argc, const char* const* argv, std::ostream& out, std::ostream& err,
                   bool errIsTerminal) {
  std::istringstream noInput;
  const ConsoleStreams streams{noInput, out, err, false, false, errIsTerminal};
  return RunCommandLine(argc, argv, streams);
}

int RunCommandLine(int argc, const char* const* argv, const ConsoleStreams& streams) {
  std::ostream& out = streams.Out;
  std::ostream& err = streams.Err;
  CLI::App app{
      "Tone-maps high-dynamic-range images (Radiance .hdr, 96-bit float TIFF, PFM) to 24-bit "
      "TIFF files and converts between the float formats. The input's format is recognised "
      "from its first bytes.",
      "lumivane-cli"};
  app.set_version_flag("-V,--version", std::string("lumivane-cli ") + LUMIVANE_VERSION);
  app.require_subcommand(1);
  app.footer(
      "Exit status: 0 success, 1 the job failed, 2 usage error.\n"
      "The status log and the success text go to standard output (to standard error when "
      "OUTPUT is -); failures to standard error.\n"
      "LUMIVANE_MAX_PIXELS and LUMIVANE_MAX_MEMORY set the defaults of --max-pixels and "
      "--max-memory.");

  std::vector<std::string> files;
  std::string outputDir;
  std::string format;
  std::string toExtension;
  std::string brightnessText = kBrightnessRule.DefaultText;
  std::string contrastText = kContrastRule.DefaultText;
  std::string postGammaText;
  bool warm = false;
  bool quiet = false;
  bool json = false;
  OutputSwitches switches;
  LimitSwitches limitSwitches;
  std::string helpVerb;
  const std::string filesHelp =
      "INPUT OUTPUT, or with -o DIR any number of INPUTs; - is standard input as INPUT and "
      "standard output as OUTPUT (the log then goes to standard error)";
  const auto addCommon = [&](CLI::App* verb) {
    verb->add_option("-o,--output-dir", outputDir, "Write one output per INPUT into DIR")
        ->type_name("DIR");
    verb->add_option("--format", format,
                     "The format of an OUTPUT of -, which has no extension to tell it")
        ->type_name("tif|png|jpg|pfm|hdr|exr")
        ->check(CLI::IsMember({"tif", "png", "jpg", "pfm", "hdr", "exr"}).description(""));
    AddLimitOptions(*verb, limitSwitches);
  };

  CLI::App* tonemap = app.add_subcommand(
      "tonemap",
      "Tone-map INPUT (Radiance, float or integer TIFF, PFM or OpenEXR) to OUTPUT, an 8-bit RGB "
      "image whose kind its extension gives: .tif or .tiff a 24-bit TIFF, .png a PNG (the TIFF's "
      "pixel bytes), .jpg or .jpeg a JPEG.");
  tonemap
      ->add_option("--brightness", brightnessText,
                   std::string("Brightness, ") + kBrightnessRule.RangeText +
                       "; higher is brighter (default " + kBrightnessRule.DefaultText + ")")
      ->type_name("B")
      ->check(SettingRange(kBrightnessRule));
  CLI::Option* contrast =
      tonemap
          ->add_option("--contrast", contrastText,
                       std::string("Contrast, ") + kContrastRule.RangeText +
                           "; the post-gamma exponent is 1 / contrast, as the window's "
                           "[Accept] sets it (default " +
                           kContrastRule.DefaultText + ")")
          ->type_name("C")
          ->check(SettingRange(kContrastRule));
  CLI::Option* postGamma =
      tonemap
          ->add_option("--post-gamma", postGammaText,
                       "The post-gamma exponent itself, above 0 (1.2 is the window's state "
                       "before [Accept])")
          ->type_name("K")
          ->check(PositiveFinite());
  contrast->excludes(postGamma);
  CLI::Option* warmFlag =
      tonemap->add_flag("--warm", warm, "Warm colours: each channel's own average");
  OperatorSwitches operatorSwitches;
  AddOperatorOptions(*tonemap, operatorSwitches);
  tonemap->add_flag("-q,--quiet", quiet, "No log, progress or success text; failures only");
  addCommon(tonemap);
  AddToneMapOutputOptions(*tonemap, switches);
  tonemap->add_option("FILES", files, filesHelp)->type_name("")->required();

  CLI::App* convert = app.add_subcommand(
      "convert",
      "Convert INPUT (Radiance, float TIFF or PFM, by its first bytes) to OUTPUT without "
      "tone-mapping: HDR > TIFF, HDR > PFM, PFM > TIFF and TIFF > PFM as the Convert menu "
      "does, and any other pair, a format to itself included. OUTPUT's extension gives its "
      "kind: .tif or .tiff a 96-bit float TIFF, .pfm a PFM, .hdr a Radiance file, .exr an "
      "OpenEXR file.");
  convert->add_flag("-q,--quiet", quiet, "No log, progress or success text; failures only");
  addCommon(convert);
  AddConvertOutputOptions(*convert, switches);
  convert
      ->add_option("--to", toExtension,
                   "With -o DIR: the outputs' extension (tif, pfm, hdr or exr)")
      ->type_name("EXT");
  convert->add_option("FILES", files, filesHelp)->type_name("")->required();

  CLI::App* info = app.add_subcommand(
      "info",
      "Show each FILE's format, size and byte order, its header as it stands in the file "
      "(Radiance header lines, TIFF tags, OpenEXR attributes), each channel's minimum, maximum "
      "and mean of its finite values with the counts of values below zero, NaN and infinite, "
      "the dynamic range of the luminance, and whether a Radiance file's pixel data end early; "
      "writes nothing.");
  info->add_flag("--json", json,
                 "JSON Lines on standard output: one object per file, each on a line of its "
                 "own, and nothing else (a failing file gives {\"file\", \"error\"})");
  info->add_flag("-q,--quiet", quiet, "No notes on standard error; failures only");
  AddLimitOptions(*info, limitSwitches);
  info->add_option("FILES", files, "The images to look at; - is standard input")
      ->type_name("")
      ->required();

  CLI::App* operators = app.add_subcommand(
      "operators", "List the tone-mapping operators with their papers, parameters, ranges and "
                   "defaults; writes nothing.");
  operators->add_flag("--json", json, "One JSON document (an array of operators)");

  CLI::App* help = app.add_subcommand("help", "Show the help of lumivane-cli or of one VERB.");
  help->add_option("VERB", helpVerb, "tonemap, convert, info, operators or help")->type_name("");

  const auto findVerb = [&app](const std::string& name) -> CLI::App* {
    const std::vector<CLI::App*> found =
        app.get_subcommands([&name](CLI::App* verb) { return verb->get_name() == name; });
    return found.empty() ? nullptr : found.front();
  };
  if (argc < 2) {
    err << "lumivane-cli: a verb is required: tonemap, convert, info, operators or help\n"
           "Run with --help for more information.\n";
    return kExitUsage;
  }
  // An unknown first word is a verb misspelt, not a stray argument.
  if (argv[1][0] != '-' && !findVerb(argv[1])) {
    err << "lumivane-cli: unknown verb '" << EscapeForTerminal(argv[1])
        << "'; the verbs are tonemap, convert, info, operators and help\n"
           "Run with --help for more information.\n";
    return kExitUsage;
  }

  JobRequest request;
  bool toneMapping = false;
  std::optional<TemporaryFile> inputSpool;
  std::optional<TemporaryFile> outputSpool;
  // Standard input in a file of its own when it cannot be read by name.
  const auto resolveInput = [&](const std::string& name, std::string* path) {
    *path = name;
    if (!NamesStandardInput(name)) return true;
    if (streams.InIsRegularFile) {
      *path = "/dev/stdin";
      return true;
    }
    if (streams.InIsFolder) {
      err << "lumivane-cli: cannot read " << kStandardInputName << ": " << std::strerror(EISDIR)
          << '\n';
      return false;
    }
    inputSpool.emplace("");
    if (inputSpool->Path().empty()) {
      err << "lumivane-cli: " << inputSpool->Error() << '\n';
      return false;
    }
    if (!inputSpool->Fill(streams.In)) {
      err << "lumivane-cli: cannot keep standard input in a temporary file: " << inputSpool->Error()
          << '\n';
      return false;
    }
    *path = inputSpool->Path();
    return true;
  };
  bool toStandardOutput = false;
  OutputKind kind = OutputKind::Unknown;
  OutputFormat outputFormat = OutputFormat::Unknown;
  RowOutputOptions outputOptions;
  std::vector<BatchItem> batch;
  try {
    app.parse(argc, argv);
    toneMapping = tonemap->parsed();
    if (help->parsed()) {
      CLI::App* verb = helpVerb.empty() ? &app : findVerb(helpVerb);
      if (!verb || verb == help)
        throw CLI::ValidationError("VERB",
                                   "'" + helpVerb +
                                       "' is not one of tonemap, convert, info, operators");
      // As --help prints it; App::help would show the parsed "help" verb's own.
      out << app.get_formatter()->make_help(
          verb, verb == &app ? "lumivane-cli" : "lumivane-cli " + helpVerb,
          CLI::AppFormatMode::Normal);
      return kExitSuccess;
    }
    if (operators->parsed()) {
      PrintOperators(out, json);
      return kExitSuccess;
    }
    request.Limits = ResolveLimits(limitSwitches);
    const bool many = !outputDir.empty();
    // The inputs: every file but OUTPUT, which info and -o DIR have none of.
    const std::vector<std::string> inputs(
        files.begin(), files.end() - (info->parsed() || many || files.size() < 2 ? 0 : 1));
    CheckStandardInputOnce(inputs);
    if (info->parsed()) {
      std::vector<InfoInput> looks;
      for (const std::string& file : files) {
        InfoInput& look = looks.emplace_back();
        look.Given = file;
        look.Name = NamesStandardInput(file) ? kStandardInputName : file;
        if (!resolveInput(file, &look.Path)) return kExitJobFailed;
      }
      return RunInfo(looks, {json, quiet, request.Limits}, out, err);
    }
    if (!many && files.size() != 2)
      throw CLI::ValidationError("FILES", "give INPUT and OUTPUT, or -o DIR and the INPUTs");
    toStandardOutput = !many && NamesStandardOutput(files[1]);
    // A device named without an extension gets the tone-mapping's 24-bit TIFF,
    // as any other device does; "-" always names its format.
    if (toStandardOutput && format.empty() && toneMapping && files[1] != "-") format = "tif";
    if (toStandardOutput && format.empty())
      throw CLI::ValidationError("--format", "an OUTPUT of - (standard output) needs --format");
    if (!toStandardOutput && !format.empty())
      throw CLI::ValidationError("--format",
                                 "only an OUTPUT of - takes --format; a file's "
                                 "extension tells its format");
    if (!toExtension.empty() && !many)
      throw CLI::ValidationError("--to", "--to is for -o DIR; OUTPUT's extension tells its format");
    // Standard output and --to behave as an output with that extension.
    const std::string extension = toStandardOutput ? format
                                  : many           ? (toneMapping ? "tif" : toExtension)
                                                   : "";
    if (!toneMapping && many && toExtension.empty())
      throw CLI::ValidationError("--to", "convert with -o DIR needs --to tif, pfm, hdr or exr");
    // The name whose extension tells the output's format.
    const std::string outputName = extension.empty() ? files[1] : "output." + extension;
    outputFormat = toneMapping
                       ? ToneMapOutputFormat(
                             outputName, extension.empty() ? AbsolutePath(files[1]) : outputName)
                       : ConvertOutputFormat(outputName);
    outputOptions = CheckOutputSwitches(toneMapping ? *tonemap : *convert, switches, outputFormat);
    kind = OutputKindFromName(outputName);
    if (many) batch = PlanBatch(files, outputDir, extension);
    request.Quiet = quiet;
    if (toneMapping) {
      request.AcceptSettings = true;
      request.BrightnessText = brightnessText;
      request.ContrastText = contrastText;
      if (postGamma->count() > 0) request.PostGamma = ParseSettingValue(postGammaText);
      request.Warm = warm;
      const bool classicFlags = tonemap->get_option("--brightness")->count() > 0 ||
                                contrast->count() > 0 || postGamma->count() > 0 ||
                                warmFlag->count() > 0;
      request.Operator = CheckOperatorSwitches(operatorSwitches, classicFlags);
    }
    if (!many) {
      if (toStandardOutput && streams.OutIsTerminal) {
        err << "lumivane-cli: standard output is a terminal: no image is written there "
               "(redirect it to a file or a pipe)\n";
        return kExitUsage;
      }
      if (!resolveInput(files[0], &request.InputPath)) return kExitJobFailed;
      request.InputPath = AbsolutePath(request.InputPath);
      if (NamesStandardInput(files[0])) request.InputName = kStandardInputName;
      if (toStandardOutput) request.OutputName = kStandardOutputName;
      if (toStandardOutput) {
        outputSpool.emplace("." + extension);
        if (outputSpool->Path().empty()) {
          err << "lumivane-cli: " << outputSpool->Error() << '\n';
          return kExitJobFailed;
        }
      }
      request.OutputPath = toStandardOutput ? outputSpool->Path() : AbsolutePath(files[1]);
      const int chosen = GuardJob(files[0], err, [&] {
        int status = kExitJobFailed;
        return ChooseJob(toneMapping, outputFormat, kind, outputOptions, request.InputPath, request,
                         err, &status)
                   ? kExitSuccess
                   : status;
      });
      if (chosen != kExitSuccess) return chosen;
    }
  } catch (const CLI::ParseError& error) {
    // Usage messages quote the arguments, file names among them.
    std::ostringstream message;
    const int code = app.exit(error, out, message);
    std::istringstream lines(message.str());
    for (std::string line; std::getline(lines, line);) err << EscapeForTerminal(line) << '\n';
    return code == static_cast<int>(CLI::ExitCodes::Success) ? kExitSuccess : kExitUsage;
  }
  if (!batch.empty()) {
    const BatchJob one = [&](const BatchItem& item, std::ostream& log, std::ostream& failures) {
      return GuardJob(item.Input, failures, [&] {
        JobRequest job = request;
        job.InputPath = item.Input;
        job.OutputPath = item.Output;
        int status = kExitJobFailed;
        try {
          if (!ChooseJob(toneMapping, outputFormat, kind, outputOptions, item.Input, job, failures,
                         &status))
            return status;
        } catch (const CLI::ValidationError& error) {
          failures << "lumivane-cli: " << EscapeForTerminal(error.what()) << '\n';
          return kExitUsage;
        }
        return RunJob(job, log, failures, false);
      });
    };
    const unsigned threads = BatchThreads(batch, std::thread::hardware_concurrency());
    return RunBatch(batch, one, threads, streams.ErrIsTerminal && !quiet, out, err);
  }
  // The image owns standard output; the log moves aside to standard error.
  const int status = GuardJob(files[0], err, [&] {
    return RunJob(request, toStandardOutput ? err : out, err, streams.ErrIsTerminal);
  });
  if (status != kExitSuccess || !toStandardOutput) return status;
  if (!outputSpool->CopyTo(out)) {
    err << "lumivane-cli: cannot write the image to standard output: " << outputSpool->Error()
        << '\n';
    return kExitJobFailed;
  }
  return kExitSuccess;
}

}  // namespace lumivane
