#include "gif/painter_timeline.h"

#include <gtest/gtest.h>

#include "gif/animation_builder.h"

namespace quarvel::gif {
namespace {

using gdi::Color;

// Frames of w x h filled with one index of a 4-colour table, each with a
// control extension; the first carries a loop extension when loops >= 0.
struct FrameDesc {
  int delay = 25;
  int disposal = 0;
  int fill = 1;
  int left = 0, top = 0, w = 4, h = 4;
  int transparent = -1;
};

std::unique_ptr<TGIFImage> Make(const std::vector<FrameDesc>& frames_desc, int loops) {
  auto image = std::make_unique<TGIFImage>();
  for (std::size_t i = 0; i < frames_desc.size(); ++i) {
    const FrameDesc& s = frames_desc[i];
    auto f = std::make_unique<TGIFSubImage>(image.get());
    f->ColorMap().ImportPalette({Color{0, 0, 0}, Color{255, 0, 0}, Color{0, 255, 0}, Color{0, 0, 255}});
    f->SetBounds(s.left, s.top, s.w, s.h);
    f->SetData(s.w, s.h, std::vector<std::uint8_t>(std::size_t(s.w) * s.h, std::uint8_t(s.fill)));
    TGIFSubImage* raw = f.get();
    image->AddFrame(std::move(f));
    if (i == 0 && loops >= 0) raw->Extensions().Add(std::make_unique<TGIFAppExtNSLoop>(raw, loops));
    auto gce = std::make_unique<TGIFGraphicControlExtension>(raw);
    gce->SetDelay(s.delay);
    gce->SetDisposal(s.disposal);
    if (s.transparent >= 0) {
      gce->SetTransparent(true);
      gce->SetTransparentColorIndex(s.transparent);
    }
    raw->Extensions().Add(std::move(gce));
  }
  return image;
}

std::vector<PainterTimeline::Step> Steps(PainterTimeline& t, int max) {
  std::vector<PainterTimeline::Step> out;
  while (int(out.size()) < max)
    if (auto s = t.Next()) out.push_back(*s);
    else break;
  return out;
}

TEST(PainterTimeline, OneFrameIsDrawnOnceWithoutWaiting) {
  auto image = Make({FrameDesc{}}, 0);
  PainterTimeline t(*image, kDefaultDrawFlags, 100);
  auto steps = Steps(t, 10);
  ASSERT_EQ(steps.size(), 1u);
  EXPECT_EQ(steps[0].wait_ms, 0);
  EXPECT_EQ(FrameAt(*image, 100000), 0);
}

TEST(PainterTimeline, LoopCountZeroLoopsForeverAndThreePlaysThreePasses) {
  auto forever = Make({FrameDesc{}, FrameDesc{}}, 0);
  PainterTimeline f(*forever, kDefaultDrawFlags, 100);
  auto steps = Steps(f, 100);
  EXPECT_EQ(steps.size(), 100u);
  EXPECT_EQ(steps[99].pass, 49);
  EXPECT_EQ(f.LoopsLeft(), -1);

  auto three = Make({FrameDesc{}, FrameDesc{}}, 3);
  PainterTimeline t(*three, kDefaultDrawFlags, 100);
  steps = Steps(t, 100);
  ASSERT_EQ(steps.size(), 6u);
  EXPECT_EQ(steps[5].pass, 2);

  // Without a loop extension a single pass.
  auto plain = Make({FrameDesc{}, FrameDesc{}}, -1);
  PainterTimeline p(*plain, kDefaultDrawFlags, 100);
  EXPECT_EQ(Steps(p, 100).size(), 2u);
  // Without the animate bit only the first frame.
  PainterTimeline still(*forever, kDefaultDrawFlags & ~goAnimate, 100);
  EXPECT_EQ(Steps(still, 100).size(), 1u);
}

TEST(PainterTimeline, DelaysAreClampedAndScaledBySpeed) {
  auto image = Make({FrameDesc{1}, FrameDesc{0}, FrameDesc{25}, FrameDesc{5000}}, -1);
  PainterTimeline t(*image, kDefaultDrawFlags, 100);
  auto steps = Steps(t, 10);
  ASSERT_EQ(steps.size(), 4u);
  EXPECT_EQ(steps[0].wait_ms, 0);
  EXPECT_EQ(steps[1].wait_ms, 36);   // 1 unit played as 3
  EXPECT_EQ(steps[2].wait_ms, 120);  // 0 units played as 10
  EXPECT_EQ(steps[3].wait_ms, 300);

  PainterTimeline fast(*image, kDefaultDrawFlags, 200);
  steps = Steps(fast, 10);
  EXPECT_EQ(steps[1].wait_ms, 18);
  EXPECT_EQ(steps[3].wait_ms, 150);

  // A synchronous painter waits one unit first and caps long delays.
  auto longer = Make({FrameDesc{5000}, FrameDesc{25}}, -1);
  PainterTimeline sync(*longer, kDefaultDrawFlags, 100, false);
  steps = Steps(sync, 10);
  EXPECT_EQ(steps[0].wait_ms, 12);
  EXPECT_EQ(steps[1].wait_ms, 12000);
  // An overrun shortens the next wait by half of it.
  PainterTimeline late(*image, kDefaultDrawFlags, 100);
  late.Next();
  EXPECT_EQ(late.Next(10)->wait_ms, 31);
  EXPECT_EQ(MulDiv(5, 100, 200), 3);
  EXPECT_EQ(MulDiv(-5, 100, 200), -3);
}

TEST(PainterTimeline, SpeedZeroPausesAndANegativeSpeedNeverWaits) {
  auto image = Make({FrameDesc{25}, FrameDesc{25}}, -1);
  PainterTimeline paused(*image, kDefaultDrawFlags, 0);
  auto steps = Steps(paused, 10);
  ASSERT_EQ(steps.size(), 2u);
  EXPECT_FALSE(steps[0].until_stopped);  // the first frame is drawn at once
  EXPECT_TRUE(steps[1].until_stopped);
  PainterTimeline racing(*image, kDefaultDrawFlags, -1);
  steps = Steps(racing, 10);
  EXPECT_FALSE(steps[1].until_stopped);
  EXPECT_EQ(steps[1].wait_ms, 0);
  // Without a stop event to wait on, a synchronous painter waits 1000 units.
  PainterTimeline sync(*image, kDefaultDrawFlags, 0, false);
  steps = Steps(sync, 10);
  EXPECT_FALSE(steps[1].until_stopped);
  EXPECT_EQ(steps[1].wait_ms, 12000);
}

TEST(PainterTimeline, FrameShownAtATimeLoopsWithTheDelays) {
  auto image = Make({FrameDesc{25}, FrameDesc{25}, FrameDesc{25}}, 0);
  EXPECT_EQ(FrameAt(*image, 0), 0);
  EXPECT_EQ(FrameAt(*image, 299), 0);
  EXPECT_EQ(FrameAt(*image, 300), 1);
  EXPECT_EQ(FrameAt(*image, 600), 2);
  EXPECT_EQ(FrameAt(*image, 900), 0);
  EXPECT_EQ(FrameAt(*image, 900 * 10 + 300), 1);
  EXPECT_EQ(FrameAt(*image, 450, kDefaultDrawFlags, 200), 0);  // 150 ms each: the second pass begins
  EXPECT_EQ(FrameAt(*image, 10000, kDefaultDrawFlags, 0), 0);           // speed 0 pauses
  TGIFImage empty;
  EXPECT_EQ(FrameAt(empty, 10), -1);
}

TEST(PainterCanvas, DisposalMethods) {
  const Color red{255, 0, 0}, green{0, 255, 0}, blue{0, 0, 255}, white{255, 255, 255};
  // 0: a full red frame, then a green 2x2 patch left in place.
  auto keep = Make({FrameDesc{25, 0, 1}, FrameDesc{25, 0, 2, 1, 1, 2, 2}}, -1);
  gdi::Bitmap p = PictureAt(*keep, 300);
  EXPECT_EQ(p.GetPixel(0, 0), red);
  EXPECT_EQ(p.GetPixel(1, 1), green);

  // 2: the patch is shown, then its area goes back to the background.
  auto restore = Make({FrameDesc{25, 2, 1, 1, 1, 2, 2}, FrameDesc{25, 0, 3, 3, 3, 1, 1}}, -1);
  EXPECT_EQ(PictureAt(*restore, 0).GetPixel(1, 1), red);
  gdi::Bitmap after = PictureAt(*restore, 300);
  EXPECT_EQ(after.GetPixel(1, 1), white);
  EXPECT_EQ(after.GetPixel(3, 3), blue);

  // 3: the frame shows, the next one draws over the picture before it.
  auto previous = Make({FrameDesc{25, 1, 1}, FrameDesc{25, 3, 2, 0, 0, 2, 2}, FrameDesc{25, 1, 3, 3, 3, 1, 1}}, -1);
  EXPECT_EQ(PictureAt(*previous, 300).GetPixel(0, 0), green);
  gdi::Bitmap third = PictureAt(*previous, 600);
  EXPECT_EQ(third.GetPixel(0, 0), red);
  EXPECT_EQ(third.GetPixel(3, 3), blue);

  // Transparent pixels let the earlier picture through.
  auto holes = Make({FrameDesc{25, 0, 1}, FrameDesc{25, 0, 2, 0, 0, 4, 4, 2}}, -1);
  EXPECT_EQ(PictureAt(*holes, 300).GetPixel(2, 2), red);
}

TEST(PainterCanvas, PlaysADifferenceAnimationBackToItsPictures) {
  // Pictures with few colours survive the reduction exactly.
  std::vector<gdi::Bitmap> pictures;
  for (int n = 0; n < 4; ++n) {
    gdi::Bitmap b(30, 20, gdi::PixelFormat::pfDevice);
    b.Fill(Color{10, 20, 30});
    gdi::FillRect(b, gdi::Rect{n * 5, 2, n * 5 + 6, 8}, Color{250, 200, 0});
    pictures.push_back(b);
  }
  pictures.push_back(pictures.back());
  AnimationAssembler assembler(25, true);
  for (const auto& p : pictures) {
    auto reduced = std::make_unique<TGIFImage>();
    reduced->ReductionMethod = rdOctree;
    reduced->AddFrame(p);
    assembler.Add(std::move(reduced));
  }
  EXPECT_EQ(assembler.OptimizedFrames(), 4);
  auto image = assembler.Finish();
  for (int n = 0; n < 4; ++n) {
    gdi::Bitmap shown = PictureAt(*image, n * 300 + 10);
    for (int y = 0; y < 20; ++y)
      for (int x = 0; x < 30; ++x) ASSERT_EQ(shown.GetPixel(x, y), pictures[std::size_t(n)].GetPixel(x, y)) << n;
  }
  // The merged last picture holds for twice the delay, then the loop restarts.
  EXPECT_EQ(FrameAt(*image, 3 * 300 + 599), 3);
  EXPECT_EQ(FrameAt(*image, 3 * 300 + 600), 0);
}

}  // namespace
}  // namespace quarvel::gif
