// Sound objects as the sound output hears them: the SOUNDINFO of each start
// (offset, loops, levels), stops by name, onSoundComplete after the sound's
// length, and MP3 files loaded beside the movie.
#include <gtest/gtest.h>

#include "player/avm1/avm1_test_script.h"

namespace quarvel::player::script_test {
namespace {

struct Heard {
  int id = 0;
  std::string name;
  std::vector<std::uint8_t> bytes;
};

class SoundLog : public SoundEventListener {
 public:
  std::vector<Heard> starts, defines;
  int stopAll = 0;
  void OnDefineSound(int id, std::span<const std::uint8_t> body) override {
    defines.push_back({id, "", {body.begin(), body.end()}});
  }
  void OnStartSound(int id, std::string_view name, std::span<const std::uint8_t> info, std::int64_t) override {
    starts.push_back({id, std::string(name), {info.begin(), info.end()}});
  }
  void OnStopAllSounds(std::int64_t) override { ++stopAll; }
};

std::uint32_t U32(const std::vector<std::uint8_t>& b, std::size_t at) {
  return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<std::uint32_t>(b[at + 3]) << 24);
}
std::uint16_t U16(const std::vector<std::uint8_t>& b, std::size_t at) {
  return static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8));
}

// A movie with a one-second sound exported as "beep" (id 7), whose first
// frame runs `code`.
SwfBuilder WithBeep(const Actions& code) {
  auto b = Movie();
  const std::uint8_t pcm[16] = {};
  b.DefineSound(7, {.format = 3, .rate = 3, .is16Bit = true, .stereo = false}, 44100, pcm);
  b.ExportAssets({{7, "beep"}});
  b.DoAction(Actions().Append(code).Stop()).ShowFrame();
  return b;
}

TEST(Avm1Sound, StartCarriesOffsetLoopsAndLevels) {
  Actions a;
  Set(a, "s", New("Sound"));
  a.Append(Do(Method(Var("s"), "attachSound", {Str("beep")})));
  Set(a, "duration", Member(Var("s"), "duration"));
  Set(a, "before", Member(Var("s"), "position"));
  a.Append(Do(Method(Var("s"), "setVolume", {Int(50)})));
  a.Append(Do(Method(Var("s"), "setPan", {Int(-100)})));
  Set(a, "volume", Method(Var("s"), "getVolume"));
  Set(a, "pan", Method(Var("s"), "getPan"));
  Set(a, "rr", Member(Method(Var("s"), "getTransform"), "rr"));
  // Every Sound of the same target shares the levels.
  Set(a, "shared", Method(New("Sound"), "getVolume"));
  a.Append(SetMember(Var("s"), "onSoundComplete", Function({}, Actions().PushString("/:done").PushBool(true).SetVariable())));
  a.Append(Do(Method(Var("s"), "start", {Dbl(0.5), Int(3)})));
  SoundLog log;
  TempFolder folder;
  PlayedFile r(folder, WithBeep(a), &log);
  EXPECT_EQ(r.Get("duration"), "1000");
  EXPECT_EQ(r.Get("before"), "0");
  EXPECT_EQ(r.Get("volume"), "50");
  EXPECT_EQ(r.Get("pan"), "-100");
  EXPECT_EQ(r.Get("rr"), "0");
  EXPECT_EQ(r.Get("shared"), "50");
  ASSERT_EQ(log.starts.size(), 1u);
  const Heard& start = log.starts[0];
  EXPECT_EQ(start.id, 7);
  EXPECT_EQ(start.name, "beep");
  // In point, loop count and a one-point envelope: half volume, left only.
  ASSERT_EQ(start.bytes.size(), 1u + 4 + 2 + 1 + 8);
  EXPECT_EQ(start.bytes[0], 1 | 4 | 8);
  EXPECT_EQ(U32(start.bytes, 1), 22050u);
  EXPECT_EQ(U16(start.bytes, 5), 3u);
  EXPECT_EQ(start.bytes[7], 1u);
  EXPECT_EQ(U32(start.bytes, 8), 0u);
  EXPECT_EQ(U16(start.bytes, 12), 16384u);
  EXPECT_EQ(U16(start.bytes, 14), 0u);
  // Three loops of the half second after the offset end at 1.5 s.
  r.player.AdvanceTo(300);
  EXPECT_EQ(r.Get("s.position"), "800");
  r.player.AdvanceTo(1400);
  EXPECT_EQ(r.Get("done"), "");
  r.player.AdvanceTo(1600);
  EXPECT_EQ(r.Get("done"), "true");
  EXPECT_EQ(r.Get("s.position"), "1000");
}

