// BitmapData's pixel access and pixel tests: getVector/setVector,
// getPixels/setPixels/copyPixelsToByteArray, histogram, hitTest, threshold,
// compare, getColorBoundsRect, paletteMap, copyChannel and merge; encode.
#include <png.h>

#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>

#include <jpeglib.h>

#include "player/as3/display_binding_p.h"

namespace quarvel::player::as3 {
namespace {

// The part of a rectangle argument inside the picture.
PixelRect Inside(Machine& m, const Value& r, const BitmapData& e) { return RectArg(m, r).Intersect(e.Bounds()); }

avm2::ByteArrayObject* BytesArg(Machine& m, const Value& v, const char* name) {
  Object* o = v.IsObject() ? v.AsObject() : nullptr;
  if (!o || o->kind != avm2::ObjectKind::kByteArray)
    m.ThrowError("TypeError", std::string("Parameter ") + name + " must be non-null.", 2007);
  return static_cast<avm2::ByteArrayObject*>(o);
}

BitmapDataObject* SourceArg(Machine& m, std::span<Value> a) {
  BitmapDataObject* src = ArgAs<BitmapDataObject>(m, m.ArgOr(a, 0), "flash.display::BitmapData");
  if (!src) m.ThrowError("TypeError", "Parameter sourceBitmapData must be non-null.", 2007);
  if (!src->bitmap) m.ThrowError("ArgumentError", "Invalid BitmapData.", 2015);
  return src;
}

// A Point argument, floored; throws for none.
std::pair<int, int> PointArg(Machine& m, const Value& p, const char* name) {
  if (!p.IsObject()) m.ThrowError("TypeError", std::string("Parameter ") + name + " must be non-null.", 2007);
  const auto whole = [&](const char* n) {
    const double d = GetN(m, p, n);
    return std::isfinite(d) ? static_cast<int>(std::clamp(std::floor(d), -1e7, 1e7)) : 0;
  };
  return {whole("x"), whole("y")};
}

// The common (source, sourceRect, destPoint) of the copying operations.
struct CopyArgs {
  std::shared_ptr<BitmapData> src;
  PixelRect rect;
  int x = 0, y = 0;
};
CopyArgs ReadCopy(Machine& m, std::span<Value> a) {
  CopyArgs c;
  c.src = PixelEngine(m, SourceArg(m, a));
  c.rect = RectArg(m, m.ArgOr(a, 1));
  std::tie(c.x, c.y) = PointArg(m, m.ArgOr(a, 2), "destPoint");
  return c;
}

NATIVE(BdGetVector) {
  BitmapDataObject* f = SelfBitmap(m, self);
  const auto e = PixelEngine(m, f);
  const PixelRect r = Inside(m, m.ArgOr(a, 0), *e);
  Object* v = m.Construct(m.VectorOf(m.uintClass), {});
  if (auto* arr = avm2::AsArray(Value::Obj(v)))
    for (int y = r.y; y < r.y + r.height; ++y)
      for (int x = r.x; x < r.x + r.width; ++x) arr->elems.push_back(Value::Number(e->GetPixel32(x, y)));
  return Value::Obj(v);
}

// Writes pixels row by row from `next`, which gives false once it runs out:
// Flash then stops with the error the caller throws.
template <class Next>
bool WritePixels(BitmapData& e, const PixelRect& r, Next next) {
  for (int y = r.y; y < r.y + r.height; ++y) {
    for (int x = r.x; x < r.x + r.width; ++x) {
      std::uint32_t argb = 0;
      if (!next(argb)) return false;
      e.SetPixel32(x, y, argb);
    }
  }
  return true;
}

NATIVE(BdSetVector) {
  BitmapDataObject* f = SelfBitmap(m, self);
  const auto e = PixelEngine(m, f);
  const PixelRect r = Inside(m, m.ArgOr(a, 0), *e);
  auto* arr = avm2::AsArray(m.ArgOr(a, 1));
  if (!arr) m.ThrowError("TypeError", "Parameter imputVector must be non-null.", 2007);  // Flash's spelling
  // Too few values: refused before any pixel changes.
  if (arr->elems.size() < static_cast<std::size_t>(r.width) * r.height)
    m.ThrowError("RangeError", "The supplied index is out of bounds.", 2006);
  std::size_t i = 0;
  WritePixels(*e, r, [&](std::uint32_t& argb) {
    argb = m.ToUint(arr->elems[i++]);
    return true;
  });
  Changed(m, f);
  return Value();
}

// The pixels as big-endian ARGB bytes at the array's position, which moves past them.
void PutPixels(const BitmapData& e, const PixelRect& r, avm2::ByteArrayObject& out) {
  const std::size_t need = out.position + static_cast<std::size_t>(r.width) * r.height * 4;
  if (out.bytes.size() < need) out.bytes.resize(need);
  for (int y = r.y; y < r.y + r.height; ++y) {
    for (int x = r.x; x < r.x + r.width; ++x) {
      const std::uint32_t c = e.GetPixel32(x, y);
      for (int shift = 24; shift >= 0; shift -= 8) out.bytes[out.position++] = static_cast<std::uint8_t>(c >> shift);
    }
  }
}

NATIVE(BdGetPixels) {
  BitmapDataObject* f = SelfBitmap(m, self);
  const auto e = PixelEngine(m, f);
  const PixelRect r = Inside(m, m.ArgOr(a, 0), *e);
  Object* o = m.Construct(m.FindClass("flash.utils::ByteArray"), {});
  PutPixels(*e, r, *static_cast<avm2::ByteArrayObject*>(o));
  return Value::Obj(o);
}

NATIVE(BdCopyPixelsToByteArray) {
  BitmapDataObject* f = SelfBitmap(m, self);
  const auto e = PixelEngine(m, f);
  const PixelRect r = Inside(m, m.ArgOr(a, 0), *e);
  PutPixels(*e, r, *BytesArg(m, m.ArgOr(a, 1), "data"));
  return Value();
}

NATIVE(BdSetPixels) {
  BitmapDataObject* f = SelfBitmap(m, self);
  const auto e = PixelEngine(m, f);
  const PixelRect r = Inside(m, m.ArgOr(a, 0), *e);
  avm2::ByteArrayObject* in = BytesArg(m, m.ArgOr(a, 1), "inputByteArray");
  const bool whole = WritePixels(*e, r, [&](std::uint32_t& argb) {
    if (in->position + 4 > in->bytes.size()) return false;
    for (int k = 0; k < 4; ++k) argb = argb << 8 | in->bytes[in->position++];
    return true;
  });
  Changed(m, f);
  if (!whole) m.ThrowError("EOFError", "End of file was encountered.", 2030);
  return Value();
}

// Four Vector.<Number> of 256 counts: red, green, blue, alpha.
NATIVE(BdHistogram) {
  BitmapDataObject* f = SelfBitmap(m, self);
  const auto e = PixelEngine(m, f);
  const PixelRect r = a.empty() || a[0].IsNullish() ? e->Bounds() : Inside(m, a[0], *e);
  std::array<std::array<double, 256>, 4> counts{};
  for (int y = r.y; y < r.y + r.height; ++y) {
    for (int x = r.x; x < r.x + r.width; ++x) {
      const std::uint32_t c = e->GetPixel32(x, y);
      ++counts[0][(c >> 16) & 255], ++counts[1][(c >> 8) & 255], ++counts[2][c & 255], ++counts[3][c >> 24];
    }
  }
  Class* numbers = m.VectorOf(m.numberClass);
  Object* out = m.Construct(m.VectorOf(numbers), {});
  auto* list = avm2::AsArray(Value::Obj(out));
  for (const auto& channel : counts) {
    Object* v = m.Construct(numbers, {});
    if (auto* arr = avm2::AsArray(Value::Obj(v)))
      for (double n : channel) arr->elems.push_back(Value::Number(n));
    if (list) list->elems.push_back(Value::Obj(v));
  }
  return Value::Obj(out);
}

// hitTest(firstPoint, firstAlphaThreshold, secondObject, secondBitmapDataPoint, secondAlphaThreshold):
// the second object is a BitmapData or Bitmap (placed at its point), a Rectangle or a Point.
NATIVE(BdHitTest) {
  BitmapDataObject* f = SelfBitmap(m, self);
  const auto e = PixelEngine(m, f);
  const auto [fx, fy] = PointArg(m, m.ArgOr(a, 0), "firstPoint");
  const auto alpha = [&](std::size_t i, std::uint32_t dflt) {
    return i < a.size() ? std::min<std::uint32_t>(m.ToUint(a[i]), 255) : dflt;
  };
  const std::uint32_t t1 = alpha(1, 0);
  const Value second = m.ArgOr(a, 2);
  BitmapDataObject* other = As<BitmapDataObject>(second);
  if (!other)
    if (FlashObject* shown = As<DisplayObj>(second); shown && shown->cls && shown->cls->IsSubclassOf(B(m).bitmapClass))
      other = As<BitmapDataObject>(shown->bitmapData);
  if (other) {
    if (!other->bitmap) m.ThrowError("ArgumentError", "Invalid BitmapData.", 2015);
    const auto [sx, sy] = PointArg(m, m.ArgOr(a, 3), "secondBitmapDataPoint");
    return Value::Bool(e->Overlaps(fx, fy, t1, *PixelEngine(m, other), sx, sy, alpha(4, 1)));
  }
  // Against a point or a rectangle a fully transparent pixel never counts.
  const std::uint32_t seen = std::max(t1, 1u);
  Class* rect = m.FindClass("flash.geom::Rectangle");
  Class* point = m.FindClass("flash.geom::Point");
  Object* o = second.IsObject() ? second.AsObject() : nullptr;
  if (o && o->cls && rect && o->cls->IsSubclassOf(rect)) {
    const PixelRect r = RectArg(m, second);
    return Value::Bool(e->AnySolid({r.x - fx, r.y - fy, r.width, r.height}, seen));
  }
  if (o && o->cls && point && o->cls->IsSubclassOf(point)) {
    const auto [px, py] = PointArg(m, second, "secondObject");
    return Value::Bool(e->AnySolid({px - fx, py - fy, 1, 1}, seen));
  }
  m.ThrowError("ArgumentError", "Parameter 0 is of the incorrect type. Should be type BitmapData, Point, Rectangle, Bitmap.", 2005);
  return Value();
}

// threshold(source, sourceRect, destPoint, operation, threshold, color, mask, copySource): the pixels changed.
NATIVE(BdThreshold) {
  BitmapDataObject* f = SelfBitmap(m, self);
  const CopyArgs c = ReadCopy(m, a);
  const Value opArg = m.ArgOr(a, 3);
  if (opArg.IsNullish()) m.ThrowError("TypeError", "Parameter operation must be non-null.", 2007);
  const std::string op = m.ToString(opArg);
  static constexpr std::string_view kOps[] = {"<", "<=", ">", ">=", "==", "!="};
  if (std::find(std::begin(kOps), std::end(kOps), op) == std::end(kOps))
    m.ThrowError("ArgumentError", "Parameter operation must be one of the accepted values.", 2005);
  const std::uint32_t mask = a.size() > 6 ? m.ToUint(a[6]) : 0xFFFFFFFFu;
  const int n = PixelEngine(m, f)->Threshold(*c.src, c.rect, c.x, c.y, op, m.ToUint(m.ArgOr(a, 4)), m.ToUint(m.ArgOr(a, 5)),
                                             mask, a.size() > 7 && m.ToBoolean(a[7]));
  Changed(m, f);
  return Value::Number(std::max(n, 0));
}

// pixelDissolve(source, sourceRect, destPoint, randomSeed, numPixels,
// fillColor): the seed that continues the dissolve.
NATIVE(BdPixelDissolve) {
  BitmapDataObject* f = SelfBitmap(m, self);
  BitmapDataObject* src = SourceArg(m, a);
  const Value r = m.ArgOr(a, 1);
  if (!r.IsObject()) m.ThrowError("TypeError", "Parameter sourceRect must be non-null.", 2007);
  const PixelRect rect = RectArg(m, r);
  const auto [x, y] = PointArg(m, m.ArgOr(a, 2), "destPoint");
  const int seed = m.ToInt(m.ArgOr(a, 3)), count = m.ToInt(m.ArgOr(a, 4));
  if (count < 0)
    m.ThrowError("RangeError", "Parameter numPixels must be a non-negative number; got " + std::to_string(count) + ".",
                 2027);
  // One engine when the source is this picture: then the fill colour is drawn.
  const auto to = PixelEngine(m, f), from = src == f ? to : PixelEngine(m, src);
  const int next =
      to->PixelDissolve(*from, rect, x, y, seed, static_cast<std::uint32_t>(count), m.ToUint(m.ArgOr(a, 5)));
  Changed(m, f);
  return Value::Int(next);
}

// compare(other): 0 when equal, -3/-4 for other widths/heights, -2 for
// another kind of picture, else a picture of the differences.
NATIVE(BdCompare) {
  BitmapDataObject* f = SelfBitmap(m, self);
  BitmapDataObject* o = ArgAs<BitmapDataObject>(m, m.ArgOr(a, 0), "flash.display::BitmapData");
  if (!o) m.ThrowError("TypeError", "Parameter otherBitmapData must be non-null.", 2007);
  if (!o->bitmap) m.ThrowError("ArgumentError", "Invalid BitmapData.", 2015);
  if (o == f) return Value::Int(0);
  const auto e = PixelEngine(m, f), other = PixelEngine(m, o);
  if (e->Width() != other->Width()) return Value::Int(-3);
  if (e->Height() != other->Height()) return Value::Int(-4);
  bool same = true;
  std::vector<std::uint32_t> diff(static_cast<std::size_t>(e->Width()) * e->Height());
  for (int y = 0; y < e->Height(); ++y) {
    for (int x = 0; x < e->Width(); ++x) {
      const std::uint32_t p = e->GetPixel32(x, y), q = other->GetPixel32(x, y);
      std::uint32_t d = 0;
      if ((p & 0xFFFFFF) != (q & 0xFFFFFF)) {
        // Colour differences, opaque.
        for (int s = 0; s < 24; s += 8) d |= ((((p >> s) & 255) - ((q >> s) & 255)) & 255) << s;
        d |= 0xFF000000u;
      } else if ((p >> 24) != (q >> 24)) {
        d = (((p >> 24) - (q >> 24)) & 255) << 24 | 0xFFFFFF;  // alpha alone: white at the difference
      }
      same = same && d == 0;
      diff[static_cast<std::size_t>(y) * e->Width() + x] = d;
    }
  }
  if (same) return Value::Int(0);
  Value args[4] = {Value::Int(e->Width()), Value::Int(e->Height()), Value::Bool(true), Value::Int(0)};
  const Value out = Value::Obj(m.Construct(m.FindClass("flash.display::BitmapData"), args));
  BitmapDataObject* d = As<BitmapDataObject>(out);
  if (!d) return Value::Null();
  const auto de = PixelEngine(m, d);
  for (int y = 0; y < e->Height(); ++y)
    for (int x = 0; x < e->Width(); ++x) de->SetPixel32(x, y, diff[static_cast<std::size_t>(y) * e->Width() + x]);
  Changed(m, d);
  return out;
}

NATIVE(BdGetColorBoundsRect) {
  BitmapDataObject* f = SelfBitmap(m, self);
  const PixelRect r = PixelEngine(m, f)->ColorBounds(m.ToUint(m.ArgOr(a, 0)), m.ToUint(m.ArgOr(a, 1)),
                                                      a.size() < 3 || m.ToBoolean(a[2]));
  return NewRect(m, r.x, r.y, r.width, r.height);
}

NATIVE(BdPaletteMap) {
  BitmapDataObject* f = SelfBitmap(m, self);
  const CopyArgs c = ReadCopy(m, a);
  std::array<std::optional<std::vector<std::uint32_t>>, 4> tables;
  for (std::size_t k = 0; k < 4; ++k) {
    auto* t = avm2::AsArray(m.ArgOr(a, 3 + k));
    if (!t) continue;
    std::vector<std::uint32_t> v(256, 0);
    for (std::size_t i = 0; i < 256 && i < t->elems.size(); ++i) v[i] = m.ToUint(t->elems[i]);
    tables[k] = std::move(v);
  }
  PixelEngine(m, f)->PaletteMap(*c.src, c.rect, c.x, c.y, tables);
  Changed(m, f);
  return Value();
}

NATIVE(BdCopyChannel) {
  BitmapDataObject* f = SelfBitmap(m, self);
  const CopyArgs c = ReadCopy(m, a);
  PixelEngine(m, f)->CopyChannel(*c.src, c.rect, c.x, c.y, m.ToInt(m.ArgOr(a, 3)), m.ToInt(m.ArgOr(a, 4)));
  Changed(m, f);
  return Value();
}

NATIVE(BdMerge) {
  BitmapDataObject* f = SelfBitmap(m, self);
  const CopyArgs c = ReadCopy(m, a);
  const int mult[4] = {m.ToInt(m.ArgOr(a, 3)), m.ToInt(m.ArgOr(a, 4)), m.ToInt(m.ArgOr(a, 5)), m.ToInt(m.ArgOr(a, 6))};
  PixelEngine(m, f)->Merge(*c.src, c.rect, c.x, c.y, mult);
  Changed(m, f);
  return Value();
}

// The rectangle's pixels as a PNG file: straight RGBA for a transparent
// picture, RGB for an opaque one. Empty when libpng fails.
std::string EncodePng(const BitmapData& e, const PixelRect& r, bool fast) {
  const bool alpha = e.Transparent();
  const int channels = alpha ? 4 : 3;
  std::vector<std::uint8_t> rows(static_cast<std::size_t>(r.width) * r.height * channels);
  std::size_t at = 0;
  for (int y = r.y; y < r.y + r.height; ++y)
    for (int x = r.x; x < r.x + r.width; ++x) {
      const std::uint32_t c = e.GetPixel32(x, y);
      rows[at++] = static_cast<std::uint8_t>(c >> 16), rows[at++] = static_cast<std::uint8_t>(c >> 8);
      rows[at++] = static_cast<std::uint8_t>(c);
      if (alpha) rows[at++] = static_cast<std::uint8_t>(c >> 24);
    }
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = static_cast<png_uint_32>(r.width);
  image.height = static_cast<png_uint_32>(r.height);
  image.format = alpha ? PNG_FORMAT_RGBA : PNG_FORMAT_RGB;
  image.flags = fast ? PNG_IMAGE_FLAG_FAST : 0;
  png_alloc_size_t size = 0;
  if (!png_image_write_to_memory(&image, nullptr, &size, 0, rows.data(), 0, nullptr)) return {};
  std::string out(size, '\0');
  if (!png_image_write_to_memory(&image, out.data(), &size, 0, rows.data(), 0, nullptr)) {
    png_image_free(&image);
    return {};
  }
  out.resize(size);
  return out;
}

// libjpeg reports a fault by calling error_exit, which must not return.
struct JpegJump {
  jpeg_error_mgr mgr;
  std::jmp_buf jump;
};
void JpegErrorExit(j_common_ptr info) { std::longjmp(reinterpret_cast<JpegJump*>(info->err)->jump, 1); }

// Kept free of objects with destructors because of the longjmp. `rgb` holds
// the rows; `buffer` gets the file (malloc'd), null on a fault.
void CompressJpeg(const std::uint8_t* rgb, int w, int h, int quality, unsigned char** buffer, unsigned long* size) {
  jpeg_compress_struct info;
  JpegJump err;
  info.err = jpeg_std_error(&err.mgr);
  err.mgr.error_exit = JpegErrorExit;
  if (setjmp(err.jump)) {
    jpeg_destroy_compress(&info);
    std::free(*buffer);
    *buffer = nullptr;
    return;
  }
  jpeg_create_compress(&info);
  jpeg_mem_dest(&info, buffer, size);
  info.image_width = static_cast<JDIMENSION>(w);
  info.image_height = static_cast<JDIMENSION>(h);
  info.input_components = 3;
  info.in_color_space = JCS_RGB;
  jpeg_set_defaults(&info);
  jpeg_set_quality(&info, quality, TRUE);
  jpeg_start_compress(&info, TRUE);
  while (info.next_scanline < info.image_height) {
    JSAMPROW row = const_cast<JSAMPROW>(rgb + static_cast<std::size_t>(info.next_scanline) * w * 3);
    jpeg_write_scanlines(&info, &row, 1);
  }
  jpeg_finish_compress(&info);
  jpeg_destroy_compress(&info);
}

// The rectangle's colours (alpha dropped) as a baseline JPEG of `quality`.
std::string EncodeJpeg(const BitmapData& e, const PixelRect& r, int quality) {
  std::vector<std::uint8_t> rgb(static_cast<std::size_t>(r.width) * r.height * 3);
  std::size_t at = 0;
  for (int y = r.y; y < r.y + r.height; ++y)
    for (int x = r.x; x < r.x + r.width; ++x) {
      const std::uint32_t c = e.GetPixel32(x, y);
      rgb[at++] = static_cast<std::uint8_t>(c >> 16), rgb[at++] = static_cast<std::uint8_t>(c >> 8);
      rgb[at++] = static_cast<std::uint8_t>(c);
    }
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  CompressJpeg(rgb.data(), r.width, r.height, std::clamp(quality, 1, 100), &buffer, &size);
  std::string out = buffer ? std::string(reinterpret_cast<const char*>(buffer), size) : std::string();
  std::free(buffer);
  return out;
}

// encode(rect, compressor, byteArray = null): the rectangle as a PNG or JPEG
// file (what Loader.loadBytes reads back), written at the array's position
// (a new array when none is given), which is returned.
NATIVE(BdEncode) {
  BitmapDataObject* f = SelfBitmap(m, self);
  const auto e = PixelEngine(m, f);
  if (!m.ArgOr(a, 0).IsObject()) m.ThrowError("TypeError", "Parameter rect must be non-null.", 2007);
  const Value options = m.ArgOr(a, 1);
  Object* opts = options.IsObject() ? options.AsObject() : nullptr;
  if (!opts) m.ThrowError("TypeError", "Parameter compressor must be non-null.", 2007);
  const PixelRect r = Inside(m, m.ArgOr(a, 0), *e);
  Value target = m.ArgOr(a, 2);
  avm2::ByteArrayObject* out = nullptr;
  if (target.IsObject() && target.AsObject()->kind == avm2::ObjectKind::kByteArray) {
    out = static_cast<avm2::ByteArrayObject*>(target.AsObject());
  } else {
    target = Value::Obj(m.Construct(m.FindClass("flash.utils::ByteArray"), {}));
    out = static_cast<avm2::ByteArrayObject*>(target.AsObject());
  }
  std::string_view kind = opts->cls ? std::string_view(opts->cls->name) : std::string_view();
  if (r.Empty()) return target;
  m.Charge(static_cast<std::size_t>(r.width) * r.height * 4);
  std::string file;
  if (kind == "PNGEncoderOptions") {
    file = EncodePng(*e, r, m.ToBoolean(m.GetProperty(options, "fastCompression")));
  } else if (kind == "JPEGEncoderOptions") {
    file = EncodeJpeg(*e, r, static_cast<int>(m.ToUint(m.GetProperty(options, "quality"))));
  } else {
    m.Skip("BitmapData.encode with " + std::string(kind.empty() ? "an unknown compressor" : kind));
    return target;
  }
  const std::size_t at = std::min<std::size_t>(out->position, out->bytes.size());
  if (out->bytes.size() < at + file.size()) out->bytes.resize(at + file.size());
  std::copy(file.begin(), file.end(), out->bytes.begin() + static_cast<std::ptrdiff_t>(at));
  out->position = static_cast<std::uint32_t>(at + file.size());
  return target;
}

constexpr std::pair<std::string_view, avm2::NativeFn> kPixelMethods[] = {
    {"encode", BdEncode},
    {"getVector", BdGetVector},
    {"setVector", BdSetVector},
    {"getPixels", BdGetPixels},
    {"setPixels", BdSetPixels},
    {"copyPixelsToByteArray", BdCopyPixelsToByteArray},
    {"histogram", BdHistogram},
    {"hitTest", BdHitTest},
    {"threshold", BdThreshold},
    {"pixelDissolve", BdPixelDissolve},
    {"compare", BdCompare},
    {"getColorBoundsRect", BdGetColorBoundsRect},
    {"paletteMap", BdPaletteMap},
    {"copyChannel", BdCopyChannel},
    {"merge", BdMerge},
};

}  // namespace

void AddBitmapPixelMethods(As3Display& b) {
  Class* cls = b.m.FindClass("flash.display::BitmapData");
  for (const auto& [name, fn] : kPixelMethods) b.m.AddMethod(cls, name, fn);
}

}  // namespace quarvel::player::as3
