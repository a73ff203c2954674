// The seven fixed help texts, lines joined by CR LF.
#pragma once

#include <string>

namespace lumivane {

std::string GeneralHelpText();
std::string UsageHelpText();
std::string OperatorHelpText();
std::string MemoryHelpText();
std::string TimeHelpText();
std::string ConvertHelpText();
std::string AboutHelpText();

}  // namespace lumivane
