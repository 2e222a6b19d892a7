#pragma once
// Hand-over of our pictures to Qt for display.

#include <QImage>

#include "platform/gdi/bitmap.h"

namespace quarvel::app {

// A top-down RGB32 copy of any picture; an empty picture gives a null image.
QImage ToQImage(const gdi::Bitmap& picture);

}  // namespace quarvel::app
