#include "platform/ffmpeg/ffmpeg_api.h"

#include <atomic>
#include <mutex>
#include <thread>

#include "platform/paths/modules.h"

namespace quarvel::ffmpeg {
namespace {

constexpr const char* kModule = "libquarvel_ffmpeg.so";
constexpr const char* kFormatModule = "libquarvel_ffmpeg_format.so";

std::mutex g_mutex;
std::atomic<const Api*> g_api{nullptr};
std::atomic<const FormatApi*> g_format_api{nullptr};
int g_log_level = AV_LOG_INFO;
bool g_log_level_set = false;

// The table a module's entry point gives, the module kept loaded for the
// life of the process.
template <typename Table>
const Table* Load(const char* module, const char* built, const char* entry_name) {
  void* address = nullptr;
  try {
    address = paths::LoadModuleEntry("the FFmpeg module", module, built, entry_name);
  } catch (const paths::ModuleError& e) {
    throw LoadError(e.what());
  }
  using Entry = const Table* (*)(std::size_t);
  const Table* table = reinterpret_cast<Entry>(address)(sizeof(Table));
  if (table == nullptr)
    throw LoadError(std::string("the FFmpeg module ") + module + " does not match this program (rebuild it)");
  return table;
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

void LoadAhead() {
  if (Loaded()) return;
  static std::once_flag started;
  std::call_once(started, [] {
    // Av() on any thread waits for it through the table's lock; an error is
    // met again there, by whoever needs the table, and reported with the
    // module's name.
    std::thread([] {
      try {
        Av();
      } catch (const LoadError&) {
      }
    }).detach();
  });
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
