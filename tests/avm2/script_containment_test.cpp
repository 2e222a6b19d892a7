// ActionScript 3 faults stay inside the movie: an error no script catches is
// reported where Flash reports it (the trace output) and the movie goes on,
// whichever way the host entered the scripts; and scripts that grow memory
// stop at the caps with the process's memory bounded; caps a host lowers
// (FlashPlayer::SetScriptLimits) stop scripts of both machines sooner.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "support/as3_movie.h"

namespace quarvel::testing {
namespace {

using player::FlashPlayer;

std::size_t Count(const std::string& text, const std::string& part) {
  std::size_t n = 0;
  for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++n;
  return n;
}

// function (e) { trace(label); throw new Error(message) }
std::uint32_t Thrower(As3Movie& d, std::string_view label, std::string_view message) {
  AbcCode c;
  d.Trace(c, label);
  c.Op("findpropstrict", {d.Q("Error")}).Op("pushstring", {d.S(message)}).Op("constructprop", {d.Q("Error"), 1});
  c.Op("throw");
  return d.Method(c, 1);
}

// function (e) { trace(label) }
std::uint32_t Tick(As3Movie& d, std::string_view label) {
  AbcCode c;
  d.Trace(c, label);
  c.Op("returnvoid");
  return d.Method(c, 1);
}

void Frames(FlashPlayer& p, int n) { p.AdvanceTo(n * 100); }  // the builder's movies play at 10 fps

TEST(ScriptContainment, UncaughtErrorsAreReportedAndTheMovieGoesOn) {
  struct Case {
    const char* name;
    std::function<void(As3Movie&, AbcCode&)> ctor;
    const char* reported;
  };
  const std::vector<Case> cases = {
      {"the document class's constructor",
       [](As3Movie& d, AbcCode& c) {
         d.Listen(c, 0, "enterFrame", Tick(d, "tick"));
         c.Op("findpropstrict", {d.Q("Error")}).Op("pushstring", {d.S("in the constructor")})
             .Op("constructprop", {d.Q("Error"), 1}).Op("throw");
       },
       "Error: in the constructor"},
      {"an enterFrame listener",
       [](As3Movie& d, AbcCode& c) {
         d.Listen(c, 0, "enterFrame", Thrower(d, "tick", "in a listener"));
       },
       "Error: in a listener"},
      {"a listener dispatchEvent reached",
       [](As3Movie& d, AbcCode& c) {
         d.Listen(c, 0, "custom", Thrower(d, "heard", "in a dispatched listener"));
         d.Listen(c, 0, "enterFrame", Tick(d, "tick"));
         c.Op("getlocal_0").Op("findpropstrict", {d.Events("Event")}).Op("pushstring", {d.S("custom")})
             .Op("constructprop", {d.Events("Event"), 1}).Op("callpropvoid", {d.Q("dispatchEvent"), 1});
         d.Trace(c, "dispatched");
       },
       "Error: in a dispatched listener"},
      {"a Timer's listener",
       [](As3Movie& d, AbcCode& c) {
         const auto timer = d.a.PackageName("flash.utils", "Timer");
         c.Op("findpropstrict", {timer}).Op("pushint", {d.a.Int(50)}).Op("constructprop", {timer, 1}).Op("setlocal_1");
         d.Listen(c, 1, "timer", Thrower(d, "tick", "in a timer"));
         c.Op("getlocal_1").Op("callpropvoid", {d.Q("start"), 0});
       },
       "Error: in a timer"},
      {"a setTimeout callback",
       [](As3Movie& d, AbcCode& c) {
         d.Listen(c, 0, "enterFrame", Tick(d, "tick"));
         const auto later = d.a.PackageName("flash.utils", "setTimeout");
         c.Op("findpropstrict", {later}).Op("newfunction", {Thrower(d, "later", "in a callback")})
             .Op("pushint", {d.a.Int(10)}).Op("callpropvoid", {later, 2});
       },
       "Error: in a callback"},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    As3Movie d;
    const auto bytes = d.Build(k.ctor, 3);
    const std::string traced = As3Traced(bytes, [](FlashPlayer& p) { Frames(p, 6); });
    EXPECT_NE(traced.find(std::string(k.reported) + "|"), std::string::npos) << traced;
    // The movie went on: later frames still ran their scripts.
    EXPECT_GE(Count(traced, "tick|"), 2u) << traced;
  }
}

TEST(ScriptContainment, AnErrorInANativesCallbackEndsTheScriptThatCalledIt) {
  // A sort's compare function throws through Array.sort into the
  // constructor that called it, and no further.
  As3Movie d;
  AbcCode compare;
  compare.Op("findpropstrict", {d.Q("Error")}).Op("pushstring", {d.S("from compare")})
      .Op("constructprop", {d.Q("Error"), 1}).Op("throw");
  const auto cmp = d.Method(compare, 2);
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    d.Listen(c, 0, "enterFrame", Tick(d, "tick"));
    // [3, 1, 2].sort(cmp) with no handler: uncaught, reported.
    c.Op("pushint", {m.a.Int(3)}).Op("pushint", {m.a.Int(1)}).Op("pushint", {m.a.Int(2)}).Op("newarray", {3});
    c.Op("newfunction", {cmp}).Op("callpropvoid", {m.Q("sort"), 1});
    m.Trace(c, "not reached");
  }, 3);
  const std::string traced = As3Traced(bytes, [](FlashPlayer& p) { Frames(p, 4); });
  EXPECT_NE(traced.find("Error: from compare|"), std::string::npos) << traced;
  EXPECT_EQ(traced.find("not reached"), std::string::npos) << traced;
  EXPECT_GE(Count(traced, "tick|"), 2u) << traced;
}

