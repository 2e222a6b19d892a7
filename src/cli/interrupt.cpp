// Signals and the temporary files and folders a run leaves while it works:
// what a second signal removes, and what a later run may prove abandoned.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fstream>
#include <optional>

#include "cli/commands.h"
#include "platform/paths/folder_lock.h"

namespace quarvel::cli {
namespace {

namespace fs = std::filesystem;

std::atomic<bool> g_stop{false};
std::atomic<int> g_signal{0};
std::atomic<bool> g_cut_short{false};

// Paths for the second signal to remove before the program ends; plain
// buffers, as a signal handler may read them.
constexpr int kTempSlots = 4;
constexpr std::size_t kTempPathMax = 4096;
char g_temp_paths[kTempSlots][kTempPathMax];
std::atomic<bool> g_temp_used[kTempSlots];
char g_folder[kTempPathMax];
std::atomic<bool> g_folder_set{false};

int RegisterTemporary(const std::string& path) {
  if (path.size() >= kTempPathMax) return -1;
  for (int i = 0; i < kTempSlots; ++i) {
    if (g_temp_used[i].load()) continue;
    std::memcpy(g_temp_paths[i], path.c_str(), path.size() + 1);
    g_temp_used[i].store(true);
    return i;
  }
  return -1;
}

void UnregisterTemporary(int slot) {
  if (slot >= 0) g_temp_used[slot].store(false);
}

// Removes a folder with everything in it using only calls a signal handler
// may make (no allocation, no locks).
void RemoveTreeAt(int parent, const char* name, int depth) {
  if (depth > 16) return;
  const int fd = ::openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    ::unlinkat(parent, name, 0);
    return;
  }
  struct Entry {
    std::uint64_t ino;
    std::int64_t off;
    unsigned short reclen;
    unsigned char type;
    char name[1];
  };
  // Removing entries while reading the folder may skip some: read it again
  // until it is empty.
  for (int pass = 0; pass < 8; ++pass) {
    ::lseek(fd, 0, SEEK_SET);
    bool removed = false;
    alignas(8) char buffer[4096];
    for (;;) {
      const long n = ::syscall(SYS_getdents64, fd, buffer, sizeof buffer);
      if (n <= 0) break;
      for (long at = 0; at < n;) {
        const auto* e = reinterpret_cast<const Entry*>(buffer + at);
        at += e->reclen;
        if (std::strcmp(e->name, ".") == 0 || std::strcmp(e->name, "..") == 0) continue;
        if (e->type == DT_DIR || (e->type == DT_UNKNOWN && ::unlinkat(fd, e->name, 0) != 0))
          RemoveTreeAt(fd, e->name, depth + 1);
        else if (e->type != DT_UNKNOWN)
          ::unlinkat(fd, e->name, 0);
        removed = true;
      }
    }
    if (!removed) break;
  }
  ::close(fd);
  ::unlinkat(parent, name, AT_REMOVEDIR);
}

// Hash of what tells this run's processes from every other's: the host, its
// boot and the process id namespace. A process id alone says nothing about
// a file written from another container, host or boot.
std::string ComputeRunTag() {
  std::string who;
  char host[256] = {};
  if (::gethostname(host, sizeof host - 1) == 0) who += host;
  std::ifstream boot("/proc/sys/kernel/random/boot_id");
  std::string boot_id;
  std::getline(boot, boot_id);
  who += "|" + boot_id;
  struct stat ns{};
  if (::stat("/proc/self/ns/pid", &ns) == 0) who += "|" + std::to_string(ns.st_dev) + ":" + std::to_string(ns.st_ino);
  std::uint64_t h = 14695981039346656037ull;  // FNV-1a
  for (unsigned char c : who) h = (h ^ c) * 1099511628211ull;
  char text[17];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(h));
  return text;
}

// A temporary untouched this long belongs to no run still going, whoever made it.
constexpr auto kAbandonedAge = std::chrono::hours(24 * 7);

// Whether a file or folder named with `tag` and `pid` may go: ours (this
// host, boot and namespace) with its process gone, or very old.
bool Abandoned(const fs::path& p, const std::string& tag, pid_t pid) {
  if (tag == RunTag()) return pid != ::getpid() && !paths::ProcessAlive(pid);
  std::error_code ec;
  const auto written = fs::last_write_time(p, ec);
  return !ec && fs::file_time_type::clock::now() - written > kAbandonedAge;
}

