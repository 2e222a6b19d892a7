// Timelines as ActionScript 1/2 sees them: removal of clips that hear their
// unload, references to clips by path, frame waits and jumps that find no
// frame, call() from removed clips, copies made by the action, points and
// shapes of hitTest, exported names, and the sizes and URLs of movies.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "player/avm1/avm1_test_script.h"

namespace quarvel::player::script_test {
namespace {

constexpr std::uint8_t kTypeOf = Code(Action::kTypeOf), kStrictEquals = Code(Action::kStrictEquals),
                       kEquals2 = Code(Action::kEquals2), kCloneSprite = Code(Action::kCloneSprite),
                       kGetProperty = Code(Action::kGetProperty), kAdd2 = Code(Action::kAdd2);

// _global.log starts empty in a first block of its own.
void StartLog(SwfBuilder& b) {
  Actions a;
  Set(a, "_global.log", Str(""));
  b.DoAction(a);
}

swf::Matrix At(std::int32_t x, std::int32_t y) {
  swf::Matrix m;
  m.translateX = x;
  m.translateY = y;
  return m;
}

TEST(Avm1Removal, TheTimelineRemovingAClipThatHearsItsUnloadKeepsItUntilTheNextFrame) {
  auto b = Movie();
  b.DefineSprite(5, Timeline().ShowFrame());
  StartLog(b);
  b.Tag(26, PlaceWithClipActions(5, 1, "heard", {{0x04, Log("unload,")}}));  // onClipEvent(unload)
  b.PlaceObject2({.depth = 2, .characterId = 5, .name = "plain"});
  b.ShowFrame();
  // Frame 2: the actions come first in the tags; both clips go, and a new
  // one takes the first one's name and depth.
  Actions frame2;
  Set(frame2, "heardDepth", Method(Var("heard"), "getDepth", {}));
  Set(frame2, "heardX", Member(Var("heard"), "_x"));
  Set(frame2, "plainThen", Var("plain").Raw(kTypeOf));
  frame2.Append(Log("frame 2,"));
  b.DoAction(frame2);
  b.RemoveObject2(1).RemoveObject2(2);
  b.PlaceObject2({.depth = 1, .characterId = 5, .matrix = At(400, 0), .name = "heard"});
  b.ShowFrame();
  Actions frame3;
  Set(frame3, "heardX3", Member(Var("heard"), "_x"));
  Set(frame3, "depth3", Method(Var("heard"), "getDepth", {}));
  b.DoAction(frame3.Stop()).ShowFrame();
  Played r(b);
  r.player.AdvanceTo(100);
  // Moved from depth d to -d - 1 (counted from the timeline's 0), it is
  // found by name before the clip now at its old depth; its unload runs
  // where the removal queued it, after the actions queued before.
  EXPECT_EQ(r.Get("heardDepth"), "-16386");
  EXPECT_EQ(r.Get("heardX"), "0");
  EXPECT_EQ(r.Get("plainThen"), "undefined");
  EXPECT_EQ(r.Get("_global.log"), "frame 2,unload,");
  r.player.AdvanceTo(200);
  EXPECT_EQ(r.Get("heardX3"), "20");  // gone: the new one answers
  EXPECT_EQ(r.Get("depth3"), "-16383");
}

TEST(Avm1Removal, CallFromAClipWhoseTargetAndThenItselfWereRemoved) {
  auto b = Movie();
  // Sprite 6 ("base"): frame 1 runs the test, frame 2 logs "base2,".
  Actions inBase;
  inBase.Stop();
  // tellTarget("_root.target") { removeMovieClip(_root.target); call(2) }:
  // the target gone, call() runs the base clip's frame.
  inBase.Append(Var("_root.target")).Raw(Code(Action::kSetTarget2));
  inBase.Append(Var("_root.target")).Raw(Code(Action::kRemoveSprite));
  inBase.PushInt(2).Raw(Code(Action::kCall));
  inBase.SetTarget("");
  // Then the base clip itself goes: call() runs the main timeline's frame,
  // and nothing after it runs.
  inBase.Append(Var("this")).Raw(Code(Action::kRemoveSprite));
  inBase.PushInt(2).Raw(Code(Action::kCall));
  inBase.Append(Log("unreachable,"));
  b.DefineSprite(6, Timeline().DoAction(inBase).ShowFrame().DoAction(Log("base2,")).ShowFrame());
  b.ExportAssets({{6, "base"}});
  StartLog(b);
  Actions a;
  a.Append(Do(Var("_root"), "createEmptyMovieClip", {Str("target"), Int(5)}));
  a.Append(Do(Var("_root"), "attachMovie", {Str("base"), Str("base"), Int(6)}));
  b.DoAction(a.Stop()).ShowFrame();
  b.DoAction(Log("root,")).ShowFrame();
  Played r(b);
  r.player.AdvanceTo(100);
  EXPECT_EQ(r.Get("_global.log"), "base2,root,");
}

TEST(Avm1ClipReferences, TwoReferencesAreEqualWhenTheyNameTheSamePlace) {
  Actions a;
  Set(a, "first", Method(Var("_root"), "createEmptyMovieClip", {Str("m"), Int(1)}));
  a.Append(Do(Var("first"), "removeMovieClip", {}));
  Set(a, "second", Method(Var("_root"), "createEmptyMovieClip", {Str("m"), Int(2)}));
  Set(a, "other", Method(Var("_root"), "createEmptyMovieClip", {Str("n"), Int(3)}));
  Set(a, "strict", Bin(Var("first"), Var("second"), kStrictEquals));
  Set(a, "loose", Bin(Var("first"), Var("second"), kEquals2));
  Set(a, "strictOther", Bin(Var("first"), Var("other"), kStrictEquals));
  Set(a, "looseOther", Bin(Var("second"), Var("other"), kEquals2));
  Played r(Script(a));
  EXPECT_EQ(r.Get("strict"), "true");
  EXPECT_EQ(r.Get("loose"), "true");
  EXPECT_EQ(r.Get("strictOther"), "false");
  EXPECT_EQ(r.Get("looseOther"), "false");
}

TEST(Avm1ClipReferences, ForInListsEveryChildWithAName) {
  auto b = Movie();
  b.DefineShape(1, Square(200, kRed));
  b.DefineSprite(5, Timeline().ShowFrame());
  b.PlaceObject2({.depth = 1, .characterId = 1});                       // a shape has no name of its own
  b.PlaceObject2({.depth = 2, .characterId = 1, .name = "namedShape"});
  b.PlaceObject2({.depth = 4, .characterId = 5, .name = "clip"});
  Actions a;
  Set(a, "names", Str(""));
  Actions body;
  Set(body, "names", Bin(Var("names"), Bin(Actions().PushRegister(0), Str(","), kAdd2), kAdd2));
  a.Append(ForIn(Var("_root"), body));
  Set(a, "shapeIs", Member(Var("_root"), "namedShape"));
  b.DoAction(a.Stop()).ShowFrame();
  Played r(b);
  // Variables first, then the children from the top down.
  const std::string names = r.Get("names");
  const std::string children = "clip,namedShape,";
  ASSERT_GE(names.size(), children.size());
  EXPECT_EQ(names.substr(names.size() - children.size()), children) << names;
  EXPECT_EQ(r.Get("shapeIs"), "_level0");  // the clip holding it answers
}

// WaitForFrame2 on the value `frame`, skipping one Set (three actions)
// when the frame is not loaded.
Actions WaitThenSet(const Actions& frame, const std::string& name) {
  const std::uint8_t skip[] = {3};
  Actions a = frame;
  a.Raw(Code(Action::kWaitForFrame2), skip);
  return Set(a, name, Str("loaded"));
}

TEST(Avm1Frames, EveryFrameIsLoadedUpToFlashsLimit) {
  Actions a;
  a.WaitForFrame(16000, 3);
  Set(a, "w16000", Str("loaded"));
  a.WaitForFrame(16001, 3);
  Set(a, "w16001", Str("loaded"));
  a.Append(WaitThenSet(Int(16001), "v16001"));
  a.Append(WaitThenSet(Int(16002), "v16002"));
  // A fraction or a label cannot be checked: frame 0, loaded.
  a.Append(WaitThenSet(Dbl(16002.5), "fraction"));
  a.Append(WaitThenSet(Str("label"), "label"));
  a.Append(WaitThenSet(Str("-43"), "negative"));
  // 2^31 wraps to the lowest 32-bit number, which wraps on to the highest.
  a.Append(WaitThenSet(Dbl(2147483648.0), "wrapped"));
  a.Append(WaitThenSet(Dbl(2147483649.0), "wrappedPast"));
  Set(a, "after", Str("ran"));
  Played r(Script(a));
  EXPECT_EQ(r.Get("w16000"), "loaded");
  EXPECT_EQ(r.Get("w16001"), "");
  EXPECT_EQ(r.Get("v16001"), "loaded");
  EXPECT_EQ(r.Get("v16002"), "");
  EXPECT_EQ(r.Get("fraction"), "loaded");
  EXPECT_EQ(r.Get("label"), "loaded");
  EXPECT_EQ(r.Get("negative"), "loaded");
  EXPECT_EQ(r.Get("wrapped"), "");
  EXPECT_EQ(r.Get("wrappedPast"), "loaded");
  EXPECT_EQ(r.Get("after"), "ran");
}

TEST(Avm1Frames, AJumpThatFindsNoFrameNeitherMovesNorStops) {
  const std::uint8_t andStop[] = {0};
  auto b = Movie();
  // Frame 1: gotoAndStop(2.5) names frame 5 of a clip "2", which is not
  // there; gotoAndStop(0) no frame at all; the timeline plays on.
  Actions a;
  a.Append(Dbl(2.5)).Raw(Code(Action::kGotoFrame2), andStop);
  a.PushInt(0).Raw(Code(Action::kGotoFrame2), andStop);
  Set(a, "frame1", Actions().PushString("").PushInt(4).Raw(kGetProperty));
  b.DoAction(a).ShowFrame();
  // Frame 2: the method form of the same.
  Actions m;
  m.Append(Do(Var("_root"), "gotoAndStop", {Str("nowhere")}));
  m.Append(Do(Var("_root"), "gotoAndStop", {Int(-3)}));
  Set(m, "frame2", Actions().PushString("").PushInt(4).Raw(kGetProperty));
  b.DoAction(m).ShowFrame();
  Actions last;
  Set(last, "frame3", Str("reached"));
  b.DoAction(last.Stop()).ShowFrame();
  Played r(b);
  r.player.AdvanceTo(300);
  EXPECT_EQ(r.Get("frame1"), "1");
  EXPECT_EQ(r.Get("frame2"), "2");
  EXPECT_EQ(r.Get("frame3"), "reached");
}

// A jump past the last frame lands on it without running its actions; a
// jump to it by its number runs them.
TEST(Avm1Frames, AJumpPastTheEndShowsTheLastFrameWithoutItsActions) {
  const std::uint8_t andStop[] = {0};
  for (const char* how : {"action", "method", "exact"}) {
    SCOPED_TRACE(how);
    auto b = Movie();
    Actions a;
    if (std::string(how) == "action") {
      a.PushInt(9999).Raw(Code(Action::kGotoFrame2), andStop);
    } else {
      a.Append(Do(Var("_root"), "gotoAndStop", {Int(std::string(how) == "method" ? 500 : 3)}));
    }
    Set(a, "at", Actions().PushString("").PushInt(4).Raw(kGetProperty));
    b.DoAction(a).ShowFrame();
    b.ShowFrame();
    Actions last;
    Set(last, "ran", Str("yes"));
    b.DoAction(last).ShowFrame();
    Played r(b);
    r.player.AdvanceTo(300);
    EXPECT_EQ(r.Get("at"), "3");
    EXPECT_EQ(r.Get("ran"), std::string(how) == "exact" ? "yes" : "");
  }
}

TEST(Avm1Frames, ASceneBiasCountsLabelsAndNumbersFromTheScenesStart) {
  // gotoAndStop("Scene 2", x) with the scene starting 2 frames on: frame
  // x of the scene, a label's frame moved on as far.
  for (const auto& [value, expect] : std::vector<std::pair<std::string, std::string>>{
           {"mark", "4"}, {"1", "3"}, {"nowhere", "1"}}) {
    SCOPED_TRACE(value);
    const std::uint8_t stopWithBias[] = {0x02, 2, 0};  // flags, bias 2
    auto b = Movie();
    Actions a;
    a.Append(Str(value)).Raw(Code(Action::kGotoFrame2), stopWithBias);
    Set(a, "at", Actions().PushString("").PushInt(4).Raw(kGetProperty));
    b.DoAction(a.Stop()).ShowFrame();
    b.FrameLabel("mark").ShowFrame();
    b.ShowFrame();
    b.ShowFrame();
    b.ShowFrame();
    Played r(b);
    EXPECT_EQ(r.Get("at"), expect);
  }
}

TEST(Avm1Frames, TheCloneActionCountsDepthsFromTheTimelinesZero) {
  auto b = Movie();
  b.DefineShape(1, Square(200, kRed));
  b.DefineSprite(5, Timeline().PlaceObject2({.depth = 1, .characterId = 1}).ShowFrame());
  b.PlaceObject2({.depth = 1, .characterId = 5, .name = "src"});
  Actions a;
  a.Append(Do(Var("src"), "duplicateMovieClip", {Str("method"), Int(0)}));
  // duplicateMovieClip(src, "action", 0) as the compiler writes it: 16384 + 0.
  a.PushString("src").PushString("action").PushInt(16384).Raw(kCloneSprite);
  Set(a, "methodThen", Var("method").Raw(kTypeOf));
  Set(a, "actionDepth", Method(Var("action"), "getDepth", {}));
  a.PushString("src").PushString("top").PushInt(2130706428).Raw(kCloneSprite);
  a.PushString("src").PushString("past").PushInt(2130706429).Raw(kCloneSprite);
  a.PushString("src").PushString("below").PushInt(-1).Raw(kCloneSprite);
  Set(a, "top", Var("top").Raw(kTypeOf));
  Set(a, "past", Var("past").Raw(kTypeOf));
  Set(a, "below", Var("below").Raw(kTypeOf));
  b.DoAction(a.Stop()).ShowFrame();
  Played p(b);
  EXPECT_EQ(p.Get("methodThen"), "undefined");  // the copy took its depth
  EXPECT_EQ(p.Get("actionDepth"), "0");
  EXPECT_EQ(p.Get("top"), "movieclip");
  EXPECT_EQ(p.Get("past"), "undefined");
  EXPECT_EQ(p.Get("below"), "undefined");
}

TEST(Avm1Frames, SizingAClipWithNothingInItFlattensIt) {
  Actions a;
  a.Append(Do(Var("_root"), "createEmptyMovieClip", {Str("empty"), Int(1)}));
  a.Append(SetMember(Var("empty"), "_width", Int(20)));
  Set(a, "xs", Member(Var("empty"), "_xscale"));
  Set(a, "ys", Member(Var("empty"), "_yscale"));
  a.Append(Do(Var("empty"), "createEmptyMovieClip", {Str("kid"), Int(1)}));
  a.Append(Do(Var("empty.kid"), "beginFill", {Int(0xFF0000)}));
  a.Append(Do(Var("empty.kid"), "moveTo", {Int(0), Int(0)}));
  a.Append(Do(Var("empty.kid"), "lineTo", {Int(30), Int(0)}));
  a.Append(Do(Var("empty.kid"), "lineTo", {Int(30), Int(30)}));
  a.Append(Do(Var("empty.kid"), "endFill", {}));
  Set(a, "w", Member(Var("empty"), "_width"));
  Set(a, "kidW", Member(Var("empty.kid"), "_width"));
  Played r(Script(a));
  EXPECT_EQ(r.Get("xs"), "0");
  EXPECT_EQ(r.Get("ys"), "0");
  EXPECT_EQ(r.Get("w"), "0");
  EXPECT_EQ(r.Get("kidW"), "30");
}

// A sprite "box" (5) holding a 10-pixel square, and a second one "far" at
// (60, 0).
SwfBuilder TwoBoxes() {
  auto b = Movie();
  b.DefineShape(1, Square(200, kRed));
  b.DefineSprite(5, Timeline().PlaceObject2({.depth = 1, .characterId = 1}).ShowFrame());
  b.PlaceObject2({.depth = 1, .characterId = 5, .name = "box"});
  b.PlaceObject2({.depth = 2, .characterId = 5, .matrix = At(1200, 0), .name = "far"});
  return b;
}

TEST(Avm1HitTest, PointsAreInTheMainTimelinesSpaceAndOthersMayBePaths) {
  auto b = TwoBoxes();
  Actions a;
  a.Append(SetMember(Var("_root"), "_x", Int(100)));
  // (5, 5) of the main timeline is (105, 5) on the stage: inside the box,
  // which moved with it.
  Set(a, "moved", Method(Var("box"), "hitTest", {Int(5), Int(5), Bool(false)}));
  Set(a, "movedShape", Method(Var("box"), "hitTest", {Int(5), Int(5), Bool(true)}));
  Set(a, "stagePoint", Method(Var("box"), "hitTest", {Int(105), Int(5), Bool(false)}));
  Set(a, "nan", Method(Var("box"), "hitTest", {Dbl(std::nan("")), Int(5)}));
  Set(a, "byPath", Method(Var("box"), "hitTest", {Str("_root.box")}));
  Set(a, "bySlashes", Method(Var("box"), "hitTest", {Str("/far")}));
  Set(a, "root", Method(Var("far"), "hitTest", {Str("/")}));  // the main timeline holds both
  Set(a, "empty", Method(Var("box"), "hitTest", {Str("")}));
  Set(a, "nothing", Method(Var("box"), "hitTest", {Str("nowhere")}));
  b.DoAction(a.Stop()).ShowFrame();
  Played r(b);
  EXPECT_EQ(r.Get("moved"), "true");
  EXPECT_EQ(r.Get("movedShape"), "true");
  EXPECT_EQ(r.Get("stagePoint"), "false");
  EXPECT_EQ(r.Get("nan"), "false");
  EXPECT_EQ(r.Get("byPath"), "true");
  EXPECT_EQ(r.Get("bySlashes"), "false");
  EXPECT_EQ(r.Get("root"), "true");
  EXPECT_EQ(r.Get("empty"), "false");
  EXPECT_EQ(r.Get("nothing"), "false");
}

TEST(Avm1HitTest, ShapesOfVersion4FillByTheirWindingRule) {
  // Two squares drawn the same way round, one inside the other: even-odd
  // leaves a hole, non-zero fills it.
  ShapeBuilder s;
  const auto fill = s.AddFill(FillStyle::Solid(kRed));
  s.Rectangle(0, 0, 1000, 1000, fill);
  s.Rectangle(250, 250, 500, 500, fill);
  auto b = Movie();
  for (std::uint16_t id : {1, 2}) {
    SwfWriter w;
    w.U16(id);
    w.Rect(s.ShapeBounds());
    w.Rect(s.EdgeBounds());
    w.U8(id == 2 ? 0x05 : 0x01);  // UsesFillWindingRule for shape 2; scaling strokes
    w.Bytes(s.Encode(4));
    b.Tag(83, w.Data());  // DefineShape4
    b.DefineSprite(static_cast<std::uint16_t>(id + 4), Timeline().PlaceObject2({.depth = 1, .characterId = id}).ShowFrame());
  }
  b.PlaceObject2({.depth = 1, .characterId = 5, .name = "evenOdd"});
  b.PlaceObject2({.depth = 2, .characterId = 6, .matrix = At(0, 1000), .name = "nonZero"});
  Actions a;
  Set(a, "eoRing", Method(Var("evenOdd"), "hitTest", {Int(5), Int(5), Bool(true)}));
  Set(a, "eoHole", Method(Var("evenOdd"), "hitTest", {Int(25), Int(25), Bool(true)}));
  Set(a, "nzRing", Method(Var("nonZero"), "hitTest", {Int(5), Int(55), Bool(true)}));
  Set(a, "nzHole", Method(Var("nonZero"), "hitTest", {Int(25), Int(75), Bool(true)}));
  Set(a, "nzOut", Method(Var("nonZero"), "hitTest", {Int(60), Int(75), Bool(true)}));
  b.DoAction(a.Stop()).ShowFrame();
  Played r(b);
  EXPECT_EQ(r.Get("eoRing"), "true");
  EXPECT_EQ(r.Get("eoHole"), "false");
  EXPECT_EQ(r.Get("nzRing"), "true");
  EXPECT_EQ(r.Get("nzHole"), "true");
  EXPECT_EQ(r.Get("nzOut"), "false");
  // And it draws so: the hole of the even-odd square shows the white
  // stage, the other one's is filled.
  EXPECT_EQ(r.At(25, 25), Color(255, 255, 255));
  EXPECT_EQ(r.At(25, 75), Color(255, 0, 0));
}

TEST(Avm1HitTest, LinesCountAsFarAsHalfTheirWidth) {
  // An unfilled line 40 pixels long, 4 wide (80 twips), along y = 10.
  ShapeBuilder s;
  const auto line = s.AddLine(testing::LineStyle{80, kRed});
  s.SetLine(line).MoveTo(0, 200).LineTo(800, 200);
  auto b = Movie();
  b.DefineShape(1, s);
  b.DefineSprite(5, Timeline().PlaceObject2({.depth = 1, .characterId = 1}).ShowFrame());
  b.PlaceObject2({.depth = 1, .characterId = 5, .name = "stroke"});
  Actions a;
  Set(a, "on", Method(Var("stroke"), "hitTest", {Int(20), Int(10), Bool(true)}));
  Set(a, "edge", Method(Var("stroke"), "hitTest", {Int(20), Int(11), Bool(true)}));
  Set(a, "off", Method(Var("stroke"), "hitTest", {Int(20), Int(13), Bool(true)}));
  b.DoAction(a.Stop()).ShowFrame();
  Played r(b);
  EXPECT_EQ(r.Get("on"), "true");
  EXPECT_EQ(r.Get("edge"), "true");
  EXPECT_EQ(r.Get("off"), "false");
}

TEST(Avm1HitTest, BoundsAreMadeXMinXMaxYMinYMax) {
  // for..in lists an object's properties newest first.
  auto b = TwoBoxes();
  Actions a;
  Set(a, "order", Str(""));
  Actions body;
  Set(body, "order", Bin(Var("order"), Bin(Actions().PushRegister(0), Str(","), kAdd2), kAdd2));
  a.Append(ForIn(Method(Var("box"), "getBounds", {}), body));
  b.DoAction(a.Stop()).ShowFrame();
  Played r(b);
  EXPECT_EQ(r.Get("order"), "yMax,yMin,xMax,xMin,");
}

TEST(Avm1Placing, HandlersHearOnlyTheEventsThePlacementLists) {
  constexpr std::uint32_t kLoad = 0x01, kEnterFrame = 0x02;
  auto b = Movie();
  b.DefineSprite(5, Timeline().ShowFrame());
  StartLog(b);
  const std::vector<std::pair<std::uint32_t, Actions>> handlers = {{kLoad | kEnterFrame, Log("both,")},
                                                                    {kEnterFrame, Log("frame,")}};
  b.Tag(26, PlaceWithClipActions(5, 1, "loadOnly", handlers, kLoad));
  b.Tag(26, PlaceWithClipActions(5, 2, "none", handlers, 0));
  b.ShowFrame();
  b.DoAction(Actions().Stop()).ShowFrame();
  Played r(b);
  r.player.AdvanceTo(100);
  EXPECT_EQ(r.Get("_global.log"), "both,");
}

TEST(Avm1Placing, ClipActionsCutShortOfTheirEndMarkerStillRun) {
  constexpr std::uint32_t kLoad = 0x01;
  auto b = Movie();
  b.DefineSprite(5, Timeline().ShowFrame());
  StartLog(b);
  auto place = PlaceWithClipActions(5, 1, "cut", {{kLoad, Log("load,")}}, kLoad);
  place.resize(place.size() - 2);  // half the end marker
  b.Tag(26, place);
  b.DoAction(Actions().Stop()).ShowFrame();
  Played r(b);
  r.player.AdvanceTo(100);
  EXPECT_EQ(r.Get("_global.log"), "load,");
  EXPECT_EQ(r.Get("cut._name"), "cut");
}

TEST(Avm1Library, ANameExportedTwiceNamesTheLaterSymbol) {
  auto b = Movie();
  b.DefineShape(1, Square(200, kRed));
  b.DefineShape(2, Square(400, kRed));
  b.DefineSprite(5, Timeline().PlaceObject2({.depth = 1, .characterId = 1}).ShowFrame());
  b.ExportAssets({{5, "twice"}});
  b.DefineSprite(6, Timeline().PlaceObject2({.depth = 1, .characterId = 2}).ShowFrame());
  b.ExportAssets({{6, "twice"}});
  Actions a;
  Set(a, "w", Member(Method(Var("_root"), "attachMovie", {Str("twice"), Str("t"), Int(1)}), "_width"));
  b.DoAction(a.Stop()).ShowFrame();
  Played r(b);
  EXPECT_EQ(r.Get("w"), "20");
}

TEST(Avm1Library, RegisterClassMatchesTheSymbolsCaseFromVersion7) {
  for (int version : {6, 7}) {
    SCOPED_TRACE(version);
    auto b = Movie(static_cast<std::uint8_t>(version));
    b.DefineSprite(5, Timeline().ShowFrame());
    b.ExportAssets({{5, "Symbol"}});
    Actions made;
    Set(made, "_root.made", Str("yes"));
    Actions a;
    Set(a, "_global.Custom", Function({}, made));
    a.Append(Do(Var("Object"), "registerClass", {Str("SYMBOL"), Var("_global.Custom")}));
    a.Append(Do(Var("_root"), "attachMovie", {Str("Symbol"), Str("s"), Int(1)}));
    b.DoAction(a.Stop()).ShowFrame();
    Played r(b);
    EXPECT_EQ(r.Get("made"), version == 6 ? "yes" : "");
  }
}

// attachMovie of an exported button attaches a button, an object with a
// name and a path; no registered class makes it.
TEST(Avm1Library, AttachMovieAttachesAnExportedButton) {
  auto b = Movie(8);
  b.DefineShape(1, Square(400, kRed));
  b.DefineButton2(6, {{.up = true, .hitTest = true, .characterId = 1}});
  b.ExportAssets({{6, "btn"}});
  Actions made;
  Set(made, "_root.made", Str("yes"));
  Actions a;
  Set(a, "_global.Custom", Function({}, made));
  a.Append(Do(Var("Object"), "registerClass", {Str("btn"), Var("_global.Custom")}));
  Set(a, "b", Method(Var("_root"), "attachMovie", {Str("btn"), Str("one"), Int(1)}));
  Set(a, "type", Actions().Append(Var("b")).Raw(Code(Action::kTypeOf)));
  Set(a, "path", Actions().Append(Var("b")).Raw(Code(Action::kToString)));
  b.DoAction(a.Stop()).ShowFrame();
  Played r(b);
  EXPECT_EQ(r.Get("type"), "object");
  EXPECT_EQ(r.Get("path"), "_level0.one");
  EXPECT_EQ(r.Get("one._width"), "20");
  EXPECT_EQ(r.Get("made"), "");
  EXPECT_EQ(r.At(5, 5), Color(255, 0, 0));
}

TEST(Avm1Loading, ProgressCountsTheFileAsStored) {
  // The compressed file's length, whatever the header says it expands to.
  Actions a;
  Set(a, "mcl", New("MovieClipLoader"));
  Set(a, "p", Method(Var("mcl"), "getProgress", {Int(0)}));
  Set(a, "stored", Member(Var("p"), "bytesTotal"));
  Set(a, "loaded", Member(Var("p"), "bytesLoaded"));
  Set(a, "expanded", Method(Var("_root"), "getBytesTotal", {}));
  Set(a, "none", Member(Method(Var("mcl"), "getProgress", {Int(7)}), "bytesTotal"));
  Set(a, "noneType", Actions().Append(Var("none")).Raw(kTypeOf));
  auto b = Script(a);
  // Enough repetition for the compression to show.
  for (int i = 0; i < 20; ++i) b.DoAction(Actions().PushString("padding padding padding").Raw(Code(Action::kPop)));
  const auto file = b.Build(swf::Compression::kZlib);
  FlashPlayer player;
  player.SetSize(100, 100);
  ASSERT_TRUE(player.LoadMovieBytes(file)) << player.LoadError();
  EXPECT_EQ(player.GetVariable("stored"), std::to_string(file.size()));
  EXPECT_EQ(player.GetVariable("loaded"), std::to_string(file.size()));
  EXPECT_NE(player.GetVariable("expanded"), std::to_string(file.size()));
  EXPECT_EQ(player.GetVariable("noneType"), "undefined");
}

TEST(Avm1Loading, TheUrlOfTheMovieAndOfWhatIsLoadedIntoAClip) {
  TempFolder folder;
  WritePng(folder.Dir() / "pic.png", 4, 4, 0xFF00FF00);
  Actions a;
  Set(a, "rootUrl", Member(Var("_root"), "_url"));
  a.Append(Do(Var("_root"), "createEmptyMovieClip", {Str("holder"), Int(1)}));
  a.Append(Do(Var("holder"), "createEmptyMovieClip", {Str("kid"), Int(1)}));
  Set(a, "kidUrl", Member(Var("holder.kid"), "_url"));
  a.Append(Do(Var("holder"), "loadMovie", {Str("pic.png")}));
  a.Append(Do(Var("_root"), "createEmptyMovieClip", {Str("missing"), Int(2)}));
  a.Append(Do(Var("missing"), "loadMovie", {Str("absent.swf")}));
  PlayedFile r(folder, a);
  const std::string movie = "file://" + (folder.Dir() / "movie.swf").string();
  EXPECT_EQ(r.Get("rootUrl"), movie);
  EXPECT_EQ(r.Get("kidUrl"), movie);  // a clip inside the movie: the movie's
  r.player.AdvanceTo(300);
  EXPECT_EQ(r.Get("holder._url"), "file://" + (folder.Dir() / "pic.png").string());
  EXPECT_EQ(r.Get("_root._url"), movie);
  // A file that is not there is named all the same.
  EXPECT_EQ(r.Get("missing._url"), "file://" + (folder.Dir() / "absent.swf").string());
}

}  // namespace
}  // namespace quarvel::player::script_test
