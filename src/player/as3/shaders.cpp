// Pixel kernels as scripts see them: Shader, ShaderData (the kernel's
// metadata, parameters and inputs), ShaderParameter, ShaderInput, ShaderJob
// (runs a kernel into a BitmapData, a ByteArray or a Vector.<Number>),
// ShaderPrecision and ShaderFilter.
#include <bit>
#include <cstring>

#include "player/as3/display_binding_p.h"

namespace quarvel::player::as3 {
namespace {

[[noreturn]] void Invalid(Machine& m) { m.ThrowError("ArgumentError", "One of the parameters is invalid.", 2004); }

avm2::ArrayObject* AsVector(const Value& v) {
  Object* o = v.AsObject();
  return o && o->kind == ObjectKind::kVector ? static_cast<avm2::ArrayObject*>(o) : nullptr;
}

Value MetaValue(Machine& m, const ShaderMeta& meta) {
  if (meta.type == 12) return m.Str(meta.text);
  std::vector<Value> values;
  for (float v : meta.values) values.push_back(Value::Number(v));
  // One number stands alone, as Flash gives a kernel's version.
  if (values.size() == 1 && (meta.type == 1 || meta.type == 8 || meta.type == 13)) return values[0];
  return Value::Obj(m.NewArray(std::move(values)));
}

// Fills a ShaderData from parsed byte code: the kernel's name and metadata,
// a ShaderParameter for each parameter but the output and the pixel
// coordinate (indexed in that order), a ShaderInput for each image.
void FillShaderData(Machine& m, ShaderDataObject* d) {
  const PixelShader& k = *d->shader;
  d->SetDyn(m.Intern("name"), m.Str(k.Name()));
  for (const ShaderMeta& meta : k.Meta()) d->SetDyn(m.Intern(meta.key), MetaValue(m, meta));
  Class* paramClass = m.FindClass("flash.display::ShaderParameter");
  Class* inputClass = m.FindClass("flash.display::ShaderInput");
  int index = 0;
  for (const ShaderParameter& p : k.Parameters()) {
    if (p.output || p.name == "_OutCoord") continue;
    auto* sp = static_cast<ShaderParamObject*>(m.Instantiate(paramClass));
    sp->index = index++;
    sp->type = ShaderTypeName(p.type);
    std::vector<Value> values;
    for (float v : p.defaultValue) values.push_back(Value::Number(v));
    sp->value = Value::Obj(m.NewArray(std::move(values)));
    for (const ShaderMeta& meta : p.meta) {
      Value v = MetaValue(m, meta);
      // Range and default metadata are lists even for one number.
      if (meta.type != 12 && !AsArray(v)) v = Value::Obj(m.NewArray({v}));
      sp->SetDyn(m.Intern(meta.key), v);
    }
    sp->SetDyn(m.Intern("name"), m.Str(p.name));
    d->SetDyn(m.Intern(p.name), Value::Obj(sp));
  }
  for (const ShaderInput& in : k.Inputs()) {
    auto* si = static_cast<ShaderInputObject*>(m.Instantiate(inputClass));
    si->index = in.index;
    si->channels = in.channels;
    si->SetDyn(m.Intern("name"), m.Str(in.name));
    d->SetDyn(m.Intern(in.name), Value::Obj(si));
  }
}

NATIVE(ShaderDataCtor) {
  ShaderDataObject* d = As<ShaderDataObject>(self);
  avm2::ByteArrayObject* bytes = AsBytes(m.ArgOr(a, 0));
  if (!d || !bytes) return self;
  Machine::NativeFrame frame(m, "flash.display::ShaderData/_setByteCode");
  try {
    d->shader = PixelShader::Parse(bytes->bytes);
  } catch (const ShaderError& e) {
    m.Skip(std::string("Shader: ") + e.what());
    if (e.Truncated()) m.ThrowError("flash.errors::EOFError", "End of file was encountered.", 2030);
    Invalid(m);
  }
  FillShaderData(m, d);
  return self;
}

// ---- ShaderParameter and ShaderInput

NATIVE(SpGetIndex) { ShaderParamObject* p = As<ShaderParamObject>(self); return Value::Int(p ? p->index : 0); }
NATIVE(SpGetType) { ShaderParamObject* p = As<ShaderParamObject>(self); return p ? m.Str(p->type) : Value::Null(); }
NATIVE(SpGetValue) {
  ShaderParamObject* p = As<ShaderParamObject>(self);
  return p && !p->value.IsUndefined() ? p->value : Value::Null();
}
NATIVE(SpSetValue) {
  if (ShaderParamObject* p = As<ShaderParamObject>(self)) p->value = m.ArgOr(a, 0);
  return Value();
}

NATIVE(SiGetIndex) { ShaderInputObject* i = As<ShaderInputObject>(self); return Value::Int(i ? i->index : 0); }
NATIVE(SiGetChannels) { ShaderInputObject* i = As<ShaderInputObject>(self); return Value::Int(i ? i->channels : 0); }
NATIVE(SiGetWidth) { ShaderInputObject* i = As<ShaderInputObject>(self); return Value::Int(i ? i->width : 0); }
NATIVE(SiGetHeight) { ShaderInputObject* i = As<ShaderInputObject>(self); return Value::Int(i ? i->height : 0); }
NATIVE(SiSetWidth) {
  if (ShaderInputObject* i = As<ShaderInputObject>(self)) i->width = static_cast<int>(m.ToInt(m.ArgOr(a, 0)));
  return Value();
}
NATIVE(SiSetHeight) {
  if (ShaderInputObject* i = As<ShaderInputObject>(self)) i->height = static_cast<int>(m.ToInt(m.ArgOr(a, 0)));
  return Value();
}
NATIVE(SiGetInput) {
  ShaderInputObject* i = As<ShaderInputObject>(self);
  return i && !i->input.IsUndefined() ? i->input : Value::Null();
}
// Pictures, byte arrays of floats and lists of numbers are inputs; nothing else.
NATIVE(SiSetInput) {
  ShaderInputObject* i = As<ShaderInputObject>(self);
  const Value v = m.ArgOr(a, 0);
  if (!i) return Value();
  if (!v.IsNullish() && !As<BitmapDataObject>(v) && !AsBytes(v) && !AsVector(v)) Invalid(m);
  i->input = v.IsUndefined() ? Value::Null() : v;
  return Value();
}

// ---- Shader

NATIVE(ShaderSetByteCode) {
  ShaderObject* f = As<ShaderObject>(self);
  if (!f) return Value();
  const Value bytes = m.ArgOr(a, 0);
  Class* dataClass = m.FindClass("flash.display::ShaderData");
  std::vector<Value> args{bytes};
  f->data = Value::Obj(m.Construct(dataClass, args));
  f->content = bytes;
  return Value();
}
NATIVE(ShaderCtor) {
  if (ShaderObject* f = As<ShaderObject>(self); f && !m.ArgOr(a, 0).IsNullish()) {
    Machine::NativeFrame frame(m, "flash.display::Shader/set byteCode");
    ShaderSetByteCode(m, self, a);
  }
  return self;
}
NATIVE(ShaderGetByteCode) {
  ShaderObject* f = As<ShaderObject>(self);
  return f && !f->content.IsUndefined() ? f->content : Value::Null();
}
NATIVE(ShaderGetData) {
  ShaderObject* f = As<ShaderObject>(self);
  if (!f) return Value::Null();
  if (f->data.IsUndefined()) f->data = Value::Obj(m.Instantiate(m.FindClass("flash.display::ShaderData")));
  return f->data;
}
NATIVE(ShaderSetData) {
  if (ShaderObject* f = As<ShaderObject>(self)) f->data = m.ArgOr(a, 0);
  return Value();
}
NATIVE(ShaderGetPrecision) {
  ShaderObject* f = As<ShaderObject>(self);
  return m.Str(f && f->fast ? "fast" : "full");
}
NATIVE(ShaderSetPrecision) {
  ShaderObject* f = As<ShaderObject>(self);
  const std::string p = m.ToString(m.ArgOr(a, 0));
  if (p != "full" && p != "fast") Invalid(m);
  if (f) f->fast = p == "fast";
  return Value();
}

// ---- ShaderJob

NATIVE(JobCtor) {
  if (ShaderJobObject* j = As<ShaderJobObject>(self)) {
    j->shader = m.ArgOr(a, 0).IsUndefined() ? Value::Null() : m.ArgOr(a, 0);
    j->target = m.ArgOr(a, 1).IsUndefined() ? Value::Null() : m.ArgOr(a, 1);
    j->width = a.size() > 2 ? m.ToInt(a[2]) : 0;
    j->height = a.size() > 3 ? m.ToInt(a[3]) : 0;
  }
  return self;
}
NATIVE(JobGetShader) { ShaderJobObject* j = As<ShaderJobObject>(self); return j ? j->shader : Value::Null(); }
NATIVE(JobSetShader) {
  if (ShaderJobObject* j = As<ShaderJobObject>(self)) j->shader = m.ArgOr(a, 0);
  return Value();
}
NATIVE(JobGetTarget) { ShaderJobObject* j = As<ShaderJobObject>(self); return j ? j->target : Value::Null(); }
NATIVE(JobSetTarget) {
  if (ShaderJobObject* j = As<ShaderJobObject>(self)) j->target = m.ArgOr(a, 0);
  return Value();
}
NATIVE(JobGetWidth) { ShaderJobObject* j = As<ShaderJobObject>(self); return Value::Int(j ? j->width : 0); }
NATIVE(JobSetWidth) {
  if (ShaderJobObject* j = As<ShaderJobObject>(self)) j->width = m.ToInt(m.ArgOr(a, 0));
  return Value();
}
NATIVE(JobGetHeight) { ShaderJobObject* j = As<ShaderJobObject>(self); return Value::Int(j ? j->height : 0); }
NATIVE(JobSetHeight) {
  if (ShaderJobObject* j = As<ShaderJobObject>(self)) j->height = m.ToInt(m.ArgOr(a, 0));
  return Value();
}
NATIVE(JobGetProgress) { ShaderJobObject* j = As<ShaderJobObject>(self); return Value::Number(j ? j->progress : 0); }

// Floats of a ByteArray in its byte order, or of a Vector.<Number>.
std::vector<float> FloatsOf(Machine& m, const Value& v) {
  std::vector<float> out;
  if (avm2::ByteArrayObject* b = AsBytes(v)) {
    for (std::size_t at = 0; at + 4 <= b->bytes.size(); at += 4) {
      std::uint32_t u = 0;
      for (int k = 0; k < 4; ++k) {
        const std::uint32_t byte = b->bytes[at + static_cast<std::size_t>(b->littleEndian ? 3 - k : k)];
        u = (u << 8) | byte;
      }
      out.push_back(std::bit_cast<float>(u));
    }
  } else if (avm2::ArrayObject* vec = AsVector(v)) {
    for (const Value& e : vec->elems) out.push_back(static_cast<float>(m.ToNumber(e)));
  }
  return out;
}

// The value each parameter runs with: a ShaderParameter's list, else the
// default. Its first entries must be numbers (missing ones read 0); a value
// set to null reads all 0.
std::vector<std::vector<float>> ParameterValues(Machine& m, const PixelShader& k, const Value& data, bool check) {
  std::vector<std::vector<float>> values;
  for (const ShaderParameter& p : k.Parameters()) {
    values.emplace_back();
    if (p.output || p.name == "_OutCoord") continue;
    ShaderParamObject* sp = As<ShaderParamObject>(m.GetProperty(data, p.name));
    if (!sp) continue;
    if (sp->value.IsNullish()) {
      values.back().assign(p.ValueCount(), 0.0f);
      continue;
    }
    avm2::ArrayObject* arr = AsArray(sp->value);
    if (!arr) {
      if (check) Invalid(m);
      continue;
    }
    std::vector<float>& v = values.back();
    for (std::size_t i = 0; i < p.ValueCount(); ++i) {
      const Value e = i < arr->elems.size() ? arr->elems[i] : Value::Int(0);
      if (!e.IsNumber()) {
        if (check) Invalid(m);
        v.clear();
        break;
      }
      const double d = m.ToNumber(e);
      // Ints and bools keep the whole part: a bool of 2 stays 2 (true for
      // an if, not for a select, which asks for exactly 1).
      v.push_back(p.IsBool() || p.IsInt() ? static_cast<float>(std::trunc(d)) : static_cast<float>(d));
    }
  }
  return values;
}

// Each image input as the kernel reads it; the float lists stay alive in `keep`.
std::vector<ShaderImage> InputImages(Machine& m, const PixelShader& k, const Value& data,
                                     std::vector<std::vector<float>>& keep, std::vector<SurfacePtr>& copies) {
  std::vector<ShaderImage> images;
  for (const ShaderInput& in : k.Inputs()) {
    if (images.size() <= static_cast<std::size_t>(in.index)) images.resize(static_cast<std::size_t>(in.index) + 1);
    ShaderInputObject* si = As<ShaderInputObject>(m.GetProperty(data, in.name));
    if (!si || si->input.IsNullish()) continue;
    ShaderImage& img = images[static_cast<std::size_t>(in.index)];
    if (BitmapDataObject* bd = As<BitmapDataObject>(si->input)) {
      if (!bd->bitmap) Invalid(m);
      // A copy: the job may write the picture it reads.
      cairo_surface_t* s = bd->bitmap->surface.get();
      cairo_surface_flush(s);
      const int w = bd->bitmap->width, h = bd->bitmap->height;
      SurfacePtr copy(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h));
      const int from = cairo_image_surface_get_stride(s), to = cairo_image_surface_get_stride(copy.get());
      for (int y = 0; y < h; ++y)
        std::memcpy(cairo_image_surface_get_data(copy.get()) + static_cast<std::ptrdiff_t>(y) * to,
                    cairo_image_surface_get_data(s) + static_cast<std::ptrdiff_t>(y) * from, static_cast<std::size_t>(w) * 4);
      img.pixels = reinterpret_cast<const std::uint32_t*>(cairo_image_surface_get_data(copy.get()));
      img.stride = to / 4;
      img.width = w;
      img.height = h;
      img.opaque = !bd->transparent;
      copies.push_back(std::move(copy));
      continue;
    }
    keep.push_back(FloatsOf(m, si->input));
    const std::int64_t need = static_cast<std::int64_t>(std::max(si->width, 0)) * std::max(si->height, 0) * in.channels;
    if (static_cast<std::int64_t>(keep.back().size()) < need)
      m.ThrowError("ArgumentError", "The Shader input " + in.name + " does not have enough data.", 2165);
    img.floats = keep.back().data();
    img.width = si->width;
    img.height = si->height;
    img.channels = in.channels;
  }
  return images;
}

// Collects the output channels of every pixel, row after row.
class FloatSink : public ShaderSink {
 public:
  FloatSink(int w, int channels) : w_(w), channels_(channels) {}
  void Put(int x, int y, const float* c, int count) override {
    const std::size_t at = (static_cast<std::size_t>(y) * static_cast<std::size_t>(w_) + static_cast<std::size_t>(x)) *
                           static_cast<std::size_t>(channels_);
    if (out.size() < at + static_cast<std::size_t>(channels_)) out.resize(at + static_cast<std::size_t>(channels_));
    for (int k = 0; k < std::min(count, channels_); ++k) out[at + static_cast<std::size_t>(k)] = c[k];
  }
  std::vector<float> out;

