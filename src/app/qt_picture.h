#pragma once
// Hand-over of our pictures to Qt for display.

#include <QImage>
#include <QPixmap>

#include "platform/gdi/bitmap.h"

namespace quarvel::app {

// A top-down RGB32 copy of any picture; an empty picture gives a null image.
QImage ToQImage(const gdi::Bitmap& picture);

// A 32-bit picture with straight alpha in its fourth byte (a capture on a
// transparent background) shown over a grey and white checkerboard; other
// pictures as ToQImage gives them.
QImage ToQImageOverChecks(const gdi::Bitmap& picture);

// A picture to show at its own size in logical pixels on a screen of the
// given device pixel ratio: each pixel becomes a block of device pixels,
// never a blur.
QPixmap DevicePixmap(const QImage& image, qreal device_pixel_ratio);

}  // namespace quarvel::app