// "<tag>-<pid>" at `at` in `name`, followed by `end_char` or the end of the name.
std::optional<std::pair<std::string, pid_t>> TagAndPid(const std::string& name, std::size_t at) {
  constexpr std::size_t kTagLength = 16;
  if (name.size() < at + kTagLength + 2 || name[at + kTagLength] != '-') return std::nullopt;
  const std::string tag = name.substr(at, kTagLength);
  if (tag.find_first_not_of("0123456789abcdef") != std::string::npos) return std::nullopt;
  std::size_t end = at + kTagLength + 1;
  long pid = 0;
  while (end < name.size() && name[end] >= '0' && name[end] <= '9' && pid <= (1 << 30))
    pid = pid * 10 + (name[end++] - '0');
  if (end == at + kTagLength + 1 || pid <= 0 || pid > (1 << 30)) return std::nullopt;
  if (end < name.size() && name[end] != '.' && name[end] != '-') return std::nullopt;
  return std::make_pair(tag, static_cast<pid_t>(pid));
}

}  // namespace

const std::string& RunTag() {
  static const std::string tag = ComputeRunTag();
  return tag;
}

std::string RunOwnerText() { return RunTag() + "-" + std::to_string(::getpid()); }

bool AbandonedByName(const fs::path& p, std::size_t owner_at) {
  const auto owner = TagAndPid(p.filename().string(), owner_at);
  return owner && Abandoned(p, owner->first, owner->second);
}

void RequestCaptureStop(int signal) {
  int none = 0;
  g_signal.compare_exchange_strong(none, signal);
  // The first signal asks the running stage to stop; a second one ends the
  // program at once, without leaving its temporary files behind.
  if (g_stop.exchange(true)) {
    for (int i = 0; i < kTempSlots; ++i) {
      if (g_temp_used[i].load()) ::unlink(g_temp_paths[i]);
    }
    if (g_folder_set.load()) RemoveTreeAt(AT_FDCWD, g_folder, 0);
    ::_exit(128 + g_signal.load());
  }
}

bool CaptureStopRequested() { return g_stop.load(); }

void ResetCaptureStop() { g_stop.store(false); }

int InterruptSignal() { return g_signal.load(); }

int InterruptExitStatus() { return 128 + g_signal.load(); }

void NoteCaptureCutShort() { g_cut_short.store(true); }

bool CaptureCutShort() { return g_cut_short.load(); }

std::string SignalName(int signal) {
  if (signal == SIGINT) return "SIGINT";
  if (signal == SIGTERM) return "SIGTERM";
  return "signal " + std::to_string(signal);
}

void SetInterruptFolder(const fs::path& folder) {
  g_folder_set.store(false);
  const std::string text = folder.string();
  if (text.empty() || text.size() >= kTempPathMax) return;
  std::memcpy(g_folder, text.c_str(), text.size() + 1);
  g_folder_set.store(true);
}

void CheckInterrupted(const std::string& what) {
  if (CaptureStopRequested()) throw CommandError(what + ": interrupted");
}

void RemoveDeadTemporaries(const fs::path& folder) {
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    const std::size_t at = name.rfind(".part-");
    if (at == std::string::npos || !AbandonedByName(it->path(), at + 6)) continue;
    std::error_code ignore;
    if (it->is_regular_file(ignore)) fs::remove(it->path(), ignore);
  }
}

void WriteAtomically(const std::string& path, const std::function<void(const std::string& temp)>& body,
                     const fs::path& scratch_folder) {
  fs::path p(path);
  const fs::path folder = p.parent_path().empty() ? fs::path(".") : p.parent_path();
  // What a killed run left here goes first.
  RemoveDeadTemporaries(folder);
  fs::path temp = p.parent_path() / (p.stem().string() + ".part-" + RunOwnerText() + p.extension().string());
  const fs::path scratch =
      (scratch_folder.empty() ? p.parent_path() : scratch_folder) / ("~AWTemp" + temp.filename().string());
  const int slots[2] = {RegisterTemporary(temp.string()), RegisterTemporary(scratch.string())};
  const auto forget = [&] {
    UnregisterTemporary(slots[0]);
    UnregisterTemporary(slots[1]);
  };
  try {
    body(temp.string());
    std::error_code ec;
    if (!fs::exists(temp, ec)) throw CommandError(path + ": nothing was written");
    fs::rename(temp, p, ec);
    if (ec) throw CommandError(path + ": cannot write: " + ec.message());
    forget();
  } catch (...) {
    std::error_code ignore;
    fs::remove(temp, ignore);
    fs::remove(scratch, ignore);
    forget();
    throw;
  }
}

}  // namespace quarvel::cli
