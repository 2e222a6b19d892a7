#include "gif/gif_optimizer.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cassert>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <functional>
#include <iterator>
#include <mutex>
#include <span>
#include <tuple>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "gif/fast_lzw.h"
#include "gif/gif_exception.h"
#include "gif/parallel.h"

namespace quarvel::gif {

namespace {

// A canvas pixel is 0xRRGGBB, or this: never painted, or disposed to the background.
constexpr std::uint32_t kNone = 0x01000000u;
constexpr int kMaxDelay = 65535;
// Bytes of cut-out pictures held at once while frames are encoded in parallel.
constexpr std::size_t kBatchBytes = std::size_t(64) << 20;
// The trial of OptimizeOptions::trial: images of this many frames or more
// are sampled in this many windows of this many frames, and rewritten in
// full when the windows' rewrite saves this share of their own frames' bytes.
constexpr int kTrialFrom = 64;
constexpr int kTrialWindows = 4;
constexpr int kTrialLength = 8;
constexpr std::size_t kTrialGainPercent = 1;

// Whether the eight-wide forms of the pixel loops run: when asked for and
// the processor has them.
bool WideLoops(const OptimizeOptions& options) {
#if defined(__x86_64__)
  static const bool have = __builtin_cpu_supports("avx2");
  return options.wide_loops && have;
#else
  (void)options;
  return false;
#endif
}

// Thrown inside the rewrite for pictures it cannot reproduce; the caller
// keeps the image's own file then.
struct NotRewritable {};

struct Box {
  int left = 0, top = 0, right = 0, bottom = 0;
  int Width() const { return right - left; }
  int Height() const { return bottom - top; }
  bool Empty() const { return right <= left || bottom <= top; }
};

int TableBits(int entries) {
  int b = 1;
  while ((1 << b) < entries) ++b;
  return b;
}

void Put16(TStream& s, unsigned v) {
  s.push_back(std::uint8_t(v));
  s.push_back(std::uint8_t(v >> 8));
}

// At most 256 colours, found by open addressing.
class ColourIndex {
 public:
  ColourIndex() { keys_.fill(kFree); }
  explicit ColourIndex(const std::vector<std::uint32_t>& colours) : ColourIndex() {
    for (std::size_t i = 0; i < colours.size(); ++i) Insert(colours[i]);
  }
  // The colour's index; -1 when the table already holds `cap` other colours.
  int Insert(std::uint32_t rgb, int cap = 256) {
    std::size_t h = Slot(rgb);
    while (keys_[h] != kFree) {
      if (keys_[h] == rgb) return values_[h];
      h = (h + 1) & (kSlots - 1);
    }
    if (count_ >= cap) return -1;
    keys_[h] = rgb;
    values_[h] = count_;
    return count_++;
  }
  int Find(std::uint32_t rgb) const {
    std::size_t h = Slot(rgb);
    while (keys_[h] != kFree) {
      if (keys_[h] == rgb) return values_[h];
      h = (h + 1) & (kSlots - 1);
    }
    return -1;
  }
  int Count() const { return count_; }

#if defined(__x86_64__)
  // Finds eight colours at once where each sits in its first slot (most do,
  // the table being sparse); `found` has a lane's bits set where it did.
  __attribute__((target("avx2"))) __m256i FindAtHome(__m256i rgb, __m256i& found) const {
    const __m256i slots =
        _mm256_srli_epi32(_mm256_mullo_epi32(rgb, _mm256_set1_epi32(int(2654435761u))), 32 - kSlotBits);
    found = _mm256_cmpeq_epi32(_mm256_i32gather_epi32(reinterpret_cast<const int*>(keys_.data()), slots, 4), rgb);
    return _mm256_mask_i32gather_epi32(_mm256_set1_epi32(-1), values_.data(), slots, found, 4);
  }
#endif

 private:
  static constexpr int kSlotBits = 12;
  static constexpr std::size_t kSlots = std::size_t(1) << kSlotBits;
  static constexpr std::uint32_t kFree = 0xFFFFFFFFu;
  static std::size_t Slot(std::uint32_t rgb) { return (rgb * 2654435761u) >> (32 - kSlotBits); }
  std::array<std::uint32_t, kSlots> keys_;
  std::array<std::int32_t, kSlots> values_{};
  int count_ = 0;
};

// A row of a frame painted through its palette; pixels of the transparent
// index (-1: none) keep what was there.
void PaintRowPlain(std::uint32_t* dst, const std::uint8_t* src, const std::uint32_t* palette, int count,
                   int transparent) {
  if (transparent < 0) {
    for (int x = 0; x < count; ++x) dst[x] = palette[src[x]];
  } else {
    for (int x = 0; x < count; ++x) dst[x] = src[x] == transparent ? dst[x] : palette[src[x]];
  }
}

#if defined(__x86_64__)
// Eight pixels at a time: the palette look-ups gathered, the transparent
// ones masked out of the gather.
__attribute__((target("avx2"))) void PaintRowAvx2(std::uint32_t* dst, const std::uint8_t* src,
                                                  const std::uint32_t* palette, int count, int transparent) {
  const __m256i see_through = _mm256_set1_epi32(transparent);
  const __m256i ones = _mm256_set1_epi32(-1);
  int x = 0;
  for (; x + 8 <= count; x += 8) {
    std::uint64_t packed;
    std::memcpy(&packed, src + x, sizeof packed);
    const __m256i index = _mm256_cvtepu8_epi32(_mm_cvtsi64_si128(static_cast<long long>(packed)));
    const __m256i paint = _mm256_xor_si256(_mm256_cmpeq_epi32(index, see_through), ones);
    const __m256i old = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(dst + x));
    const __m256i now =
        _mm256_mask_i32gather_epi32(old, reinterpret_cast<const int*>(palette), index, paint, sizeof(std::uint32_t));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + x), now);
  }
  PaintRowPlain(dst + x, src + x, palette, count - x, transparent);
}
#endif

void PaintRow(bool wide, std::uint32_t* dst, const std::uint8_t* src, const std::uint32_t* palette, int count,
              int transparent) {
#if defined(__x86_64__)
  if (wide) return PaintRowAvx2(dst, src, palette, count, transparent);
#endif
  PaintRowPlain(dst, src, palette, count, transparent);
}

std::vector<std::uint32_t> Sorted(std::vector<std::uint32_t> v) {
  std::sort(v.begin(), v.end());
  v.erase(std::unique(v.begin(), v.end()), v.end());
  return v;
}

// Plays the frames the way a decoder does, disposal methods included, and
// holds the picture shown after each frame.
class Replay {
 public:
  // Plays the frames up to last - 1 from the first.
  Replay(const TGIFImage& image, int width, int height, bool wide, int last)
      : image_(image), width_(width), height_(height), wide_(wide), last_(last),
        canvas_(std::size_t(width) * height, kNone), none_(canvas_.size()) {}

  // The frame Next plays.
  int Position() const { return next_; }
  void SetLast(int last) { last_ = last; }

