// The facts of a file as `info` prints them: text for people, JSON for programs.
#pragma once

#include <nlohmann/json.hpp>
#include <ostream>
#include <string>

#include "cli/infofacts.h"

namespace lumivane {

// The object of one file, under the keys the manual page lists.
nlohmann::ordered_json InfoJson(const std::string& file, const FileFacts& facts);

// The text of one file, headed by `name`.
void PrintInfoText(const std::string& name, const FileFacts& facts, std::ostream& out);

// "Pixel data end early: R of H rows complete.", or empty when they do not.
std::string RowsCompleteText(const FileFacts& facts);

}  // namespace lumivane
