#include "sound/mp3_export.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <thread>

#include "platform/paths/working_folder.h"

extern char** environ;

namespace quarvel::sound {
namespace {

// The encoder says only that it could not write: a write of a little more
// than it managed, beside its output, finds the cause (a full disk, a file
// size limit); 0 when that write succeeds.
int WriteFailure(const std::filesystem::path& output) {
  std::error_code ec;
  const std::uintmax_t written = std::filesystem::file_size(output, ec);
  const std::filesystem::path probe = output.string() + ".probe";
  const int fd = ::open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) return errno;
  const std::vector<char> block(64 * 1024, 0);
  std::uintmax_t left = (ec ? 0 : written) + block.size();
  int err = 0;
  while (left > 0 && err == 0) {
    const ssize_t n = ::write(fd, block.data(), std::min<std::uintmax_t>(left, block.size()));
    if (n < 0) err = errno == EINTR ? 0 : errno;
    else left -= static_cast<std::uintmax_t>(n);
  }
  if (err == 0 && ::fsync(fd) != 0) err = errno;
  ::close(fd);
  ::unlink(probe.c_str());
  return err;
}

}  // namespace

int Mp3BitRateForEntry(int index) {
  if (index < 0 || index >= static_cast<int>(kMp3BitRates.size())) return kMp3BitRates[kDefaultMp3BitRateEntry];
  return kMp3BitRates[static_cast<std::size_t>(index)];
}

std::filesystem::path FindMp3Encoder() {
  const std::filesystem::path beside = paths::ExecutableFolder() / "lame";
  std::error_code ec;
  if (std::filesystem::is_regular_file(beside, ec) && ::access(beside.c_str(), X_OK) == 0) return beside;
  return "lame";
}

std::vector<std::string> Mp3CommandLine(const std::filesystem::path& encoder, int bit_rate,
                                        const std::filesystem::path& recording, const std::filesystem::path& mp3) {
  return {encoder.string(), "-b", std::to_string(bit_rate), "-h", "-q", "2", "-d", recording.string(), mp3.string()};
}

int RunAndWait(const std::vector<std::string>& argv, bool quiet, const std::function<bool()>& stop) {
  if (argv.empty() || argv[0].empty()) return -1;
  std::vector<char*> args;
  args.reserve(argv.size() + 1);
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = 0;
  const bool search = argv[0].find('/') == std::string::npos;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  // The encoder talks on standard error even when asked to be quiet.
  if (quiet) posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  const int rc = search ? posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ)
                        : posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return -1;
  int status = 0;
  bool ended = false;
  for (;;) {
    const pid_t got = waitpid(pid, &status, stop ? WNOHANG : 0);
    if (got == pid) break;
    if (got < 0 && errno != EINTR) return -1;
    if (stop && !ended && stop()) {
      ::kill(pid, SIGTERM);
      ended = true;
    }
    if (stop && got == 0) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

Mp3ExportResult ExportMp3(const std::filesystem::path& mp3_file, int bit_rate_entry, bool quiet,
                          const std::function<bool()>& stop) {
  const std::filesystem::path encoder = FindMp3Encoder();
  // Absolute paths never start with '-', so the encoder cannot take one for an option.
  const std::filesystem::path recording = std::filesystem::absolute(paths::RecordingFilePath());
  const std::filesystem::path target = std::filesystem::absolute(mp3_file);
  Mp3ExportResult result;
  result.exit_code =
      RunAndWait(Mp3CommandLine(encoder, Mp3BitRateForEntry(bit_rate_entry), recording, target), quiet, stop);
  result.frame_label = std::string(kMp3DoneLabel);
  if (stop && stop()) {
    // A Ctrl-C of the whole group ends the encoder too, before it is asked.
    result.stopped = true;
    result.error = "interrupted";
  } else if (result.exit_code == -1) {
    result.error = "Can not start the MP3 encoder \"" + encoder.string() + "\"";
  } else if (result.exit_code != 0) {
    result.error = "The MP3 encoder could not convert \"" + recording.string() + "\" to \"" + target.string() +
                   "\" (exit code " + std::to_string(result.exit_code) + ")";
    // An exit by signal (128 + n) wrote nothing more to learn from.
    if (result.exit_code < 128)
      if (const int err = WriteFailure(target)) result.error += ": " + std::string(std::strerror(err));
  }
  return result;
}

}  // namespace quarvel::sound
