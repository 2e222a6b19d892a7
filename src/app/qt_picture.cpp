#include "app/qt_picture.h"

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

QPixmap DevicePixmap(const QImage& image, qreal device_pixel_ratio) {
  if (image.isNull() || device_pixel_ratio <= 1.0) return QPixmap::fromImage(image);
  QImage scaled = image.scaled(qRound(image.width() * device_pixel_ratio), qRound(image.height() * device_pixel_ratio),
                               Qt::IgnoreAspectRatio, Qt::FastTransformation);
  scaled.setDevicePixelRatio(device_pixel_ratio);
  return QPixmap::fromImage(scaled);
}

}  // namespace quarvel::app