TEST(ScriptContainment, ADocumentClassThatIsNoSpriteIsReportedAndTheRootStaysAMovieClip) {
  As3Movie d;
  d.docName = "Plain";
  d.docBase = d.Q("Object");
  const auto bytes = d.Build([](As3Movie& m, AbcCode& c) { m.Trace(c, "constructed"); }, 2);
  const std::string traced = As3Traced(bytes, [](FlashPlayer& p) { Frames(p, 3); });
  EXPECT_EQ(traced, "TypeError: Error #2023: Class Plain$ must inherit from Sprite to link to the root.|");
}

// Plays `bytes` for `frames` frames in a child process; returns the child's
// traced lines and sets `peakKb` to its peak resident memory.
std::string PlayInChild(const std::vector<std::uint8_t>& bytes, int frames, long& peakKb) {
  int fds[2];
  if (pipe(fds) != 0) return "pipe failed";
  const pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    const std::string traced = As3Traced(bytes, [&](FlashPlayer& p) { Frames(p, frames); });
    const char* at = traced.data();
    for (std::size_t left = traced.size(); left > 0;) {
      const ssize_t n = write(fds[1], at, left);
      if (n <= 0) break;
      at += n;
      left -= static_cast<std::size_t>(n);
    }
    _exit(0);
  }
  close(fds[1]);
  std::string out;
  char buf[4096];
  for (ssize_t n; (n = read(fds[0], buf, sizeof buf)) > 0;) out.append(buf, static_cast<std::size_t>(n));
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the player's process ended with status " << status;
  rusage usage{};
  getrusage(RUSAGE_CHILDREN, &usage);
  peakKb = usage.ru_maxrss;
  return out;
}

