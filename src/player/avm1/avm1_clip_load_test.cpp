// Pictures and movies loaded into clips: what is drawn, what the clip
// keeps, and what scripts see of the loaded content.
#include <gtest/gtest.h>

#include <optional>

#include "player/avm1/avm1_test_script.h"
#include "player/display/stage.h"

namespace quarvel::player::script_test {
namespace {

constexpr Color cWhite{255, 255, 255}, cRed{255, 0, 0}, cGreen{0, 255, 0}, cBlue{0, 0, 255};

// _root[name] = value, from inside a handler.
Actions SetRoot(const std::string& name, const Actions& value) {
  return SetMember(Var("_root"), name, value);
}

// "holder" at (10, 20), holding a child clip and a blue drawing, with a
// property of its own; a MovieClipLoader whose onLoadInit records what the
// clip holds then.
Actions HolderLoading(const std::string& file) {
  Actions a;
  a.Append(Do(Var("_root"), "createEmptyMovieClip", {Str("holder"), Int(1)}));
  a.Append(SetMember(Var("holder"), "_x", Int(10)));
  a.Append(SetMember(Var("holder"), "_y", Int(20)));
  a.Append(SetMember(Var("holder"), "tag", Str("kept")));
  a.Append(Do(Var("holder"), "createEmptyMovieClip", {Str("kid"), Int(3)}));
  a.Append(Do(Var("holder"), "beginFill", {Int(0x0000FF)}));
  a.Append(Do(Var("holder"), "moveTo", {Int(0), Int(0)}));
  a.Append(Do(Var("holder"), "lineTo", {Int(60), Int(0)}));
  a.Append(Do(Var("holder"), "lineTo", {Int(60), Int(60)}));
  a.Append(Do(Var("holder"), "lineTo", {Int(0), Int(60)}));
  a.Append(Do(Var("holder"), "endFill", {}));
  Set(a, "mcl", New("MovieClipLoader"));
  a.Append(SetMember(Var("mcl"), "onLoadInit",
                     Function({"t"}, SetRoot("w", Member(Var("t"), "_width"))
                                         .Append(SetRoot("h", Member(Var("t"), "_height")))
                                         .Append(SetRoot("kid", Actions().Append(Member(Var("t"), "kid"))
                                                                    .Raw(Code(Action::kTypeOf))))
                                         .Append(SetRoot("same", Bin(Var("t"), Var("holder"), Action::kStrictEquals)))
                                         .Append(SetRoot("version", Method(Var("t"), "getSWFVersion"))))));
  a.Append(SetMember(Var("mcl"), "onLoadError", Function({"t", "code"}, SetRoot("error", Var("code")))));
  a.Append(Do(Var("mcl"), "loadClip", {Str(file), Var("holder")}));
  return a;
}

TEST(Avm1ClipLoad, APictureReplacesTheClipsContentAndKeepsTheClip) {
  TempFolder folder;
  WritePng(folder.Dir() / "pic.png", 20, 10, 0xFFFF0000);
  Actions a = HolderLoading("pic.png");
  Set(a, "kidWhileAsking", Member(Member(Var("holder"), "kid"), "_name"));
  PlayedFile r(folder, a);
  // Nothing changes while the script that asked runs.
  EXPECT_EQ(r.Get("kidWhileAsking"), "kid");
  r.player.AdvanceTo(300);
  EXPECT_EQ(r.Get("error"), "");
  EXPECT_EQ(r.Get("same"), "true");
  EXPECT_EQ(r.Get("w"), "20");
  EXPECT_EQ(r.Get("h"), "10");
  EXPECT_EQ(r.Get("kid"), "undefined");  // children go
  EXPECT_EQ(r.Get("version"), "-1");     // a picture is no movie
  EXPECT_EQ(r.Get("holder._x"), "10");   // the transform stays
  EXPECT_EQ(r.Get("holder.tag"), "kept");
  gdi::Bitmap bmp;
  r.player.Paint(bmp);
  EXPECT_EQ(bmp.GetPixel(15, 25), cRed);    // the picture at the clip's origin
  EXPECT_EQ(bmp.GetPixel(35, 25), cWhite);  // the old drawing went too
  EXPECT_EQ(bmp.GetPixel(15, 35), cWhite);
}

TEST(Avm1ClipLoad, ClipsMadeAfterTheLoadLieAboveThePicture) {
  TempFolder folder;
  WritePng(folder.Dir() / "pic.png", 40, 40, 0xFF00FF00);
  Actions a;
  a.Append(Do(Var("_root"), "createEmptyMovieClip", {Str("holder"), Int(1)}));
  // holder.loadMovie("pic.png"); the next frames add a red square inside.
  a.Append(Do(Var("holder"), "loadMovie", {Str("pic.png")}));
  auto b = Movie();
  b.DoAction(a).ShowFrame();
  b.ShowFrame();
  Actions later;
  later.Append(Do(Var("holder"), "createEmptyMovieClip", {Str("top"), Int(0)}));
  for (auto [x, y] : {std::pair{0, 0}, {10, 0}, {10, 10}, {0, 10}}) {
    if (x == 0 && y == 0) {
      later.Append(Do(Member(Var("holder"), "top"), "beginFill", {Int(0xFF0000)}));
      later.Append(Do(Member(Var("holder"), "top"), "moveTo", {Int(x), Int(y)}));
    } else {
      later.Append(Do(Member(Var("holder"), "top"), "lineTo", {Int(x), Int(y)}));
    }
  }
  b.DoAction(later.Stop()).ShowFrame();
  PlayedFile r(folder, b);
  r.player.AdvanceTo(500);
  gdi::Bitmap bmp;
  r.player.Paint(bmp);
  EXPECT_EQ(bmp.GetPixel(5, 5), cRed);
  EXPECT_EQ(bmp.GetPixel(30, 30), cGreen);
  EXPECT_EQ(r.Get("holder._width"), "40");
}

TEST(Avm1ClipLoad, UnloadingAndFailingLoads) {
  TempFolder folder;
  WritePng(folder.Dir() / "pic.png", 20, 20, 0xFF0000FF);
  folder.Write(folder.Dir() / "broken.png", std::string("\x89PNG\r\n\x1a\n", 8) + "not a picture");
  {
    // A damaged picture: an error, and the clip emptied as for any load
    // (its properties stay).
    PlayedFile r(folder, HolderLoading("broken.png"));
    r.player.AdvanceTo(300);
    EXPECT_EQ(r.Get("error"), "LoadNeverCompleted");
    EXPECT_EQ(r.player.GetVariable("holder.kid._name"), "");
    EXPECT_EQ(r.Get("holder._x"), "10");
    gdi::Bitmap bmp;
    r.player.Paint(bmp);
    EXPECT_EQ(bmp.GetPixel(15, 25), cWhite);
  }
  {
    Actions a = HolderLoading("pic.png");
    auto b = Movie();
    b.DoAction(a).ShowFrame().ShowFrame().ShowFrame();
    Actions unload;
    unload.Append(SetMember(Var("holder"), "onUnload", Function({}, SetRoot("unloaded", Str("yes")))));
    unload.Append(Do(Var("holder"), "unloadMovie", {}));
    b.DoAction(unload.Stop()).ShowFrame();
    PlayedFile r(folder, b);
    r.player.AdvanceTo(250);
    gdi::Bitmap shown;
    r.player.Paint(shown);
    EXPECT_EQ(shown.GetPixel(15, 25), cBlue);  // the picture
    r.player.AdvanceTo(500);
    gdi::Bitmap gone;
    r.player.Paint(gone);
    EXPECT_EQ(gone.GetPixel(15, 25), cWhite);
    EXPECT_EQ(r.Get("holder._x"), "10");
    EXPECT_EQ(r.Get("unloaded"), "yes");  // the clip stays but hears its unload
  }
}

TEST(Avm1ClipLoad, APictureLoadedIntoLevelZeroTakesTheMoviesPlace) {
  TempFolder folder;
  WritePng(folder.Dir() / "pic.png", 30, 30, 0xFF00FF00);
  auto b = Movie();
  ShapeBuilder red = Square(2000, kRed);
  b.DefineShape(1, red);
  b.PlaceObject2({.depth = 1, .characterId = 1});
  Actions a;
  a.PushString("pic.png").PushString("_level0").Raw(Code(Action::kGetUrl2), std::vector<std::uint8_t>{0x40});
  b.DoAction(a).ShowFrame();
  b.ShowFrame();
  PlayedFile r(folder, b);
  r.player.AdvanceTo(400);
  gdi::Bitmap bmp;
  r.player.Paint(bmp);
  EXPECT_EQ(bmp.GetPixel(10, 10), cGreen);
  EXPECT_EQ(bmp.GetPixel(50, 50), cWhite);
}

// A movie of its own: shape 1 is a green 20-pixel square placed at depth 1;
// its two frames count `n` up on its own timeline, then it stops. It marks
// its _root with mark = "mine" and attaches its symbol "box" (sprite 3,
// holding shape 1) as "b".
SwfBuilder ChildMovie(std::optional<swf::Rgba> background = std::nullopt) {
  SwfBuilder b(8, {0, 2000, 0, 2000}, 10.0);
  if (background) b.SetBackgroundColor(*background);
  b.DefineShape(1, Square(400, {0, 255, 0, 255}));
  b.DefineSprite(3, Timeline().PlaceObject2({.depth = 1, .characterId = 1}).ShowFrame());
  b.ExportAssets({{3, "box"}});
  b.PlaceObject2({.depth = 1, .characterId = 1});
  Actions first;
  first.Append(Do(Var("this"), "attachMovie", {Str("box"), Str("b"), Int(10)}));
  Set(first, "n", Int(1));
  first.Append(SetMember(Var("_root"), "mark", Str("mine")));
  b.DoAction(first).ShowFrame();
  Actions second;
  Set(second, "n", Int(2));
  b.DoAction(second.Stop()).ShowFrame();
  return b;
}

TEST(Avm1ClipLoad, AMovieLoadedIntoAClipPlaysWithItsOwnLibrary) {
  TempFolder folder;
  ChildMovie().WriteFile(folder.Dir() / "child.swf");
  // The main movie's shape 1 is red and fills the stage below the holder.
  auto b = Movie();
  b.DefineShape(1, Square(2000, kRed));
  b.DefineSprite(3, Timeline().PlaceObject2({.depth = 1, .characterId = 1}).ShowFrame());
  b.ExportAssets({{3, "box"}});
  b.PlaceObject2({.depth = 1, .characterId = 1});
  Actions a;
  a.Append(Do(Var("_root"), "createEmptyMovieClip", {Str("holder"), Int(5)}));
  a.Append(SetMember(Var("holder"), "_x", Int(10)));
  a.Append(SetMember(Var("holder"), "tag", Str("gone")));
  a.Append(Do(Var("holder"), "loadMovie", {Str("child.swf")}));
  b.DoAction(a.Stop()).ShowFrame();
  PlayedFile r(folder, b);
  r.player.AdvanceTo(600);
  EXPECT_EQ(r.Get("holder.n"), "2");  // its frames ran, in the clip
  EXPECT_EQ(r.Get("mark"), "mine");   // its _root is the main movie's
  EXPECT_EQ(r.Get("holder.b._width"), "20");  // its own "box"
  EXPECT_EQ(r.Get("holder._width"), "20");
  EXPECT_EQ(r.Get("holder._x"), "10");
  EXPECT_EQ(r.Get("holder.tag"), "");  // a movie brings the clip fresh variables
  gdi::Bitmap bmp;
  r.player.Paint(bmp);
  EXPECT_EQ(bmp.GetPixel(15, 5), cGreen);  // its shape 1, not the main movie's
  EXPECT_EQ(bmp.GetPixel(5, 5), cRed);
  EXPECT_EQ(bmp.GetPixel(50, 50), cRed);
}

// Object.registerClass keeps classes by export name, one register for the
// movies of version 6 and below (any case) and one for 7 on (exact case):
// a loaded movie's symbol takes the class the main movie registered for its
// name when both movies share a register, whatever the symbols' ids.
TEST(Avm1ClipLoad, RegisteredClassesFollowTheExportNameAcrossMoviesOfOneVersionGroup) {
  struct Case {
    std::uint8_t main, child;
    const char* registered;
    const char* made;
  } cases[] = {{8, 8, "Sym", "class"},  {8, 7, "Sym", "class"},  {8, 8, "SYM", ""},
               {6, 6, "SYM", "class"}, {6, 8, "Sym", ""},       {8, 6, "Sym", ""}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.main) + " " + std::to_string(c.child) + " " + c.registered);
    TempFolder folder;
    // The child's symbol 9 is exported as "Sym"; it attaches it in its first frame.
    SwfBuilder child(c.child, {0, 2000, 0, 2000}, 10.0);
    child.DefineSprite(9, Timeline().ShowFrame());
    child.ExportAssets({{9, "Sym"}});
    child.DoAction(Do(Var("this"), "attachMovie", {Str("Sym"), Str("s"), Int(1)}).Stop()).ShowFrame();
    child.WriteFile(folder.Dir() / "child.swf");
    // The main movie's own symbol 9 has another name.
    auto b = Movie(c.main);
    b.DefineSprite(9, Timeline().ShowFrame());
    b.ExportAssets({{9, "other"}});
    Actions made;
    Set(made, "_level0.made", Str("class"));
    Actions a;
    Set(a, "_global.Custom", Function({}, made));
    a.Append(Do(Var("Object"), "registerClass", {Str(c.registered), Var("_global.Custom")}));
    a.Append(Do(Var("_root"), "createEmptyMovieClip", {Str("holder"), Int(5)}));
    a.Append(Do(Var("holder"), "loadMovie", {Str("child.swf")}));
    a.Append(Do(Var("_root"), "attachMovie", {Str("other"), Str("o"), Int(6)}));
    Set(a, "before", Var("_level0.made"));
    b.DoAction(a.Stop()).ShowFrame();
    PlayedFile r(folder, b);
    r.player.AdvanceTo(400);
    EXPECT_EQ(r.Get("before"), "");  // the main movie's symbol 9 is not the class's
    EXPECT_EQ(r.Get("holder.s._name"), "s");
    EXPECT_EQ(r.Get("made"), c.made);
  }
}

