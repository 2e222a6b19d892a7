// BitmapData.encode read back by libpng and libjpeg, and applyFilter with a
// DisplacementMapFilter against a naive version written here.
#include <gtest/gtest.h>
#include <png.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include <jpeglib.h>

#include "player/flash_player.h"
#include "support/as3_movie.h"

namespace quarvel::player {
namespace {

using testing::AbcCode;
using testing::As3Movie;
using testing::As3Traced;

std::vector<std::string> Lines(const std::string& traced) {
  std::vector<std::string> out;
  std::size_t at = 0;
  for (std::size_t bar; (bar = traced.find('|', at)) != std::string::npos; at = bar + 1)
    out.push_back(traced.substr(at, bar - at));
  return out;
}
std::vector<std::uint32_t> Numbers(const std::string& line) {
  std::vector<std::uint32_t> out;
  for (std::size_t at = 0; at < line.size();) {
    const std::size_t comma = line.find(',', at);
    out.push_back(static_cast<std::uint32_t>(std::stoul(line.substr(at, comma - at))));
    if (comma == std::string::npos) break;
    at = comma + 1;
  }
  return out;
}

// local 1 = new BitmapData(w, h, transparent, 0); pixel (x, y) set to pixel(x, y).
void MakeBitmap(As3Movie& m, AbcCode& c, int local, int w, int h, bool transparent,
                const std::function<std::uint32_t(int, int)>& pixel) {
  const auto bd = m.Display("BitmapData");
  c.Op("findpropstrict", {bd}).Op("pushbyte", {w}).Op("pushbyte", {h}).Op(transparent ? "pushtrue" : "pushfalse")
      .Op("pushbyte", {0}).Op("constructprop", {bd, 4}).Op("setlocal", {local});
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      c.Op("getlocal", {local}).Op("pushbyte", {x}).Op("pushbyte", {y})
          .Op("pushdouble", {m.a.Double(pixel(x, y))}).Op("callpropvoid", {m.Q("setPixel32"), 3});
}
// trace("b,b,b,...") of the ByteArray in `local` from its start.
void TraceBytes(As3Movie& m, AbcCode& c, int local, int text) {
  static int loops = 0;
  const std::string more = "more" + std::to_string(++loops), done = "done" + std::to_string(loops);
  c.Op("pushstring", {m.S("")}).Op("setlocal", {text});
  c.Op("getlocal", {local}).Op("pushbyte", {0}).Op("setproperty", {m.Q("position")});
  c.Loop(more);
  c.Op("getlocal", {local}).Op("getproperty", {m.Q("bytesAvailable")}).Branch("iffalse", done);
  c.Op("getlocal", {text}).Op("getlocal", {local}).Op("callproperty", {m.Q("readUnsignedByte"), 0}).Op("add")
      .Op("pushstring", {m.S(",")}).Op("add").Op("setlocal", {text});
  c.Branch("jump", more);
  c.Label(done);
  m.TraceValue(c, "", [&] { c.Op("getlocal", {text}); });
}
// trace("p,p,p,...") of getPixel32 over the w x h BitmapData in `local`.
void TracePixels(As3Movie& m, AbcCode& c, int local, int w, int h) {
  c.Op("findpropstrict", {m.Q("trace")}).Op("pushstring", {m.S("")});
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      c.Op("getlocal", {local}).Op("pushbyte", {x}).Op("pushbyte", {y}).Op("callproperty", {m.Q("getPixel32"), 2}).Op("add");
      if (x + 1 < w || y + 1 < h) c.Op("pushstring", {m.S(",")}).Op("add");
    }
  c.Op("callpropvoid", {m.Q("trace"), 1});
}

struct Decoded {
  int width = 0, height = 0;
  std::vector<std::uint32_t> argb;
};
Decoded ReadPng(const std::vector<std::uint8_t>& file) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  Decoded d;
  if (!png_image_begin_read_from_memory(&image, file.data(), file.size())) return d;
  image.format = PNG_FORMAT_BGRA;
  std::vector<std::uint32_t> px(static_cast<std::size_t>(image.width) * image.height);
  if (!png_image_finish_read(&image, nullptr, px.data(), 0, nullptr)) return d;
  d.width = static_cast<int>(image.width), d.height = static_cast<int>(image.height), d.argb = std::move(px);
  return d;
}
Decoded ReadJpeg(const std::vector<std::uint8_t>& file) {
  jpeg_decompress_struct info;
  jpeg_error_mgr err;
  info.err = jpeg_std_error(&err);
  jpeg_create_decompress(&info);
  jpeg_mem_src(&info, file.data(), static_cast<unsigned long>(file.size()));
  Decoded d;
  if (jpeg_read_header(&info, TRUE) == JPEG_HEADER_OK) {
    info.out_color_space = JCS_RGB;
    jpeg_start_decompress(&info);
    d.width = static_cast<int>(info.output_width), d.height = static_cast<int>(info.output_height);
    std::vector<JSAMPLE> row(static_cast<std::size_t>(d.width) * 3);
    while (info.output_scanline < info.output_height) {
      JSAMPROW r = row.data();
      jpeg_read_scanlines(&info, &r, 1);
      for (int x = 0; x < d.width; ++x)
        d.argb.push_back(0xFF000000u | (row[x * 3] << 16) | (row[x * 3 + 1] << 8) | row[x * 3 + 2]);
    }
    jpeg_finish_decompress(&info);
  }
  jpeg_destroy_decompress(&info);
  return d;
}
std::vector<std::uint8_t> Bytes(const std::string& line) {
  std::vector<std::uint8_t> out;
  for (std::uint32_t v : Numbers(line.substr(0, line.size() - 1))) out.push_back(static_cast<std::uint8_t>(v));
  return out;
}

