#include "gif/animation_builder.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <optional>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "capture/frame_store.h"
#include "gif/encode_ahead.h"
#include "gif/fast_lzw.h"
#include "gif/alpha_reduction.h"
#include "gif/parallel.h"
#include "gif/quant_palette.h"
#include "platform/paths/working_folder.h"

namespace quarvel::gif {

namespace {

namespace fs = std::filesystem;

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

namespace {

struct ChangedBox {
  int left = 0, top = 0, right = 0, bottom = 0;
  bool Empty() const { return right <= left || bottom <= top; }
};

// The box of the pixels `same` marks as changed in a w x h picture.
ChangedBox BoxOfChanges(const std::vector<std::uint8_t>& same, int w, int h) {
  ChangedBox b;
  if (same.size() != std::size_t(w) * std::size_t(h)) return b;
  const std::uint8_t* s = same.data();
  auto row_same = [&](int y) {
    const std::uint8_t* r = s + std::size_t(y) * w;
    return std::find(r, r + w, std::uint8_t(0)) == r + w;
  };
  int top = 0, bottom = h;
  while (top < bottom && row_same(top)) ++top;
  while (bottom > top && row_same(bottom - 1)) --bottom;
  if (top == bottom) return b;
  int left = w, right = 0;
  for (int y = top; y < bottom; ++y) {
    const std::uint8_t* r = s + std::size_t(y) * w;
    int a = 0;
    while (a < left && r[a] != 0) ++a;
    left = std::min(left, a);
    int e = w;
    while (e > right && r[e - 1] != 0) --e;
    right = std::max(right, e);
  }
  return ChangedBox{left, top, right, bottom};
}

// Rows sampled for OpaqueIsSmaller: one band in kSampleEvery.
constexpr int kSampleEvery = 8;
// Boxes of fewer sampled pixels keep the difference frame.
constexpr std::size_t kSampleFrom = 4096;

// Whether the box of changes written opaque takes fewer bytes than with its
// unchanged pixels transparent, on the codes of bands of its rows. Where
// pixels keep their colour only here and there (a photograph moving under
// a still one) the transparent ones break the strings the codes match.
bool OpaqueIsSmaller(const TGIFSubImage& cur, const std::vector<std::uint8_t>& same, const ChangedBox& b,
                     int transparent) {
  const int w = cur.Width(), bw = b.right - b.left, bh = b.bottom - b.top;
  const int band = std::max(1, bh / (4 * kSampleEvery));
  thread_local std::vector<std::uint8_t> opaque, clear;
  thread_local TStream codes;
  thread_local TFastLZWEncoder lzw;
  opaque.clear();
  clear.clear();
  const std::uint8_t t = std::uint8_t(transparent);
  for (int y = 0; y < bh; ++y) {
    if ((y / band) % kSampleEvery != 0) continue;
    const std::size_t at = std::size_t(b.top + y) * w + b.left;
    const std::uint8_t* row = cur.Data().data() + at;
    const std::uint8_t* mask = same.data() + at;
    opaque.insert(opaque.end(), row, row + bw);
    for (int x = 0; x < bw; ++x) clear.push_back(mask[x] != 0 ? t : row[x]);
  }
  if (opaque.size() < kSampleFrom) return false;
  const int bits = std::max(2, cur.ActiveColorMap().BitsPerPixel());
  codes.clear();
  lzw.Encode(codes, bits, opaque.data(), opaque.size());
  const std::size_t opaque_bytes = codes.size();
  codes.clear();
  lzw.Encode(codes, bits, clear.data(), clear.size());
  return opaque_bytes < codes.size();
}

}  // namespace

AnimationAssembler::AnimationAssembler(int delay, bool smaller_size, bool alpha, bool tight)
    : delay_(delay), smaller_size_(smaller_size), alpha_(alpha), crop_(tight), animation_(std::make_unique<TGIFImage>()) {}

void AnimationAssembler::AddFrame(const TGIFSubImage& source, int transparent_index,
                                  const std::vector<std::uint8_t>* clear, const std::array<bool, 256>* used) {
  auto frame = std::make_unique<TGIFSubImage>(animation_.get());
  frame->Assign(source);
  // In the copy itself: a difference frame is one picture's worth of memory, not three.
  if (clear != nullptr) {
    std::uint8_t* data = frame->Data().data();
    const std::uint8_t* mask = clear->data();
    const std::size_t n = std::min(frame->Data().size(), clear->size());
    // A table of only the entries the changed pixels use, when that
    // narrows the codes: a photograph moving over a still one changes few
    // of its colours between frames.
    std::array<std::uint8_t, 256> rename;
    for (int i = 0; i < 256; ++i) rename[std::size_t(i)] = std::uint8_t(i);
    TGIFColorMap& map = frame->ColorMap();
    if (used != nullptr && map.Count() > 0) {
      std::vector<gdi::Color> kept;
      for (int i = 0; i < map.Count(); ++i)
        if ((*used)[std::size_t(i)]) {
          rename[std::size_t(i)] = std::uint8_t(kept.size());
          kept.push_back(map[i]);
        }
      const auto bits = [](std::size_t entries) {
        int b = 1;
        while ((std::size_t(1) << b) < entries) ++b;
        return b;
      };
      if (bits(kept.size() + 1) < bits(std::size_t(map.Count()))) {
        map.ImportPalette(kept);
        transparent_index = int(kept.size());
      } else {
        for (int i = 0; i < 256; ++i) rename[std::size_t(i)] = std::uint8_t(i);
      }
    }
    const std::uint8_t t = std::uint8_t(transparent_index);
    // A select, not a branch: which pixels kept their colour is random in photographs.
    for (std::size_t k = 0; k < n; ++k) data[k] = mask[k] != 0 ? t : rename[data[k]];
  }
  TGIFSubImage* f = frame.get();
  animation_->AddFrame(std::move(frame));
  if (added_ == 0) f->Extensions().Add(std::make_unique<TGIFAppExtNSLoop>(f, 0));
  auto gce = std::make_unique<TGIFGraphicControlExtension>(f);
  gce->SetDelay(delay_);
  if (transparent_index >= 0) {
    if (f->ColorMap().Count() > 0 && transparent_index >= f->ColorMap().Count()) f->ColorMap().Add(gdi::Color{});
    gce->SetTransparent(true);
    gce->SetTransparentColorIndex(transparent_index);
    f->CropToOpaque();
  }
  last_gce_ = gce.get();
  f->Extensions().Add(std::move(gce));
  ++added_;
}

namespace {

// Whether two reduced frames show the same picture, transparent pixels alike.
bool SameAlphaPicture(const TGIFSubImage& a, int ta, const TGIFSubImage& b, int tb) {
  if (a.Empty() || b.Empty()) return a.Empty() && b.Empty();
  if (a.Width() != b.Width() || a.Height() != b.Height()) return false;
  const auto ca = PackedColors(a.ActiveColorMap()), cb = PackedColors(b.ActiveColorMap());
  const std::uint8_t* pa = a.Data().data();
  const std::uint8_t* pb = b.Data().data();
  for (std::size_t k = 0, n = a.Data().size(); k < n; ++k) {
    const bool clear_a = pa[k] == ta, clear_b = pb[k] == tb;
    if (clear_a != clear_b || (!clear_a && ca[pa[k]] != cb[pb[k]])) return false;
  }
  return true;
}

}  // namespace

void AnimationAssembler::AddAlphaFrame(const TGIFSubImage& source, int transparent) {
  auto frame = std::make_unique<TGIFSubImage>(animation_.get());
  frame->Assign(source);
  TGIFSubImage* f = frame.get();
  animation_->AddFrame(std::move(frame));
  if (added_ == 0) f->Extensions().Add(std::make_unique<TGIFAppExtNSLoop>(f, 0));
  auto gce = std::make_unique<TGIFGraphicControlExtension>(f);
  gce->SetDelay(delay_);
  gce->SetDisposal(2);
  if (transparent >= 0) {
    gce->SetTransparent(true);
    gce->SetTransparentColorIndex(transparent);
  }
  last_gce_ = gce.get();
  f->Extensions().Add(std::move(gce));
  if (smaller_size_ && transparent >= 0) {
    f->CropToOpaque();
    // A frame with nothing to show still needs its pixels for its delay to count.
    if (f->Empty()) f->SetData(1, 1, {std::uint8_t(transparent)});
  }
  ++added_;
}

void AnimationAssembler::AddAlpha(std::unique_ptr<TGIFImage> reduced, int transparent) {
  static const TGIFSubImage kNoFrame(nullptr);
  const TGIFSubImage& cur = reduced->Empty() ? kNoFrame : reduced->Images()[0];
  const bool can_merge = last_gce_ != nullptr && last_gce_->Delay() + delay_ <= 65535;
  if (smaller_size_ && previous_ && added_ > 0 && can_merge &&
      SameAlphaPicture(cur, transparent, previous_->Empty() ? kNoFrame : previous_->Images()[0],
                       previous_transparent_)) {
    last_gce_->SetDelay(last_gce_->Delay() + delay_);
    ++optimized_;
  } else {
    AddAlphaFrame(cur, transparent);
  }
  previous_ = std::move(reduced);
  previous_transparent_ = transparent;
}

namespace {

// Marks same[x] for the first `count` pixels of a row: whether the colour
// of row[x] in `cur` is that of prow[x] in `prev`. The count of unchanged ones.
long long SameRowPlain(const std::uint8_t* row, const std::uint8_t* prow, int count, const std::uint32_t* cur,
                       const std::uint32_t* prev, std::uint8_t* same) {
  // Without branches on the comparison, which photo-like frames make at random.
  long long unchanged = 0;
  for (int x = 0; x < count; ++x) {
    const bool s = cur[row[x]] == prev[prow[x]];
    same[x] = std::uint8_t(s);
    unchanged += s;
  }
  return unchanged;
}

#if defined(__x86_64__)
// Eight pixels at a time: both tables gathered, the equal lanes narrowed to
// bytes of 1 (packs, not a bit deposit, which some processors microcode).
__attribute__((target("avx2"))) long long SameRowAvx2(const std::uint8_t* row, const std::uint8_t* prow, int count,
                                                      const std::uint32_t* cur, const std::uint32_t* prev,
                                                      std::uint8_t* same) {
  long long unchanged = 0;
  int x = 0;
  const __m128i one = _mm_set1_epi8(1);
  for (; x + 8 <= count; x += 8) {
    const __m256i ci = _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(row + x)));
    const __m256i pi = _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(prow + x)));
    const __m256i a = _mm256_i32gather_epi32(reinterpret_cast<const int*>(cur), ci, 4);
    const __m256i b = _mm256_i32gather_epi32(reinterpret_cast<const int*>(prev), pi, 4);
    const __m256i eq = _mm256_cmpeq_epi32(a, b);
    const __m128i words = _mm_packs_epi32(_mm256_castsi256_si128(eq), _mm256_extracti128_si256(eq, 1));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(same + x), _mm_and_si128(_mm_packs_epi16(words, words), one));
    unchanged += std::popcount(unsigned(_mm256_movemask_ps(_mm256_castsi256_ps(eq))));
  }
  return unchanged + SameRowPlain(row + x, prow + x, count - x, cur, prev, same + x);
}

