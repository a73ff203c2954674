// How a step fails: the one routine every failing step goes through, with the
// differences between the failures named as options.
#pragma once

#include <optional>
#include <string>
#include <utility>

#include "steps/windowsystem.h"

namespace lumivane {

class Session;

struct FailureBox {
  std::string Text;
  std::string Title;
  BoxKind Kind = BoxKind::Error;
};

enum class InputClosing {
  // The step never opened the input, or a later step still reads it.
  Leave,
  // A step that threw: its own lines never ran, so nothing is claimed in the log.
  Quietly,
  // The reader's and writer's refusals: the log says the input was let go.
  WithLines,
  // The float jobs fail both before and after they have read the input to its end.
  WithLinesIfOpen,
};

enum class OutputClosing {
  // No output was created yet.
  Leave,
  // A writer whose header failed, or a float job: the file is useless and
  // nothing was logged of it. Only the unfinished copy beside the output goes, never a
  // device the job was pointed at.
  Remove,
  // The Radiance jobs say which output they deleted.
  RemoveWithLines,
  // A step that threw may or may not have created the output.
  RemoveIfOpen,
};

struct FailureOptions {
  // Shown before anything is logged: the readers' own refusals and a Radiance
  // job's bad data tell the user at once, before the abort box of the dispatcher.
  std::optional<FailureBox> Box;
  // The line logged for the failure: the message itself when unset; a
  // different line (or none, when empty) where the box already says it.
  std::optional<std::string> Logged;
  InputClosing Input = InputClosing::Leave;
  OutputClosing Output = OutputClosing::Leave;
  // Ends the job's account in the log; a failure that a later routine
  // finishes (a thrown step, a cancelled dialog) leaves it out.
  bool Separator = false;

  FailureOptions& ShowBox(FailureBox box) {
    Box = std::move(box);
    return *this;
  }
  FailureOptions& LogInstead(std::string line) {
    Logged = std::move(line);
    return *this;
  }
  FailureOptions& CloseInput(InputClosing how) {
    Input = how;
    return *this;
  }
  FailureOptions& CloseOutput(OutputClosing how) {
    Output = how;
    return *this;
  }
  FailureOptions& EndWithSeparator() {
    Separator = true;
    return *this;
  }
};

// A reader's or writer's refusal of its input: the reason, then the input let go.
inline FailureOptions InputRefused() {
  return FailureOptions().CloseInput(InputClosing::WithLines).EndWithSeparator();
}
// Only the input's closing lines: where the reason was logged already, or a
// save dialog was cancelled and told the user itself.
inline FailureOptions InputClosedOnly() {
  return InputRefused().LogInstead("");
}

// Sets FailureMessage to `message`, then shows, logs and closes as `options`
// say, in that order. Returns false, the step's result.
bool FailStep(Session& session, const std::string& message, const FailureOptions& options);

}  // namespace lumivane
