#include "gif/quant_palette.h"

#include <libimagequant.h>

#include <mutex>
#include <string>

#include "gif/alpha_reduction.h"
#include "gif/gif_exception.h"

namespace quarvel::gif {

namespace {

struct AttrDeleter {
  void operator()(liq_attr* a) const { liq_attr_destroy(a); }
};
struct HistogramDeleter {
  void operator()(liq_histogram* h) const { liq_histogram_destroy(h); }
};
struct ImageDeleter {
  void operator()(liq_image* i) const { liq_image_destroy(i); }
};
struct ResultDeleter {
  void operator()(liq_result* r) const { liq_result_destroy(r); }
};
using Attr = std::unique_ptr<liq_attr, AttrDeleter>;
using Histogram = std::unique_ptr<liq_histogram, HistogramDeleter>;
using Image = std::unique_ptr<liq_image, ImageDeleter>;
using Result = std::unique_ptr<liq_result, ResultDeleter>;

// A frame whose error with the shared palette passes this many times the
// movie's mean error, plus a floor for nearly exact palettes, gets a try with
// a palette of its own; the own one is kept only when clearly better.
constexpr double kRetryFactor = 2.0;
constexpr double kRetryFloor = 4.0;
constexpr double kKeepOwnFactor = 0.8;

void Check(liq_error e, const char* what) {
  if (e != LIQ_OK) throw GIFException(std::string("libimagequant: ") + what + " failed (error " + std::to_string(int(e)) + ")");
}

// Speed 1 to 10: the movie's palette is searched at the library's default;
// a palette that is only taken over needs no search, but dithering keeps
// its error map only up to speed 5.
constexpr int kSearchSpeed = 4;
constexpr int kTakeOverSpeed = 10;
constexpr int kTakeOverSpeedDithered = 5;

// A movie whose shared palette misses its colours by this mean squared
// error or more (photographs, soft gradients in motion) loses nothing
// visible with the lowest bit of each channel dropped, and its code
// streams shrink by a few per cent; movies drawn in fewer colours are kept
// exact.
constexpr double kPosterizeFromError = 0.5;

Attr MakeAttr(int speed = kSearchSpeed, int posterize_bits = 0) {
  Attr attr(liq_attr_create());
  if (!attr) throw GIFException("libimagequant: out of memory");
  Check(liq_set_max_colors(attr.get(), 256), "setting 256 colours");
  Check(liq_set_speed(attr.get(), speed), "setting the speed");
  Check(liq_set_min_posterization(attr.get(), posterize_bits), "setting the posterization");
  return attr;
}

// libimagequant reads RGBA bytes; pictures are BGRA bottom-up, or other depths.
// With `alpha` a pixel is either opaque or wholly transparent, as the file
// will show it.
std::vector<std::uint8_t> Rgba(const gdi::Bitmap& picture, bool alpha) {
  const int w = picture.Width(), h = picture.Height();
  std::vector<std::uint8_t> out(std::size_t(w) * h * 4);
  const bool bgra = picture.BitsPerPixel() == 32;
  for (int y = 0; y < h; ++y) {
    std::uint8_t* dst = out.data() + std::size_t(y) * w * 4;
    const std::uint8_t* src = picture.ScanLine(y);
    for (int x = 0; x < w; ++x, dst += 4) {
      if (bgra) {
        dst[0] = src[4 * x + 2];
        dst[1] = src[4 * x + 1];
        dst[2] = src[4 * x];
      } else {
        const gdi::Color c = picture.GetPixel(x, y);
        dst[0] = c.r;
        dst[1] = c.g;
        dst[2] = c.b;
      }
      dst[3] = 255;
      if (alpha && bgra && src[4 * x + 3] < kOpaqueFromAlpha) std::fill_n(dst, 4, std::uint8_t(0));
    }
  }
  return out;
}

// The palette's entry for transparent pixels, or -1.
int TransparentEntry(liq_result* result) {
  const liq_palette* p = liq_get_palette(result);
  for (unsigned i = 0; i < p->count; ++i)
    if (p->entries[i].a < kOpaqueFromAlpha) return int(i);
  return -1;
}

Image MakeImage(liq_attr* attr, const std::vector<std::uint8_t>& rgba, int w, int h) {
  Image image(liq_image_create_rgba(attr, rgba.data(), w, h, 0));
  if (!image) throw GIFException("libimagequant: cannot take a " + std::to_string(w) + " x " + std::to_string(h) + " picture");
  return image;
}

std::vector<gdi::Color> Colours(liq_result* result) {
  const liq_palette* p = liq_get_palette(result);
  std::vector<gdi::Color> out;
  for (unsigned i = 0; i < p->count; ++i) out.push_back(gdi::Color{p->entries[i].r, p->entries[i].g, p->entries[i].b});
  return out;
}

// Mean squared error per channel of indices shown through palette.
double RgbError(const std::vector<std::uint8_t>& rgba, const std::vector<std::uint8_t>& indices,
                const std::vector<gdi::Color>& palette) {
  double sum = 0;
  std::size_t counted = 0;
  for (std::size_t k = 0; k < indices.size(); ++k) {
    const std::uint8_t* p = rgba.data() + 4 * k;
    if (p[3] == 0) continue;  // shown as transparent, whatever its colour
    const gdi::Color& c = palette[indices[k] < palette.size() ? indices[k] : 0];
    const int dr = p[0] - c.r, dg = p[1] - c.g, db = p[2] - c.b;
    sum += double(dr * dr + dg * dg + db * db);
    ++counted;
  }
  return counted == 0 ? 0 : sum / (3.0 * double(counted));
}

// Nearest entry of a palette by squared RGB distance (the lowest index on
// a tie), with the answers kept per colour: a movie's frames ask for the
// same colours again and again.
class NearestCache {
 public:
  // `skip`: an entry never given (the transparent one).
  NearestCache(const std::vector<gdi::Color>& palette, int skip) : palette_(palette), skip_(skip) { Reset(1 << 12); }

