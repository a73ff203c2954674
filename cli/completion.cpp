#include "cli/completion.h"

#include <cmath>
#include <set>

#include "formats/exrwriter.h"
#include "formats/formattable.h"
#include "formats/numbertext.h"
#include "imaging/operatortable.h"

namespace lumivane {

namespace {

void PrintOptions(const CLI::App& verb, std::ostream& out) {
  for (const CLI::Option* option : verb.get_options()) {
    for (const std::string& name : option->get_snames()) out << '-' << name << '\n';
    for (const std::string& name : option->get_lnames()) out << "--" << name << '\n';
  }
}

bool PrintValues(const std::string& verb, const std::string& option, std::ostream& out) {
  if (option == "--format" || option == "--to") {
    for (const FormatRow& row : FormatTable()) {
      const bool wanted = option == "--format" ? row.WritesBytes() || row.WritesFloats()
                          : verb == "tonemap"  ? row.WritesBytes()
                                               : row.WritesFloats();
      if (wanted)
        for (const std::string& extension : row.Extensions) out << extension << '\n';
    }
    return true;
  }
  if (option == "--operator") {
    for (const OperatorRow& row : OperatorTable()) out << row.Name << '\n';
    return true;
  }
  if (option == "--compression") {
    std::string names = ExrCompressionNames();
    for (std::size_t at; (at = names.find(", ")) != std::string::npos;) names.replace(at, 2, "\n");
    out << names << '\n';
    return true;
  }
  if (option == "-o" || option == "--output-dir") {
    out << "@folders\n";
    return true;
  }
  return false;
}

std::string Number(double value) {
  std::string text = FormatNumber(value, 7);
  return text.front() == ' ' ? text.substr(1) : text;
}

}  // namespace

void AddHiddenVerbs(CLI::App& app, CompletionSwitches& s, CLI::App** complete, CLI::App** manual) {
  *complete = app.add_subcommand("__complete", "")->group("");
  (*complete)->add_option("VERB", s.Verb);
  (*complete)->add_option("PREVIOUS", s.Previous);
  (*complete)->add_option("CURRENT", s.Current);
  (*complete)->allow_extras();
  *manual = app.add_subcommand("__manual", "")->group("");
}

void PrintCompletions(CLI::App& app, const CompletionSwitches& s, std::ostream& out) {
  const std::vector<CLI::App*> verbs =
      app.get_subcommands([](const CLI::App* verb) { return !verb->get_group().empty(); });
  const auto found = std::find_if(verbs.begin(), verbs.end(),
                                  [&](const CLI::App* verb) { return verb->get_name() == s.Verb; });
  if (found == verbs.end()) {
    for (const CLI::App* verb : verbs) out << verb->get_name() << '\n';
    out << "-V\n--version\n-h\n--help\n";
    return;
  }
  if (s.Verb == "help") {
    for (const CLI::App* verb : verbs)
      if (verb->get_name() != "help") out << verb->get_name() << '\n';
    return;
  }
  const CLI::Option* previous = (*found)->get_option_no_throw(s.Previous);
  if (previous && previous->get_expected_min() > 0) {
    // A value that is not a name is typed, not completed.
    PrintValues(s.Verb, s.Previous, out);
    return;
  }
  if (s.Current.starts_with("-")) {
    PrintOptions(**found, out);
    return;
  }
  out << "@files\n";
}

void PrintManualSections(std::ostream& out) {
  out << "# FORMATS\n\nThe input's format is recognised from its first bytes, the output's "
         "from its extension (any letter case).\n\n";
  for (const FormatRow& row : FormatTable()) {
    out << "*" << row.Name << "* (";
    for (std::size_t i = 0; i < row.Extensions.size(); ++i)
      out << (i ? ", " : "") << "." << row.Extensions[i];
    out << ")\n\t"
        << (row.Reads()       ? "Read"
            : row.Described() ? "Not read as an input (*info* describes its header)"
                              : "Not read");
    out << (row.WritesBytes() ? "; written by tonemap" : "");
    out << (row.WritesFloats() ? "; written by convert" : "") << ". " << row.Depths << ".";
    if (row.HoldsNegatives) out << " Holds values below zero.";
    out << "\n\n";
  }
  out << "# OPERATORS\n\nChosen with *--operator* _NAME_ on *tonemap*; *classic* is the "
         "default. Each parameter is an option of *tonemap*, taken only with its operator; "
         "*lumivane-cli operators* lists the same.\n\n";
  for (const OperatorRow& row : OperatorTable()) {
    out << "*" << row.Name << "*\n\t" << row.Summary << ".\n\t" << row.Paper << ".\n\n";
    for (const OperatorParameter& p : row.Parameters) {
      out << "\t*--" << p.Name << "* " << Number(p.Low) << " to " << Number(p.High);
      if (p.AlsoPixels)
        out << " (or " << Number(p.PixelLow) << "px to " << Number(p.PixelHigh) << "px)";
      out << ", default " << (std::isnan(p.Default) ? std::string("automatic") : Number(p.Default))
          << ": " << p.Help << ".\n\n";
    }
  }
}

}  // namespace lumivane