// A Sound keeps its target's path and looks it up at each use: before the
// clip exists, once it is renamed or removed, its getters give undefined
// and its setters change nothing.
TEST(Avm1Sound, TargetIsFoundByPathAtEachUse) {
  Actions a;
  Set(a, "s", New("Sound", {Str("mc")}));
  Set(a, "early", Method(Var("s"), "getVolume"));
  a.Append(Do(Method(Var("_root"), "createEmptyMovieClip", {Str("mc"), Int(1)})));
  Set(a, "made", Method(Var("s"), "getVolume"));
  a.Append(Do(Method(Var("s"), "setVolume", {Int(40)})));
  a.Append(SetMember(Var("mc"), "_name", Str("other")));
  a.Append(Do(Method(Var("s"), "setVolume", {Int(10)})));
  Set(a, "renamed", Method(Var("s"), "getVolume"));
  a.Append(SetMember(Var("other"), "_name", Str("mc")));
  Set(a, "back", Method(Var("s"), "getVolume"));
  a.Append(Do(Method(Var("s"), "setTransform", {Object({{"ll", Int(10)}, {"rr", Int(30)}})})));
  Set(a, "pan", Method(Var("s"), "getPan"));
  a.Append(Do(Method(Var("mc"), "removeMovieClip")));
  Set(a, "removed", Method(Var("s"), "getPan"));
  Played r(Script(a));
  EXPECT_EQ(r.Get("early"), "");
  EXPECT_EQ(r.Get("made"), "100");
  EXPECT_EQ(r.Get("renamed"), "");
  EXPECT_EQ(r.Get("back"), "40");
  EXPECT_EQ(r.Get("pan"), "90");  // the left channel turned down decides
  EXPECT_EQ(r.Get("removed"), "");
}

// A target given as text is found from the timeline whose script uses the
// Sound: a child of that clip there, nothing from the main timeline.
TEST(Avm1Sound, ATextTargetIsFoundFromTheAskingTimeline) {
  Actions a;
  a.Append(Do(Method(Var("_root"), "createEmptyMovieClip", {Str("mc"), Int(1)})));
  a.Append(Do(Method(Var("mc"), "createEmptyMovieClip", {Str("nested"), Int(1)})));
  a.SetTarget("mc");
  Set(a, "s", New("Sound", {Str("nested")}));
  a.Append(Do(Method(Var("s"), "setVolume", {Int(50)})));
  Set(a, "inside", Method(Var("s"), "getVolume"));
  a.SetTarget("");
  Set(a, "insideSeen", Member(Var("mc"), "inside"));
  Set(a, "fromRoot", Method(Member(Var("mc"), "s"), "getVolume"));
  Set(a, "clip", Method(New("Sound", {Member(Var("mc"), "nested")}), "getVolume"));
  Played r(Script(a));
  EXPECT_EQ(r.Get("insideSeen"), "50");
  EXPECT_EQ(r.Get("fromRoot"), "");
  EXPECT_EQ(r.Get("clip"), "50");  // a clip is its own path, wherever asked
}

