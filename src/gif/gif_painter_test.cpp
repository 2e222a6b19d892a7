#include "gif/gif_painter.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <vector>

namespace quarvel::gif {
namespace {

using gdi::Color;

constexpr Color kRed{255, 0, 0}, kGreen{0, 255, 0}, kBlue{0, 0, 255}, kWhite{255, 255, 255};

// Virtual time: every wait is recorded and passes at once.
class VirtualTimer final : public PainterTimer {
 public:
  explicit VirtualTimer(std::vector<std::int64_t>& waits, std::function<void()> after_wait = {})
      : waits_(waits), after_wait_(std::move(after_wait)) {}
  std::int64_t NowMs() override { return now_; }
  bool Wait(std::int64_t ms) override {
    waits_.push_back(ms);
    if (ms > 0) now_ += ms;
    if (after_wait_) after_wait_();
    return set_;
  }
  void Signal() override { set_ = true; }
  void Reset() override { set_ = false; }

 private:
  std::vector<std::int64_t>& waits_;
  std::function<void()> after_wait_;
  std::int64_t now_ = 0;
  bool set_ = false;
};

struct FrameSpec {
  int left, top, width, height;
  Color color;
  int disposal = 0;
  int delay = 0;           // hundredths; 0 with has_gce: "no delay"
  bool has_gce = true;
  int loops = -1;          // >= 0: a loop extension with this count
  bool transparent_corner = false;  // pixel (0, 0) uses the transparent index 1
};

std::unique_ptr<TGIFImage> MakeImage(int width, int height, const std::vector<FrameSpec>& specs) {
  auto image = std::make_unique<TGIFImage>();
  image->Header().SetWidth(width);
  image->Header().SetHeight(height);
  for (const FrameSpec& s : specs) {
    auto frame = std::make_unique<TGIFSubImage>(image.get());
    frame->SetBounds(s.left, s.top, s.width, s.height);
    std::vector<std::uint8_t> data(static_cast<std::size_t>(s.width * s.height), 0);
    if (s.transparent_corner) data[0] = 1;
    frame->SetData(s.width, s.height, std::move(data));
    frame->ColorMap().Add(s.color);
    frame->ColorMap().Add(kBlue);
    TGIFSubImage* f = frame.get();
    if (s.loops >= 0) f->Extensions().Add(std::make_unique<TGIFAppExtNSLoop>(f, s.loops));
    if (s.has_gce) {
      auto gce = std::make_unique<TGIFGraphicControlExtension>(f);
      gce->SetDisposal(s.disposal);
      gce->SetDelay(s.delay);
      if (s.transparent_corner) {
        gce->SetTransparent(true);
        gce->SetTransparentColorIndex(1);
      }
      f->Extensions().Add(std::move(gce));
    }
    image->AddFrame(std::move(frame));
  }
  image->Header().SetWidth(width);
  image->Header().SetHeight(height);
  return image;
}

constexpr std::uint16_t kSyncAnimated = goTransparent | goAnimate | goLoop;

TEST(GifPainterTimingTest, DelaysAndSpeed) {
  EXPECT_EQ(FrameWaitMs(3, 0, 100), 36);
  EXPECT_EQ(FrameWaitMs(25, 0, 100), 300);
  EXPECT_EQ(FrameWaitMs(25, 0, 200), 150);  // twice the speed: half the wait
  EXPECT_EQ(FrameWaitMs(25, 40, 100), 280);  // half the overrun is taken off
  EXPECT_EQ(FrameWaitMs(1, 0, 300), 4);      // 12 * 100 / 300 = 4
  EXPECT_EQ(FrameWaitMs(1, 0, 700), 2);      // 1.71... rounds to 2

  auto image = MakeImage(4, 4, {{0, 0, 4, 4, kRed, 0, 1}, {0, 0, 4, 4, kGreen, 0, 0}, {0, 0, 4, 4, kRed, 0, 0, false},
                                {0, 0, 4, 4, kRed, 0, 5000}});
  EXPECT_EQ(FrameDelayAfter(image->Images()[0], true), 3);     // 1 is played as 3
  EXPECT_EQ(FrameDelayAfter(image->Images()[1], true), 10);    // 0 as 10
  EXPECT_EQ(FrameDelayAfter(image->Images()[2], true), 10);    // no extension: 10
  EXPECT_EQ(FrameDelayAfter(image->Images()[3], true), 5000);  // no cap when asynchronous
  EXPECT_EQ(FrameDelayAfter(image->Images()[3], false), 1000);
}

TEST(GifPainterTest, PlaysFramesWithTheirDelaysAndLoopCount) {
  // Three passes from the loop extension; waits: 1 unit before the first
  // frame (synchronous), then each frame's delay.
  auto image = MakeImage(4, 4, {{0, 0, 4, 4, kRed, 0, 1, true, 3}, {0, 0, 4, 4, kGreen, 0, 0}});
  std::vector<std::int64_t> waits;
  auto canvas = std::make_shared<PainterCanvas>(4, 4, kWhite);
  std::vector<Color> shown;
  PainterCallbacks callbacks;
  callbacks.on_changed = [&](TGIFPainter& p) { shown.push_back(p.Canvas()->Picture().GetPixel(1, 1)); };
  int loops = 0, ends = 0;
  callbacks.on_loop = [&](TGIFPainter&) { ++loops; };
  callbacks.on_end = [&](TGIFPainter& p) {
    ++ends;
    EXPECT_EQ(p.ActiveImage(), -1);
  };
  TGIFPainter painter(*image, canvas, kSyncAnimated, callbacks, std::make_unique<VirtualTimer>(waits));
  painter.Start();
  EXPECT_FALSE(painter.Running());
  EXPECT_EQ(painter.Passes(), 3);
  EXPECT_EQ(loops, 2);
  EXPECT_EQ(ends, 1);
  EXPECT_EQ(shown, (std::vector<Color>{kRed, kGreen, kRed, kGreen, kRed, kGreen}));
  // Waits of 1, 3, 10, 3, 10, 3 units of 12 ms.
  EXPECT_EQ(waits, (std::vector<std::int64_t>{12, 36, 100, 20, 36, 100, 20, 36}));
}

TEST(GifPainterTest, OneFrameImageIsDrawnOnceWithoutLooping) {
  auto image = MakeImage(3, 2, {{0, 0, 3, 2, kGreen, 0, 50, true, 0}});
  std::vector<std::int64_t> waits;
  auto canvas = std::make_shared<PainterCanvas>(3, 2, kWhite);
  TGIFPainter painter(*image, canvas, kDefaultDrawFlags, {}, std::make_unique<VirtualTimer>(waits));
  EXPECT_EQ(painter.Flags() & (goAsync | goAnimate), 0);
  painter.Start();  // runs in the call: no thread for a single frame
  EXPECT_FALSE(painter.Running());
  EXPECT_TRUE(painter.Started());
  EXPECT_EQ(painter.Passes(), 1);
  EXPECT_EQ(canvas->Snapshot().GetPixel(2, 1), kGreen);
}

TEST(GifPainterTest, AsynchronousCountZeroLoopsUntilStopped) {
  auto image = MakeImage(4, 4, {{0, 0, 4, 4, kRed, 0, 25, true, 0}, {0, 0, 4, 4, kGreen, 0, 25}});
  std::vector<std::int64_t> waits;
  TGIFPainter* self = nullptr;
  auto timer = std::make_unique<VirtualTimer>(waits, [&] {
    if (waits.size() == 40) self->Stop();  // from the painter's own thread
  });
  auto canvas = std::make_shared<PainterCanvas>(4, 4, kWhite);
  TGIFPainter painter(*image, canvas, kDefaultDrawFlags, {}, std::move(timer));
  self = &painter;
  painter.Start();
  for (int i = 0; i < 5000 && painter.Running(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  painter.Stop();  // joins the thread
  EXPECT_FALSE(painter.Running());
  EXPECT_GE(painter.Passes(), 20);  // far more than one pass: count 0 is forever
  EXPECT_EQ(waits.front(), 300);    // no wait before the first frame, then 25 units
  painter.RethrowError();
}

TEST(GifPainterTest, StoppingInALongDelayEndsAtOnce) {
  // Asynchronous with real time: the second frame would wait 1000 x 12 ms.
  auto image = MakeImage(4, 4, {{0, 0, 4, 4, kRed, 0, 1000, true, 0}, {0, 0, 4, 4, kGreen, 0, 1000}});
  auto canvas = std::make_shared<PainterCanvas>(4, 4, kWhite);
  TGIFPainter painter(*image, canvas, kDefaultDrawFlags);
  painter.Start();
  for (int i = 0; i < 500 && !painter.Started(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  ASSERT_TRUE(painter.Started());
  const auto before = std::chrono::steady_clock::now();
  painter.Stop();
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(6));
  EXPECT_FALSE(painter.Running());
  EXPECT_EQ(canvas->Snapshot().GetPixel(0, 0), kRed);  // the second frame never came
}

TEST(GifPainterTest, DisposalMethods) {
  // Frame 0 restores the background (2), frame 1 is left (1), frame 2
  // restores the previous picture (3), frame 3 is left.
  auto image = MakeImage(4, 4, {{0, 0, 4, 4, kRed, 2, 5},
                                {0, 0, 2, 2, kGreen, 1, 5},
                                {2, 2, 2, 2, kBlue, 3, 5},
                                {3, 0, 1, 1, kRed, 1, 5}});
  std::vector<std::int64_t> waits;
  auto canvas = std::make_shared<PainterCanvas>(4, 4, kWhite);
  std::vector<gdi::Bitmap> after;
  PainterCallbacks callbacks;
  callbacks.on_after_paint = [&](TGIFPainter& p) { after.push_back(p.Canvas()->Picture()); };
  TGIFPainter painter(*image, canvas, goTransparent | goAnimate, callbacks, std::make_unique<VirtualTimer>(waits));
  painter.Start();
  ASSERT_EQ(after.size(), 4u);
  EXPECT_EQ(after[0].GetPixel(3, 3), kRed);
  EXPECT_EQ(after[1].GetPixel(0, 0), kGreen);
  EXPECT_EQ(after[1].GetPixel(3, 3), kWhite);  // frame 0 went back to the background
  EXPECT_EQ(after[2].GetPixel(3, 3), kBlue);
  EXPECT_EQ(after[2].GetPixel(0, 0), kGreen);
  EXPECT_EQ(after[3].GetPixel(3, 3), kWhite);  // frame 2 restored what was before it
  EXPECT_EQ(after[3].GetPixel(3, 0), kRed);
  EXPECT_EQ(after[3].GetPixel(0, 0), kGreen);
}

TEST(GifPainterTest, TransparentPixelsShowWhatWasThere) {
  auto image = MakeImage(2, 2, {{0, 0, 2, 2, kRed, 0, 5}, {0, 0, 2, 2, kGreen, 0, 5, true, -1, true}});
  std::vector<std::int64_t> waits;
  auto canvas = std::make_shared<PainterCanvas>(2, 2, kWhite);
  TGIFPainter painter(*image, canvas, kSyncAnimated & ~goLoop, {}, std::make_unique<VirtualTimer>(waits));
  painter.Start();
  const gdi::Bitmap shown = canvas->Snapshot();
  EXPECT_EQ(shown.GetPixel(0, 0), kRed);  // transparent in frame 1
  EXPECT_EQ(shown.GetPixel(1, 1), kGreen);

  // Without the transparent bit the index is drawn with its colour.
  auto canvas2 = std::make_shared<PainterCanvas>(2, 2, kWhite);
  TGIFPainter opaque(*image, canvas2, goAnimate, {}, std::make_unique<VirtualTimer>(waits));
  opaque.Start();
  EXPECT_EQ(canvas2->Snapshot().GetPixel(0, 0), kBlue);
}

TEST(GifPainterTest, WithoutAnimateOnlyTheFirstFrameIsDrawn) {
  auto image = MakeImage(2, 2, {{0, 0, 2, 2, kRed, 0, 5, true, 0}, {0, 0, 2, 2, kGreen, 0, 5}});
  std::vector<std::int64_t> waits;
  auto canvas = std::make_shared<PainterCanvas>(2, 2, kWhite);
  TGIFPainter painter(*image, canvas, goTransparent | goLoop, {}, std::make_unique<VirtualTimer>(waits));
  painter.Start();
  EXPECT_EQ(canvas->Snapshot().GetPixel(1, 1), kRed);
  EXPECT_EQ(painter.Passes(), 1);
}

}  // namespace
}  // namespace quarvel::gif
