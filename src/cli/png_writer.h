#pragma once
// PNG output of a picture (the frame command).

#include <string>

#include "platform/gdi/bitmap.h"

namespace quarvel::cli {

// Writes the picture as an 8-bit RGB PNG; throws naming the file.
void SavePng(const gdi::Bitmap& picture, const std::string& path);

}  // namespace quarvel::cli
