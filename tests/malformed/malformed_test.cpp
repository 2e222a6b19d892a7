// Every command of quarvel-cli on every malformed movie: it ends (no crash,
// no hang), with status 0 or 1, one message naming the file when it fails,
// no output file then, nothing partial left in the working folder, and a
// peak memory under 1 GiB.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "malformed/malformed_cases.h"

namespace quarvel::testing {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr long kMemoryLimitBytes = 1L << 30;

struct Outcome {
  int status = -1;       // exit status; -signal when killed
  long peak_kib = 0;     // maximum resident set
  bool timed_out = false;
  std::string err;
};

std::string ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

Outcome RunCli(const std::vector<std::string>& args, const fs::path& err_file) {
  std::vector<std::string> all = {std::string(QUARVEL_BINARY_DIR) + "/src/cli/quarvel-cli"};
  all.insert(all.end(), args.begin(), args.end());
  const pid_t pid = ::fork();
  if (pid == 0) {
#ifndef QUARVEL_SANITIZED
    // Address space, not resident memory: generous, as thread stacks and
    // libraries count; the resident peak is checked below.
    const rlim_t limit = rlim_t{3} << 30;
    rlimit as{limit, limit};
    ::setrlimit(RLIMIT_AS, &as);
#endif
    const int err = ::open(err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int null = ::open("/dev/null", O_RDWR);
    ::dup2(null, 0);
    ::dup2(null, 1);
    ::dup2(err, 2);
    std::vector<char*> argv;
    for (auto& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  Outcome o;
  const auto give_up = std::chrono::steady_clock::now() + 180s;
  int raw = 0;
  rusage usage{};
  for (;;) {
    const pid_t done = ::wait4(pid, &raw, WNOHANG, &usage);
    if (done == pid) break;
    if (std::chrono::steady_clock::now() > give_up) {
      o.timed_out = true;
      ::kill(pid, SIGKILL);
      ::wait4(pid, &raw, 0, &usage);
      break;
    }
    std::this_thread::sleep_for(20ms);
  }
  o.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -WTERMSIG(raw);
  o.peak_kib = usage.ru_maxrss;
  o.err = ReadAll(err_file);
  return o;
}

std::vector<std::string> ErrorLines(const std::string& err) {
  std::vector<std::string> out;
  std::istringstream in(err);
  for (std::string line; std::getline(in, line);) {
    if (line.starts_with("quarvel-cli: ") && !line.starts_with("quarvel-cli: warning:")) out.push_back(line);
  }
  return out;
}

std::vector<std::string> Partial(const fs::path& folder) {
  std::vector<std::string> out;
  std::error_code ec;
  for (fs::recursive_directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.find(".part") != std::string::npos || name.ends_with(".saving") || name.starts_with("~AWTemp")) {
      out.push_back(it->path().string());
    }
  }
  return out;
}

class MalformedTest : public ::testing::TestWithParam<MalformedCase> {};

TEST_P(MalformedTest, EveryCommandEndsCleanly) {
  const MalformedCase& c = GetParam();
  const fs::path dir = fs::temp_directory_path() / ("quarvel-malformed-" + std::to_string(::getpid())) / c.name;
  fs::remove_all(dir);
  fs::create_directories(dir / "work");
  const fs::path movie = dir / (c.name + ".swf");
  const std::vector<std::uint8_t> bytes = c.bytes();
  std::ofstream(movie, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  const std::string work = (dir / "work").string();
  const fs::path png = dir / "out.png";
  const fs::path gif = dir / "out.gif";

  struct Command {
    std::vector<std::string> args;
    fs::path output;
  };
  const std::vector<Command> commands = {
      {{"info", movie.string()}, {}},
      {{"--work-dir", work, "--quiet", "capture", movie.string(), "--latency", "500"}, {}},
      {{"frame", movie.string(), png.string(), "--frame", "3"}, png},
      {{"sounds", movie.string()}, {}},
      {{"--work-dir", work, "--quiet", "convert", movie.string(), gif.string(), "--latency", "500", "--size",
        "200x150"},
       gif},
  };
  for (const Command& cmd : commands) {
    const std::string what = c.name + ": " + cmd.args[cmd.args[0] == "--work-dir" ? 3 : 0];
    SCOPED_TRACE(what);
    const Outcome o = RunCli(cmd.args, dir / "err.txt");
    ASSERT_FALSE(o.timed_out) << "no end in sight";
    EXPECT_TRUE(o.status == 0 || o.status == 1) << "status " << o.status << "\n" << o.err;
#ifndef QUARVEL_SANITIZED
    // The sanitizers' shadow memory and quarantine would be counted too.
    EXPECT_LT(o.peak_kib * 1024, kMemoryLimitBytes) << o.peak_kib << " KiB";
#endif
    if (o.status == 1) {
      const auto lines = ErrorLines(o.err);
      ASSERT_EQ(lines.size(), 1u) << o.err;
      const bool named = lines[0].find(movie.string()) != std::string::npos ||
                         (!cmd.output.empty() && lines[0].find(cmd.output.string()) != std::string::npos);
      EXPECT_TRUE(named) << lines[0];
      const std::size_t first = lines[0].find(movie.string());
      EXPECT_TRUE(first == std::string::npos || lines[0].find(movie.string(), first + 1) == std::string::npos)
          << "the file is named twice: " << lines[0];
      if (!cmd.output.empty()) {
        EXPECT_FALSE(fs::exists(cmd.output));
      }
    } else {
      EXPECT_TRUE(c.may_succeed) << "accepted a movie it must refuse";
    }
    EXPECT_EQ(Partial(dir), std::vector<std::string>{});
    std::error_code ec;
    fs::remove(cmd.output, ec);
  }
  fs::remove_all(dir);
}

std::string CaseName(const ::testing::TestParamInfo<MalformedCase>& info) {
  std::string n = info.param.name;
  for (char& ch : n) {
    if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
  }
  return n;
}

INSTANTIATE_TEST_SUITE_P(Cases, MalformedTest, ::testing::ValuesIn(MalformedCases()), CaseName);

}  // namespace
}  // namespace quarvel::testing