// PNG keeps every pixel of a transparent picture exactly, straight alpha;
// a rectangle encodes only its part.
TEST(As3BitmapEncode, PngHoldsThePixelsAsGetPixel32ReadsThem) {
  As3Movie d;
  const auto options = d.Display("PNGEncoderOptions"), rect = d.a.PackageName("flash.geom", "Rectangle");
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    MakeBitmap(m, c, 1, 6, 4, true, [](int x, int y) {
      return (y == 3 ? 0x80u : 0xFFu) << 24 | static_cast<std::uint32_t>(x * 40) << 16 | static_cast<std::uint32_t>(y * 60) << 8 | 0x33u;
    });
    TracePixels(m, c, 1, 6, 4);
    c.Op("getlocal_1").Op("getlocal_1").Op("getproperty", {m.Q("rect")}).Op("findpropstrict", {options})
        .Op("constructprop", {options, 0}).Op("callproperty", {m.Q("encode"), 2}).Op("setlocal_2");
    TraceBytes(m, c, 2, 3);
    c.Op("getlocal_1").Op("findpropstrict", {rect}).Op("pushbyte", {1}).Op("pushbyte", {2}).Op("pushbyte", {3})
        .Op("pushbyte", {2}).Op("constructprop", {rect, 4}).Op("findpropstrict", {options}).Op("pushtrue")
        .Op("constructprop", {options, 1}).Op("callproperty", {m.Q("encode"), 2}).Op("setlocal_2");
    TraceBytes(m, c, 2, 3);
  });
  const std::string traced = As3Traced(bytes, [](FlashPlayer&) {});
  const auto lines = Lines(traced);
  ASSERT_EQ(lines.size(), 3u) << traced;
  const auto pixels = Numbers(lines[0]);
  ASSERT_EQ(pixels.size(), 24u);
  const Decoded whole = ReadPng(Bytes(lines[1]));
  ASSERT_EQ(whole.width, 6);
  ASSERT_EQ(whole.height, 4);
  EXPECT_EQ(whole.argb, pixels);
  const Decoded part = ReadPng(Bytes(lines[2]));
  ASSERT_EQ(part.width, 3);
  ASSERT_EQ(part.height, 2);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x) EXPECT_EQ(part.argb[y * 3 + x], pixels[(y + 2) * 6 + x + 1]) << x << "," << y;
}

