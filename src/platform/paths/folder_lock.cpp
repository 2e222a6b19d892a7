#include "platform/paths/folder_lock.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstring>
#include <thread>
#include <utility>

namespace quarvel::paths {
namespace fs = std::filesystem;

namespace {

std::string InUseMessage(const fs::path& folder, pid_t holder) {
  return "working folder " + folder.string() + " is in use by " +
         (holder > 0 ? "process " + std::to_string(holder) : std::string("another process")) +
         "; wait for it to finish, use --wait, or give another --work-dir";
}

}  // namespace

void RemoveLeftovers(const fs::path& folder) {
  for (const fs::path& dir : {folder, folder / "temp"}) {
    std::error_code ec;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
      const fs::path& p = it->path();
      const std::string ext = p.extension().string();
      std::error_code ignore;
      // The AVI writer's scratch files ("~AWTemp...") wait here too.
      const bool scratch = p.filename().string().starts_with("~AWTemp");
      if ((ext == ".part" || ext == ".saving" || scratch) && it->is_regular_file(ignore)) fs::remove(p, ignore);
    }
  }
}

bool ProcessAlive(pid_t pid) { return pid > 0 && (::kill(pid, 0) == 0 || errno == EPERM); }

FolderLock::FolderLock(FolderLock&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), folder_(std::move(other.folder_)) {}

FolderLock& FolderLock::operator=(FolderLock&& other) noexcept {
  if (this != &other) {
    Release();
    fd_ = std::exchange(other.fd_, -1);
    folder_ = std::move(other.folder_);
  }
  return *this;
}

FolderLock::~FolderLock() { Release(); }

void FolderLock::Release() {
  if (fd_ < 0) return;
  // The file stays: removing it would let a third process lock a new file
  // while a second one holds the old one.
  ::close(fd_);
  fd_ = -1;
}

pid_t FolderLock::RecordedHolder(const fs::path& folder) {
  const int fd = ::open((folder / kLockFileName).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 0;
  char text[32] = {};
  const ssize_t n = ::read(fd, text, sizeof text - 1);
  ::close(fd);
  if (n <= 0) return 0;
  long pid = 0;
  std::from_chars(text, text + n, pid);
  return static_cast<pid_t>(pid);
}

FolderLock FolderLock::Acquire(const fs::path& folder, bool wait, const std::function<bool()>& cancelled) {
  std::error_code ec;
  fs::create_directories(folder, ec);
  if (ec) throw FolderLockError(folder, 0, "working folder " + folder.string() + ": " + ec.message());
  const fs::path file = folder / kLockFileName;
  const int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) {
    const int err = errno;
    throw FolderLockError(folder, 0, "working folder " + folder.string() + ": cannot write: " + std::strerror(err));
  }
  for (;;) {
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) break;
    const int err = errno;
    if (err != EWOULDBLOCK && err != EINTR) {
      ::close(fd);
      throw FolderLockError(folder, 0, "working folder " + folder.string() + ": cannot lock: " + std::strerror(err));
    }
    if (err == EWOULDBLOCK && (!wait || (cancelled && cancelled()))) {
      const pid_t holder = RecordedHolder(folder);
      ::close(fd);
      throw FolderLockError(folder, holder, InUseMessage(folder, holder));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  // The holder's id, for the message of the next one who tries.
  const std::string pid = std::to_string(::getpid()) + "\n";
  if (::ftruncate(fd, 0) != 0 || ::pwrite(fd, pid.data(), pid.size(), 0) != static_cast<ssize_t>(pid.size())) {
    const int err = errno;
    ::close(fd);
    throw FolderLockError(folder, 0, "working folder " + folder.string() + ": cannot write: " + std::strerror(err));
  }
  FolderLock lock;
  lock.fd_ = fd;
  lock.folder_ = folder;
  return lock;
}

}  // namespace quarvel::paths
