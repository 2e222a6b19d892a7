#include "player/flash_player.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "player/library/movie_library.h"
#include "player/render/renderer.h"
#include "player/display/stage.h"
#include "player/script_machines.h"
#include "player/swf/movie.h"

namespace quarvel::player {

namespace {
// A clock jump executes at most this many frames; beyond that the timeline
// is re-anchored, so a huge jump cannot stall the host.
constexpr std::int64_t kMaxFramesPerAdvance = 100000;
constexpr std::uint64_t kMaxMovieFileBytes = std::uint64_t{256} << 20;
// Scripts may ask for up to 1000 frames a second ("as fast as you can", as
// the Flex preloader does); the player's timer never fires more often than
// every 10 ms, so such a movie plays at 100. Ticking at 1000 on a capture's
// own clock would run ten times the frames a real player shows.
constexpr std::int64_t kMaxScriptRate = 100 * 256;

struct ContextDeleter {
  void operator()(cairo_t* c) const { cairo_destroy(c); }
};

// The Stage3D layers under the display list, each at its place and scaled
// with the stage; `base` maps stage twips to the device.
void PaintPresentedLayers(cairo_t* cr, const std::vector<PresentedLayer>& layers, const cairo_matrix_t& base) {
  for (const PresentedLayer& l : layers) {
    if (!l.pixels || l.width <= 0 || l.height <= 0) continue;
    const std::vector<std::uint32_t>& words = l.pixels->Words();
    if (words.size() < static_cast<std::size_t>(l.width) * static_cast<std::size_t>(l.height)) continue;
    // Cairo only reads the pixels here.
    auto* data = reinterpret_cast<unsigned char*>(const_cast<std::uint32_t*>(words.data()));
    cairo_surface_t* picture = cairo_image_surface_create_for_data(data, CAIRO_FORMAT_ARGB32, l.width, l.height, l.width * 4);
    if (cairo_surface_status(picture) == CAIRO_STATUS_SUCCESS) {
      cairo_save(cr);
      cairo_set_matrix(cr, &base);
      cairo_translate(cr, l.x * 20, l.y * 20);
      cairo_scale(cr, 20, 20);
      cairo_set_source_surface(cr, picture, 0, 0);
      cairo_pattern_set_filter(cairo_get_source(cr), base.xx * 20 == 1 ? CAIRO_FILTER_NEAREST : CAIRO_FILTER_BILINEAR);
      cairo_rectangle(cr, 0, 0, l.width, l.height);
      cairo_fill(cr);
      cairo_restore(cr);
    }
    cairo_surface_destroy(picture);
  }
}
}  // namespace

struct FlashPlayer::Impl {
  std::unique_ptr<MovieLibrary> lib;
  std::unique_ptr<Stage> stage;
  std::string moviePath;
  std::filesystem::path movieFolder;  // while SetMovie loads: where scripts find video files
  std::string movieName;              // while SetMovie loads: the file's own name
  std::string loadError;
  // OfferOpenedMovie: the path and its opened movie, for the next SetMovie.
  std::string offeredPath;
  std::optional<swf::Movie> offered;
  std::int32_t background = -1;
  bool transparent = false;
  Quality quality = Quality::qHigh;
  int width = 192, height = 192;
  std::int64_t now = 0;
  bool playing = false;  // the host's clock drives the movie (Play/Stop)
  // The clock has moved the movie on since it loaded, or the host stopped it:
  // until then a Play only starts the clock, and a stop() of the first
  // frame's own scripts stands, as when the host asks before that frame ran.
  bool ticked = false, hostStopped = false;
  std::int64_t anchorTime = 0;   // clock time of anchorFrames
  std::int64_t framesSinceAnchor = 0;
  SoundEventListener* listener = nullptr;
  bool (*interrupt)() = nullptr;
  ScriptLimits limits;
  mutable SurfacePtr surface;
  // What the surface shows, to skip drawing a frame that did not change.
  struct PaintKey {
    int width = 0, height = 0;
    Quality quality = Quality::qHigh;
    std::int32_t background = 0;
    bool transparent = false;
    bool operator==(const PaintKey&) const = default;
  };
  mutable bool surfaceCurrent = false;
  mutable PaintKey paintedKey;
  mutable std::vector<DrawnItem> painted, drawing;
  mutable std::vector<PresentedLayer> paintedLayers;
  mutable ShapeCache shapes;
  mutable FilterCache filtered;
  bool hasButtons = false;
  // The pointer in stage twips while it is over the player.
  bool pointerInside = false, pointerDown = false;
  double pointerX = 0, pointerY = 0;

