#pragma once
// Modules the programs load on first use (the commands of quarvel-cli, the
// FFmpeg tables), so that a run which never needs a module's libraries does
// not pay for loading them at start.

#include <stdexcept>
#include <string>

namespace quarvel::paths {

// The module is not there, cannot be loaded, or lacks its entry point; the
// message names the file and why.
class ModuleError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The address of `entry` in the module file `file_name`, which is looked
// for beside the program (a copied program), in the installed program's
// module folder (../lib/quarvel from its bin/), at `built` (where the build
// put it; may be null), then on the library search path. The module stays
// loaded for the life of the process. `what` names it in errors ("the
// FFmpeg module"). Throws ModuleError.
void* LoadModuleEntry(const std::string& what, const char* file_name, const char* built, const char* entry);

}  // namespace quarvel::paths
