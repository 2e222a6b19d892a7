#pragma once
// PNG output of a picture (the frame command).

#include <string>

#include "platform/gdi/bitmap.h"

namespace quarvel::cli {

// Writes the picture as an 8-bit RGB PNG to `path`; throws naming `shown`
// (the file the user asked for, when `path` is a temporary name for it) and
// the cause.
void SavePng(const gdi::Bitmap& picture, const std::string& path, const std::string& shown);

}  // namespace quarvel::cli