TEST(ScriptContainment, AStringDoubledEveryFrameStopsAtTheCap) {
  // A dynamic MovieClip holds s; its enterFrame listener does s = s + s and
  // traces the length. Unchecked, the 40th frame would ask for a terabyte.
  As3Movie d;
  AbcCode grow;
  grow.Op("getlocal_1").Op("getproperty", {d.Q("currentTarget")}).Op("dup").Op("getproperty", {d.Q("s")});
  grow.Op("getlocal_1").Op("getproperty", {d.Q("currentTarget")}).Op("getproperty", {d.Q("s")}).Op("add");
  grow.Op("setproperty", {d.Q("s")});
  grow.Op("findpropstrict", {d.Q("trace")}).Op("getlocal_1").Op("getproperty", {d.Q("currentTarget")})
      .Op("getproperty", {d.Q("s")}).Op("getproperty", {d.Q("length")}).Op("callpropvoid", {d.Q("trace"), 1});
  grow.Op("returnvoid");
  const auto growMethod = d.Method(grow, 1);
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    // The root listens first: a stopped script ends its frame's scripts.
    m.Listen(c, 0, "enterFrame", Tick(m, "tick"));
    c.Op("findpropstrict", {m.Display("MovieClip")}).Op("constructprop", {m.Display("MovieClip"), 0}).Op("setlocal_1");
    c.Op("getlocal_1").Op("pushstring", {m.S("ab")}).Op("setproperty", {m.Q("s")});
    c.Op("getlocal_0").Op("getlocal_1").Op("callpropvoid", {m.Q("addChild"), 1});
    m.Listen(c, 1, "enterFrame", growMethod);
  }, 2);
  long peakKb = 0;
  const std::string traced = PlayInChild(bytes, 40, peakKb);
  // 4, 8, ... 2^27 characters: the next doubling passes one frame's cap.
  EXPECT_NE(traced.find("|134217728|"), std::string::npos) << traced.substr(0, 600);
  EXPECT_EQ(traced.find("268435456"), std::string::npos) << traced.substr(0, 400);
  // The movie goes on, its other listener with it.
  EXPECT_GE(Count(traced, "tick|"), 35u);
  // The string (128 MB), the one-frame cap's worth of attempts and the
  // sanitizer's quarantine, far from the gigabytes of an unchecked run.
  EXPECT_LT(peakKb, 1'500'000L) << "peak resident memory " << peakKb << " KB";
  RecordProperty("peak_kb", std::to_string(peakKb));
}

// Plays `bytes` for two frames under `limits`; the traced lines, and the
// causes of stopped scripts joined by "|".
std::string PlayLimited(const std::vector<std::uint8_t>& bytes, const player::ScriptLimits& limits,
                        std::string& stopped) {
  setenv("QUARVEL_DEBUG", "1", 1);
  ::testing::internal::CaptureStderr();
  {
    FlashPlayer p;
    p.SetScriptLimits(limits);
    p.SetSize(100, 100);
    EXPECT_TRUE(p.LoadMovieBytes(bytes)) << p.LoadError();
    Frames(p, 2);
    stopped.clear();
    for (const auto& why : p.StoppedScripts()) stopped += why + "|";
  }
  const std::string err = ::testing::internal::GetCapturedStderr();
  unsetenv("QUARVEL_DEBUG");
  std::string out;
  for (std::size_t at = 0; (at = err.find("trace: ", at)) != std::string::npos;) {
    const auto end = err.find('\n', at);
    out += err.substr(at + 7, end - at - 7) + "|";
    at = end;
  }
  return out;
}

