#include "player/library/id3_tags.h"

#include <cstdint>
#include <utility>

#include "player/text/text_encoding.h"

namespace quarvel::player {

namespace {

std::uint32_t Byte(std::string_view s, std::size_t i) { return static_cast<unsigned char>(s[i]); }

std::uint32_t SyncSafe(std::string_view s, std::size_t i) {
  return (Byte(s, i) & 0x7F) << 21 | (Byte(s, i + 1) & 0x7F) << 14 | (Byte(s, i + 2) & 0x7F) << 7 |
         (Byte(s, i + 3) & 0x7F);
}

std::uint32_t Big(std::string_view s, std::size_t i, int bytes) {
  std::uint32_t v = 0;
  for (int k = 0; k < bytes; ++k) v = v << 8 | Byte(s, i + static_cast<std::size_t>(k));
  return v;
}

// Unsynchronisation put a zero after every 0xFF; take them out.
std::string Resync(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size(); ++i) {
    out += s[i];
    if (Byte(s, i) == 0xFF && i + 1 < s.size() && s[i + 1] == 0) ++i;
  }
  return out;
}

// A string in one of ID3's four encodings, up to its terminator (one zero
// byte, two aligned ones in UTF-16); `used` gets the bytes read with it.
std::string Decode(int encoding, std::string_view s, std::size_t* used = nullptr) {
  if (encoding == 1 || encoding == 2) {
    bool big = encoding == 2;
    std::size_t i = 0;
    if (encoding == 1 && s.size() >= 2) {
      if (Byte(s, 0) == 0xFF && Byte(s, 1) == 0xFE) i = 2;
      if (Byte(s, 0) == 0xFE && Byte(s, 1) == 0xFF) big = true, i = 2;
    }
    std::u16string units;
    for (; i + 1 < s.size(); i += 2) {
      const auto u = static_cast<char16_t>(big ? Byte(s, i) << 8 | Byte(s, i + 1) : Byte(s, i + 1) << 8 | Byte(s, i));
      if (u == 0) {
        i += 2;
        break;
      }
      units += u;
    }
    if (used) *used = std::min(i, s.size());
    return encoding::Utf16ToUtf8(units);
  }
  const std::size_t end = s.find('\0');
  const std::string_view text = s.substr(0, end);
  if (used) *used = end == std::string_view::npos ? s.size() : end + 1;
  return encoding == 3 ? std::string(text) : encoding::Windows1252ToUtf8(text);
}

// The text Flash shows for a frame; false for frames it leaves out.
bool FrameText(const std::string& id, std::string_view body, std::string& text) {
  if (body.empty()) return false;
  const int enc = static_cast<int>(Byte(body, 0));
  if (enc > 3) return false;
  if (id == "COMM") {
    if (body.size() < 4) return false;
    std::size_t used = 0;
    Decode(enc, body.substr(4), &used);  // the description
    text = Decode(enc, body.substr(4 + used));
    return true;
  }
  if (id == "WXXX") {
    std::size_t used = 0;
    Decode(enc, body.substr(1), &used);
    text = Decode(0, body.substr(1 + used));
    return true;
  }
  if (id[0] != 'T' || id == "TXXX") return false;
  text = Decode(enc, body.substr(1));
  return true;
}

// ID3v2.2's three-letter names of the frames Flash reads, as v2.3 names them.
std::string FromV22(std::string_view id) {
  static constexpr std::pair<std::string_view, std::string_view> kNames[] = {
      {"TT1", "TIT1"}, {"TT2", "TIT2"}, {"TT3", "TIT3"}, {"TP1", "TPE1"}, {"TP2", "TPE2"}, {"TP3", "TPE3"},
      {"TP4", "TPE4"}, {"TAL", "TALB"}, {"TCM", "TCOM"}, {"TCO", "TCON"}, {"TCR", "TCOP"}, {"TDA", "TDAT"},
      {"TDY", "TDLY"}, {"TEN", "TENC"}, {"TXT", "TEXT"}, {"TFT", "TFLT"}, {"TIM", "TIME"}, {"TKE", "TKEY"},
      {"TLA", "TLAN"}, {"TLE", "TLEN"}, {"TMT", "TMED"}, {"TOT", "TOAL"}, {"TOF", "TOFN"}, {"TOL", "TOLY"},
      {"TOA", "TOPE"}, {"TOR", "TORY"}, {"TPA", "TPOS"}, {"TPB", "TPUB"}, {"TRK", "TRCK"}, {"TRD", "TRDA"},
      {"TSI", "TSIZ"}, {"TRC", "TSRC"}, {"TSS", "TSSE"}, {"TYE", "TYER"}, {"TBP", "TBPM"}, {"COM", "COMM"},
      {"WXX", "WXXX"}, {"TXX", "TXXX"}};
  for (const auto& [from, to] : kNames) {
    if (id == from) return std::string(to);
  }
  return {};
}

void ReadV2(std::string_view file, Id3Tags& out) {
  const int major = static_cast<int>(Byte(file, 3));
  if (major < 2 || major > 4 || Byte(file, 4) == 0xFF) return;
  const std::uint32_t flags = Byte(file, 5);
  const std::size_t size = std::min<std::size_t>(SyncSafe(file, 6), file.size() - 10);
  // Before 2.4 unsynchronisation covers the whole tag, frame headers too.
  std::string tag = major < 4 && (flags & 0x80) ? Resync(file.substr(10, size)) : std::string(file.substr(10, size));
  std::string_view t = tag;
  std::size_t i = 0;
  if (major >= 3 && (flags & 0x40) && t.size() >= 4) {
    i = major == 3 ? 4 + static_cast<std::size_t>(Big(t, 0, 4)) : static_cast<std::size_t>(SyncSafe(t, 0));
  }
  out.version = major;
  const std::size_t header = major == 2 ? 6 : 10;
  while (i + header <= t.size() && t[i] != '\0') {
    std::string id(t.substr(i, major == 2 ? 3 : 4));
    const std::size_t length = major == 2 ? Big(t, i + 3, 3) : major == 3 ? Big(t, i + 4, 4) : SyncSafe(t, i + 4);
    const std::uint32_t format = major == 2 ? 0 : Byte(t, i + 9);
    const std::size_t start = i + header;
    if (length > t.size() - start) break;
    i = start + length;
    std::string_view body = t.substr(start, length);
    if (major == 2) id = FromV22(id);
    // Compressed or encrypted frames are left out.
    if (id.empty() || (major == 3 && (format & 0xC0)) || (major == 4 && (format & 0x0C))) continue;
    std::string resynced;
    if (major == 3 && (format & 0x20) && !body.empty()) body.remove_prefix(1);  // group
    if (major == 4) {
      if ((format & 0x40) && !body.empty()) body.remove_prefix(1);  // group
      if (format & 0x01) body.remove_prefix(std::min<std::size_t>(4, body.size()));  // data length
      if ((format & 0x02) || (flags & 0x80)) body = resynced = Resync(body);
    }
    std::string text;
    if (FrameText(id, body, text)) out.frames.push_back({std::move(id), std::move(text)});
  }
}

// ID3v1 fields are fixed-width, padded with zeros or spaces.
std::string V1Field(std::string_view s) {
  s = s.substr(0, s.find('\0'));
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return encoding::Windows1252ToUtf8(s);
}

void ReadV1(std::string_view file, Id3Tags& out) {
  const std::string_view t = file.substr(file.size() - 128);
  out.version = 1;
  const auto add = [&](const char* id, std::string text) {
    if (!text.empty()) out.frames.push_back({id, std::move(text)});
  };
  add("TIT2", V1Field(t.substr(3, 30)));
  add("TPE1", V1Field(t.substr(33, 30)));
  add("TALB", V1Field(t.substr(63, 30)));
  add("TYER", V1Field(t.substr(93, 4)));
  // ID3v1.1: a zero before the comment's last byte makes that byte the track.
  const bool hasTrack = t[125] == '\0' && t[126] != '\0';
  add("COMM", V1Field(t.substr(97, hasTrack ? 28 : 30)));
  if (hasTrack) add("TRCK", std::to_string(Byte(t, 126)));
  if (Byte(t, 127) != 0xFF) add("TCON", std::to_string(Byte(t, 127)));
}

}  // namespace

Id3Tags ReadId3(std::string_view file) {
  Id3Tags out;
  if (file.size() >= 10 && file.substr(0, 3) == "ID3") ReadV2(file, out);
  if (out.version == 0 && file.size() >= 128 && file.substr(file.size() - 128, 3) == "TAG") ReadV1(file, out);
  return out;
}

}  // namespace quarvel::player
