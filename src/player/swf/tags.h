#pragma once
// SWF tag headers, the tag stream and the tag code table.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "player/swf/reader.h"

namespace quarvel::swf {

namespace tag {
inline constexpr std::uint16_t kEnd = 0;
inline constexpr std::uint16_t kShowFrame = 1;
inline constexpr std::uint16_t kDefineShape = 2;
inline constexpr std::uint16_t kPlaceObject = 4;
inline constexpr std::uint16_t kRemoveObject = 5;
inline constexpr std::uint16_t kDefineBits = 6;
inline constexpr std::uint16_t kDefineButton = 7;
inline constexpr std::uint16_t kJpegTables = 8;
inline constexpr std::uint16_t kSetBackgroundColor = 9;
inline constexpr std::uint16_t kDefineFont = 10;
inline constexpr std::uint16_t kDefineText = 11;
inline constexpr std::uint16_t kDoAction = 12;
inline constexpr std::uint16_t kDefineFontInfo = 13;
inline constexpr std::uint16_t kDefineSound = 14;
inline constexpr std::uint16_t kStartSound = 15;
inline constexpr std::uint16_t kDefineButtonSound = 17;
inline constexpr std::uint16_t kSoundStreamHead = 18;
inline constexpr std::uint16_t kSoundStreamBlock = 19;
inline constexpr std::uint16_t kDefineBitsLossless = 20;
inline constexpr std::uint16_t kDefineBitsJpeg2 = 21;
inline constexpr std::uint16_t kDefineShape2 = 22;
inline constexpr std::uint16_t kDefineButtonCxform = 23;
inline constexpr std::uint16_t kProtect = 24;
inline constexpr std::uint16_t kPlaceObject2 = 26;
inline constexpr std::uint16_t kRemoveObject2 = 28;
inline constexpr std::uint16_t kDefineShape3 = 32;
inline constexpr std::uint16_t kDefineText2 = 33;
inline constexpr std::uint16_t kDefineButton2 = 34;
inline constexpr std::uint16_t kDefineBitsJpeg3 = 35;
inline constexpr std::uint16_t kDefineBitsLossless2 = 36;
inline constexpr std::uint16_t kDefineEditText = 37;
inline constexpr std::uint16_t kDefineSprite = 39;
inline constexpr std::uint16_t kFrameLabel = 43;
inline constexpr std::uint16_t kSoundStreamHead2 = 45;
inline constexpr std::uint16_t kDefineMorphShape = 46;
inline constexpr std::uint16_t kDefineFont2 = 48;
inline constexpr std::uint16_t kExportAssets = 56;
inline constexpr std::uint16_t kImportAssets = 57;
inline constexpr std::uint16_t kEnableDebugger = 58;
inline constexpr std::uint16_t kDoInitAction = 59;
inline constexpr std::uint16_t kDefineVideoStream = 60;
inline constexpr std::uint16_t kVideoFrame = 61;
inline constexpr std::uint16_t kDefineFontInfo2 = 62;
inline constexpr std::uint16_t kEnableDebugger2 = 64;
inline constexpr std::uint16_t kScriptLimits = 65;
inline constexpr std::uint16_t kSetTabIndex = 66;
inline constexpr std::uint16_t kFileAttributes = 69;
inline constexpr std::uint16_t kPlaceObject3 = 70;
inline constexpr std::uint16_t kImportAssets2 = 71;
inline constexpr std::uint16_t kDefineFontAlignZones = 73;
inline constexpr std::uint16_t kCsmTextSettings = 74;
inline constexpr std::uint16_t kDefineFont3 = 75;
inline constexpr std::uint16_t kSymbolClass = 76;
inline constexpr std::uint16_t kMetadata = 77;
inline constexpr std::uint16_t kDefineScalingGrid = 78;
inline constexpr std::uint16_t kDoAbc = 82;
inline constexpr std::uint16_t kDefineShape4 = 83;
inline constexpr std::uint16_t kDefineMorphShape2 = 84;
inline constexpr std::uint16_t kDefineSceneAndFrameLabelData = 86;
inline constexpr std::uint16_t kDefineBinaryData = 87;
inline constexpr std::uint16_t kDefineFontName = 88;
inline constexpr std::uint16_t kStartSound2 = 89;
inline constexpr std::uint16_t kDefineBitsJpeg4 = 90;
inline constexpr std::uint16_t kDefineFont4 = 91;
inline constexpr std::uint16_t kEnableTelemetry = 93;
}  // namespace tag

// Name of a tag code for logs ("DefineShape"); "Unknown" for codes not in the table.
std::string_view TagName(std::uint16_t code);

// The 16-bit code-and-length word: code = word >> 6, length = word & 0x3F;
// length 0x3F means a 32-bit length follows (the long form).
struct TagHeader {
  std::uint16_t code = 0;
  std::uint32_t length = 0;
  std::uint8_t headerSize = 2;  // 2 (short form) or 6 (long form)

  bool operator==(const TagHeader&) const = default;
};

// Reads a tag header at the reader's position (does not check the body).
TagHeader ReadTagHeader(Reader& r);

struct Tag {
  std::uint16_t code = 0;
  std::span<const std::uint8_t> body;
  std::size_t offset = 0;  // offset of the tag header in the movie
  std::uint8_t headerSize = 2;

  // A reader over the body whose error offsets count in the movie.
  Reader BodyReader() const { return Reader(body, offset + headerSize); }
};

// Walks a tag stream (the movie's tags, or a sprite's). Next() gives each
// tag in turn, End tags included (callers stop there), and nothing once the
// data is used up. A cut-off header or a body running past the data throws
// SwfError; the stream stays at that tag, so callers may stop there.
class TagStream {
 public:
  TagStream() = default;
  // base_offset: where data starts in the movie, for offsets and messages.
  explicit TagStream(std::span<const std::uint8_t> data, std::size_t base_offset = 0)
      : reader_(data, base_offset) {}
  explicit TagStream(std::vector<std::uint8_t>&&, std::size_t = 0) = delete;

  std::optional<Tag> Next();
  // Offset in the movie of the next tag header.
  std::size_t Offset() const { return reader_.Offset(); }
  bool AtEnd() const { return reader_.AtEnd(); }

 private:
  Reader reader_;
};

}  // namespace quarvel::swf
