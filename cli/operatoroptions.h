// The command line's --operator and the operators' parameters as flags, made
// from the operator table: every parameter of every operator is a flag of
// tonemap, checked against the chosen operator's row.
#pragma once

#include <CLI/CLI.hpp>

#include <map>
#include <ostream>
#include <string>

#include "imaging/tonemapoperator.h"

namespace lumivane {

struct OperatorSwitches {
  std::string Operator = "classic";
  // Flag name (without the dashes) to its text as given.
  std::map<std::string, std::string> Texts;
};

// --operator NAME and one --PARAMETER VALUE per parameter name of the table's
// operators beyond the classic one (whose settings have flags of their own).
void AddOperatorOptions(CLI::App& verb, OperatorSwitches& switches);

struct ChosenOperator {
  std::string Name;  // empty: the classic operator
  OperatorValues Values;
};

// The operator and its values; a usage error (CLI::ValidationError) for a name
// the table has not, a flag the operator does not take, or a value outside its
// range, each naming what is accepted. `classicFlags`: whether any of the
// classic operator's own flags was given.
ChosenOperator CheckOperatorSwitches(const OperatorSwitches& switches, bool classicFlags);

// `lumivane-cli operators`: every row with its paper and parameters, as text
// or as one JSON document.
void PrintOperators(std::ostream& out, bool json);

}  // namespace lumivane
