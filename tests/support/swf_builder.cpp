#include "support/swf_builder.h"

#include <lzma.h>
#include <zlib.h>

#include <array>
#include <cmath>
#include <cstring>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>

#include "player/swf/tags.h"

namespace quarvel::testing {
// ---- Actions ----

Actions& Actions::NextFrame() { return Raw(0x04); }
Actions& Actions::PreviousFrame() { return Raw(0x05); }
Actions& Actions::Play() { return Raw(0x06); }
Actions& Actions::Stop() { return Raw(0x07); }
Actions& Actions::ToggleQuality() { return Raw(0x08); }
Actions& Actions::StopSounds() { return Raw(0x09); }
Actions& Actions::SetVariable() { return Raw(0x1D); }
Actions& Actions::Trace() { return Raw(0x26); }

Actions& Actions::GotoFrame(std::uint16_t frame) {
  const std::uint8_t p[2] = {static_cast<std::uint8_t>(frame), static_cast<std::uint8_t>(frame >> 8)};
  return Raw(0x81, p);
}

Actions& Actions::GetUrl(std::string_view url, std::string_view target) {
  SwfWriter w;
  w.String(url);
  w.String(target);
  return Raw(0x83, w.Data());
}

Actions& Actions::WaitForFrame(std::uint16_t frame, std::uint8_t skip) {
  const std::uint8_t p[3] = {static_cast<std::uint8_t>(frame), static_cast<std::uint8_t>(frame >> 8),
                             skip};
  return Raw(0x8A, p);
}

Actions& Actions::SetTarget(std::string_view name) {
  SwfWriter w;
  w.String(name);
  return Raw(0x8B, w.Data());
}

Actions& Actions::GotoLabel(std::string_view label) {
  SwfWriter w;
  w.String(label);
  return Raw(0x8C, w.Data());
}

Actions& Actions::PushString(std::string_view s) {
  SwfWriter w;
  w.U8(0);
  w.String(s);
  return Raw(0x96, w.Data());
}

Actions& Actions::PushFloat(float f) {
  SwfWriter w;
  w.U8(1);
  w.F32(f);
  return Raw(0x96, w.Data());
}

Actions& Actions::PushInt(std::int32_t i) {
  SwfWriter w;
  w.U8(7);
  w.U32(static_cast<std::uint32_t>(i));
  return Raw(0x96, w.Data());
}

Actions& Actions::PushDouble(double d) {
  std::uint64_t bits;
  std::memcpy(&bits, &d, sizeof bits);
  SwfWriter w;
  w.U8(6);
  w.U32(static_cast<std::uint32_t>(bits >> 32));  // high half first
  w.U32(static_cast<std::uint32_t>(bits));
  return Raw(0x96, w.Data());
}

Actions& Actions::PushBool(bool b) {
  const std::uint8_t p[] = {5, static_cast<std::uint8_t>(b ? 1 : 0)};
  return Raw(0x96, p);
}

Actions& Actions::PushNull() {
  const std::uint8_t p[] = {2};
  return Raw(0x96, p);
}

Actions& Actions::PushUndefined() {
  const std::uint8_t p[] = {3};
  return Raw(0x96, p);
}

Actions& Actions::PushRegister(std::uint8_t r) {
  const std::uint8_t p[] = {4, r};
  return Raw(0x96, p);
}

Actions& Actions::DefineFunction(std::string_view name, const std::vector<std::string>& params, const Actions& body) {
  SwfWriter w;
  w.String(name);
  w.U16(static_cast<std::uint16_t>(params.size()));
  for (const auto& p : params) w.String(p);
  w.U16(static_cast<std::uint16_t>(body.code_.size()));
  Raw(0x9B, w.Data());
  code_.insert(code_.end(), body.code_.begin(), body.code_.end());
  return *this;
}

Actions& Actions::Jump(std::int16_t offset) {
  const std::uint8_t p[] = {static_cast<std::uint8_t>(offset), static_cast<std::uint8_t>(offset >> 8)};
  return Raw(0x99, p);
}

Actions& Actions::If(std::int16_t offset) {
  const std::uint8_t p[] = {static_cast<std::uint8_t>(offset), static_cast<std::uint8_t>(offset >> 8)};
  return Raw(0x9D, p);
}

Actions& Actions::Append(const Actions& more) {
  code_.insert(code_.end(), more.code_.begin(), more.code_.end());
  return *this;
}

Actions& Actions::Raw(std::uint8_t code, std::span<const std::uint8_t> payload) {
  code_.push_back(code);
  if (code >= 0x80) {
    if (payload.size() > 0xFFFF) throw std::invalid_argument("action payload over 65535 bytes");
    code_.push_back(static_cast<std::uint8_t>(payload.size()));
    code_.push_back(static_cast<std::uint8_t>(payload.size() >> 8));
    code_.insert(code_.end(), payload.begin(), payload.end());
  } else if (!payload.empty()) {
    throw std::invalid_argument("actions below 0x80 carry no payload");
  }
  return *this;
}

std::vector<std::uint8_t> Actions::Bytes() const {
  std::vector<std::uint8_t> b = code_;
  b.push_back(0);
  return b;
}

// ---- Timeline ----

std::uint8_t SoundFormat::Byte() const {
  return static_cast<std::uint8_t>((format & 0x0F) << 4 | (rate & 3) << 2 | (is16Bit ? 2 : 0) |
                                   (stereo ? 1 : 0));
}

Timeline& Timeline::Tag(std::uint16_t code, std::span<const std::uint8_t> body, bool longForm) {
  if (code > 0x3FF) throw std::invalid_argument("tag code over 1023");
  if (body.size() > 0xFFFFFFFFu) throw std::invalid_argument("tag body too large");
  SwfWriter w;
  if (longForm || body.size() >= 0x3F) {
    w.U16(static_cast<std::uint16_t>(code << 6 | 0x3F));
    w.U32(static_cast<std::uint32_t>(body.size()));
  } else {
    w.U16(static_cast<std::uint16_t>(code << 6 | body.size()));
  }
  w.Bytes(body);
  const auto& h = w.Data();
  tags_.insert(tags_.end(), h.begin(), h.end());
  if (code == swf::tag::kShowFrame) ++frames_;
  last_code_ = code;
  return *this;
}

Timeline& Timeline::End() { return Tag(swf::tag::kEnd); }
Timeline& Timeline::ShowFrame() { return Tag(swf::tag::kShowFrame); }
Timeline& Timeline::Protect() { return Tag(swf::tag::kProtect); }

Timeline& Timeline::SetBackgroundColor(swf::Rgba c) {
  SwfWriter w;
  w.Rgb(c);
  return Tag(swf::tag::kSetBackgroundColor, w.Data());
}

Timeline& Timeline::FrameLabel(std::string_view name, bool anchor) {
  SwfWriter w;
  w.String(name);
  if (anchor) w.U8(1);
  return Tag(swf::tag::kFrameLabel, w.Data());
}

Timeline& Timeline::FileAttributes(std::uint32_t flags) {
  SwfWriter w;
  w.U32(flags);
  return Tag(swf::tag::kFileAttributes, w.Data());
}

Timeline& Timeline::DefineShape(std::uint16_t id, const ShapeBuilder& shape, int version) {
  static constexpr std::array<std::uint16_t, 4> kCodes = {
      swf::tag::kDefineShape, swf::tag::kDefineShape2, swf::tag::kDefineShape3,
      swf::tag::kDefineShape4};
  if (version < 1 || version > 4) throw std::invalid_argument("DefineShape version must be 1 to 4");
  SwfWriter w;
  w.U16(id);
  w.Rect(shape.ShapeBounds());
  if (version == 4) {
    w.Rect(shape.EdgeBounds());
    w.UB(0, 5);
    w.UB(0, 1);  // UsesFillWindingRule
    w.UB(0, 1);  // UsesNonScalingStrokes
    w.UB(1, 1);  // UsesScalingStrokes
  }
  w.Bytes(shape.Encode(version));
  return Tag(kCodes[version - 1], w.Data());
}

Timeline& Timeline::PlaceObject(std::uint16_t id, std::uint16_t depth, const swf::Matrix& m) {
  SwfWriter w;
  w.U16(id);
  w.U16(depth);
  w.Matrix(m);
  return Tag(swf::tag::kPlaceObject, w.Data());
}

namespace {

void WritePlacement(SwfWriter& w, const Placement& p, bool v3) {
  std::uint8_t f = 0;
  if (p.clipDepth) f |= 0x40;
  if (p.name) f |= 0x20;
  if (p.ratio) f |= 0x10;
  if (p.colorTransform) f |= 0x08;
  if (p.matrix) f |= 0x04;
  if (p.characterId) f |= 0x02;
  if (p.move) f |= 0x01;
  w.U8(f);
  if (v3) {
    std::uint8_t g = 0;
    if (p.visible) g |= 0x20;
    if (p.className) g |= 0x08;
    if (p.bitmapCache) g |= 0x04;
    if (p.blendMode) g |= 0x02;
    if (!p.filterList.empty()) g |= 0x01;
    w.U8(g);
  }
  w.U16(p.depth);
  if (v3 && p.className) w.String(*p.className);
  if (p.characterId) w.U16(*p.characterId);
  if (p.matrix) w.Matrix(*p.matrix);
  if (p.colorTransform) w.CxformWithAlpha(*p.colorTransform);
  if (p.ratio) w.U16(*p.ratio);
  if (p.name) w.String(*p.name);
  if (p.clipDepth) w.U16(*p.clipDepth);
  if (v3) {
    if (!p.filterList.empty()) w.Bytes(p.filterList);
    if (p.blendMode) w.U8(*p.blendMode);
    if (p.bitmapCache) w.U8(*p.bitmapCache);
    if (p.visible) {
      w.U8(*p.visible);
      w.Rgba(p.backgroundColor.value_or(swf::Rgba{0, 0, 0, 0}));
    }
  }
}

}  // namespace

Timeline& Timeline::PlaceObject2(const Placement& p) {
  SwfWriter w;
  WritePlacement(w, p, false);
  return Tag(swf::tag::kPlaceObject2, w.Data());
}

Timeline& Timeline::PlaceObject3(const Placement& p) {
  SwfWriter w;
  WritePlacement(w, p, true);
  return Tag(swf::tag::kPlaceObject3, w.Data());
}

Timeline& Timeline::RemoveObject(std::uint16_t id, std::uint16_t depth) {
  SwfWriter w;
  w.U16(id);
  w.U16(depth);
  return Tag(swf::tag::kRemoveObject, w.Data());
}

Timeline& Timeline::RemoveObject2(std::uint16_t depth) {
  SwfWriter w;
  w.U16(depth);
  return Tag(swf::tag::kRemoveObject2, w.Data());
}

Timeline& Timeline::DefineSprite(std::uint16_t id, const Timeline& sprite) {
  SwfWriter w;
  w.U16(id);
  w.U16(sprite.FrameCount());
  w.Bytes(sprite.TagBytes());
  // Every writer closes a sprite with an End tag; one without is cut short.
  if (!sprite.EndsWithEnd()) w.U16(0);
  return Tag(swf::tag::kDefineSprite, w.Data());
}

Timeline& Timeline::Lossless(std::uint16_t code, std::uint16_t id, std::uint8_t format,
                             std::uint16_t width, std::uint16_t height,
                             std::optional<std::uint8_t> tableSize,
                             std::span<const std::uint8_t> raw) {
  SwfWriter w;
  w.U16(id);
  w.U8(format);
  w.U16(width);
  w.U16(height);
  if (tableSize) w.U8(*tableSize);
  w.Bytes(ZlibCompress(raw));
  return Tag(code, w.Data(), true);
}

Timeline& Timeline::DefineBitsLossless(std::uint16_t id, std::uint16_t width, std::uint16_t height,
                                       std::span<const swf::Rgba> pixels) {
  if (pixels.size() != std::size_t{width} * height) throw std::invalid_argument("pixel count");
  std::vector<std::uint8_t> raw;
  raw.reserve(pixels.size() * 4);
  for (auto p : pixels) raw.insert(raw.end(), {0, p.r, p.g, p.b});
  return Lossless(swf::tag::kDefineBitsLossless, id, 5, width, height, std::nullopt, raw);
}

Timeline& Timeline::DefineBitsLossless2(std::uint16_t id, std::uint16_t width, std::uint16_t height,
                                        std::span<const swf::Rgba> pixels) {
  if (pixels.size() != std::size_t{width} * height) throw std::invalid_argument("pixel count");
  auto pm = [](std::uint8_t c, std::uint8_t a) {
    return static_cast<std::uint8_t>((c * a + 127) / 255);
  };
  std::vector<std::uint8_t> raw;
  raw.reserve(pixels.size() * 4);
  for (auto p : pixels) raw.insert(raw.end(), {p.a, pm(p.r, p.a), pm(p.g, p.a), pm(p.b, p.a)});
  return Lossless(swf::tag::kDefineBitsLossless2, id, 5, width, height, std::nullopt, raw);
}

Timeline& Timeline::DefineBitsLosslessMapped(std::uint16_t id, std::uint16_t width,
                                             std::uint16_t height,
                                             std::span<const swf::Rgba> palette,
                                             std::span<const std::uint8_t> indices,
                                             bool withAlpha) {
  if (palette.empty() || palette.size() > 256) throw std::invalid_argument("palette size");
  if (indices.size() != std::size_t{width} * height) throw std::invalid_argument("pixel count");
  std::vector<std::uint8_t> raw;
  for (auto c : palette) {
    raw.insert(raw.end(), {c.r, c.g, c.b});
    if (withAlpha) raw.push_back(c.a);
  }
  const std::size_t stride = (std::size_t{width} + 3) & ~std::size_t{3};
  for (std::size_t y = 0; y < height; ++y) {
    raw.insert(raw.end(), indices.begin() + y * width, indices.begin() + (y + 1) * width);
    raw.insert(raw.end(), stride - width, 0);
  }
  return Lossless(withAlpha ? swf::tag::kDefineBitsLossless2 : swf::tag::kDefineBitsLossless, id,
                  3, width, height, static_cast<std::uint8_t>(palette.size() - 1), raw);
}

Timeline& Timeline::DefineBitsJpeg2(std::uint16_t id, std::span<const std::uint8_t> jpeg) {
  SwfWriter w;
  w.U16(id);
  w.Bytes(jpeg);
  return Tag(swf::tag::kDefineBitsJpeg2, w.Data(), true);
}

Timeline& Timeline::DoAction(const Actions& a) { return Tag(swf::tag::kDoAction, a.Bytes()); }

Timeline& Timeline::DoInitAction(std::uint16_t spriteId, const Actions& a) {
  SwfWriter w;
  w.U16(spriteId);
  w.Bytes(a.Bytes());
  return Tag(swf::tag::kDoInitAction, w.Data());
}

Timeline& Timeline::DefineSound(std::uint16_t id, SoundFormat f, std::uint32_t sampleCount,
                                std::span<const std::uint8_t> data) {
  SwfWriter w;
  w.U16(id);
  w.U8(f.Byte());
  w.U32(sampleCount);
  w.Bytes(data);
  return Tag(swf::tag::kDefineSound, w.Data(), true);
}

namespace {

void WriteSoundInfo(SwfWriter& w, const SoundInfo& info) {
  w.UB(0, 2);
  w.UB(info.syncStop, 1);
  w.UB(info.syncNoMultiple, 1);
  w.UB(!info.envelope.empty(), 1);
  w.UB(info.loops.has_value(), 1);
  w.UB(info.outPoint.has_value(), 1);
  w.UB(info.inPoint.has_value(), 1);
  if (info.inPoint) w.U32(*info.inPoint);
  if (info.outPoint) w.U32(*info.outPoint);
  if (info.loops) w.U16(*info.loops);
  if (!info.envelope.empty()) {
    if (info.envelope.size() > 255) throw std::invalid_argument("envelope over 255 points");
    w.U8(static_cast<std::uint8_t>(info.envelope.size()));
    for (const auto& e : info.envelope) {
      w.U32(e.pos44);
      w.U16(e.leftLevel);
      w.U16(e.rightLevel);
    }
  }
}

void WriteButtonRecord(SwfWriter& w, const ButtonRecord& r, bool two) {
  w.U8(static_cast<std::uint8_t>((r.hitTest ? 8 : 0) | (r.down ? 4 : 0) | (r.over ? 2 : 0) | (r.up ? 1 : 0)));
  w.U16(r.characterId);
  w.U16(r.depth);
  w.Matrix(r.matrix);
  if (two) w.CxformWithAlpha(r.colorTransform);
}

}  // namespace

Timeline& Timeline::StartSound(std::uint16_t id, const SoundInfo& info) {
  SwfWriter w;
  w.U16(id);
  WriteSoundInfo(w, info);
  return Tag(swf::tag::kStartSound, w.Data());
}

Timeline& Timeline::StartSound2(std::string_view className, const SoundInfo& info) {
  SwfWriter w;
  w.String(className);
  WriteSoundInfo(w, info);
  return Tag(swf::tag::kStartSound2, w.Data());
}

Timeline& Timeline::ExportAssets(const std::vector<std::pair<std::uint16_t, std::string>>& names, bool symbolClass) {
  SwfWriter w;
  w.U16(static_cast<std::uint16_t>(names.size()));
  for (const auto& [id, name] : names) {
    w.U16(id);
    w.String(name);
  }
  return Tag(symbolClass ? swf::tag::kSymbolClass : swf::tag::kExportAssets, w.Data());
}

Timeline& Timeline::DefineButton(std::uint16_t id, const std::vector<ButtonRecord>& records, const Actions& onRelease) {
  SwfWriter w;
  w.U16(id);
  for (const auto& r : records) WriteButtonRecord(w, r, false);
  w.U8(0);
  w.Bytes(onRelease.Bytes());
  return Tag(swf::tag::kDefineButton, w.Data());
}

Timeline& Timeline::DefineButton2(std::uint16_t id, const std::vector<ButtonRecord>& records,
                                  const std::vector<ButtonCondAction>& actions, bool trackAsMenu) {
  SwfWriter w;
  w.U16(id);
  w.U8(trackAsMenu ? 1 : 0);
  SwfWriter chars;
  for (const auto& r : records) WriteButtonRecord(chars, r, true);
  chars.U8(0);
  // ActionOffset counts from its own first byte.
  w.U16(actions.empty() ? 0 : static_cast<std::uint16_t>(2 + chars.Data().size()));
  w.Bytes(chars.Data());
  for (std::size_t i = 0; i < actions.size(); ++i) {
    const auto code = actions[i].actions.Bytes();
    const bool last = i + 1 == actions.size();
    w.U16(last ? 0 : static_cast<std::uint16_t>(4 + code.size()));
    w.U8(static_cast<std::uint8_t>(actions[i].conditions >> 8));
    w.U8(static_cast<std::uint8_t>(actions[i].conditions & 0xFF));
    w.Bytes(code);
  }
  return Tag(swf::tag::kDefineButton2, w.Data());
}

Timeline& Timeline::DefineButtonSound(std::uint16_t buttonId, const std::array<std::uint16_t, 4>& soundIds,
                                      const SoundInfo& info) {
  SwfWriter w;
  w.U16(buttonId);
  for (std::uint16_t id : soundIds) {
    w.U16(id);
    if (id) WriteSoundInfo(w, info);
  }
  return Tag(swf::tag::kDefineButtonSound, w.Data());
}

Timeline& Timeline::StreamHead(std::uint16_t code, SoundFormat playback, SoundFormat stream,
                               std::uint16_t samplesPerBlock, std::int16_t latencySeek) {
  SwfWriter w;
  w.U8(playback.Byte() & 0x0F);  // the high four bits are reserved
  w.U8(stream.Byte());
  w.U16(samplesPerBlock);
  if (stream.format == 2) w.S16(latencySeek);
  return Tag(code, w.Data());
}

Timeline& Timeline::SoundStreamHead(SoundFormat playback, SoundFormat stream,
                                    std::uint16_t samplesPerBlock, std::int16_t latencySeek) {
  return StreamHead(swf::tag::kSoundStreamHead, playback, stream, samplesPerBlock, latencySeek);
}

Timeline& Timeline::SoundStreamHead2(SoundFormat playback, SoundFormat stream,
                                     std::uint16_t samplesPerBlock, std::int16_t latencySeek) {
  return StreamHead(swf::tag::kSoundStreamHead2, playback, stream, samplesPerBlock, latencySeek);
}

Timeline& Timeline::SoundStreamBlock(std::span<const std::uint8_t> body) {
  return Tag(swf::tag::kSoundStreamBlock, body);
}

Timeline& Timeline::SoundStreamBlockMp3(std::uint16_t samples, std::int16_t seek,
                                        std::span<const std::uint8_t> frames) {
  SwfWriter w;
  w.U16(samples);
  w.S16(seek);
  w.Bytes(frames);
  return Tag(swf::tag::kSoundStreamBlock, w.Data());
}

// ---- SwfBuilder ----

SwfBuilder Movie100() {
  SwfBuilder b(8, {0, 2000, 0, 2000}, 10.0);
  b.SetBackgroundColor({255, 255, 255, 255});
  return b;
}

ShapeBuilder RectShape(std::int32_t x, std::int32_t y, std::int32_t w, std::int32_t h, swf::Rgba c) {
  ShapeBuilder s;
  s.Rectangle(x, y, w, h, s.AddFill(FillStyle::Solid(c)));
  return s;
}

swf::Matrix Translation(std::int32_t x, std::int32_t y) {
  swf::Matrix m;
  m.translateX = x;
  m.translateY = y;
  return m;
}

SwfBuilder::SwfBuilder(std::uint8_t version, swf::Rect frameSize, double fps)
    : version_(version), frame_size_(frameSize), rate_(0) {
  SetFrameRate(fps);
}

SwfBuilder& SwfBuilder::SetFrameRate(double fps) {
  rate_ = static_cast<std::uint16_t>(std::lround(fps * 256.0));
  return *this;
}

std::vector<std::uint8_t> SwfBuilder::Build(swf::Compression c, bool appendEnd) const {
  SwfWriter body;
  body.Rect(frame_size_);
  body.U16(rate_);
  body.U16(frame_count_.value_or(FrameCount()));
  body.Bytes(TagBytes());
  if (appendEnd && !EndsWithEnd()) body.U16(0);
  std::vector<std::uint8_t> movie = body.Take();

  const auto length = static_cast<std::uint32_t>(
      declared_length_.value_or(static_cast<std::uint32_t>(8 + movie.size())));
  SwfWriter out;
  const char sig = c == swf::Compression::kNone ? 'F' : c == swf::Compression::kZlib ? 'C' : 'Z';
  out.U8(static_cast<std::uint8_t>(sig));
  out.U8('W');
  out.U8('S');
  out.U8(version_);
  out.U32(length);
  switch (c) {
    case swf::Compression::kNone:
      out.Bytes(movie);
      break;
    case swf::Compression::kZlib:
      out.Bytes(ZlibCompress(movie));
      break;
    case swf::Compression::kLzma: {
      const auto alone = LzmaAloneCompress(movie);
      out.U32(static_cast<std::uint32_t>(alone.size() - 13));
      out.Bytes(std::span(alone).first(5));
      out.Bytes(std::span(alone).subspan(13));
      break;
    }
  }
  return out.Take();
}

void SwfBuilder::WriteFile(const std::filesystem::path& path, swf::Compression c,
                           bool appendEnd) const {
  const auto bytes = Build(c, appendEnd);
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!f) throw std::runtime_error("cannot write " + path.string());
}

