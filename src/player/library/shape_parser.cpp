#include "player/library/shape_parser.h"

#include <algorithm>
#include <cmath>
#include <unordered_map>

namespace quarvel::player {
namespace {

using swf::Reader;

Gradient ReadGradient(Reader& r, int version, bool focal) {
  Gradient g;
  g.spread = static_cast<int>(r.UB(2, "SpreadMode"));
  g.interpolation = static_cast<int>(r.UB(2, "InterpolationMode"));
  const unsigned count = r.UB(4, "NumGradients");
  for (unsigned i = 0; i < count; ++i) {
    GradientStop s;
    s.ratio = r.U8("Ratio");
    s.color = version >= 3 ? swf::ReadRgba(r) : swf::ReadRgb(r);
    g.stops.push_back(s);
  }
  if (focal) g.focal = std::clamp(r.Fixed8("FocalPoint"), -1.0, 1.0);
  if (g.spread == 3) g.spread = 0;
  return g;
}

std::size_t ReadCount(Reader& r, int version) {
  std::size_t n = r.U8("count");
  if (n == 0xFF && version >= 2) n = r.U16("count extended");
  return n;
}

LineStyle ReadLineStyle(Reader& r, int version) {
  LineStyle l;
  l.width = r.U16("Width");
  if (version < 4) {
    l.color = version >= 3 ? swf::ReadRgba(r) : swf::ReadRgb(r);
    return l;
  }
  l.startCap = static_cast<int>(r.UB(2, "StartCapStyle"));
  l.join = static_cast<int>(r.UB(2, "JoinStyle"));
  l.hasFill = r.UB(1, "HasFillFlag") != 0;
  l.noHScale = r.UB(1, "NoHScaleFlag") != 0;
  l.noVScale = r.UB(1, "NoVScaleFlag") != 0;
  r.UB(1, "PixelHintingFlag");
  r.UB(5, "Reserved");
  r.UB(1, "NoClose");
  l.endCap = static_cast<int>(r.UB(2, "EndCapStyle"));
  if (l.join == 2) l.miterLimit = std::max(1.0, r.Fixed8("MiterLimitFactor"));
  if (l.hasFill) {
    l.fill = ReadFillStyle(r, version);
    if (l.fill.kind == FillStyle::Kind::kSolid) {
      l.color = l.fill.color;
      l.hasFill = false;
    }
  } else {
    l.color = swf::ReadRgba(r);
  }
  return l;
}

// Collects edges per style and turns them into layers.
class ShapeBuilder {
 public:
  void NewLayer(std::vector<FillStyle> fills, std::vector<LineStyle> lines) {
    Finish();
    layers_.emplace_back();
    auto& l = layers_.back();
    l.fills = std::move(fills);
    l.lines = std::move(lines);
    fillEdges_.assign(l.fills.size(), {});
    l.linePaths.assign(l.lines.size(), {});
    fill0_ = fill1_ = line_ = 0;
  }
  void SetFill0(std::uint32_t s) { fill0_ = s; }
  void SetFill1(std::uint32_t s) { fill1_ = s; }
  void SetLine(std::uint32_t s) { line_ = s; }

  void AddEdge(const Edge& e) {
    if (layers_.empty()) NewLayer({}, {});
    if (++edgeCount_ > kMaxEdgesPerShape) return;
    auto& l = layers_.back();
    // An edge with one fill on both sides bounds nothing of it: left out,
    // it would open that fill's contours.
    if (fill1_ && fill1_ <= fillEdges_.size() && fill0_ != fill1_) fillEdges_[fill1_ - 1].push_back(e);
    if (fill0_ && fill0_ <= fillEdges_.size() && fill0_ != fill1_) {
      Edge rev = e;
      std::swap(rev.x0, rev.x1);
      std::swap(rev.y0, rev.y1);
      fillEdges_[fill0_ - 1].push_back(rev);
    }
    if (line_ && line_ <= l.linePaths.size()) l.linePaths[line_ - 1].push_back(e);
  }

  std::vector<ShapeLayer> Take() {
    Finish();
    return std::move(layers_);
  }