  bool Next() {
    if (next_ >= last_) return false;
    const TGIFSubImage& f = image_.Images()[next_++];
    if (previous_disposal_ == 2) {
      Fill(previous_box_, kNone);
    } else if (previous_disposal_ == 3) {
      canvas_ = saved_;
      none_ = saved_none_;
    }
    if (f.Empty() || f.Data().size() != std::size_t(f.Width()) * f.Height() || f.Left() + f.Width() > width_ ||
        f.Top() + f.Height() > height_)
      throw NotRewritable{};
    const TGIFGraphicControlExtension* gce = f.GraphicControlExtension();
    const int disposal = gce != nullptr ? gce->Disposal() : 0;
    if (disposal == 3) {
      saved_ = canvas_;
      saved_none_ = none_;
    }
    const TGIFColorMap& map = f.ActiveColorMap();
    std::array<std::uint32_t, 256> palette{};
    for (int i = 0; i < map.Count(); ++i) palette[std::size_t(i)] = map[i].ToRgb();
    const int colours = map.Count();
    const int transparent = gce != nullptr && gce->Transparent() ? gce->TransparentColorIndex() : -1;
    // Once the screen is covered no pixel needs counting: with every index
    // in the table, a frame is a plain table look-up.
    if (none_ == 0 && !f.Data().empty() &&
        (colours == 256 || *std::max_element(f.Data().begin(), f.Data().end()) < colours)) {
      for (int y = 0; y < f.Height(); ++y) {
        const std::uint8_t* src = f.Data().data() + std::size_t(y) * f.Width();
        PaintRow(wide_, canvas_.data() + std::size_t(f.Top() + y) * width_ + f.Left(), src, palette.data(), f.Width(),
                 transparent);
      }
    } else {
      Paint(f, palette, colours, transparent);
    }
    previous_disposal_ = disposal;
    previous_box_ = Box{f.Left(), f.Top(), f.Left() + f.Width(), f.Top() + f.Height()};
    delay_ = gce != nullptr ? gce->Delay() : 0;
    return true;
  }

  // Moves on to the latest frame before `before` that covers the whole
  // screen with opaque pixels, forgetting the frames before it: nothing
  // they drew shows once it is played.
  void SkipBefore(int before) {
    for (int k = std::min(before, last_) - 1; k > next_; --k) {
      const TGIFSubImage& f = image_.Images()[k];
      const TGIFGraphicControlExtension* gce = f.GraphicControlExtension();
      const bool opaque = gce == nullptr || !gce->Transparent();
      const bool restores = gce != nullptr && gce->Disposal() == 3;
      if (opaque && !restores && !f.Empty() && f.Left() == 0 && f.Top() == 0 && f.Width() == width_ &&
          f.Height() == height_) {
        std::fill(canvas_.begin(), canvas_.end(), kNone);
        none_ = canvas_.size();
        previous_disposal_ = 0;
        next_ = k;
        return;
      }
    }
  }

  const std::vector<std::uint32_t>& Canvas() const { return canvas_; }
  int Delay() const { return delay_; }
  // Whether some pixel shows the background (none once the screen is covered).
  bool ShowsBackground() const { return none_ > 0; }

 private:
  void Paint(const TGIFSubImage& f, const std::array<std::uint32_t, 256>& palette, int colours, int transparent) {
    for (int y = 0; y < f.Height(); ++y) {
      const std::uint8_t* src = f.Data().data() + std::size_t(y) * f.Width();
      std::uint32_t* dst = canvas_.data() + std::size_t(f.Top() + y) * width_ + f.Left();
      for (int x = 0; x < f.Width(); ++x) {
        const int index = src[x];
        if (index == transparent) continue;
        if (index >= colours) throw NotRewritable{};
        if (none_ > 0 && dst[x] == kNone) --none_;
        dst[x] = palette[std::size_t(index)];
      }
    }
  }

  void Fill(const Box& b, std::uint32_t value) {
    for (int y = b.top; y < b.bottom; ++y) {
      std::uint32_t* row = canvas_.data() + std::size_t(y) * width_ + b.left;
      none_ += std::size_t(std::count_if(row, row + b.Width(), [](std::uint32_t c) { return c != kNone; }));
      std::fill_n(row, b.Width(), value);
    }
  }

  const TGIFImage& image_;
  int width_, height_;
  bool wide_;
  int next_ = 0, last_;
  std::vector<std::uint32_t> canvas_, saved_;
  std::size_t none_, saved_none_ = 0;  // pixels showing the background
  int previous_disposal_ = 0;
  Box previous_box_;
  int delay_ = 0;
};

// One picture of the rewritten file: the frames showing it, merged.
struct Entry {
  Box box;
  int delay = 0;
  bool dispose = false;                // the box is restored to the background after the entry's time
  std::vector<std::uint32_t> changed;  // colours of the changed pixels, sorted
  std::vector<std::uint32_t> area;     // every colour in the box, sorted; empty when over 256 or with background
  bool all_changed = false;            // no pixel in the box is left as it was
};

// Up to 256 distinct colours, gathered pixel by pixel. A direct-mapped
// cache of the colours met so far answers almost every pixel without
// probing the index, and without a branch the predictor gets wrong.
class ColourSet {
 public:
  explicit ColourSet(bool wide) : wide_(wide) { cache_.fill(kSkip); }
  // Adds the colour; false for kNone or a 257th colour. kSkip adds nothing.
  bool Add(std::uint32_t rgb) {
    const std::size_t h = Slot(rgb);
    return cache_[h] == rgb || Miss(rgb, h);
  }
  std::vector<std::uint32_t> Take() { return std::move(colours_); }

  // A pixel that adds nothing: never a colour, and it starts out cached.
  static constexpr std::uint32_t kSkip = 0xFFFFFFFFu;

  // Adds the colours of the pixels that differ between two rows; their
  // count, or -1 when one cannot be added.
  int AddChanged(const std::uint32_t* before, const std::uint32_t* after, int count) {
#if defined(__x86_64__)
    if (wide_) return AddChangedAvx2(before, after, count);
#endif
    return AddChangedPlain(before, after, count);
  }
  // Adds every colour of a row; false when one cannot be added.
  bool AddAll(const std::uint32_t* row, int count) {
#if defined(__x86_64__)
    if (wide_) return AddAllAvx2(row, count);
#endif
    return AddAllPlain(row, count);
  }

 private:
  int AddChangedPlain(const std::uint32_t* before, const std::uint32_t* after, int count) {
    int changed = 0;
    for (int x = 0; x < count; ++x) {
      const bool differs = before[x] != after[x];
      changed += differs;
      if (!Add(differs ? after[x] : kSkip)) return -1;
    }
    return changed;
  }
  bool AddAllPlain(const std::uint32_t* row, int count) {
    for (int x = 0; x < count; ++x)
      if (!Add(row[x])) return false;
    return true;
  }
#if defined(__x86_64__)
  // Eight pixels at a time: all of them found in the cache, or each added in turn.
  __attribute__((target("avx2"))) bool Cached(__m256i keys) const {
    const __m256i slots =
        _mm256_srli_epi32(_mm256_mullo_epi32(keys, _mm256_set1_epi32(int(2654435761u))), 32 - kSlotBits);
    const __m256i cached = _mm256_i32gather_epi32(reinterpret_cast<const int*>(cache_.data()), slots, 4);
    return _mm256_movemask_epi8(_mm256_cmpeq_epi32(cached, keys)) == -1;
  }
  __attribute__((target("avx2"))) int AddChangedAvx2(const std::uint32_t* before, const std::uint32_t* after,
                                                     int count) {
    const __m256i skip = _mm256_set1_epi32(int(kSkip));
    int changed = 0, x = 0;
    for (; x + 8 <= count; x += 8) {
      const __m256i p = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(before + x));
      const __m256i c = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(after + x));
      const __m256i same = _mm256_cmpeq_epi32(p, c);
      changed += 8 - __builtin_popcount(unsigned(_mm256_movemask_ps(_mm256_castsi256_ps(same))));
      if (!Cached(_mm256_blendv_epi8(c, skip, same)) && AddChangedPlain(before + x, after + x, 8) < 0) return -1;
    }
    const int rest = AddChangedPlain(before + x, after + x, count - x);
    return rest < 0 ? -1 : changed + rest;
  }
  __attribute__((target("avx2"))) bool AddAllAvx2(const std::uint32_t* row, int count) {
    int x = 0;
    for (; x + 8 <= count; x += 8)
      if (!Cached(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(row + x))) && !AddAllPlain(row + x, 8))
        return false;
    return AddAllPlain(row + x, count - x);
  }