// ---- compression and MP3 helpers ----

std::vector<std::uint8_t> ZlibCompress(std::span<const std::uint8_t> data, int level) {
  uLongf n = compressBound(static_cast<uLong>(data.size()));
  std::vector<std::uint8_t> out(n);
  if (compress2(out.data(), &n, data.data(), static_cast<uLong>(data.size()), level) != Z_OK) {
    throw std::runtime_error("zlib compress failed");
  }
  out.resize(n);
  return out;
}

std::vector<std::uint8_t> LzmaAloneCompress(std::span<const std::uint8_t> data) {
  struct Deleter {
    void operator()(lzma_stream* s) const {
      lzma_end(s);
      delete s;
    }
  };
  std::unique_ptr<lzma_stream, Deleter> s(new lzma_stream(LZMA_STREAM_INIT));
  lzma_options_lzma opt;
  lzma_lzma_preset(&opt, 6);
  if (lzma_alone_encoder(s.get(), &opt) != LZMA_OK) throw std::runtime_error("lzma init failed");
  std::vector<std::uint8_t> out(data.size() + data.size() / 2 + 1024);
  s->next_in = data.data();
  s->avail_in = data.size();
  s->next_out = out.data();
  s->avail_out = out.size();
  if (lzma_code(s.get(), LZMA_FINISH) != LZMA_STREAM_END) throw std::runtime_error("lzma failed");
  out.resize(out.size() - s->avail_out);
  return out;
}