 private:
  // Chains each fill's edges into contours so that filling the path gives
  // the area on the edges' fill side.
  void Finish() {
    if (layers_.empty() || finished_ == layers_.size()) return;
    auto& l = layers_.back();
    l.fillPaths.clear();
    for (auto& edges : fillEdges_) l.fillPaths.push_back(Chain(edges));
    fillEdges_.clear();
    finished_ = layers_.size();
  }

  static std::vector<Edge> Chain(std::vector<Edge>& edges) {
    std::vector<Edge> out;
    out.reserve(edges.size());
    auto key = [](double x, double y) {
      return (static_cast<std::int64_t>(std::llround(x * 4)) << 32) ^
             static_cast<std::int64_t>(static_cast<std::uint32_t>(std::llround(y * 4)));
    };
    std::unordered_multimap<std::int64_t, std::size_t> byStart;
    byStart.reserve(edges.size());
    for (std::size_t i = 0; i < edges.size(); ++i) byStart.emplace(key(edges[i].x0, edges[i].y0), i);
    std::vector<bool> used(edges.size(), false);
    for (std::size_t i = 0; i < edges.size(); ++i) {
      if (used[i]) continue;
      std::size_t cur = i;
      while (true) {
        used[cur] = true;
        out.push_back(edges[cur]);
        const auto k = key(edges[cur].x1, edges[cur].y1);
        if (k == key(edges[i].x0, edges[i].y0)) break;
        auto range = byStart.equal_range(k);
        std::size_t next = edges.size();
        for (auto it = range.first; it != range.second; ++it) {
          if (!used[it->second]) {
            next = it->second;
            break;
          }
        }
        if (next == edges.size()) break;
        cur = next;
      }
    }
    return out;
  }

