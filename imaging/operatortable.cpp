#include "imaging/operatortable.h"

namespace lumivane {

const std::vector<OperatorRow>& OperatorTable() {
  static const std::vector<OperatorRow> table = {};
  return table;
}

const OperatorRow* FindOperator(std::string_view name) {
  for (const OperatorRow& row : OperatorTable())
    if (name == row.Name) return &row;
  return nullptr;
}

}  // namespace lumivane
