#include "cli/jobs.h"

#include <new>
#include <optional>
#include <thread>

#include "cli/batch.h"
#include "cli/commandline.h"
#include "cli/consolewindow.h"
#include "cli/escape.h"
#include "cli/streams.h"
#include "io/binaryfile.h"
#include "shell/controlids.h"
#include "shell/dispatch.h"
#include "shell/recording.h"
#include "shell/routing.h"

namespace lumivane {

namespace {

struct JobRequest {
  std::string InputPath;
  std::string OutputPath;
  // What messages call them when not their paths ("standard input").
  std::string InputName;
  std::string OutputName;
  // The boxes' texts go through [Accept]; --post-gamma then sets the exponent itself.
  bool AcceptSettings = false;
  std::string BrightnessText = kBrightnessRule.DefaultText;
  std::string ContrastText = kContrastRule.DefaultText;
  std::optional<float> PostGamma;
  bool Warm = false;
  bool Quiet = false;
  ReadLimits Limits;
  ChosenOperator Operator;
  std::optional<JobChain> Chain;
};

// The output every job of the call writes, and how.
struct OutputPlan {
  bool ToneMapping = false;
  const FormatRow* Format = nullptr;
  SinkOptions Options;
  // The extension of an output that has no name of its own to tell it
  // (standard output, -o DIR); empty otherwise.
  std::string Extension;
  bool ToStandardOutput = false;
  bool Many = false;
  // --fit or --scale of a tone-map.
  SizeRequest Size;
  // The operator and its parameters, recorded in each output that has a place
  // for them; empty with --strip and for conversions.
  std::string OperatorSettings;
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

// The settings reach the session as the window's boxes and checkbox reach it.
void ApplySettings(const JobRequest& request, Session& session) {
  session.Settings.Limits = request.Limits;
  session.Settings.Operator = request.Operator.Name;
  session.Settings.OperatorParameters = request.Operator.Values;
  if (request.AcceptSettings) HandleCommand(session, kAcceptButtonId);
  if (request.PostGamma) session.Settings.PostGamma = *request.PostGamma;
  if (request.Warm) HandleCommand(session, kWarmColoursBoxId);
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
  ApplySettings(request, session);
  RunJobChain(session, *request.Chain);
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

// The chain for the input at `path` into the planned output. False, after a
// message, when the input cannot be read or is no image this program reads.
bool ChooseJob(const OutputPlan& plan, const std::string& path, JobRequest& request,
               std::ostream& err, int* status) {
  const std::string& name = request.InputName.empty() ? path : request.InputName;
  const InputRoute route = RouteInput(path);
  *status = kExitJobFailed;
  if (!route.Error.empty()) {
    err << "lumivane-cli: cannot read " << EscapeForTerminal(name) << ": " << route.Error << '\n';
    return false;
  }
  if (!route.Format) {
    err << "lumivane-cli: " << EscapeForTerminal(name) << " is not a " << ReadableFormatNames()
        << " file (it starts with none of " << ReadableSignatures() << ")\n";
    return false;
  }
  SinkOptions options = plan.Options;
  if (!plan.OperatorSettings.empty())
    options.Description = RecordedDescription(name, plan.OperatorSettings);
  request.Chain = plan.ToneMapping ? ToneMapChain(route, *plan.Format, options)
                                   : ConvertChain(route, *plan.Format, options);
  if (!request.Chain)
    throw CLI::ValidationError(
        "OUTPUT", "no job writes this output from a " + std::string(route.Format->Name) + " input");
  if (plan.Size.Wanted()) request.Chain->Reader = ReadDownsampled(request.Chain->Reader, plan.Size);
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

std::string StandardOutputFormat(const Switches& s, bool toneMapping) {
  // A device named without an extension gets the tone-mapping's 24-bit TIFF,
  // as any other device does; "-" always names its format.
  if (s.Format.empty() && toneMapping && s.Files[1] != "-") return "tif";
  if (s.Format.empty())
    throw CLI::ValidationError("--format", "an OUTPUT of - (standard output) needs --format");
  return s.Format;
}

bool WritesBytes(const FormatRow& row) {
  return row.WritesBytes();
}
bool WritesFloats(const FormatRow& row) {
  return row.WritesFloats();
}

// --to names an extension the job writes, or the usage error lists them.
void CheckToExtension(const std::string& outputName, bool toneMapping) {
  const auto writes = toneMapping ? WritesBytes : WritesFloats;
  const FormatRow* format = FormatOfName(outputName);
  if (format && writes(*format)) return;
  throw CLI::ValidationError("--to", "'" + outputName.substr(outputName.find('.') + 1) +
                                         "' is not one of " + ExtensionList(writes));
}

OutputPlan PlanOutput(const Verbs& verbs, const Switches& s) {
  OutputPlan plan;
  plan.ToneMapping = verbs.Tonemap->parsed();
  plan.Many = !s.OutputDir.empty();
  if (!plan.Many && s.Files.size() != 2)
    throw CLI::ValidationError("FILES", "give INPUT and OUTPUT, or -o DIR and the INPUTs");
  plan.ToStandardOutput = !plan.Many && NamesStandardOutput(s.Files[1]);
  if (!plan.ToStandardOutput && !s.Format.empty())
    throw CLI::ValidationError("--format",
                               "only an OUTPUT of - takes --format; a file's "
                               "extension tells its format");
  if (!s.ToExtension.empty() && !plan.Many)
    throw CLI::ValidationError("--to", "--to is for -o DIR; OUTPUT's extension tells its format");
  if (!plan.ToneMapping && plan.Many && s.ToExtension.empty())
    throw CLI::ValidationError("--to", "convert with -o DIR needs --to tif, pfm, hdr or exr");
  // Standard output and --to behave as an output with that extension.
  plan.Extension = plan.ToStandardOutput ? StandardOutputFormat(s, plan.ToneMapping)
                   : plan.Many && plan.ToneMapping && s.ToExtension.empty() ? "tif"
                   : plan.Many                                              ? s.ToExtension
                                                                            : "";
  const std::string outputName = plan.Extension.empty() ? s.Files[1] : "output." + plan.Extension;
  if (plan.Many) CheckToExtension(outputName, plan.ToneMapping);
  plan.Format = plan.ToneMapping ? &ToneMapOutputFormat(outputName, plan.Extension.empty()
                                                                        ? AbsolutePath(s.Files[1])
                                                                        : outputName)
                                 : &ConvertOutputFormat(outputName);
  if (plan.ToneMapping) plan.Size = SizeRequestOf(s.Size);
  plan.Options = CheckOutputSwitches(plan.ToneMapping ? *verbs.Tonemap : *verbs.Convert, s.Output,
                                     *plan.Format);
  if (plan.ToneMapping && !s.Output.Strip) plan.Options.Software = RecordedSoftware();
  return plan;
}

JobRequest BaseRequest(const Verbs& verbs, const Switches& s) {
  JobRequest request;
  request.Quiet = s.Quiet;
  request.Limits = ResolveLimits(s.Limits);
  if (!verbs.Tonemap->parsed()) return request;
  request.AcceptSettings = true;
  request.BrightnessText = s.BrightnessText;
  request.ContrastText = s.ContrastText;
  if (verbs.PostGamma->count() > 0) request.PostGamma = ParseSettingValue(s.PostGammaText);
  request.Warm = s.Warm;
  const bool classicFlags = verbs.Brightness->count() > 0 || verbs.Contrast->count() > 0 ||
                            verbs.PostGamma->count() > 0 || verbs.WarmColours->count() > 0;
  request.Operator = CheckOperatorSwitches(s.Operators, classicFlags);
  return request;
}

int RunMany(const OutputPlan& plan, const JobRequest& request, const Switches& s,
            const ConsoleStreams& streams) {
  const std::vector<BatchItem> batch = PlanBatch(s.Files, s.OutputDir, plan.Extension);
  const BatchJob one = [&](const BatchItem& item, std::ostream& log, std::ostream& failures) {
    return GuardJob(item.Input, failures, [&] {
      JobRequest job = request;
      job.InputPath = item.Input;
      job.OutputPath = item.Output;
      int status = kExitJobFailed;
      try {
        if (!ChooseJob(plan, item.Input, job, failures, &status)) return status;
      } catch (const CLI::ValidationError& error) {
        failures << "lumivane-cli: " << EscapeForTerminal(error.what()) << '\n';
        return kExitUsage;
      }
      return RunJob(job, log, failures, false);
    });
  };
  const unsigned threads = BatchThreads(batch, std::thread::hardware_concurrency());
  return RunBatch(batch, one, threads, streams.ErrIsTerminal && !s.Quiet, streams.Out, streams.Err);
}

int RunOne(const OutputPlan& plan, JobRequest request, const Switches& s,
           const ConsoleStreams& streams) {
  std::ostream& err = streams.Err;
  if (plan.ToStandardOutput && streams.OutIsTerminal) {
    err << "lumivane-cli: standard output is a terminal: no image is written there "
           "(redirect it to a file or a pipe)\n";
    return kExitUsage;
  }
  StandardInput input(streams);
  if (!input.Resolve(s.Files[0], &request.InputPath, err)) return kExitJobFailed;
  request.InputPath = AbsolutePath(request.InputPath);
  if (NamesStandardInput(s.Files[0])) request.InputName = kStandardInputName;
  std::optional<TemporaryFile> outputSpool;
  if (plan.ToStandardOutput) {
    request.OutputName = kStandardOutputName;
    outputSpool.emplace("." + plan.Extension);
    if (outputSpool->Path().empty()) {
      err << "lumivane-cli: " << outputSpool->Error() << '\n';
      return kExitJobFailed;
    }
  }
  request.OutputPath = plan.ToStandardOutput ? outputSpool->Path() : AbsolutePath(s.Files[1]);
  const int chosen = GuardJob(s.Files[0], err, [&] {
    int status = kExitJobFailed;
    return ChooseJob(plan, request.InputPath, request, err, &status) ? kExitSuccess : status;
  });
  if (chosen != kExitSuccess) return chosen;
  // The image owns standard output; the log moves aside to standard error.
  const int status = GuardJob(s.Files[0], err, [&] {
    return RunJob(request, plan.ToStandardOutput ? err : streams.Out, err, streams.ErrIsTerminal);
  });
  if (status != kExitSuccess || !plan.ToStandardOutput) return status;
  if (!outputSpool->CopyTo(streams.Out)) {
    err << "lumivane-cli: cannot write the image to standard output: " << outputSpool->Error()
        << '\n';
    return kExitJobFailed;
  }
  return kExitSuccess;
}

}  // namespace

int RunJobVerb(const Verbs& verbs, const Switches& switches, const ConsoleStreams& streams) {
  OutputPlan plan = PlanOutput(verbs, switches);
  const JobRequest request = BaseRequest(verbs, switches);
  if (!plan.Options.Software.empty())
    plan.OperatorSettings = DescribeOperator(
        request.Operator.Name, request.Operator.Values,
        {switches.BrightnessText, switches.ContrastText,
         verbs.PostGamma->count() > 0 ? switches.PostGammaText : std::string(), switches.Warm});
  if (plan.Many) return RunMany(plan, request, switches, streams);
  return RunOne(plan, request, switches, streams);
}

}  // namespace lumivane
