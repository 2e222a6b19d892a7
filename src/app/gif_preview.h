#pragma once
// Shows a built GIF in the preview image, playing: the painter draws into
// its canvas on its own thread, and every new picture is handed over to the
// window's thread for display.

#include <QObject>
#include <memory>

#include "gif/gif_image.h"
#include "gif/gif_painter.h"

class QLabel;

namespace quarvel::app {

class GifPreview : public QObject {
  Q_OBJECT
 public:
  explicit GifPreview(QLabel* target, QObject* parent = nullptr);
  ~GifPreview() override;

  // Shows the image (sized to its logical screen) and plays it when it has
  // more than one frame. An empty image shows an empty picture.
  void Show(std::unique_ptr<gif::TGIFImage> image);
  // Stops the animation and lets the image go (another picture is shown).
  void Clear();

  bool HasImage() const { return image_ != nullptr; }
  // The image shown; only while HasImage().
  const gif::TGIFImage& Image() const { return *image_; }
  const gif::TGIFPainter* Painter() const { return painter_.get(); }
  // Pictures handed over to the window so far.
  int Refreshes() const { return refreshes_; }

 private:
  void Refresh();

  QLabel* target_;
  std::unique_ptr<gif::TGIFImage> image_;
  std::shared_ptr<gif::PainterCanvas> canvas_;
  std::unique_ptr<gif::TGIFPainter> painter_;
  int refreshes_ = 0;
};

}  // namespace quarvel::app