// JPEG keeps the colours near at a high quality, coarser and smaller at a low
// one; the bytes go at the given array's position.
TEST(As3BitmapEncode, JpegFollowsItsQuality) {
  As3Movie d;
  const auto options = d.Display("JPEGEncoderOptions"), bytesClass = d.a.PackageName("flash.utils", "ByteArray");
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    MakeBitmap(m, c, 1, 16, 16, false, [](int x, int y) {
      return 0xFF000000u | static_cast<std::uint32_t>(x * 15) << 16 | static_cast<std::uint32_t>(y * 15) << 8 | 0x80u;
    });
    TracePixels(m, c, 1, 16, 16);
    for (int quality : {95, 5}) {
      c.Op("getlocal_1").Op("getlocal_1").Op("getproperty", {m.Q("rect")}).Op("findpropstrict", {options})
          .Op("pushbyte", {quality}).Op("constructprop", {options, 1}).Op("callproperty", {m.Q("encode"), 2}).Op("setlocal_2");
      TraceBytes(m, c, 2, 3);
    }
    // Into a given array after its first three bytes.
    c.Op("findpropstrict", {bytesClass}).Op("constructprop", {bytesClass, 0}).Op("setlocal_2");
    c.Op("getlocal_2").Op("pushbyte", {7}).Op("callpropvoid", {m.Q("writeByte"), 1});
    c.Op("getlocal_2").Op("pushbyte", {7}).Op("callpropvoid", {m.Q("writeShort"), 1});
    m.TraceValue(c, "", [&] {
      c.Op("getlocal_1").Op("getlocal_1").Op("getproperty", {m.Q("rect")}).Op("findpropstrict", {options})
          .Op("constructprop", {options, 0}).Op("getlocal_2").Op("callproperty", {m.Q("encode"), 3}).Op("getlocal_2")
          .Op("strictequals");
    });
    c.Op("getlocal_2").Op("pushbyte", {3}).Op("setproperty", {m.Q("position")});
    m.TraceValue(c, "", [&] { c.Op("getlocal_2").Op("callproperty", {m.Q("readUnsignedShort"), 0}); });
  });
  const std::string traced = As3Traced(bytes, [](FlashPlayer&) {});
  const auto lines = Lines(traced);
  ASSERT_EQ(lines.size(), 5u) << traced;
  const auto pixels = Numbers(lines[0]);
  const auto fine = Bytes(lines[1]), coarse = Bytes(lines[2]);
  const Decoded good = ReadJpeg(fine), poor = ReadJpeg(coarse);
  ASSERT_EQ(good.width, 16);
  ASSERT_EQ(poor.height, 16);
  auto worst = [&](const Decoded& p) {
    int most = 0;
    for (std::size_t i = 0; i < pixels.size(); ++i)
      for (int shift : {0, 8, 16})
        most = std::max(most, std::abs(static_cast<int>((p.argb[i] >> shift) & 0xFF) - static_cast<int>((pixels[i] >> shift) & 0xFF)));
    return most;
  };
  EXPECT_LE(worst(good), 12);  // chroma is subsampled
  EXPECT_GT(worst(poor), worst(good));
  EXPECT_LT(coarse.size(), fine.size());
  EXPECT_EQ(lines[3], "true");
  EXPECT_EQ(lines[4], "65496");  // the JPEG's start-of-image marker, FF D8
}

