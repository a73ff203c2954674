#include "steps/toneschedule.h"

#include "steps/convertschedule.h"
#include "steps/session.h"

namespace lumivane {

// Radiance input always decodes in blocks or bands; stored floats are mapped
// as stored only by the classic operator's thresholds.
// Outputs of 16 bits a channel take the plain schedule's words.
std::unique_ptr<ToneSchedule> ChooseToneSchedule(Session& session, const ToneOperator& op) {
  if (session.Context.ToneMappedWords) return MakeRowToneSchedule();
  switch (session.Context.Layout) {
    case InputLayout::Radiance:
      return MakeRgbeToneSchedule();
    case InputLayout::StoredFloats:
      if (op.AsClassic()) return MakeStoredFloatToneSchedule();
      break;
    case InputLayout::Rows:
      break;
  }
  return MakeRowToneSchedule();
}

// The classic float files behind their headers take the fast schedules;
// every output through a row sink takes the rows.
std::unique_ptr<ConvertSchedule> ChooseConvertSchedule(Session& session, const FloatRowSink* sink) {
  if (sink) return MakeRowConvertSchedule();
  if (session.Context.Layout == InputLayout::Radiance) return MakeRgbeConvertSchedule();
  return MakeStoredFloatCopySchedule();
}

}  // namespace lumivane
