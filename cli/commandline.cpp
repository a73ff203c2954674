#include "cli/commandline.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cctype>
#include <sstream>
#include <string>

#include "cli/completion.h"
#include "cli/escape.h"
#include "cli/info.h"
#include "cli/jobs.h"
#include "cli/streams.h"
#include "cli/verbs.h"
#include "imaging/settings.h"

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

// Standard input can be read only once, and a second spool would replace the first.
void CheckStandardInputOnce(const std::vector<std::string>& inputs) {
  const auto count = std::count_if(inputs.begin(), inputs.end(), NamesStandardInput);
  if (count > 1)
    throw CLI::ValidationError("FILES", "standard input (-) is given " + std::to_string(count) +
                                            " times as an input; it can be read only once");
}

CLI::App* FindVerb(CLI::App& app, const std::string& name) {
  const std::vector<CLI::App*> found =
      app.get_subcommands([&name](CLI::App* verb) { return verb->get_name() == name; });
  return found.empty() ? nullptr : found.front();
}

int PrintHelp(CLI::App& app, const Verbs& verbs, const std::string& name, std::ostream& out) {
  CLI::App* verb = name.empty() ? &app : FindVerb(app, name);
  if (!verb || verb == verbs.Help)
    throw CLI::ValidationError("VERB", "'" + name +
                                           "' is not one of tonemap, convert, info, "
                                           "operators");
  // As --help prints it; App::help would show the parsed "help" verb's own.
  out << app.get_formatter()->make_help(
      verb, verb == &app ? "lumivane-cli" : "lumivane-cli " + name, CLI::AppFormatMode::Normal);
  return kExitSuccess;
}

int RunInfoVerb(const Switches& s, const ConsoleStreams& streams) {
  StandardInput input(streams);
  std::vector<InfoInput> looks;
  for (const std::string& file : s.Files) {
    InfoInput& look = looks.emplace_back();
    look.Given = file;
    look.Name = NamesStandardInput(file) ? kStandardInputName : file;
    if (!input.Resolve(file, &look.Path, streams.Err)) return kExitJobFailed;
  }
  return RunInfo(looks, {s.Json, s.Quiet, ResolveLimits(s.Limits)}, streams.Out, streams.Err);
}

// A verb is required, and an unknown first word is a verb misspelt, not a
// stray argument. Nothing when the words can go to the parser.
std::optional<int> CheckVerb(CLI::App& app, int argc, const char* const* argv, std::ostream& err) {
  if (argc < 2) {
    err << "lumivane-cli: a verb is required: " << VerbNames("or")
        << "\nRun with --help for more information.\n";
    return kExitUsage;
  }
  if (argv[1][0] != '-' && !FindVerb(app, argv[1])) {
    err << "lumivane-cli: unknown verb '" << EscapeForTerminal(argv[1]) << "'; the verbs are "
        << VerbNames("and") << "\nRun with --help for more information.\n";
    return kExitUsage;
  }
  return std::nullopt;
}

struct HiddenVerbs {
  CLI::App* Complete = nullptr;
  CLI::App* Manual = nullptr;
  CompletionSwitches Switches;
};

int RunParsed(CLI::App& app, const Verbs& verbs, const Switches& s, const HiddenVerbs& hidden,
              const ConsoleStreams& streams) {
  if (hidden.Complete->parsed()) {
    PrintCompletions(app, hidden.Switches, streams.Out);
    return kExitSuccess;
  }
  if (hidden.Manual->parsed()) {
    PrintManualSections(streams.Out);
    return kExitSuccess;
  }
  if (verbs.Help->parsed()) return PrintHelp(app, verbs, s.HelpVerb, streams.Out);
  if (verbs.Operators->parsed()) {
    PrintOperators(streams.Out, s.Json);
    return kExitSuccess;
  }
  const bool many = !s.OutputDir.empty();
  // The inputs: every file but OUTPUT, which info and -o DIR have none of.
  const std::vector<std::string> inputs(
      s.Files.begin(),
      s.Files.end() - (verbs.Info->parsed() || many || s.Files.size() < 2 ? 0 : 1));
  CheckStandardInputOnce(inputs);
  if (verbs.Info->parsed()) return RunInfoVerb(s, streams);
  return RunJobVerb(verbs, s, streams);
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
  CLI::App app{
      "Tone-maps high-dynamic-range images (Radiance, TIFF, PFM, OpenEXR) to TIFF, PNG and "
      "JPEG files with a choice of operators, and converts between the float formats. The "
      "input's format is recognised from its first bytes.",
      "lumivane-cli"};
  app.set_version_flag("-V,--version", std::string("lumivane-cli ") + LUMIVANE_VERSION);
  app.require_subcommand(1);
  app.footer(
      "Exit status: 0 success, 1 the job failed, 2 usage error.\n"
      "The status log and the success text go to standard output (to standard error when "
      "OUTPUT is -); failures to standard error.\n"
      "LUMIVANE_MAX_PIXELS and LUMIVANE_MAX_MEMORY set the defaults of --max-pixels and "
      "--max-memory.");
  Switches switches;
  const Verbs verbs = AddVerbs(app, switches);
  HiddenVerbs hidden;
  AddHiddenVerbs(app, hidden.Switches, &hidden.Complete, &hidden.Manual);
  if (const std::optional<int> refused = CheckVerb(app, argc, argv, streams.Err)) return *refused;
  try {
    app.parse(argc, argv);
    return RunParsed(app, verbs, switches, hidden, streams);
  } catch (const CLI::ParseError& error) {
    // Usage messages quote the arguments, file names among them.
    std::ostringstream message;
    const int code = app.exit(error, streams.Out, message);
    std::istringstream lines(message.str());
    for (std::string line; std::getline(lines, line);)
      streams.Err << EscapeForTerminal(line) << '\n';
    return code == static_cast<int>(CLI::ExitCodes::Success) ? kExitSuccess : kExitUsage;
  }
}

}  // namespace lumivane
