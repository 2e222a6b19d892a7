// fscommand("quit") from ActionScript 3: the player closes as a standalone
// one does, so the movie's last picture stays and nothing runs after it.
#include <gtest/gtest.h>

#include <string>

#include "player/flash_player.h"
#include "support/as3_movie.h"

namespace quarvel::player {
namespace {

using testing::AbcCode;
using testing::As3Movie;
using testing::As3Traced;

// Main traces "enter" on every ENTER_FRAME and has a frame script on frame
// 2 that calls fscommand(`command`).
std::vector<std::uint8_t> CommandOnFrame2(const std::string& command) {
  As3Movie d;
  const auto enter = d.Tracer("enter", {});
  const auto fscommand = d.a.PackageName("flash.system", "fscommand");
  AbcCode frame2;
  frame2.Op("findpropstrict", {fscommand}).Op("pushstring", {d.S(command)}).Op("callpropvoid", {fscommand, 1});
  d.Trace(frame2, "after " + command);
  frame2.Op("returnvoid");
  return d.Build(
      [&](As3Movie& m, AbcCode& c) {
        m.Listen(c, 0, "enterFrame", enter);
        c.Op("getlocal_0").Op("pushbyte", {1}).Op("getlocal_0").Op("getproperty", {m.Q("frame2")})
            .Op("callpropvoid", {m.Q("addFrameScript"), 2});
      },
      4, {{"frame2", frame2}});
}

TEST(As3Quit, QuitEndsTheMovieAfterTheScriptThatAskedForIt) {
  int frame = -1;
  const auto out = As3Traced(CommandOnFrame2("quit"), [&](FlashPlayer& p) {
    p.AdvanceTo(p.Now() + 1000);  // ten frame periods
    p.MouseDown(50, 50);
    p.KeyDown(65, 'a');
    frame = p.CurrentFrame();
  });
  // The script runs to its end; no frame after it.
  EXPECT_EQ(out, "enter|after quit|");
  EXPECT_EQ(frame, 1);
}

TEST(As3Quit, OtherCommandsAndAnyCaseOfQuit) {
  // Commands for a host program do nothing here; "QUIT" is quit too.
  const auto plays = As3Traced(CommandOnFrame2("fullscreen"), [](FlashPlayer& p) { p.AdvanceTo(p.Now() + 350); });
  EXPECT_EQ(plays, "enter|after fullscreen|enter|enter|");
  const auto quits = As3Traced(CommandOnFrame2("QUIT"), [](FlashPlayer& p) { p.AdvanceTo(p.Now() + 350); });
  EXPECT_EQ(quits, "enter|after QUIT|");
}

TEST(As3Quit, LoadingTheMovieAgainPlaysIt) {
  FlashPlayer p;
  const auto bytes = CommandOnFrame2("quit");
  ASSERT_TRUE(p.LoadMovieBytes(bytes));
  p.AdvanceTo(p.Now() + 500);
  EXPECT_EQ(p.CurrentFrame(), 1);
  ASSERT_TRUE(p.LoadMovieBytes(bytes));
  EXPECT_EQ(p.CurrentFrame(), 0);
  p.AdvanceTo(p.Now() + 100);
  EXPECT_EQ(p.CurrentFrame(), 1);
}

}  // namespace
}  // namespace quarvel::player