  std::vector<ShapeLayer> layers_;
  std::vector<std::vector<Edge>> fillEdges_;
  std::size_t finished_ = 0;
  std::size_t edgeCount_ = 0;
  std::uint32_t fill0_ = 0, fill1_ = 0, line_ = 0;
};

std::vector<FillStyle> ReadFillStyles(Reader& r, int version) {
  std::vector<FillStyle> v;
  const std::size_t n = ReadCount(r, version);
  for (std::size_t i = 0; i < n; ++i) v.push_back(ReadFillStyle(r, version));
  return v;
}

std::vector<LineStyle> ReadLineStyles(Reader& r, int version) {
  std::vector<LineStyle> v;
  const std::size_t n = ReadCount(r, version);
  for (std::size_t i = 0; i < n; ++i) v.push_back(ReadLineStyle(r, version));
  return v;
}

// Walks shape records; `onStyle` gets style-change records, `onEdge` edges
// (absolute coordinates). Stops at the end record or at the end of data;
// a record cut off in the middle ends the shape where it is.
template <typename OnStyle, typename OnEdge>
void ReadRecords(Reader& r, int version, unsigned fillBits, unsigned lineBits, OnStyle onStyle, OnEdge onEdge) {
  double x = 0, y = 0;
  try {
    while (!r.AtEnd()) {
      if (r.UB(1, "TypeFlag") == 0) {
        const unsigned flags = r.UB(5, "StyleChangeFlags");
        if (flags == 0) break;
        MorphRecord rec;
        bool moved = false;
        if (flags & 1) {
          const unsigned bits = r.UB(5, "MoveBits");
          x = r.SB(bits, "MoveDeltaX");
          y = r.SB(bits, "MoveDeltaY");
          moved = true;
        }
        if (flags & 2) rec.hasFill0 = true, rec.fill0 = r.UB(fillBits, "FillStyle0");
        if (flags & 4) rec.hasFill1 = true, rec.fill1 = r.UB(fillBits, "FillStyle1");
        if (flags & 8) rec.hasLine = true, rec.line = r.UB(lineBits, "LineStyle");
        std::vector<FillStyle> fills;
        std::vector<LineStyle> lines;
        const bool newStyles = (flags & 16) != 0 && version >= 2;
        if (newStyles) {
          r.AlignBits();
          fills = ReadFillStyles(r, version);
          lines = ReadLineStyles(r, version);
          fillBits = r.UB(4, "NumFillBits");
          lineBits = r.UB(4, "NumLineBits");
        }
        onStyle(rec, newStyles, std::move(fills), std::move(lines), moved, x, y);
      } else {
        Edge e;
        e.x0 = x;
        e.y0 = y;
        const bool straight = r.UB(1, "StraightFlag") != 0;
        const unsigned bits = r.UB(4, "NumBits") + 2;
        if (straight) {
          double dx = 0, dy = 0;
          if (r.UB(1, "GeneralLineFlag")) {
            dx = r.SB(bits, "DeltaX");
            dy = r.SB(bits, "DeltaY");
          } else if (r.UB(1, "VertLineFlag")) {
            dy = r.SB(bits, "DeltaY");
          } else {
            dx = r.SB(bits, "DeltaX");
          }
          e.x1 = x + dx;
          e.y1 = y + dy;
          e.cx = (e.x0 + e.x1) / 2;
          e.cy = (e.y0 + e.y1) / 2;
        } else {
          e.cx = x + r.SB(bits, "ControlDeltaX");
          e.cy = y + r.SB(bits, "ControlDeltaY");
          e.x1 = e.cx + r.SB(bits, "AnchorDeltaX");
          e.y1 = e.cy + r.SB(bits, "AnchorDeltaY");
          e.curve = true;
        }
        x = e.x1;
        y = e.y1;
        onEdge(e);
      }
    }
  } catch (const swf::SwfError&) {
    // A cut-off shape draws what was read.
  }
}

}  // namespace

FillStyle ReadFillStyle(Reader& r, int version) {
  FillStyle f;
  const std::uint8_t type = r.U8("FillStyleType");
  switch (type) {
    case 0x00:
      f.kind = FillStyle::Kind::kSolid;
      f.color = version >= 3 ? swf::ReadRgba(r) : swf::ReadRgb(r);
      break;
    case 0x10:
    case 0x12:
    case 0x13:
      f.kind = type == 0x10 ? FillStyle::Kind::kLinear : type == 0x12 ? FillStyle::Kind::kRadial : FillStyle::Kind::kFocal;
      f.matrix = swf::ReadMatrix(r, "GradientMatrix");
      f.gradient = ReadGradient(r, version, type == 0x13);
      break;
    case 0x40:
    case 0x41:
    case 0x42:
    case 0x43:
      f.kind = FillStyle::Kind::kBitmap;
      f.bitmapId = r.U16("BitmapId");
      f.matrix = swf::ReadMatrix(r, "BitmapMatrix");
      f.repeat = (type & 1) == 0;
      f.smooth = (type & 2) == 0;
      break;
    default:
      r.Fail("FillStyleType", "unknown fill style type " + std::to_string(type));
  }
  return f;
}

Extent MeasureExtent(const std::vector<ShapeLayer>& layers) {
  Extent x;
  bool any = false;
  auto add = [&](double px, double py) {
    if (!any) {
      x.xmin = x.xmax = px;
      x.ymin = x.ymax = py;
      any = true;
      return;
    }
    x.xmin = std::min(x.xmin, px), x.xmax = std::max(x.xmax, px);
    x.ymin = std::min(x.ymin, py), x.ymax = std::max(x.ymax, py);
  };
  auto addEdges = [&](const std::vector<std::vector<Edge>>& paths) {
    for (const auto& path : paths) {
      x.paths += !path.empty();
      x.edges += path.size();
      for (const Edge& e : path) {
        add(e.x0, e.y0);
        add(e.x1, e.y1);
        if (e.curve) add(e.cx, e.cy);
      }
    }
  };
  for (const auto& layer : layers) {
    addEdges(layer.fillPaths);
    addEdges(layer.linePaths);
    for (std::size_t i = 0; i < layer.fills.size() && i < layer.fillPaths.size(); ++i) {
      if (!layer.fillPaths[i].empty() && layer.fills[i].kind != FillStyle::Kind::kSolid) x.patterned = true;
    }
    for (std::size_t i = 0; i < layer.lines.size() && i < layer.linePaths.size(); ++i) {
      if (layer.linePaths[i].empty()) continue;
      const LineStyle& l = layer.lines[i];
      x.maxLineWidth = std::max(x.maxLineWidth, l.width * (l.join == 2 ? std::max(1.0, l.miterLimit) : 1.0));
      if (l.hasFill) x.patterned = true;
    }
  }
  return x;
}

ShapeGeometry ReadShapeWithStyles(Reader& r, int version) {
  ShapeBuilder b;
  auto fills = ReadFillStyles(r, version);  // fills come before lines in the file
  b.NewLayer(std::move(fills), ReadLineStyles(r, version));
  const unsigned fillBits = r.UB(4, "NumFillBits");
  const unsigned lineBits = r.UB(4, "NumLineBits");
  ReadRecords(
      r, version, fillBits, lineBits,
      [&](const MorphRecord& rec, bool newStyles, std::vector<FillStyle> fills, std::vector<LineStyle> lines, bool,
          double, double) {
        if (newStyles) b.NewLayer(std::move(fills), std::move(lines));
        if (rec.hasFill0) b.SetFill0(rec.fill0);
        if (rec.hasFill1) b.SetFill1(rec.fill1);
        if (rec.hasLine) b.SetLine(rec.line);
      },
      [&](const Edge& e) { b.AddEdge(e); });
  ShapeGeometry g;
  g.layers = b.Take();
  g.extent = MeasureExtent(g.layers);
  return g;
}

ShapeGeometry ReadGlyphShape(Reader& r) {
  ShapeBuilder b;
  FillStyle text;
  b.NewLayer({text}, {});
  const unsigned fillBits = r.UB(4, "NumFillBits");
  const unsigned lineBits = r.UB(4, "NumLineBits");
  ReadRecords(
      r, 1, fillBits, lineBits,
      [&](const MorphRecord& rec, bool, std::vector<FillStyle>, std::vector<LineStyle>, bool, double, double) {
        if (rec.hasFill0) b.SetFill0(rec.fill0);
        if (rec.hasFill1) b.SetFill1(rec.fill1);
      },
      [&](const Edge& e) { b.AddEdge(e); });
  ShapeGeometry g;
  g.layers = b.Take();
  g.extent = MeasureExtent(g.layers);
  return g;
}

namespace {

FillStyle ReadMorphFillPart(Reader& r, FillStyle& end) {
  FillStyle f;
  const std::uint8_t type = r.U8("FillStyleType");
  if (type == 0x00) {
    f.color = swf::ReadRgba(r);
    end = f;
    end.color = swf::ReadRgba(r);
    return f;
  }
  if (type == 0x10 || type == 0x12 || type == 0x13) {
    f.kind = type == 0x10 ? FillStyle::Kind::kLinear : type == 0x12 ? FillStyle::Kind::kRadial : FillStyle::Kind::kFocal;
    f.matrix = swf::ReadMatrix(r, "StartGradientMatrix");
    end = f;
    end.matrix = swf::ReadMatrix(r, "EndGradientMatrix");
    const std::uint8_t head = r.U8("NumGradients");
    f.gradient.spread = end.gradient.spread = (head >> 6) == 3 ? 0 : head >> 6;
    f.gradient.interpolation = end.gradient.interpolation = (head >> 4) & 3;
    const unsigned count = head & 0x0F;
    for (unsigned i = 0; i < count; ++i) {
      GradientStop s, e;
      s.ratio = r.U8("StartRatio");
      s.color = swf::ReadRgba(r);
      e.ratio = r.U8("EndRatio");
      e.color = swf::ReadRgba(r);
      f.gradient.stops.push_back(s);
      end.gradient.stops.push_back(e);
    }
    if (type == 0x13) {
      f.gradient.focal = std::clamp(r.Fixed8("StartFocalPoint"), -1.0, 1.0);
      end.gradient.focal = std::clamp(r.Fixed8("EndFocalPoint"), -1.0, 1.0);
    }
    return f;
  }
  if (type >= 0x40 && type <= 0x43) {
    f.kind = FillStyle::Kind::kBitmap;
    f.bitmapId = r.U16("BitmapId");
    f.repeat = (type & 1) == 0;
    f.smooth = (type & 2) == 0;
    f.matrix = swf::ReadMatrix(r, "StartBitmapMatrix");
    end = f;
    end.matrix = swf::ReadMatrix(r, "EndBitmapMatrix");
    return f;
  }
  r.Fail("FillStyleType", "unknown morph fill style type " + std::to_string(type));
}

}  // namespace

void ReadMorphShape(Reader& r, int version, MorphDef& m) {
  m.startBounds = swf::ReadRect(r, "StartBounds");
  m.endBounds = swf::ReadRect(r, "EndBounds");
  m.startEdgeBounds = m.startBounds;
  if (version >= 2) {
    m.startEdgeBounds = swf::ReadRect(r, "StartEdgeBounds");
    swf::ReadRect(r, "EndEdgeBounds");
    r.U8("Flags");
  }
  const std::uint32_t offset = r.U32("Offset");
  const std::size_t endEdgesAt = r.Position() + offset;
  std::size_t n = ReadCount(r, 2);
  for (std::size_t i = 0; i < n; ++i) {
    MorphFill f;
    f.start = ReadMorphFillPart(r, f.end);
    m.fills.push_back(std::move(f));
  }
  n = ReadCount(r, 2);
  for (std::size_t i = 0; i < n; ++i) {
    MorphLine l;
    l.start.width = r.U16("StartWidth");
    l.end.width = r.U16("EndWidth");
    if (version >= 2) {
      l.start.startCap = static_cast<int>(r.UB(2, "StartCapStyle"));
      l.start.join = static_cast<int>(r.UB(2, "JoinStyle"));
      l.start.hasFill = r.UB(1, "HasFillFlag") != 0;
      l.start.noHScale = r.UB(1, "NoHScaleFlag") != 0;
      l.start.noVScale = r.UB(1, "NoVScaleFlag") != 0;
      r.UB(1, "PixelHintingFlag");
      r.UB(5, "Reserved");
      r.UB(1, "NoClose");
      l.start.endCap = static_cast<int>(r.UB(2, "EndCapStyle"));
      if (l.start.join == 2) l.start.miterLimit = std::max(1.0, r.Fixed8("MiterLimitFactor"));
      const double endWidth = l.end.width;
      l.end = l.start;
      l.end.width = endWidth;
      if (l.start.hasFill) {
        l.start.fill = ReadMorphFillPart(r, l.end.fill);
        if (l.start.fill.kind == FillStyle::Kind::kSolid) {
          l.start.hasFill = l.end.hasFill = false;
          l.start.color = l.start.fill.color;
          l.end.color = l.end.fill.color;
        }
      } else {
        l.start.color = swf::ReadRgba(r);
        l.end.color = swf::ReadRgba(r);
      }
    } else {
      l.start.color = swf::ReadRgba(r);
      l.end.color = swf::ReadRgba(r);
    }
    m.lines.push_back(std::move(l));
  }

  std::vector<MorphRecord> start;
  unsigned fillBits = r.UB(4, "NumFillBits");
  unsigned lineBits = r.UB(4, "NumLineBits");
  ReadRecords(
      r, 1, fillBits, lineBits,
      [&](const MorphRecord& rec, bool, std::vector<FillStyle>, std::vector<LineStyle>, bool, double, double) {
        start.push_back(rec);
      },
      [&](const Edge& e) {
        MorphRecord rec;
        rec.isEdge = true;
        rec.start = e;
        start.push_back(rec);
      });
  std::vector<Edge> endEdges;
  if (endEdgesAt < r.Size()) {
    r.Seek(endEdgesAt);
    fillBits = r.UB(4, "NumFillBits");
    lineBits = r.UB(4, "NumLineBits");
    ReadRecords(
        r, 1, fillBits, lineBits,
        [&](const MorphRecord&, bool, std::vector<FillStyle>, std::vector<LineStyle>, bool, double, double) {},
        [&](const Edge& e) { endEdges.push_back(e); });
  }
  std::size_t k = 0;
  for (auto& rec : start) {
    if (!rec.isEdge) {
      m.records.push_back(rec);
      continue;
    }
    rec.end = k < endEdges.size() ? endEdges[k] : rec.start;
    ++k;
    m.records.push_back(rec);
  }
}

Rgba Interpolate(Rgba a, Rgba b, double t) {
  auto mix = [t](std::uint8_t x, std::uint8_t y) {
    return static_cast<std::uint8_t>(std::clamp(std::lround(x + (y - x) * t), 0L, 255L));
  };
  return {mix(a.r, b.r), mix(a.g, b.g), mix(a.b, b.b), mix(a.a, b.a)};
}

Matrix Interpolate(const Matrix& a, const Matrix& b, double t) {
  Matrix m;
  m.scaleX = a.scaleX + (b.scaleX - a.scaleX) * t;
  m.scaleY = a.scaleY + (b.scaleY - a.scaleY) * t;
  m.rotateSkew0 = a.rotateSkew0 + (b.rotateSkew0 - a.rotateSkew0) * t;
  m.rotateSkew1 = a.rotateSkew1 + (b.rotateSkew1 - a.rotateSkew1) * t;
  m.translateX = static_cast<std::int32_t>(std::lround(a.translateX + (b.translateX - a.translateX) * t));
  m.translateY = static_cast<std::int32_t>(std::lround(a.translateY + (b.translateY - a.translateY) * t));
  return m;
}

namespace {
FillStyle InterpolateFill(const FillStyle& a, const FillStyle& b, double t) {
  FillStyle f = a;
  f.color = Interpolate(a.color, b.color, t);
  f.matrix = Interpolate(a.matrix, b.matrix, t);
  f.gradient.focal = a.gradient.focal + (b.gradient.focal - a.gradient.focal) * t;
  for (std::size_t i = 0; i < f.gradient.stops.size() && i < b.gradient.stops.size(); ++i) {
    f.gradient.stops[i].color = Interpolate(a.gradient.stops[i].color, b.gradient.stops[i].color, t);
    f.gradient.stops[i].ratio = static_cast<std::uint8_t>(
        std::lround(a.gradient.stops[i].ratio + (b.gradient.stops[i].ratio - a.gradient.stops[i].ratio) * t));
  }
  return f;
}
}  // namespace

ShapeGeometry MorphAt(const MorphDef& m, double t) {
  t = std::clamp(t, 0.0, 1.0);
  std::vector<FillStyle> fills;
  for (const auto& f : m.fills) fills.push_back(InterpolateFill(f.start, f.end, t));
  std::vector<LineStyle> lines;
  for (const auto& l : m.lines) {
    LineStyle s = l.start;
    s.width = l.start.width + (l.end.width - l.start.width) * t;
    s.color = Interpolate(l.start.color, l.end.color, t);
    if (s.hasFill) s.fill = InterpolateFill(l.start.fill, l.end.fill, t);
    lines.push_back(s);
  }
  ShapeBuilder b;
  b.NewLayer(std::move(fills), std::move(lines));
  auto lerp = [t](double a, double c) { return a + (c - a) * t; };
  for (const auto& rec : m.records) {
    if (!rec.isEdge) {
      if (rec.hasFill0) b.SetFill0(rec.fill0);
      if (rec.hasFill1) b.SetFill1(rec.fill1);
      if (rec.hasLine) b.SetLine(rec.line);
      continue;
    }
    const Edge& s = rec.start;
    const Edge& e = rec.end;
    Edge o;
    o.x0 = lerp(s.x0, e.x0);
    o.y0 = lerp(s.y0, e.y0);
    o.x1 = lerp(s.x1, e.x1);
    o.y1 = lerp(s.y1, e.y1);
    o.cx = lerp(s.cx, e.cx);
    o.cy = lerp(s.cy, e.cy);
    o.curve = s.curve || e.curve;
    b.AddEdge(o);
  }
  ShapeGeometry g;
  g.layers = b.Take();
  g.extent = MeasureExtent(g.layers);
  g.bounds.xmin = static_cast<std::int32_t>(lerp(m.startBounds.xmin, m.endBounds.xmin));
  g.bounds.xmax = static_cast<std::int32_t>(lerp(m.startBounds.xmax, m.endBounds.xmax));
  g.bounds.ymin = static_cast<std::int32_t>(lerp(m.startBounds.ymin, m.endBounds.ymin));
  g.bounds.ymax = static_cast<std::int32_t>(lerp(m.startBounds.ymax, m.endBounds.ymax));
  return g;
}

}  // namespace quarvel::player