  int Find(std::uint32_t rgb) {
    std::size_t h = (rgb * 0x9E3779B1u) >> shift_;
    for (;; h = (h + 1) & mask_) {
      if (keys_[h] == rgb) return values_[h];
      if (keys_[h] == kEmpty) break;
    }
    const int index = Search(rgb);
    if (++used_ * 2 > keys_.size()) {
      // Past a few million colours start afresh rather than grow on.
      Reset(keys_.size() >= (std::size_t(1) << 23) ? keys_.size() : keys_.size() * 2);
      ++used_;
      h = (rgb * 0x9E3779B1u) >> shift_;
      while (keys_[h] != kEmpty) h = (h + 1) & mask_;
    }
    keys_[h] = rgb;
    values_[h] = std::uint8_t(index);
    return index;
  }

 private:
  static constexpr std::uint32_t kEmpty = 0xFFFFFFFFu;

  void Reset(std::size_t size) {
    const std::vector<std::uint32_t> old_keys = used_ > 0 && size > keys_.size() ? keys_ : std::vector<std::uint32_t>();
    const std::vector<std::uint8_t> old_values = old_keys.empty() ? std::vector<std::uint8_t>() : values_;
    keys_.assign(size, kEmpty);
    values_.assign(size, 0);
    mask_ = size - 1;
    shift_ = 32;
    for (std::size_t s = size; s > 1; s >>= 1) --shift_;
    used_ = 0;
    for (std::size_t i = 0; i < old_keys.size(); ++i) {
      if (old_keys[i] == kEmpty) continue;
      std::size_t h = (old_keys[i] * 0x9E3779B1u) >> shift_;
      while (keys_[h] != kEmpty) h = (h + 1) & mask_;
      keys_[h] = old_keys[i];
      values_[h] = old_values[i];
      ++used_;
    }
  }

  int Search(std::uint32_t rgb) const {
    const int r = int(rgb >> 16), g = int((rgb >> 8) & 0xFF), b = int(rgb & 0xFF);
    int best = 0, best_distance = 1 << 30;
    for (std::size_t i = 0; i < palette_.size(); ++i) {
      if (int(i) == skip_) continue;
      const int dr = r - palette_[i].r, dg = g - palette_[i].g, db = b - palette_[i].b;
      const int d = dr * dr + dg * dg + db * db;
      if (d < best_distance) {
        best_distance = d;
        best = int(i);
      }
    }
    return best;
  }

