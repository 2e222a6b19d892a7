#pragma once
// Test helpers for the built-in classes: script expressions built as byte
// code, a movie that runs them once, and its variables read back as text.
#include <cairo.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "player/avm1/avm1_action_list.h"
#include "player/flash_player.h"
#include "support/swf_builder.h"
#include "support/swf_writer.h"

namespace quarvel::player::script_test {

using gdi::Color;
using testing::Actions;
using testing::FillStyle;
using testing::ShapeBuilder;
using testing::SwfBuilder;
using testing::SwfWriter;
using testing::Timeline;

constexpr swf::Rgba kRed{255, 0, 0, 255};
constexpr swf::Rgba kWhite{255, 255, 255, 255};

inline Actions Str(const std::string& s) { return Actions().PushString(s); }
inline Actions Int(int i) { return Actions().PushInt(i); }
inline Actions Dbl(double d) { return Actions().PushDouble(d); }
// A whole number pushed as an integer, anything else as a double.
inline Actions Num(double d) {
  return d == std::floor(d) && std::fabs(d) < 1e9 ? Actions().PushInt(static_cast<int>(d)) : Actions().PushDouble(d);
}
inline Actions Bool(bool b) { return Actions().PushBool(b); }
inline Actions Undef() { return Actions().PushUndefined(); }
inline Actions Var(const std::string& name) { return Actions().PushString(name).Raw(Code(Action::kGetVariable)); }
// name = value
inline Actions& Set(Actions& a, const std::string& name, const Actions& value) {
  a.PushString(name).Append(value).SetVariable();
  return a;
}
inline Actions Bin(const Actions& x, const Actions& y, Action op) { return Actions().Append(x).Append(y).Raw(Code(op)); }
inline Actions Bin(const Actions& x, const Actions& y, std::uint8_t op) { return Actions().Append(x).Append(y).Raw(op); }
// `a` followed by the action `op`.
inline Actions Op(Actions a, std::uint8_t op) { return a.Raw(op); }
inline Actions PushArgs(const std::vector<Actions>& args) {
  Actions a;
  for (auto it = args.rbegin(); it != args.rend(); ++it) a.Append(*it);
  a.PushInt(static_cast<int>(args.size()));
  return a;
}
// obj.method(args...)
inline Actions Method(const Actions& obj, const std::string& method, const std::vector<Actions>& args = {}) {
  return PushArgs(args).Append(obj).PushString(method).Raw(Code(Action::kCallMethod));
}
// fn(args...)
inline Actions Call(const std::string& fn, const std::vector<Actions>& args = {}) {
  return PushArgs(args).PushString(fn).Raw(Code(Action::kCallFunction));
}
// new Class(args...)
inline Actions New(const std::string& cls, const std::vector<Actions>& args = {}) {
  return PushArgs(args).PushString(cls).Raw(Code(Action::kNewObject));
}
// new pkg.Class(args...), pkg a dotted path of globals ("flash.geom").
inline Actions New(const std::string& pkg, const std::string& cls, const std::vector<Actions>& args) {
  Actions a = PushArgs(args);
  std::size_t from = 0;
  bool first = true;
  while (from <= pkg.size()) {
    const std::size_t dot = std::min(pkg.find('.', from), pkg.size());
    a.PushString(pkg.substr(from, dot - from)).Raw(Code(first ? Action::kGetVariable : Action::kGetMember));
    first = false;
    from = dot + 1;
  }
  return a.PushString(cls).Raw(Code(Action::kNewMethod));
}
inline Actions Member(const Actions& obj, const std::string& name) {
  return Actions().Append(obj).PushString(name).Raw(Code(Action::kGetMember));
}
inline Actions SetMember(const Actions& obj, const std::string& name, const Actions& v) {
  return Actions().Append(obj).PushString(name).Append(v).Raw(Code(Action::kSetMember));
}
// [items...]
inline Actions Array(const std::vector<Actions>& items) { return PushArgs(items).Raw(Code(Action::kInitArray)); }
// {k: v, ...}
inline Actions Object(const std::vector<std::pair<std::string, Actions>>& fields) {
  Actions a;
  for (auto& [k, v] : fields) a.PushString(k).Append(v);
  return a.PushInt(static_cast<int>(fields.size())).Raw(Code(Action::kInitObject));
}
// A statement whose value is dropped.
inline Actions Do(const Actions& expr) { return Actions().Append(expr).Raw(Code(Action::kPop)); }
// obj.method(args...) as a statement.
inline Actions Do(const Actions& obj, const std::string& method, const std::vector<Actions>& args) {
  return Do(Method(obj, method, args));
}
// function (params) { body }, as a value.
inline Actions Function(const std::vector<std::string>& params, const Actions& body) {
  return Actions().DefineFunction("", params, body);
}

// _global.log += text (or the value `v` pushes): the tests' record of
// what ran, in order.
inline Actions Log(const Actions& v) {
  Actions a;
  return Set(a, "_global.log", Bin(Var("_global.log"), v, Action::kAdd2));
}
inline Actions Log(const std::string& text) { return Log(Str(text)); }

// for (name in obj) body, the name in register 0.
inline Actions ForIn(const Actions& obj, const Actions& body) {
  const std::uint8_t r0[] = {0};
  Actions loopHead;
  loopHead.Raw(Code(Action::kStoreRegister), r0).PushNull().Raw(Code(Action::kEquals2));
  Actions a;
  a.Append(obj).Raw(Code(Action::kEnumerate2));
  const auto head = static_cast<std::int16_t>(loopHead.Size() + 5 + body.Size() + 5);
  a.Append(loopHead).If(static_cast<std::int16_t>(body.Size() + 5)).Append(body).Jump(static_cast<std::int16_t>(-head));
  return a;
}

// _root.createTextField("field", 1, x, y, w, h), then t = _root.field.
inline Actions MakeField(int x, int y, int w, int h) {
  Actions a = Do(Var("_root"), "createTextField", {Str("field"), Int(1), Int(x), Int(y), Int(w), Int(h)});
  return Set(a, "t", Member(Var("_root"), "field"));
}

// A square of `size` twips in colour `c`, its left edge at `x`.
inline ShapeBuilder Square(std::int32_t size, swf::Rgba c, std::int32_t x = 0) {
  ShapeBuilder s;
  s.Rectangle(x, 0, x + size, size, s.AddFill(FillStyle::Solid(c)));
  return s;
}

// The body of a PlaceObject2 (tag 26) of `character` at `depth` as `name`,
// with clip actions: (event bits, code) pairs. The list of all events is
// the handlers' unless `all` gives another.
inline std::vector<std::uint8_t> PlaceWithClipActions(std::uint16_t character, std::uint16_t depth,
                                                      const std::string& name,
                                                      const std::vector<std::pair<std::uint32_t, Actions>>& handlers,
                                                      std::optional<std::uint32_t> all = std::nullopt) {
  SwfWriter w;
  w.U8(0x80 | 0x20 | 0x02);  // clip actions, a name, a character
  w.U16(depth);
  w.U16(character);
  w.String(name);
  w.U16(0);
  if (!all) {
    all = 0;
    for (auto& h : handlers) *all |= h.first;
  }
  w.U32(*all);
  for (auto& [events, code] : handlers) {
    const auto bytes = code.Bytes();
    w.U32(events);
    w.U32(static_cast<std::uint32_t>(bytes.size()));
    w.Bytes(bytes);
  }
  w.U32(0);
  return w.Data();
}

// A 100 x 100 pixel movie at 10 frames per second on white.
inline SwfBuilder Movie(std::uint8_t version = 8) {
  SwfBuilder b(version, {0, 2000, 0, 2000}, 10.0);
  b.SetBackgroundColor(kWhite);
  return b;
}

// The first frame runs `code`, then the movie stops.
inline SwfBuilder Script(const Actions& code, std::uint8_t version = 8) {
  auto b = Movie(version);
  b.DoAction(Actions().Append(code).Stop()).ShowFrame();
  return b;
}

struct Played {
  FlashPlayer player;
  explicit Played(const SwfBuilder& b) {
    player.SetSize(100, 100);
    player.SetQuality("Low");
    EXPECT_TRUE(player.LoadMovieBytes(b.Build())) << player.LoadError();
  }
  std::string Get(const std::string& v) const { return player.GetVariable(v); }
  double Number(const std::string& v) const { return std::stod(Get(v)); }
  bool Skipped(const std::string& what) const {
    const auto s = player.SkippedFeatures();
    return std::find(s.begin(), s.end(), what) != s.end();
  }
  gdi::Bitmap Picture() {
    gdi::Bitmap bmp;
    player.Paint(bmp);
    return bmp;
  }
  Color At(int x, int y) { return Picture().GetPixel(x, y); }
};

// A folder of its own per test, removed afterwards.
class TempFolder {
 public:
  TempFolder() {
    std::random_device rd;
    root_ = std::filesystem::temp_directory_path() / ("quarvel_load_" + std::to_string(rd()));
    dir_ = root_ / "movie";
    std::filesystem::create_directories(dir_);
  }
  ~TempFolder() {
    std::error_code ec;
    std::filesystem::remove_all(root_, ec);
  }
  const std::filesystem::path& Dir() const { return dir_; }
  const std::filesystem::path& Parent() const { return root_; }
  void Write(const std::filesystem::path& p, const std::string& text) const { std::ofstream(p, std::ios::binary) << text; }