#endif

  static constexpr int kSlotBits = 12;
  static constexpr std::size_t kSlots = std::size_t(1) << kSlotBits;
  static std::size_t Slot(std::uint32_t rgb) { return (rgb * 2654435761u) >> (32 - kSlotBits); }
  bool Miss(std::uint32_t rgb, std::size_t h) {
    if (rgb != kSkip) {
      if (rgb == kNone) return false;
      const int known = index_.Count();
      if (index_.Insert(rgb) < 0) return false;
      if (index_.Count() > known) colours_.push_back(rgb);
    }
    cache_[h] = rgb;
    return true;
  }
  bool wide_;
  std::array<std::uint32_t, kSlots> cache_;
  ColourIndex index_;
  std::vector<std::uint32_t> colours_;
};

// The area that differs between two pictures and the colours it needs,
// grown to `extra` (an area the entry must cover to clear it afterwards).
Entry Describe(const std::vector<std::uint32_t>& before, const std::vector<std::uint32_t>& after, int width,
               int height, bool wide, const Box& extra = Box{}) {
  Entry e;
  Box box{width, height, 0, 0};
  ColourSet changed(wide);
  long long changed_pixels = 0;
  for (int y = 0; y < height; ++y) {
    const std::uint32_t* p = before.data() + std::size_t(y) * width;
    const std::uint32_t* c = after.data() + std::size_t(y) * width;
    if (std::memcmp(p, c, std::size_t(width) * sizeof(std::uint32_t)) == 0) continue;
    int first = 0;
    while (p[first] == c[first]) ++first;
    int last = width - 1;
    while (p[last] == c[last]) --last;
    // A painted pixel going back to the background needs a disposal the
    // rewrite does not make; past 256 colours there is no table.
    const int row_changed = changed.AddChanged(p + first, c + first, last + 1 - first);
    if (row_changed < 0) throw NotRewritable{};
    changed_pixels += row_changed;
    box.left = std::min(box.left, first);
    box.right = std::max(box.right, last + 1);
    box.top = std::min(box.top, y);
    box.bottom = y + 1;
  }
  if (!extra.Empty()) {
    box = box.Empty() ? extra
                      : Box{std::min(box.left, extra.left), std::min(box.top, extra.top),
                            std::max(box.right, extra.right), std::max(box.bottom, extra.bottom)};
    e.dispose = true;
  }
  if (box.Empty()) box = Box{0, 0, 1, 1};  // a frame kept only for its delay
  e.box = box;
  e.all_changed = changed_pixels == (long long)box.Width() * box.Height();
  e.changed = Sorted(changed.Take());
  ColourSet area(wide);
  bool area_ok = true;
  for (int y = box.top; y < box.bottom && area_ok; ++y)
    area_ok = area.AddAll(after.data() + std::size_t(y) * width + box.left, box.Width());
  if (area_ok) e.area = Sorted(area.Take());
  return e;
}

// A colour table the frame's pixels are written against.
struct Table {
  std::vector<std::uint32_t> colours;  // index order; a transparent slot follows when transparent >= 0
  ColourIndex index;
  int transparent = -1;
  int bits = 1;

  static Table Make(std::vector<std::uint32_t> colours, bool with_transparent) {
    Table t;
    t.colours = std::move(colours);
    t.index = ColourIndex(t.colours);
    const int entries = int(t.colours.size()) + (with_transparent ? 1 : 0);
    if (with_transparent) t.transparent = int(t.colours.size());
    t.bits = TableBits(std::max(entries, 1));
    return t;
  }
  void Save(TStream& s) const {
    for (std::uint32_t c : colours) {
      s.push_back(std::uint8_t(c >> 16));
      s.push_back(std::uint8_t(c >> 8));
      s.push_back(std::uint8_t(c));
    }
    s.insert(s.end(), ((std::size_t(1) << bits) - colours.size()) * 3, 0);
  }
  std::size_t SavedSize() const { return (std::size_t(1) << bits) * 3; }
};

enum class Fill { kOpaque, kTransparent, kRuns };

// The picture of an entry as the indices of the source frame that painted
// it, when that frame covers the box: a table then maps the frame's 256
// indices once instead of finding every pixel's colour.
struct SourcePixels {
  const std::uint8_t* indices = nullptr;  // the box's pixels, row by row; null: no such frame
  std::vector<std::uint8_t> copy;         // where they are not rows of the frame as they stand
  std::array<std::uint32_t, 256> palette{};
  int colours = 0;
  int transparent = -1;
};

// A source index's place in a table: -1 when its colour is missing there,
// kLookUp where the pixel shows what was there before (the frame's
// transparent index).
using IndexMap = std::array<std::int32_t, 256>;
constexpr std::int32_t kLookUp = -2;

IndexMap MapIndices(const SourcePixels& source, const Table& table) {
  IndexMap map;
  map.fill(kLookUp);
  for (int i = 0; i < source.colours; ++i)
    if (i != source.transparent) map[std::size_t(i)] = table.index.Find(source.palette[std::size_t(i)]);
  return map;
}

// An opaque frame's indices from its source indices; false when a colour is missing.
bool OpaqueIndicesPlain(const std::uint32_t* after, std::size_t count, const Table& table, std::uint8_t* out,
                        const std::uint8_t* source, const IndexMap& map) {
  // Where the frame left the picture before, colours still repeat.
  std::uint32_t looked_up = kNone;
  int found = -1;
  for (std::size_t k = 0; k < count; ++k) {
    int index = map[source[k]];
    if (index == kLookUp) {
      if (after[k] != looked_up) {
        looked_up = after[k];
        found = table.index.Find(looked_up);
      }
      index = found;
    }
    if (index < 0) return false;
    out[k] = std::uint8_t(index);
  }
  return true;
}

#if defined(__x86_64__)
__attribute__((target("avx2"))) bool OpaqueIndicesAvx2(const std::uint32_t* after, std::size_t count,
                                                       const Table& table, std::uint8_t* out,
                                                       const std::uint8_t* source, const IndexMap& map) {
  const __m256i look_up = _mm256_set1_epi32(kLookUp);
  std::size_t k = 0;
  for (; k + 8 <= count; k += 8) {
    std::uint64_t packed;
    std::memcpy(&packed, source + k, sizeof packed);
    const __m256i from = _mm256_cvtepu8_epi32(_mm_cvtsi64_si128(static_cast<long long>(packed)));
    __m256i index = _mm256_i32gather_epi32(map.data(), from, 4);
    const __m256i look = _mm256_cmpeq_epi32(index, look_up);
    if (!_mm256_testz_si256(look, look)) {
      __m256i found;
      const __m256i at_home =
          table.index.FindAtHome(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(after + k)), found);
      index = _mm256_blendv_epi8(index, at_home, look);
      // Colours away from their first slot, or missing, go the long way.
      if (!_mm256_testc_si256(found, look)) {
        alignas(32) std::int32_t lanes[8];
        _mm256_store_si256(reinterpret_cast<__m256i*>(lanes), index);
        for (int i = 0; i < 8; ++i)
          if (map[source[k + std::size_t(i)]] == kLookUp) lanes[i] = table.index.Find(after[k + std::size_t(i)]);
        index = _mm256_load_si256(reinterpret_cast<const __m256i*>(lanes));
      }
    }
    if (_mm256_movemask_ps(_mm256_castsi256_ps(index)) != 0) return false;  // a negative index
    const __m128i words = _mm_packs_epi32(_mm256_castsi256_si128(index), _mm256_extracti128_si256(index, 1));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + k), _mm_packus_epi16(words, words));
  }
  return OpaqueIndicesPlain(after + k, count - k, table, out + k, source + k, map);
}
#endif

