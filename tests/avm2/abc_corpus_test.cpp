// Reads every ActionScript 3 block of the shared corpus and real-world
// movies and decodes every method body: real compilers' output is the
// oracle for the reader and the instruction table.
//
// With QUARVEL_ABC_SEEDS=DIR set, each block is also written there as a
// seed for the reader's fuzz target.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "player/avm2/code_decoder.h"
#include "player/swf/movie.h"

namespace quarvel::avm2 {
namespace {

namespace fs = std::filesystem;

struct Counts {
  int movies = 0, blocks = 0, classes = 0, methods = 0, bodies = 0;
  long instructions = 0;
};

void ReadBlock(const swf::Tag& t, Counts& n) {
  const DoAbcTag tag = ReadDoAbcTag(t.code, t.body, t.offset + t.headerSize);
  const AbcFile f = ParseAbc(tag.abc, tag.abcOffset);
  ++n.blocks;
  n.classes += static_cast<int>(f.classes.size());
  n.methods += static_cast<int>(f.methods.size());
  for (const MethodBody& b : f.bodies) {
    const DecodedCode code = DecodeCode(f, b);
    VerifyCode(f, b, code);
    ++n.bodies;
    n.instructions += static_cast<long>(code.instructions.size());
  }
  if (const char* dir = std::getenv("QUARVEL_ABC_SEEDS")) {
    std::ofstream(fs::path(dir) / ("corpus-" + std::to_string(n.blocks) + ".abc"), std::ios::binary)
        .write(reinterpret_cast<const char*>(tag.abc.data()), static_cast<std::streamsize>(tag.abc.size()));
  }
}

TEST(AbcCorpus, EveryBlockParsesAndEveryBodyDecodes) {
  const fs::path shared = QUARVEL_SHARED_DIR;
  if (!fs::exists(shared / "corpus")) GTEST_SKIP() << "no corpus at " << shared;
  std::vector<fs::path> files;
  for (const char* dir : {"corpus", "realworld"}) {
    if (!fs::exists(shared / dir)) continue;
    for (const auto& e : fs::recursive_directory_iterator(shared / dir))
      if (e.is_regular_file() && e.path().extension() == ".swf") files.push_back(e.path());
  }
  std::sort(files.begin(), files.end());

  Counts n;
  std::vector<std::string> failures;
  for (const auto& path : files) {
    swf::Movie movie;
    try {
      movie = swf::LoadMovieFile(path);
    } catch (const swf::SwfError&) {
      continue;  // the player's own corpus tests cover movies that do not open
    }
    bool any = false;
    swf::TagStream tags = movie.TagsStream();
    try {
      while (auto t = tags.Next()) {
        if (t->code == 0) break;
        if (t->code != kDoAbcTag && t->code != kDoAbcPlainTag) continue;
        any = true;
        try {
          ReadBlock(*t, n);
        } catch (const AbcError& e) {
          failures.push_back(path.string() + ": " + e.what());
        }
      }
    } catch (const swf::SwfError&) {
      // a cut-off tag stream: the blocks before the cut were read
    }
    n.movies += any;
  }
  std::printf("%d movies with ActionScript 3: %d blocks, %d classes, %d methods, %d bodies, %ld instructions\n",
              n.movies, n.blocks, n.classes, n.methods, n.bodies, n.instructions);
  for (const auto& f : failures) ADD_FAILURE() << f;
  // Floors from the corpus as it stands: a reader that skips blocks must not pass.
  EXPECT_GE(n.movies, 44);
  EXPECT_GE(n.blocks, 69);
}

}  // namespace
}  // namespace quarvel::avm2
