// TextSnapshot: the characters of the static text a clip holds directly
// (DefineText, not edit text), read when the snapshot is made, in depth
// order; MovieClip.getTextSnapshot makes one.
#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "player/avm1/avm1.h"
#include "player/avm1/avm1_builtins.h"
#include "player/display/stage.h"
#include "player/library/movie_library.h"
#include "player/text/text_encoding.h"

namespace quarvel::player::avm1_builtins {
namespace {

struct SnapChar {
  std::uint32_t code = 0;
  bool lineStart = false;  // the first of a text or of a line: getText may put "\n" before it
  bool selected = false;
  double x = 0, y = 0, width = 0, height = 0;  // baseline left, in the clip's twips
  std::uint32_t color = 0;
  std::string font;
  Matrix matrix;  // glyph space to the clip, without the offset (the text's own, then its placement)
};

struct Snapshot : AsNativeData {
  std::vector<SnapChar> chars;
  std::uint32_t selectColor = 0xFFFF00;
};

// Clips whose static text a duplicate took: Flash's snapshot of a clip finds
// its text no more once duplicateMovieClip copied it, the copy has it.
struct SnapshotClass : AsNativeData {
  std::unordered_set<ClipHandle> givenAway;
};

SnapshotClass* ClassData(Avm1& vm) {
  const AsValue c = vm.Get(AsValue::Object(vm.Global()), "TextSnapshot");
  return c.type == AsValue::Type::kObject ? c.obj->Native<SnapshotClass>() : nullptr;
}

struct Pt {
  double x, y;
};
Pt Apply(const Matrix& m, Pt p) {
  return {m.scaleX * p.x + m.rotateSkew1 * p.y + m.translateX, m.rotateSkew0 * p.x + m.scaleY * p.y + m.translateY};
}

// The characters of one placed static text.
void AddText(const TextDef& text, const Matrix& placed, const MovieLibrary& lib, std::vector<SnapChar>& out) {
  // The text's own matrix, then its placement: the clip's twips.
  auto toClip = [&](double x, double y) { return Apply(placed, Apply(text.matrix, {x, y})); };
  const Pt origin = toClip(0, 0), unitX = toClip(1, 0), unitY = toClip(0, 1);
  Matrix m;
  m.scaleX = unitX.x - origin.x, m.rotateSkew0 = unitX.y - origin.y;
  m.rotateSkew1 = unitY.x - origin.x, m.scaleY = unitY.y - origin.y;
  bool first = true;
  double lastY = 0;
  for (const GlyphRun& run : text.runs) {
    const auto* font = dynamic_cast<const FontDef*>(lib.Find(run.fontId));
    bool lineStart = first || run.y != lastY;
    first = false;
    lastY = run.y;
    double x = run.x;
    for (const auto& [index, advance] : run.glyphs) {
      if (font && index < font->codes.size()) {
        SnapChar c;
        c.code = font->codes[index];
        c.lineStart = lineStart;
        lineStart = false;
        const Pt at = toClip(x, run.y);
        c.x = at.x;
        c.y = at.y;
        c.width = advance * m.scaleX;
        c.height = run.height * m.scaleY;
        c.color = (std::uint32_t{run.color.r} << 16) | (std::uint32_t{run.color.g} << 8) | run.color.b;
        c.font = font->name;
        c.matrix = m;
        out.push_back(std::move(c));
      }
      x += advance;
    }
  }
}

std::vector<SnapChar> ReadClip(Avm1& vm, ClipHandle clip) {
  std::vector<SnapChar> out;
  Stage& stage = vm.GetStage();
  TimelineState* tl = stage.TimelineOf(clip);
  if (!tl) return out;
  if (SnapshotClass* cls = ClassData(vm); cls && cls->givenAway.count(clip)) return out;
  const MovieLibrary& lib = tl->lib ? *tl->lib : stage.Library();
  // A depth's entries lie later-placed first; the lowest drawn comes first.
  for (auto it = tl->list.begin(); it != tl->list.end();) {
    auto last = tl->list.upper_bound(it->first);
    std::vector<const Instance*> atDepth;
    for (; it != last; ++it) atDepth.push_back(&it->second);
    for (auto r = atDepth.rbegin(); r != atDepth.rend(); ++r) {
      const Instance& inst = **r;
      if (inst.def && inst.def->kind == Character::Kind::kText) {
        AddText(static_cast<const TextDef&>(*inst.def), inst.matrix, lib, out);
      }
    }
  }
  return out;
}

Snapshot* Data(const AsValue& self) { return SelfData<Snapshot>(self); }

AsValue SnapshotCtor(Avm1& vm, const AsValue& self, AsArgs a) {
  AsObject* o = Self(self);
  if (!o) return {};
  auto data = std::make_unique<Snapshot>();
  const ClipHandle clip = vm.ClipOf(Arg(a, 0));
  if (clip != kNoClip) data->chars = ReadClip(vm, clip);
  o->native = std::move(data);
  return {};
}

std::string Text(const Snapshot& s, std::size_t from, std::size_t to, bool lineEnds, bool selectedOnly) {
  std::string out;
  bool any = false;
  for (std::size_t i = from; i < to && i < s.chars.size(); ++i) {
    const SnapChar& c = s.chars[i];
    if (selectedOnly && !c.selected) continue;
    if (lineEnds && any && c.lineStart) out += '\n';
    encoding::AppendUtf8(out, c.code);
    any = true;
  }
  return out;
}

// An index argument as Flash clamps it: NaN counts as 0.
double Index(Avm1& vm, AsArgs a, std::size_t i) {
  const double d = Num(vm, a, i);
  return std::isnan(d) ? 0 : d;
}

// The range [from, to) two index arguments name: `from` within the text,
// `to` at least one past it.
std::pair<std::size_t, std::size_t> Range(Avm1& vm, AsArgs a, std::size_t count) {
  const double last = static_cast<double>(count) - 1;
  const double from = std::clamp(std::floor(Index(vm, a, 0)), 0.0, std::max(last, 0.0));
  const double to = std::clamp(std::floor(Index(vm, a, 1)), from + 1, static_cast<double>(count));
  return {static_cast<std::size_t>(from), static_cast<std::size_t>(std::max(to, from))};
}

AsValue GetCount(Avm1&, const AsValue& self, AsArgs a) {
  const Snapshot* s = Data(self);
  if (!s || !a.empty()) return {};
  return AsValue::Number(static_cast<double>(s->chars.size()));
}

// getText(from, to[, lineEnds]): two or three arguments, else undefined.
AsValue GetText(Avm1& vm, const AsValue& self, AsArgs a) {
  const Snapshot* s = Data(self);
  if (!s || a.size() < 2 || a.size() > 3 || s->chars.empty()) return {};
  const auto [from, to] = Range(vm, a, s->chars.size());
  const bool lineEnds = a.size() == 3 && vm.ToBool(a[2]);
  return AsValue::String(Text(*s, from, to, lineEnds, false));
}

AsValue GetSelectedText(Avm1& vm, const AsValue& self, AsArgs a) {
  const Snapshot* s = Data(self);
  if (!s || a.size() > 1) return {};
  return AsValue::String(Text(*s, 0, s->chars.size(), !a.empty() && vm.ToBool(a[0]), true));
}

// findText(from, text, caseSensitive): the first index at or after `from`
// where the text starts, -1 when none; exactly three arguments.
AsValue FindText(Avm1& vm, const AsValue& self, AsArgs a) {
  const Snapshot* s = Data(self);
  if (!s || a.size() != 3) return {};
  const double from = std::floor(Index(vm, a, 0));
  const std::u16string needle = [&] {
    std::u16string out;
    const std::string t = vm.ToString(a[1]);
    for (std::size_t i = 0; i < t.size();) {
      std::uint32_t c = 0;
      const auto b = static_cast<unsigned char>(t[i]);
      const int n = b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC0 ? 2 : 1;
      c = n == 1 ? b : b & (0x3Fu >> (n - 1));
      for (int k = 1; k < n && i + static_cast<std::size_t>(k) < t.size(); ++k) {
        c = (c << 6) | (static_cast<unsigned char>(t[i + static_cast<std::size_t>(k)]) & 0x3Fu);
      }
      i += static_cast<std::size_t>(n);
      out += static_cast<char16_t>(c > 0xFFFF ? 0xFFFD : c);
    }
    return out;
  }();
  const bool exact = vm.ToBool(a[2]);
  const std::size_t n = s->chars.size();
  if (needle.empty() || from < 0 || from >= static_cast<double>(n)) return AsValue::Number(-1);
  auto fold = [&](std::uint32_t c) -> std::uint32_t {
    if (exact) return c;
    if (c >= 'A' && c <= 'Z') return c + 32;
    return c;
  };
  for (std::size_t i = static_cast<std::size_t>(from); i + needle.size() <= n; ++i) {
    std::size_t k = 0;
    while (k < needle.size() && fold(s->chars[i + k].code) == fold(needle[k])) ++k;
    if (k == needle.size()) return AsValue::Number(static_cast<double>(i));
  }
  return AsValue::Number(-1);
}

// getSelected(from, to): whether any character of the range is selected.
AsValue GetSelected(Avm1& vm, const AsValue& self, AsArgs a) {
  const Snapshot* s = Data(self);
  if (!s || a.size() != 2) return {};
  if (s->chars.empty()) return AsValue::Bool(false);
  const auto [from, to] = Range(vm, a, s->chars.size());
  for (std::size_t i = from; i < to; ++i) {
    if (s->chars[i].selected) return AsValue::Bool(true);
  }
  return AsValue::Bool(false);
}

// setSelected(from, to, select)
AsValue SetSelected(Avm1& vm, const AsValue& self, AsArgs a) {
  Snapshot* s = Data(self);
  if (!s || a.size() != 3 || s->chars.empty()) return {};
  const auto [from, to] = Range(vm, a, s->chars.size());
  const bool on = vm.ToBool(a[2]);
  for (std::size_t i = from; i < to; ++i) s->chars[i].selected = on;
  return {};
}

AsValue SetSelectColor(Avm1& vm, const AsValue& self, AsArgs a) {
  Snapshot* s = Data(self);
  if (!s || a.size() != 1) return {};
  s->selectColor = static_cast<std::uint32_t>(ToInt32(Num(vm, a, 0))) & 0xFFFFFF;
  return {};
}

// hitTestTextNearPos(x, y[, maxDistance]): the character whose box lies
// nearest the point in the clip's pixels, within the distance; -1 for none.
AsValue HitTestTextNearPos(Avm1& vm, const AsValue& self, AsArgs a) {
  const Snapshot* s = Data(self);
  if (!s || a.size() < 2 || a.size() > 3) return {};
  const double x = Num(vm, a, 0) * 20, y = Num(vm, a, 1) * 20;
  if (std::isnan(x) || std::isnan(y)) return AsValue::Number(-1);
  const double maxDistance = a.size() == 3 ? std::max(0.0, Num(vm, a, 2) * 20) : 0;
  double best = std::numeric_limits<double>::infinity();
  double found = -1;
  for (std::size_t i = 0; i < s->chars.size(); ++i) {
    const SnapChar& c = s->chars[i];
    const double left = std::min(c.x, c.x + c.width), right = std::max(c.x, c.x + c.width);
    const double top = std::min(c.y - c.height, c.y), bottom = std::max(c.y - c.height, c.y);
    const double dx = x < left ? left - x : x > right ? x - right : 0;
    const double dy = y < top ? top - y : y > bottom ? y - bottom : 0;
    const double d = std::hypot(dx, dy);
    if (d <= maxDistance && d < best) {
      best = d;
      found = static_cast<double>(i);
    }
  }
  return AsValue::Number(found);
}

// getTextRunInfo(from, to): one object per character of the range, with its
// font, colour, height, matrix and corners, as Flash lists them.
AsValue GetTextRunInfo(Avm1& vm, const AsValue& self, AsArgs a) {
  const Snapshot* s = Data(self);
  if (!s || a.size() != 2) return {};
  AsObject* list = vm.NewArray();
  if (s->chars.empty()) return AsValue::Object(list);
  const auto [from, to] = Range(vm, a, s->chars.size());
  std::vector<AsValue> items;
  for (std::size_t i = from; i < to; ++i) {
    const SnapChar& c = s->chars[i];
    AsObject* o = vm.NewObject(vm.ObjectProto());
    auto num = [&](const char* name, double v) { vm.SetProp(o, name, AsValue::Number(v)); };
    num("indexInRun", static_cast<double>(i));
    vm.SetProp(o, "selected", AsValue::Bool(c.selected));
    vm.SetProp(o, "font", AsValue::String(c.font));
    num("color", c.color);
    num("height", c.height / 20);
    num("matrix_a", c.matrix.scaleX);
    num("matrix_b", c.matrix.rotateSkew0);
    num("matrix_c", c.matrix.rotateSkew1);
    num("matrix_d", c.matrix.scaleY);
    num("matrix_tx", c.x / 20);
    num("matrix_ty", c.y / 20);
    const double top = (c.y - c.height) / 20, bottom = c.y / 20, left = c.x / 20, right = (c.x + c.width) / 20;
    num("corner0x", left);
    num("corner0y", bottom);
    num("corner1x", right);
    num("corner1y", bottom);
    num("corner2x", right);
    num("corner2y", top);
    num("corner3x", left);
    num("corner3y", top);
    items.push_back(AsValue::Object(o));
  }
  return AsValue::Object(vm.NewArray(std::move(items)));
}

AsValue NewTextSnapshot(Avm1& vm, ClipHandle clip) {
  const AsValue cls = vm.Get(AsValue::Object(vm.Global()), "TextSnapshot");
  const AsValue proto = vm.Get(cls, "prototype");
  AsObject* o = vm.NewObject(proto.type == AsValue::Type::kObject ? proto.obj : vm.ObjectProto());
  auto data = std::make_unique<Snapshot>();
  data->chars = ReadClip(vm, clip);
  o->native = std::move(data);
  return AsValue::Object(o);
}

AsValue ClipTextSnapshot(Avm1& vm, const AsValue& self, AsArgs) {
  const ClipHandle clip = vm.ClipOf(self);
  return clip == kNoClip ? AsValue{} : NewTextSnapshot(vm, clip);
}
}  // namespace

void TextSnapshotDuplicated(Avm1& vm, ClipHandle source, ClipHandle copy) {
  SnapshotClass* cls = ClassData(vm);
  if (!cls || copy == kNoClip) return;
  if (cls->givenAway.count(source)) {
    cls->givenAway.insert(copy);
  } else {
    cls->givenAway.erase(copy);
  }
  cls->givenAway.insert(source);
}

void InstallTextSnapshot(Avm1& vm) {
  AsObject* proto = vm.NewRootObject(vm.ObjectProto());
  AsObject* cls = vm.NewClass(vm.Global(), "TextSnapshot", SnapshotCtor, proto);
  cls->native = std::make_unique<SnapshotClass>();
  const std::pair<const char*, AsNative> methods[] = {
      {"getCount", GetCount},           {"setSelected", SetSelected},
      {"getSelected", GetSelected},     {"getText", GetText},
      {"getSelectedText", GetSelectedText}, {"hitTestTextNearPos", HitTestTextNearPos},
      {"findText", FindText},           {"setSelectColor", SetSelectColor},
      {"getTextRunInfo", GetTextRunInfo}};
  for (auto& [n, f] : methods) {
    vm.NewFunction(n, f, proto);
    AsProperty& p = proto->props[vm.Key(n)];
    p.dontDelete = true;
    p.hidden = false;
    p.versions = kPropVersion5;  // from SWF 6
  }
  vm.NewFunction("getTextSnapshot", ClipTextSnapshot, vm.ClipProto());
  vm.ClipProto()->props[vm.Key("getTextSnapshot")].versions = kPropVersion5;
}

}  // namespace quarvel::player::avm1_builtins