TEST(Avm1ClipLoad, LevelsLieAboveTheMainMovie) {
  TempFolder folder;
  ChildMovie({{0, 0, 255, 255}}).WriteFile(folder.Dir() / "child.swf");
  // No background of its own: the loaded movie's shows.
  SwfBuilder b(8, {0, 2000, 0, 2000}, 10.0);
  b.DefineShape(2, Square(2000, kRed));
  b.PlaceObject2({.depth = 1, .characterId = 2});
  Actions a;
  Set(a, "before", Actions().Append(Var("_level1")).Raw(Code(Action::kTypeOf)));
  // loadMovieNum("child.swf", 1)
  a.PushString("child.swf").PushString("_level1").Raw(Code(Action::kGetUrl2), std::vector<std::uint8_t>{0x00});
  b.ShowFrame();  // loads on the second frame
  b.DoAction(a).ShowFrame();
  Actions later;
  Set(later, "kind", Actions().Append(Var("_level1")).Raw(Code(Action::kTypeOf)));
  Set(later, "count", Member(Var("_level1"), "n"));
  Set(later, "next", Method(Var("_root"), "getNextHighestDepth"));
  Set(later, "parent", Actions().Append(Member(Var("_level1"), "_parent")).Raw(Code(Action::kTypeOf)));
  b.ShowFrame();
  b.DoAction(later.Stop()).ShowFrame();
  PlayedFile r(folder, b);
  EXPECT_EQ(r.player.BackgroundColor(), 0xFFFFFF);
  r.player.AdvanceTo(600);
  EXPECT_EQ(r.Get("before"), "undefined");
  EXPECT_EQ(r.Get("kind"), "movieclip");
  EXPECT_EQ(r.Get("count"), "2");
  EXPECT_EQ(r.Get("next"), "0");  // a level is no depth of _level0
  EXPECT_EQ(r.Get("parent"), "undefined");
  EXPECT_EQ(r.Get("_level1.mark"), "mine");  // a level is its movie's _root
  EXPECT_EQ(r.Get("mark"), "");
  EXPECT_EQ(r.player.BackgroundColor(), 0x0000FF);
  gdi::Bitmap bmp;
  r.player.Paint(bmp);
  EXPECT_EQ(bmp.GetPixel(5, 5), cGreen);
  EXPECT_EQ(bmp.GetPixel(50, 50), cRed);
}

