#include "platform/ffmpeg/ffmpeg_api.h"

#include <dlfcn.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <mutex>
#include <vector>

namespace quarvel::ffmpeg {
namespace {

constexpr const char* kModule = "libquarvel_ffmpeg.so";

std::mutex g_mutex;
std::atomic<const Api*> g_api{nullptr};
int g_log_level = AV_LOG_INFO;
bool g_log_level_set = false;

// Beside the program first (a copied program), then the installed
// program's module folder, then where the build put it, then the library
// search path.
std::vector<std::string> Candidates() {
  std::vector<std::string> out;
  std::error_code ec;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (!ec) out.push_back((self.parent_path() / kModule).string());
#ifdef QUARVEL_FFMPEG_MODULE_FROM_BIN
  if (!ec) out.push_back((self.parent_path() / QUARVEL_FFMPEG_MODULE_FROM_BIN / kModule).lexically_normal().string());
#endif
#ifdef QUARVEL_FFMPEG_MODULE_PATH
  out.emplace_back(QUARVEL_FFMPEG_MODULE_PATH);
#endif
  out.emplace_back(kModule);
  return out;
}

const Api* Load() {
  std::string tried;
  for (const std::string& path : Candidates()) {
    if (path.find('/') != std::string::npos && ::access(path.c_str(), F_OK) != 0) continue;
    // Lazy binding: FFmpeg brings a hundred libraries whose functions are
    // mostly never called; resolving them all at once cost tens of ms.
    void* handle = ::dlopen(path.c_str(), RTLD_LAZY | RTLD_LOCAL);
    if (handle == nullptr) {
      const char* why = ::dlerror();
      tried += std::string(tried.empty() ? "" : "; ") + (why != nullptr ? why : path);
      continue;
    }
    auto entry = reinterpret_cast<decltype(&quarvel_ffmpeg_api)>(::dlsym(handle, "quarvel_ffmpeg_api"));
    const Api* api = entry != nullptr ? entry(sizeof(Api)) : nullptr;
    if (api == nullptr) {
      ::dlclose(handle);
      throw LoadError("the FFmpeg module " + path + " does not match this program (rebuild it)");
    }
    return api;  // kept loaded for the life of the process
  }
  throw LoadError(std::string("cannot load the FFmpeg module ") + kModule +
                  (tried.empty() ? " (not found beside the program)" : ": " + tried));
}

}  // namespace

const Api& Av() {
  if (const Api* api = g_api.load(std::memory_order_acquire)) return *api;
  std::lock_guard<std::mutex> lock(g_mutex);
  if (const Api* api = g_api.load(std::memory_order_relaxed)) return *api;
  const Api* api = Load();
  if (g_log_level_set) api->av_log_set_level(g_log_level);
  g_api.store(api, std::memory_order_release);
  return *api;
}

void SetLogLevel(int level) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_log_level = level;
  g_log_level_set = true;
  if (const Api* api = g_api.load(std::memory_order_relaxed)) api->av_log_set_level(level);
}

bool Loaded() { return g_api.load(std::memory_order_acquire) != nullptr; }

}  // namespace quarvel::ffmpeg
