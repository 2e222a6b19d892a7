#include "player/as3/display_binding.h"

#include "player/as3/display_binding_p.h"
#include "player/as3/guarded_hooks.h"
#include "player/as3/text_host.h"

namespace quarvel::player::as3 {

// Natives more than one family uses.

NATIVE(Noop) { return Value(); }
NATIVE(ReturnNull) { return Value::Null(); }
NATIVE(ReturnFalse) { return Value::Bool(false); }
NATIVE(ReturnZero) { return Value::Int(0); }

void Register(As3Display& b, std::span<const ClassRow> classes, std::span<const MemberRow> rows) {
  Machine& m = b.m;
  for (const ClassRow& c : classes) {
    Class* super = c.super.empty() ? m.objectClass : m.FindClass(c.super);
    if (!super) throw std::logic_error("a Flash class's base is not defined: " + std::string(c.super));
    Class* cls = m.DefineNativeClass(c.package, c.name, super, c.alloc, c.dynamic);
    if (c.ctor) avm2::SetNativeCtor(m, cls, c.ctor);
    if (c.slot) b.*c.slot = cls;
    const std::string qualified = cls->QualifiedName();
    for (const MemberRow& r : rows) {
      if (r.cls != qualified) continue;
      switch (r.kind) {
        case Member::kMethod: m.AddMethod(cls, r.name, r.fn); break;
        case Member::kGetter: m.AddGetter(cls, r.name, r.fn); break;
        case Member::kSetter: m.AddSetter(cls, r.name, r.fn); break;
        case Member::kStaticMethod: m.AddMethod(cls, r.name, r.fn, true); break;
        case Member::kStaticGetter: m.AddGetter(cls, r.name, r.fn, true); break;
        case Member::kStaticSetter: m.AddSetter(cls, r.name, r.fn, true); break;
        case Member::kConst: m.AddConst(cls, r.name, r.text ? m.Str(r.text) : Value::Int(r.number)); break;
      }
    }
  }
}

// The families in an order where every class follows its base.
void As3Display::Install() {
  InstallEvents(*this);
  InstallDisplayObjects(*this);
  InstallContainers(*this);
  InstallGraphics(*this);
  staticTextClass = m.DefineNativeClass("flash.text", "StaticText", displayObjectClass);
  AddStaticTextMembers(m, staticTextClass);
  InstallBitmaps(*this);
  InstallStage(*this);
  InstallLoading(*this);
  InstallGeometry(*this);
  const As3TextClasses text = InstallTextClasses(m, interactiveClass);
  textFieldClass = text.textField;
  textFormatClass = text.textFormat;
  InstallTextEngine(*this);
  InstallMedia(*this);
  InstallFilters(*this);
  InstallShaders(*this);
  InstallStage3D(*this);
  InstallFlashApi(m, lib.movie.version);
  // Classes whose instances only the player makes (or, for the static
  // ones, has none of): a script's `new` of one throws.
  for (const char* name :
       {"flash.accessibility::Accessibility", "flash.display::Graphics", "flash.display::LoaderInfo",
        "flash.display::Stage", "flash.display::Stage3D", "flash.display3D::Context3D", "flash.display3D::IndexBuffer3D",
        "flash.display3D::VertexBuffer3D", "flash.display3D::Program3D", "flash.display3D.textures::CubeTexture",
        "flash.display3D.textures::Texture", "flash.display3D.textures::RectangleTexture",
        "flash.display3D.textures::VideoTexture", "flash.external::ExternalInterface", "flash.geom::Utils3D",
        "flash.media::StageVideo", "flash.net::ObjectEncoding", "flash.net::SharedObject",
        "flash.net.drm::DRMManager", "flash.net.drm::DRMVoucher", "flash.net.drm::DRMPlaybackTimeWindow",
        "flash.system::Capabilities", "flash.system::IME", "flash.system::Security", "flash.system::SecurityDomain",
        "flash.system::System", "flash.system::Worker", "flash.system::WorkerDomain", "flash.system::MessageChannel",
        "flash.text::TextSnapshot", "flash.text.engine::TextLine", "flash.text.engine::TextLineMirrorRegion",
        "flash.ui::GameInputControl", "flash.ui::GameInputDevice", "flash.ui::Keyboard", "flash.ui::Mouse",
        "flash.ui::Multitouch"})
    if (Class* c = m.FindClass(name)) c->scriptMayNew = false;
}

}  // namespace quarvel::player::as3

namespace quarvel::player {

using as3::As3Display;
using as3::B;
using as3::FlashObject;
using avm2::Class;
using avm2::Machine;
using avm2::Value;

std::unique_ptr<ScriptHooks> MakeAs3Hooks(Stage& stage, const ScriptLimits& limits) {
  auto display = std::make_unique<As3Display>(stage, limits);
  avm2::Machine& m = display->m;
  return std::make_unique<GuardedHooks>(std::move(display), m);
}

Instance* As3Node(Machine& m, const Value& self) { return as3::SelfNode(m, self); }
const MovieLibrary& As3Library(Machine& m) { return B(m).lib; }
const MovieLibrary& As3LibraryOf(Machine& m, const Instance& i) { return B(m).LibraryOf(i); }
const MovieLibrary& As3RunningLibrary(Machine& m) {
  As3Display& b = B(m);
  if (const avm2::AbcFile* running = m.RunningAbc()) {
    for (ClipHandle h : b.loadedRoots) {
      const TimelineState* t = b.Timeline(h);
      if (!t || !t->lib) continue;
      for (const auto& block : t->lib->abcBlocks)
        if (block.file.get() == running) return *t->lib;
    }
  }
  return b.lib;
}
bool As3SymbolLinked(Machine& m, int id) { return id > 0 && B(m).symbolClasses.count(static_cast<std::uint16_t>(id)); }
const FontDef* As3LinkedFont(Machine& m, const Class* c) {
  const auto [symbols, id] = B(m).SymbolOf(c);
  const Character* ch = symbols && id ? symbols->Find(id) : nullptr;
  return ch && ch->kind == Character::Kind::kFont ? static_cast<const FontDef*>(ch) : nullptr;
}
Value* As3FieldSlot(Machine& m, const Value& self, int k) {
  FlashObject* f = as3::As<FlashObject>(self);
  if (!f || k < 0 || k > 1 || !f->cls || !f->cls->IsSubclassOf(B(m).textFieldClass)) return nullptr;
  return &f->fieldSlots[k];
}
std::vector<const FontDef*>& As3RegisteredFonts(Machine& m) { return B(m).registeredFonts; }

}  // namespace quarvel::player