TEST(Avm1ClipLoad, AMovieLoadedIntoLevelZeroTakesTheMainMoviesPlace) {
  TempFolder folder;
  ChildMovie().WriteFile(folder.Dir() / "child.swf");
  auto b = Movie();
  b.DefineShape(1, Square(2000, kRed));
  b.PlaceObject2({.depth = 1, .characterId = 1});
  Actions a;
  a.Append(Do(Var("_root"), "createEmptyMovieClip", {Str("gone"), Int(3)}));
  // loadMovieNum("child.swf", 0)
  a.PushString("child.swf").PushString("_level0").Raw(Code(Action::kGetUrl2), std::vector<std::uint8_t>{0x00});
  b.DoAction(a).ShowFrame();
  b.ShowFrame().ShowFrame().ShowFrame();
  PlayedFile r(folder, b);
  r.player.AdvanceTo(600);
  EXPECT_EQ(r.Get("n"), "2");  // its frames run on the main timeline
  EXPECT_EQ(r.Get("mark"), "mine");
  EXPECT_EQ(r.Get("gone"), "");
  gdi::Bitmap bmp;
  r.player.Paint(bmp);
  EXPECT_EQ(bmp.GetPixel(5, 5), cGreen);  // its own shape 1
  EXPECT_EQ(bmp.GetPixel(50, 50), cWhite);
}

