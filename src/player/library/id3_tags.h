#pragma once
// The ID3 tags of an MP3 file, as Flash hands them to scripts (Sound.id3):
// an ID3v2 tag (versions 2.2 to 2.4) at the start of the file, or else an
// ID3v1 tag in its last 128 bytes.

#include <string>
#include <string_view>
#include <vector>

namespace quarvel::player {

struct Id3Frame {
  std::string id;    // four letters as ID3v2.3 names it (TIT2, COMM...)
  std::string text;  // UTF-8, up to the first terminator
};

struct Id3Tags {
  int version = 0;  // 0: no tag; 1: ID3v1; 2, 3, 4: ID3v2.x
  // In file order. Text frames (T...) but TXXX, comments (COMM, their text)
  // and WXXX (its URL); an ID3v1 tag's fields under their ID3v2.3 names.
  std::vector<Id3Frame> frames;
};

Id3Tags ReadId3(std::string_view file);

}  // namespace quarvel::player
