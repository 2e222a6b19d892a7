#include "app/gif_preview.h"

#include <QLabel>
#include <QMetaObject>
#include <QPixmap>

#include "app/qt_picture.h"

namespace quarvel::app {

GifPreview::GifPreview(QLabel* target, QObject* parent) : QObject(parent), target_(target) {}

GifPreview::~GifPreview() { Clear(); }

void GifPreview::Clear() {
  if (painter_) painter_->Stop();
  painter_.reset();
  canvas_.reset();
  image_.reset();
}

void GifPreview::Show(std::unique_ptr<gif::TGIFImage> image) {
  Clear();
  image_ = std::move(image);
  if (image_ == nullptr) return;
  const int width = image_->Width(), height = image_->Height();
  target_->setPixmap(QPixmap());
  target_->setFixedSize(width, height);
  if (image_->Empty() || width <= 0 || height <= 0) return;
  canvas_ = std::make_shared<gif::PainterCanvas>(width, height, gdi::Color{255, 255, 255});
  gif::PainterCallbacks callbacks;
  callbacks.on_changed = [this](gif::TGIFPainter&) {
    // Called on the painter's thread: the window shows the picture on its own.
    QMetaObject::invokeMethod(this, [this] { Refresh(); }, Qt::QueuedConnection);
  };
  painter_ = std::make_unique<gif::TGIFPainter>(*image_, canvas_, image_->DrawFlags, std::move(callbacks));
  painter_->Start();  // one frame: drawn now; several: played on the painter's thread
  Refresh();
}

void GifPreview::Refresh() {
  if (!canvas_) return;
  ++refreshes_;
  target_->setPixmap(QPixmap::fromImage(ToQImage(canvas_->Snapshot())));
}

}  // namespace quarvel::app