TEST(Avm1ClipLoad, TheClipsLoadEventRunsAgainWhenAMovieArrivesBeforeItsFirstFrame) {
  TempFolder folder;
  SwfBuilder child(8, {0, 2000, 0, 2000}, 10.0);
  child.DoAction(Log("child,").Stop()).ShowFrame();
  child.WriteFile(folder.Dir() / "child.swf");
  auto b = Movie();
  b.DefineSprite(5, Timeline().ShowFrame());
  Actions start;
  Set(start, "_global.log", Str(""));
  b.DoAction(start);
  b.Tag(26, PlaceWithClipActions(5, 1, "holder", {{kEventLoad, Log("load,")}}));
  b.DoAction(Do(Var("holder"), "loadMovie", {Str("child.swf")}).Stop()).ShowFrame();
  PlayedFile r(folder, b);
  r.player.AdvanceTo(400);
  EXPECT_EQ(r.Get("_global.log"), "load,load,child,");
}

TEST(Avm1ClipLoad, AMovieLoadedIntoLevelZeroGivesTheStageItsSize) {
  TempFolder folder;
  SwfBuilder child(8, {0, 6000, 0, 4000}, 10.0);
  Actions measure;
  Set(measure, "w", Member(Var("Stage"), "width"));
  Set(measure, "h", Member(Var("Stage"), "height"));
  child.DoAction(measure.Stop()).ShowFrame();
  child.WriteFile(folder.Dir() / "child.swf");
  Actions a;
  Set(a, "_global.before", Member(Var("Stage"), "width"));
  // loadMovieNum("child.swf", 0)
  a.PushString("child.swf").PushString("_level0").Raw(Code(Action::kGetUrl2), std::vector<std::uint8_t>{0x00});
  PlayedFile r(folder, Script(a));
  EXPECT_EQ(r.Get("_global.before"), "100");
  r.player.AdvanceTo(400);
  EXPECT_EQ(r.Get("w"), "300");
  EXPECT_EQ(r.Get("h"), "200");
}

