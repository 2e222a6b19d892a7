// Both front ends capture through the one capture job: the command line and
// the window, each over our player on a virtual clock, leave the same frame
// store for the same movie.

#include <QComboBox>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "app/main_window.h"
#include "app/progress_box.h"
#include "app/window_fixture.h"
#include "cli/cli_run.h"
#include "flash/flash_movie_control.h"
#include "platform/audio/clock.h"
#include "platform/audio/loopback_bus.h"
#include "platform/mci/mci.h"
#include "platform/mixer/loopback_mixer.h"
#include "support/shape_builder.h"
#include "support/swf_builder.h"

namespace quarvel::testing {
namespace {

namespace fs = std::filesystem;

// A 120 x 90 movie of 24 frames at 12 fps: a square crosses it, a second
// one is still, and a stop on the last frame ends the capture there.
std::vector<std::uint8_t> CrossingSquare() {
  SwfBuilder b(6, {0, 2400, 0, 1800}, 12.0);
  b.SetBackgroundColor({250, 250, 250, 255});
  ShapeBuilder red, blue;
  red.Rectangle(0, 0, 300, 300, red.AddFill(FillStyle::Solid({210, 20, 20, 255})));
  blue.Rectangle(0, 0, 500, 200, blue.AddFill(FillStyle::Solid({20, 40, 200, 255})));
  b.DefineShape(1, red);
  b.DefineShape(2, blue);
  for (int f = 0; f < 24; ++f) {
    swf::Matrix m;
    m.translateX = 90 * f;
    m.translateY = 600;
    if (f == 0) {
      b.PlaceObject2({.depth = 1, .characterId = 2});
      b.PlaceObject2({.depth = 2, .characterId = 1, .matrix = m});
    } else {
      b.PlaceObject2({.depth = 2, .move = true, .matrix = m});
    }
    if (f == 23) b.DoAction(Actions().Stop());
    b.ShowFrame();
  }
  return b.Build();
}

// Frame file name -> content, for the numbered frame files only (the
// recording and the capture record differ between the front ends).
std::map<std::string, std::string> FrameStore(const fs::path& capture_folder) {
  std::map<std::string, std::string> out;
  for (const auto& e : fs::directory_iterator(capture_folder)) {
    if (e.path().extension() == ".bmp") out[e.path().filename().string()] = ReadText(e.path());
  }
  return out;
}

TEST(FrontEnds, CommandLineAndWindowLeaveTheSameFrameStore) {
  EnsureApplication();
  CliRunner cli("front-ends");
  const fs::path movie = cli.Folder() / "crossing.swf";
  {
    const auto bytes = CrossingSquare();
    std::ofstream(movie, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }
  constexpr int kLatency = 100;

  // The window: "Open", then "Capture Frames", with its own working folder.
  const fs::path window_home = cli.Folder() / "window";
  fs::create_directories(window_home);
  ::setenv("QUARVEL_HOME", window_home.c_str(), 1);
  std::int32_t background = 0;
  long long window_frames = 0;
  {
    audio::VirtualClock clock;
    flash::FlashMovieControl control;
    audio::LoopbackBus bus;
    mixer::LoopbackMixer mixer{bus};
    ScriptedPrompts prompts;
    app::ProgressBox progress;
    app::MainWindow window({control, clock, prompts, progress, mixer, mci::Mci::Instance()});
    window.SetOpenWaitMs(0);
    window.show();
    prompts.open_answers.push_back(QString::fromStdString(movie.string()));
    QTest::mouseClick(window.findChild<QPushButton*>("open"), Qt::LeftButton);
    window.findChild<QSpinBox*>("latency")->setValue(kLatency);
    const QColor c = window.findChild<QComboBox*>("backgroundColor")->currentData().value<QColor>();
    background = (c.red() << 16) | (c.green() << 8) | c.blue();
    QTest::mouseClick(window.findChild<QPushButton*>("captureFrames"), Qt::LeftButton);
    window_frames = window.CapturedFrameCount();
    EXPECT_EQ(window.FrameView().Width(), 120);
    EXPECT_EQ(window.FrameView().Height(), 90);
  }
  ::unsetenv("QUARVEL_HOME");

  // The command line, sized as the window's "Open" sizes the player.
  char rgb[8];
  std::snprintf(rgb, sizeof rgb, "%06x", static_cast<unsigned>(background));
  const CliResult r = cli.Run({"capture", movie.string(), "--latency", std::to_string(kLatency), "--sound", "none",
                               "--background", rgb});
  ASSERT_EQ(r.status, 0) << r.err;

  // The capture ends on the last frame, 2 s in: ticks at 0, 100, ... 2000 ms.
  EXPECT_EQ(window_frames, 21);
  EXPECT_NE(ReadText(cli.WorkDir() / "temp" / "last-capture.txt").find("frames=21"), std::string::npos);
  const auto from_window = FrameStore(window_home / "temp");
  const auto from_cli = FrameStore(cli.WorkDir() / "temp");
  EXPECT_EQ(from_window.size(), 21u);
  ASSERT_EQ(from_window.size(), from_cli.size());
  for (const auto& [name, bytes] : from_window) {
    auto it = from_cli.find(name);
    ASSERT_NE(it, from_cli.end()) << name;
    EXPECT_TRUE(it->second == bytes) << name << " differs";
  }
  fs::remove_all(window_home);
}

}  // namespace
}  // namespace quarvel::testing