TEST(ScriptLimits, AnEndlessLoopStopsAtTheLoweredInstructionCap) {
  // for (i = 0;; ++i) if (i == 100000) trace("passed"): about 600,000
  // instructions to get there.
  As3Movie d;
  const auto bytes = d.Build([](As3Movie& m, AbcCode& c) {
    c.Op("pushbyte", {0}).Op("setlocal_1");
    c.Loop("top").Op("inclocal_i", {1});
    c.Op("getlocal_1").Op("pushint", {m.a.Int(100000)}).Branch("ifne", "skip");
    m.Trace(c, "passed");
    c.Label("skip").Branch("jump", "top");
  }, 2);
  std::string stopped;
  EXPECT_EQ(PlayLimited(bytes, {.instructionsPerFrame = 10'000}, stopped), "");
  EXPECT_NE(stopped.find("ActionScript 3: the instruction cap"), std::string::npos) << stopped;
  // A cap above what the loop needs lets it pass, and still stops it.
  EXPECT_EQ(PlayLimited(bytes, {.instructionsPerFrame = 2'000'000}, stopped), "passed|");
  EXPECT_NE(stopped.find("ActionScript 3: the instruction cap"), std::string::npos) << stopped;
}

TEST(ScriptLimits, EndlessRecursionStopsAtTheLoweredCallDepth) {
  // function down(n) { if (n == 40) trace("deep"); down(n + 1) }
  As3Movie d;
  AbcCode down;
  down.Op("getlocal_1").Op("pushbyte", {40}).Branch("ifne", "skip");
  d.Trace(down, "deep");
  down.Label("skip").Op("getlocal_0").Op("getlocal_1").Op("increment_i").Op("callpropvoid", {d.Q("down"), 1});
  down.Op("returnvoid");
  const auto bytes = d.Build([](As3Movie& m, AbcCode& c) {
    c.Op("getlocal_0").Op("pushbyte", {0}).Op("callpropvoid", {m.Q("down"), 1});
  }, 2, {{"down", down}});
  // Past the depth Flash throws its stack overflow error, which no script catches here.
  std::string stopped;
  constexpr const char* kOverflow = "Error: Error #1023: Stack overflow occurred.|";
  EXPECT_EQ(PlayLimited(bytes, {.callDepth = 20}, stopped), kOverflow);
  EXPECT_EQ(PlayLimited(bytes, {.callDepth = 64}, stopped), std::string("deep|") + kOverflow);
}

TEST(ScriptLimits, AStringDoubledInALoopStopsAtTheLoweredMemoryCap) {
  // for (s = "ab";; s += s) if (s.length == 1 << 20) trace("mega")
  As3Movie d;
  const auto bytes = d.Build([](As3Movie& m, AbcCode& c) {
    c.Op("pushstring", {m.S("ab")}).Op("setlocal_1");
    c.Loop("top").Op("getlocal_1").Op("getlocal_1").Op("add").Op("setlocal_1");
    c.Op("getlocal_1").Op("getproperty", {m.Q("length")}).Op("pushint", {m.a.Int(1 << 20)}).Branch("ifne", "skip");
    m.Trace(c, "mega");
    c.Label("skip").Branch("jump", "top");
  }, 2);
  std::string stopped;
  EXPECT_EQ(PlayLimited(bytes, {.memoryBytes = 256 << 10}, stopped), "");
  EXPECT_NE(stopped.find("ActionScript 3: the memory cap"), std::string::npos) << stopped;
  EXPECT_EQ(PlayLimited(bytes, {.memoryBytes = 32 << 20}, stopped), "mega|");
  EXPECT_NE(stopped.find("ActionScript 3: the memory cap"), std::string::npos) << stopped;
}

TEST(ScriptLimits, AnActionScript1LoopStopsAtTheLoweredActionCap) {
  // n = 0; for (;;) { n = n + 1; if (n == 50000) passed = 1 }: some 700,000 actions.
  const Actions setPassed = Actions().PushString("passed").PushInt(1).SetVariable();
  Actions a = Actions().PushString("n").PushInt(0).SetVariable();
  const std::size_t top = a.Size();
  a.PushString("n").PushString("n").Raw(0x1C).PushInt(1).Raw(0x47).SetVariable();   // n = n + 1
  a.PushString("n").Raw(0x1C).PushInt(50000).Raw(0x49).Raw(0x12);                    // !(n == 50000)
  a.If(static_cast<std::int16_t>(setPassed.Size())).Append(setPassed);
  a.Jump(static_cast<std::int16_t>(-static_cast<std::ptrdiff_t>(a.Size() + 5 - top)));
  SwfBuilder b(8, {0, 2000, 0, 2000}, 10.0);
  b.DoAction(a);
  b.ShowFrame();
  b.ShowFrame();
  const auto bytes = b.Build();
  for (const auto& [cap, passed] : {std::pair{std::uint64_t{10'000}, ""}, std::pair{std::uint64_t{2'000'000}, "1"}}) {
    SCOPED_TRACE(cap);
    FlashPlayer p;
    p.SetScriptLimits({.instructionsPerFrame = cap});
    ASSERT_TRUE(p.LoadMovieBytes(bytes)) << p.LoadError();
    EXPECT_EQ(p.GetVariable("passed"), passed);
    const auto stopped = p.StoppedScripts();
    ASSERT_EQ(stopped.size(), 1u);
    EXPECT_EQ(stopped[0], "ActionScript 1/2: the instruction cap of one frame");
  }
}

}  // namespace
}  // namespace quarvel::testing
