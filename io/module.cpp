#include "io/module.h"

#include <dlfcn.h>

#include <filesystem>
#include <system_error>

namespace lumivane {

void* OpenModuleBesideProgram(const std::string& relative, std::string& error) {
  std::error_code code;
  const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", code);
  if (code) {
    error = "cannot find the program's own folder: " + code.message();
    return nullptr;
  }
  const std::string path = (program.parent_path() / relative).lexically_normal().string();
  // Bound at once: a symbol missing from the program fails here, in words,
  // rather than later as a crash.
  void* module = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!module) {
    const char* reason = ::dlerror();
    error = reason ? reason : path + ": cannot be loaded";
  }
  return module;
}

void* ModuleSymbol(void* module, const char* name) {
  return ::dlsym(module, name);
}

}  // namespace lumivane