  // Movie twips to player pixels (ShowAll: uniform scale, centred).
  // The movie's own choice, once a script makes one, as in Flash; else the host's.
  Quality EffectiveQuality() const {
    const std::string& q = stage ? stage->ScriptQuality() : std::string();
    if (q.empty()) return quality;
    return q == "LOW" ? Quality::qLow : q == "MEDIUM" ? Quality::qMedium : q == "HIGH" ? Quality::qHigh : Quality::qBest;
  }
  cairo_matrix_t StageToDevice() const {
    const auto& frame = lib->movie.header.frameSize;
    const double mw = std::max(1, frame.Width()) / 20.0, mh = std::max(1, frame.Height()) / 20.0;
    const double s = std::min(width / mw, height / mh);
    cairo_matrix_t base;
    cairo_matrix_init_translate(&base, (width - mw * s) / 2, (height - mh * s) / 2);
    cairo_matrix_scale(&base, s / 20, s / 20);
    cairo_matrix_translate(&base, -frame.xmin, -frame.ymin);
    return base;
  }
  void Pointer(int x, int y, bool down) {
    if (!stage || !hasButtons || width == 0 || height == 0) return;
    cairo_matrix_t inv = StageToDevice();
    if (cairo_matrix_invert(&inv) != CAIRO_STATUS_SUCCESS) return;
    // The centre of the pixel under the pointer.
    double sx = x + 0.5, sy = y + 0.5;
    cairo_matrix_transform_point(&inv, &sx, &sy);
    pointerInside = true;
    pointerDown = down;
    pointerX = sx;
    pointerY = sy;
    stage->SetTime(now);
    stage->Pointer(sx, sy, down);
    FollowScript();
  }
  // A button's play() while the host had stopped: the movie runs again, as
  // in a real player.
  void FollowScript() {
    if (!playing && stage->Root().playing) {
      playing = true;
      Anchor();
    }
  }