TEST(Avm1Sound, AnObjectTargetIsNamedByItsTextAskedForOnce) {
  Actions a;
  Set(a, "_global.asked", Int(0));
  a.Append(Do(Method(Var("_root"), "createEmptyMovieClip", {Str("mc"), Int(1)})));
  Set(a, "o", New("Object"));
  a.Append(SetMember(Var("o"), "toString",
                     Function({}, Actions()
                                      .PushString("_global.asked")
                                      .Append(Bin(Var("_global.asked"), Int(1), Action::kAdd2))
                                      .SetVariable()
                                      .Append(Str("mc"))
                                      .Raw(Code(Action::kReturn)))));
  Set(a, "s", New("Sound", {Var("o")}));
  a.Append(Do(Method(Var("s"), "setVolume", {Int(30)})));
  Set(a, "clipVolume", Method(New("Sound", {Var("mc")}), "getVolume"));
  Set(a, "own", Method(Var("s"), "getVolume"));
  Played r(Script(a));
  EXPECT_EQ(r.Get("_global.asked"), "1");
  EXPECT_EQ(r.Get("clipVolume"), "30");
  EXPECT_EQ(r.Get("own"), "30");
}

TEST(Avm1Sound, LoadingMethodsComeWithSwf6) {
  Actions a;
  Set(a, "load", Actions().Append(Member(Member(Var("Sound"), "prototype"), "loadSound")).Raw(Code(Action::kTypeOf)));
  Played five(Script(a, 5)), six(Script(a, 6));
  EXPECT_EQ(five.Get("load"), "undefined");
  EXPECT_EQ(six.Get("load"), "function");
}

TEST(Avm1Sound, StopsByNameOrAll) {
  Actions a;
  Set(a, "s", New("Sound"));
  a.Append(Do(Method(Var("s"), "attachSound", {Str("beep")})));
  a.Append(Do(Method(Var("s"), "attachSound", {Str("no such sound")})));  // keeps beep
  a.Append(Do(Method(Var("s"), "start")));
  a.Append(Do(Method(Var("s"), "stop", {Str("beep")})));
  a.Append(Do(Method(Var("s"), "stop")));
  SoundLog log;
  TempFolder folder;
  PlayedFile r(folder, WithBeep(a), &log);
  ASSERT_EQ(log.starts.size(), 2u);
  EXPECT_EQ(log.starts[0].bytes, std::vector<std::uint8_t>{0});
  EXPECT_EQ(log.starts[1].id, 7);
  EXPECT_EQ(log.starts[1].bytes, std::vector<std::uint8_t>{0x20});  // SyncStop
  EXPECT_EQ(log.stopAll, 1);
}

TEST(Avm1Sound, LoadSoundDefinesAnMp3BesideTheMovie) {
  TempFolder folder;
  // Ten frames of MPEG-1 Layer III, 128 kbit/s, 44.1 kHz, stereo (417 bytes each), after an ID3 tag.
  std::string mp3 = std::string("ID3\x03\x00\x00\x00\x00\x00\x04", 10) + "abcd";
  for (int i = 0; i < 10; ++i) {
    std::string frame(417, '\0');
    frame[0] = '\xFF', frame[1] = '\xFB', frame[2] = '\x90', frame[3] = '\x00';
    mp3 += frame;
  }
  folder.Write(folder.Dir() / "tune.mp3", mp3);
  Actions a;
  Set(a, "s", New("Sound"));
  a.Append(SetMember(Var("s"), "onLoad", Function({"ok"}, Actions().PushString("/:loaded").Append(Var("ok")).SetVariable())));
  a.Append(Do(Method(Var("s"), "loadSound", {Str("tune.mp3"), Actions().PushBool(true)})));
  Set(a, "missing", New("Sound"));
  a.Append(SetMember(Var("missing"), "onLoad", Function({"ok"}, Actions().PushString("/:missingOk").Append(Var("ok")).SetVariable())));
  a.Append(Do(Method(Var("missing"), "loadSound", {Str("nothere.mp3"), Actions().PushBool(false)})));
  SoundLog log;
  PlayedFile r(folder, Script(a), &log);
  EXPECT_EQ(r.Get("loaded"), "");
  r.player.AdvanceTo(100);
  EXPECT_EQ(r.Get("loaded"), "true");
  EXPECT_EQ(r.Get("missingOk"), "false");
  EXPECT_EQ(r.Get("s.duration"), "261");
  ASSERT_FALSE(log.defines.empty());
  const Heard& def = log.defines.back();
  EXPECT_EQ(U16(def.bytes, 0), def.id);
  EXPECT_EQ(def.bytes[2], 2 << 4 | 3 << 2 | 2 | 1);  // MP3, 44 kHz, 16-bit, stereo
  EXPECT_EQ(U32(def.bytes, 3), 11520u);
  EXPECT_EQ(def.bytes.size(), 2u + 1 + 4 + 2 + 4170);
  // A streaming load starts by itself.
  ASSERT_FALSE(log.starts.empty());
  EXPECT_EQ(log.starts.back().id, def.id);
}

