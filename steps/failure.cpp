#include "steps/failure.h"

#include "io/binaryfile.h"
#include "steps/session.h"
#include "steps/statuslog.h"

namespace lumivane {

bool FailStep(Session& session, const std::string& message, const FailureOptions& options) {
  JobContext& context = session.Context;
  if (options.Box)
    session.Window.ShowMessageBox(options.Box->Text, options.Box->Title, options.Box->Kind);
  context.FailureMessage = message;
  const std::string& logged = options.Logged ? *options.Logged : message;
  if (!logged.empty()) LogLine(session, logged);

  const bool inputLines =
      options.Input == InputClosing::WithLines ||
      (options.Input == InputClosing::WithLinesIfOpen && context.InputFile.IsOpen());
  if (options.Input != InputClosing::Leave) context.InputFile.Close();
  if (inputLines) {
    LogLine(session, "Closed file:");
    LogLine(session, context.InputFileName);
  }

  // Outputs are written beside their final name and renamed only on success,
  // so discarding removes the unfinished copy and never a file the job did not write.
  if (options.Output != OutputClosing::Leave) context.OutputFile.Discard();
  if (options.Output == OutputClosing::RemoveWithLines) {
    LogLine(session, "Closed and deleted file:");
    LogLine(session, context.OutputFileName);
  }

  if (options.Separator) LogLine(session, SeparatorLine());
  return false;
}

}  // namespace lumivane
