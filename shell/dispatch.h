// The command dispatcher: settings, help boxes, Quit, and the job chains.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "formats/numbertext.h"
#include "imaging/settings.h"
#include "shell/controlids.h"
#include "steps/session.h"

namespace lumivane {

struct MenuItem {
  std::string Menu;  // "File", "Convert" or "Help"
  std::string Text;  // "-" for a separator
  int Id = 0;        // 0 for a separator
};

// The menu bar in menu order.
const std::vector<MenuItem>& MenuTable();

// The real readers, writers and jobs, one chain per job command.
std::array<JobChain, 7> DefaultJobChains();
// The tone-mapping chains of the inputs read through libraries (EXR, the TIFFs
// and PFMs the classic readers refuse).
std::vector<JobChain> ImageJobChains();

// Both, as the commands find them when a session holds none of its own.
const std::vector<JobChain>& CommandChains();

// Runs one chain as a job command runs: the command line's chains for the
// outputs beyond the menu's go through here.
void RunJobChain(Session& session, const JobChain& chain);

// Receives every command id (low 16 bits of the command event).
void HandleCommand(Session& session, int commandId);
// [Accept]: validates both boxes, writes them back and sets the settings.
void AcceptSettings(Session& session);
// The activation-change focus memory.
void ActivationChanged(Session& session, bool active);

void PrepareForJob(Session& session);
void RestoreAfterJob(Session& session);
void ResetWindow(Session& session);

// Start-up steps after the window exists: reset, counters and default settings.
void StartSession(Session& session);

}  // namespace lumivane
