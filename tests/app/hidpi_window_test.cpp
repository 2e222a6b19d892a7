// The window on a screen scaled 2x (QT_SCALE_FACTOR=2) of 1920 x 1080
// pixels: it scales as a whole, stays on the screen, cuts no text, and the
// player and the preview draw at device pixels.

#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>
#include <cstdlib>

#include "flash/flash_movie_control.h"
#include "app/flash_widget.h"
#include "app/qt_picture.h"
#include "app/window_fixture.h"
#include "app/window_layout.h"

namespace quarvel::testing {
namespace {

// Read by the application made for the first test.
const bool kScaled = [] { return setenv("QT_SCALE_FACTOR", "2", 1) == 0; }();

class HiDpiTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(kScaled);
    EnsureApplication();
    char pattern[] = "/tmp/quarvel_hidpi_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    home = pattern;
    setenv("QUARVEL_HOME", pattern, 1);
    progress = std::make_unique<app::ProgressBox>();
    window = std::make_unique<app::MainWindow>(
        app::WindowServices{control, clock, prompts, *progress, mixer, mci::Mci::Instance()});
    window->SetOpenWaitMs(0);
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
  }
  void TearDown() override {
    window.reset();
    progress.reset();
    std::error_code ec;
    std::filesystem::remove_all(home, ec);
    unsetenv("QUARVEL_HOME");
  }
  std::filesystem::path home;
  flash::FlashMovieControl control;
  audio::VirtualClock clock;
  audio::LoopbackBus bus;
  mixer::LoopbackMixer mixer{bus};
  ScriptedPrompts prompts;
  std::unique_ptr<app::ProgressBox> progress;
  std::unique_ptr<app::MainWindow> window;
};

TEST_F(HiDpiTest, TheWindowScalesAsAWholeAndStaysOnTheScreen) {
  QCoreApplication::processEvents();
  EXPECT_DOUBLE_EQ(window->devicePixelRatioF(), 2.0);
  QScreen* screen = window->screen();
  ASSERT_NE(screen, nullptr);
  EXPECT_EQ(screen->geometry().size(), QSize(960, 540));  // 1920 x 1080 device pixels
  EXPECT_TRUE(screen->availableGeometry().contains(window->frameGeometry())) << window->frameGeometry().width();
  // Every control keeps its place on the page, which scrolls into view.
  auto* content = window->findChild<QWidget*>("content");
  ASSERT_NE(content, nullptr);
  EXPECT_EQ(content->size(), QSize(928, 621));
  auto* scroller = window->findChild<QScrollArea*>("contentScroller");
  ASSERT_NE(scroller, nullptr);
  // Only the height scrolls: every control is within reach across.
  EXPECT_EQ(scroller->horizontalScrollBar()->maximum(), 0);
  EXPECT_GT(scroller->verticalScrollBar()->maximum(), 0);
  auto* save = window->findChild<QPushButton*>("captureFrames");
  scroller->ensureWidgetVisible(save);
  const QRect shown(save->mapTo(scroller->viewport(), QPoint(0, 0)), save->size());
  EXPECT_TRUE(scroller->viewport()->rect().contains(shown));
  const QStringList cut = CutTexts(window.get());
  EXPECT_TRUE(cut.isEmpty()) << cut.join("\n").toStdString();
}

TEST_F(HiDpiTest, ThePlayerAndThePreviewDrawAtDevicePixels) {
  const std::string movie = std::string(QUARVEL_BINARY_DIR) + "/sample.swf";
  if (!std::filesystem::exists(movie)) GTEST_SKIP() << "no sample movie at " << movie;
  ASSERT_TRUE(window->OpenMovie(QString::fromStdString(movie))) << prompts.messages.join("; ").toStdString();
  control.Stop();
  control.GotoFrame(12);
  app::FlashWidget* player = window->Player();
  const QSize logical = player->size();
  ASSERT_GT(logical.width(), 50);

  // The widget's picture has twice the pixels, and is the movie drawn at
  // that size, not a stretched copy of the small one.
  const QImage shown = player->grab().toImage();
  EXPECT_EQ(shown.size(), logical * 2);
  player::FlashPlayer big, small;
  for (player::FlashPlayer* p : {&big, &small}) {
    p->SetBackgroundColor(0);  // the window's colour box: black
    p->SetMovie(movie);
    p->Stop();
    p->GotoFrame(12);
  }
  big.SetSize(logical.width() * 2, logical.height() * 2);
  small.SetSize(logical.width(), logical.height());
  gdi::Bitmap big_picture, small_picture;
  big.Paint(big_picture);
  small.Paint(small_picture);
  const QImage sharp = app::ToQImage(big_picture).convertToFormat(QImage::Format_RGB32);
  const QImage stretched = app::ToQImage(small_picture)
                               .scaled(logical * 2, Qt::IgnoreAspectRatio, Qt::FastTransformation)
                               .convertToFormat(QImage::Format_RGB32);
  const QImage got = shown.convertToFormat(QImage::Format_RGB32);
  long same_as_sharp = 0, same_as_stretched = 0;
  for (int y = 0; y < got.height(); ++y) {
    for (int x = 0; x < got.width(); ++x) {
      same_as_sharp += got.pixel(x, y) == sharp.pixel(x, y);
      same_as_stretched += got.pixel(x, y) == stretched.pixel(x, y);
    }
  }
  const long all = static_cast<long>(got.width()) * got.height();
  EXPECT_GT(same_as_sharp, all * 99 / 100) << same_as_stretched << " of " << all << " as stretched";
  EXPECT_GT(same_as_sharp, same_as_stretched);
  // Grabs for the capture stay at the player's own size.
  gdi::Bitmap frame;
  player->GrabFrame(frame);
  EXPECT_EQ(frame.Width(), logical.width());
  EXPECT_EQ(frame.Height(), logical.height());

  // After a capture the preview shows the frame at its size, each pixel a
  // sharp block of device pixels.
  auto* capture = window->findChild<QPushButton*>("captureFrames");
  QTest::mouseClick(capture, Qt::LeftButton);
  ASSERT_GT(window->CapturedFrameCount(), 0);
  const QPixmap preview = window->PreviewImage()->pixmap();
  EXPECT_DOUBLE_EQ(preview.devicePixelRatio(), 2.0);
  EXPECT_EQ(preview.size(), window->PreviewImage()->size() * 2);
  const QImage p = preview.toImage();
  EXPECT_EQ(p.pixel(0, 0), p.pixel(1, 1));
  EXPECT_EQ(p.pixel(20, 30), p.pixel(21, 31));
}

}  // namespace
}  // namespace quarvel::testing