  std::int64_t FrameTime(std::int64_t k) const {
    // frame rate is 8.8 fixed: k * 1000 / (rate / 256)
    const std::int64_t rate = EffectiveRate();
    return anchorTime + k * 1000 * 256 / rate;
  }
  std::int64_t EffectiveRate() const {
    // A rate the movie's script set replaces the header's from then on.
    if (stage && stage->ScriptFrameRate() > 0) return std::min<std::int64_t>(stage->ScriptFrameRate(), kMaxScriptRate);
    const int r = lib ? lib->movie.header.frameRate : 0;
    return r > 0 ? r : 12 * 256;  // a rate of 0 plays at 12 frames per second
  }
  void Anchor() {
    anchorTime = now;
    framesSinceAnchor = 0;
  }
  bool FailLoad(const std::string& why) {
    stage.reset();
    lib.reset();
    loadError = why;
    return false;
  }
  void LogSkipped() const {
    if (!std::getenv("QUARVEL_DEBUG") || !stage) return;
    std::string line;
    for (const auto& s : lib->Skipped()) line += (line.empty() ? "" : ", ") + s;
    for (const auto& s : stage->Skipped()) line += (line.empty() ? "" : ", ") + s;
    if (!line.empty()) std::clog << "player: " << (moviePath.empty() ? "movie" : moviePath) << ": skipped " << line << "\n";
  }
};

FlashPlayer::FlashPlayer() : impl_(std::make_unique<Impl>()) {}
FlashPlayer::~FlashPlayer() {
  if (impl_) impl_->LogSkipped();
}
FlashPlayer::FlashPlayer(FlashPlayer&&) noexcept = default;
FlashPlayer& FlashPlayer::operator=(FlashPlayer&&) noexcept = default;

int FlashPlayer::ReadyState() const { return impl_->stage ? 4 : 0; }
int FlashPlayer::TotalFrames() const { return impl_->stage ? impl_->stage->TotalFrames() : 0; }
int FlashPlayer::CurrentFrame() const { return impl_->stage ? impl_->stage->Root().current : 0; }
bool FlashPlayer::Playing() const { return impl_->stage && impl_->playing && impl_->stage->Root().playing; }

void FlashPlayer::Play() {
  if (!impl_->stage) return;
  if (impl_->ticked || impl_->hostStopped) impl_->stage->Root().playing = true;
  impl_->hostStopped = false;
  if (impl_->playing) return;  // the clock runs on: no new anchor
  impl_->playing = true;
  impl_->Anchor();
}

void FlashPlayer::Stop() {
  if (!impl_->stage) return;
  impl_->playing = false;
  impl_->hostStopped = true;
  impl_->stage->Root().playing = false;
  if (impl_->listener) impl_->listener->OnStop(impl_->now);
}

void FlashPlayer::GotoFrame(int frame) {
  if (!impl_->stage) return;
  impl_->stage->SetTime(impl_->now);
  impl_->stage->GotoMain(std::clamp(frame, 0, TotalFrames() - 1));
  impl_->Anchor();
}

std::int32_t FlashPlayer::BackgroundColor() const {
  if (impl_->background >= 0) return impl_->background;
  if (impl_->stage)
    if (const auto c = impl_->stage->ScriptBackground()) return (c->r << 16) | (c->g << 8) | c->b;
  if (impl_->lib && impl_->lib->background) {
    const Rgba c = *impl_->lib->background;
    return (c.r << 16) | (c.g << 8) | c.b;
  }
  // A movie loaded into a level may set it.
  if (impl_->stage) {
    if (const auto c = impl_->stage->LoadedBackground()) return (c->r << 16) | (c->g << 8) | c->b;
  }
  return 0xFFFFFF;
}

void FlashPlayer::SetBackgroundColor(std::int32_t rrggbb) { impl_->background = rrggbb < 0 ? -1 : rrggbb & 0xFFFFFF; }

bool FlashPlayer::Transparent() const { return impl_->transparent; }
void FlashPlayer::SetTransparent(bool transparent) { impl_->transparent = transparent; }

const std::string& FlashPlayer::Movie() const { return impl_->moviePath; }

void FlashPlayer::AbandonAtExit() {
  impl_->LogSkipped();
  // Held from a static, so that leak checkers see it reachable.
  static auto* const abandoned = new std::vector<std::unique_ptr<Impl>>;
  abandoned->push_back(std::exchange(impl_, std::make_unique<Impl>()));
}

void FlashPlayer::Unload() {
  impl_->LogSkipped();  // one line per movie, with what its frames skipped
  if (impl_->stage && impl_->listener) impl_->listener->OnUnload(impl_->now);
  impl_->stage.reset();
  impl_->lib.reset();
  impl_->surfaceCurrent = false;
  impl_->shapes.Clear();
  impl_->filtered.Clear();
  impl_->playing = false;
  impl_->hasButtons = false;
  impl_->pointerInside = false;
  impl_->moviePath.clear();
}

void FlashPlayer::OfferOpenedMovie(const std::string& path, swf::Movie opened) {
  // A file SetMovie would refuse is read and refused there.
  if (opened.storedBytes > kMaxMovieFileBytes) return;
  impl_->offeredPath = path;
  impl_->offered = std::move(opened);
}

void FlashPlayer::SetMovie(const std::string& path) {
  std::optional<swf::Movie> offered;
  if (impl_->offered && impl_->offeredPath == path) offered = std::move(impl_->offered);
  impl_->offered.reset();
  impl_->offeredPath.clear();
  Unload();
  impl_->loadError.clear();
  if (path.empty()) return;
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec)) {
    impl_->loadError = path + ": is a folder, not a movie";
    return;
  }
  std::vector<std::uint8_t> bytes;
  if (!offered) {
    try {
      bytes = swf::ReadFileBytes(path, kMaxMovieFileBytes);
    } catch (const swf::SwfError& e) {
      impl_->loadError = e.what();
      return;
    }
  }
  impl_->movieFolder = std::filesystem::absolute(path, ec).parent_path();
  impl_->movieName = std::filesystem::path(path).filename().string();
  const bool loaded = offered ? LoadWith([&] { return LoadLibrary(std::move(*offered)); })
                              : LoadMovieBytes(bytes);
  impl_->movieFolder.clear();
  impl_->movieName.clear();
  if (loaded) {
    impl_->moviePath = path;
  } else {
    impl_->loadError = path + ": " + impl_->loadError;
  }
}

