// convert over many movies at once: the same outputs as one by one, a
// damaged movie failing alone, and conversions at once kept apart.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>

#include "cli/cli_run.h"

namespace quarvel::testing {
namespace {

namespace fs = std::filesystem;

std::string Bytes(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Up to n small corpus movies, in a stable order.
std::vector<fs::path> CorpusMovies(std::size_t n) {
  const fs::path folder = fs::path(QUARVEL_SHARED_DIR) / "corpus" / "swfdec" / "test" / "image";
  std::vector<fs::path> found;
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
    if (it->path().extension() == ".swf" && it->file_size() < 64 * 1024) found.push_back(it->path());
  std::sort(found.begin(), found.end());
  if (found.size() > n) found.resize(n);
  return found;
}

std::vector<std::string> Short(const std::string& size = "100x75") {
  return {"--latency", "100", "--duration", "500", "--size", size, "--sound", "none"};
}
const std::vector<std::string> kShort = Short();

std::vector<std::string> With(std::vector<std::string> args, const std::vector<std::string>& more) {
  args.insert(args.end(), more.begin(), more.end());
  return args;
}

TEST(CliBatch, ParallelGivesWhatOneByOneGivesAndADamagedMovieFailsAlone) {
  const auto movies = CorpusMovies(20);
  if (movies.size() < 20) GTEST_SKIP() << "fewer than 20 corpus movies";
  CliRunner cli("batch");
  const fs::path broken = cli.Folder() / "damaged.swf";
  std::ofstream(broken, std::ios::binary) << "this is no movie at all";
  // A list file names half of them, the rest are given directly.
  const fs::path list = cli.Folder() / "movies.txt";
  {
    std::ofstream out(list);
    out << "# first half\n\n";
    for (std::size_t i = 0; i < 10; ++i) out << movies[i].string() << "\n";
  }
  std::vector<std::string> args = {"convert", "@" + list.string(), broken.string()};
  for (std::size_t i = 10; i < movies.size(); ++i) args.push_back(movies[i].string());
  const fs::path out_dir = cli.Folder() / "out";
  CliResult r = cli.Run(With(args, With({"--out-dir", out_dir.string(), "--format", "gif", "-j", "2"}, kShort)), false);
  EXPECT_EQ(r.status, 1) << "one movie failed: " << r.err;
  EXPECT_NE(r.out.find("21 movies, 20 converted, 1 failed"), std::string::npos) << r.out;
  EXPECT_NE(r.err.find("damaged.swf: FAILED"), std::string::npos) << r.err;
  EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 22) << "a line per movie and the header: " << r.err;
  EXPECT_FALSE(fs::exists(out_dir / "damaged.gif"));

  for (const fs::path& movie : movies) {
    SCOPED_TRACE(movie.filename().string());
    const fs::path alone = cli.Folder() / ("alone-" + movie.stem().string() + ".gif");
    CliResult one = cli.Run(With({"convert", movie.string(), alone.string()}, kShort));
    ASSERT_EQ(one.status, 0) << one.err;
    const fs::path batched = out_dir / (movie.stem().string() + ".gif");
    ASSERT_TRUE(fs::exists(batched));
    EXPECT_TRUE(Bytes(alone) == Bytes(batched));
  }
  // Nothing of the children's working folders stays behind in the output folder.
  for (const auto& e : fs::directory_iterator(out_dir)) EXPECT_EQ(e.path().extension(), ".gif") << e.path();
}

TEST(CliBatch, TwoConvertsAtOnceWithoutAWorkingFolderStayApart) {
  const auto movies = CorpusMovies(2);
  if (movies.size() < 2) GTEST_SKIP() << "no corpus movies";
  CliRunner cli("apart");
  std::string run;
  for (int i = 0; i < 2; ++i) {
    std::string cmd = "env -u QUARVEL_HOME " + ShellQuote(std::string(QUARVEL_BINARY_DIR) + "/src/cli/quarvel-cli") +
                      " -q convert " + ShellQuote(SampleMovie()) + " " +
                      ShellQuote((cli.Folder() / ("at-once-" + std::to_string(i) + ".gif")).string());
    // The second uses another size: shared frames would show in one of them.
    for (const auto& a : Short(i == 0 ? "100x75" : "160x120")) cmd += " " + ShellQuote(a);
    run += cmd + " & ";
  }
  ASSERT_EQ(std::system((run + "wait").c_str()), 0);
  for (int i = 0; i < 2; ++i) {
    const fs::path alone = cli.Folder() / ("alone-" + std::to_string(i) + ".gif");
    ASSERT_EQ(cli.Run(With({"convert", SampleMovie(), alone.string()}, Short(i == 0 ? "100x75" : "160x120"))).status, 0);
    EXPECT_TRUE(Bytes(alone) == Bytes(cli.Folder() / ("at-once-" + std::to_string(i) + ".gif"))) << i;
  }
}

// The report read back by Python's JSON parser, one line per movie:
// input|output|result|error|frames|movie_seconds|wall_seconds|output_bytes.
std::vector<std::string> ReportLines(const CliRunner& cli, const fs::path& report) {
  const fs::path flat = cli.Folder() / "report.txt";
  const std::string script =
      "import json,sys\n"
      "d=json.load(open(sys.argv[1]))\n"
      "assert d['converted']+d['failed']==len(d['movies'])\n"
      "for m in d['movies']: print('|'.join(str(m[k]) for k in ('input','output','result','error','frames',"
      "'movie_seconds','wall_seconds','output_bytes')))\n";
  const std::string cmd = "python3 -c " + ShellQuote(script) + " " + ShellQuote(report.string()) + " >" +
                          ShellQuote(flat.string());
  if (std::system(cmd.c_str()) != 0) return {};
  std::vector<std::string> lines;
  std::ifstream in(flat);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::vector<std::string> Fields(const std::string& line) {
  std::vector<std::string> out;
  std::size_t start = 0;
  for (std::size_t bar; (bar = line.find('|', start)) != std::string::npos; start = bar + 1)
    out.push_back(line.substr(start, bar - start));
  out.push_back(line.substr(start));
  return out;
}

TEST(CliBatch, ReportHasARecordPerMovieAndNamesTheError) {
  CliRunner cli("report");
  const fs::path broken = cli.Folder() / "broken.swf";
  std::ofstream(broken, std::ios::binary) << "FWS\x08 cut short";
  const fs::path out_dir = cli.Folder() / "out", report = cli.Folder() / "reports" / "batch.json";
  fs::create_directories(report.parent_path());
  CliResult r = cli.Run(With({"convert", SampleMovie(), broken.string(), "--out-dir", out_dir.string(), "--format",
                              "gif", "-j", "2", "--report", report.string()},
                             kShort),
                        false);
  EXPECT_EQ(r.status, 1) << r.err;
  const auto lines = ReportLines(cli, report);
  ASSERT_EQ(lines.size(), 2u) << "not valid JSON, or not a record per movie: " << ReadText(report);

  const auto good = Fields(lines[0]);
  ASSERT_EQ(good.size(), 8u) << lines[0];
  EXPECT_EQ(good[0], SampleMovie());
  EXPECT_EQ(good[1], (out_dir / "sample.gif").string());
  EXPECT_EQ(good[2], "ok");
  EXPECT_EQ(good[3], "");
  EXPECT_EQ(good[4], "5") << "half a second at 100 ms";
  EXPECT_DOUBLE_EQ(std::stod(good[5]), 0.5);
  EXPECT_GT(std::stod(good[6]), 0.0);
  EXPECT_EQ(good[7], std::to_string(fs::file_size(out_dir / "sample.gif")));

  const auto bad = Fields(lines[1]);
  ASSERT_EQ(bad.size(), 8u) << lines[1];
  EXPECT_EQ(bad[0], broken.string());
  EXPECT_EQ(bad[2], "failed");
  EXPECT_NE(bad[3].find("broken.swf"), std::string::npos) << "the error names the movie: " << bad[3];
  EXPECT_EQ(bad[4], "None");
  EXPECT_EQ(bad[5], "None");
  EXPECT_EQ(bad[7], "0");

  // A report without a batch, or into a missing folder, is refused before any work.
  r = cli.Run({"convert", SampleMovie(), "x.gif", "--report", report.string()});
  EXPECT_EQ(r.status, 2) << r.err;
  r = cli.Run(With({"convert", SampleMovie(), "--out-dir", out_dir.string(), "--format", "gif", "--report",
                    (cli.Folder() / "missing" / "r.json").string()},
                   kShort),
              false);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("missing"), std::string::npos) << r.err;
}

TEST(CliBatch, BadBatchesAreRefusedBeforeAnyWork) {
  CliRunner cli("batch-usage");
  CliResult r = cli.Run({"convert", SampleMovie(), SampleMovie(), "x.gif"});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("--out-dir"), std::string::npos) << r.err;
  r = cli.Run({"convert", SampleMovie(), "--out-dir", cli.Folder().string()});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("--format"), std::string::npos) << r.err;
  r = cli.Run({"convert", SampleMovie(), "--out-dir", cli.Folder().string(), "--format", "mp4", "--quality", "80"});
  EXPECT_EQ(r.status, 2) << "a WebP quality for MP4 outputs";
  r = cli.Run({"convert", SampleMovie()});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("OUT is required"), std::string::npos) << r.err;
}

}  // namespace
}  // namespace quarvel::testing