// The frame's pixels as indices of the table; false when a colour is missing.
// `transparent` is an index no changed pixel needs. With `source` (the
// pixels' source indices) and its `map` into the table, colours are not
// looked up; `wide` lets the eight-wide loops run.
bool Indices(const std::uint32_t* before, const std::uint32_t* after, std::size_t count, const Table& table,
             int transparent, Fill fill, std::uint8_t* out, const std::uint8_t* source, const IndexMap* map,
             bool wide) {
  if (source != nullptr && fill == Fill::kOpaque) {
#if defined(__x86_64__)
    if (wide) return OpaqueIndicesAvx2(after, count, table, out, source, *map);
#endif
    (void)wide;
    return OpaqueIndicesPlain(after, count, table, out, source, *map);
  }
  if (source != nullptr) {
    // Without branches on the kind of pixel, which mix at random in a
    // picture with noise: the last colour is the pixel's own unless it went
    // transparent.
    int last = transparent;
    std::uint32_t last_colour = kNone;
    for (std::size_t k = 0; k < count; ++k) {
      const std::uint32_t c = after[k];
      const bool unchanged = c == before[k];
      int index = (*map)[source[k]];
      if (!unchanged & (index == kLookUp)) index = table.index.Find(c);
      const int run = fill == Fill::kRuns && last_colour == c ? last : transparent;
      index = unchanged ? run : index;
      if (index < 0) return false;
      out[k] = std::uint8_t(index);
      last = index;
      last_colour = index == transparent ? kNone : c;
    }
    return true;
  }
  int last = -1;
  std::uint32_t last_colour = kNone;
  for (std::size_t k = 0; k < count; ++k) {
    const std::uint32_t c = after[k];
    int index;
    if (fill != Fill::kOpaque && c == before[k]) {
      // Unchanged: transparent, unless repeating the last index keeps a run going.
      index = fill == Fill::kRuns && last >= 0 && last != transparent && last_colour == c ? last : transparent;
    } else {
      // The table holds a colour once, so the last index serves a repeated colour.
      index = last >= 0 && last != transparent && c == last_colour ? last : table.index.Find(c);
      if (index < 0) return false;
    }
    out[k] = std::uint8_t(index);
    if (index != last) {
      last = index;
      last_colour = index == transparent ? kNone : table.colours[std::size_t(index)];
    }
  }
  return true;
}

// One way of writing a frame: image descriptor, local table and image data.
struct Encoding {
  TStream bytes;
  std::span<const std::uint8_t> own;  // instead of `bytes`: the frame's own, left where they are
  int transparent = -1;
  bool valid = false;

  std::span<const std::uint8_t> Bytes() const { return own.empty() ? std::span<const std::uint8_t>(bytes) : own; }
};

// One candidate way of writing a frame's pixels.
struct Way {
  const Table* table;
  int transparent;
  bool local;
  Fill fill;
  const IndexMap* map = nullptr;  // the source indices into the table, when the entry has a source
  bool wide = false;              // the eight-wide loops may run
};

// Frames up to this many pixels are encoded every way; larger ones choose
// their way on a sample of rows and are encoded once.
constexpr long long kSampleFrom = 1 << 15;
constexpr int kSampleEvery = 8;  // one band of rows in this many

// Encodes a way into `best` when it comes out shorter than `bound` bytes, the
// shortest encoding of the frame so far, and lowers the bound; an encoding
// that reaches the bound is given up part way. False when the way does not
// apply (a colour missing from its table, no transparent index).
bool Encode(const Entry& e, const std::uint32_t* before, const std::uint32_t* after, const std::uint8_t* source,
            const Way& way, std::vector<std::uint8_t>& scratch, TFastLZWEncoder& lzw, Encoding& best,
            std::size_t& bound) {
  if (way.fill != Fill::kOpaque && way.transparent < 0) return false;
  scratch.resize(std::size_t(e.box.Width()) * e.box.Height());
  if (!Indices(before, after, scratch.size(), *way.table, way.transparent, way.fill, scratch.data(), source, way.map,
               way.wide))
    return false;
  TStream s;
  s.push_back(0x2C);
  Put16(s, unsigned(e.box.left));
  Put16(s, unsigned(e.box.top));
  Put16(s, unsigned(e.box.Width()));
  Put16(s, unsigned(e.box.Height()));
  s.push_back(way.local ? std::uint8_t(0x80 | (way.table->bits - 1)) : 0);
  if (way.local) way.table->Save(s);
  // The minimum code size and the terminator come on top of the codes.
  const std::size_t fixed = s.size() + 2;
  if (fixed >= bound) return true;
  if (!lzw.EncodeWithin(s, way.table->bits, scratch.data(), scratch.size(), bound - fixed)) return true;
  if (s.size() >= bound) return true;
  bound = s.size();
  best.bytes = std::move(s);
  best.own = {};
  best.transparent = way.fill == Fill::kOpaque ? -1 : way.transparent;
  best.valid = true;
  return true;
}

// What a way's codes take on bands of rows spread over the frame.
struct Sample {
  long long estimate = -1;  // bytes for the whole frame, table included; -1: a colour is missing there
  bool busy = false;        // half a byte or more per pixel: codes grow with the rows, so the estimate holds
};

Sample SampleSize(const Entry& e, const std::uint32_t* before, const std::uint32_t* after,
                  const std::uint8_t* source, const Way& way) {
  Sample out;
  if (way.fill != Fill::kOpaque && way.transparent < 0) return out;
  const int w = e.box.Width(), h = e.box.Height();
  const int band = std::max(1, h / (4 * kSampleEvery));
  int rows = 0;
  for (int y = 0; y < h; ++y) rows += (y / band) % kSampleEvery == 0;
  // Buffers and encoder of their own: sharing them with the whole frames'
  // would clear their memory again at each change of size.
  thread_local std::vector<std::uint8_t> sample;
  thread_local TStream codes;
  thread_local TFastLZWEncoder lzw;
  sample.resize(std::size_t(rows) * w);
  std::uint8_t* to = sample.data();
  for (int y = 0; y < h; ++y) {
    if ((y / band) % kSampleEvery != 0) continue;
    const std::size_t at = std::size_t(y) * w;
    if (!Indices(before + at, after + at, std::size_t(w), *way.table, way.transparent, way.fill, to,
                 source != nullptr ? source + at : nullptr, way.map, way.wide))
      return out;
    to += w;
  }
  codes.clear();
  lzw.Encode(codes, way.table->bits, sample.data(), sample.size());
  out.estimate = (long long)codes.size() * h / std::max(rows, 1) + (way.local ? (long long)way.table->SavedSize() : 0);
  out.busy = codes.size() * 2 >= sample.size();
  return out;
}

// On a busy picture (a photo, noise), where the build's own frame is
// usually best, a way is encoded in full only when its sample promises to
// beat the encoding in hand by more than the sample's error. Flat pictures
// compress better than their samples say, so they are always tried.
constexpr long long kSampleSlackPercent = 3;

struct EncodedEntry {
  Encoding local;
  Encoding global;
};

// Encodes the best of the ways, into `out.local` or `out.global` after the
// table it uses, when it is shorter than `bound`. Small frames try every
// way; larger ones encode the way that is shortest on a sample of rows.
void EncodeBest(const Entry& e, const std::uint32_t* before, const std::uint32_t* after, const std::uint8_t* source,
                const std::vector<Way>& ways, std::vector<std::uint8_t>& scratch, TFastLZWEncoder& lzw,
                EncodedEntry& out, std::size_t& bound) {
  auto encode = [&](const Way& way) {
    return Encode(e, before, after, source, way, scratch, lzw, way.local ? out.local : out.global, bound);
  };
  if ((long long)e.box.Width() * e.box.Height() >= kSampleFrom && ways.size() > 1) {
    std::vector<std::tuple<long long, bool, std::size_t>> ranked;
    for (std::size_t i = 0; i < ways.size(); ++i) {
      const Sample sample = SampleSize(e, before, after, source, ways[i]);
      if (sample.estimate >= 0) ranked.emplace_back(sample.estimate, sample.busy, i);
    }
    std::sort(ranked.begin(), ranked.end());
    // The best on the sample, or the next when a colour outside the sample is missing.
    for (const auto& [estimate, busy, i] : ranked) {
      if (busy && bound != SIZE_MAX && estimate * 100 >= (long long)bound * (100 - kSampleSlackPercent)) return;
      if (encode(ways[i])) return;
    }
    return;
  }
  for (const Way& way : ways) encode(way);
}

