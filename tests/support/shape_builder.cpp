#include "support/shape_builder.h"

#include <algorithm>
#include <stdexcept>
#include <string>

#include "support/swf_writer.h"

namespace quarvel::testing {

FillStyle FillStyle::Solid(swf::Rgba c) {
  FillStyle f;
  f.kind = Kind::kSolid;
  f.color = c;
  return f;
}

FillStyle FillStyle::Linear(std::vector<GradientStop> stops, const swf::Matrix& m) {
  FillStyle f;
  f.kind = Kind::kLinearGradient;
  f.stops = std::move(stops);
  f.matrix = m;
  return f;
}

FillStyle FillStyle::Radial(std::vector<GradientStop> stops, const swf::Matrix& m) {
  FillStyle f = Linear(std::move(stops), m);
  f.kind = Kind::kRadialGradient;
  return f;
}

FillStyle FillStyle::Focal(std::vector<GradientStop> stops, double focal, const swf::Matrix& m) {
  FillStyle f = Linear(std::move(stops), m);
  f.kind = Kind::kFocalGradient;
  f.focalPoint = focal;
  return f;
}

FillStyle FillStyle::Bitmap(std::uint16_t id, const swf::Matrix& m, bool clipped, bool smoothed) {
  FillStyle f;
  f.bitmapId = id;
  f.matrix = m;
  if (smoothed) f.kind = clipped ? Kind::kClippedBitmap : Kind::kRepeatingBitmap;
  else f.kind = clipped ? Kind::kNonSmoothedClippedBitmap : Kind::kNonSmoothedRepeatingBitmap;
  return f;
}

std::uint16_t ShapeBuilder::AddFill(const FillStyle& f) {
  styles_.back().fills.push_back(f);
  return static_cast<std::uint16_t>(styles_.back().fills.size());
}

std::uint16_t ShapeBuilder::AddLine(const LineStyle& l) {
  styles_.back().lines.push_back(l);
  return static_cast<std::uint16_t>(styles_.back().lines.size());
}

ShapeBuilder& ShapeBuilder::SetFill0(std::uint16_t index) {
  ops_.push_back({Op::kFill0, index});
  return *this;
}

ShapeBuilder& ShapeBuilder::SetFill1(std::uint16_t index) {
  ops_.push_back({Op::kFill1, index});
  return *this;
}

ShapeBuilder& ShapeBuilder::SetLine(std::uint16_t index) {
  ops_.push_back({Op::kLine, index});
  return *this;
}

void ShapeBuilder::Extend(std::int32_t x, std::int32_t y) {
  if (!has_points_) {
    bounds_ = {x, x, y, y};
    has_points_ = true;
    return;
  }
  bounds_.xmin = std::min(bounds_.xmin, x);
  bounds_.xmax = std::max(bounds_.xmax, x);
  bounds_.ymin = std::min(bounds_.ymin, y);
  bounds_.ymax = std::max(bounds_.ymax, y);
}

ShapeBuilder& ShapeBuilder::MoveTo(std::int32_t x, std::int32_t y) {
  ops_.push_back({Op::kMove, x, y});
  Extend(x, y);
  return *this;
}

ShapeBuilder& ShapeBuilder::LineTo(std::int32_t x, std::int32_t y) {
  ops_.push_back({Op::kLineTo, x, y});
  Extend(x, y);
  return *this;
}

ShapeBuilder& ShapeBuilder::CurveTo(std::int32_t cx, std::int32_t cy, std::int32_t x,
                                    std::int32_t y) {
  ops_.push_back({Op::kCurveTo, cx, cy, x, y});
  Extend(cx, cy);
  Extend(x, y);
  return *this;
}

ShapeBuilder& ShapeBuilder::NewStyles() {
  styles_.emplace_back();
  ops_.push_back({Op::kNewStyles});
  return *this;
}

ShapeBuilder& ShapeBuilder::Rectangle(std::int32_t x, std::int32_t y, std::int32_t w,
                                      std::int32_t h, std::uint16_t fill, std::uint16_t line) {
  SetFill0(0).SetFill1(fill).SetLine(line).MoveTo(x, y);
  return LineTo(x + w, y).LineTo(x + w, y + h).LineTo(x, y + h).LineTo(x, y);
}

swf::Rect ShapeBuilder::EdgeBounds() const { return bounds_; }

swf::Rect ShapeBuilder::ShapeBounds() const {
  std::int32_t widest = 0;
  for (const auto& s : styles_)
    for (const auto& l : s.lines) widest = std::max<std::int32_t>(widest, l.width);
  const std::int32_t half = widest / 2;
  return {bounds_.xmin - half, bounds_.xmax + half, bounds_.ymin - half, bounds_.ymax + half};
}

namespace {

void Need(bool ok, const std::string& what) {
  if (!ok) throw std::invalid_argument(what);
}

void WriteColor(SwfWriter& w, swf::Rgba c, int version) {
  if (version >= 3) w.Rgba(c);
  else w.Rgb(c);
}

void WriteCount(SwfWriter& w, std::size_t n, int version) {
  if (n < 0xFF) {
    w.U8(static_cast<std::uint8_t>(n));
    return;
  }
  Need(version >= 2 && n <= 0xFFFF, "too many styles for this DefineShape version");
  w.U8(0xFF);
  w.U16(static_cast<std::uint16_t>(n));
}

void WriteFill(SwfWriter& w, const FillStyle& f, int version) {
  w.U8(static_cast<std::uint8_t>(f.kind));
  switch (f.kind) {
    case FillStyle::Kind::kSolid:
      WriteColor(w, f.color, version);
      break;
    case FillStyle::Kind::kFocalGradient:
      Need(version >= 4, "focal gradients need DefineShape4");
      [[fallthrough]];
    case FillStyle::Kind::kLinearGradient:
    case FillStyle::Kind::kRadialGradient:
      Need(f.stops.size() <= 15, "a gradient holds at most 15 stops");
      w.Matrix(f.matrix);
      w.UB(f.spreadMode, 2);
      w.UB(f.interpolationMode, 2);
      w.UB(static_cast<std::uint32_t>(f.stops.size()), 4);
      for (const auto& s : f.stops) {
        w.U8(s.ratio);
        WriteColor(w, s.color, version);
      }
      if (f.kind == FillStyle::Kind::kFocalGradient) w.Fixed8(f.focalPoint);
      break;
    default:
      w.U16(f.bitmapId);
      w.Matrix(f.matrix);
      break;
  }
}

void WriteLine(SwfWriter& w, const LineStyle& l, int version) {
  w.U16(l.width);
  if (version < 4) {
    Need(!l.fill, "filled lines need DefineShape4");
    WriteColor(w, l.color, version);
    return;
  }
  w.UB(l.startCap, 2);
  w.UB(l.join, 2);
  w.UB(l.fill.has_value(), 1);
  w.UB(l.noHScale, 1);
  w.UB(l.noVScale, 1);
  w.UB(l.pixelHinting, 1);
  w.UB(0, 5);
  w.UB(l.noClose, 1);
  w.UB(l.endCap, 2);
  if (l.join == 2) w.Fixed8(l.miterLimit);
  if (l.fill) WriteFill(w, *l.fill, version);
  else w.Rgba(l.color);
}

}  // namespace

std::vector<std::uint8_t> ShapeBuilder::Encode(int version) const {
  Need(version >= 1 && version <= 4, "DefineShape version must be 1 to 4");
  Need(version >= 2 || styles_.size() == 1, "new styles need DefineShape2 or later");
  SwfWriter w;
  std::size_t group = 0;
  auto write_arrays = [&](const Styles& s) {
    WriteCount(w, s.fills.size(), version);
    for (const auto& f : s.fills) WriteFill(w, f, version);
    WriteCount(w, s.lines.size(), version);
    for (const auto& l : s.lines) WriteLine(w, l, version);
  };
  write_arrays(styles_[0]);
  unsigned fill_bits = UnsignedBits(styles_[0].fills.size());
  unsigned line_bits = UnsignedBits(styles_[0].lines.size());
  Need(fill_bits <= 15 && line_bits <= 15, "too many styles");
  w.UB(fill_bits, 4);
  w.UB(line_bits, 4);

  std::int32_t px = 0, py = 0;
  std::size_t i = 0;
  while (i < ops_.size()) {
    const Op& op = ops_[i];
    if (op.kind == Op::kNewStyles) {
      ++group;
      w.UB(0, 1);                  // TypeFlag: style change
      w.UB(0b10000, 5);            // StateNewStyles only
      write_arrays(styles_[group]);
      fill_bits = UnsignedBits(styles_[group].fills.size());
      line_bits = UnsignedBits(styles_[group].lines.size());
      Need(fill_bits <= 15 && line_bits <= 15, "too many styles");
      w.UB(fill_bits, 4);
      w.UB(line_bits, 4);
      ++i;
      continue;
    }
    if (op.kind == Op::kLineTo) {
      const std::int32_t dx = op.a - px, dy = op.b - py;
      const unsigned n = std::max({SignedBits(dx), SignedBits(dy), 2u});
      Need(n <= 17, "edge longer than 65535 twips");
      w.UB(1, 1);  // edge
      w.UB(1, 1);  // straight
      w.UB(n - 2, 4);
      if (dx != 0 && dy != 0) {
        w.UB(1, 1);  // general line
        w.SB(dx, n);
        w.SB(dy, n);
      } else if (dx == 0 && dy != 0) {
        w.UB(0, 1);
        w.UB(1, 1);  // vertical
        w.SB(dy, n);
      } else {
        w.UB(0, 1);
        w.UB(0, 1);  // horizontal (also a zero-length edge)
        w.SB(dx, n);
      }
      px = op.a;
      py = op.b;
      ++i;
      continue;
    }
    if (op.kind == Op::kCurveTo) {
      const std::int32_t cdx = op.a - px, cdy = op.b - py, adx = op.c - op.a, ady = op.d - op.b;
      const unsigned n =
          std::max({SignedBits(cdx), SignedBits(cdy), SignedBits(adx), SignedBits(ady), 2u});
      Need(n <= 17, "curve longer than 65535 twips");
      w.UB(1, 1);
      w.UB(0, 1);
      w.UB(n - 2, 4);
      w.SB(cdx, n);
      w.SB(cdy, n);
      w.SB(adx, n);
      w.SB(ady, n);
      px = op.c;
      py = op.d;
      ++i;
      continue;
    }
    // Gather consecutive style changes and moves into one record.
    std::optional<std::uint16_t> f0, f1, ln;
    std::optional<std::pair<std::int32_t, std::int32_t>> move;
    while (i < ops_.size() && (ops_[i].kind == Op::kFill0 || ops_[i].kind == Op::kFill1 ||
                               ops_[i].kind == Op::kLine || ops_[i].kind == Op::kMove)) {
      const Op& s = ops_[i++];
      if (s.kind == Op::kFill0) f0 = static_cast<std::uint16_t>(s.a);
      if (s.kind == Op::kFill1) f1 = static_cast<std::uint16_t>(s.a);
      if (s.kind == Op::kLine) ln = static_cast<std::uint16_t>(s.a);
      if (s.kind == Op::kMove) move = std::pair{s.a, s.b};
    }
    const Styles& cur = styles_[group];
    Need(!f0 || *f0 <= cur.fills.size(), "fill style index out of range");
    Need(!f1 || *f1 <= cur.fills.size(), "fill style index out of range");
    Need(!ln || *ln <= cur.lines.size(), "line style index out of range");
    // A record with no flags would read as the end of the shape.
    if (!f0 && !f1 && !ln && !move) continue;
    w.UB(0, 1);
    w.UB(0, 1);  // StateNewStyles
    w.UB(ln.has_value(), 1);
    w.UB(f1.has_value(), 1);
    w.UB(f0.has_value(), 1);
    w.UB(move.has_value(), 1);
    if (move) {
      const unsigned n = std::max(SignedBits(move->first), SignedBits(move->second));
      Need(n <= 31, "move too far");
      w.UB(n, 5);
      w.SB(move->first, n);
      w.SB(move->second, n);
      px = move->first;
      py = move->second;
    }
    if (f0) w.UB(*f0, fill_bits);
    if (f1) w.UB(*f1, fill_bits);
    if (ln) w.UB(*ln, line_bits);
  }
  w.UB(0, 6);  // EndShapeRecord
  return w.Take();
}

}  // namespace quarvel::testing
