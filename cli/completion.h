// What the shell completions and the manual page ask of the program, so that
// they say what the verbs, the format table and the operator table hold now:
// two hidden verbs.
//   lumivane-cli __complete -- VERB PREVIOUS CURRENT   the words that may follow
//   lumivane-cli __manual                           the generated manual sections
#pragma once

#include <CLI/CLI.hpp>

#include <ostream>
#include <string>

namespace lumivane {

struct CompletionSwitches {
  std::string Verb;
  std::string Previous;
  std::string Current;
};

// Adds both, out of the help's sight.
void AddHiddenVerbs(CLI::App& app, CompletionSwitches& switches, CLI::App** complete,
                    CLI::App** manual);

// One candidate a line: verbs, a verb's options, an option's values; or
// "@files" or "@folders" for the shell to complete names.
void PrintCompletions(CLI::App& app, const CompletionSwitches& switches, std::ostream& out);

// The FORMATS and OPERATORS sections of lumivane-cli(1), in scdoc.
void PrintManualSections(std::ostream& out);

}  // namespace lumivane
