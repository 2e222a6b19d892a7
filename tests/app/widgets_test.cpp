// The player widget's mouse events and the progress box.

#include <QApplication>
#include <QMenu>
#include <QProgressBar>
#include <QSignalSpy>
#include <QTest>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "flash/flash_movie_control.h"
#include "app/flash_widget.h"
#include "app/progress_box.h"
#include "app/window_fixture.h"
#include "support/swf_builder.h"

namespace quarvel::testing {
namespace {

class WidgetsTest : public ::testing::Test {
 protected:
  void SetUp() override { EnsureApplication(); }
  ScriptedMovie movie;
  audio::VirtualClock clock;
};

TEST_F(WidgetsTest, LeftClickGivesDownUpThenClick) {
  app::FlashWidget widget(movie, clock);
  widget.show();
  QStringList events;
  QObject::connect(&widget, &app::FlashWidget::MouseDown, [&](Qt::MouseButton, int x, int y) {
    events << QString("down %1,%2").arg(x).arg(y);
  });
  QObject::connect(&widget, &app::FlashWidget::MouseUp, [&](Qt::MouseButton, int x, int y) {
    events << QString("up %1,%2").arg(x).arg(y);
  });
  QObject::connect(&widget, &app::FlashWidget::Click, [&] { events << "click"; });
  QTest::mouseClick(&widget, Qt::LeftButton, {}, QPoint(12, 34));
  EXPECT_EQ(events, (QStringList{"down 12,34", "up 12,34", "click"}));
  EXPECT_FALSE(widget.Pressed());

  // A release without a press on the control is no click.
  events.clear();
  QTest::mouseRelease(&widget, Qt::LeftButton, {}, QPoint(3, 4));
  EXPECT_EQ(events, (QStringList{"up 3,4"}));

  // Leaving the control forgets the press.
  QTest::mousePress(&widget, Qt::LeftButton, {}, QPoint(5, 5));
  EXPECT_TRUE(widget.Pressed());
  QEvent leave(QEvent::Leave);
  QCoreApplication::sendEvent(&widget, &leave);
  EXPECT_FALSE(widget.Pressed());
}

TEST_F(WidgetsTest, RightClickShowsTheAssignedPopupMenu) {
  app::FlashWidget widget(movie, clock);
  widget.show();
  QSignalSpy downs(&widget, &app::FlashWidget::MouseDown);
  // No menu assigned: no mouse-down event; the control shows its own menu.
  QTest::mouseClick(&widget, Qt::RightButton, {}, QPoint(8, 8));
  EXPECT_EQ(downs.count(), 0);
  auto* own = qobject_cast<QMenu*>(QApplication::activePopupWidget());
  ASSERT_NE(own, nullptr);
  own->close();
  QMenu menu;
  menu.addAction("Item");
  widget.SetPopupMenu(&menu);
  QTest::mouseClick(&widget, Qt::RightButton, {}, QPoint(8, 8));
  EXPECT_TRUE(menu.isVisible());
  EXPECT_FALSE(widget.Pressed());
  menu.hide();
}

// A 100 x 100 movie stopped on its first frame, with a button at pixels
// 40..59 whose release plays the movie.
std::vector<std::uint8_t> ButtonMovie() {
  SwfBuilder b(8, {0, 2000, 0, 2000}, 10.0);
  ShapeBuilder red;
  red.Rectangle(0, 0, 400, 400, red.AddFill(FillStyle::Solid({255, 0, 0, 255})));
  b.DefineShape(1, red);
  b.DefineButton2(2, {{.up = true, .over = true, .down = true, .hitTest = true, .characterId = 1}},
                  {{.conditions = 0x0800, .actions = Actions().Play()}});
  swf::Matrix at;
  at.translateX = at.translateY = 800;
  b.DoAction(Actions().Stop());
  b.PlaceObject2({.depth = 1, .characterId = 2, .matrix = at}).ShowFrame().ShowFrame().ShowFrame();
  return b.Build();
}

TEST_F(WidgetsTest, MouseMessagesReachTheMoviesButtons) {
  flash::FlashMovieControl control;
  ASSERT_TRUE(control.Player().LoadMovieBytes(ButtonMovie()));
  app::FlashWidget widget(control, clock);
  widget.resize(100, 100);
  widget.show();
  QTest::mouseMove(&widget, QPoint(10, 10));
  EXPECT_EQ(widget.cursor().shape(), Qt::ArrowCursor);
  QTest::mouseMove(&widget, QPoint(50, 50));
  EXPECT_EQ(widget.cursor().shape(), Qt::PointingHandCursor);
  // With the release locked the click stays with the widget.
  widget.SetLockMouseClick(true);
  QTest::mouseClick(&widget, Qt::LeftButton, {}, QPoint(50, 50));
  clock.Advance(300);
  widget.Tick();
  EXPECT_EQ(control.CurrentFrame(), 0);
  widget.SetLockMouseClick(false);
  QTest::mouseClick(&widget, Qt::LeftButton, {}, QPoint(50, 50));
  clock.Advance(100);
  widget.Tick();
  EXPECT_EQ(control.CurrentFrame(), 1);
}

TEST_F(WidgetsTest, KeysReachTheMovieAsFlashNumbersThem) {
  EXPECT_EQ(app::FlashKeyOf(Qt::Key_A, "a"), (flash::FlashKey{65, 97}));
  EXPECT_EQ(app::FlashKeyOf(Qt::Key_A, "A"), (flash::FlashKey{65, 65}));
  EXPECT_EQ(app::FlashKeyOf(Qt::Key_Right, ""), (flash::FlashKey{39, 0}));
  EXPECT_EQ(app::FlashKeyOf(Qt::Key_Return, "\r"), (flash::FlashKey{13, 13}));
  EXPECT_EQ(app::FlashKeyOf(Qt::Key_F5, ""), (flash::FlashKey{116, 0}));
  EXPECT_EQ(app::FlashKeyOf(Qt::Key_Slash, "/"), (flash::FlashKey{191, '/'}));
  EXPECT_EQ(app::FlashKeyOf(Qt::Key_VolumeUp, ""), std::nullopt);

  // A movie stopped on its first frame whose button's keyPress condition
  // (the right arrow) plays it.
  SwfBuilder b(8, {0, 2000, 0, 2000}, 10.0);
  ShapeBuilder red;
  red.Rectangle(0, 0, 400, 400, red.AddFill(FillStyle::Solid({255, 0, 0, 255})));
  b.DefineShape(1, red);
  b.DefineButton2(2, {{.up = true, .hitTest = true, .characterId = 1}}, {{.conditions = 2 << 9, .actions = Actions().Play()}});
  b.DoAction(Actions().Stop());
  b.PlaceObject2({.depth = 1, .characterId = 2}).ShowFrame().ShowFrame().ShowFrame();
  flash::FlashMovieControl control;
  ASSERT_TRUE(control.Player().LoadMovieBytes(b.Build()));
  app::FlashWidget widget(control, clock);
  widget.resize(100, 100);
  widget.show();
  QTest::keyClick(&widget, Qt::Key_Left);
  clock.Advance(100);
  widget.Tick();
  EXPECT_EQ(control.CurrentFrame(), 0);
  QTest::keyClick(&widget, Qt::Key_Right);
  clock.Advance(100);
  widget.Tick();
  EXPECT_EQ(control.CurrentFrame(), 1);
}

TEST_F(WidgetsTest, TheControlsOwnMenuWorksThePlayer) {
  flash::FlashMovieControl control;
  ASSERT_TRUE(control.Player().LoadMovieBytes(ButtonMovie()));
  app::FlashWidget widget(control, clock);
  std::unique_ptr<QMenu> menu(widget.ControlMenu(nullptr));
  QStringList texts;
  for (QAction* a : menu->actions()) {
    if (!a->isSeparator()) texts << a->text();
  }
  EXPECT_EQ(texts, (QStringList{"Play", "Rewind", "Forward", "Back", "Quality"}));
  menu->actions()[3]->trigger();  // Forward
  EXPECT_EQ(control.CurrentFrame(), 1);
  EXPECT_FALSE(control.Playing());
  menu->actions()[0]->trigger();  // Play
  EXPECT_TRUE(control.Playing());
  QMenu* quality = menu->actions().back()->menu();
  ASSERT_NE(quality, nullptr);
  quality->actions()[0]->trigger();  // Low
  EXPECT_EQ(control.QualityName(), "Low");
}

TEST_F(WidgetsTest, GrabAndPaintFollowTheWidgetsSize) {
  WriteTinySwf((std::filesystem::temp_directory_path() / "quarvel_widget.swf").string(), 50, 40, 10, 20);
  movie.SetMovie((std::filesystem::temp_directory_path() / "quarvel_widget.swf").string());
  app::FlashWidget widget(movie, clock);
  widget.resize(77, 33);
  gdi::Bitmap grabbed;
  widget.GrabFrame(grabbed);
  EXPECT_EQ(grabbed.Width(), 77);
  EXPECT_EQ(grabbed.Height(), 33);
  // The widget runs the player's clock: a second of time is ten frames.
  clock.Set(1000);
  widget.Tick();
  EXPECT_EQ(movie.CurrentFrame(), 10);
  const QImage shown = widget.grab().toImage();
  EXPECT_EQ(shown.size(), QSize(77, 33) * widget.devicePixelRatio());
  std::filesystem::remove(std::filesystem::temp_directory_path() / "quarvel_widget.swf");
}

TEST_F(WidgetsTest, ProgressBoxStartsAtZeroEveryTime) {
  app::ProgressBox box;
  EXPECT_EQ(box.windowTitle(), "System Information");
  EXPECT_EQ(box.size(), QSize(281, 74));
  EXPECT_TRUE(box.windowFlags() & Qt::WindowStaysOnTopHint);
  EXPECT_FALSE(box.windowFlags() & Qt::WindowCloseButtonHint);
  EXPECT_FALSE(box.isVisible());
  auto* bar = box.findChild<QProgressBar*>();
  ASSERT_NE(bar, nullptr);
  EXPECT_EQ(bar->geometry(), QRect(8, 48, 265, 12));
  EXPECT_TRUE(bar->isTextVisible());
  box.Start();
  EXPECT_TRUE(box.isVisible());
  box.SetProgress(70);
  EXPECT_EQ(box.Position(), 70);
  EXPECT_EQ(bar->text(), "70%");
  box.SetProgress(150);
  EXPECT_EQ(box.Position(), 100);
  box.End();
  EXPECT_FALSE(box.isVisible());
  box.Start();  // a second operation starts from 0
  EXPECT_EQ(box.Position(), 0);
  box.End();
}

TEST_F(WidgetsTest, OpeningAFolderFailsWhenTheDesktopsOpenerDoes) {
  // xdg-open stand-ins first on the path: one that fails as xdg-open does
  // when no program handles folders, and one that opens.
  char pattern[] = "/tmp/quarvel_opener_XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const std::filesystem::path bin = pattern;
  const std::string path = std::getenv("PATH") != nullptr ? std::getenv("PATH") : "";
  setenv("PATH", (bin.string() + ":" + path).c_str(), 1);
  const auto opener = [&](int exit_code) {
    std::ofstream(bin / "xdg-open") << "#!/bin/sh\necho \"$1\" > '" << (bin / "asked").string() << "'\nexit "
                                    << exit_code << "\n";
    std::filesystem::permissions(bin / "xdg-open", std::filesystem::perms::owner_all);
  };
  app::Prompts prompts;
  opener(3);
  EXPECT_FALSE(prompts.OpenFolder("/tmp/some folder"));
  std::ifstream asked(bin / "asked");
  std::string line;
  std::getline(asked, line);
  EXPECT_EQ(line, "/tmp/some folder");
  opener(0);
  EXPECT_TRUE(prompts.OpenFolder("/tmp/some folder"));
  setenv("PATH", path.c_str(), 1);
  std::filesystem::remove_all(bin);
}

}  // namespace
}  // namespace quarvel::testing