// Ten frames of MPEG-1 Layer III (about a quarter second) in a file beside the movie.
void WriteTune(const TempFolder& folder, const std::string& name) {
  std::string mp3;
  for (int i = 0; i < 10; ++i) {
    std::string frame(417, '\0');
    frame[0] = '\xFF', frame[1] = '\xFB', frame[2] = '\x90', frame[3] = '\x00';
    mp3 += frame;
  }
  folder.Write(folder.Dir() / name, mp3);
}

// An ID3v2.3 tag of text frames and comments, then the tune's frames.
std::string TaggedTune() {
  const auto frame = [](const std::string& id, const std::string& body) {
    const auto n = body.size();
    return id + std::string{'\0', '\0', static_cast<char>(n >> 8), static_cast<char>(n), '\0', '\0'} + body;
  };
  using namespace std::string_literals;
  const std::string frames = frame("TPE1", "\0Band"s) + frame("COMM", "\0eng\0First"s) + frame("TLEN", "\0" "9"s) +
                             frame("COMM", "\0engx\0Second"s) + frame("COMM", "\0eng\0Third"s);
  std::string mp3 = "ID3\x03\0\0\0\0"s + static_cast<char>(0) + static_cast<char>(frames.size()) + frames;
  for (int i = 0; i < 10; ++i) {
    std::string f(417, '\0');
    f[0] = '\xFF', f[1] = '\xFB', f[2] = '\x90', f[3] = '\x00';
    mp3 += f;
  }
  return mp3;
}

Actions Assign(const std::string& name, const Actions& value) {
  Actions a;
  return Set(a, name, value);
}

TEST(Avm1Sound, Id3TagsReachTheScriptBeforeTheSoundHasLoaded) {
  TempFolder folder;
  folder.Write(folder.Dir() / "tagged.mp3", TaggedTune());
  Actions a;
  Set(a, "_global.log", Str(""));
  Set(a, "s", New("Sound"));
  Actions onId3;
  onId3.Append(Log(Str("id3:")));
  onId3.Append(Log(Member(Var("s"), "duration")));
  onId3.Append(ForIn(Member(Var("s"), "id3"), Log(Bin(Actions().PushRegister(0), Str(","), Action::kAdd2))));
  // No prototype: no toString.
  onId3.Append(Log(Op(Member(Member(Var("s"), "id3"), "toString"), Code(Action::kTypeOf))));
  // Read-only once made.
  onId3.Append(SetMember(Var("s"), "id3", Str("x")));
  a.Append(SetMember(Var("s"), "onID3", Function({}, onId3)));
  a.Append(SetMember(Var("s"), "onLoad", Function({}, Log(Bin(Str(" load:"), Member(Var("s"), "duration"), Action::kAdd2)))));
  a.Append(Do(Method(Var("s"), "loadSound", {Str("tagged.mp3"), Bool(false)})));
  // A script's own id3 property stays; onID3 still comes.
  Set(a, "t", New("Sound"));
  a.Append(SetMember(Var("t"), "id3", Str("mine")));
  a.Append(SetMember(Var("t"), "onID3", Function({}, Assign("_global.tHeard", Member(Var("t"), "id3")))));
  a.Append(Do(Method(Var("t"), "loadSound", {Str("tagged.mp3"), Bool(false)})));
  // No tag, no id3 and no onID3.
  WriteTune(folder, "plain.mp3");
  Set(a, "u", New("Sound"));
  a.Append(SetMember(Var("u"), "onID3", Function({}, Assign("_global.uHeard", Bool(true)))));
  a.Append(Do(Method(Var("u"), "loadSound", {Str("plain.mp3"), Bool(false)})));
  PlayedFile r(folder, Script(a));
  r.player.AdvanceTo(200);
  // Newest name first: each frame after its word, a repeated frame's texts
  // gathered in an array where the frame first came.
  EXPECT_EQ(r.Get("_global.log"), "id3:0TLEN,COMM,comment,TPE1,artist,undefined load:261");
  EXPECT_EQ(r.Get("s.id3.COMM"), "First,Second,Third");
  EXPECT_EQ(r.Get("s.id3.comment"), "Third");
  EXPECT_EQ(r.Get("s.id3.TLEN"), "9");
  EXPECT_EQ(r.Get("s.id3.artist"), "Band");
  EXPECT_EQ(r.Get("_global.tHeard"), "mine");
  EXPECT_EQ(r.Get("_global.uHeard"), "");
  EXPECT_EQ(r.Get("u.id3"), "");
}

