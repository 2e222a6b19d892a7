// The reader and the header code on the real files of the shared corpus,
// checked against the manifest's description of each header and against
// the parsed forms another parser made of some of them.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <fstream>
#include <cstdio>
#include <sstream>

#include "flash/swf_header.h"
#include "player/swf/movie.h"
#include "swf/corpus.h"

namespace quarvel::swf {
namespace {
namespace fs = std::filesystem;
using testing::CorpusMovies;

// "v7 zlib 550x400 10fps 1f" from the manifest's exercises column.
struct Described {
  int version = 0, width = 0, height = 0, frames = 0;
  char compression[16] = {};
  double fps = 0;
};

bool Describe(const std::string& exercises, Described& d) {
  const auto at = exercises.find("| v");
  if (at == std::string::npos) return false;
  return std::sscanf(exercises.c_str() + at + 2, "v%d %15s %dx%d %lffps %df", &d.version,
                     d.compression, &d.width, &d.height, &d.fps, &d.frames) == 6;
}

// The integer after "key": in a JSON text (first occurrence).
long JsonNumber(const std::string& json, const std::string& key) {
  const auto at = json.find("\"" + key + "\": ");
  EXPECT_NE(at, std::string::npos) << key;
  if (at == std::string::npos) return -1;
  return std::strtol(json.c_str() + at + key.size() + 4, nullptr, 10);
}

// Walks a tag stream and the streams of its sprites; returns the number of
// tags, and throws SwfError where the data is broken.
int WalkTags(TagStream s, int depth = 0) {
  int n = 0;
  while (auto t = s.Next()) {
    ++n;
    if (t->code == tag::kDefineSprite && depth < 8) {
      Reader r = t->BodyReader();
      r.U16("SpriteID");
      r.U16("FrameCount");
      const std::size_t at = r.Offset();
      n += WalkTags(TagStream(r.Rest(), at), depth + 1);
    }
    if (t->code == tag::kEnd) break;
  }
  return n;
}

class SwfCorpus : public ::testing::Test {
 protected:
  void SetUp() override {
    movies_ = CorpusMovies();
    if (movies_.empty()) GTEST_SKIP() << "no corpus at " << QUARVEL_SHARED_DIR;
    char tmpl[] = "/tmp/quarvel-corpus-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    home_ = tmpl;
    setenv("QUARVEL_HOME", home_.c_str(), 1);
  }
  void TearDown() override {
    unsetenv("QUARVEL_HOME");
    if (!home_.empty()) fs::remove_all(home_);
  }
  std::vector<testing::CorpusEntry> movies_;
  fs::path home_;
};

TEST_F(SwfCorpus, HeadersMatchTheManifest) {
  int checked = 0;
  for (const auto& m : movies_) {
    Described g;
    if (!Describe(m.exercises, g)) continue;
    SCOPED_TRACE(m.path);
    const std::vector<std::uint8_t> bytes = ReadFileBytes(m.file);
    Movie movie;
    ASSERT_NO_THROW(movie = OpenMovie(bytes));
    ++checked;
    EXPECT_EQ(movie.version, g.version);
    const std::string kind = g.compression;
    const Compression want = kind == "none"   ? Compression::kNone
                             : kind == "zlib" ? Compression::kZlib
                                              : Compression::kLzma;
    EXPECT_EQ(movie.compression, want);
    const flash::SwfBounds b = flash::ReadSwfHeader(bytes);
    EXPECT_EQ(b.Width(), g.width);
    EXPECT_EQ(b.Height(), g.height);
    EXPECT_DOUBLE_EQ(movie.header.FrameRate(), g.fps);
    EXPECT_EQ(flash::ReadSwfFrameRate(bytes), static_cast<int>(g.fps));
    EXPECT_EQ(movie.header.frameCount, g.frames);
    if (want != Compression::kNone) {
      // The expanded copy is the whole movie uncompressed.
      EXPECT_EQ(fs::file_size(flash::ExpandedCopyPath()), movie.data.size());
    }
  }
  EXPECT_EQ(checked, static_cast<int>(movies_.size()));
  std::cout << "[ corpus   ] " << checked << " headers checked\n";
}

TEST_F(SwfCorpus, EveryMovieWalksToItsEnd) {
  int clean = 0;
  std::vector<std::string> broken;
  for (const auto& m : movies_) {
    try {
      const Movie movie = LoadMovieFile(m.file);
      WalkTags(movie.TagsStream());
      ++clean;
    } catch (const SwfError& e) {
      broken.push_back(m.path + ": " + e.what());
    }
  }
  std::cout << "[ corpus   ] " << clean << " of " << movies_.size() << " movies walk cleanly\n";
  for (const auto& b : broken) std::cout << "[ broken   ] " << b << "\n";
  EXPECT_TRUE(broken.empty());
}

// The parsed form another parser made of a few movies (ast.json): header
// fields and the sequence of top-level tag types.
TEST_F(SwfCorpus, AgreesWithTheParsedMovies) {
  const fs::path dir = testing::CorpusFolder() / "open-flash-db-movies";
  if (!fs::exists(dir)) GTEST_SKIP();
  int seen = 0;
  for (const auto& entry : fs::directory_iterator(dir)) {
    const fs::path swf = entry.path() / "main.swf";
    std::ifstream js(entry.path() / "ast.json");
    if (!fs::exists(swf) || !js) continue;
    SCOPED_TRACE(swf.string());
    std::stringstream ss;
    ss << js.rdbuf();
    const std::string json = ss.str();
    auto number = [&](const char* key) { return JsonNumber(json, key); };
    const Movie movie = LoadMovieFile(swf);
    EXPECT_EQ(movie.version, number("swf_version"));
    EXPECT_EQ(movie.header.frameSize.xmin, number("x_min"));
    EXPECT_EQ(movie.header.frameSize.xmax, number("x_max"));
    EXPECT_EQ(movie.header.frameSize.ymin, number("y_min"));
    EXPECT_EQ(movie.header.frameSize.ymax, number("y_max"));
    EXPECT_EQ(movie.header.frameRate, number("frame_rate"));
    EXPECT_EQ(movie.header.frameCount, number("frame_count"));
    // Top-level tags sit at six spaces of indentation in these files.
    std::vector<std::string> want;
    const std::string marker = "\n      \"type\": \"";
    for (auto at = json.find(marker); at != std::string::npos; at = json.find(marker, at + 1)) {
      const auto start = at + marker.size();
      want.push_back(json.substr(start, json.find('"', start) - start));
    }
    std::vector<std::string> got;
    auto s = movie.TagsStream();
    while (auto t = s.Next()) {
      if (t->code != tag::kEnd) got.push_back(std::string(TagName(t->code)));
    }
    ASSERT_EQ(got.size(), want.size());
    for (std::size_t i = 0; i < got.size(); ++i) {
      // The parsed form folds versions together (PlaceObject for PlaceObject2).
      EXPECT_EQ(got[i].rfind(want[i], 0), 0u) << got[i] << " vs " << want[i];
    }
    ++seen;
  }
  EXPECT_GT(seen, 0);
}

}  // namespace
}  // namespace quarvel::swf
