#include "imaging/operatortable.h"

namespace lumivane {

// Each operator's own file gives its row.
OperatorRow ClassicRow();
OperatorRow Reinhard02Row();
OperatorRow Drago03Row();
OperatorRow FilmicRow();
OperatorRow Durand02Row();

const std::vector<OperatorRow>& OperatorTable() {
  static const std::vector<OperatorRow> table = {ClassicRow(), Reinhard02Row(), Drago03Row(),
                                                 FilmicRow(), Durand02Row()};
  return table;
}

const OperatorRow* FindOperator(std::string_view name) {
  for (const OperatorRow& row : OperatorTable())
    if (name == row.Name) return &row;
  return nullptr;
}

}  // namespace lumivane