// A naive displacement: the source pixel moved by the map's components,
// the map placed at (mapX, mapY), nothing moved outside it.
std::vector<std::uint32_t> NaiveDisplacement(const std::function<std::uint32_t(int, int)>& src, int w, int h,
                                             const std::function<std::uint32_t(int, int)>& map, int mw, int mh,
                                             int mapX, int mapY, double scaleX, double scaleY, const std::string& mode,
                                             std::uint32_t color) {
  std::vector<std::uint32_t> out;
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      int dx = 0, dy = 0;
      if (x - mapX >= 0 && y - mapY >= 0 && x - mapX < mw && y - mapY < mh) {
        const std::uint32_t p = map(x - mapX, y - mapY);
        dx = static_cast<int>(std::floor((static_cast<double>((p >> 16) & 0xFF) - 128) * scaleX / 256));
        dy = static_cast<int>(std::floor((static_cast<double>((p >> 8) & 0xFF) - 128) * scaleY / 256));
      }
      int sx = x + dx, sy = y + dy;
      const bool inside = sx >= 0 && sy >= 0 && sx < w && sy < h;
      if (inside) out.push_back(src(sx, sy));
      else if (mode == "clamp") out.push_back(src(std::clamp(sx, 0, w - 1), std::clamp(sy, 0, h - 1)));
      else if (mode == "ignore") out.push_back(src(x, y));
      else if (mode == "color") out.push_back(color);
      else out.push_back(src(((sx % w) + w) % w, ((sy % h) + h) % h));
    }
  }
  return out;
}

TEST(As3BitmapFilters, ApplyFilterDisplacesByTheMapInEveryMode) {
  const auto src = [](int x, int y) {
    return 0xFF000000u | static_cast<std::uint32_t>(x * 30) << 16 | static_cast<std::uint32_t>(y * 30) << 8 | 77u;
  };
  const auto map = [](int x, int y) {
    const int red = 128 + 16 * ((x + y) % 5 - 2), green = 128 + 40 * (x % 3 - 1);
    return 0xFF000000u | static_cast<std::uint32_t>(red) << 16 | static_cast<std::uint32_t>(green) << 8;
  };
  for (const std::string mode : {"wrap", "clamp", "ignore", "color"}) {
    As3Movie d;
    const auto filter = d.a.PackageName("flash.filters", "DisplacementMapFilter");
    const auto point = d.a.PackageName("flash.geom", "Point");
    const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
      MakeBitmap(m, c, 1, 8, 8, false, src);
      MakeBitmap(m, c, 2, 6, 6, false, map);
      MakeBitmap(m, c, 3, 8, 8, false, [](int, int) { return 0xFF123456u; });
      // dest.applyFilter(src, src.rect, new Point(0, 0),
      //   new DisplacementMapFilter(map, new Point(1, 1), RED, GREEN, 32, -48, mode, 0x00FF00, 1))
      c.Op("getlocal_3").Op("getlocal_1").Op("getlocal_1").Op("getproperty", {m.Q("rect")});
      c.Op("findpropstrict", {point}).Op("pushbyte", {0}).Op("pushbyte", {0}).Op("constructprop", {point, 2});
      c.Op("findpropstrict", {filter}).Op("getlocal_2");
      c.Op("findpropstrict", {point}).Op("pushbyte", {1}).Op("pushbyte", {1}).Op("constructprop", {point, 2});
      c.Op("pushbyte", {1}).Op("pushbyte", {2}).Op("pushbyte", {32}).Op("pushbyte", {-48}).Op("pushstring", {m.S(mode)})
          .Op("pushint", {m.a.Int(0x00FF00)}).Op("pushbyte", {1}).Op("constructprop", {filter, 9});
      c.Op("callpropvoid", {m.Q("applyFilter"), 4});
      TracePixels(m, c, 3, 8, 8);
    });
    const std::string traced = As3Traced(bytes, [](FlashPlayer&) {});
    const auto lines = Lines(traced);
    ASSERT_EQ(lines.size(), 1u) << mode << ": " << traced;
    EXPECT_EQ(Numbers(lines[0]), NaiveDisplacement(src, 8, 8, map, 6, 6, 1, 1, 32, -48, mode, 0xFF00FF00u)) << mode;
  }
}

}  // namespace
}  // namespace quarvel::player