 private:
  int w_, channels_;
};

// Runs the job now: Flash's asynchronous jobs finish before the next frame
// draws, which a job done at once cannot tell apart.
void RunJob(Machine& m, ShaderJobObject* j) {
  ShaderObject* s = As<ShaderObject>(j->shader);
  ShaderDataObject* d = s ? As<ShaderDataObject>(s->data) : nullptr;
  if (!d || !d->shader) Invalid(m);
  const PixelShader& k = *d->shader;
  BitmapDataObject* bd = As<BitmapDataObject>(j->target);
  if (!bd && !AsBytes(j->target) && !AsVector(j->target)) Invalid(m);
  const int channels = k.OutputChannels();
  if (bd && channels < 3)
    m.ThrowError("ArgumentError", "The Shader output type is not compatible for this operation.", 2162);
  int w = j->width, h = j->height;
  if (bd) {
    if (!bd->bitmap) Invalid(m);
    if (w <= 0) w = bd->bitmap->width;
    if (h <= 0) h = bd->bitmap->height;
    w = std::min(w, bd->bitmap->width);
    h = std::min(h, bd->bitmap->height);
  }
  if (w <= 0 || h <= 0 || static_cast<std::int64_t>(w) * h > kMaxBitmapPixels) Invalid(m);
  const auto values = ParameterValues(m, k, s->data, true);
  std::vector<std::vector<float>> keep;
  std::vector<SurfacePtr> copies;
  const auto images = InputImages(m, k, s->data, keep, copies);
  // A job past a billion instructions would stall the player for minutes.
  if (static_cast<double>(w) * h * static_cast<double>(k.Length() + 1) > 1e9) {
    m.Skip("ShaderJob of " + std::to_string(w) + "x" + std::to_string(h) + " pixels: too long a run");
    Invalid(m);
  }
  if (bd) {
    cairo_surface_t* surf = bd->bitmap->surface.get();
    cairo_surface_flush(surf);
    auto* px = reinterpret_cast<std::uint32_t*>(cairo_image_surface_get_data(surf));
    k.Run(images, values, w, h, px, cairo_image_surface_get_stride(surf) / 4, !bd->transparent);
    Changed(m, bd);
    return;
  }
  FloatSink sink(w, channels);
  k.Run(images, values, w, h, sink);
  if (avm2::ArrayObject* vec = AsVector(j->target)) {
    vec->elems.clear();
    for (float f : sink.out) vec->elems.push_back(Value::Number(f));
    return;
  }
  avm2::ByteArrayObject* b = AsBytes(j->target);
  b->bytes.assign(sink.out.size() * 4, 0);
  for (std::size_t i = 0; i < sink.out.size(); ++i) {
    const std::uint32_t u = std::bit_cast<std::uint32_t>(sink.out[i]);
    for (std::size_t k2 = 0; k2 < 4; ++k2)
      b->bytes[i * 4 + k2] = static_cast<std::uint8_t>(u >> (b->littleEndian ? 8 * k2 : 24 - 8 * k2));
  }
}

NATIVE(JobStart) {
  ShaderJobObject* j = As<ShaderJobObject>(self);
  if (!j) return Value();
  RunJob(m, j);
  j->progress = 1;
  if (!m.ToBoolean(m.ArgOr(a, 0))) {
    As3Display& b = B(m);
    Value e = b.NewEvent(m.FindClass("flash.events::ShaderEvent"), "complete", false);
    if (EventObject* ev = As<EventObject>(e)) b.Dispatch(j, ev);
  }
  return Value();
}

// ---- ShaderFilter: the shader it draws with and how far it reaches out.
NATIVE(ShaderFilterCtor) {
  Object* o = self.AsObject();
  if (!o) return self;
  o->SetDyn(m.Intern("shader"), m.ArgOr(a, 0).IsUndefined() ? Value::Null() : m.ArgOr(a, 0));
  for (const char* side : {"leftExtension", "rightExtension", "topExtension", "bottomExtension"})
    o->SetDyn(m.Intern(side), Value::Int(0));
  return self;
}

constexpr MemberRow kShaderRows[] = {
    {"flash.display::ShaderParameter", "index", Member::kGetter, SpGetIndex},
    {"flash.display::ShaderParameter", "type", Member::kGetter, SpGetType},
    {"flash.display::ShaderParameter", "value", Member::kGetter, SpGetValue},
    {"flash.display::ShaderParameter", "value", Member::kSetter, SpSetValue},
    {"flash.display::ShaderInput", "index", Member::kGetter, SiGetIndex},
    {"flash.display::ShaderInput", "channels", Member::kGetter, SiGetChannels},
    {"flash.display::ShaderInput", "width", Member::kGetter, SiGetWidth},
    {"flash.display::ShaderInput", "width", Member::kSetter, SiSetWidth},
    {"flash.display::ShaderInput", "height", Member::kGetter, SiGetHeight},
    {"flash.display::ShaderInput", "height", Member::kSetter, SiSetHeight},
    {"flash.display::ShaderInput", "input", Member::kGetter, SiGetInput},
    {"flash.display::ShaderInput", "input", Member::kSetter, SiSetInput},
    {"flash.display::Shader", "byteCode", Member::kGetter, ShaderGetByteCode},
    {"flash.display::Shader", "byteCode", Member::kSetter, ShaderSetByteCode},
    {"flash.display::Shader", "data", Member::kGetter, ShaderGetData},
    {"flash.display::Shader", "data", Member::kSetter, ShaderSetData},
    {"flash.display::Shader", "precisionHint", Member::kGetter, ShaderGetPrecision},
    {"flash.display::Shader", "precisionHint", Member::kSetter, ShaderSetPrecision},
    {"flash.display::ShaderJob", "shader", Member::kGetter, JobGetShader},
    {"flash.display::ShaderJob", "shader", Member::kSetter, JobSetShader},
    {"flash.display::ShaderJob", "target", Member::kGetter, JobGetTarget},
    {"flash.display::ShaderJob", "target", Member::kSetter, JobSetTarget},
    {"flash.display::ShaderJob", "width", Member::kGetter, JobGetWidth},
    {"flash.display::ShaderJob", "width", Member::kSetter, JobSetWidth},
    {"flash.display::ShaderJob", "height", Member::kGetter, JobGetHeight},
    {"flash.display::ShaderJob", "height", Member::kSetter, JobSetHeight},
    {"flash.display::ShaderJob", "progress", Member::kGetter, JobGetProgress},
    {"flash.display::ShaderJob", "start", Member::kMethod, JobStart},
    {"flash.display::ShaderJob", "cancel", Member::kMethod, Noop},
    {"flash.display::ShaderPrecision", "FULL", Member::kConst, nullptr, "full"},
    {"flash.display::ShaderPrecision", "FAST", Member::kConst, nullptr, "fast"},
    {"flash.events::ShaderEvent", "COMPLETE", Member::kConst, nullptr, "complete"},
};

constexpr ClassRow kShaderClasses[] = {
    {"flash.display", "ShaderData", "", Alloc<ShaderDataObject>, ShaderDataCtor, true},
    {"flash.display", "ShaderParameter", "", Alloc<ShaderParamObject>, nullptr, true},
    {"flash.display", "ShaderInput", "", Alloc<ShaderInputObject>, nullptr, true},
    {"flash.display", "Shader", "", Alloc<ShaderObject>, ShaderCtor, false},
    {"flash.display", "ShaderJob", "flash.events::EventDispatcher", Alloc<ShaderJobObject>, JobCtor, false},
    {"flash.display", "ShaderPrecision"},
    {"flash.events", "ShaderEvent", "flash.events::Event", nullptr, nullptr, false},
    {"flash.filters", "ShaderFilter", "flash.filters::BitmapFilter", nullptr, ShaderFilterCtor, true},
};

}  // namespace

std::vector<std::vector<float>> ShaderValues(Machine& m, const Value& shader, std::shared_ptr<const PixelShader>& kernel) {
  ShaderObject* s = As<ShaderObject>(shader);
  ShaderDataObject* d = s ? As<ShaderDataObject>(s->data) : nullptr;
  kernel = d ? d->shader : nullptr;
  if (!kernel) return {};
  return ParameterValues(m, *kernel, s->data, false);
}

void InstallShaders(As3Display& b) { Register(b, kShaderClasses, kShaderRows); }

}  // namespace quarvel::player::as3
