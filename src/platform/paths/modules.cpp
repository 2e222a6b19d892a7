#include "platform/paths/modules.h"

#include <dlfcn.h>
#include <unistd.h>

#include <filesystem>
#include <vector>

namespace quarvel::paths {
namespace {

std::vector<std::string> Candidates(const char* file_name, const char* built) {
  std::vector<std::string> out;
  std::error_code ec;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (!ec) out.push_back((self.parent_path() / file_name).string());
#ifdef QUARVEL_MODULE_FROM_BIN
  if (!ec) out.push_back((self.parent_path() / QUARVEL_MODULE_FROM_BIN / file_name).lexically_normal().string());
#endif
  if (built != nullptr) out.emplace_back(built);
  out.emplace_back(file_name);
  return out;
}

}  // namespace

void* LoadModuleEntry(const std::string& what, const char* file_name, const char* built, const char* entry) {
  for (const std::string& path : Candidates(file_name, built)) {
    const bool searched = path.find('/') == std::string::npos;
    if (!searched && ::access(path.c_str(), F_OK) != 0) continue;
    // The first file there is the one used: a broken one is reported, not
    // passed over for another copy. Lazy binding: the libraries behind a
    // module hold far more functions than a run calls.
    void* handle = ::dlopen(path.c_str(), RTLD_LAZY | RTLD_LOCAL);
    if (handle == nullptr) {
      const char* why = ::dlerror();
      throw ModuleError("cannot load " + what + " " + file_name + ": " + (why != nullptr ? why : path) +
                        (searched ? " (not beside the program nor in its module folder)" : ""));
    }
    if (void* address = ::dlsym(handle, entry)) return address;
    ::dlclose(handle);
    throw ModuleError(what + " " + path + " does not match this program (rebuild it)");
  }
  throw ModuleError("cannot load " + what + " " + file_name + ": not found");
}

}  // namespace quarvel::paths
