// The four conversions between float formats, without tone-mapping.
#pragma once

#include <cstdint>

namespace lumivane {

class Session;

bool ConvertHdrImage(Session& session);
bool ConvertFloatImage(Session& session);

// The lines that end every conversion, from the clock reading `start` in whole
// seconds; true, the job's result.
bool FinishConversion(Session& session, std::int32_t start);

}  // namespace lumivane