bool HaveAvx2() {
  static const bool have = __builtin_cpu_supports("avx2");
  return have;
}
#endif

}  // namespace

bool AnimationAssembler::MayBeDifferenceFrame(long long unchanged, long long total) {
  // As Add decides: a frame of 30 % unchanged pixels or fewer is drawn whole.
  return unchanged < total && total * 3 / 10 < unchanged;
}

FrameDifference AnimationAssembler::Compare(const TGIFImage& previous, const TGIFImage& current, bool wide) {
  static const TGIFSubImage kNoFrame(nullptr);
  const TGIFSubImage& cur = current.Empty() ? kNoFrame : current.Images()[0];
  const TGIFSubImage& prev = previous.Empty() ? kNoFrame : previous.Images()[0];
  const auto cur_rgb = PackedColors(cur.ActiveColorMap());
  const auto prev_rgb = PackedColors(prev.ActiveColorMap());
  const int w = cur.Empty() ? 0 : cur.Width(), h = cur.Empty() ? 0 : cur.Height();
  const int pw = prev.Empty() ? 0 : prev.Width(), ph = prev.Empty() ? 0 : prev.Height();
  FrameDifference d;
  // Positions outside the previous frame count as changed.
  d.same.assign(std::size_t(w) * std::size_t(h), 0);
  // With the same table, a row of the same indices is unchanged as a whole.
  const bool same_table = cur_rgb == prev_rgb && w == pw;
  const int common = std::min(w, pw);
#if defined(__x86_64__)
  const auto same_row = wide && HaveAvx2() ? &SameRowAvx2 : &SameRowPlain;
#else
  (void)wide;
  const auto same_row = &SameRowPlain;
#endif
  for (int y = 0; y < std::min(h, ph); ++y) {
    const std::uint8_t* row = cur.Data().data() + std::size_t(y) * w;
    const std::uint8_t* prow = prev.Data().data() + std::size_t(y) * pw;
    std::uint8_t* srow = d.same.data() + std::size_t(y) * w;
    if (same_table && std::memcmp(row, prow, std::size_t(w)) == 0) {
      d.unchanged += w;
      std::memset(srow, 1, std::size_t(w));
      continue;
    }
    d.unchanged += same_row(row, prow, common, cur_rgb.data(), prev_rgb.data(), srow);
  }
  // The entries only a difference frame needs: most frames of moving
  // photographs are drawn whole, and are spared this pass.
  d.used_known = MayBeDifferenceFrame(d.unchanged, (long long)w * h);
  if (!d.used_known) return d;
  // A plain store per pixel, with a last entry that unchanged pixels mark,
  // not a read and a write of the entry the pixel before may have just written.
  std::array<std::uint8_t, 257> used{};
  const std::uint8_t* data = cur.Data().data();
  const std::uint8_t* same = d.same.data();
  for (std::size_t k = 0, n = d.same.size(); k < n; ++k) used[same[k] != 0 ? 256 : data[k]] = 1;
  for (int i = 0; i < 256; ++i) d.used[std::size_t(i)] = used[std::size_t(i)] != 0;
  return d;
}

