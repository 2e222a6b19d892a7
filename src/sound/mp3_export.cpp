#include "sound/mp3_export.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include "platform/paths/working_folder.h"

extern char** environ;

namespace quarvel::sound {

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

int RunAndWait(const std::vector<std::string>& argv, bool quiet) {
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
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

Mp3ExportResult ExportMp3(const std::filesystem::path& mp3_file, int bit_rate_entry, bool quiet) {
  const std::filesystem::path encoder = FindMp3Encoder();
  // Absolute paths never start with '-', so the encoder cannot take one for an option.
  const std::filesystem::path recording = std::filesystem::absolute(paths::RecordingFilePath());
  const std::filesystem::path target = std::filesystem::absolute(mp3_file);
  Mp3ExportResult result;
  result.exit_code = RunAndWait(Mp3CommandLine(encoder, Mp3BitRateForEntry(bit_rate_entry), recording, target), quiet);
  result.frame_label = std::string(kMp3DoneLabel);
  if (result.exit_code == -1) {
    result.error = "Can not start the MP3 encoder \"" + encoder.string() + "\"";
  } else if (result.exit_code != 0) {
    result.error = "The MP3 encoder could not convert \"" + recording.string() + "\" to \"" + target.string() +
                   "\" (exit code " + std::to_string(result.exit_code) + ")";
  }
  return result;
}

}  // namespace quarvel::sound
