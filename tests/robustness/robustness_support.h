#pragma once
// quarvel-cli run in the background and under limits, and the movies the
// robustness tests share.

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "cli/cli_run.h"
#include "support/swf_builder.h"

extern char** environ;

namespace quarvel::testing {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

inline std::vector<std::uint8_t> ReadBytes(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::vector<std::uint8_t>((std::istreambuf_iterator<char>(in)), {});
}

inline void WriteBytes(const fs::path& p, std::span<const std::uint8_t> b) {
  std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
}

// How a background run starts.
struct Launch {
  std::vector<std::string> prefix;  // a program that runs quarvel-cli (unshare ...)
  bool work_dir = true;             // --work-dir set to the runner's
  bool own_group = false;           // a process group of its own, as a scheduler's job
  std::vector<std::string> env;     // NAME=VALUE set, NAME alone unset
};

// quarvel-cli started in the background, its output in files.
class Background {
 public:
  Background(const CliRunner& cli, const std::vector<std::string>& args, const std::string& tag,
             const Launch& how = {})
      : err_(cli.Folder() / (tag + ".err")), out_(cli.Folder() / (tag + ".out")) {
    std::vector<std::string> all = how.prefix;
    all.push_back(std::string(QUARVEL_BINARY_DIR) + "/src/cli/quarvel-cli");
    if (how.work_dir) {
      all.push_back("--work-dir");
      all.push_back(cli.WorkDir().string());
    }
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
      const std::string entry = *e;
      const std::string name = entry.substr(0, entry.find('='));
      const bool replaced = std::any_of(how.env.begin(), how.env.end(), [&](const std::string& x) {
        return x.substr(0, x.find('=')) == name;
      });
      if (!replaced) env.push_back(entry);
    }
    for (const auto& x : how.env)
      if (x.find('=') != std::string::npos) env.push_back(x);
    std::vector<char*> envp;
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 1, out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&fa, 2, err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    if (how.own_group) {
      posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
      posix_spawnattr_setpgroup(&attr, 0);
    }
    posix_spawnp(&pid_, argv[0], &fa, &attr, argv.data(), envp.data());
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&fa);
    group_ = how.own_group;
  }
  ~Background() {
    if (pid_ > 0) {
      if (group_) ::kill(-pid_, SIGKILL);
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }
  pid_t Pid() const { return pid_; }
  void Signal(int sig) const { ::kill(pid_, sig); }
  // To every process of its group (own_group), as a terminal's Ctrl-C or a scheduler does.
  void SignalGroup(int sig) const { ::kill(-pid_, sig); }
  // Exit status, -signal when killed.
  int Wait() {
    int raw = 0;
    ::waitpid(pid_, &raw, 0);
    pid_ = -1;
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : -WTERMSIG(raw);
  }
  std::string Err() const { return ReadText(err_); }
  std::string Out() const { return ReadText(out_); }

 private:
  fs::path err_, out_;
  pid_t pid_ = -1;
  bool group_ = false;
};

// Waits until the file exists with at least `size` bytes.
inline bool WaitForFile(const fs::path& p, std::uintmax_t size, std::chrono::seconds limit = 30s) {
  const auto end = std::chrono::steady_clock::now() + limit;
  std::error_code ec;
  while (std::chrono::steady_clock::now() < end) {
    if (fs::exists(p, ec) && fs::file_size(p, ec) >= size) return true;
    std::this_thread::sleep_for(20ms);
  }
  return false;
}

inline std::string Record(const CliRunner& cli) { return ReadText(cli.WorkDir() / "temp" / "last-capture.txt"); }

// A movie that runs for `seconds` seconds at 10 fps with a square moving.
inline fs::path LongMovie(const CliRunner& cli, int seconds) {
  SwfBuilder b(10, {0, 4000, 0, 3000}, 10.0);
  b.SetFrameCount(static_cast<std::uint16_t>(seconds * 10));
  ShapeBuilder s;
  s.Rectangle(0, 0, 400, 400, s.AddFill(FillStyle::Solid({200, 0, 0})));
  b.DefineShape(1, s);
  for (int f = 0; f < seconds * 10; ++f) {
    Placement p;
    p.depth = 1;
    if (f == 0) p.characterId = 1;
    p.move = f > 0;
    p.matrix = swf::Matrix{};
    p.matrix->translateX = (f * 37) % 3600;
    b.PlaceObject2(p);
    b.ShowFrame();
  }
  const fs::path path = cli.Folder() / "long.swf";
  b.WriteFile(path);
  return path;
}

// Runs quarvel-cli with files limited to `blocks` of 512 bytes, as a full
// disk would stop them (the signal that would end it is ignored).
inline CliResult RunWithFileLimit(const CliRunner& cli, int blocks, const std::vector<std::string>& args) {
  std::string cmd = "trap '' XFSZ; ulimit -f " + std::to_string(blocks) + "; exec " +
                    ShellQuote(std::string(QUARVEL_BINARY_DIR) + "/src/cli/quarvel-cli") + " --work-dir " +
                    ShellQuote(cli.WorkDir().string());
  for (const auto& a : args) cmd += " " + ShellQuote(a);
  const fs::path err = cli.Folder() / "limited.err";
  cmd = "sh -c " + ShellQuote(cmd) + " >/dev/null 2>" + ShellQuote(err.string()) + " </dev/null";
  const int raw = std::system(cmd.c_str());
  CliResult r;
  r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  r.err = ReadText(err);
  return r;
}


}  // namespace quarvel::testing
