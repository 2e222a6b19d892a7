// ID3 tags as Sound.id3 reads them: the three ID3v2 versions with their
// sizes, encodings, unsynchronisation and frame flags, and ID3v1 at the end.
#include "player/library/id3_tags.h"

#include <gtest/gtest.h>

#include <string>

namespace quarvel::player {
namespace {

using namespace std::string_literals;

std::string SyncSafe(std::size_t n) {
  return {static_cast<char>(n >> 21 & 0x7F), static_cast<char>(n >> 14 & 0x7F), static_cast<char>(n >> 7 & 0x7F),
          static_cast<char>(n & 0x7F)};
}
std::string Big(std::size_t n, int bytes) {
  std::string s;
  for (int k = bytes - 1; k >= 0; --k) s += static_cast<char>(n >> (8 * k) & 0xFF);
  return s;
}

std::string Tag(int major, const std::string& frames, char flags = 0) {
  return "ID3"s + static_cast<char>(major) + '\0' + flags + SyncSafe(frames.size()) + frames;
}
std::string Frame23(const std::string& id, const std::string& body, char format = 0) {
  return id + Big(body.size(), 4) + '\0' + format + body;
}
std::string Frame24(const std::string& id, const std::string& body, char format = 0) {
  return id + SyncSafe(body.size()) + '\0' + format + body;
}

std::vector<std::pair<std::string, std::string>> Pairs(const Id3Tags& t) {
  std::vector<std::pair<std::string, std::string>> out;
  for (const auto& f : t.frames) out.emplace_back(f.id, f.text);
  return out;
}
using P = std::vector<std::pair<std::string, std::string>>;

TEST(Id3Tags, Version23KeepsFileOrderEncodingsAndLeavesOutOtherFrames) {
  const std::string frames =
      Frame23("TPE1", "\0Caf\xE9 \x80\0"s) +                                // Windows-1252, terminated
      Frame23("COMM", "\0engDesc\0Words"s) +                                // description skipped
      Frame23("TIT2", "\x01\xFF\xFEH\0i\0\0\0"s) +                          // UTF-16, little-endian BOM
      Frame23("TALB", "\x01\xFE\xFF\0H\0o"s) +                              // UTF-16, big-endian BOM
      Frame23("TCON", "\x02\0R\0o\0c\0k"s) +                                // UTF-16BE without BOM
      Frame23("TYER", "\x03" "\xC3\xA9t\xC3\xA9"s) +                         // UTF-8
      Frame23("COMM", "\x01" "eng\xFF\xFE" "D\0\0\0\xFF\xFEZ\0"s) +         // UTF-16 description
      Frame23("TXXX", "\0name\0value"s) + Frame23("WOAR", "http://a") +
      Frame23("WXXX", "\0site\0http://b"s) + Frame23("APIC", "\0image/png\0\x03\0"s) +
      Frame23("TBAD", "\x07text"s);
  const Id3Tags t = ReadId3(Tag(3, frames + std::string(20, '\0')) + "\xFF\xFB");
  EXPECT_EQ(t.version, 3);
  EXPECT_EQ(Pairs(t), (P{{"TPE1", "Caf\xC3\xA9 \xE2\x82\xAC"},
                         {"COMM", "Words"},
                         {"TIT2", "Hi"},
                         {"TALB", "Ho"},
                         {"TCON", "Rock"},
                         {"TYER", "\xC3\xA9t\xC3\xA9"},
                         {"COMM", "Z"},
                         {"WXXX", "http://b"}}));
}

TEST(Id3Tags, Version23ExtendedHeaderGroupsAndUnsynchronisedTag) {
  // Extended header of 6 bytes after its size; a grouped frame; a compressed one left out.
  std::string frames = Big(6, 4) + std::string(6, '\0') + Frame23("TIT2", "\x05\0A"s, '\x20') +
                       Frame23("TALB", "xxxxzlib", '\x80') + Frame23("TPE1", "\0\xFF\xE9"s);
  // The whole tag unsynchronised: every 0xFF gets a zero after it.
  std::string unsynced;
  for (char c : frames) {
    unsynced += c;
    if (c == '\xFF') unsynced += '\0';
  }
  // The frame sizes count the bytes before unsynchronisation.
  const Id3Tags t = ReadId3(Tag(3, unsynced, '\xC0'));
  EXPECT_EQ(Pairs(t), (P{{"TIT2", "A"}, {"TPE1", "\xC3\xBF\xC3\xA9"}}));
}

TEST(Id3Tags, Version24SyncSafeSizesDataLengthAndFrameUnsynchronisation) {
  const std::string body = "\0\xFF\0\xFF\0!"s;  // unsynchronised "\0\xFF\xFF!"
  const std::string frames = Frame24("TIT2", Big(4, 4) + body, '\x03') +
                             Frame24("TPE1", std::string(200, 'a').insert(0, 1, '\x03')) +
                             Frame24("TALB", "\0x"s, '\x04');  // encrypted
  const Id3Tags t = ReadId3(Tag(4, frames));
  EXPECT_EQ(t.version, 4);
  EXPECT_EQ(Pairs(t), (P{{"TIT2", "\xC3\xBF\xC3\xBF!"}, {"TPE1", std::string(200, 'a')}}));
}

TEST(Id3Tags, Version22NamesItsFramesAsVersion23) {
  const auto frame = [](const std::string& id, const std::string& body) { return id + Big(body.size(), 3) + body; };
  const Id3Tags t = ReadId3(Tag(2, frame("TT2", "\0Song"s) + frame("COM", "\0eng\0Note"s) + frame("PIC", "xx") +
                                       frame("TRK", "\0" "3/9"s)));
  EXPECT_EQ(Pairs(t), (P{{"TIT2", "Song"}, {"COMM", "Note"}, {"TRCK", "3/9"}}));
}

TEST(Id3Tags, BrokenTagsStopAtTheirEnd) {
  // A frame claiming more bytes than the tag holds ends the reading; so do
  // a tag size past the file and an unknown major version.
  EXPECT_EQ(Pairs(ReadId3(Tag(3, Frame23("TIT2", "\0A"s) + "TPE1" + Big(1000, 4) + "\0\0\0x"s))), (P{{"TIT2", "A"}}));
  std::string cut = Tag(3, Frame23("TIT2", "\0Title"s));
  cut.resize(cut.size() - 3);
  EXPECT_TRUE(ReadId3(cut).frames.empty());
  EXPECT_EQ(ReadId3(Tag(5, Frame23("TIT2", "\0A"s))).version, 0);
  EXPECT_EQ(ReadId3("ID3").version, 0);
  EXPECT_EQ(ReadId3("").version, 0);
}

std::string V1(const std::string& title, const std::string& comment, int track, int genre) {
  std::string t = "TAG"s + title;
  t.resize(33, '\0');
  t += "Artist"s + std::string(24, ' ') + std::string(30, '\0') + "1999" + comment;
  t.resize(125, '\0');
  t += track < 0 ? 'x' : '\0';
  t += static_cast<char>(track < 0 ? 'y' : track);
  t += static_cast<char>(genre);
  return t;
}

TEST(Id3Tags, Version1AtTheEndUnderVersion23Names) {
  const std::string audio(500, '\x55');
  const Id3Tags t = ReadId3(audio + V1("Title", "Hello", 7, 17));
  EXPECT_EQ(t.version, 1);
  EXPECT_EQ(Pairs(t), (P{{"TIT2", "Title"}, {"TPE1", "Artist"}, {"TYER", "1999"}, {"COMM", "Hello"},
                         {"TRCK", "7"}, {"TCON", "17"}}));
  // Version 1.0: the comment takes all 30 bytes; genre 255 is none.
  const Id3Tags v10 = ReadId3(audio + V1("", "Hello", -1, 255));
  EXPECT_EQ(Pairs(v10), (P{{"TPE1", "Artist"}, {"TYER", "1999"}, {"COMM", "Hello"}}));
  // An ID3v2 tag at the start wins over a version 1 tag at the end.
  EXPECT_EQ(Pairs(ReadId3(Tag(3, Frame23("TIT2", "\0Two"s)) + audio + V1("One", "", 1, 1))), (P{{"TIT2", "Two"}}));
}

}  // namespace
}  // namespace quarvel::player
