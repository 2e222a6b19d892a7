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
constexpr const char* kFormatModule = "libquarvel_ffmpeg_format.so";

std::mutex g_mutex;
std::atomic<const Api*> g_api{nullptr};
std::atomic<const FormatApi*> g_format_api{nullptr};
int g_log_level = AV_LOG_INFO;
bool g_log_level_set = false;

// Beside the program first (a copied program), then the installed
// program's module folder, then where the build put it, then the library
// search path.
std::vector<std::string> Candidates(const char* module, const char* built) {
  std::vector<std::string> out;
  std::error_code ec;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (!ec) out.push_back((self.parent_path() / module).string());
#ifdef QUARVEL_FFMPEG_MODULE_FROM_BIN
  if (!ec) out.push_back((self.parent_path() / QUARVEL_FFMPEG_MODULE_FROM_BIN / module).lexically_normal().string());
#endif
  if (built != nullptr) out.emplace_back(built);
  out.emplace_back(module);
  return out;
}

// The table a module's entry point gives, the module kept loaded for the
// life of the process.
template <typename Table>
const Table* Load(const char* module, const char* built, const char* entry_name) {
  std::string tried;
  for (const std::string& path : Candidates(module, built)) {
    if (path.find('/') != std::string::npos && ::access(path.c_str(), F_OK) != 0) continue;
    // Lazy binding: FFmpeg brings a hundred libraries whose functions are
    // mostly never called; resolving them all at once cost tens of ms.
    void* handle = ::dlopen(path.c_str(), RTLD_LAZY | RTLD_LOCAL);
    if (handle == nullptr) {
      const char* why = ::dlerror();
      tried += std::string(tried.empty() ? "" : "; ") + (why != nullptr ? why : path);
      continue;
    }
    using Entry = const Table* (*)(std::size_t);
    auto entry = reinterpret_cast<Entry>(::dlsym(handle, entry_name));
    const Table* table = entry != nullptr ? entry(sizeof(Table)) : nullptr;
    if (table == nullptr) {
      ::dlclose(handle);
      throw LoadError("the FFmpeg module " + path + " does not match this program (rebuild it)");
    }
    return table;
  }
  throw LoadError(std::string("cannot load the FFmpeg module ") + module +
                  (tried.empty() ? " (not found beside the program)" : ": " + tried));
}

#ifdef QUARVEL_FFMPEG_MODULE_PATH
constexpr const char* kBuiltModule = QUARVEL_FFMPEG_MODULE_PATH;
#else
constexpr const char* kBuiltModule = nullptr;
#endif
#ifdef QUARVEL_FFMPEG_FORMAT_MODULE_PATH
constexpr const char* kBuiltFormatModule = QUARVEL_FFMPEG_FORMAT_MODULE_PATH;
#else
constexpr const char* kBuiltFormatModule = nullptr;
#endif

}  // namespace

const Api& Av() {
  if (const Api* api = g_api.load(std::memory_order_acquire)) return *api;
  std::lock_guard<std::mutex> lock(g_mutex);
  if (const Api* api = g_api.load(std::memory_order_relaxed)) return *api;
  const Api* api = Load<Api>(kModule, kBuiltModule, "quarvel_ffmpeg_api");
  if (g_log_level_set) api->av_log_set_level(g_log_level);
  g_api.store(api, std::memory_order_release);
  return *api;
}

const FormatApi& Avf() {
  if (const FormatApi* api = g_format_api.load(std::memory_order_acquire)) return *api;
  // Its libraries log through libavutil's level: the codec table first.
  Av();
  std::lock_guard<std::mutex> lock(g_mutex);
  if (const FormatApi* api = g_format_api.load(std::memory_order_relaxed)) return *api;
  const FormatApi* api = Load<FormatApi>(kFormatModule, kBuiltFormatModule, "quarvel_ffmpeg_format_api");
  g_format_api.store(api, std::memory_order_release);
  return *api;
}

void SetLogLevel(int level) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_log_level = level;
  g_log_level_set = true;
  if (const Api* api = g_api.load(std::memory_order_relaxed)) api->av_log_set_level(level);
}

bool Loaded() { return g_api.load(std::memory_order_acquire) != nullptr; }

bool FormatLoaded() { return g_format_api.load(std::memory_order_acquire) != nullptr; }

}  // namespace quarvel::ffmpeg