// Whether the global table holds every colour the frame changes to.
bool Fits(const Entry& e, const Table& global) {
  if (global.colours.empty()) return false;
  for (std::uint32_t c : e.changed)
    if (global.index.Find(c) < 0) return false;
  return true;
}

// The frame written with the global table (null: the file has none) when its
// colours are there, and with its own table when that may be shorter: when
// the global one does not serve, or the own table has narrower codes.
// `verbatim_is_area`: the own image is the picture written opaque against
// the table of the box's colours, its indices renamed (OwnImageRenamed), so
// that way ties with it and need not be tried.
EncodedEntry EncodeEntry(const Entry& e, const std::vector<std::uint32_t>& before,
                         const std::vector<std::uint32_t>& after, const SourcePixels& source, const Table* global,
                         Encoding verbatim, bool verbatim_is_area, bool wide) {
  EncodedEntry out;
  // The source frame's own bytes, when they can stand here, are the ones to beat.
  std::size_t bound = SIZE_MAX;
  verbatim_is_area = verbatim_is_area && verbatim.valid;
  if (verbatim.valid) {
    bound = verbatim.Bytes().size();
    out.local = std::move(verbatim);
  }
  // The encoder's string table and a frame's indices: one per thread, kept between frames.
  thread_local TFastLZWEncoder lzw;
  thread_local std::vector<std::uint8_t> scratch;
  const Fill partial[] = {Fill::kTransparent, Fill::kRuns};
  Table area;
  if (!e.area.empty()) area = Table::Make(e.area, false);
  const Table changed = Table::Make(e.changed, true);
  const std::uint8_t* indices = source.indices;
  IndexMap global_map, area_map, changed_map;
  if (indices != nullptr) {
    if (global != nullptr) global_map = MapIndices(source, *global);
    area_map = MapIndices(source, area);
    changed_map = MapIndices(source, changed);
  }

  std::vector<Way> ways;
  const bool fits = global != nullptr && Fits(e, *global);
  if (fits) {
    // Any entry whose colour no changed pixel has can be the transparent one.
    std::vector<bool> needed(global->colours.size() + 1, false);
    for (std::uint32_t c : e.changed) needed[std::size_t(global->index.Find(c))] = true;
    int transparent = -1;
    for (int i = 0; i < (1 << global->bits) && transparent < 0; ++i)
      if (std::size_t(i) >= needed.size() || !needed[std::size_t(i)]) transparent = i;
    ways.push_back(Way{global, -1, false, Fill::kOpaque, &global_map, wide});
    if (!e.all_changed)
      for (Fill f : partial) ways.push_back(Way{global, transparent, false, f, &global_map, wide});
  }
  std::vector<Way> own;
  if (!e.area.empty() && !verbatim_is_area)
    own.push_back(Way{&area, -1, true, Fill::kOpaque, &area_map, wide});
  // With every pixel changed, transparency has nothing to stand for.
  if (!e.all_changed || e.area.empty())
    for (Fill f : partial) own.push_back(Way{&changed, changed.transparent, true, f, &changed_map, wide});
  // An own table beside the global one when that does not serve or has wider codes.
  const int narrowest = std::min(e.area.empty() ? 8 : area.bits, changed.bits);
  const bool with_own = !fits || narrowest < global->bits;
  if (with_own) ways.insert(ways.end(), own.begin(), own.end());
  EncodeBest(e, before.data(), after.data(), indices, ways, scratch, lzw, out, bound);
  // The global table holds the changed colours but may still not serve: a
  // colour of the box is missing and no entry is free to stand for the rest.
  if (!with_own && !out.local.valid && !out.global.valid)
    EncodeBest(e, before.data(), after.data(), indices, own, scratch, lzw, out, bound);
  // Every pixel has a place: the changed colours are in the table and the rest may be transparent.
  if (!out.local.valid && !out.global.valid) throw NotRewritable{};
  return out;
}

// Whether the entry's picture, written opaque against a table of the
// colours in its box, is the frame's own image with its indices renamed:
// the box is the frame's, no pixel is transparent, no two indices the
// frame uses show one colour, and both tables have as many bits. LZW codes
// depend only on which pixels are equal, so both images take the same
// bytes, and the own one, encoded already, wins the tie.
bool OwnImageRenamed(const TGIFImage& image, const TGIFSubImage& f, const Entry& e) {
  const TGIFColorMap& map = f.ColorMap();
  if (image.Encoding != ecLZW || f.Interlaced() || map.Count() == 0 || e.area.empty() ||
      map.BitsPerPixel() != TableBits(int(e.area.size())) || e.box.left != f.Left() || e.box.top != f.Top() ||
      e.box.Width() != f.Width() || e.box.Height() != f.Height() ||
      f.Data().size() != std::size_t(f.Width()) * f.Height())
    return false;
  std::array<bool, 256> used{};
  for (std::uint8_t index : f.Data()) used[index] = true;
  const TGIFGraphicControlExtension* gce = f.GraphicControlExtension();
  if (gce != nullptr && gce->Transparent() && used[std::size_t(gce->TransparentColorIndex() & 0xFF)]) return false;
  std::size_t count = 0;
  for (int i = 0; i < 256; ++i)
    if (used[std::size_t(i)]) {
      if (i >= map.Count()) return false;
      ++count;
    }
  return count == e.area.size();
}

// Boxes from this many pixels read their source frame's indices.
constexpr long long kSourceFrom = 1024;

// The indices of the frame that painted the box's picture, when it covers the box.
SourcePixels SourceOf(const TGIFSubImage& f, const Box& b) {
  SourcePixels out;
  if ((long long)b.Width() * b.Height() < kSourceFrom || b.left < f.Left() || b.top < f.Top() ||
      b.right > f.Left() + f.Width() || b.bottom > f.Top() + f.Height())
    return out;
  const TGIFColorMap& map = f.ActiveColorMap();
  out.colours = std::min(map.Count(), 256);
  for (int i = 0; i < out.colours; ++i) out.palette[std::size_t(i)] = map[i].ToRgb();
  const TGIFGraphicControlExtension* gce = f.GraphicControlExtension();
  out.transparent = gce != nullptr && gce->Transparent() ? gce->TransparentColorIndex() : -1;
  const std::uint8_t* first = f.Data().data() + std::size_t(b.top - f.Top()) * f.Width() + (b.left - f.Left());
  if (b.Width() == f.Width()) {
    out.indices = first;
    return out;
  }
  out.copy.reserve(std::size_t(b.Width()) * b.Height());
  for (int y = 0; y < b.Height(); ++y) {
    const std::uint8_t* row = first + std::size_t(y) * f.Width();
    out.copy.insert(out.copy.end(), row, row + b.Width());
  }
  out.indices = out.copy.data();
  return out;
}

// Pictures done with, kept for reuse up to a budget: a fresh one would
// cost its pages again.
class Spares {
 public:
  explicit Spares(std::size_t budget_bytes) : budget_(budget_bytes) {}
  std::vector<std::uint32_t> Take() {
    if (spare_.empty()) return {};
    std::vector<std::uint32_t> v = std::move(spare_.back());
    spare_.pop_back();
    held_ -= Bytes(v);
    v.clear();
    return v;
  }
  void Give(std::vector<std::uint32_t>&& v) {
    if (v.capacity() == 0 || held_ + Bytes(v) > budget_) return;
    held_ += Bytes(v);
    spare_.push_back(std::move(v));
  }

 private:
  static std::size_t Bytes(const std::vector<std::uint32_t>& v) { return v.capacity() * sizeof(std::uint32_t); }
  std::vector<std::vector<std::uint32_t>> spare_;
  std::size_t budget_, held_ = 0;
};

