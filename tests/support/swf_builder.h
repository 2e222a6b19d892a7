#pragma once
// Writes valid SWF files from code, for test fixtures and sample movies.
//
//   SwfBuilder b(8, {0, 11000, 0, 8000}, 24.0);   // version, twips, fps
//   ShapeBuilder s;
//   s.Rectangle(0, 0, 2000, 2000, s.AddFill(FillStyle::Solid({255, 0, 0})));
//   b.SetBackgroundColor({255, 255, 255}).DefineShape(1, s)
//    .PlaceObject2({.depth = 1, .characterId = 1}).ShowFrame().End();
//   auto bytes = b.Build(swf::Compression::kZlib);

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "player/swf/movie.h"
#include "player/swf/records.h"
#include "support/shape_builder.h"
#include "support/swf_writer.h"

namespace quarvel::testing {

// ActionScript 1 byte code for DoAction / DoInitAction. Ends with ActionEnd
// when Bytes() is taken.
class Actions {
 public:
  Actions& NextFrame();                                   // 0x04
  Actions& PreviousFrame();                               // 0x05
  Actions& Play();                                        // 0x06
  Actions& Stop();                                        // 0x07
  Actions& ToggleQuality();                               // 0x08
  Actions& StopSounds();                                  // 0x09
  Actions& GotoFrame(std::uint16_t frame);                // 0x81, frame from 0
  Actions& GetUrl(std::string_view url, std::string_view target);  // 0x83
  Actions& WaitForFrame(std::uint16_t frame, std::uint8_t skip);   // 0x8A
  Actions& SetTarget(std::string_view name);              // 0x8B
  Actions& GotoLabel(std::string_view label);             // 0x8C
  Actions& PushString(std::string_view s);                // 0x96 type 0
  Actions& PushFloat(float f);                            // 0x96 type 1
  Actions& PushInt(std::int32_t i);                       // 0x96 type 7
  Actions& PushDouble(double d);                          // 0x96 type 6
  Actions& PushBool(bool b);                              // 0x96 type 5
  Actions& PushNull();                                    // 0x96 type 2
  Actions& PushUndefined();                               // 0x96 type 3
  Actions& PushRegister(std::uint8_t r);                  // 0x96 type 4
  Actions& SetVariable();                                 // 0x1D
  Actions& Trace();                                       // 0x26
  // Any action: codes >= 0x80 carry a 16-bit length and the payload.
  Actions& Raw(std::uint8_t code, std::span<const std::uint8_t> payload = {});
  // DefineFunction (0x9B): the body follows the action inline.
  Actions& DefineFunction(std::string_view name, const std::vector<std::string>& params, const Actions& body);
  // Jump (0x99) / If (0x9D) by a byte offset from the end of the action.
  Actions& Jump(std::int16_t offset);
  Actions& If(std::int16_t offset);
  Actions& Append(const Actions& more);
  std::size_t Size() const { return code_.size(); }  // bytes so far, without ActionEnd
  std::vector<std::uint8_t> Bytes() const;  // with the closing ActionEnd

 private:
  std::vector<std::uint8_t> code_{};
};

// Sound format fields shared by DefineSound and the stream heads.
struct SoundFormat {
  std::uint8_t format = 2;  // 0 raw, 1 ADPCM, 2 MP3, 3 raw LE, 4-6 Nellymoser, 11 Speex
  std::uint8_t rate = 3;    // 0 5.5 kHz, 1 11 kHz, 2 22 kHz, 3 44 kHz
  bool is16Bit = true;
  bool stereo = true;

  // format << 4 | rate << 2 | size << 1 | type.
  std::uint8_t Byte() const;
};

struct SoundEnvelopePoint {
  std::uint32_t pos44 = 0;
  std::uint16_t leftLevel = 32768;
  std::uint16_t rightLevel = 32768;
};

struct SoundInfo {
  bool syncStop = false;
  bool syncNoMultiple = false;
  std::optional<std::uint32_t> inPoint{};
  std::optional<std::uint32_t> outPoint{};
  std::optional<std::uint16_t> loops{};
  std::vector<SoundEnvelopePoint> envelope{};
};

// PlaceObject2 / PlaceObject3 fields; absent optionals are not written.
struct Placement {
  std::uint16_t depth = 1;
  std::optional<std::uint16_t> characterId{};
  bool move = false;
  std::optional<swf::Matrix> matrix{};
  std::optional<swf::ColorTransform> colorTransform{};
  std::optional<std::uint16_t> ratio{};
  std::optional<std::string> name{};
  std::optional<std::uint16_t> clipDepth{};
  // PlaceObject3 only.
  std::optional<std::string> className{};
  std::vector<std::uint8_t> filterList{};  // raw FILTERLIST (count byte first); empty = none
  std::optional<std::uint8_t> blendMode{};
  std::optional<std::uint8_t> bitmapCache{};
  std::optional<std::uint8_t> visible{};
  std::optional<swf::Rgba> backgroundColor{};  // with visible
};

// One character of a button and the states it shows in.
struct ButtonRecord {
  bool up = false, over = false, down = false, hitTest = false;
  std::uint16_t characterId = 0;
  std::uint16_t depth = 1;
  swf::Matrix matrix{};
  swf::ColorTransform colorTransform{};  // DefineButton2 only
};

// A DefineButton2 action list and the transitions that run it, as the two
// condition bytes (first byte high: 0x0800 OverDownToOverUp, i.e. release).
struct ButtonCondAction {
  std::uint16_t conditions = 0x0800;
  Actions actions{};
};

// A list of tags: the movie's timeline, or a sprite's.
class Timeline {
 public:
  // Any tag; the long header form is used for bodies of 63 bytes or more,
  // or when longForm is set.
  Timeline& Tag(std::uint16_t code, std::span<const std::uint8_t> body = {},
                bool longForm = false);

