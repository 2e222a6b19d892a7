// The animation preview painter on animations made here frame by frame:
// pausing at speed 0, its callbacks, synchronous painting, drawing through
// the buffer or directly, tiling, dithering and the check of its target.

#include <QElapsedTimer>
#include <QLabel>
#include <QPixmap>
#include <QTest>
#include <QThread>
#include <chrono>
#include <memory>
#include <set>

#include "app/gif_preview.h"
#include "app/window_fixture.h"

namespace quarvel::testing {
namespace {

using gdi::Color;

// Frames of w x h in the given colours, each shown `delay` units; the first
// carries a loop extension when loops >= 0.
std::unique_ptr<gif::TGIFImage> Animation(const std::vector<Color>& colours, int delay, int loops, int w = 4,
                                          int h = 4) {
  auto image = std::make_unique<gif::TGIFImage>();
  image->ReductionMethod = gif::rdNone;
  for (std::size_t i = 0; i < colours.size(); ++i) {
    gdi::Bitmap picture(w, h, gdi::PixelFormat::pf24bit);
    picture.Fill(colours[i]);
    const int index = image->AddFrame(picture);
    gif::TGIFSubImage* frame = &image->Images()[index];
    if (i == 0 && loops >= 0) frame->Extensions().Add(std::make_unique<gif::TGIFAppExtNSLoop>(frame, loops));
    auto control = std::make_unique<gif::TGIFGraphicControlExtension>(frame);
    control->SetDelay(delay);
    frame->Extensions().Add(std::move(control));
  }
  return image;
}

// `count` frames of solid reds, 6 x 4, looping forever.
std::unique_ptr<gif::TGIFImage> SolidFrames(int count, int delay) {
  std::vector<Color> reds;
  for (int i = 0; i < count; ++i) reds.push_back(Color{std::uint8_t(100 + 50 * i), 0, 0});
  return Animation(reds, delay, 0, 6, 4);
}

const Color kRed{255, 0, 0}, kGreen{0, 255, 0}, kBlue{0, 0, 255};

QRgb ShownPixel(const QLabel& label, int x, int y) {
  const QImage image = label.pixmap().toImage();
  const qreal ratio = label.pixmap().devicePixelRatio();
  return image.pixel(int(x * ratio), int(y * ratio)) & 0xFFFFFF;
}

class GifPreviewTest : public ::testing::Test {
 protected:
  void SetUp() override { EnsureApplication(); }
  // Runs the window's events until the painter has ended (at most 3 s).
  bool WaitForEnd() {
    QElapsedTimer timer;
    timer.start();
    while (preview.Playing() && timer.elapsed() < 3000) QTest::qWait(5);
    QCoreApplication::processEvents();
    return !preview.Playing();
  }
  std::unique_ptr<QLabel> label = (EnsureApplication(), std::make_unique<QLabel>());
  app::GifPreview preview{label.get()};
};

TEST_F(GifPreviewTest, OneFrameGifIsDrawnWithoutAPainter) {
  preview.Show(SolidFrames(1, 50));
  EXPECT_FALSE(preview.Playing());
  EXPECT_EQ(preview.FramesDrawn(), 1);
  EXPECT_EQ(label->size(), QSize(6, 4));
  EXPECT_EQ(QColor(label->pixmap().toImage().pixel(3, 2)), QColor(100, 0, 0));
}

TEST_F(GifPreviewTest, AnimatedGifPlaysAndStopsAtOnceInALongDelay) {
  preview.Show(SolidFrames(2, 3));  // 36 ms a frame, looping forever
  for (int i = 0; i < 200 && preview.FramesDrawn() < 5; ++i) QTest::qWait(10);
  EXPECT_GE(preview.FramesDrawn(), 5);
  EXPECT_TRUE(preview.Playing());
  QTest::qWait(20);
  EXPECT_GE(preview.Refreshes(), 1);  // pictures reach the window's thread

  preview.Show(SolidFrames(2, 1000));  // the second frame would come after 12 s
  for (int i = 0; i < 200 && preview.FramesDrawn() < 1; ++i) QTest::qWait(10);
  ASSERT_EQ(preview.FramesDrawn(), 1);
  const auto before = std::chrono::steady_clock::now();
  preview.Clear();
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(5));
  EXPECT_FALSE(preview.Playing());
  EXPECT_FALSE(preview.HasImage());
  // A hand-over still queued does not paint over what is shown next.
  QPixmap other(2, 2);
  other.fill(Qt::green);
  label->setPixmap(other);
  QCoreApplication::processEvents();
  EXPECT_EQ(label->pixmap().size(), QSize(2, 2));
}

TEST_F(GifPreviewTest, SpeedZeroPausesAfterTheFirstFrameUntilStopped) {
  auto image = Animation({kRed, kGreen, kBlue}, 2, 0);
  image->AnimationSpeed = 0;
  preview.Show(std::move(image));
  QTest::qWait(300);  // 12 delays of 24 ms at speed 100
  EXPECT_EQ(preview.FramesDrawn(), 1);
  EXPECT_TRUE(preview.Playing());
  EXPECT_EQ(ShownPixel(*label, 0, 0), 0xFF0000u);
  QElapsedTimer timer;
  timer.start();
  preview.Clear();
  EXPECT_LT(timer.elapsed(), 1000);
  EXPECT_FALSE(preview.Playing());
}

TEST_F(GifPreviewTest, CallbacksRunOnTheWindowThreadAroundEveryFrameAndPass) {
  QStringList calls;
  bool elsewhere = false;
  const auto note = [&](const QString& what) {
    elsewhere |= QThread::currentThread() != QCoreApplication::instance()->thread();
    calls << what;
  };
  app::PainterCallbacks callbacks;
  callbacks.start = [&] { note("start"); };
  callbacks.paint = [&](int f) { note(QStringLiteral("paint %1").arg(f)); };
  callbacks.after_paint = [&](int f) { note(QStringLiteral("after %1").arg(f)); };
  callbacks.loop = [&](int pass) { note(QStringLiteral("loop %1").arg(pass)); };
  callbacks.end = [&] { note("end"); };
  preview.SetCallbacks(callbacks);
  preview.Show(Animation({kRed, kGreen}, 3, 2));  // two passes
  ASSERT_TRUE(WaitForEnd());
  EXPECT_EQ(calls, QStringList({"start", "paint 0", "after 0", "paint 1", "after 1", "loop 1", "paint 0", "after 0",
                                "paint 1", "after 1", "end"}));
  EXPECT_FALSE(elsewhere);
  EXPECT_EQ(preview.FramesDrawn(), 4);
}

TEST_F(GifPreviewTest, WithoutTheAsynchronousFlagTheWholeAnimationPlaysInsideShow) {
  auto image = Animation({kRed, kGreen, kBlue}, 5, 1);
  image->DrawFlags &= std::uint16_t(~gif::goAsync);
  int paints = 0;
  app::PainterCallbacks callbacks;
  callbacks.paint = [&](int) { ++paints; };
  preview.SetCallbacks(callbacks);
  QElapsedTimer timer;
  timer.start();
  preview.Show(std::move(image));
  // One unit before the first frame, then five before each of the others.
  EXPECT_GE(timer.elapsed(), 12 + 2 * 60);
  EXPECT_EQ(preview.FramesDrawn(), 3);
  EXPECT_EQ(paints, 3);
  EXPECT_FALSE(preview.Playing());
  EXPECT_EQ(ShownPixel(*label, 1, 1), 0x0000FFu);
}

TEST_F(GifPreviewTest, TheBufferShowsTheFirstFrameAtOnceAndDirectDrawingDoesNotWait) {
  preview.Show(Animation({kRed, kGreen}, 10, 0));
  EXPECT_EQ(preview.Refreshes(), 1);
  EXPECT_EQ(ShownPixel(*label, 0, 0), 0xFF0000u);
  preview.Clear();

  app::GifPreview direct(label.get());
  auto image = Animation({kGreen, kRed}, 10, 0);
  image->DrawFlags |= gif::goDirectDraw;
  direct.Show(std::move(image));
  EXPECT_EQ(direct.Refreshes(), 0);  // the painter's picture arrives with the window's events
  QTest::qWait(50);
  EXPECT_GE(direct.Refreshes(), 1);
  EXPECT_EQ(ShownPixel(*label, 0, 0), 0x00FF00u);
}

TEST_F(GifPreviewTest, TileRepeatsTheFramesOverTheArea) {
  auto image = Animation({kRed, kGreen}, 10, 0, 2, 2);
  // A frame of two colours: its left column blue.
  gdi::Bitmap first(2, 2, gdi::PixelFormat::pf24bit);
  first.Fill(kRed);
  first.SetPixel(0, 0, kBlue);
  first.SetPixel(0, 1, kBlue);
  image->Images()[0].ImportBitmap(first);
  image->DrawFlags |= gif::goTile;
  preview.Show(std::move(image), QSize(5, 4));
  EXPECT_EQ(label->size(), QSize(5, 4));
  EXPECT_EQ(ShownPixel(*label, 0, 0), 0x0000FFu);
  EXPECT_EQ(ShownPixel(*label, 1, 0), 0xFF0000u);
  EXPECT_EQ(ShownPixel(*label, 2, 2), 0x0000FFu);
  EXPECT_EQ(ShownPixel(*label, 4, 3), 0x0000FFu);
  EXPECT_EQ(ShownPixel(*label, 3, 3), 0xFF0000u);
}

TEST_F(GifPreviewTest, TheDitherFlagDrawsOnlyColoursOfTheCube) {
  const Color grey{0x80, 0x80, 0x80};
  preview.Show(Animation({grey, grey}, 10, 0, 8, 8));
  EXPECT_EQ(ShownPixel(*label, 3, 3), 0x808080u);  // auto dither: not on a true-colour screen
  preview.Clear();

  auto image = Animation({grey, grey}, 10, 0, 8, 8);
  image->DrawFlags = std::uint16_t((image->DrawFlags | gif::goDither) & ~gif::goAutoDither);
  preview.Show(std::move(image));
  std::set<int> levels;
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) {
      const QRgb c = ShownPixel(*label, x, y);
      for (int channel : {qRed(c), qGreen(c), qBlue(c)}) {
        EXPECT_EQ(channel % 51, 0) << x << "," << y;
        levels.insert(channel);
      }
    }
  EXPECT_EQ(levels, (std::set<int>{0x66, 0x99}));  // grey between two cube steps, mixed
}