std::vector<std::uint32_t> Cut(const std::vector<std::uint32_t>& canvas, int width, const Box& b,
                               std::vector<std::uint32_t> out = {}) {
  out.clear();
  out.reserve(std::size_t(b.Width()) * b.Height());
  for (int y = b.top; y < b.bottom; ++y) {
    const std::uint32_t* row = canvas.data() + std::size_t(y) * width + b.left;
    out.insert(out.end(), row, row + b.Width());
  }
  return out;
}

// The bytes a frame's own table costs.
std::size_t LocalTableBytes(const Entry& e) { return (std::size_t(1) << TableBits(int(e.changed.size()) + 1)) * 3; }

// A global table that as many frames' colours as possible fit in. Frames
// reduced apart still share palettes in runs (a still background, a scene),
// so the table grows from one frame by the frames that fit beside it, and the
// start that spares the most local tables wins.
std::vector<std::uint32_t> GlobalColours(const std::vector<Entry>& entries) {
  std::vector<std::uint32_t> all;
  for (const Entry& e : entries) all.insert(all.end(), e.changed.begin(), e.changed.end());
  all = Sorted(std::move(all));
  if (all.size() <= 256) return all;
  constexpr std::size_t kSeeds = 32;
  const std::size_t step = std::max<std::size_t>(1, entries.size() / kSeeds);
  std::vector<std::uint32_t> best, merged;
  std::size_t best_saving = 0;
  for (std::size_t seed = 0; seed < entries.size(); seed += step) {
    std::vector<std::uint32_t> colours = entries[seed].changed;
    std::size_t saving = LocalTableBytes(entries[seed]);
    for (std::size_t i = 0; i < entries.size(); ++i) {
      if (i == seed) continue;
      const auto& c = entries[i].changed;
      merged.clear();
      std::set_union(colours.begin(), colours.end(), c.begin(), c.end(), std::back_inserter(merged));
      if (merged.size() > 256) continue;
      colours.swap(merged);
      saving += LocalTableBytes(entries[i]);
    }
    if (saving > best_saving) {
      best_saving = saving;
      best = std::move(colours);
    }
  }
  return best;
}

// Where a picture shows a pixel that the next one leaves to the background.
Box ClearedArea(const std::vector<std::uint32_t>& now, const std::vector<std::uint32_t>& next, int width,
                int height) {
  Box box{width, height, 0, 0};
  for (int y = 0; y < height; ++y) {
    const std::uint32_t* a = now.data() + std::size_t(y) * width;
    const std::uint32_t* b = next.data() + std::size_t(y) * width;
    if (std::memcmp(a, b, std::size_t(width) * sizeof(std::uint32_t)) == 0) continue;
    for (int x = 0; x < width; ++x) {
      if (b[x] != kNone || a[x] == kNone) continue;
      box.left = std::min(box.left, x);
      box.right = std::max(box.right, x + 1);
      box.top = std::min(box.top, y);
      box.bottom = y + 1;
    }
  }
  return box.Empty() ? Box{} : box;
}

void Clear(std::vector<std::uint32_t>& canvas, int width, const Box& b) {
  for (int y = b.top; y < b.bottom; ++y) std::fill_n(canvas.data() + std::size_t(y) * width + b.left, b.Width(), kNone);
}

const TGIFAppExtNSLoop* LoopExtension(const TGIFImage& image) {
  for (const auto& frame : image.Images())
    for (const auto& ext : frame->Extensions())
      if (const auto* loop = dynamic_cast<const TGIFAppExtNSLoop*>(ext.get())) return loop;
  return nullptr;
}

// A frame of the image's own file: its extensions, then its image, kept
// apart so that an image encoded ahead is moved in, not copied.
struct PlainFrame {
  TStream head;
  TStream image;
  std::size_t Size() const { return head.size() + image.size(); }
};

// The frame's own image can stand unchanged in the rewrite, in place of the
// picture it shows: it has its own table, and the frame before it leaves the
// screen as it showed it (the rewrite disposes of nothing).
Encoding Verbatim(const TGIFImage& image, std::size_t frame, const std::vector<PlainFrame>* plain) {
  Encoding out;
  if (plain == nullptr) return out;
  const TGIFSubImage& f = image.Images()[int(frame)];
  if (f.ColorMap().Count() == 0) return out;
  if (frame > 0) {
    const TGIFGraphicControlExtension* before = image.Images()[int(frame) - 1].GraphicControlExtension();
    if (before != nullptr && before->Disposal() > 1) return out;
  }
  const PlainFrame& p = (*plain)[frame];
  out.own = std::span<const std::uint8_t>(p.image);
  const TGIFGraphicControlExtension* gce = f.GraphicControlExtension();
  out.transparent = gce != nullptr && gce->Transparent() ? gce->TransparentColorIndex() : -1;
  out.valid = true;
  return out;
}

// Frames first to last - 1 of an image.
struct FrameRange {
  int first = 0, last = 0;
};

std::size_t PlainFileSize(const TGIFImage& image, const std::vector<PlainFrame>& frames, FrameRange range);

// The pixels the build freed (TGIFSubImage::ReleaseData) of frames first to
// last - 1, decoded again from their own bytes.
void Restore(const TGIFImage& image, const std::vector<PlainFrame>& plain, int first, int last, int threads) {
  if (first >= last) return;
  ParallelFor(std::size_t(last - first), threads, [&](std::size_t k) {
    const std::size_t i = std::size_t(first) + k;
    const TGIFSubImage& f = image.Images()[int(i)];
    if (f.Released()) f.RestoreData(plain[i].image);
  });
}

bool AnyReleased(const TGIFImage& image) {
  for (const auto& f : image.Images())
    if (f->Released()) return true;
  return false;
}

