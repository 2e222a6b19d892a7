// What getBytesTotal, getBytesLoaded, _framesloaded and _totalframes say of
// clips: the main movie, library sprites, empty clips, loaded files and
// loads that failed. Preloaders wait on these numbers.
#include <gtest/gtest.h>

#include <string>

#include "player/avm1/avm1_test_script.h"

namespace quarvel::player::script_test {
namespace {

// name = clip.getBytesTotal() + "/" + clip.getBytesLoaded() + "/" +
//        clip._framesloaded + "/" + clip._totalframes
Actions Record(const std::string& name, const Actions& clip) {
  auto join = [](const Actions& x, const Actions& y) { return Bin(Bin(x, Str("/"), Action::kAdd2), y, Action::kAdd2); };
  Actions v = join(join(join(Method(clip, "getBytesTotal"), Method(clip, "getBytesLoaded")), Member(clip, "_framesloaded")),
                   Member(clip, "_totalframes"));
  Actions a;
  return Set(a, name, v);
}

// A movie with `name`: a sprite of one frame holding a red square of `side`
// twips. The sprite's tags are the PlaceObject, the ShowFrame and the End tag.
SwfBuilder WithSquareClip(int side, const std::string& name) {
  auto b = Movie();
  b.DefineShape(1, Square(side, kRed));
  Timeline sprite;
  sprite.PlaceObject(1, 1).ShowFrame();
  b.DefineSprite(2, sprite);
  b.PlaceObject2({.depth = 1, .characterId = 2, .name = name});
  return b;
}

TEST(Avm1ClipBytes, MainMovieSpritesAndEmptyClipsReportTheirOwnLength) {
  auto b = WithSquareClip(200, "sq");
  Actions a;
  a.Append(Do(Var("_root"), "createEmptyMovieClip", {Str("empty"), Int(5)}));
  a.Append(Record("root", Var("_root")));
  a.Append(Record("sq", Var("sq")));
  a.Append(Record("empty", Var("empty")));
  b.DoAction(a.Stop()).ShowFrame();
  const std::size_t bytes = b.Build().size();
  Played r(b);
  EXPECT_EQ(r.Get("root"), std::to_string(bytes) + "/" + std::to_string(bytes) + "/1/1");
  const std::string sq = r.Get("sq");
  const int sqBytes = std::stoi(sq);
  EXPECT_GT(sqBytes, 4);                                   // more than an empty sprite's two tags
  EXPECT_LT(sqBytes, static_cast<int>(bytes) / 2);  // not the movie's length
  EXPECT_EQ(sq, std::to_string(sqBytes) + "/" + std::to_string(sqBytes) + "/1/1");
  EXPECT_EQ(r.Get("empty"), "0/0/1/1");
}

// "holder" (a library sprite with a square) asked to load `file`; later
// frames record what it reports and whether its square still shows.
SwfBuilder Loading(const std::string& file) {
  auto b = WithSquareClip(400, "holder");
  Actions first;
  first.Append(Record("before", Var("holder")));
  first.Append(Do(Var("holder"), "loadMovie", {Str(file)}));
  b.DoAction(first).ShowFrame();
  b.ShowFrame();
  b.ShowFrame();
  Actions last = Record("after", Var("holder"));
  Set(last, "progress", Member(Method(New("MovieClipLoader"), "getProgress", {Var("holder")}), "bytesTotal"));
  b.DoAction(last.Stop()).ShowFrame();
  return b;
}

TEST(Avm1ClipBytes, AFailedLoadLeavesTheClipEmptyWithMinusOneBytes) {
  // A missing file and a file that is neither picture nor movie fail alike.
  for (const std::string file : {"nothere.swf", "notes.swf"}) {
    SCOPED_TRACE(file);
    TempFolder folder;
    folder.Write(folder.Dir() / "notes.swf", "just some text, no movie");
    PlayedFile r(folder, Loading(file));
    r.player.AdvanceTo(1000);
    const std::string before = r.Get("before");
    EXPECT_NE(before.substr(0, 2), "-1");
    EXPECT_EQ(r.Get("after"), "-1/0/-1/0");
    EXPECT_EQ(r.Get("progress"), "-1");
    gdi::Bitmap bmp;
    r.player.Paint(bmp);
    EXPECT_EQ(bmp.GetPixel(5, 5), Color(255, 255, 255));  // its square went with the failed load
  }
}

TEST(Avm1ClipBytes, ALoadedFileReportsItsLengthAndUnloadingEmptiesTheCount) {
  TempFolder folder;
  WritePng(folder.Dir() / "pic.png", 8, 8, 0xFF0000FF);
  const auto size = std::filesystem::file_size(folder.Dir() / "pic.png");
  auto b = Loading("pic.png");
  PlayedFile r(folder, b);
  r.player.AdvanceTo(1000);
  EXPECT_EQ(r.Get("after"), std::to_string(size) + "/" + std::to_string(size) + "/1/1");
  EXPECT_EQ(r.Get("progress"), std::to_string(size));  // a loader's view of the same clip

  // A movie loaded into a clip counts the movie's length, as its header gives it.
  TempFolder folder2;
  auto child = Script(Actions());
  child.WriteFile(folder2.Dir() / "child.swf");
  const auto childSize = std::filesystem::file_size(folder2.Dir() / "child.swf");
  auto b2 = Loading("child.swf");
  PlayedFile r2(folder2, b2);
  r2.player.AdvanceTo(1000);
  EXPECT_EQ(r2.Get("after"), std::to_string(childSize) + "/" + std::to_string(childSize) + "/1/1");
}

}  // namespace
}  // namespace quarvel::player::script_test
