// Placeholder until the real step lands.
#include "shell/helptexts.h"

#include "shell/session.h"

namespace lumivane {
std::string GeneralHelpText() { return {}; }
std::string UsageHelpText() { return {}; }
std::string OperatorHelpText() { return {}; }
std::string MemoryHelpText() { return {}; }
std::string TimeHelpText() { return {}; }
std::string ConvertHelpText() { return {}; }
std::string AboutHelpText() { return {}; }
}  // namespace lumivane
