#pragma once
// convert over many movies: the inputs expanded (files, folders, list
// files), one output per movie in the output folder, and the conversions
// run in child processes, each in a private working folder of its own.

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace quarvel::cli {

struct BatchJob {
  std::string movie;
  std::string output;
};

// How a movie of a batch ended.
enum class BatchStatus {
  kOk,          // converted
  kWarning,     // converted, with warnings (a cut-off movie, a stopped script...)
  kPartial,     // a signal cut the capture short: the output holds its first part
  kFailed,      // no output; `error` says why
  kNotStarted,  // the batch was stopped before this movie began
};
// "ok", "warning", "partial", "FAILED", "not run": the table's and a report's word.
const char* BatchStatusName(BatchStatus status);

struct BatchResult {
  BatchJob job;
  BatchStatus status = BatchStatus::kNotStarted;
  bool ok = false;           // an output was written whole (kOk or kWarning)
  long long frames = -1;     // -1: unknown
  double seconds = 0;
  std::uintmax_t bytes = 0;
  std::string error;         // the conversion's last message when it failed
  std::vector<std::string> warnings;  // what the conversion warned of, without "quarvel-cli: warning: "
};

// Files as they are; a folder gives its *.swf files (sorted, not its
// subfolders); "@FILE" or a name ending in .txt or .list gives the movies
// it lists, one a line (blank lines and lines starting with # left out).
// Throws UsageError for an input that does not exist.
std::vector<std::string> ExpandBatchInputs(const std::vector<std::string>& inputs);

// DIR/<movie name><extension> for each movie; a name taken twice gets -2, -3...
std::vector<BatchJob> PlanBatch(const std::vector<std::string>& movies, const std::filesystem::path& out_dir,
                                const std::string& extension);

// One conversion, run in the child process with the working folder already
// set to a private one; returns the captured frame count or throws. A
// conversion whose capture a signal cut short (CaptureCutShort()) is partial.
using ConvertOne = std::function<long long(const BatchJob& job)>;

// Runs the jobs, at most `parallel` at once, each in a forked child with a
// private working folder under `scratch` (removed afterwards). `stop` is
// asked between launches (Ctrl-C). A line per movie goes to `log` as each
// one ends.
std::vector<BatchResult> RunBatch(const std::vector<BatchJob>& jobs, int parallel, const ConvertOne& convert,
                                  const std::function<bool()>& stop, std::FILE* log);

// The result of one movie as a word for reports: "ok", "warning", "partial",
// "failed", or "not converted" for a movie the batch never began (a signal).
std::string BatchResultName(const BatchResult& result);

// The summary table: movie, result, frames, seconds, output size; below a
// movie's row, why it failed and what it warned of.
void PrintBatchSummary(const std::vector<BatchResult>& results, std::FILE* out);

// A new private folder under the system's temporary folder, removed by the
// destructor with everything in it; its name carries the owner's run tag and
// process id. Making one first removes the folders of that prefix whose
// owner is provably gone (AbandonedByName).
class PrivateFolder {
 public:
  explicit PrivateFolder(const std::string& prefix);
  ~PrivateFolder();
  PrivateFolder(const PrivateFolder&) = delete;
  PrivateFolder& operator=(const PrivateFolder&) = delete;
  const std::filesystem::path& Path() const { return path_; }

 private:
  std::filesystem::path path_;
  pid_t owner_;
};

// Removes prefix-<tag>-<pid>-* folders under `base` left by runs that were
// killed (AbandonedByName).
void RemoveAbandonedFolders(const std::filesystem::path& base, const std::string& prefix);

}  // namespace quarvel::cli
