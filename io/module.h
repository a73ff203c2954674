// Shared objects that ship beside the programs and are loaded only when a job
// needs them.
#pragma once

#include <string>

namespace lumivane {

// Opens the shared object at `relative` from the folder of the running
// program (the real file, symbolic links followed), every symbol bound at
// once. Nothing, with `error` set to the loader's reason, when it cannot.
void* OpenModuleBesideProgram(const std::string& relative, std::string& error);

// The address of `name` in `module`, or nothing.
void* ModuleSymbol(void* module, const char* name);

}  // namespace lumivane
