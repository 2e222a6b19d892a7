#include "platform/paths/working_folder.h"

#include <unistd.h>

#include <cstdlib>
#include <mutex>
#include <string>
#include <system_error>

namespace quarvel::paths {
namespace fs = std::filesystem;

namespace {

std::mutex g_mutex;
fs::path g_override;

bool IsWritableFolder(const fs::path& p) {
  std::error_code ec;
  return fs::is_directory(p, ec) && ::access(p.c_str(), W_OK | X_OK) == 0;
}

}  // namespace

fs::path ExecutableFolder() {
  std::error_code ec;
  fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  if (ec || exe.empty()) return fs::current_path();
  return exe.parent_path();
}

fs::path InstalledDataFolder() {
  const fs::path exe = ExecutableFolder();
  if (exe.filename() != "bin") return {};
  const fs::path data = exe.parent_path() / "share" / "quarvel";
  std::error_code ec;
  return fs::is_directory(data, ec) ? data : fs::path{};
}

void SetWorkingFolder(const fs::path& folder) {
  std::lock_guard lock(g_mutex);
  g_override = folder.empty() ? fs::path{} : fs::absolute(folder);
}

fs::path WorkingFolder() {
  if (const char* home = std::getenv("QUARVEL_HOME"); home && *home) return fs::absolute(home);
  {
    std::lock_guard lock(g_mutex);
    if (!g_override.empty()) return g_override;
  }
  // An installed program never writes into its bin folder, even as root.
  fs::path exe = ExecutableFolder();
  if (IsWritableFolder(exe) && InstalledDataFolder().empty()) return exe;
  if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg) return fs::path(xdg) / "quarvel";
  const char* user_home = std::getenv("HOME");
  return fs::path(user_home && *user_home ? user_home : "/tmp") / ".local/share/quarvel";
}

fs::path WorkPath(std::string_view relative) { return WorkingFolder() / fs::path(relative); }

fs::path CaptureFolder() { return WorkingFolder() / "temp"; }

fs::path FrameFilePath(long long n) { return CaptureFolder() / (std::to_string(n) + ".bmp"); }

fs::path FramePicturePath(long long n) { return CaptureFolder() / (std::to_string(n) + ".jpg"); }

fs::path RecordingFilePath() { return CaptureFolder() / "_temp.wav"; }

fs::path DataFilePath(std::string_view name) {
  fs::path work = WorkPath(name);
  std::error_code ec;
  if (fs::exists(work, ec)) return work;
  fs::path beside = ExecutableFolder() / fs::path(name);
  if (fs::exists(beside, ec)) return beside;
  const fs::path installed = InstalledDataFolder();
  return installed.empty() ? beside : installed / fs::path(name);
}

}  // namespace quarvel::paths
