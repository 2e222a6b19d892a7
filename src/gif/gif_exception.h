#pragma once
// The one error type of the GIF library; its texts are fixed and shown to users.

#include <stdexcept>
#include <string>

namespace quarvel::gif {

class GIFException : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The fixed texts.
inline constexpr const char* sUnsupportedClass = "Object type not supported for operation";
inline constexpr const char* sUnknownVersion = "Unsupported GIF version";
inline constexpr const char* sTooManyColors = "Color table overflow";
inline constexpr const char* sBadColorIndex = "Color not in color table";
inline constexpr const char* sInvalidPixelFormat = "Unsupported PixelFormat";
inline constexpr const char* sBadDimension = "Invalid image dimensions";
inline constexpr const char* sOutOfMemDIB = "Failed to allocate memory for GIF DIB";
inline constexpr const char* sNoDIB = "Image has no DIB";
inline constexpr const char* sBadImageData = "Invalid image data";

// Warnings go to the image's callback; these are their texts.
inline constexpr const char* sInvalidColor = "Invalid color index";
inline constexpr const char* sScreenBadWidth = "Image width too small for contained frames";
inline constexpr const char* sScreenBadHeight = "Image height too small for contained frames";
inline constexpr const char* sScreenSizeExceeded = "Image exceeds Logical Screen size";

}  // namespace quarvel::gif
