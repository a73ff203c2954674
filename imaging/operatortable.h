// The operator table: one row per tone-mapping operator, with the paper it
// comes from and its parameters. `lumivane-cli operators`, --operator and its
// flags, the window's chooser and sliders and the manual page all read it.
#pragma once

#include <memory>
#include <string_view>
#include <vector>

#include "imaging/tonemapoperator.h"

namespace lumivane {

struct OperatorRow {
  const char* Name;     // "reinhard02": the value of --operator
  const char* Summary;  // one line
  const char* Paper;    // the citation
  std::vector<OperatorParameter> Parameters;
  // An operator with `values` (already checked against the ranges).
  std::unique_ptr<ToneOperator> (*Make)(const OperatorValues& values);
};

// In the order `operators` lists them.
const std::vector<OperatorRow>& OperatorTable();
// Null for a name no row has.
const OperatorRow* FindOperator(std::string_view name);

}  // namespace lumivane