// A loaded movie keeps its own SWF version: its actions and the functions
// it defines convert by its rules wherever they are called from, and
// getSWFVersion names it. The address's query sets variables on the
// loaded movie's timeline.
TEST(Avm1ClipLoad, ALoadedMovieKeepsItsOwnVersionAndItsQueryVariables) {
  TempFolder folder;
  const Actions undefText = Bin(Str("a"), Undef(), Action::kAdd2);
  Actions child;
  child.Append(SetRoot("childText", undefText));
  child.Append(SetRoot("childFn", Function({}, Actions().Append(undefText).Raw(Code(Action::kReturn)))));
  child.Append(SetRoot("childQuery", Var("q")));
  Script(child, 7).WriteFile(folder.Dir() / "child.swf");
  Actions a;
  a.Append(Do(Var("_root"), "createEmptyMovieClip", {Str("holder"), Int(1)}));
  a.Append(Do(Var("holder"), "loadMovie", {Str("child.swf?q=a%20b&r=1")}));
  a.Append(SetRoot("onEnterFrame", Function({}, SetRoot("called", Call("childFn"))
                                                    .Append(SetRoot("rootText", undefText))
                                                    .Append(SetRoot("childVersion", Method(Var("holder"), "getSWFVersion")))
                                                    .Append(SetRoot("rootVersion", Method(Var("_root"), "getSWFVersion"))))));
  PlayedFile r(folder, Script(a, 6));
  r.player.AdvanceTo(500);
  EXPECT_EQ(r.Get("childText"), "aundefined");
  EXPECT_EQ(r.Get("called"), "aundefined");
  EXPECT_EQ(r.Get("rootText"), "a");
  EXPECT_EQ(r.Get("childVersion"), "7");
  EXPECT_EQ(r.Get("rootVersion"), "6");
  EXPECT_EQ(r.Get("childQuery"), "a b");
  EXPECT_EQ(r.Get("holder.r"), "1");
}