 private:
  std::filesystem::path root_, dir_;
};

// A PNG file of w x h pixels of one colour (straight ARGB).
inline void WritePng(const std::filesystem::path& file, int w, int h, std::uint32_t argb) {
  cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h);
  cairo_t* cr = cairo_create(s);
  cairo_set_source_rgba(cr, ((argb >> 16) & 255) / 255.0, ((argb >> 8) & 255) / 255.0, (argb & 255) / 255.0,
                        (argb >> 24) / 255.0);
  cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
  cairo_paint(cr);
  cairo_destroy(cr);
  EXPECT_EQ(cairo_surface_write_to_png(s, file.string().c_str()), CAIRO_STATUS_SUCCESS);
  cairo_surface_destroy(s);
}

// A movie written into `folder` and played from there (so that it finds
// the files beside it), with an optional sound listener.
struct PlayedFile {
  FlashPlayer player;
  PlayedFile(const TempFolder& folder, const SwfBuilder& movie, SoundEventListener* listener = nullptr) {
    const std::filesystem::path file = folder.Dir() / "movie.swf";
    movie.WriteFile(file);
    player.SetSize(100, 100);
    player.SetSoundListener(listener);
    player.SetMovie(file.string());
    EXPECT_EQ(player.LoadError(), "");
  }
  PlayedFile(const TempFolder& folder, const Actions& code) : PlayedFile(folder, Script(code)) {}
  std::string Get(const std::string& v) const { return player.GetVariable(v); }
  bool Skipped(const std::string& what) const {
    const auto s = player.SkippedFeatures();
    return std::find(s.begin(), s.end(), what) != s.end();
  }
};

}  // namespace quarvel::player::script_test