std::vector<std::uint8_t> SilentMp3Frame(int bitrateKbps, int sampleRate, bool stereo) {
  static constexpr std::array<int, 15> kRates1 = {0,   32,  40,  48,  56,  64,  80, 96,
                                                  112, 128, 160, 192, 224, 256, 320};
  static constexpr std::array<int, 15> kRates2 = {0,  8,  16, 24,  32,  40,  48, 56,
                                                  64, 80, 96, 112, 128, 144, 160};
  int version = -1, sr_index = -1;  // version bits: 3 MPEG-1, 2 MPEG-2, 0 MPEG-2.5
  const std::array<std::pair<int, int>, 3> v1 = {{{44100, 0}, {48000, 1}, {32000, 2}}};
  const std::array<std::pair<int, int>, 3> v2 = {{{22050, 0}, {24000, 1}, {16000, 2}}};
  const std::array<std::pair<int, int>, 3> v25 = {{{11025, 0}, {12000, 1}, {8000, 2}}};
  for (auto [r, i] : v1) if (r == sampleRate) version = 3, sr_index = i;
  for (auto [r, i] : v2) if (r == sampleRate) version = 2, sr_index = i;
  for (auto [r, i] : v25) if (r == sampleRate) version = 0, sr_index = i;
  if (version < 0) throw std::invalid_argument("no MPEG audio sample rate " + std::to_string(sampleRate));
  const auto& table = version == 3 ? kRates1 : kRates2;
  int br_index = -1;
  for (int i = 1; i < 15; ++i) if (table[i] == bitrateKbps) br_index = i;
  if (br_index < 0) throw std::invalid_argument("no MPEG audio bit rate " + std::to_string(bitrateKbps));
  const int size = (version == 3 ? 144 : 72) * bitrateKbps * 1000 / sampleRate;
  std::vector<std::uint8_t> f(static_cast<std::size_t>(size), 0);
  f[0] = 0xFF;
  f[1] = static_cast<std::uint8_t>(0xE0 | version << 3 | 1 << 1 | 1);  // Layer III, no CRC
  f[2] = static_cast<std::uint8_t>(br_index << 4 | sr_index << 2);
  f[3] = static_cast<std::uint8_t>((stereo ? 0 : 3) << 6);
  return f;
}

}  // namespace quarvel::testing
