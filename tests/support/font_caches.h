#pragma once
// Device text fills the font caches of Cairo and fontconfig; a test program
// that includes this frees them at its end, so that leak checkers see only
// our own allocations. (An inline variable: registered once per program.)

#include <cairo.h>
#include <fontconfig/fontconfig.h>
#include <gtest/gtest.h>

namespace quarvel::testing {

class FontCaches : public ::testing::Environment {
 public:
  void TearDown() override {
    cairo_debug_reset_static_data();
    FcFini();
  }
};
inline const ::testing::Environment* const kFontCaches = ::testing::AddGlobalTestEnvironment(new FontCaches);

}  // namespace quarvel::testing
