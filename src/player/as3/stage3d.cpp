// Stage3D as scripts see it: the stage's four Stage3D layers, their
// Context3D (made a frame after the request, as Flash does), the buffers,
// programs and textures a context makes, with Flash's argument checks, and
// the flash.display3D constant classes.
#include <atomic>
#include <cstring>

#include "player/as3/display_binding_p.h"

namespace quarvel::player::as3 {
namespace {

[[noreturn]] void Invalid(Machine& m) { m.ThrowError("ArgumentError", "One of the parameters is invalid.", 2004); }
[[noreturn]] void BadFormat(Machine& m, const char* param) {
  m.ThrowError("ArgumentError", std::string("Parameter ") + param + " must be one of the accepted values.", 2008);
}


Stage3DObject* Self3D(const Value& self) { return As<Stage3DObject>(self); }
Context3DObject* SelfContext(Machine& m, const Value& self) {
  Context3DObject* c = As<Context3DObject>(self);
  if (!c) Invalid(m);
  if (c->disposed) m.ThrowError("Error", "Object was already disposed.", 3694);
  return c;
}
Resource3DObject* SelfResource(Machine& m, const Value& self) {
  Resource3DObject* r = As<Resource3DObject>(self);
  if (!r) Invalid(m);
  if (r->disposed) m.ThrowError("Error", "Object was already disposed.", 3694);
  return r;
}

std::uint64_t NextStamp() {
  static std::atomic<std::uint64_t> last{0};
  return ++last;
}
bool OneOf(const std::string& s, std::initializer_list<const char*> names) {
  for (const char* n : names)
    if (s == n) return true;
  return false;
}

agal::Blend BlendOf(const std::string& f) {
  using agal::Blend;
  if (f == "zero") return Blend::kZero;
  if (f == "sourceAlpha") return Blend::kSrcAlpha;
  if (f == "sourceColor") return Blend::kSrcColor;
  if (f == "destinationAlpha") return Blend::kDstAlpha;
  if (f == "destinationColor") return Blend::kDstColor;
  if (f == "oneMinusSourceAlpha") return Blend::kOneMinusSrcAlpha;
  if (f == "oneMinusSourceColor") return Blend::kOneMinusSrcColor;
  if (f == "oneMinusDestinationAlpha") return Blend::kOneMinusDstAlpha;
  if (f == "oneMinusDestinationColor") return Blend::kOneMinusDstColor;
  return Blend::kOne;
}
agal::Compare CompareOf(const std::string& c) {
  using agal::Compare;
  if (c == "never") return Compare::kNever;
  if (c == "less") return Compare::kLess;
  if (c == "lessEqual") return Compare::kLessEqual;
  if (c == "equal") return Compare::kEqual;
  if (c == "greater") return Compare::kGreater;
  if (c == "greaterEqual") return Compare::kGreaterEqual;
  if (c == "notEqual") return Compare::kNotEqual;
  return Compare::kAlways;
}

// ---- Stage3D

NATIVE(S3GetX) { Stage3DObject* s = Self3D(self); return Value::Number(s ? s->x : 0); }
NATIVE(S3GetY) { Stage3DObject* s = Self3D(self); return Value::Number(s ? s->y : 0); }
// Positions are numbers inside -8192..8191; Flash refuses others and
// anything that is not a number.
void SetPosition(Machine& m, const Value& v, double& to) {
  const double d = v.IsNullish() ? 0 : m.ToNumber(v);
  if (std::isnan(d) || d < -8192 || d > 8191) m.ThrowError("ArgumentError", "The supplied index is out of bounds.", 2006);
  to = d;
}
NATIVE(S3SetX) {
  if (Stage3DObject* s = Self3D(self)) SetPosition(m, m.ArgOr(a, 0), s->x);
  return Value();
}
NATIVE(S3SetY) {
  if (Stage3DObject* s = Self3D(self)) SetPosition(m, m.ArgOr(a, 0), s->y);
  return Value();
}
NATIVE(S3GetVisible) { Stage3DObject* s = Self3D(self); return Value::Bool(!s || s->visible); }
NATIVE(S3SetVisible) {
  if (Stage3DObject* s = Self3D(self)) s->visible = m.ToBoolean(m.ArgOr(a, 0));
  return Value();
}
NATIVE(S3GetContext) {
  Stage3DObject* s = Self3D(self);
  return s && !s->context.IsUndefined() ? s->context : Value::Null();
}
NATIVE(S3Request) {
  Stage3DObject* s = Self3D(self);
  if (!s) return Value();
  const std::string mode = a.empty() ? "auto" : m.ToString(a[0]);
  if (!OneOf(mode, {"auto", "software", "constrained"})) BadFormat(m, "context3DRenderMode");
  As3Display& b = B(m);
  b.stage3DRequests.push_back(Value::Obj(s));
  return Value();
}

NATIVE(StageGet3Ds) {
  As3Display& b = B(m);
  if (b.stage3Ds.IsUndefined()) {
    Class* cls = m.FindClass("flash.display::Stage3D");
    Object* list = m.Construct(m.VectorOf(cls), {});
    auto* arr = static_cast<avm2::ArrayObject*>(list);
    // Four layers, in a Vector Flash leaves unfixed.
    for (int k = 0; k < 4; ++k) arr->elems.push_back(Value::Obj(m.Instantiate(cls)));
    b.stage3Ds = Value::Obj(list);
  }
  return b.stage3Ds;
}

// ---- Context3D

NATIVE(CtxConfigure) {
  Context3DObject* c = SelfContext(m, self);
  const int w = m.ToInt(m.ArgOr(a, 0)), h = m.ToInt(m.ArgOr(a, 1));
  auto inRange = [](int v) { return v >= 32 && v <= 16384; };
  // Movies before SWF 30 get the older, plainer error, and a back buffer
  // of no size at all is let through for them.
  if (B(m).lib.movie.version < 30) {
    if (w == 0 && h == 0) return Value();
    if (!inRange(w) || !inRange(h)) m.ThrowError("Error", "Bad input size.", 3669);
  }
  if (w < 32 || w > 16384) m.ThrowError("Error", "Requested width of backbuffer is not in allowed range 32 to 16384.", 3780);
  if (h < 32 || h > 16384) m.ThrowError("Error", "Requested height of backbuffer is not in allowed range 32 to 16384.", 3781);
  c->width = w;
  c->height = h;
  c->depthStencil = a.size() < 4 || m.ToBoolean(a[3]);
  c->target.Resize(w, h);
  c->colourShown = false;
  c->recording = false;
  c->recorded.clear();
  c->recordedTextures.clear();
  c->recordedFloats = 0;
  c->shownKey = 0;
  return Value();
}
NATIVE(CtxWidth) { return Value::Int(SelfContext(m, self)->width); }
NATIVE(CtxHeight) { return Value::Int(SelfContext(m, self)->height); }
NATIVE(CtxMaxSize) { (void)self; (void)a; return Value::Int(16384); }
NATIVE(CtxDriverInfo) {
  Context3DObject* c = As<Context3DObject>(self);
  return m.Str(c && c->disposed ? "Disposed" : "Software (Quarvel)");
}
NATIVE(CtxProfile) { (void)self; return m.Str("baseline"); }
NATIVE(CtxGetChecking) { Context3DObject* c = As<Context3DObject>(self); return Value::Bool(c && c->errorChecking); }
NATIVE(CtxSetChecking) {
  if (Context3DObject* c = As<Context3DObject>(self)) c->errorChecking = m.ToBoolean(m.ArgOr(a, 0));
  return Value();
}
NATIVE(CtxDispose) {
  Context3DObject* c = As<Context3DObject>(self);
  if (!c || c->disposed) return Value();
  c->disposed = true;
  // With recreate (the default) and a CONTEXT3D_CREATE listener on its
  // Stage3D, Flash treats the disposal as a lost device: a new context comes.
  Stage3DObject* s = As<Stage3DObject>(c->stage3D);
  if (s && (a.empty() || m.ToBoolean(a[0])) &&
      std::any_of(s->listeners.begin(), s->listeners.end(), [](const Listener& l) { return l.type == "context3DCreate"; }))
    B(m).stage3DRequests.push_back(c->stage3D);
  return Value();
}

Value NewResource(Machine& m, const Value& ctx, const char* cls, Resource3DObject::Kind kind) {
  auto* r = static_cast<Resource3DObject*>(m.Instantiate(m.FindClass(cls)));
  r->kind = kind;
  r->context = ctx;
  return Value::Obj(r);
}

NATIVE(CtxCreateVertexBuffer) {
  SelfContext(m, self);
  const int n = m.ToInt(m.ArgOr(a, 0)), per = m.ToInt(m.ArgOr(a, 1));
  if (n <= 0 || n > 65535 || per <= 0 || per > 64) m.ThrowError("Error", "Bad input size.", 3669);
  Value v = NewResource(m, self, "flash.display3D::VertexBuffer3D", Resource3DObject::kVertices);
  auto* r = As<Resource3DObject>(v);
  r->count = n;
  r->perItem = per;
  r->floats.assign(static_cast<std::size_t>(n) * static_cast<std::size_t>(per), 0.0f);
  return v;
}
NATIVE(CtxCreateIndexBuffer) {
  SelfContext(m, self);
  const int n = m.ToInt(m.ArgOr(a, 0));
  if (n <= 0 || n > 524287) m.ThrowError("Error", "Bad input size.", 3669);
  Value v = NewResource(m, self, "flash.display3D::IndexBuffer3D", Resource3DObject::kIndices);
  auto* r = As<Resource3DObject>(v);
  r->count = n;
  r->indices.assign(static_cast<std::size_t>(n), 0);
  return v;
}
NATIVE(CtxCreateProgram) {
  SelfContext(m, self);
  return NewResource(m, self, "flash.display3D::Program3D", Resource3DObject::kProgram);
}
Value MakeTexture(Machine& m, const Value& self, const char* cls, int w, int h, const std::string& format) {
  SelfContext(m, self);
  if (!OneOf(format, {"bgra", "bgraPacked4444", "bgrPacked565", "compressed", "compressedAlpha", "rgbaHalfFloat"}))
    BadFormat(m, "textureFormat");
  const bool cube = std::string_view(cls) == "flash.display3D.textures::CubeTexture";
  if (w <= 0 || h <= 0 || w > 4096 || (!cube && h > 4096)) Invalid(m);
  Value v = NewResource(m, self, cls, Resource3DObject::kTexture);
  auto* r = As<Resource3DObject>(v);
  r->width = w;
  r->height = h;
  r->format = format;
  r->stamp = NextStamp();
  r->pixels.assign(static_cast<std::size_t>(w) * static_cast<std::size_t>(h), 0);
  return v;
}
NATIVE(CtxCreateTexture) {
  return MakeTexture(m, self, "flash.display3D.textures::Texture", m.ToInt(m.ArgOr(a, 0)), m.ToInt(m.ArgOr(a, 1)),
                     m.ToString(m.ArgOr(a, 2)));
}
NATIVE(CtxCreateRectTexture) {
  return MakeTexture(m, self, "flash.display3D.textures::RectangleTexture", m.ToInt(m.ArgOr(a, 0)),
                     m.ToInt(m.ArgOr(a, 1)), m.ToString(m.ArgOr(a, 2)));
}
NATIVE(CtxCreateCubeTexture) {
  const int size = m.ToInt(m.ArgOr(a, 0));
  // The limit is on the edge; the six faces are stored one under another.
  if (size <= 0 || size > 4096) Invalid(m);
  return MakeTexture(m, self, "flash.display3D.textures::CubeTexture", size, size * 6, m.ToString(m.ArgOr(a, 1)));
}
NATIVE(CtxSetVertexBufferAt) {
  Context3DObject* c = SelfContext(m, self);
  const int index = m.ToInt(m.ArgOr(a, 0));
  if (index < 0 || index > 7) m.ThrowError("RangeError", "The supplied index is out of bounds.", 2006);
  const std::string format = a.size() > 3 ? m.ToString(a[3]) : "float4";
  // Clearing a stream reads no format.
  if (!m.ArgOr(a, 1).IsNullish() && !OneOf(format, {"bytes4", "float1", "float2", "float3", "float4"}))
    BadFormat(m, "vertexStreamFormat");
  Context3DObject::Stream& s = c->streams[static_cast<std::size_t>(index)];
  s.buffer = m.ArgOr(a, 1).IsUndefined() ? Value::Null() : m.ArgOr(a, 1);
  s.offset = a.size() > 2 ? m.ToInt(a[2]) : 0;
  s.format = format;
  return Value();
}
NATIVE(CtxSetProgram) {
  SelfContext(m, self)->program = m.ArgOr(a, 0);
  return Value();
}
NATIVE(CtxSetTextureAt) {
  Context3DObject* c = SelfContext(m, self);
  const int index = m.ToInt(m.ArgOr(a, 0));
  if (index < 0 || index > 7) m.ThrowError("RangeError", "The supplied index is out of bounds.", 2006);
  c->textures[static_cast<std::size_t>(index)] = m.ArgOr(a, 1);
  return Value();
}
// setSamplerStateAt(sampler, wrap, filter, mipfilter): checked here; the
// programs' own sampler flags are what the rasterizer samples with.
NATIVE(CtxSetSamplerState) {
  SelfContext(m, self);
  const int index = m.ToInt(m.ArgOr(a, 0));
  if (index < 0 || index > 7) m.ThrowError("RangeError", "The supplied index is out of bounds.", 2006);
  if (!OneOf(m.ToString(m.ArgOr(a, 1)), {"clamp", "repeat", "clamp_u_repeat_v", "repeat_u_clamp_v"})) BadFormat(m, "wrap");
  if (!OneOf(m.ToString(m.ArgOr(a, 2)), {"nearest", "linear", "anisotropic2x", "anisotropic4x", "anisotropic8x",
                                         "anisotropic16x"}))
    BadFormat(m, "filter");
  if (a.size() > 3 && !OneOf(m.ToString(a[3]), {"mipnone", "mipnearest", "miplinear"})) BadFormat(m, "mipfilter");
  return Value();
}
// Constants: 128 vertex and 28 fragment registers of four floats.
std::vector<float>& Constants(Machine& m, Context3DObject* c, const Value& type) {
  const std::string t = m.ToString(type);
  if (t == "vertex") return c->vertexConstants;
  if (t == "fragment") return c->fragmentConstants;
  BadFormat(m, "programType");
}
void StoreConstants(Machine& m, std::vector<float>& regs, int first, const std::vector<float>& values) {
  const std::size_t start = static_cast<std::size_t>(std::max(first, 0)) * 4;
  if (first < 0 || start + values.size() > regs.size())
    m.ThrowError("RangeError", "The supplied index is out of bounds.", 2006);
  std::copy(values.begin(), values.end(), regs.begin() + static_cast<std::ptrdiff_t>(start));
}
NATIVE(CtxConstantsFromVector) {
  Context3DObject* c = SelfContext(m, self);
  auto& regs = Constants(m, c, m.ArgOr(a, 0));
  avm2::ArrayObject* v = AsArray(m.ArgOr(a, 2));
  if (!v) m.ThrowError("TypeError", "Parameter data must be non-null.", 2007);
  int count = a.size() > 3 ? m.ToInt(a[3]) : -1;
  if (count < 0) count = static_cast<int>(v->elems.size() / 4);
  if (static_cast<std::size_t>(count) * 4 > v->elems.size()) m.ThrowError("Error", "Bad input size.", 3669);
  std::vector<float> values;
  for (std::size_t i = 0; i < static_cast<std::size_t>(count) * 4; ++i)
    values.push_back(static_cast<float>(m.ToNumber(v->elems[i])));
  StoreConstants(m, regs, m.ToInt(m.ArgOr(a, 1)), values);
  return Value();
}
NATIVE(CtxConstantsFromMatrix) {
  Context3DObject* c = SelfContext(m, self);
  auto& regs = Constants(m, c, m.ArgOr(a, 0));
  const Value raw = m.GetProperty(m.ArgOr(a, 2), "rawData");
  avm2::ArrayObject* v = AsArray(raw);
  if (!v || v->elems.size() < 16) Invalid(m);
  const bool transpose = a.size() > 3 && m.ToBoolean(a[3]);
  std::vector<float> values(16);
  // rawData keeps the translation in 12..14, so m44 against registers
  // (raw[r], raw[4 + r], raw[8 + r], raw[12 + r]) transforms as the matrix
  // does: that is the transposed copy; the plain copy takes rawData in order.
  for (int r = 0; r < 4; ++r)
    for (int col = 0; col < 4; ++col)
      values[static_cast<std::size_t>(r * 4 + col)] =
          static_cast<float>(m.ToNumber(v->elems[static_cast<std::size_t>(transpose ? col * 4 + r : r * 4 + col)]));
  StoreConstants(m, regs, m.ToInt(m.ArgOr(a, 1)), values);
  return Value();
}
NATIVE(CtxConstantsFromBytes) {
  Context3DObject* c = SelfContext(m, self);
  auto& regs = Constants(m, c, m.ArgOr(a, 0));
  const int first = m.ToInt(m.ArgOr(a, 1)), count = m.ToInt(m.ArgOr(a, 2));
  avm2::ByteArrayObject* bytes = AsBytes(m.ArgOr(a, 3));
  const std::int64_t offset = static_cast<std::int64_t>(m.ToUint(m.ArgOr(a, 4)));
  if (!bytes) m.ThrowError("TypeError", "Parameter data must be non-null.", 2007);
  if (count < 0 || offset + static_cast<std::int64_t>(count) * 16 > static_cast<std::int64_t>(bytes->bytes.size()))
    m.ThrowError("Error", "Bad input size.", 3669);
  std::vector<float> values;
  for (int i = 0; i < count * 4; ++i) {
    std::uint32_t u = 0;
    for (int k = 0; k < 4; ++k) {
      const std::size_t at = static_cast<std::size_t>(offset) + static_cast<std::size_t>(i) * 4 +
                             static_cast<std::size_t>(bytes->littleEndian ? 3 - k : k);
      u = (u << 8) | bytes->bytes[at];
    }
    float f;
    std::memcpy(&f, &u, 4);
    values.push_back(f);
  }
  StoreConstants(m, regs, first, values);
  return Value();
}
NATIVE(CtxSetBlendFactors) {
  Context3DObject* c = SelfContext(m, self);
  const std::string src = m.ToString(m.ArgOr(a, 0)), dst = m.ToString(m.ArgOr(a, 1));
  for (const std::string* f : {&src, &dst})
    if (!OneOf(*f, {"one", "zero", "sourceAlpha", "sourceColor", "destinationAlpha", "destinationColor",
                    "oneMinusSourceAlpha", "oneMinusSourceColor", "oneMinusDestinationAlpha", "oneMinusDestinationColor"}))
      BadFormat(m, f == &src ? "sourceFactor" : "destinationFactor");
  c->draw.source = BlendOf(src);
  c->draw.destination = BlendOf(dst);
  return Value();
}
NATIVE(CtxSetCulling) {
  Context3DObject* c = SelfContext(m, self);
  const std::string face = m.ToString(m.ArgOr(a, 0));
  if (!OneOf(face, {"back", "front", "frontAndBack", "none"})) BadFormat(m, "triangleFaceToCull");
  c->draw.cull = face == "back" ? agal::Cull::kBack : face == "front" ? agal::Cull::kFront
               : face == "frontAndBack" ? agal::Cull::kBoth : agal::Cull::kNone;
  return Value();
}
constexpr std::initializer_list<const char*> kCompareModes = {"always", "equal", "greater", "greaterEqual",
                                                              "less", "lessEqual", "never", "notEqual"};
NATIVE(CtxSetDepthTest) {
  Context3DObject* c = SelfContext(m, self);
  const std::string mode = m.ToString(m.ArgOr(a, 1));
  if (!OneOf(mode, kCompareModes)) BadFormat(m, "passCompareMode");
  c->draw.depthWrite = m.ToBoolean(m.ArgOr(a, 0));
  c->draw.depth = CompareOf(mode);
  return Value();
}
NATIVE(CtxSetStencilActions) {
  Context3DObject* c = SelfContext(m, self);
  const std::string face = a.empty() ? "frontAndBack" : m.ToString(a[0]);
  if (!OneOf(face, {"back", "front", "frontAndBack", "none"})) BadFormat(m, "triangleFace");
  const std::string compare = a.size() > 1 ? m.ToString(a[1]) : "always";
  if (!OneOf(compare, kCompareModes)) BadFormat(m, "compareMode");
  static const char* const kActions[] = {"actionOnBothPass", "actionOnDepthFail", "actionOnDepthPassStencilFail"};
  for (std::size_t k = 2; k < std::min<std::size_t>(a.size(), 5); ++k)
    if (!OneOf(m.ToString(a[k]), {"decrementSaturate", "decrementWrap", "incrementSaturate", "incrementWrap", "invert",
                                  "keep", "set", "zero"}))
      BadFormat(m, kActions[k - 2]);
  c->stencilCompare = compare;
  return Value();
}
NATIVE(CtxSetStencilReference) {
  Context3DObject* c = SelfContext(m, self);
  c->stencilReference = m.ToUint(m.ArgOr(a, 0)) & 255;
  return Value();
}
NATIVE(CtxSetColorMask) {
  Context3DObject* c = SelfContext(m, self);
  for (std::size_t k = 0; k < 4; ++k) c->draw.colorMask[k] = m.ToBoolean(m.ArgOr(a, k));
  return Value();
}
// Later draws touch only the pixels inside the rectangle (whole pixels);
// null draws everywhere again.
NATIVE(CtxSetScissor) {
  Context3DObject* c = SelfContext(m, self);
  const Value r = m.ArgOr(a, 0);
  c->draw.scissor = r.IsObject();
  if (!r.IsObject()) return Value();
  auto whole = [&](const char* n) {
    const double d = m.ToNumber(m.GetProperty(r, n));
    return std::isfinite(d) ? static_cast<int>(std::clamp(std::floor(d), -1e6, 1e6)) : 0;
  };
  c->draw.scissorX = whole("x");
  c->draw.scissorY = whole("y");
  c->draw.scissorWidth = whole("width");
  c->draw.scissorHeight = whole("height");
  return Value();
}
// The back buffer, its colours taken back from the presented frame unless
// the caller is about to overwrite them all.
agal::Target& BackBuffer(Context3DObject* c, bool overwritesColour) {
  c->shownKey = 0;  // whatever it held is changing
  if (c->colourShown) {
    c->colourShown = false;
    if (overwritesColour) {
      c->target.color.swap(c->spare);
      c->target.color.resize(static_cast<std::size_t>(c->target.width) * static_cast<std::size_t>(c->target.height) * 4);
    } else {
      c->target.color = c->presented->picture.color;
    }
  }
  return c->target;
}
// The target later clears and draws go to: the back buffer, or the chosen
// texture loaded into the context's texture target.
// The texture target as setRenderToTexture left it: its texture's colours
// (none for a compressed texture) and a far depth, unless what comes next
// overwrites them.
void ReadTextureTarget(Context3DObject* c, Resource3DObject* tex, bool overwritesColour, bool overwritesDepth) {
  agal::Target& t = c->textureTarget;
  if (c->textureColourUnread && !overwritesColour) {
    const std::size_t n = static_cast<std::size_t>(t.width) * static_cast<std::size_t>(t.height);
    if (tex->pixels.size() >= n) t.SetWords(std::span<const std::uint32_t>(tex->pixels.data(), n));
    else std::fill(t.color.begin(), t.color.end(), 0.0f);
  }
  if (c->textureDepthUnset && !overwritesDepth) std::fill(t.depth.begin(), t.depth.end(), 1.0f);
  c->textureColourUnread = c->textureDepthUnset = false;
}
agal::Target& CurrentTarget(Context3DObject* c, bool overwritesColour = false, bool overwritesDepth = false) {
  Resource3DObject* tex = As<Resource3DObject>(c->renderTarget);
  if (!tex || tex->kind != Resource3DObject::kTexture) return BackBuffer(c, overwritesColour);
  ReadTextureTarget(c, tex, overwritesColour, overwritesDepth);
  return c->textureTarget;
}
// Keys of recorded frames: each word mixed in turn.
void Mix(std::uint64_t& k, std::uint64_t v) {
  k = (k ^ v) * 0x100000001B3ull;
  k ^= k >> 29;
}
void MixBytes(std::uint64_t& k, const void* data, std::size_t n) {
  const auto* p = static_cast<const unsigned char*>(data);
  std::size_t at = 0;
  for (; at + 8 <= n; at += 8) {
    std::uint64_t v;
    std::memcpy(&v, p + at, 8);
    Mix(k, v);
  }
  std::uint64_t tail = 0;
  std::memcpy(&tail, p + at, n - at);
  Mix(k, tail ^ n);
}
void MixState(std::uint64_t& k, const agal::DrawState& s) {
  Mix(k, static_cast<std::uint64_t>(s.source) | static_cast<std::uint64_t>(s.destination) << 8 |
             static_cast<std::uint64_t>(s.depth) << 16 | static_cast<std::uint64_t>(s.cull) << 24 |
             static_cast<std::uint64_t>(s.depthWrite) << 32 | static_cast<std::uint64_t>(s.scissor) << 33 |
             static_cast<std::uint64_t>(s.colorMask[0]) << 34 | static_cast<std::uint64_t>(s.colorMask[1]) << 35 |
             static_cast<std::uint64_t>(s.colorMask[2]) << 36 | static_cast<std::uint64_t>(s.colorMask[3]) << 37);
  if (s.scissor) {
    Mix(k, static_cast<std::uint32_t>(s.scissorX) | static_cast<std::uint64_t>(static_cast<std::uint32_t>(s.scissorY)) << 32);
    Mix(k, static_cast<std::uint32_t>(s.scissorWidth) | static_cast<std::uint64_t>(static_cast<std::uint32_t>(s.scissorHeight)) << 32);
  }
}
// Draws the recorded frame into the back buffer: something needs the
// pixels before present, or present found them new.
void DrawRecording(Machine& m, Context3DObject* c) {
  if (!c->recording) return;
  c->recording = false;
  agal::Target& t = BackBuffer(c, true);
  t.Clear(c->recordedClear, c->recordedDepth, true, true);
  try {
    for (const Context3DObject::Recorded& r : c->recorded) agal::DrawTriangles(t, r.draw, 0, r.indices.size() / 3);
  } catch (const agal::AgalError& e) {
    m.ThrowError("Error", e.what(), 3670);
  }
  c->recorded.clear();
  c->recordedTextures.clear();
  c->recordedFloats = 0;
}
// Before a texture's words change: recorded draws read the old ones.
void StoreTextureTarget(Context3DObject* c);
void BeforeTextureWrite(Machine& m, Resource3DObject* tex) {
  if (Context3DObject* c = As<Context3DObject>(tex->context)) {
    DrawRecording(m, c);
    if (tex == As<Resource3DObject>(c->renderTarget)) StoreTextureTarget(c);
  }
  tex->stamp = NextStamp();
}
// Keeps a back-buffer draw for present: copies of what it reads that
// scripts may change (constants, indices, the vertices it names), and its
// programs' and textures' stamps in the key. False when an index names no
// vertex (drawn at once, it raises the error) or the frame has grown too
// big to keep.
constexpr std::size_t kMostRecordedFloats = std::size_t{16} << 20;
bool Record(Context3DObject* c, const agal::Draw& d, const Resource3DObject* program, const Value (&textures)[8],
            std::size_t first, std::size_t count) {
  Context3DObject::Recorded r;
  r.indices.assign(d.indices.begin() + static_cast<std::ptrdiff_t>(first),
                   d.indices.begin() + static_cast<std::ptrdiff_t>(first + count * 3));
  if (r.indices.empty()) return true;
  const std::size_t last = *std::max_element(r.indices.begin(), r.indices.end());
  std::size_t floats = 0;
  for (const agal::Stream& s : d.streams) {
    if (s.data && last >= static_cast<std::size_t>(s.vertices)) return false;
    if (s.data) floats += (last + 1) * static_cast<std::size_t>(s.perVertex);
  }
  floats += d.vertexConstants.size() + d.fragmentConstants.size() + r.indices.size();
  if (c->recordedFloats + floats > kMostRecordedFloats) return false;
  c->recordedFloats += floats;
  std::uint64_t& k = c->key;
  Mix(k, program->stamp);
  r.vertex = program->vertexProgram;
  r.fragment = program->fragmentProgram;
  r.vertexConstants.assign(d.vertexConstants.begin(), d.vertexConstants.end());
  r.fragmentConstants.assign(d.fragmentConstants.begin(), d.fragmentConstants.end());
  MixBytes(k, r.vertexConstants.data(), r.vertexConstants.size() * 4);
  MixBytes(k, r.fragmentConstants.data(), r.fragmentConstants.size() * 4);
  MixBytes(k, r.indices.data(), r.indices.size() * 2);
  r.draw = d;
  for (std::size_t s = 0; s < 8; ++s) {
    const agal::Stream& st = d.streams[s];
    if (st.data) {
      r.vertices[s].assign(st.data, st.data + (last + 1) * static_cast<std::size_t>(st.perVertex));
      r.draw.streams[s].data = r.vertices[s].data();
      r.draw.streams[s].vertices = static_cast<int>(last + 1);
      Mix(k, s | static_cast<std::uint64_t>(st.perVertex) << 8 | static_cast<std::uint64_t>(st.offset) << 16 |
                 static_cast<std::uint64_t>(st.components) << 24 | static_cast<std::uint64_t>(st.bytes4) << 32);
      MixBytes(k, r.vertices[s].data(), r.vertices[s].size() * 4);
    }
    if (const agal::TextureView& tv = d.textures[s]; tv.pixels) {
      Mix(k, s | static_cast<std::uint64_t>(As<Resource3DObject>(textures[s])->stamp) << 8);
      c->recordedTextures.push_back(textures[s]);
    }
  }
  MixState(k, d.state);
  r.draw.vertex = r.vertex.get();
  r.draw.fragment = r.fragment.get();
  r.draw.vertexConstants = r.vertexConstants;
  r.draw.fragmentConstants = r.fragmentConstants;
  r.draw.indices = r.indices;
  c->recorded.push_back(std::move(r));
  return true;
}
// Draws into a texture are written back to its words only when something
// may read them (another target chosen, the texture sampled or uploaded):
// a texture drawn in many small draws is converted once, not once a draw.
void MarkTextureTarget(Context3DObject* c) {
  Resource3DObject* tex = As<Resource3DObject>(c->renderTarget);
  if (!tex || tex->kind != Resource3DObject::kTexture) return;
  tex->stamp = NextStamp();
  c->textureUnstored = true;
}
void StoreTextureTarget(Context3DObject* c) {
  Resource3DObject* tex = As<Resource3DObject>(c->renderTarget);
  if (!c->textureUnstored || !tex || tex->kind != Resource3DObject::kTexture) return;
  c->textureUnstored = false;
  const agal::Target& t = c->textureTarget;
  const std::size_t n = static_cast<std::size_t>(t.width) * static_cast<std::size_t>(t.height);
  if (tex->pixels.size() < n) return;
  t.Words(std::span<std::uint32_t>(tex->pixels.data(), n));
}
// setRenderToTexture(texture, enableDepthAndStencil, antiAlias, surfaceSelector)
NATIVE(CtxSetRenderTarget) {
  Context3DObject* c = SelfContext(m, self);
  const Value v = m.ArgOr(a, 0);
  Resource3DObject* tex = As<Resource3DObject>(v);
  if (!tex || tex->kind != Resource3DObject::kTexture)
    m.ThrowError("TypeError", "Parameter texture must be non-null.", 2007);
  StoreTextureTarget(c);
  c->renderTarget = v;
  // A cube map draws into its first face only. Its colours and depths are
  // set when first drawn (most movies clear the texture first).
  const int h = tex->height == tex->width * 6 ? tex->width : tex->height;
  agal::Target& t = c->textureTarget;
  const std::size_t n = static_cast<std::size_t>(std::max(tex->width, 0)) * static_cast<std::size_t>(std::max(h, 0));
  t.width = std::max(tex->width, 0), t.height = std::max(h, 0);
  t.color.resize(n * 4);
  t.depth.resize(n);
  c->textureColourUnread = c->textureDepthUnset = true;
  return Value();
}
NATIVE(CtxSetBackBufferTarget) {
  Context3DObject* c = SelfContext(m, self);
  StoreTextureTarget(c);
  c->renderTarget = Value::Null();
  return Value();
}
// clear(red, green, blue, alpha = 1, depth = 1, stencil = 0, mask = ALL)
NATIVE(CtxClear) {
  Context3DObject* c = SelfContext(m, self);
  auto channel = [&](std::size_t i, double d) {
    const double v = i < a.size() ? m.ToNumber(a[i]) : d;
    return static_cast<float>(std::clamp(std::isnan(v) ? 0.0 : v, 0.0, 1.0));
  };
  const std::uint32_t mask = a.size() > 6 ? m.ToUint(a[6]) : 7;
  const bool toTexture = As<Resource3DObject>(c->renderTarget) != nullptr;
  if (!toTexture && (mask & 3) == 3) {
    // A new frame: whatever was recorded before is cleared away.
    c->recorded.clear();
    c->recordedTextures.clear();
    c->recordedFloats = 0;
    c->recording = true;
    c->recordedClear = {channel(0, 0), channel(1, 0), channel(2, 0), channel(3, 1)};
    c->recordedDepth = channel(4, 1);
    c->key = 0xCBF29CE484222325ull;
    MixBytes(c->key, c->recordedClear.data(), 16);
    MixBytes(c->key, &c->recordedDepth, 4);
    return Value();
  }
  DrawRecording(m, c);
  CurrentTarget(c, mask & 1, mask & 2).Clear({channel(0, 0), channel(1, 0), channel(2, 0), channel(3, 1)}, channel(4, 1), mask & 1, mask & 2);
  MarkTextureTarget(c);
  c->cleared = true;
  return Value();
}
NATIVE(CtxDrawTriangles) {
  Context3DObject* c = SelfContext(m, self);
  Resource3DObject* indices = As<Resource3DObject>(m.ArgOr(a, 0));
  if (!indices || indices->kind != Resource3DObject::kIndices) m.ThrowError("TypeError", "Parameter indexBuffer must be non-null.", 2007);
  Resource3DObject* program = As<Resource3DObject>(c->program);
  if (!program || !program->vertexProgram) m.ThrowError("Error", "A Program3D object must be set before drawing.", 3700);
  agal::Draw d;
  d.vertex = program->vertexProgram.get();
  d.fragment = program->fragmentProgram.get();
  d.vertexConstants = c->vertexConstants;
  d.fragmentConstants = c->fragmentConstants;
  for (std::size_t k = 0; k < 8; ++k) {
    const Context3DObject::Stream& s = c->streams[k];
    if (Resource3DObject* vb = As<Resource3DObject>(s.buffer); vb && vb->kind == Resource3DObject::kVertices) {
      d.streams[k] = {vb->floats.data(), vb->count, vb->perItem, s.offset,
                      s.format == "bytes4" ? 1 : s.format.back() - '0', s.format == "bytes4"};
      if (s.offset < 0 || s.offset + (s.format == "bytes4" ? 1 : s.format.back() - '0') > vb->perItem)
        m.ThrowError("Error", "Vertex buffer offset is out of range.", 3652);
    }
    if (Resource3DObject* tex = As<Resource3DObject>(c->textures[k]); tex && tex->kind == Resource3DObject::kTexture) {
      if (tex == As<Resource3DObject>(c->renderTarget)) StoreTextureTarget(c);
      d.textures[k] = {tex->pixels.data(), tex->width, tex->height, tex->height == tex->width * 6};
    }
  }
  d.indices = indices->indices;
  d.state = c->draw;
  const std::size_t first = static_cast<std::size_t>(std::max(0, m.ToInt(m.ArgOr(a, 1))));
  const int num = a.size() > 2 ? m.ToInt(a[2]) : -1;
  const std::size_t count = num < 0 ? (indices->indices.size() - std::min(first, indices->indices.size())) / 3
                                    : static_cast<std::size_t>(num);
  if (first + count * 3 > indices->indices.size()) m.ThrowError("Error", "Index buffer is too small.", 3670);
  const bool toTexture = As<Resource3DObject>(c->renderTarget) != nullptr;
  if (!toTexture && c->recording && Record(c, d, program, c->textures, first, count)) return Value();
  DrawRecording(m, c);
  // Rasterizing is bounded by the back buffer, the work by the triangles.
  try {
    agal::DrawTriangles(CurrentTarget(c), d, first, count);
  } catch (const agal::AgalError& e) {
    m.ThrowError("Error", e.what(), 3670);
  }
  MarkTextureTarget(c);
  return Value();
}
// present() shows the back buffer on its layer, opaque: the premultiplied
// colours stand as they are and the alpha is dropped.
NATIVE(CtxPresent) {
  Context3DObject* c = SelfContext(m, self);
  const int w = c->target.width, h = c->target.height;
  if (c->recording) {
    // The frame the back buffer holds, drawn again: it stands as presented.
    if (c->shownKey != 0 && c->key == c->shownKey) {
      c->recording = false;
      c->recorded.clear();
      c->recordedTextures.clear();
      c->recordedFloats = 0;
      return Value();
    }
    DrawRecording(m, c);
    c->shownKey = c->key;
  }
  // Nothing drawn since the last present: the same picture stands.
  if (w <= 0 || h <= 0 || c->colourShown) return Value();
  auto frame = std::make_shared<PresentedFrame>();
  frame->picture.width = w;
  frame->picture.height = h;
  frame->picture.color.swap(c->target.color);
  // A former frame no one paints any more lends its buffer to the next clear.
  if (c->presented && c->presented.use_count() == 1) c->spare.swap(c->presented->picture.color);
  c->presented = std::move(frame);
  c->colourShown = true;
  c->presentedWidth = w;
  c->presentedHeight = h;
  return Value();
}
NATIVE(CtxDrawToBitmapData) {
  Context3DObject* c = SelfContext(m, self);
  BitmapDataObject* bd = ArgAs<BitmapDataObject>(m, m.ArgOr(a, 0), "flash.display::BitmapData");
  if (!bd || !bd->bitmap) m.ThrowError("TypeError", "Parameter destination must be non-null.", 2007);
  cairo_surface_t* s = bd->bitmap->surface.get();
  cairo_surface_flush(s);
  DrawRecording(m, c);
  BackBuffer(c, false);
  const int w = std::min(c->target.width, bd->bitmap->width), h = std::min(c->target.height, bd->bitmap->height);
  for (int y = 0; y < h; ++y) {
    auto* row = reinterpret_cast<std::uint32_t*>(cairo_image_surface_get_data(s) +
                                                 static_cast<std::ptrdiff_t>(y) * cairo_image_surface_get_stride(s));
    for (int x = 0; x < w; ++x) row[x] = c->target.Pixel(x, y);
  }
  Changed(m, bd);
  return Value();
}

// ---- buffers, programs and textures

NATIVE(ResDispose) {
  if (Resource3DObject* r = As<Resource3DObject>(self)) r->disposed = true;
  return Value();
}
// uploadFromVector(data, startVertex, numVertices)
NATIVE(VbUploadVector) {
  Resource3DObject* r = SelfResource(m, self);
  avm2::ArrayObject* v = AsArray(m.ArgOr(a, 0));
  const int start = m.ToInt(m.ArgOr(a, 1)), n = m.ToInt(m.ArgOr(a, 2));
  if (!v) m.ThrowError("TypeError", "Parameter data must be non-null.", 2007);
  if (start < 0 || n < 0 || start + n > r->count) m.ThrowError("RangeError", "The supplied index is out of bounds.", 2006);
  const std::size_t need = static_cast<std::size_t>(n) * static_cast<std::size_t>(r->perItem);
  if (v->elems.size() < need) m.ThrowError("RangeError", "The supplied index is out of bounds.", 2006);
  for (std::size_t i = 0; i < need; ++i)
    r->floats[static_cast<std::size_t>(start) * static_cast<std::size_t>(r->perItem) + i] =
        static_cast<float>(m.ToNumber(v->elems[i]));
  return Value();
}
// uploadFromByteArray(data, byteArrayOffset, startVertex, numVertices)
NATIVE(VbUploadBytes) {
  Resource3DObject* r = SelfResource(m, self);
  avm2::ByteArrayObject* b = AsBytes(m.ArgOr(a, 0));
  if (!b) m.ThrowError("TypeError", "Parameter data must be non-null.", 2007);
  const std::int64_t offset = m.ToInt(m.ArgOr(a, 1));
  const int start = m.ToInt(m.ArgOr(a, 2)), n = m.ToInt(m.ArgOr(a, 3));
  if (start < 0 || n < 0 || start + n > r->count) m.ThrowError("RangeError", "The supplied index is out of bounds.", 2006);
  const std::size_t need = static_cast<std::size_t>(n) * static_cast<std::size_t>(r->perItem);
  if (offset < 0 || static_cast<std::size_t>(offset) + need * 4 > b->bytes.size())
    m.ThrowError("RangeError", "The supplied index is out of bounds.", 2006);
  for (std::size_t i = 0; i < need; ++i) {
    std::uint32_t u = 0;
    for (std::size_t k = 0; k < 4; ++k)
      u |= static_cast<std::uint32_t>(b->bytes[static_cast<std::size_t>(offset) + i * 4 + k]) << (8 * k);
    float f;
    std::memcpy(&f, &u, 4);  // vertex data is little-endian whatever the array's order
    r->floats[static_cast<std::size_t>(start) * static_cast<std::size_t>(r->perItem) + i] = f;
  }
  return Value();
}
NATIVE(IbUploadVector) {
  Resource3DObject* r = SelfResource(m, self);
  avm2::ArrayObject* v = AsArray(m.ArgOr(a, 0));
  const int start = m.ToInt(m.ArgOr(a, 1)), n = m.ToInt(m.ArgOr(a, 2));
  if (!v) m.ThrowError("TypeError", "Parameter data must be non-null.", 2007);
  if (start < 0 || n < 0 || start + n > r->count || static_cast<std::size_t>(n) > v->elems.size())
    m.ThrowError("RangeError", "The supplied index is out of bounds.", 2006);
  for (int i = 0; i < n; ++i)
    r->indices[static_cast<std::size_t>(start + i)] = static_cast<std::uint16_t>(m.ToUint(v->elems[static_cast<std::size_t>(i)]));
  return Value();
}
NATIVE(IbUploadBytes) {
  Resource3DObject* r = SelfResource(m, self);
  avm2::ByteArrayObject* b = AsBytes(m.ArgOr(a, 0));
  if (!b) m.ThrowError("TypeError", "Parameter data must be non-null.", 2007);
  const std::int64_t offset = m.ToInt(m.ArgOr(a, 1));
  const int start = m.ToInt(m.ArgOr(a, 2)), n = m.ToInt(m.ArgOr(a, 3));
  if (start < 0 || n < 0 || start + n > r->count || offset < 0 ||
      static_cast<std::size_t>(offset) + static_cast<std::size_t>(n) * 2 > b->bytes.size())
    m.ThrowError("RangeError", "The supplied index is out of bounds.", 2006);
  for (int i = 0; i < n; ++i) {
    const std::size_t at = static_cast<std::size_t>(offset) + static_cast<std::size_t>(i) * 2;
    r->indices[static_cast<std::size_t>(start + i)] = static_cast<std::uint16_t>(b->bytes[at] | b->bytes[at + 1] << 8);
  }
  return Value();
}
// AGAL byte code: a 0xA0 header, version, 0xA1 and the program type.
void CheckAgal(Machine& m, avm2::ByteArrayObject* b, std::uint8_t type) {
  if (!b) m.ThrowError("TypeError", std::string("Parameter ") + (type == 0 ? "vertex" : "fragment") + "Program must be non-null.", 2007);
  if (const auto fault = agal::Validate(b->bytes, type == 1))
    m.ThrowError(fault->argument ? "ArgumentError" : "Error", fault->message, fault->id);
  const auto& s = b->bytes;
  const std::uint32_t version = s[1] | s[2] << 8 | s[3] << 16 | static_cast<std::uint32_t>(s[4]) << 24;
  if (version != 1 && version != 2) m.ThrowError("Error", "AGAL validation failed: Bad AGAL version for program.", 3671);
  if (s[5] != 0xA1 || s[6] != type)
    m.ThrowError("Error", std::string("AGAL validation failed: Shader type must be ") +
                              (type == 0 ? "vertex" : "fragment") + " for " + (type == 0 ? "vertex" : "fragment") +
                              " program.", 3672);
  if ((s.size() - 7) % 24 != 0) m.ThrowError("Error", "AGAL validation failed: Program size below minimum length for " +
                                                          std::string(type == 0 ? "vertex" : "fragment") + " program.", 3668);
}
NATIVE(ProgUpload) {
  Resource3DObject* r = SelfResource(m, self);
  avm2::ByteArrayObject* v = AsBytes(m.ArgOr(a, 0));
  avm2::ByteArrayObject* f = AsBytes(m.ArgOr(a, 1));
  CheckAgal(m, v, 0);
  CheckAgal(m, f, 1);
  try {
    r->vertexProgram = std::make_shared<const agal::Program>(agal::Program::Parse(v->bytes));
    r->fragmentProgram = std::make_shared<const agal::Program>(agal::Program::Parse(f->bytes));
    r->stamp = NextStamp();
  } catch (const agal::AgalError& e) {
    m.ThrowError("Error", std::string("AGAL validation failed: ") + e.what(), 3671);
  }
  return Value();
}
// uploadFromBitmapData(source, miplevel): level 0 is the texture's size.
NATIVE(TexUploadBitmap) {
  Resource3DObject* r = SelfResource(m, self);
  BitmapDataObject* bd = ArgAs<BitmapDataObject>(m, m.ArgOr(a, 0), "flash.display::BitmapData");
  if (!bd || !bd->bitmap) m.ThrowError("TypeError", "Parameter source must be non-null.", 2007);
  const int level = m.ToInt(m.ArgOr(a, 1));
  if (level != 0) return Value();
  BeforeTextureWrite(m, r);
  cairo_surface_t* s = bd->bitmap->surface.get();
  cairo_surface_flush(s);
  // A smaller picture fills the texture's corner; the rest is kept.
  const int h = std::min(r->height, bd->bitmap->height), w = std::min(r->width, bd->bitmap->width);
  for (int y = 0; y < h; ++y) {
    const auto* row = reinterpret_cast<const std::uint32_t*>(cairo_image_surface_get_data(s) +
                                                             static_cast<std::ptrdiff_t>(y) * cairo_image_surface_get_stride(s));
    std::copy(row, row + w, r->pixels.begin() + static_cast<std::ptrdiff_t>(y) * r->width);
  }
  return Value();
}
// uploadFromByteArray(data, byteArrayOffset, miplevel): BGRA bytes.
NATIVE(TexUploadBytes) {
  Resource3DObject* r = SelfResource(m, self);
  avm2::ByteArrayObject* b = AsBytes(m.ArgOr(a, 0));
  if (!b) m.ThrowError("TypeError", "Parameter data must be non-null.", 2007);
  const std::int64_t offset = m.ToUint(m.ArgOr(a, 1));
  if (m.ToInt(m.ArgOr(a, 2)) != 0) return Value();
  const std::size_t need = r->pixels.size() * 4;
  if (static_cast<std::size_t>(offset) + need > b->bytes.size()) m.ThrowError("Error", "Bad input size.", 3669);
  BeforeTextureWrite(m, r);
  for (std::size_t i = 0; i < r->pixels.size(); ++i) {
    const std::uint8_t* p = b->bytes.data() + offset + static_cast<std::ptrdiff_t>(i * 4);
    r->pixels[i] = static_cast<std::uint32_t>(p[3]) << 24 | static_cast<std::uint32_t>(p[2]) << 16 |
                   static_cast<std::uint32_t>(p[1]) << 8 | p[0];
  }
  return Value();
}
// Compressed (ATF) textures: the container is checked, its blocks kept.
NATIVE(TexUploadCompressed) {
  Resource3DObject* r = SelfResource(m, self);
  avm2::ByteArrayObject* b = AsBytes(m.ArgOr(a, 0));
  if (!b) m.ThrowError("TypeError", "Parameter data must be non-null.", 2007);
  const std::size_t offset = m.ToUint(m.ArgOr(a, 1));
  if (offset + 6 > b->bytes.size() || std::memcmp(b->bytes.data() + offset, "ATF", 3) != 0)
    m.ThrowError("Error", "Compressed texture data is not a valid ATF file.", 3679);
  // The header: 6 bytes, or 12 when its seventh byte is 255; then the
  // format (the high bit marks a cube map) and the log2 width and height.
  const std::uint8_t* atf = b->bytes.data() + offset;
  const std::size_t header = offset + 7 <= b->bytes.size() && atf[6] == 0xFF ? 12 : 6;
  if (offset + header + 3 > b->bytes.size())
    m.ThrowError("Error", "Compressed texture data is not a valid ATF file.", 3679);
  const bool cube = (atf[header] & 0x80) != 0;
  const int w = atf[header + 1] < 16 ? 1 << atf[header + 1] : 0, h = atf[header + 2] < 16 ? 1 << atf[header + 2] : 0;
  const Class* cls = m.ClassOf(self);
  const bool cubeTexture = cls && cls->name == "CubeTexture";
  // A cube texture's faces are stacked: each is width x width.
  if (w != r->width || h != (cubeTexture ? r->width : r->height))
    m.ThrowError("Error", "Texture size does not match.", 3679);
  if (cube != cubeTexture) m.ThrowError("ArgumentError", "Texture format mismatch.", 3675);
  BeforeTextureWrite(m, r);
  r->compressed.assign(b->bytes.begin() + static_cast<std::ptrdiff_t>(offset), b->bytes.end());
  if (m.ToBoolean(m.ArgOr(a, 2))) B(m).SendSimple(r, "textureReady");
  return Value();
}

constexpr MemberRow kStage3DRows[] = {
    {"flash.display::Stage3D", "x", Member::kGetter, S3GetX},
    {"flash.display::Stage3D", "x", Member::kSetter, S3SetX},
    {"flash.display::Stage3D", "y", Member::kGetter, S3GetY},
    {"flash.display::Stage3D", "y", Member::kSetter, S3SetY},
    {"flash.display::Stage3D", "visible", Member::kGetter, S3GetVisible},
    {"flash.display::Stage3D", "visible", Member::kSetter, S3SetVisible},
    {"flash.display::Stage3D", "context3D", Member::kGetter, S3GetContext},
    {"flash.display::Stage3D", "requestContext3D", Member::kMethod, S3Request},
    {"flash.display::Stage3D", "requestContext3DMatchingProfiles", Member::kMethod, S3Request},
    {"flash.display3D::Context3D", "configureBackBuffer", Member::kMethod, CtxConfigure},
    {"flash.display3D::Context3D", "backBufferWidth", Member::kGetter, CtxWidth},
    {"flash.display3D::Context3D", "backBufferHeight", Member::kGetter, CtxHeight},
    {"flash.display3D::Context3D", "maxBackBufferWidth", Member::kGetter, CtxMaxSize},
    {"flash.display3D::Context3D", "maxBackBufferHeight", Member::kGetter, CtxMaxSize},
    {"flash.display3D::Context3D", "driverInfo", Member::kGetter, CtxDriverInfo},
    {"flash.display3D::Context3D", "profile", Member::kGetter, CtxProfile},
    {"flash.display3D::Context3D", "enableErrorChecking", Member::kGetter, CtxGetChecking},
    {"flash.display3D::Context3D", "enableErrorChecking", Member::kSetter, CtxSetChecking},
    {"flash.display3D::Context3D", "dispose", Member::kMethod, CtxDispose},
    {"flash.display3D::Context3D", "createVertexBuffer", Member::kMethod, CtxCreateVertexBuffer},
    {"flash.display3D::Context3D", "createIndexBuffer", Member::kMethod, CtxCreateIndexBuffer},
    {"flash.display3D::Context3D", "createProgram", Member::kMethod, CtxCreateProgram},
    {"flash.display3D::Context3D", "createTexture", Member::kMethod, CtxCreateTexture},
    {"flash.display3D::Context3D", "createRectangleTexture", Member::kMethod, CtxCreateRectTexture},
    {"flash.display3D::Context3D", "createCubeTexture", Member::kMethod, CtxCreateCubeTexture},
    {"flash.display3D::Context3D", "setVertexBufferAt", Member::kMethod, CtxSetVertexBufferAt},
    {"flash.display3D::Context3D", "setProgram", Member::kMethod, CtxSetProgram},
    {"flash.display3D::Context3D", "setTextureAt", Member::kMethod, CtxSetTextureAt},
    {"flash.display3D::Context3D", "setSamplerStateAt", Member::kMethod, CtxSetSamplerState},
    {"flash.display3D::Context3D", "setProgramConstantsFromVector", Member::kMethod, CtxConstantsFromVector},
    {"flash.display3D::Context3D", "setProgramConstantsFromMatrix", Member::kMethod, CtxConstantsFromMatrix},
    {"flash.display3D::Context3D", "setProgramConstantsFromByteArray", Member::kMethod, CtxConstantsFromBytes},
    {"flash.display3D::Context3D", "setBlendFactors", Member::kMethod, CtxSetBlendFactors},
    {"flash.display3D::Context3D", "setCulling", Member::kMethod, CtxSetCulling},
    {"flash.display3D::Context3D", "setDepthTest", Member::kMethod, CtxSetDepthTest},
    {"flash.display3D::Context3D", "setStencilActions", Member::kMethod, CtxSetStencilActions},
    {"flash.display3D::Context3D", "setStencilReferenceValue", Member::kMethod, CtxSetStencilReference},
    {"flash.display3D::Context3D", "setColorMask", Member::kMethod, CtxSetColorMask},
    {"flash.display3D::Context3D", "setScissorRectangle", Member::kMethod, CtxSetScissor},
    {"flash.display3D::Context3D", "setRenderToTexture", Member::kMethod, CtxSetRenderTarget},
    {"flash.display3D::Context3D", "setRenderToBackBuffer", Member::kMethod, CtxSetBackBufferTarget},
    {"flash.display3D::Context3D", "clear", Member::kMethod, CtxClear},
    {"flash.display3D::Context3D", "drawTriangles", Member::kMethod, CtxDrawTriangles},
    {"flash.display3D::Context3D", "present", Member::kMethod, CtxPresent},
    {"flash.display3D::Context3D", "drawToBitmapData", Member::kMethod, CtxDrawToBitmapData},
    {"flash.display3D::VertexBuffer3D", "uploadFromVector", Member::kMethod, VbUploadVector},
    {"flash.display3D::VertexBuffer3D", "uploadFromByteArray", Member::kMethod, VbUploadBytes},
    {"flash.display3D::VertexBuffer3D", "dispose", Member::kMethod, ResDispose},
    {"flash.display3D::IndexBuffer3D", "uploadFromVector", Member::kMethod, IbUploadVector},
    {"flash.display3D::IndexBuffer3D", "uploadFromByteArray", Member::kMethod, IbUploadBytes},
    {"flash.display3D::IndexBuffer3D", "dispose", Member::kMethod, ResDispose},
    {"flash.display3D::Program3D", "upload", Member::kMethod, ProgUpload},
    {"flash.display3D::Program3D", "dispose", Member::kMethod, ResDispose},
    {"flash.display3D.textures::TextureBase", "dispose", Member::kMethod, ResDispose},
    {"flash.display3D.textures::Texture", "uploadFromBitmapData", Member::kMethod, TexUploadBitmap},
    {"flash.display3D.textures::Texture", "uploadFromByteArray", Member::kMethod, TexUploadBytes},
    {"flash.display3D.textures::Texture", "uploadCompressedTextureFromByteArray", Member::kMethod, TexUploadCompressed},
    {"flash.display3D.textures::RectangleTexture", "uploadFromBitmapData", Member::kMethod, TexUploadBitmap},
    {"flash.display3D.textures::RectangleTexture", "uploadFromByteArray", Member::kMethod, TexUploadBytes},
    {"flash.display3D.textures::CubeTexture", "uploadFromBitmapData", Member::kMethod, TexUploadBitmap},
    {"flash.display3D.textures::CubeTexture", "uploadFromByteArray", Member::kMethod, TexUploadBytes},
    {"flash.display3D.textures::CubeTexture", "uploadCompressedTextureFromByteArray", Member::kMethod, TexUploadCompressed},
#define QV_CONST(cls, name, text) {"flash.display3D::" cls, name, Member::kConst, nullptr, text}
    QV_CONST("Context3DProgramType", "VERTEX", "vertex"), QV_CONST("Context3DProgramType", "FRAGMENT", "fragment"),
    QV_CONST("Context3DRenderMode", "AUTO", "auto"), QV_CONST("Context3DRenderMode", "SOFTWARE", "software"),
    QV_CONST("Context3DVertexBufferFormat", "BYTES_4", "bytes4"),
    QV_CONST("Context3DVertexBufferFormat", "FLOAT_1", "float1"),
    QV_CONST("Context3DVertexBufferFormat", "FLOAT_2", "float2"),
    QV_CONST("Context3DVertexBufferFormat", "FLOAT_3", "float3"),
    QV_CONST("Context3DVertexBufferFormat", "FLOAT_4", "float4"),
    QV_CONST("Context3DTextureFormat", "BGRA", "bgra"),
    QV_CONST("Context3DTextureFormat", "BGRA_PACKED", "bgraPacked4444"),
    QV_CONST("Context3DTextureFormat", "BGR_PACKED", "bgrPacked565"),
    QV_CONST("Context3DTextureFormat", "COMPRESSED", "compressed"),
    QV_CONST("Context3DTextureFormat", "COMPRESSED_ALPHA", "compressedAlpha"),
    QV_CONST("Context3DTextureFormat", "RGBA_HALF_FLOAT", "rgbaHalfFloat"),
    QV_CONST("Context3DBlendFactor", "ONE", "one"), QV_CONST("Context3DBlendFactor", "ZERO", "zero"),
    QV_CONST("Context3DBlendFactor", "SOURCE_ALPHA", "sourceAlpha"),
    QV_CONST("Context3DBlendFactor", "SOURCE_COLOR", "sourceColor"),
    QV_CONST("Context3DBlendFactor", "DESTINATION_ALPHA", "destinationAlpha"),
    QV_CONST("Context3DBlendFactor", "DESTINATION_COLOR", "destinationColor"),
    QV_CONST("Context3DBlendFactor", "ONE_MINUS_SOURCE_ALPHA", "oneMinusSourceAlpha"),
    QV_CONST("Context3DBlendFactor", "ONE_MINUS_SOURCE_COLOR", "oneMinusSourceColor"),
    QV_CONST("Context3DBlendFactor", "ONE_MINUS_DESTINATION_ALPHA", "oneMinusDestinationAlpha"),
    QV_CONST("Context3DBlendFactor", "ONE_MINUS_DESTINATION_COLOR", "oneMinusDestinationColor"),
    QV_CONST("Context3DCompareMode", "ALWAYS", "always"), QV_CONST("Context3DCompareMode", "EQUAL", "equal"),
    QV_CONST("Context3DCompareMode", "GREATER", "greater"),
    QV_CONST("Context3DCompareMode", "GREATER_EQUAL", "greaterEqual"),
    QV_CONST("Context3DCompareMode", "LESS", "less"), QV_CONST("Context3DCompareMode", "LESS_EQUAL", "lessEqual"),
    QV_CONST("Context3DCompareMode", "NEVER", "never"), QV_CONST("Context3DCompareMode", "NOT_EQUAL", "notEqual"),
    QV_CONST("Context3DTriangleFace", "BACK", "back"), QV_CONST("Context3DTriangleFace", "FRONT", "front"),
    QV_CONST("Context3DTriangleFace", "FRONT_AND_BACK", "frontAndBack"),
    QV_CONST("Context3DTriangleFace", "NONE", "none"),
    QV_CONST("Context3DStencilAction", "DECREMENT_SATURATE", "decrementSaturate"),
    QV_CONST("Context3DStencilAction", "DECREMENT_WRAP", "decrementWrap"),
    QV_CONST("Context3DStencilAction", "INCREMENT_SATURATE", "incrementSaturate"),
    QV_CONST("Context3DStencilAction", "INCREMENT_WRAP", "incrementWrap"),
    QV_CONST("Context3DStencilAction", "INVERT", "invert"), QV_CONST("Context3DStencilAction", "KEEP", "keep"),
    QV_CONST("Context3DStencilAction", "SET", "set"), QV_CONST("Context3DStencilAction", "ZERO", "zero"),
    QV_CONST("Context3DProfile", "BASELINE", "baseline"),
    QV_CONST("Context3DProfile", "BASELINE_CONSTRAINED", "baselineConstrained"),
    QV_CONST("Context3DProfile", "BASELINE_EXTENDED", "baselineExtended"),
    QV_CONST("Context3DProfile", "STANDARD", "standard"),
    QV_CONST("Context3DProfile", "STANDARD_CONSTRAINED", "standardConstrained"),
    QV_CONST("Context3DProfile", "STANDARD_EXTENDED", "standardExtended"),
    QV_CONST("Context3DMipFilter", "MIPLINEAR", "miplinear"), QV_CONST("Context3DMipFilter", "MIPNEAREST", "mipnearest"),
    QV_CONST("Context3DMipFilter", "MIPNONE", "mipnone"),
    QV_CONST("Context3DTextureFilter", "LINEAR", "linear"), QV_CONST("Context3DTextureFilter", "NEAREST", "nearest"),
    QV_CONST("Context3DTextureFilter", "ANISOTROPIC2X", "anisotropic2x"),
    QV_CONST("Context3DTextureFilter", "ANISOTROPIC4X", "anisotropic4x"),
    QV_CONST("Context3DTextureFilter", "ANISOTROPIC8X", "anisotropic8x"),
    QV_CONST("Context3DTextureFilter", "ANISOTROPIC16X", "anisotropic16x"),
    QV_CONST("Context3DWrapMode", "CLAMP", "clamp"), QV_CONST("Context3DWrapMode", "REPEAT", "repeat"),
    QV_CONST("Context3DWrapMode", "CLAMP_U_REPEAT_V", "clamp_u_repeat_v"),
    QV_CONST("Context3DWrapMode", "REPEAT_U_CLAMP_V", "repeat_u_clamp_v"),
    QV_CONST("Context3DBufferUsage", "STATIC_DRAW", "staticDraw"),
    QV_CONST("Context3DBufferUsage", "DYNAMIC_DRAW", "dynamicDraw"),
    QV_CONST("Context3DFillMode", "SOLID", "solid"), QV_CONST("Context3DFillMode", "WIREFRAME", "wireframe"),
#undef QV_CONST
    {"flash.display3D::Context3DClearMask", "ALL", Member::kConst, nullptr, nullptr, 7},
    {"flash.display3D::Context3DClearMask", "COLOR", Member::kConst, nullptr, nullptr, 1},
    {"flash.display3D::Context3DClearMask", "DEPTH", Member::kConst, nullptr, nullptr, 2},
    {"flash.display3D::Context3DClearMask", "STENCIL", Member::kConst, nullptr, nullptr, 4},
};

constexpr ClassRow kStage3DClasses[] = {
    {"flash.display", "Stage3D", "flash.events::EventDispatcher", Alloc<Stage3DObject>, nullptr, false},
    {"flash.display3D", "Context3D", "flash.events::EventDispatcher", Alloc<Context3DObject>, nullptr, false},
    {"flash.display3D", "VertexBuffer3D", "", Alloc<Resource3DObject>, nullptr, false},
    {"flash.display3D", "IndexBuffer3D", "", Alloc<Resource3DObject>, nullptr, false},
    {"flash.display3D", "Program3D", "", Alloc<Resource3DObject>, nullptr, false},
    {"flash.display3D.textures", "TextureBase", "flash.events::EventDispatcher", Alloc<Resource3DObject>, nullptr, false},
    {"flash.display3D.textures", "Texture", "flash.display3D.textures::TextureBase", nullptr, nullptr, false},
    {"flash.display3D.textures", "RectangleTexture", "flash.display3D.textures::TextureBase", nullptr, nullptr, false},
    {"flash.display3D.textures", "CubeTexture", "flash.display3D.textures::TextureBase", nullptr, nullptr, false},
    {"flash.display3D.textures", "VideoTexture", "flash.display3D.textures::TextureBase", nullptr, nullptr, false},
    {"flash.display3D", "Context3DProgramType"},
    {"flash.display3D", "Context3DRenderMode"},
    {"flash.display3D", "Context3DVertexBufferFormat"},
    {"flash.display3D", "Context3DTextureFormat"},
    {"flash.display3D", "Context3DBlendFactor"},
    {"flash.display3D", "Context3DCompareMode"},
    {"flash.display3D", "Context3DTriangleFace"},
    {"flash.display3D", "Context3DStencilAction"},
    {"flash.display3D", "Context3DProfile"},
    {"flash.display3D", "Context3DMipFilter"},
    {"flash.display3D", "Context3DTextureFilter"},
    {"flash.display3D", "Context3DWrapMode"},
    {"flash.display3D", "Context3DBufferUsage"},
    {"flash.display3D", "Context3DFillMode"},
    {"flash.display3D", "Context3DClearMask"},
};

}  // namespace

void As3Display::FinishStage3DRequests() {
  std::vector<Value> requests;
  requests.swap(stage3DRequests);
  for (const Value& v : requests) {
    Stage3DObject* s = As<Stage3DObject>(v);
    if (!s) continue;
    // A disposed context is replaced: requesting again gives a fresh one.
    const Context3DObject* old = As<Context3DObject>(s->context);
    if (!old || old->disposed) {
      auto* c = static_cast<Context3DObject*>(m.Instantiate(m.FindClass("flash.display3D::Context3D")));
      c->stage3D = v;
      s->context = Value::Obj(c);
    }
    SendSimple(s, "context3DCreate");
  }
}

std::vector<PresentedLayer> As3Display::Stage3DLayers() const {
  std::vector<PresentedLayer> out;
  const auto* list = stage3Ds.IsObject() ? static_cast<const avm2::ArrayObject*>(stage3Ds.AsObject()) : nullptr;
  if (!list) return out;
  for (const Value& v : list->elems) {
    const Stage3DObject* s = As<Stage3DObject>(v);
    if (!s || !s->visible) continue;
    const Context3DObject* c = As<Context3DObject>(s->context);
    if (!c || c->disposed || !c->presented) continue;
    out.push_back({s->x, s->y, c->presentedWidth, c->presentedHeight, c->presented});
  }
  return out;
}

void InstallStage3D(As3Display& b) {
  Register(b, kStage3DClasses, kStage3DRows);
  b.m.AddGetter(b.m.FindClass("flash.display::Stage"), "stage3Ds", StageGet3Ds);
  b.m.AddConst(b.m.FindClass("flash.events::Event"), "CONTEXT3D_CREATE", b.m.Str("context3DCreate"));
  b.m.AddConst(b.m.FindClass("flash.events::Event"), "TEXTURE_READY", b.m.Str("textureReady"));
  As3Display* d = &b;
  b.m.AddRoots([d](avm2::Heap& h) {
    h.Mark(d->stage3Ds);
    for (const Value& v : d->stage3DRequests) h.Mark(v);
  });
}

}  // namespace quarvel::player::as3
