#include "cli/batch.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <set>

#include "cli/cli_options.h"
#include "cli/commands.h"
#include "platform/paths/working_folder.h"

namespace quarvel::cli {
namespace {

namespace fs = std::filesystem;

bool IsListFile(const std::string& input) {
  const std::string ext = fs::path(input).extension().string();
  return ext == ".txt" || ext == ".list";
}

std::string LastLine(const std::string& text) {
  std::string t = text;
  while (!t.empty() && (t.back() == '\n' || t.back() == '\r')) t.pop_back();
  const auto nl = t.rfind('\n');
  return nl == std::string::npos ? t : t.substr(nl + 1);
}

const char* const kNotBegun = "not converted (interrupted)";

std::string ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// The warnings among a conversion's messages, without their prefix.
std::vector<std::string> Warnings(const std::string& messages) {
  constexpr std::string_view kWarning = "quarvel-cli: warning: ";
  std::vector<std::string> out;
  std::size_t at = 0;
  while (at < messages.size()) {
    std::size_t end = messages.find('\n', at);
    if (end == std::string::npos) end = messages.size();
    const std::string line = messages.substr(at, end - at);
    if (line.rfind(kWarning, 0) == 0) out.push_back(line.substr(kWarning.size()));
    at = end + 1;
  }
  return out;
}

}  // namespace

const char* BatchStatusName(BatchStatus status) {
  switch (status) {
    case BatchStatus::kOk: return "ok";
    case BatchStatus::kWarning: return "warning";
    case BatchStatus::kPartial: return "partial";
    case BatchStatus::kFailed: return "FAILED";
    case BatchStatus::kNotStarted: return "not run";
  }
  return "?";
}

PrivateFolder::PrivateFolder(const std::string& prefix) : owner_(::getpid()) {
  std::error_code ec;
  fs::path base = fs::temp_directory_path(ec);
  if (ec) base = "/tmp";
  RemoveAbandonedFolders(base, prefix);
  // The owner in the name lets a later run tell an abandoned folder (its
  // owner was killed) from one in use, also one of another container.
  std::string pattern = (base / (prefix + "-" + RunOwnerText() + "-XXXXXX")).string();
  if (::mkdtemp(pattern.data()) == nullptr)
    throw CommandError(base.string() + ": cannot make a private working folder: " + std::strerror(errno));
  path_ = pattern;
}

void RemoveAbandonedFolders(const fs::path& base, const std::string& prefix) {
  std::error_code ec;
  const std::string start = prefix + "-";
  for (fs::directory_iterator it(base, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.rfind(start, 0) != 0 || !AbandonedByName(it->path(), start.size())) continue;
    std::error_code rm;
    fs::remove_all(it->path(), rm);
  }
}

PrivateFolder::~PrivateFolder() {
  // A forked child leaves its parent's folder alone.
  if (::getpid() != owner_) return;
  std::error_code ec;
  fs::remove_all(path_, ec);
}

std::vector<std::string> ExpandBatchInputs(const std::vector<std::string>& inputs) {
  std::vector<std::string> movies;
  for (const std::string& raw : inputs) {
    const bool at = !raw.empty() && raw[0] == '@';
    const std::string input = at ? raw.substr(1) : raw;
    std::error_code ec;
    if (fs::is_directory(input, ec)) {
      std::vector<std::string> found;
      for (fs::directory_iterator it(input, ec), end; !ec && it != end; it.increment(ec)) {
        std::string ext = it->path().extension().string();
        std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return char(std::tolower(c)); });
        if (ext == ".swf" && it->is_regular_file(ec)) found.push_back(it->path().string());
      }
      if (found.empty()) throw UsageError("convert: " + input + ": a folder without .swf movies");
      std::sort(found.begin(), found.end());
      movies.insert(movies.end(), found.begin(), found.end());
    } else if (at || IsListFile(input)) {
      std::ifstream in(input);
      if (!in) throw UsageError("convert: " + input + ": cannot read the list of movies");
      const fs::path folder = fs::path(input).parent_path();
      std::string line;
      while (std::getline(in, line)) {
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t')) line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        // Names in a list count from the list's folder.
        const fs::path p(line);
        movies.push_back(p.is_absolute() ? line : (folder / p).string());
      }
    } else {
      // A missing movie fails on its own in the batch, like a damaged one.
      movies.push_back(input);
    }
  }
  return movies;
}