void AnimationAssembler::Add(std::unique_ptr<TGIFImage> reduced, int transparent,
                             const FrameDifference* difference) {
  if (alpha_) {
    AddAlpha(std::move(reduced), transparent);
    return;
  }
  static const TGIFSubImage kNoFrame(nullptr);
  const TGIFSubImage& cur = reduced->Empty() ? kNoFrame : reduced->Images()[0];

  if (!smaller_size_ || !previous_ || added_ == 0) {
    AddFrame(cur, -1, nullptr);
  } else {
    FrameDifference own;
    if (difference == nullptr) {
      own = Compare(*previous_, *reduced);
      difference = &own;
    }
    const std::vector<std::uint8_t>& same = difference->same;
    const auto& used = difference->used;
    const long long unchanged = difference->unchanged;
    const int w = cur.Empty() ? 0 : cur.Width(), h = cur.Empty() ? 0 : cur.Height();
    // The transparent index must lie in the frame's table: the highest one no
    // changed pixel uses, or one entry more when a short table uses them all.
    const int table = cur.Empty() ? 256 : cur.ActiveColorMap().Count();
    int transparent = -1;
    // Not known, the frame is drawn whole whatever it would be.
    if (difference->used_known) {
      for (int t = std::min(table, 256) - 1; t >= 0; --t)
        if (!used[std::size_t(t)]) {
          transparent = t;
          break;
        }
      if (transparent < 0 && table < 256) transparent = table;
    }
    const long long total = (long long)w * h;
    // A merged delay must fit the 16-bit field; past it the frame is added.
    const bool can_merge = last_gce_ != nullptr && last_gce_->Delay() + delay_ <= 65535;
    if (unchanged == total && can_merge) {
      last_gce_->SetDelay(last_gce_->Delay() + delay_);
      ++optimized_;
    } else if (!MayBeDifferenceFrame(unchanged, total) || transparent < 0) {
      AddFrame(cur, -1, nullptr);
      // The screen shows the previous picture: only the box of changed pixels need be drawn.
      if (crop_ && unchanged > 0 && unchanged < total) CropToChanged(animation_->Images()[animation_->Images().Count() - 1], same);
    } else {
      ++optimized_;
      if (crop_ && OpaqueIsSmaller(cur, same, BoxOfChanges(same, w, h), transparent)) {
        AddFrame(cur, -1, nullptr);
        CropToChanged(animation_->Images()[animation_->Images().Count() - 1], same);
      } else {
        AddFrame(cur, transparent, &same, crop_ ? &used : nullptr);
      }
    }
  }
  previous_ = std::move(reduced);
}

