#include "player/swf/tags.h"

#include <array>
#include <string>

namespace quarvel::swf {

std::string_view TagName(std::uint16_t code) {
  static constexpr std::array<std::string_view, 94> kNames = [] {
    std::array<std::string_view, 94> n{};
    n[0] = "End";
    n[1] = "ShowFrame";
    n[2] = "DefineShape";
    n[3] = "FreeCharacter";
    n[4] = "PlaceObject";
    n[5] = "RemoveObject";
    n[6] = "DefineBits";
    n[7] = "DefineButton";
    n[8] = "JPEGTables";
    n[9] = "SetBackgroundColor";
    n[10] = "DefineFont";
    n[11] = "DefineText";
    n[12] = "DoAction";
    n[13] = "DefineFontInfo";
    n[14] = "DefineSound";
    n[15] = "StartSound";
    n[16] = "StopSound";
    n[17] = "DefineButtonSound";
    n[18] = "SoundStreamHead";
    n[19] = "SoundStreamBlock";
    n[20] = "DefineBitsLossless";
    n[21] = "DefineBitsJPEG2";
    n[22] = "DefineShape2";
    n[23] = "DefineButtonCxform";
    n[24] = "Protect";
    n[25] = "PathsArePostScript";
    n[26] = "PlaceObject2";
    n[28] = "RemoveObject2";
    n[29] = "SyncFrame";
    n[31] = "FreeAll";
    n[32] = "DefineShape3";
    n[33] = "DefineText2";
    n[34] = "DefineButton2";
    n[35] = "DefineBitsJPEG3";
    n[36] = "DefineBitsLossless2";
    n[37] = "DefineEditText";
    n[38] = "DefineVideo";
    n[39] = "DefineSprite";
    n[40] = "NameCharacter";
    n[41] = "ProductInfo";
    n[42] = "DefineTextFormat";
    n[43] = "FrameLabel";
    n[45] = "SoundStreamHead2";
    n[46] = "DefineMorphShape";
    n[47] = "GenerateFrame";
    n[48] = "DefineFont2";
    n[49] = "GeneratorCommand";
    n[50] = "DefineCommandObject";
    n[51] = "CharacterSet";
    n[52] = "ExternalFont";
    n[56] = "ExportAssets";
    n[57] = "ImportAssets";
    n[58] = "EnableDebugger";
    n[59] = "DoInitAction";
    n[60] = "DefineVideoStream";
    n[61] = "VideoFrame";
    n[62] = "DefineFontInfo2";
    n[63] = "DebugID";
    n[64] = "EnableDebugger2";
    n[65] = "ScriptLimits";
    n[66] = "SetTabIndex";
    n[69] = "FileAttributes";
    n[70] = "PlaceObject3";
    n[71] = "ImportAssets2";
    n[72] = "DoABCDefine";
    n[73] = "DefineFontAlignZones";
    n[74] = "CSMTextSettings";
    n[75] = "DefineFont3";
    n[76] = "SymbolClass";
    n[77] = "Metadata";
    n[78] = "DefineScalingGrid";
    n[82] = "DoABC";
    n[83] = "DefineShape4";
    n[84] = "DefineMorphShape2";
    n[86] = "DefineSceneAndFrameLabelData";
    n[87] = "DefineBinaryData";
    n[88] = "DefineFontName";
    n[89] = "StartSound2";
    n[90] = "DefineBitsJPEG4";
    n[91] = "DefineFont4";
    n[93] = "EnableTelemetry";
    return n;
  }();
  if (code < kNames.size() && !kNames[code].empty()) return kNames[code];
  return "Unknown";
}

TagHeader ReadTagHeader(Reader& r) {
  TagHeader h;
  const std::uint16_t word = r.U16("TagCodeAndLength");
  h.code = static_cast<std::uint16_t>(word >> 6);
  h.length = word & 0x3Fu;
  h.headerSize = 2;
  if (h.length == 0x3F) {
    h.length = r.U32("TagLength");
    h.headerSize = 6;
  }
  return h;
}

std::optional<Tag> TagStream::Next() {
  if (reader_.AtEnd()) return std::nullopt;
  Reader probe = reader_;
  const std::size_t at = probe.Offset();
  const TagHeader h = ReadTagHeader(probe);
  if (h.length > probe.Remaining()) {
    throw SwfError("TagBody", at,
                   "SWF tag " + std::string(TagName(h.code)) + " (" + std::to_string(h.code) +
                       ") of " + std::to_string(h.length) + " bytes runs past the end of the data (" +
                       std::to_string(probe.Remaining()) + " bytes left)");
  }
  Tag t;
  t.code = h.code;
  t.offset = at;
  t.headerSize = h.headerSize;
  t.body = probe.Bytes(h.length, "TagBody");
  reader_ = probe;
  return t;
}

}  // namespace quarvel::swf