std::vector<BatchJob> PlanBatch(const std::vector<std::string>& movies, const fs::path& out_dir,
                                const std::string& extension) {
  std::vector<BatchJob> jobs;
  std::set<std::string> taken;
  for (const std::string& movie : movies) {
    const std::string stem = fs::path(movie).stem().string();
    std::string name = stem + extension;
    for (int n = 2; taken.count(name) > 0; ++n) name = stem + "-" + std::to_string(n) + extension;
    taken.insert(name);
    jobs.push_back({movie, (out_dir / name).string()});
  }
  return jobs;
}

std::vector<BatchResult> RunBatch(const std::vector<BatchJob>& jobs, int parallel, const ConvertOne& convert,
                                  const std::function<bool()>& stop, std::FILE* log) {
  PrivateFolder scratch("quarvel-batch");
  SetInterruptFolder(scratch.Path());
  std::vector<BatchResult> results(jobs.size());
  struct Running {
    std::size_t index;
    std::chrono::steady_clock::time_point started;
  };
  std::map<pid_t, Running> running;
  std::size_t next = 0, done = 0;
  const auto folder_of = [&](std::size_t i) { return scratch.Path() / std::to_string(i + 1); };
  std::fflush(nullptr);

  const auto finish = [&](pid_t pid, int status) {
    const Running r = running.at(pid);
    running.erase(pid);
    BatchResult& res = results[r.index];
    res.job = jobs[r.index];
    res.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - r.started).count();
    const fs::path folder = folder_of(r.index);
    const std::string record = ReadAll(folder / "result.txt");
    const std::string messages = ReadAll(folder / "messages.txt");
    const bool written = WIFEXITED(status) && record.rfind("frames=", 0) == 0;
    if (written) res.frames = std::atoll(record.c_str() + 7);
    res.warnings = Warnings(messages);
    std::error_code ec;
    if (written && record.find("\npartial=") != std::string::npos)
      res.status = BatchStatus::kPartial;
    else if (written && WEXITSTATUS(status) == 0)
      res.status = res.warnings.empty() ? BatchStatus::kOk : BatchStatus::kWarning;
    else
      res.status = BatchStatus::kFailed;
    res.ok = res.status == BatchStatus::kOk || res.status == BatchStatus::kWarning;
    if (res.status != BatchStatus::kFailed) res.bytes = fs::file_size(res.job.output, ec);
    if (res.status == BatchStatus::kPartial) {
      const int sig = std::atoi(record.c_str() + record.find("\npartial=") + 9);
      res.error = SignalName(sig) + " cut the capture short; the output holds the frames before";
    }
    if (res.status == BatchStatus::kFailed) {
      res.error = LastLine(messages);
      if (res.error.rfind("quarvel-cli: ", 0) == 0) res.error.erase(0, 13);
      if (res.error.empty())
        res.error = WIFSIGNALED(status) ? "killed by " + SignalName(WTERMSIG(status)) : "failed";
    }
    fs::remove_all(folder, ec);
    ++done;
    if (log) {
      if (res.status == BatchStatus::kFailed)
        std::fprintf(log, "[%zu/%zu] %s: FAILED: %s\n", done, jobs.size(), res.job.movie.c_str(), res.error.c_str());
      else
        std::fprintf(log, "[%zu/%zu] %s: %s%s, %lld frames, %.1f s, %ju bytes%s%s\n", done, jobs.size(),
                     res.job.movie.c_str(), res.status == BatchStatus::kPartial ? "partial: " : "",
                     res.job.output.c_str(), res.frames, res.seconds, res.bytes, res.error.empty() ? "" : "; ",
                     res.error.c_str());
      std::fflush(log);
    }
  };

  while (done < jobs.size()) {
    while (running.size() < std::size_t(std::max(parallel, 1)) && next < jobs.size() && !(stop && stop())) {
      const std::size_t i = next++;
      const fs::path folder = folder_of(i);
      std::error_code ec;
      fs::create_directories(folder, ec);
      const pid_t pid = ::fork();
      if (pid < 0) throw CommandError(std::string("cannot start a conversion: ") + std::strerror(errno));
      if (pid == 0) {
        // The child: its messages go to a file of its own, its frames and
        // sound to its own working folder.
        int code = 1;
        const int err = ::open((folder / "messages.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (err >= 0) ::dup2(err, STDERR_FILENO);
        const int null = ::open("/dev/null", O_WRONLY);
        if (null >= 0) ::dup2(null, STDOUT_FILENO);
        try {
          SetInterruptFolder(folder);
          const fs::path work = folder / "work";
          fs::create_directories(work);
          paths::SetWorkingFolder(work);
          ::setenv("QUARVEL_HOME", work.c_str(), 1);
          const long long frames = convert(jobs[i]);
          std::ofstream result(folder / "result.txt");
          result << "frames=" << frames << "\n";
          if (CaptureCutShort()) result << "partial=" << InterruptSignal() << "\n";
          code = CaptureCutShort() ? InterruptExitStatus() : 0;
        } catch (const std::exception& e) {
          std::fprintf(stderr, "quarvel-cli: %s\n", e.what());
          if (InterruptSignal() != 0) code = InterruptExitStatus();
        }
        std::fflush(nullptr);
        ::_exit(code);
      }
      running[pid] = Running{i, std::chrono::steady_clock::now()};
    }
    if (running.empty()) break;  // stopped before the rest began
    int status = 0;
    const pid_t pid = ::waitpid(-1, &status, 0);
    if (pid < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (running.count(pid)) finish(pid, status);
  }
  // Movies never begun (Ctrl-C) are reported as such.
  for (std::size_t i = 0; i < jobs.size(); ++i) {
    if (results[i].job.movie.empty()) {
      results[i].job = jobs[i];
      results[i].status = BatchStatus::kNotStarted;
      results[i].error = kNotBegun;
    }
  }
  return results;
}

std::string BatchResultName(const BatchResult& result) {
  switch (result.status) {
    case BatchStatus::kOk: return "ok";
    case BatchStatus::kWarning: return "warning";
    case BatchStatus::kPartial: return "partial";
    case BatchStatus::kFailed: return "failed";
    case BatchStatus::kNotStarted: return "not converted";
  }
  return "failed";
}

void PrintBatchSummary(const std::vector<BatchResult>& results, std::FILE* out) {
  std::size_t width = 5;
  for (const auto& r : results) width = std::max(width, r.job.movie.size());
  std::fprintf(out, "%-*s  %-7s  %7s  %8s  %12s\n", int(width), "movie", "result", "frames", "seconds",
               "output bytes");
  std::size_t converted = 0;
  for (const auto& r : results) {
    const std::string frames = r.frames >= 0 ? std::to_string(r.frames) : "-";
    const bool output = r.ok || r.status == BatchStatus::kPartial;
    const std::string bytes = output ? std::to_string(r.bytes) : "-";
    std::fprintf(out, "%-*s  %-7s  %7s  %8.2f  %12s\n", int(width), r.job.movie.c_str(), BatchStatusName(r.status),
                 frames.c_str(), r.seconds, bytes.c_str());
    // Why, under the row: the table may be all a quiet run shows.
    if (!r.error.empty()) std::fprintf(out, "    %s\n", r.error.c_str());
    for (const auto& w : r.warnings) std::fprintf(out, "    warning: %s\n", w.c_str());
    converted += r.ok ? 1 : 0;
  }
  const auto count = [&](BatchStatus s) {
    return std::count_if(results.begin(), results.end(), [s](const BatchResult& r) { return r.status == s; });
  };
  std::string more;
  if (const auto n = count(BatchStatus::kPartial)) more += ", " + std::to_string(n) + " partial";
  if (const auto n = count(BatchStatus::kNotStarted)) more += ", " + std::to_string(n) + " not run";
  std::fprintf(out, "%zu movies, %zu converted, %td failed%s\n", results.size(), converted,
               count(BatchStatus::kFailed), more.c_str());
}

}  // namespace quarvel::cli
