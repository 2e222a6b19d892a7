#pragma once
// ActionScript 3 movies for player tests: a document class Main (a
// MovieClip) whose constructor is assembled by the test, with helpers for
// the code tests write most (sprites with a filled rectangle, listeners
// that trace what they hear), and a run that collects trace() output.
//
//   As3Movie d;
//   const auto heard = d.Tracer("", {"type", "target.name"});
//   auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
//     m.NewSprite(c, 1, "box", 0xFF0000, 10, 10, 40, 40);   // local 1
//     m.Listen(c, 1, "click", heard);
//   });
//   EXPECT_EQ(As3Traced(bytes, [](FlashPlayer& p) { p.MouseDown(20, 20); p.MouseUp(20, 20); }), "click box|");
//   (header-only: link the test with quarvel_player)

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "player/flash_player.h"
#include "support/as3_movie_builder.h"

namespace quarvel::testing {

// The first picture of the movie in a 100 x 100 player; a feature the
// player skipped fails the test.
inline gdi::Bitmap As3FirstPicture(const std::vector<std::uint8_t>& bytes) {
  player::FlashPlayer p;
  p.SetSize(100, 100);
  EXPECT_TRUE(p.LoadMovieBytes(bytes)) << p.LoadError();
  for (const auto& s : p.SkippedFeatures()) ADD_FAILURE() << s;
  gdi::Bitmap bmp;
  p.Paint(bmp);
  return bmp;
}

// Loads the movie (from `path` when given, else from the bytes), lets
// `drive` work the player and returns the traced lines, each ended by "|".
inline std::string As3Traced(const std::vector<std::uint8_t>& bytes,
                             const std::function<void(player::FlashPlayer&)>& drive, const std::string& path = {}) {
  setenv("QUARVEL_DEBUG", "1", 1);
  ::testing::internal::CaptureStderr();
  {
    player::FlashPlayer p;
    p.SetSize(100, 100);
    if (path.empty()) EXPECT_TRUE(p.LoadMovieBytes(bytes)) << p.LoadError();
    else {
      p.SetMovie(path);
      EXPECT_EQ(p.ReadyState(), 4) << p.LoadError();
    }
    drive(p);
  }
  const std::string err = ::testing::internal::GetCapturedStderr();
  unsetenv("QUARVEL_DEBUG");
  std::string out;
  std::size_t at = 0;
  while ((at = err.find("trace: ", at)) != std::string::npos) {
    const auto end = err.find('\n', at);
    out += err.substr(at + 7, end - at - 7) + "|";
    at = end;
  }
  return out;
}

}  // namespace quarvel::testing