// The rewritten file; nothing when the image holds what the rewrite does not
// keep, or when the own frames are given and their file is no larger.
// The frames from where `start` stands to last - 1 are rewritten, over the
// picture `start` shows (a file that plays only from the image's first frame).
std::optional<TStream> Rewrite(const TGIFImage& image, const OptimizeOptions& options,
                               const std::function<const std::vector<PlainFrame>*()>& own_frames,
                               const std::function<bool()>& stop, const Replay& start, int last) {
  const int width = image.Width(), height = image.Height();
  const FrameRange range{start.Position(), last};
  const bool wide = WideLoops(options);
  if (image.Empty() || width <= 0 || height <= 0) return std::nullopt;
  try {
    // First pass: which frames show a new picture, where it changed and with
    // which colours. A picture is described when the next one is known: where
    // that one goes back to the background, this one is cleared after its time.
    std::vector<Entry> entries;
    std::vector<bool> starts;  // per frame: it begins an entry
    {
      Replay replay = start;
      replay.SetLast(last);
      const std::vector<std::uint32_t>& blank = start.Canvas();
      std::vector<std::uint32_t> shown = blank;  // the entry waiting for the next picture
      int pending_delay = -1;
      // Pictures whose entries nothing clears are described in batches across
      // the threads: each one is the next one's picture before.
      std::vector<std::vector<std::uint32_t>> run{blank};
      std::vector<int> run_delays;
      Spares spares(kBatchBytes / 2);
      const int threads = WorkerThreads(options.threads);
      auto describe_run = [&] {
        const std::size_t first = entries.size();
        entries.resize(first + run_delays.size());
        ParallelFor(run_delays.size(), threads, [&](std::size_t i) {
          entries[first + i] = Describe(run[i], run[i + 1], width, height, wide);
          entries[first + i].delay = run_delays[i];
        });
        for (auto it = run.begin(); it != run.end() - 1; ++it) spares.Give(std::move(*it));
        run.erase(run.begin(), run.end() - 1);
        run_delays.clear();
      };
      auto describe = [&](const std::vector<std::uint32_t>* next) {
        // Nothing goes back to the background once the screen is covered.
        const Box cleared =
            next != nullptr && replay.ShowsBackground() ? ClearedArea(shown, *next, width, height) : Box{};
        if (cleared.Empty()) {
          // The caller takes the next picture into `shown` after this.
          run.push_back(std::move(shown));
          run_delays.push_back(pending_delay);
          if (run.size() * run.back().size() * sizeof(std::uint32_t) >= kBatchBytes) describe_run();
          return;
        }
        describe_run();
        const std::vector<std::uint32_t>& before = run.back();
        entries.push_back(Describe(before, shown, width, height, wide, cleared));
        entries.back().delay = pending_delay;
        std::vector<std::uint32_t> after = shown;
        if (entries.back().dispose) Clear(after, width, entries.back().box);
        run.assign(1, std::move(after));
      };
      while (replay.Next()) {
        if (stop && stop()) throw OptimizeStopped();
        const auto& canvas = replay.Canvas();
        if (pending_delay >= 0 && pending_delay + replay.Delay() <= kMaxDelay && canvas == shown) {
          pending_delay += replay.Delay();
          starts.push_back(false);
          continue;
        }
        if (pending_delay >= 0) describe(&canvas);
        pending_delay = replay.Delay();
        starts.push_back(true);
        if (shown.capacity() == 0) shown = spares.Take();
        shown = canvas;
      }
      if (pending_delay >= 0) describe(nullptr);
      describe_run();
    }

    // The global table pays when the own tables it spares cost more than it.
    const Table global = Table::Make(GlobalColours(entries), false);
    std::size_t spared = 0;
    for (const Entry& e : entries)
      if (Fits(e, global)) spared += LocalTableBytes(e);
    const bool use_global = spared > global.SavedSize();

    // Second pass: every entry encoded, in batches of cut-out pictures across
    // the threads; the next batch is cut out while one is encoded.
    std::vector<EncodedEntry> encoded(entries.size());
    const std::vector<PlainFrame>* plain = own_frames ? own_frames() : nullptr;
    {
      Replay replay = start;
      replay.SetLast(last);
      std::vector<std::uint32_t> shown = start.Canvas();
      using Cutouts = std::vector<std::pair<std::vector<std::uint32_t>, std::vector<std::uint32_t>>>;
      Spares spares(kBatchBytes / 2);
      Cutouts batch, running;
      std::vector<std::size_t> batch_frames, running_frames;  // the frame each entry starts with
      std::size_t batch_start = 0, running_start = 0, batch_bytes = 0, entry = 0;
      const int threads = WorkerThreads(options.threads);
      // Declared after the batches it works on, so that it ends before they go.
      BackgroundJob encoder;
      auto run_batch = [&] {
        encoder.Wait();
        running.swap(batch);
        running_frames.swap(batch_frames);
        running_start = batch_start;
        batch_start += running.size();
        for (auto& [before, after] : batch) {
          spares.Give(std::move(before));
          spares.Give(std::move(after));
        }
        batch.clear();
        batch_frames.clear();
        batch_bytes = 0;
        encoder.Start([&] {
          ParallelFor(running.size(), threads, [&](std::size_t i) {
            const Entry& e = entries[running_start + i];
            const std::size_t frame = running_frames[i];
            const TGIFSubImage& f = image.Images()[int(frame)];
            Encoding verbatim = Verbatim(image, frame, plain);
            const bool renamed = verbatim.valid && OwnImageRenamed(image, f, e);
            encoded[running_start + i] = EncodeEntry(e, running[i].first, running[i].second, SourceOf(f, e.box),
                                                     use_global ? &global : nullptr, std::move(verbatim), renamed,
                                                     wide);
          });
        });
      };
      for (std::size_t k = 0; replay.Next(); ++k) {
        if (stop && stop()) throw OptimizeStopped();
        if (!starts[k]) continue;
        const std::size_t frame = std::size_t(range.first) + k;
        const Entry& e = entries[entry++];
        const Box& box = e.box;
        // A box of the whole screen takes the picture before as it is; a
        // spare picture holds the cut-out of a large one.
        const bool whole = box.Width() == width && box.Height() == height;
        const bool large = std::size_t(box.Width()) * box.Height() * 2 >= shown.size();
        auto cut = [&](const std::vector<std::uint32_t>& canvas) {
          return Cut(canvas, width, box, large ? spares.Take() : std::vector<std::uint32_t>{});
        };
        batch.emplace_back(whole ? std::move(shown) : cut(shown), cut(replay.Canvas()));
        batch_frames.push_back(frame);
        batch_bytes += std::size_t(box.Width()) * box.Height() * 8;
        if (shown.capacity() == 0) shown = spares.Take();
        shown = replay.Canvas();
        if (e.dispose) Clear(shown, width, box);
        // Two batches are held at once: each gets half the budget.
        if (batch_bytes >= kBatchBytes / 2 || batch.size() >= 64) run_batch();
      }
      run_batch();
      encoder.Wait();
    }

    TStream out;
    const char* signature = "GIF89a";
    out.insert(out.end(), signature, signature + 6);
    Put16(out, unsigned(width));
    Put16(out, unsigned(height));
    out.push_back(use_global ? std::uint8_t(0x80 | ((global.bits - 1) << 4) | (global.bits - 1)) : 0);
    out.push_back(0);  // background index
    out.push_back(0);  // aspect ratio
    if (use_global) global.Save(out);
    if (const TGIFAppExtNSLoop* loop = LoopExtension(image)) {
      const char* app = "NETSCAPE2.0";
      out.insert(out.end(), {0x21, 0xFF, 0x0B});
      out.insert(out.end(), app, app + 11);
      out.insert(out.end(), {0x03, 0x01});
      Put16(out, unsigned(loop->Loops()));
      out.push_back(0);
    }
    auto chosen_of = [&](const EncodedEntry& e) -> const Encoding& {
      return e.global.valid && (!e.local.valid || e.global.Bytes().size() <= e.local.Bytes().size()) ? e.global
                                                                                                       : e.local;
    };
    // Each frame: its graphic control (8 bytes) and image; the trailer.
    std::size_t size = out.size() + 1;
    for (const EncodedEntry& e : encoded) size += 8 + chosen_of(e).Bytes().size();
    // Not written when the own file is no larger.
    if (plain != nullptr && PlainFileSize(image, *plain, range) <= size) return std::nullopt;
    out.reserve(size);
    for (std::size_t i = 0; i < entries.size(); ++i) {
      const Encoding& chosen = chosen_of(encoded[i]);
      // Graphic control: disposal 1 (leave in place) or 2 (restore to the
      // background), the delay, the transparent index.
      out.insert(out.end(), {0x21, 0xF9, 0x04});
      const int disposal = entries[i].dispose ? 2 : 1;
      out.push_back(std::uint8_t((disposal << 2) | (chosen.transparent >= 0 ? 1 : 0)));
      Put16(out, unsigned(entries[i].delay));
      out.push_back(std::uint8_t(chosen.transparent >= 0 ? chosen.transparent : 0));
      out.push_back(0);
      out.insert(out.end(), chosen.Bytes().begin(), chosen.Bytes().end());
    }
    out.push_back(0x3B);
    assert(out.size() == size);
    return out;
  } catch (const NotRewritable&) {
    return std::nullopt;
  }
}

