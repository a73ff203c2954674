#include "steps/primariesstep.h"

#include <cstdio>
#include <string>

#include "imaging/colourspace.h"
#include "steps/statuslog.h"

namespace lumivane {

namespace {

std::string XyText(const float* xy) {
  char text[32];
  std::snprintf(text, sizeof text, "%.4g %.4g", xy[0], xy[1]);
  return text;
}

}  // namespace

JobStep ReadInRec709(JobStep reader) {
  return [reader = std::move(reader)](Session& session) {
    if (!reader(session)) return false;
    JobContext& context = session.Context;
    if (!context.InputRows) return true;
    const std::optional<Chromaticities>& stated =
        context.InputRows->Description().Metadata.Primaries;
    if (!stated || IsRec709(*stated)) return true;
    const std::optional<Matrix3> matrix = ToRec709Matrix(*stated);
    if (!matrix) {
      LogLine(session, "Primaries stated by the input make no RGB space; read as Rec. 709");
      return true;
    }
    context.InputRows = ConvertRows(std::move(context.InputRows), *matrix);
    LogLine(session, "Converted to Rec. 709 primaries from red " + XyText(stated->Red) +
                         ", green " + XyText(stated->Green) + ", blue " + XyText(stated->Blue) +
                         ", white " + XyText(stated->White));
    return true;
  };
}

}  // namespace lumivane