// An empty clip measures 0x7FFFFFF twips; once a version 8 movie has
// measured any clip, every movie reads the single-precision value in
// another clip's space.
TEST(Avm1ClipLoad, TheEmptyClipSentinelWidensOnceAVersion8MovieMeasures) {
  TempFolder folder;
  Actions child;
  child.Append(Do(Method(Var("_root"), "getBounds", {})));
  Script(child, 8).WriteFile(folder.Dir() / "child.swf");
  Actions a;
  a.Append(Do(Var("_root"), "createEmptyMovieClip", {Str("empty"), Int(1)}));
  a.Append(SetRoot("before", Member(Method(Var("empty"), "getBounds", {Var("_root")}), "xMin")));
  a.Append(Do(Var("_root"), "createEmptyMovieClip", {Str("holder"), Int(2)}));
  a.Append(Do(Var("holder"), "loadMovie", {Str("child.swf")}));
  a.Append(SetRoot("onEnterFrame", Function({}, SetRoot("after", Member(Method(Var("empty"), "getBounds", {Var("_root")}),
                                                                        "xMin")))));
  PlayedFile r(folder, Script(a, 7));
  EXPECT_EQ(r.Get("before"), "6710886.35");
  r.player.AdvanceTo(500);
  EXPECT_EQ(r.Get("after"), "6710886.4");
}

}  // namespace
}  // namespace quarvel::player::script_test
