#pragma once
// One owner per working folder: an advisory lock (flock) on a file inside
// it, held while a command or the window uses the folder, so that two runs
// never mix their frames and sounds. The lock goes with the process, also
// when it is killed.

#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <sys/types.h>

namespace quarvel::paths {

// The folder is held by another process, or cannot be locked at all.
class FolderLockError : public std::runtime_error {
 public:
  FolderLockError(const std::filesystem::path& folder, pid_t holder, const std::string& message)
      : std::runtime_error(message), folder_(folder), holder_(holder) {}
  const std::filesystem::path& Folder() const { return folder_; }
  // Process id of the holder; 0 when unknown or when the lock could not be made.
  pid_t Holder() const { return holder_; }

 private:
  std::filesystem::path folder_;
  pid_t holder_;
};

inline constexpr const char* kLockFileName = ".quarvel.lock";

class FolderLock {
 public:
  FolderLock() = default;
  FolderLock(FolderLock&& other) noexcept;
  FolderLock& operator=(FolderLock&& other) noexcept;
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;
  ~FolderLock();

  // Creates the folder if needed and locks it. When another process holds
  // it: throws at once, or with `wait` tries again every 100 ms until it is
  // free or `cancelled` returns true (then throws). Also throws when the
  // lock file cannot be made (a read-only folder), naming folder and cause.
  static FolderLock Acquire(const std::filesystem::path& folder, bool wait = false,
                            const std::function<bool()>& cancelled = {});

  bool Held() const { return fd_ >= 0; }
  const std::filesystem::path& Folder() const { return folder_; }
  void Release();

  // The process id written in the folder's lock file; 0 when none.
  static pid_t RecordedHolder(const std::filesystem::path& folder);

 private:
  int fd_ = -1;
  std::filesystem::path folder_;
};

// Removes the partial files (".part", ".saving", the AVI writer's scratch
// "~AWTemp...") that a killed run left in the working folder and its
// capture folder. Only the lock's owner may.
void RemoveLeftovers(const std::filesystem::path& folder);

// Whether a process of that id is running (signal 0 probe).
bool ProcessAlive(pid_t pid);

}  // namespace quarvel::paths