void AnimationAssembler::CropToChanged(TGIFSubImage& f, const std::vector<std::uint8_t>& same) {
  const int w = f.Width(), h = f.Height();
  if (f.Data().size() != same.size()) return;
  const ChangedBox b = BoxOfChanges(same, w, h);
  if (b.Empty()) return;
  const int nw = b.right - b.left, nh = b.bottom - b.top;
  if (nw == w && nh == h) return;
  std::vector<std::uint8_t> cropped(std::size_t(nw) * std::size_t(nh));
  for (int y = 0; y < nh; ++y)
    std::memcpy(cropped.data() + std::size_t(y) * nw, f.Data().data() + std::size_t(y + b.top) * w + b.left,
                std::size_t(nw));
  const int x0 = f.Left() + b.left, y0 = f.Top() + b.top;
  f.SetData(nw, nh, std::move(cropped));
  f.SetBounds(x0, y0, nw, nh);
}

void AnimationAssembler::AddRepeat() {
  static const TGIFSubImage kNoFrame(nullptr);
  const TGIFSubImage& prev = previous_->Empty() ? kNoFrame : previous_->Images()[0];
  // As Add would decide for a picture equal in every pixel.
  const bool can_merge = last_gce_ != nullptr && last_gce_->Delay() + delay_ <= 65535;
  if (smaller_size_ && added_ > 0 && can_merge) {
    last_gce_->SetDelay(last_gce_->Delay() + delay_);
    ++optimized_;
  } else if (alpha_) {
    AddAlphaFrame(prev, previous_transparent_);
  } else {
    AddFrame(prev, -1, nullptr);
  }
}