TEST(Avm1Sound, StartsWhileLoadingPlayOnceLoadedAndEachEndsOnItsOwn) {
  TempFolder folder;
  WriteTune(folder, "tune.mp3");
  Actions a;
  Set(a, "_global.ends", Int(0));
  Set(a, "s", New("Sound"));
  a.Append(SetMember(Var("s"), "onSoundComplete",
                     Function({}, Actions().PushString("_global.ends").Append(Bin(Var("_global.ends"), Int(1), Action::kAdd2)).SetVariable())));
  a.Append(Do(Method(Var("s"), "loadSound", {Str("tune.mp3"), Bool(false)})));
  a.Append(Do(Method(Var("s"), "start")));
  a.Append(Do(Method(Var("s"), "start")));
  // A second load drops the starts asked for before it.
  Set(a, "t", New("Sound"));
  a.Append(Do(Method(Var("t"), "loadSound", {Str("tune.mp3"), Bool(false)})));
  a.Append(Do(Method(Var("t"), "start")));
  a.Append(Do(Method(Var("t"), "loadSound", {Str("tune.mp3"), Bool(false)})));
  SoundLog log;
  PlayedFile r(folder, Script(a), &log);
  EXPECT_TRUE(log.starts.empty());
  r.player.AdvanceTo(1000);
  EXPECT_EQ(log.starts.size(), 2u);
  EXPECT_EQ(r.Get("_global.ends"), "2");
}

TEST(Avm1Sound, DurationAndPositionComeWithTheSound) {
  Actions a;
  Set(a, "s", New("Sound"));
  Set(a, "before", Op(Member(Var("s"), "duration"), Code(Action::kTypeOf)));
  Set(a, "t", New("Sound"));
  a.Append(SetMember(Var("t"), "duration", Str("mine")));  // a plain property while no sound is held
  Set(a, "written", Member(Var("t"), "duration"));
  a.Append(Do(Method(Var("s"), "attachSound", {Str("beep")})));
  a.Append(SetMember(Var("s"), "duration", Int(5)));
  Actions del;
  del.Append(Var("s")).PushString("duration").Raw(Code(Action::kDelete)).Raw(Code(Action::kPop));
  a.Append(del);
  Set(a, "after", Member(Var("s"), "duration"));
  Set(a, "setter", Op(Member(Var("s"), "setDuration"), Code(Action::kTypeOf)));
  Played r(WithBeep(a));
  EXPECT_EQ(r.Get("before"), "undefined");
  EXPECT_EQ(r.Get("written"), "mine");
  EXPECT_EQ(r.Get("after"), "1000");  // read-only and kept from delete
  EXPECT_EQ(r.Get("setter"), "function");
}

}  // namespace
}  // namespace quarvel::player::script_test