  const std::vector<gdi::Color>& palette_;
  int skip_;
  std::vector<std::uint32_t> keys_;
  std::vector<std::uint8_t> values_;
  std::size_t mask_ = 0, used_ = 0;
  int shift_ = 32;
};

}  // namespace

// The shared palette as a result of its own, every entry fixed, with the
// settings it was made with.
struct TakeOver {
  Attr attr;
  Result result;
};

struct QuantPalette::Impl {
  Attr attr = MakeAttr();
  Histogram histogram{liq_histogram_create(attr.get())};
  bool any = false;
  // Taken-over palettes are made once per thread that needs one and reused:
  // a result serves one remapping at a time.
  std::mutex mutex;
  std::vector<TakeOver> idle;

  TakeOver TakeShared(const QuantPalette& q) {
    {
      std::lock_guard<std::mutex> lock(mutex);
      if (!idle.empty()) {
        TakeOver t = std::move(idle.back());
        idle.pop_back();
        return t;
      }
    }
    TakeOver t;
    t.attr = MakeAttr(q.dither_ ? kTakeOverSpeedDithered : kTakeOverSpeed, q.posterize_bits_);
    Histogram fixed(liq_histogram_create(t.attr.get()));
    if (!fixed) throw GIFException("libimagequant: out of memory");
    std::vector<liq_histogram_entry> entries;
    for (std::size_t i = 0; i < q.shared_.size(); ++i) {
      const gdi::Color& c = q.shared_[i];
      const liq_color colour = int(i) == q.shared_transparent_ ? liq_color{0, 0, 0, 0} : liq_color{c.r, c.g, c.b, 255};
      Check(liq_histogram_add_fixed_color(fixed.get(), colour, 0), "fixing a colour");
      entries.push_back(liq_histogram_entry{colour, 1});
    }
    // A histogram of fixed colours alone counts as empty.
    Check(liq_histogram_add_colors(fixed.get(), t.attr.get(), entries.data(), int(entries.size()), 0),
          "adding the shared colours");
    liq_result* raw = nullptr;
    Check(liq_histogram_quantize(fixed.get(), t.attr.get(), &raw), "taking the shared palette");
    t.result.reset(raw);
    return t;
  }
  void GiveBack(TakeOver t) {
    std::lock_guard<std::mutex> lock(mutex);
    idle.push_back(std::move(t));
  }
  // Colour caches, one per frame reduced at a time.
  std::vector<std::unique_ptr<NearestCache>> caches;
  std::unique_ptr<NearestCache> TakeNearest(const std::vector<gdi::Color>& palette, int skip) {
    std::lock_guard<std::mutex> lock(mutex);
    if (caches.empty()) return std::make_unique<NearestCache>(palette, skip);
    auto cache = std::move(caches.back());
    caches.pop_back();
    return cache;
  }
  void GiveBack(std::unique_ptr<NearestCache> cache) {
    std::lock_guard<std::mutex> lock(mutex);
    caches.push_back(std::move(cache));
  }
};

QuantPalette::QuantPalette(bool dither, bool alpha) : impl_(std::make_unique<Impl>()), dither_(dither), alpha_(alpha) {
  if (!impl_->histogram) throw GIFException("libimagequant: out of memory");
}

QuantPalette::~QuantPalette() = default;

void QuantPalette::AddToHistogram(const gdi::Bitmap& picture) {
  if (picture.Empty()) return;
  const auto rgba = Rgba(picture, alpha_);
  Image image = MakeImage(impl_->attr.get(), rgba, picture.Width(), picture.Height());
  Check(liq_histogram_add_image(impl_->histogram.get(), impl_->attr.get(), image.get()), "adding a picture");
  impl_->any = true;
}

void QuantPalette::Finish() {
  if (!impl_->any) return;
  liq_result* raw = nullptr;
  Check(liq_histogram_quantize(impl_->histogram.get(), impl_->attr.get(), &raw), "making the palette");
  Result result(raw);
  shared_error_ = liq_get_quantization_error(result.get());
  shared_ = Colours(result.get());
  if (alpha_) shared_transparent_ = TransparentEntry(result.get());
  impl_->histogram.reset();
  if (shared_error_ >= kPosterizeFromError) {
    // As libimagequant posterizes: the low bit cleared, the top bit copied into it.
    posterize_bits_ = 1;
    for (gdi::Color& c : shared_)
      for (std::uint8_t* v : {&c.r, &c.g, &c.b}) *v = std::uint8_t((*v & 0xFE) | (*v >> 7));
  }
}

std::unique_ptr<TGIFImage> QuantPalette::Reduce(const gdi::Bitmap& picture, int* transparent) const {
  auto image = std::make_unique<TGIFImage>();
  if (transparent != nullptr) *transparent = -1;
  if (picture.Empty()) return image;
  const int w = picture.Width(), h = picture.Height();
  const auto rgba = Rgba(picture, alpha_);
  int transparent_entry = -1;
  // Each call has its own settings and results: libimagequant keeps the
  // remapping state in them, and calls run in parallel.
  Attr attr = MakeAttr(kSearchSpeed, posterize_bits_);
  std::vector<std::uint8_t> indices(std::size_t(w) * h);
  std::vector<gdi::Color> palette;
  double error = -1;

  auto remap = [&](liq_result* result, std::vector<std::uint8_t>& out) {
    Check(liq_set_dithering_level(result, dither_ ? 1.0f : 0.0f), "setting the dithering");
    Image input = MakeImage(attr.get(), rgba, w, h);
    Check(liq_write_remapped_image(result, input.get(), out.data(), out.size()), "remapping");
    return liq_get_remapping_error(result);
  };

  if (!shared_.empty() && !dither_) {
    // Without dithering a pixel takes its nearest shared colour, which is
    // also what keeps the error against the captured frame lowest.
    std::unique_ptr<NearestCache> nearest = impl_->TakeNearest(shared_, shared_transparent_);
    std::uint32_t last = 0xFFFFFFFFu;
    int index = 0;
    for (std::size_t k = 0; k < indices.size(); ++k) {
      const std::uint8_t* p = rgba.data() + 4 * k;
      const std::uint32_t rgb = (std::uint32_t(p[0]) << 16) | (std::uint32_t(p[1]) << 8) | p[2];
      if (rgb != last) {
        index = nearest->Find(rgb);
        last = rgb;
      }
      indices[k] = std::uint8_t(index);
    }
    impl_->GiveBack(std::move(nearest));
    error = RgbError(rgba, indices, shared_);
    palette = shared_;
    transparent_entry = shared_transparent_;
  } else if (!shared_.empty()) {
    TakeOver taken = impl_->TakeShared(*this);
    error = remap(taken.result.get(), indices);
    palette = Colours(taken.result.get());
    transparent_entry = alpha_ ? TransparentEntry(taken.result.get()) : -1;
    impl_->GiveBack(std::move(taken));
  }
  if (shared_.empty() || error > shared_error_ * kRetryFactor + kRetryFloor) {
    Image input = MakeImage(attr.get(), rgba, w, h);
    liq_result* raw = nullptr;
    Check(liq_image_quantize(input.get(), attr.get(), &raw), "making the frame's palette");
    Result own(raw);
    std::vector<std::uint8_t> own_indices(indices.size());
    double own_error = remap(own.get(), own_indices);
    std::vector<gdi::Color> own_palette = Colours(own.get());
    // Measured as the shared palette's error was.
    if (!dither_) own_error = RgbError(rgba, own_indices, own_palette);
    if (error < 0 || own_error < error * kKeepOwnFactor) {
      indices.swap(own_indices);
      palette = std::move(own_palette);
      transparent_entry = alpha_ ? TransparentEntry(own.get()) : -1;
    }
  }
  if (alpha_) {
    const int entry = ReserveTransparentEntry(indices, TransparentMask(picture), palette, transparent_entry);
    if (transparent != nullptr) *transparent = entry;
  }
  auto frame = std::make_unique<TGIFSubImage>(image.get());
  frame->ColorMap().ImportPalette(palette);
  frame->SetData(w, h, std::move(indices));
  image->AddFrame(std::move(frame));
  return image;
}

}  // namespace quarvel::gif
