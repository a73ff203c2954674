#include "imaging/operatortable.h"

namespace lumivane {

// Each operator's own file gives its row.
OperatorRow Reinhard02Row();
OperatorRow Drago03Row();
OperatorRow FilmicRow();

const std::vector<OperatorRow>& OperatorTable() {
  static const std::vector<OperatorRow> table = {Reinhard02Row(), Drago03Row(), FilmicRow()};
  return table;
}

const OperatorRow* FindOperator(std::string_view name) {
  for (const OperatorRow& row : OperatorTable())
    if (name == row.Name) return &row;
  return nullptr;
}

}  // namespace lumivane
