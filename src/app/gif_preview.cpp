#include "app/gif_preview.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QMetaObject>
#include <QPainter>
#include <QPixmap>
#include <QScreen>
#include <algorithm>
#include <chrono>

#include "app/qt_picture.h"
#include "gif/color_lookup.h"
#include "gif/ditherer.h"

namespace quarvel::app {
namespace {

using Clock = std::chrono::steady_clock;

// The picture dithered to the 6 x 6 x 6 colour cube.
gdi::Bitmap DitherToCube(const gdi::Bitmap& picture) {
  gdi::Bitmap out(picture.Width(), picture.Height(), gdi::PixelFormat::pfDevice);
  gif::TNetscapeColorLookup cube;
  const auto ditherer = gif::CreateDitherer(gif::dtFloydSteinberg, picture.Width(), cube);
  gdi::Color chosen;
  for (int y = 0; y < picture.Height(); ++y) {
    for (int x = ditherer->Column(); x >= 0 && x < picture.Width(); x = ditherer->Column()) {
      const gdi::Color c = picture.GetPixel(x, y);
      ditherer->Dither(c.r, c.g, c.b, chosen);
      out.SetPixel(x, y, chosen);
    }
    ditherer->NextLine();
  }
  return out;
}

}  // namespace

GifPreview::GifPreview(QLabel* target, QObject* parent) : QObject(parent), target_(target) {}

GifPreview::~GifPreview() { Clear(); }

void GifPreview::Clear() {
  {
    const std::lock_guard<std::mutex> guard(lock_);
    stop_ = true;
  }
  wake_.notify_all();
  // A synchronous animation below this call on the stack ends by itself.
  if (painting_here_) return;
  if (painter_.joinable()) {
    // The painter may be waiting for a hand-over: run them until it has left.
    while (playing_.load()) {
      RunHandOvers();
      std::unique_lock<std::mutex> lock(lock_);
      wake_.wait_for(lock, std::chrono::milliseconds(5), [this] { return !hand_overs_.empty() || !playing_.load(); });
    }
    painter_.join();
    RunHandOvers();  // the end callback
  }
  playing_.store(false);
  {
    // A refresh still queued finds nothing and leaves the next picture alone.
    const std::lock_guard<std::mutex> guard(picture_lock_);
    shown_ = gdi::Bitmap();
  }
  timeline_.reset();
  canvas_.reset();
  image_.reset();
}

void GifPreview::Show(std::unique_ptr<gif::TGIFImage> image, QSize area) {
  // Nothing while a synchronous animation of this preview still runs.
  if (painting_here_) return;
  Clear();
  image_ = std::move(image);
  if (image_ == nullptr) return;
  flags_ = image_->DrawFlags;
  area_ = (flags_ & gif::goTile) && !area.isEmpty() ? area : QSize(image_->Width(), image_->Height());
  // What the target showed before shows through transparent pixels.
  gdi::Bitmap behind;
  if ((flags_ & gif::goTransparent) && target_ != nullptr && !target_->pixmap().isNull()) {
    const QImage old = target_->pixmap().toImage().convertToFormat(QImage::Format_RGB32);
    behind = gdi::Bitmap(image_->Width(), image_->Height(), gdi::PixelFormat::pfDevice);
    for (int y = 0; y < behind.Height(); ++y)
      for (int x = 0; x < behind.Width(); ++x) {
        // The old picture in logical pixels.
        const QPoint p(int(x * target_->pixmap().devicePixelRatio()), int(y * target_->pixmap().devicePixelRatio()));
        const QRgb c = old.valid(p) ? old.pixel(p) : qRgb(0, 0, 0);
        behind.SetPixel(x, y, gdi::Color{std::uint8_t(qRed(c)), std::uint8_t(qGreen(c)), std::uint8_t(qBlue(c))});
      }
  }
  if (target_ != nullptr) {
    target_->setPixmap(QPixmap());
    target_->setFixedSize(area_);
  }
  drawn_.store(0);
  if (image_->Empty() || image_->Width() <= 0 || image_->Height() <= 0) return;
  const bool few_colours = QGuiApplication::primaryScreen() != nullptr && QGuiApplication::primaryScreen()->depth() <= 8;
  dither_ = (flags_ & gif::goDither) && (!(flags_ & gif::goAutoDither) || few_colours);
  const bool asynchronous = (flags_ & gif::goAsync) != 0;
  timeline_ = std::make_unique<gif::PainterTimeline>(*image_, flags_, image_->AnimationSpeed, asynchronous);
  canvas_ = std::make_unique<gif::PainterCanvas>(*image_, flags_, behind.Empty() ? nullptr : &behind);
  {
    const std::lock_guard<std::mutex> guard(lock_);
    stop_ = false;
  }
  const bool animated = image_->Images().Count() > 1 && (flags_ & gif::goAnimate);
  if (!animated) {
    // Drawn directly, without a painter.
    while (const auto step = timeline_->Next()) DrawStep(*step);
    return;
  }
  if (!asynchronous) {
    PlaySynchronously();
    return;
  }
  playing_.store(true);
  painter_ = std::thread([this] { Play(); });
  if (flags_ & gif::goDirectDraw) return;
  // Drawn through the buffer: the target shows the first frame on return.
  while (drawn_.load() == 0 && playing_.load()) {
    RunHandOvers();
    std::unique_lock<std::mutex> lock(lock_);
    wake_.wait_for(lock, std::chrono::milliseconds(5), [this] { return !hand_overs_.empty() || !playing_.load(); });
  }
  RunHandOvers();
}

void GifPreview::DrawStep(const gif::PainterTimeline::Step& step) {
  canvas_->Draw(step);
  {
    const std::lock_guard<std::mutex> guard(picture_lock_);
    shown_ = dither_ ? DitherToCube(canvas_->Shown()) : canvas_->Shown();
  }
  drawn_.fetch_add(1);
  OnWindow([this] { Refresh(); });
}

void GifPreview::Play() {
  painter_id_.store(std::this_thread::get_id());
  OnWindow(callbacks_.start);
  int overrun = 0;
  int pass = 0;
  while (const auto step = timeline_->Next(overrun)) {
    if (step->pass != pass) {
      pass = step->pass;
      if (callbacks_.loop) OnWindow([this, pass] { callbacks_.loop(pass); });
    }
    const auto wait_start = Clock::now();
    {
      std::unique_lock<std::mutex> lock(lock_);
      const auto stopped = [this] { return stop_; };
      if (step->until_stopped) {
        wake_.wait(lock, stopped);
        break;
      }
      if (wake_.wait_for(lock, std::chrono::milliseconds(step->wait_ms), stopped)) break;
    }
    // How late this frame comes, for the next frame's wait.
    const auto late = Clock::now() - wait_start - std::chrono::milliseconds(step->wait_ms);
    overrun = static_cast<int>(
        std::max<long long>(0, std::chrono::duration_cast<std::chrono::milliseconds>(late).count()));
    const int frame = step->frame;
    if (callbacks_.paint) OnWindow([this, frame] { callbacks_.paint(frame); });
    DrawStep(*step);
    if (callbacks_.after_paint) OnWindow([this, frame] { callbacks_.after_paint(frame); });
    // With "check canvas" a painter whose target has gone ends quietly.
    if ((flags_ & gif::goValidateCanvas) && target_gone_.load()) break;
  }
  // Queued before the painter is seen to have ended, so Clear runs it.
  if (callbacks_.end) {
    const std::lock_guard<std::mutex> guard(lock_);
    hand_overs_.push_back(callbacks_.end);
    ++handed_;
    QMetaObject::invokeMethod(this, [this] { RunHandOvers(); }, Qt::QueuedConnection);
  }
  painter_id_.store(std::thread::id());
  playing_.store(false);
  wake_.notify_all();
}

void GifPreview::PlaySynchronously() {
  painting_here_ = true;
  playing_.store(true);
  if (callbacks_.start) callbacks_.start();
  int overrun = 0;
  int pass = 0;
  bool stopped = false;
  while (!stopped) {
    const auto step = timeline_->Next(overrun);
    if (!step) break;
    if (step->pass != pass) {
      pass = step->pass;
      if (callbacks_.loop) callbacks_.loop(pass);
    }
    // Waits in slices of at most 100 ms, the window's events running between them.
    const auto wait_start = Clock::now();
    const auto until = wait_start + std::chrono::milliseconds(step->wait_ms);
    for (auto now = Clock::now(); now < until; now = Clock::now()) {
      std::unique_lock<std::mutex> lock(lock_);
      if (wake_.wait_for(lock, std::min<Clock::duration>(until - now, std::chrono::milliseconds(100)),
                         [this] { return stop_; }))
        break;
      lock.unlock();
      QCoreApplication::processEvents();
    }
    {
      const std::lock_guard<std::mutex> guard(lock_);
      stopped = stop_;
    }
    if (stopped || ((flags_ & gif::goValidateCanvas) && target_.isNull())) break;
    const auto late = Clock::now() - until;
    overrun = static_cast<int>(
        std::max<long long>(0, std::chrono::duration_cast<std::chrono::milliseconds>(late).count()));
    if (callbacks_.paint) callbacks_.paint(step->frame);
    DrawStep(*step);
    if (callbacks_.after_paint) callbacks_.after_paint(step->frame);
  }
  if (callbacks_.end) callbacks_.end();
  playing_.store(false);
  painting_here_ = false;
  // A Clear asked for while the animation ran.
  if (stopped) Clear();
}

void GifPreview::OnWindow(std::function<void()> task) {
  if (!task) return;
  if (std::this_thread::get_id() != painter_id_.load()) {
    task();
    return;
  }
  std::unique_lock<std::mutex> lock(lock_);
  hand_overs_.push_back(std::move(task));
  const long long mine = ++handed_;
  QMetaObject::invokeMethod(this, [this] { RunHandOvers(); }, Qt::QueuedConnection);
  wake_.notify_all();
  // The window runs it, also from Clear while it waits for this painter.
  wake_.wait(lock, [this, mine] { return done_ >= mine; });
}

void GifPreview::RunHandOvers() {
  for (;;) {
    std::function<void()> task;
    {
      const std::lock_guard<std::mutex> guard(lock_);
      if (hand_overs_.empty()) return;
      task = std::move(hand_overs_.front());
      hand_overs_.pop_front();
    }
    task();
    {
      const std::lock_guard<std::mutex> guard(lock_);
      ++done_;
    }
    wake_.notify_all();
  }
}

void GifPreview::Refresh() {
  // Seen here, on the window's thread, for the painter's check of its canvas.
  target_gone_.store(target_.isNull());
  QImage picture;
  {
    const std::lock_guard<std::mutex> guard(picture_lock_);
    picture = ToQImage(shown_);
  }
  if (picture.isNull() || target_ == nullptr) return;
  ++refreshes_;
  if ((flags_ & gif::goTile) && area_ != picture.size()) {
    QImage tiled(area_, QImage::Format_RGB32);
    QPainter painter(&tiled);
    painter.drawTiledPixmap(tiled.rect(), QPixmap::fromImage(picture));
    painter.end();
    picture = tiled;
  }
  target_->setPixmap(DevicePixmap(picture, target_->devicePixelRatioF()));
}

}  // namespace quarvel::app