bool FlashPlayer::LoadMovieBytes(std::span<const std::uint8_t> file) {
  return LoadWith([&] { return LoadLibrary(file); });
}

template <typename MakeLibrary>
bool FlashPlayer::LoadWith(MakeLibrary&& make) {
  Unload();
  impl_->loadError.clear();
  try {
    impl_->lib = make();
    const MovieLibrary& lib = *impl_->lib;
    // Not started yet: its first frame's scripts run once, below, when the
    // listener can hear its sounds.
    impl_->stage = std::make_unique<Stage>(lib, PlayerScriptMachines(impl_->limits), impl_->movieFolder, false);
    if (!impl_->movieName.empty()) impl_->stage->SetMovieName(impl_->movieName);
    // Clip events (mouseDown...) of version 5 scripts want the pointer too.
    impl_->hasButtons = lib.movie.version >= 5 ||
                        std::any_of(lib.characters.begin(), lib.characters.end(), [](const auto& c) {
                          return c.second && c.second->kind == Character::Kind::kButton;
                        });
    impl_->surfaceCurrent = false;
    impl_->shapes.Clear();
    impl_->filtered.Clear();
    impl_->stage->SetListener(impl_->listener);
    if (impl_->listener) {
      for (const auto& t : lib.soundDefinitions) {
        auto body = lib.Body(t);
        if (body.size() >= 2) impl_->listener->OnDefineSound(body[0] | (body[1] << 8), body);
      }
      impl_->stage->SetTime(impl_->now);
    }
    impl_->stage->Reset();
  } catch (const swf::SwfError& e) {
    return impl_->FailLoad(e.what());
  } catch (const std::bad_alloc&) {
    return impl_->FailLoad("not enough memory for the movie");
  }
  impl_->playing = true;
  impl_->ticked = impl_->hostStopped = false;
  impl_->Anchor();
  return true;
}

const std::string& FlashPlayer::LoadError() const { return impl_->loadError; }

bool FlashPlayer::MovieCutOff() const { return impl_->lib && impl_->lib->movie.cutOff; }

std::string FlashPlayer::QualityName() const {
  switch (impl_->EffectiveQuality()) {
    case Quality::qLow: return "Low";
    case Quality::qMedium: return "Medium";
    case Quality::qHigh: return "High";
    case Quality::qBest: return "Best";
  }
  return "High";
}

void FlashPlayer::SetQuality(std::string_view name) {
  std::string n(name);
  for (auto& c : n) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (n == "low" || n == "autolow") impl_->quality = Quality::qLow;
  else if (n == "medium") impl_->quality = Quality::qMedium;
  else if (n == "high" || n == "autohigh") impl_->quality = Quality::qHigh;
  else if (n == "best") impl_->quality = Quality::qBest;
  else return;
  if (impl_->stage) impl_->stage->ClearScriptQuality();
}

Quality FlashPlayer::GetQuality() const { return impl_->EffectiveQuality(); }
void FlashPlayer::SetQuality(Quality q) {
  impl_->quality = q;
  if (impl_->stage) impl_->stage->ClearScriptQuality();
}

void FlashPlayer::SetSize(int width, int height) {
  impl_->width = std::clamp(width, 0, gdi::kMaxDimension);
  impl_->height = std::clamp(height, 0, gdi::kMaxDimension);
}
int FlashPlayer::Width() const { return impl_->width; }
int FlashPlayer::Height() const { return impl_->height; }