TEST_F(GifPreviewTest, CheckCanvasEndsThePainterOnceItsTargetIsGone) {
  auto image = Animation({kRed, kGreen}, 3, 0);
  image->DrawFlags |= gif::goValidateCanvas;
  preview.Show(std::move(image));
  label.reset();
  EXPECT_TRUE(WaitForEnd());

  // Without the flag it plays on, drawing for nobody, until stopped.
  auto other = std::make_unique<QLabel>();
  app::GifPreview unchecked(other.get());
  unchecked.Show(Animation({kRed, kGreen}, 3, 0));
  other.reset();
  QTest::qWait(100);
  EXPECT_TRUE(unchecked.Playing());
  unchecked.Clear();
}

TEST_F(GifPreviewTest, TransparentPixelsShowWhatTheTargetShowedBefore) {
  QPixmap before(4, 4);
  before.fill(Qt::blue);
  label->setPixmap(before);
  auto image = Animation({kRed, kGreen}, 10, 0);
  // The first frame's left half green, and green transparent.
  gdi::Bitmap halves(4, 4, gdi::PixelFormat::pf24bit);
  halves.Fill(kRed);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 2; ++x) halves.SetPixel(x, y, kGreen);
  gif::TGIFSubImage& first = image->Images()[0];
  first.ImportBitmap(halves);
  auto control = std::make_unique<gif::TGIFGraphicControlExtension>(&first);
  control->SetDelay(10);
  control->SetTransparent(true);
  control->SetTransparentColorIndex(first.Pixel(0, 0));
  first.Extensions().Add(std::move(control));
  preview.Show(std::move(image));
  EXPECT_EQ(ShownPixel(*label, 0, 0), 0x0000FFu);
  EXPECT_EQ(ShownPixel(*label, 3, 0), 0xFF0000u);
}

}  // namespace
}  // namespace quarvel::testing