BuildResult BuildAnimation(const BuildOptions& options, const ProgressCallback& progress) {
  using FrameState = capture::FrameCache::FrameState;
  const int delay = options.latency_ms / 10;
  bool streaming = options.kept != nullptr && options.kept->Streaming();
  // Streaming, the capture's estimate until it is over.
  long long count = options.frame_count > 0 ? options.frame_count : 0;
  const int threads = WorkerThreads(options.threads);
  // A shared palette needs every picture before the first is reduced.
  if (streaming && options.palette == PaletteChoice::kQuant && options.colors == ColorChoice::k256Colors) {
    count = options.kept->WaitForEnd();
    streaming = false;
  }
  const capture::CropZoom& cz = options.crop_zoom;
  const bool as_stored = cz.left <= 0 && cz.right <= 0 && cz.top <= 0 && cz.bottom <= 0 && cz.zoom == 100;

  std::unique_ptr<QuantPalette> quant;
  if (options.palette == PaletteChoice::kQuant && options.colors == ColorChoice::k256Colors) {
    // First pass: the histogram of every distinct picture.
    quant = std::make_unique<QuantPalette>(options.dither == DitherChoice::kFloydSteinberg, options.transparent);
    capture::FrameSequence frames(count, options.transparent);
    for (long long i = 0; i < count; ++i) {
      if (progress) progress(FrameLabelText(i, count, 0), int(i * 50 / count));
      const gdi::Bitmap* kept = options.kept != nullptr ? options.kept->Find(i + 1) : nullptr;
      if (kept != nullptr && as_stored) {
        quant->AddToHistogram(*kept);
        continue;
      }
      gdi::Bitmap picture;
      if (kept != nullptr) {
        picture = *kept;
      } else {
        picture = frames.Read(i);
        if (!frames.LastWasPresent() && i > 0) continue;
      }
      capture::CropAndZoomFrame(picture, options.crop_zoom);
      quant->AddToHistogram(picture);
    }
    quant->Finish();
  }
  // The estimate of a running capture may fall short.
  const auto shown_count = [&](long long i) { return std::max(count, i + 1); };
  auto percent = [&](long long i) { return int(quant ? 50 + i * 50 / shown_count(i) : i * 100 / shown_count(i)); };

  // Frames are read and reduced in batches across the threads and added in
  // order; while one batch is added, the next is reduced. A missing file
  // after the first repeats the last picture, whose reduction the assembler
  // still holds.
  struct Item {
    bool repeat = false;
    const gdi::Bitmap* kept = nullptr;  // looked up before the batch runs, with the frame's state
    std::unique_ptr<TGIFImage> reduced;
    int transparent = -1;
    std::exception_ptr error;
  };
  struct Batch {
    long long start = 0;
    std::size_t wanted = 0;  // frames asked for: fewer at the end
    std::vector<Item> items;
    // "Smaller Size" compares each picture with the one before it, also on the threads.
    std::vector<FrameDifference> differences;
  };
  // Long enough that the threads seldom wait for the slowest picture of a
  // batch: on two cores, 8 frames a batch left a quarter of the time idle.
  const std::size_t batch_size = std::size_t(std::max(threads * 4, 32));
  // The first batches are short, so that the threads start on the first
  // frames a capture hands over instead of waiting for a whole batch.
  const auto batch_after = [&](std::size_t size) {
    return std::min(batch_size, std::max<std::size_t>(size * 2, std::size_t(std::max(threads, 2))));
  };
  // A capture that may wait keeps at most a batch of pictures and a few:
  // each picture is dropped once reduced, so the batch being gathered never
  // waits for the one being reduced (which holds fewer each moment). However
  // the build ends, the capture need wait for it no more.
  struct StopHolding {
    capture::FrameCache* kept;
    ~StopHolding() {
      if (kept != nullptr) kept->StopHolding();
    }
  } stop_holding{streaming ? options.kept : nullptr};
  if (streaming) options.kept->HoldAtMost(batch_size + 4);
  const bool compare = options.size == SizeChoice::kSmallerSize && !options.transparent;
  AnimationAssembler assembler(delay, options.size == SizeChoice::kSmallerSize, options.transparent,
                               options.tight_frames);

  // On the caller's thread: which pictures are kept, which files are missing.
  // The batch ends early at the last frame; a capture still running is
  // waited for, frame by frame.
  const auto prepare = [&](Batch& b, long long start, std::size_t size) {
    b.start = start;
    b.wanted = size;
    b.items.clear();
    b.differences.clear();
    for (long long i = start; i < start + (long long)size; ++i) {
      Item item;
      if (streaming) {
        const FrameState state = options.kept->WaitFor(i + 1);
        if (state == FrameState::kEnd) break;
        if (state == FrameState::kKept) item.kept = options.kept->Find(i + 1);
        item.repeat = i > 0 && state == FrameState::kRepeat;
      } else {
        if (i >= count) break;
        if (options.kept != nullptr) item.kept = options.kept->Find(i + 1);
        std::error_code ec;
        item.repeat = item.kept == nullptr && i > 0 && !fs::exists(paths::FrameFilePath(i + 1), ec);
      }
      b.items.push_back(std::move(item));
    }
  };
  // On the threads: read, reduce and compare; `before` is the last picture
  // added ahead of the batch, if the assembler compares with it.
  const auto reduce = [&](Batch& b, const TGIFImage* before) {
    ParallelFor(b.items.size(), threads, [&](std::size_t k) {
      Item& item = b.items[k];
      if (item.repeat) return;
      if (options.stop && options.stop()) {
        // Left out: the frame loop below raises this in its turn.
        item.error = std::make_exception_ptr(BuildStopped());
        return;
      }
      try {
        const long long i = b.start + (long long)k;
        const gdi::Bitmap* kept = item.kept;
        gdi::Bitmap picture;
        if (kept == nullptr) {
          const fs::path path = paths::FrameFilePath(i + 1);
          std::error_code ec;
          // Only the first frame can be missing here: an empty picture.
          if (fs::exists(path, ec)) picture = capture::LoadFramePicture(path, options.transparent);
        } else if (!as_stored) {
          picture = *kept;
        }
        // Kept pictures that crop and zoom leave as they are are reduced where they are.
        const gdi::Bitmap& source = kept != nullptr && as_stored ? *kept : picture;
        if (&source == &picture) capture::CropAndZoomFrame(picture, options.crop_zoom);
        if (quant) {
          item.reduced = quant->Reduce(source, &item.transparent);
        } else if (options.transparent) {
          AlphaFrame reduced =
              ReduceWithAlpha(source, options.colors == ColorChoice::kGrayScale ? rdGrayScale : rdOctree,
                              options.dither == DitherChoice::kFloydSteinberg ? dtFloydSteinberg : dtNearest);
          item.reduced = std::move(reduced.image);
          item.transparent = reduced.transparent;
        } else {
          item.reduced = std::make_unique<TGIFImage>();
          item.reduced->ReductionMethod = options.colors == ColorChoice::kGrayScale ? rdGrayScale : rdOctree;
          item.reduced->PaletteBits = 8;
          item.reduced->DitherMethod =
              options.dither == DitherChoice::kFloydSteinberg ? dtFloydSteinberg : dtNearest;
          item.reduced->AddFrame(source);
        }
      } catch (...) {
        // Raised in frame order when the batch is added, after the frames before it.
        item.error = std::current_exception();
      }
      // The reduction is all the build needs of a kept picture: its memory
      // goes back to the capture's next ones now, not once the batch is added.
      if (item.kept != nullptr) {
        item.kept = nullptr;
        options.kept->Drop(b.start + (long long)k + 1);
      }
    });
    if (!compare) return;
    std::vector<const TGIFImage*> previous(b.items.size(), nullptr);
    const TGIFImage* last = before;
    for (std::size_t k = 0; k < b.items.size(); ++k) {
      if (b.items[k].repeat || b.items[k].error) continue;
      previous[k] = last;
      last = b.items[k].reduced.get();
    }
    b.differences.resize(b.items.size());
    ParallelFor(b.items.size(), threads, [&](std::size_t k) {
      if (previous[k] != nullptr) b.differences[k] = AnimationAssembler::Compare(*previous[k], *b.items[k].reduced);
    });
  };

  // Frames are encoded as they are added, beside the capture and the
  // reduction; declared after the assembler that holds them, so that it
  // stops before they go.
  std::optional<EncodeAhead> encoder;
  if (options.encode_frames) encoder.emplace(options.threads, options.release_encoded);
  const auto encode_added = [&] {
    if (!encoder) return;
    for (int n = assembler.FrameCount(); encoder->Count() < n;) encoder->Add(assembler.Frame(encoder->Count()));
  };
  Batch current, next;
  // Declared after the batches it works on, so that it ends before they go.
  BackgroundJob worker;
  prepare(current, 0, batch_after(0));
  if (!current.items.empty()) reduce(current, nullptr);
  while (!current.items.empty()) {
    const long long start = current.start;
    // The picture the next batch's first is compared with: the last one this batch adds, or the one before.
    const TGIFImage* last = assembler.Compares() ? assembler.Previous() : nullptr;
    for (const Item& item : current.items)
      if (!item.repeat && !item.error) last = item.reduced.get();
    next.items.clear();
    if (current.items.size() == current.wanted) {
      prepare(next, start + (long long)current.items.size(), batch_after(current.wanted));
      if (!next.items.empty()) worker.Start([&, last] { reduce(next, last); });
    }
    for (std::size_t k = 0; k < current.items.size(); ++k) {
      const long long i = start + (long long)k;
      Item& item = current.items[k];
      if (progress) progress(FrameLabelText(i, shown_count(i), assembler.OptimizedFrames()), percent(i));
      if (options.stop && options.stop()) throw BuildStopped();
      if (item.error) std::rethrow_exception(item.error);
      if (item.repeat) {
        assembler.AddRepeat();
      } else {
        // Worked out ahead unless the picture is the first the assembler compares.
        const bool ahead =
            !current.differences.empty() && assembler.Compares() && !current.differences[k].same.empty();
        assembler.Add(std::move(item.reduced), item.transparent, ahead ? &current.differences[k] : nullptr);
        if (ahead) current.differences[k] = FrameDifference{};
      }
      encode_added();
      if (options.kept != nullptr) options.kept->Drop(i + 1);
    }
    worker.Wait();
    std::swap(current, next);
  }
  BuildResult result;
  if (encoder) result.images = encoder->Finish(options.stop);
  result.optimized_frames = assembler.OptimizedFrames();
  result.image = assembler.Finish();
  if (progress) progress(kBuildFinishedText, 100);
  return result;
}

}  // namespace quarvel::gif