void FlashPlayer::AdvanceTo(std::int64_t ms) {
  auto& d = *impl_;
  if (ms <= d.now) return;
  d.now = ms;
  if (!d.stage || !d.playing) return;
  std::int64_t done = 0;
  while (d.FrameTime(d.framesSinceAnchor + 1) <= ms) {
    ++d.framesSinceAnchor;
    const std::int64_t at = d.FrameTime(d.framesSinceAnchor), rate = d.EffectiveRate();
    d.stage->SetTime(at);
    d.stage->Tick();
    d.ticked = true;
    // The frame rate changed: the next frames count from this one.
    if (d.EffectiveRate() != rate) {
      d.anchorTime = at;
      d.framesSinceAnchor = 0;
    }
    if (++done >= kMaxFramesPerAdvance || (d.interrupt && d.interrupt())) {
      d.Anchor();
      break;
    }
  }
  // Buttons may have moved under a resting pointer.
  if (done > 0 && d.pointerInside && d.hasButtons) {
    d.stage->SetTime(d.now);
    d.stage->Pointer(d.pointerX, d.pointerY, d.pointerDown);
  }
}

void FlashPlayer::SetInterrupt(bool (*stop)()) { impl_->interrupt = stop; }

std::int64_t FlashPlayer::Now() const { return impl_->now; }

void FlashPlayer::Paint(gdi::Bitmap& target) const {
  const int w = impl_->width, h = impl_->height;
  if (target.Width() != w || target.Height() != h || target.Format() != gdi::PixelFormat::pfDevice) {
    target = gdi::Bitmap(w, h, gdi::PixelFormat::pfDevice);
  }
  if (w == 0 || h == 0) return;
  auto& d = *impl_;
  auto& surf = d.surface;
  const cairo_format_t format = d.transparent ? CAIRO_FORMAT_ARGB32 : CAIRO_FORMAT_RGB24;
  if (!surf || cairo_image_surface_get_width(surf.get()) != w || cairo_image_surface_get_height(surf.get()) != h ||
      cairo_image_surface_get_format(surf.get()) != format) {
    surf.reset(cairo_image_surface_create(format, w, h));
    d.surfaceCurrent = false;
  }
  const std::int32_t bg = BackgroundColor();
  const Impl::PaintKey key{w, h, d.EffectiveQuality(), bg, d.transparent};
  d.drawing.clear();
  std::vector<PresentedLayer> layers;
  if (d.stage) {
    d.stage->UpdateVideos();
    if (d.stage->Hooks()) d.stage->Hooks()->BeforeDraw();
    if (d.stage->RootVisible()) ListDrawnItems(d.stage->Root(), d.drawing, d.stage->Hooks() == nullptr);
    if (d.stage->Hooks()) layers = d.stage->Hooks()->Stage3DLayers();
  }
  // A capture paints every frame; many frames show what the last one did.
  if (!d.surfaceCurrent || key != d.paintedKey || d.drawing != d.painted || layers != d.paintedLayers) {
    d.surfaceCurrent = false;
    std::unique_ptr<cairo_t, ContextDeleter> cr(cairo_create(surf.get()));
    if (d.transparent) {
      cairo_set_operator(cr.get(), CAIRO_OPERATOR_CLEAR);
      cairo_paint(cr.get());
      cairo_set_operator(cr.get(), CAIRO_OPERATOR_OVER);
    } else {
      cairo_set_source_rgb(cr.get(), ((bg >> 16) & 255) / 255.0, ((bg >> 8) & 255) / 255.0, (bg & 255) / 255.0);
      cairo_paint(cr.get());
    }
    if (d.stage) {
      const cairo_matrix_t base = d.StageToDevice();
      PaintPresentedLayers(cr.get(), layers, base);
      RenderOptions options;
      options.quality = d.EffectiveQuality();
      options.stageScale = base.xx;
      options.cache = &d.shapes;
      options.filtered = &d.filtered;
      RenderItems(cr.get(), *d.lib, d.drawing, base, options);
      d.shapes.EndFrame();
      d.filtered.EndFrame();
    }
    d.paintedKey = key;
    d.paintedLayers = std::move(layers);
    std::swap(d.painted, d.drawing);
    d.surfaceCurrent = true;
  }
  cairo_surface_flush(surf.get());
  const auto* data = cairo_image_surface_get_data(surf.get());
  const int stride = cairo_image_surface_get_stride(surf.get());
  for (int y = 0; y < h; ++y) {
    std::uint8_t* row = target.ScanLine(y);
    std::memcpy(row, data + static_cast<std::size_t>(y) * stride, static_cast<std::size_t>(w) * 4);
    if (!d.transparent) continue;
    // Cairo keeps colour premultiplied by alpha; pictures and files want it straight.
    for (int x = 0; x < w; ++x) {
      std::uint8_t* p = row + static_cast<std::size_t>(x) * 4;
      const unsigned a = p[3];
      if (a == 0 || a == 255) continue;
      for (int c = 0; c < 3; ++c) p[c] = static_cast<std::uint8_t>(std::min(255u, (p[c] * 255u + a / 2) / a));
    }
  }
}