  Timeline& End();
  Timeline& ShowFrame();
  Timeline& SetBackgroundColor(swf::Rgba c);
  Timeline& FrameLabel(std::string_view name, bool anchor = false);
  Timeline& Protect();
  Timeline& FileAttributes(std::uint32_t flags);

  // DefineShape (version 1), DefineShape2, 3, 4; bounds from the shape.
  Timeline& DefineShape(std::uint16_t id, const ShapeBuilder& shape, int version = 1);
  Timeline& DefineShape2(std::uint16_t id, const ShapeBuilder& s) { return DefineShape(id, s, 2); }
  Timeline& DefineShape3(std::uint16_t id, const ShapeBuilder& s) { return DefineShape(id, s, 3); }
  Timeline& DefineShape4(std::uint16_t id, const ShapeBuilder& s) { return DefineShape(id, s, 4); }

  Timeline& PlaceObject(std::uint16_t id, std::uint16_t depth, const swf::Matrix& m = {});
  Timeline& PlaceObject2(const Placement& p);
  Timeline& PlaceObject3(const Placement& p);
  Timeline& RemoveObject(std::uint16_t id, std::uint16_t depth);
  Timeline& RemoveObject2(std::uint16_t depth);

  // The sprite's frame count is the number of ShowFrame tags in it; an End
  // tag closes it when it has none.
  Timeline& DefineSprite(std::uint16_t id, const Timeline& sprite);

  // 24-bit pictures (format 5), row by row from the top; alpha is ignored.
  Timeline& DefineBitsLossless(std::uint16_t id, std::uint16_t width, std::uint16_t height,
                               std::span<const swf::Rgba> pixels);
  // 32-bit pictures with alpha; the colours are given straight and stored
  // premultiplied, as the format requires.
  Timeline& DefineBitsLossless2(std::uint16_t id, std::uint16_t width, std::uint16_t height,
                                std::span<const swf::Rgba> pixels);
  // Colour-mapped pictures (format 3): palette of up to 256 entries and one
  // index per pixel; rows are padded to 4 bytes. Lossless2 stores RGBA entries.
  Timeline& DefineBitsLosslessMapped(std::uint16_t id, std::uint16_t width, std::uint16_t height,
                                     std::span<const swf::Rgba> palette,
                                     std::span<const std::uint8_t> indices, bool withAlpha);
  // JPEG data as given (a complete JFIF stream, optionally with tables).
  Timeline& DefineBitsJpeg2(std::uint16_t id, std::span<const std::uint8_t> jpeg);

  Timeline& DoAction(const Actions& a);
  Timeline& DoInitAction(std::uint16_t spriteId, const Actions& a);

  // SoundData as stored: for MP3 it begins with the 16-bit seek samples.
  Timeline& DefineSound(std::uint16_t id, SoundFormat f, std::uint32_t sampleCount,
                        std::span<const std::uint8_t> data);
  Timeline& StartSound(std::uint16_t id, const SoundInfo& info = {});
  Timeline& StartSound2(std::string_view className, const SoundInfo& info = {});
  // ExportAssets (or SymbolClass with symbolClass set): names for ids.
  Timeline& ExportAssets(const std::vector<std::pair<std::uint16_t, std::string>>& names, bool symbolClass = false);

