#include "app/qt_picture.h"

#include <QPainter>
#include <algorithm>
#include <cstring>

namespace quarvel::app {

QImage ToQImage(const gdi::Bitmap& picture) {
  if (picture.Empty()) return {};
  const gdi::Bitmap* source = &picture;
  gdi::Bitmap converted;
  if (picture.Format() != gdi::PixelFormat::pfDevice && picture.Format() != gdi::PixelFormat::pf32bit) {
    converted = picture.ConvertTo(gdi::PixelFormat::pfDevice);
    source = &converted;
  }
  // Our 32-bit rows are B, G, R, X bytes: QImage's RGB32 on little-endian.
  QImage image(source->Width(), source->Height(), QImage::Format_RGB32);
  const auto row_bytes = static_cast<std::size_t>(source->Width()) * 4;
  for (int y = 0; y < source->Height(); ++y) {
    std::memcpy(image.scanLine(y), source->ScanLine(y), row_bytes);
  }
  return image;
}

QImage ToQImageOverChecks(const gdi::Bitmap& picture) {
  QImage image = ToQImage(picture);
  if (image.isNull() || picture.BitsPerPixel() != 32) return image;
  image.reinterpretAsFormat(QImage::Format_ARGB32);
  QImage out(image.size(), QImage::Format_RGB32);
  // Squares large enough to stay visible in a thumbnail.
  const int square = std::max(4, std::min(image.width(), image.height()) / 12);
  QPainter painter(&out);
  for (int y = 0; y < out.height(); y += square)
    for (int x = 0; x < out.width(); x += square)
      painter.fillRect(x, y, square, square, ((x + y) / square) % 2 ? QColor(204, 204, 204) : QColor(Qt::white));
  painter.drawImage(0, 0, image);
  painter.end();
  return out;
}

QPixmap DevicePixmap(const QImage& image, qreal device_pixel_ratio) {
  if (image.isNull() || device_pixel_ratio <= 1.0) return QPixmap::fromImage(image);
  QImage scaled = image.scaled(qRound(image.width() * device_pixel_ratio), qRound(image.height() * device_pixel_ratio),
                               Qt::IgnoreAspectRatio, Qt::FastTransformation);
  scaled.setDevicePixelRatio(device_pixel_ratio);
  return QPixmap::fromImage(scaled);
}

}  // namespace quarvel::app