double FlashPlayer::FrameRate() const { return impl_->lib ? impl_->lib->movie.header.FrameRate() : 0.0; }
int FlashPlayer::MovieWidth() const { return impl_->lib ? impl_->lib->movie.header.frameSize.Width() / 20 : 0; }
int FlashPlayer::MovieHeight() const { return impl_->lib ? impl_->lib->movie.header.frameSize.Height() / 20 : 0; }
int FlashPlayer::SwfVersion() const { return impl_->lib ? impl_->lib->movie.version : 0; }

std::vector<std::string> FlashPlayer::SkippedFeatures() const {
  std::vector<std::string> out;
  if (!impl_->stage) return out;
  std::set<std::string> all = impl_->lib->Skipped();
  all.insert(impl_->stage->Skipped().begin(), impl_->stage->Skipped().end());
  out.assign(all.begin(), all.end());
  return out;
}

std::vector<std::string> FlashPlayer::StoppedScripts() const {
  if (!impl_->stage) return {};
  const auto& stopped = impl_->stage->StoppedScripts();
  return {stopped.begin(), stopped.end()};
}

void FlashPlayer::SetScriptLimits(const ScriptLimits& limits) { impl_->limits = limits; }

void FlashPlayer::MouseMove(int x, int y) { impl_->Pointer(x, y, impl_->pointerDown); }
void FlashPlayer::MouseDown(int x, int y) { impl_->Pointer(x, y, true); }
void FlashPlayer::MouseUp(int x, int y) { impl_->Pointer(x, y, false); }

void FlashPlayer::MouseLeave() {
  auto& d = *impl_;
  if (!d.stage || !d.pointerInside) return;
  d.pointerInside = false;
  d.pointerDown = false;
  d.stage->SetTime(d.now);
  d.stage->PointerLeft();
  d.FollowScript();
}

void FlashPlayer::KeyDown(int keyCode, int charCode) {
  auto& d = *impl_;
  if (!d.stage) return;
  d.stage->SetTime(d.now);
  d.stage->Key(true, keyCode, charCode);
  d.FollowScript();
}
void FlashPlayer::KeyUp(int keyCode, int charCode) {
  auto& d = *impl_;
  if (!d.stage) return;
  d.stage->SetTime(d.now);
  d.stage->Key(false, keyCode, charCode);
  d.FollowScript();
}

bool FlashPlayer::OverButton() const { return impl_->stage && impl_->pointerInside && impl_->stage->OverButton(); }

std::string FlashPlayer::GetVariable(const std::string& path) const {
  return impl_->stage ? impl_->stage->GetVariable(path) : std::string();
}

void FlashPlayer::SetSoundListener(SoundEventListener* listener) {
  impl_->listener = listener;
  if (impl_->stage) impl_->stage->SetListener(listener);
}

}  // namespace quarvel::player
