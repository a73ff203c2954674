#include "cli/info.h"

#include <exception>
#include <new>
#include <optional>

#include "cli/escape.h"
#include "cli/infofacts.h"
#include "cli/infoprint.h"

namespace lumivane {

namespace {

// File names and header text need not be UTF-8: bad bytes become U+FFFD, and
// everything beyond ASCII is escaped, so no control byte reaches a terminal.
std::string JsonLine(const nlohmann::ordered_json& object) {
  return object.dump(-1, ' ', true, nlohmann::json::error_handler_t::replace) + '\n';
}

// The facts of one input, or nothing with `why` set; no exception escapes.
std::optional<FileFacts> Inspect(const InfoInput& input, const ReadLimits& limits, std::string& why) {
  try {
    return InspectFile(input.Path, input.Name, limits, why);
  } catch (const std::bad_alloc&) {
    why = "out of memory while reading it";
  } catch (const std::exception& failure) {
    why = failure.what();
  } catch (...) {
    why = "an unexpected failure while reading it";
  }
  return std::nullopt;
}

}  // namespace

int RunInfo(const std::vector<InfoInput>& inputs, const InfoOptions& options, std::ostream& out,
            std::ostream& err) {
  int status = 0;
  bool first = true;
  for (const InfoInput& input : inputs) {
    std::string why;
    const std::optional<FileFacts> facts = Inspect(input, options.Limits, why);
    if (!facts) {
      err << "lumivane-cli: " << EscapeForTerminal(input.Name) << ": " << EscapeForTerminal(why)
          << '\n'
          << std::flush;
      if (options.Json) out << JsonLine({{"file", input.Given}, {"error", why}}) << std::flush;
      status = 1;
      continue;
    }
    if (!options.Quiet) {
      const std::string rows = RowsCompleteText(*facts);
      if (!rows.empty())
        err << "lumivane-cli: " << EscapeForTerminal(input.Name) << ": " << rows << '\n';
      const std::string header = HeaderFailure(*facts);
      if (!header.empty())
        err << "lumivane-cli: " << EscapeForTerminal(input.Name)
            << ": the header cannot be read whole: " << EscapeForTerminal(header) << '\n';
      err << std::flush;
    }
    if (options.Json) {
      out << JsonLine(InfoJson(input.Given, *facts));
    } else {
      if (!first) out << '\n';
      PrintInfoText(input.Name, *facts, out);
    }
    out << std::flush;
    first = false;
  }
  if (!out) {
    err << "lumivane-cli: cannot write to the standard output\n";
    return 1;
  }
  return status;
}

}  // namespace lumivane
