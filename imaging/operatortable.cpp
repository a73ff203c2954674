#include "imaging/operatortable.h"

#include "imaging/durand02.h"

namespace lumivane {

const std::vector<OperatorRow>& OperatorTable() {
  static const std::vector<OperatorRow> table = {Durand02Row()};
  return table;
}

const OperatorRow* FindOperator(std::string_view name) {
  for (const OperatorRow& row : OperatorTable())
    if (name == row.Name) return &row;
  return nullptr;
}

}  // namespace lumivane
