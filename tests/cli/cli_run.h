#pragma once
// Runs quarvel-cli as a subprocess in a private working folder.

#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace quarvel::testing {

struct CliResult {
  int status = -1;  // exit status, -1 when killed
  std::string out, err;
};

inline std::string ShellQuote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

inline std::string ReadText(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

class CliRunner {
 public:
  explicit CliRunner(const std::string& tag)
      : folder_(std::filesystem::temp_directory_path() / ("quarvel-cli-" + tag + "-" + std::to_string(::getpid()))) {
    std::filesystem::remove_all(folder_);
    std::filesystem::create_directories(folder_);
  }
  ~CliRunner() {
    std::error_code ec;
    std::filesystem::remove_all(folder_, ec);
  }
  const std::filesystem::path& Folder() const { return folder_; }
  std::filesystem::path WorkDir() const { return folder_ / "work"; }

  // Runs the program with --work-dir set to the private folder.
  CliResult Run(const std::vector<std::string>& args, bool with_work_dir = true) const {
    std::string cmd = ShellQuote(std::string(QUARVEL_BINARY_DIR) + "/src/cli/quarvel-cli");
    if (with_work_dir) cmd += " --work-dir " + ShellQuote(WorkDir().string());
    for (const auto& a : args) cmd += " " + ShellQuote(a);
    auto out = folder_ / "stdout.txt", err = folder_ / "stderr.txt";
    cmd += " >" + ShellQuote(out.string()) + " 2>" + ShellQuote(err.string()) + " </dev/null";
    int raw = std::system(cmd.c_str());
    CliResult r;
    r.status = (raw != -1 && WIFEXITED(raw)) ? WEXITSTATUS(raw) : -1;
    r.out = ReadText(out);
    r.err = ReadText(err);
    return r;
  }

 private:
  std::filesystem::path folder_;
};

inline std::string SampleMovie() { return std::string(QUARVEL_BINARY_DIR) + "/sample.swf"; }

}  // namespace quarvel::testing