  // DefineButton: records, then one action list run on release.
  Timeline& DefineButton(std::uint16_t id, const std::vector<ButtonRecord>& records, const Actions& onRelease = {});
  Timeline& DefineButton2(std::uint16_t id, const std::vector<ButtonRecord>& records,
                          const std::vector<ButtonCondAction>& actions = {}, bool trackAsMenu = false);
  // Sounds for OverUpToIdle, IdleToOverUp, OverUpToOverDown, OverDownToOverUp (0: none).
  Timeline& DefineButtonSound(std::uint16_t buttonId, const std::array<std::uint16_t, 4>& soundIds,
                              const SoundInfo& info = {});
  // latencySeek is written only for MP3 streams.
  Timeline& SoundStreamHead(SoundFormat playback, SoundFormat stream,
                            std::uint16_t samplesPerBlock, std::int16_t latencySeek = 0);
  Timeline& SoundStreamHead2(SoundFormat playback, SoundFormat stream,
                             std::uint16_t samplesPerBlock, std::int16_t latencySeek = 0);
  // Raw block body.
  Timeline& SoundStreamBlock(std::span<const std::uint8_t> body);
  // MP3 block: sample count, seek samples, then the frames.
  Timeline& SoundStreamBlockMp3(std::uint16_t samples, std::int16_t seek,
                                std::span<const std::uint8_t> frames);

  std::uint16_t FrameCount() const { return frames_; }
  const std::vector<std::uint8_t>& TagBytes() const { return tags_; }
  bool EndsWithEnd() const { return last_code_ == 0 && !tags_.empty(); }

 private:
  Timeline& StreamHead(std::uint16_t code, SoundFormat playback, SoundFormat stream,
                       std::uint16_t samplesPerBlock, std::int16_t latencySeek);
  Timeline& Lossless(std::uint16_t code, std::uint16_t id, std::uint8_t format, std::uint16_t width,
                     std::uint16_t height, std::optional<std::uint8_t> tableSize,
                     std::span<const std::uint8_t> raw);

  std::vector<std::uint8_t> tags_{};
  std::uint16_t frames_ = 0;
  std::uint16_t last_code_ = 0xFFFF;
};

class SwfBuilder : public Timeline {
 public:
  // version: the header's version byte; frameSize in twips; fps as 8.8.
  explicit SwfBuilder(std::uint8_t version = 10, swf::Rect frameSize = {0, 11000, 0, 8000},
                      double fps = 24.0);

  SwfBuilder& SetVersion(std::uint8_t v) { version_ = v; return *this; }
  SwfBuilder& SetFrameSize(swf::Rect r) { frame_size_ = r; return *this; }
  SwfBuilder& SetFrameRate(double fps);
  SwfBuilder& SetFrameRateRaw(std::uint16_t fixed8_8) { rate_ = fixed8_8; return *this; }
  // Header frame count; by default the number of top-level ShowFrame tags.
  SwfBuilder& SetFrameCount(std::uint16_t n) { frame_count_ = n; return *this; }
  // Header file length; by default the real uncompressed length.
  SwfBuilder& SetDeclaredLength(std::uint32_t n) { declared_length_ = n; return *this; }

  // The file: 8-byte header, then the movie header and the tags, compressed
  // as asked. An End tag is appended when the tags do not end with one,
  // unless appendEnd is false.
  std::vector<std::uint8_t> Build(swf::Compression c = swf::Compression::kNone,
                                  bool appendEnd = true) const;
  // Build() written to a file; throws std::runtime_error when it cannot.
  void WriteFile(const std::filesystem::path& path,
                 swf::Compression c = swf::Compression::kNone, bool appendEnd = true) const;

 private:
  std::uint8_t version_;
  swf::Rect frame_size_;
  std::uint16_t rate_;
  std::optional<std::uint16_t> frame_count_{};
  std::optional<std::uint32_t> declared_length_{};
};

// A 100 x 100 pixel movie (SWF 8) at 10 frames per second on white.
SwfBuilder Movie100();
// One rectangle of one solid colour, in twips.
ShapeBuilder RectShape(std::int32_t x, std::int32_t y, std::int32_t w, std::int32_t h, swf::Rgba c);
// A placement matrix that only moves, by twips.
swf::Matrix Translation(std::int32_t x, std::int32_t y);

// zlib (RFC 1950) and raw-LZMA helpers also used for the containers.
std::vector<std::uint8_t> ZlibCompress(std::span<const std::uint8_t> data, int level = 6);
// ".lzma" (LZMA_Alone) stream: 5 property bytes, 8 size bytes, data.
std::vector<std::uint8_t> LzmaAloneCompress(std::span<const std::uint8_t> data);

// A valid MPEG-1 Layer III frame header + zero payload (silent frame) of
// the given bit rate (kbit/s) and sample rate (44100, 22050, 11025 ...).
// Decoders accept it as a frame of silence.
std::vector<std::uint8_t> SilentMp3Frame(int bitrateKbps = 64, int sampleRate = 44100,
                                         bool stereo = true);

}  // namespace quarvel::testing
