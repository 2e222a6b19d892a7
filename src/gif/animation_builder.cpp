#include "gif/animation_builder.h"

#include <array>

#include "capture/frame_store.h"

namespace quarvel::gif {

namespace {

std::array<std::uint32_t, 256> PackedColors(const TGIFColorMap& map) {
  std::array<std::uint32_t, 256> out{};
  for (int i = 0; i < map.Count(); ++i) out[std::size_t(i)] = map[i].ToRgb();
  // Indices past the table never match a real colour of the other frame.
  for (int i = map.Count(); i < 256; ++i) out[std::size_t(i)] = 0xFF000000u | std::uint32_t(i);
  return out;
}

}  // namespace

std::string FrameLabelText(long long i, long long count, int optimized) {
  long long pct = count > 0 ? i * 100 / count : 0;
  return std::to_string(i) + "/" + std::to_string(count) + "/" + std::to_string(optimized) + " " +
         std::to_string(pct) + "%";
}

AnimationAssembler::AnimationAssembler(int delay, bool smaller_size)
    : delay_(delay), smaller_size_(smaller_size), animation_(std::make_unique<TGIFImage>()) {}

void AnimationAssembler::AddFrame(const TGIFSubImage& source, int transparent_index,
                                  const std::vector<std::uint8_t>* data) {
  auto frame = std::make_unique<TGIFSubImage>(animation_.get());
  frame->Assign(source);
  if (data != nullptr) frame->Data() = *data;
  TGIFSubImage* f = frame.get();
  animation_->AddFrame(std::move(frame));
  if (added_ == 0) f->Extensions().Add(std::make_unique<TGIFAppExtNSLoop>(f, 0));
  auto gce = std::make_unique<TGIFGraphicControlExtension>(f);
  gce->SetDelay(delay_);
  if (transparent_index >= 0) {
    gce->SetTransparent(true);
    gce->SetTransparentColorIndex(transparent_index);
    f->CropToOpaque();
  }
  last_gce_ = gce.get();
  f->Extensions().Add(std::move(gce));
  ++added_;
}

void AnimationAssembler::Add(std::unique_ptr<TGIFImage> reduced) {
  static const TGIFSubImage kNoFrame(nullptr);
  const TGIFSubImage& cur = reduced->Empty() ? kNoFrame : reduced->Images()[0];

  if (!smaller_size_ || !previous_ || added_ == 0) {
    AddFrame(cur, -1, nullptr);
  } else {
    const TGIFSubImage& prev = previous_->Empty() ? kNoFrame : previous_->Images()[0];
    const auto cur_rgb = PackedColors(cur.ActiveColorMap());
    const auto prev_rgb = PackedColors(prev.ActiveColorMap());
    const int w = cur.Empty() ? 0 : cur.Width(), h = cur.Empty() ? 0 : cur.Height();
    const int pw = prev.Empty() ? 0 : prev.Width(), ph = prev.Empty() ? 0 : prev.Height();
    std::array<bool, 256> used{};
    long long unchanged = 0;
    // Positions outside the previous frame count as changed.
    std::vector<std::uint8_t> same(std::size_t(w) * std::size_t(h), 0);
    for (int y = 0; y < h; ++y) {
      const std::uint8_t* row = cur.Data().data() + std::size_t(y) * w;
      const std::uint8_t* prow = y < ph ? prev.Data().data() + std::size_t(y) * pw : nullptr;
      std::uint8_t* srow = same.data() + std::size_t(y) * w;
      for (int x = 0; x < w; ++x) {
        if (prow != nullptr && x < pw && cur_rgb[row[x]] == prev_rgb[prow[x]]) {
          ++unchanged;
          srow[x] = 1;
        } else {
          used[row[x]] = true;
        }
      }
    }
    int transparent = -1;
    for (int t = 255; t >= 0; --t)
      if (!used[std::size_t(t)]) {
        transparent = t;
        break;
      }
    const long long total = (long long)w * h;
    // A merged delay must fit the 16-bit field; past it the frame is added.
    const bool can_merge = last_gce_ != nullptr && last_gce_->Delay() + delay_ <= 65535;
    if (unchanged == total && can_merge) {
      last_gce_->SetDelay(last_gce_->Delay() + delay_);
      ++optimized_;
    } else if (total * 3 / 10 >= unchanged || transparent < 0 || unchanged == total) {
      AddFrame(cur, -1, nullptr);
    } else {
      ++optimized_;
      std::vector<std::uint8_t> diff = cur.Data();
      for (std::size_t k = 0; k < diff.size(); ++k)
        if (same[k]) diff[k] = std::uint8_t(transparent);
      AddFrame(cur, transparent, &diff);
    }
  }
  previous_ = std::move(reduced);
}

void AnimationAssembler::AddRepeat() {
  static const TGIFSubImage kNoFrame(nullptr);
  const TGIFSubImage& prev = previous_->Empty() ? kNoFrame : previous_->Images()[0];
  // As Add would decide for a picture equal in every pixel.
  const bool can_merge = last_gce_ != nullptr && last_gce_->Delay() + delay_ <= 65535;
  if (smaller_size_ && added_ > 0 && can_merge) {
    last_gce_->SetDelay(last_gce_->Delay() + delay_);
    ++optimized_;
  } else {
    AddFrame(prev, -1, nullptr);
  }
}

BuildResult BuildAnimation(const BuildOptions& options, const ProgressCallback& progress) {
  const int delay = options.latency_ms / 10;
  const long long count = options.frame_count > 0 ? options.frame_count : 0;
  AnimationAssembler assembler(delay, options.size == SizeChoice::kSmallerSize);
  capture::FrameSequence frames(count);
  for (long long i = 0; i < count; ++i) {
    if (progress) progress(FrameLabelText(i, count, assembler.OptimizedFrames()), int(i * 100 / count));
    gdi::Bitmap picture = frames.Read(i);
    // An unchanged frame has no file: its picture, so its reduction, is the last one.
    if (!frames.LastWasPresent() && assembler.HasPrevious()) {
      assembler.AddRepeat();
      continue;
    }
    capture::CropAndZoomFrame(picture, options.crop_zoom);

    auto reduced = std::make_unique<TGIFImage>();
    reduced->ReductionMethod = options.colors == ColorChoice::kGrayScale ? rdGrayScale : rdOctree;
    reduced->PaletteBits = 8;
    reduced->DitherMethod = options.dither == DitherChoice::kFloydSteinberg ? dtFloydSteinberg : dtNearest;
    reduced->AddFrame(picture);
    assembler.Add(std::move(reduced));
  }
  BuildResult result;
  result.optimized_frames = assembler.OptimizedFrames();
  result.image = assembler.Finish();
  if (progress) progress(kBuildFinishedText, 100);
  return result;
}

}  // namespace quarvel::gif
