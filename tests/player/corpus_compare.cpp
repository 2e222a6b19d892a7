#include "corpus_compare.h"

#include <cairo.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>

#include "platform/gdi/bitmap.h"
#include "player/flash_player.h"

namespace quarvel::testing {
namespace {

std::vector<std::string> Split(const std::string& s, char sep) {
  std::vector<std::string> out;
  std::string cur;
  std::istringstream in(s);
  while (std::getline(in, cur, sep)) out.push_back(cur);
  if (!s.empty() && s.back() == sep) out.emplace_back();
  return out;
}

struct SurfaceDeleter {
  void operator()(cairo_surface_t* s) const { cairo_surface_destroy(s); }
};

}  // namespace

std::vector<CorpusFrame> ReadCorpusManifest(const std::string& dir) {
  std::ifstream in(dir + "/MANIFEST.tsv");
  std::string line;
  std::getline(in, line);
  std::vector<CorpusFrame> out;
  while (std::getline(in, line)) {
    const auto cols = Split(line, '\t');
    if (cols.size() < 9) continue;
    const auto refs = Split(cols[6], ';');
    const auto frames = Split(cols[7], ';');
    for (std::size_t i = 0; i < refs.size(); ++i) {
      if (refs[i].size() < 4 || refs[i].substr(refs[i].size() - 4) != ".png") continue;
      // The ".org.png" beside a swfdec reference is the original screenshot;
      // both are compared.
      CorpusFrame f;
      f.movie = cols[0];
      f.reference = refs[i];
      f.frame = i < frames.size() && !frames[i].empty() ? std::stoi(frames[i]) : 1;
      f.lowQuality = cols[8] == "low";
      f.exercises = cols[5];
      f.noScript = cols[5].find("no-script") != std::string::npos;
      out.push_back(f);
    }
  }
  return out;
}

namespace {

struct MouseStep {
  enum Kind { kMove, kDown, kUp };
  int frame;  // 1-based, at least 2
  Kind kind;
  int x, y;
};

// Mouse input some references were recorded with: the pointer moves over the
// button before frame 2, presses before 3 and lets go before 4.
std::vector<MouseStep> RecordedMouse(const std::string& movie) {
  if (movie.ends_with("from_shumway/button1/test.swf")) {
    return {{2, MouseStep::kMove, 260, 176}, {3, MouseStep::kDown, 260, 176}, {4, MouseStep::kUp, 260, 176}};
  }
  return {};
}

}  // namespace

Comparison CompareWithReference(const std::string& dir, const CorpusFrame& f, const std::string& outDir) {
  Comparison c;
  std::unique_ptr<cairo_surface_t, SurfaceDeleter> ref(
      cairo_image_surface_create_from_png((dir + "/" + f.reference).c_str()));
  if (cairo_surface_status(ref.get()) != CAIRO_STATUS_SUCCESS) {
    c.error = "reference cannot be read";
    return c;
  }
  const int w = cairo_image_surface_get_width(ref.get());
  const int h = cairo_image_surface_get_height(ref.get());
  player::FlashPlayer p;
  p.SetSize(w, h);
  p.SetQuality(f.lowQuality ? "Low" : "High");
  p.SetMovie(dir + "/" + f.movie);
  if (p.ReadyState() != 4) {
    c.error = p.LoadError();
    return c;
  }
  // Frame k (0-based) shows at k * 1000 / fps from the load.
  const double rate = p.FrameRate() > 0 ? p.FrameRate() : 12.0;
  const auto rate88 = static_cast<std::int64_t>(std::lround(rate * 256));
  // The mouse acts just before the frame it was recorded with is run.
  for (const MouseStep& m : RecordedMouse(f.movie)) {
    if (m.frame > f.frame) break;
    p.AdvanceTo(static_cast<std::int64_t>(m.frame - 2) * 256000 / rate88);
    switch (m.kind) {
      case MouseStep::kMove: p.MouseMove(m.x, m.y); break;
      case MouseStep::kDown: p.MouseDown(m.x, m.y); break;
      case MouseStep::kUp: p.MouseUp(m.x, m.y); break;
    }
  }
  p.AdvanceTo(static_cast<std::int64_t>(f.frame - 1) * 256000 / rate88);
  gdi::Bitmap bmp;
  p.Paint(bmp);
  c.rendered = true;
  c.width = w;
  c.height = h;
  cairo_surface_flush(ref.get());
  const auto* rd = cairo_image_surface_get_data(ref.get());
  const int rs = cairo_image_surface_get_stride(ref.get());
  const bool alpha = cairo_image_surface_get_format(ref.get()) == CAIRO_FORMAT_ARGB32;
  double sum = 0, sq = 0;
  for (int y = 0; y < h; ++y) {
    const auto* rrow = reinterpret_cast<const std::uint32_t*>(rd + static_cast<std::size_t>(y) * rs);
    const std::uint8_t* ours = bmp.ScanLine(y);
    for (int x = 0; x < w; ++x) {
      const std::uint32_t v = rrow[x];
      const unsigned a = alpha ? v >> 24 : 255;
      // Premultiplied reference over white.
      const int rc[3] = {static_cast<int>((v & 255) + (255 - a)), static_cast<int>(((v >> 8) & 255) + (255 - a)),
                         static_cast<int>(((v >> 16) & 255) + (255 - a))};
      for (int k = 0; k < 3; ++k) {
        const double d = std::abs(rc[k] - ours[x * 4 + k]);
        sum += d;
        sq += d * d;
      }
    }
  }
  const double n = 3.0 * w * h;
  c.mad = sum / n;
  const double mse = sq / n;
  c.psnr = mse == 0 ? 99.0 : 10 * std::log10(255.0 * 255.0 / mse);
  if (!outDir.empty()) {
    std::unique_ptr<cairo_surface_t, SurfaceDeleter> out(cairo_image_surface_create(CAIRO_FORMAT_RGB24, w, h));
    auto* od = cairo_image_surface_get_data(out.get());
    for (int y = 0; y < h; ++y) {
      std::memcpy(od + static_cast<std::size_t>(y) * cairo_image_surface_get_stride(out.get()), bmp.ScanLine(y),
                  static_cast<std::size_t>(w) * 4);
    }
    cairo_surface_mark_dirty(out.get());
    std::string name = f.reference;
    for (auto& ch : name) if (ch == '/') ch = '_';
    cairo_surface_write_to_png(out.get(), (outDir + "/" + name).c_str());
  }
  return c;
}

}  // namespace quarvel::testing