// The frames of the image's own file, written in batches across the
// threads, those of `ahead` moved in; nothing when a frame cannot be
// written (the caller then writes the image itself, for its errors).
std::optional<std::vector<PlainFrame>> PlainFrames(const TGIFImage& image, int threads,
                                                   const std::function<bool()>& stop, FrameImages* ahead) {
  if (image.Version() == gvUnknown) return std::nullopt;
  const std::size_t n = std::size_t(image.Images().Count());
  std::vector<PlainFrame> frames(n);
  std::atomic<bool> failed{false};
  ParallelFor(n, WorkerThreads(threads), [&](std::size_t k) {
    const TGIFSubImage& f = image.Images()[int(k)];
    // Stopped: the rewrite that waits for these frames says so.
    if (failed || (stop && stop())) {
      failed = true;
      return;
    }
    try {
      f.Extensions().SaveToStream(frames[k].head);
      if (ahead != nullptr && k < ahead->size() && (*ahead)[k])
        frames[k].image = std::move(*(*ahead)[k]);
      else
        f.SaveImageToStream(frames[k].image);
    } catch (const GIFException&) {
      failed = true;
    }
  });
  if (failed) {
    // The image writes itself then, for its errors: its frames need their pixels.
    for (std::size_t k = 0; k < n; ++k)
      if (image.Images()[int(k)].Released() && !frames[k].image.empty())
        image.Images()[int(k)].RestoreData(frames[k].image);
    return std::nullopt;
  }
  return frames;
}

// The own file's signature and header, before its frames.
TStream PlainHead(const TGIFImage& image) {
  const char* magic = image.Version() == gv89a ? "GIF89a" : "GIF87a";
  TStream head(magic, magic + 6);
  image.Header().SaveToStream(head);
  return head;
}

constexpr std::uint8_t kTrailer = 0x3B;

// The image's own file from its frames: what SaveToStream writes, in pieces.
std::vector<TStream> PlainFile(const TGIFImage& image, std::vector<PlainFrame>&& frames) {
  std::vector<TStream> pieces;
  pieces.reserve(2 * frames.size() + 2);
  pieces.push_back(PlainHead(image));
  for (PlainFrame& f : frames) {
    pieces.push_back(std::move(f.head));
    pieces.push_back(std::move(f.image));
  }
  pieces.push_back(TStream{kTrailer});
  return pieces;
}

// The same file handed to a sink, the frames left where they are.
void HandOwnFile(const TGIFImage& image, const std::vector<PlainFrame>& frames, const OwnFileSink& sink) {
  const TStream head = PlainHead(image);
  std::vector<std::span<const std::uint8_t>> pieces;
  pieces.reserve(2 * frames.size() + 2);
  pieces.emplace_back(head);
  for (const PlainFrame& f : frames) {
    pieces.emplace_back(f.head);
    pieces.emplace_back(f.image);
  }
  pieces.emplace_back(&kTrailer, 1);
  sink(pieces);
}

std::size_t PlainFileSize(const TGIFImage& image, const std::vector<PlainFrame>& frames, FrameRange range) {
  TStream head;
  image.Header().SaveToStream(head);
  std::size_t size = 6 + head.size() + 1;
  for (int i = range.first; i < range.last; ++i) size += frames[std::size_t(i)].Size();
  return size;
}

// Whether rewriting the whole image may save kTrialGainPercent or more:
// the rewrite of sample windows of frames, each over the picture before it,
// saves that much of their own frames' bytes, or the image is too short to
// sample.
bool RewriteMayPay(const TGIFImage& image, const OptimizeOptions& options,
                   const std::function<const std::vector<PlainFrame>*()>& own_frames,
                   const std::function<bool()>& stop) {
  const int n = image.Images().Count();
  if (!options.trial || n < kTrialFrom || image.Width() <= 0 || image.Height() <= 0) return true;
  Replay replay(image, image.Width(), image.Height(), WideLoops(options), 0);
  std::size_t own = 0, rewritten = 0;
  try {
    for (int w = 0; w < kTrialWindows; ++w) {
      const int first = int((long long)n * w / kTrialWindows), last = std::min(n, first + kTrialLength);
      // The picture before the window, played once for all of them, from
      // the last frame that covers the screen.
      replay.SetLast(first);
      replay.SkipBefore(first);
      if (AnyReleased(image)) {
        const std::vector<PlainFrame>* plain = own_frames();
        if (plain == nullptr) return true;
        Restore(image, *plain, replay.Position(), last, WorkerThreads(options.threads));
      }
      while (replay.Next())
        if (stop && stop()) throw OptimizeStopped();
      const std::optional<TStream> window = Rewrite(image, options, own_frames, stop, replay, last);
      const std::vector<PlainFrame>* plain = own_frames();
      if (plain == nullptr) return true;
      const std::size_t window_own = PlainFileSize(image, *plain, FrameRange{first, last});
      own += window_own;
      // Nothing: no smaller than the own frames, or not rewritable (nor is the whole image then).
      rewritten += window ? window->size() : window_own;
    }
  } catch (const NotRewritable&) {
    return true;  // the full rewrite finds it out and keeps the own file
  }
  
  return (own - rewritten) * 100 >= own * kTrialGainPercent;
}

}  // namespace

std::vector<std::uint32_t> TrialCanvas(const TGIFImage& image, int last) {
  try {
    Replay replay(image, image.Width(), image.Height(), WideLoops(OptimizeOptions{}), 0);
    replay.SetLast(last);
    replay.SkipBefore(last);
    while (replay.Next()) {
    }
    return replay.Canvas();
  } catch (const NotRewritable&) {
    return {};
  }
}

std::optional<TStream> RewriteAnimation(const TGIFImage& image, const OptimizeOptions& options) {
  return Rewrite(image, options, {}, {}, Replay(image, image.Width(), image.Height(), WideLoops(options), 0),
                 image.Images().Count());
}

std::size_t OptimizedFile::Size() const {
  std::size_t n = 0;
  for (const TStream& p : pieces) n += p.size();
  return n;
}

TStream OptimizedFile::Bytes() const {
  TStream out;
  out.reserve(Size());
  for (const TStream& p : pieces) out.insert(out.end(), p.begin(), p.end());
  return out;
}

OptimizedFile OptimizeAnimation(const TGIFImage& image, const OptimizeOptions& options,
                                const std::function<bool()>& stop, FrameImages* ahead, const OwnFileSink& own_file) {
  OptimizedFile result;
  // The own frames are written while the rewrite's first pass runs: its
  // second pass keeps any of them that nothing beats. Then, on the same
  // thread, the sink takes them; the rewrite reads them meanwhile, and
  // nothing changes them until both are done.
  std::optional<std::vector<PlainFrame>> plain;
  std::mutex mutex;
  std::condition_variable known;
  bool plain_known = false;
  std::exception_ptr plain_error;
  BackgroundJob own;
  own.Start([&] {
    try {
      plain = PlainFrames(image, options.threads, stop, ahead);
    } catch (...) {
      plain_error = std::current_exception();
    }
    {
      std::lock_guard lock(mutex);
      plain_known = true;
    }
    known.notify_all();
    if (plain && own_file) HandOwnFile(image, *plain, own_file);
  });
  const auto own_frames = [&]() -> const std::vector<PlainFrame>* {
    std::unique_lock lock(mutex);
    known.wait(lock, [&] { return plain_known; });
    if (plain_error) std::rethrow_exception(plain_error);
    return plain ? &*plain : nullptr;
  };
  std::optional<TStream> rewritten;
  if (RewriteMayPay(image, options, own_frames, stop)) {
    if (AnyReleased(image))
      if (const std::vector<PlainFrame>* frames = own_frames())
        Restore(image, *frames, 0, image.Images().Count(), WorkerThreads(options.threads));
    rewritten = Rewrite(image, options, own_frames, stop,
                        Replay(image, image.Width(), image.Height(), WideLoops(options), 0), image.Images().Count());
  }
  own_frames();
  own.Wait();
  if (stop && stop()) throw OptimizeStopped();
  if (plain) {
    // The rewrite is only there when it is smaller: the own file wins a tie.
    if (!rewritten) {
      result.pieces = PlainFile(image, std::move(*plain));
      return result;
    }
  } else {
    image.SaveToStream(result.pieces.emplace_back());
    if (!rewritten || result.pieces[0].size() <= rewritten->size()) return result;
    result.pieces.clear();
  }
  result.pieces.push_back(std::move(*rewritten));
  result.rewritten = true;
  return result;
}

}  // namespace quarvel::gif
