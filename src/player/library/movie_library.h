#pragma once
// A loaded movie: the expanded file, its header, the character definitions
// by id and the main timeline's frames.

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <span>
#include <string>

#include "player/avm2/abc_file.h"
#include "player/library/characters.h"
#include "player/swf/movie.h"

namespace quarvel::player {

struct MovieLibrary {
  swf::Movie movie;
  CharacterMap characters;
  TimelineDef timeline;
  std::optional<Rgba> background;  // first SetBackgroundColor
  std::optional<int> maxRecursion;  // ScriptLimits: nested script calls allowed
  std::uint8_t fileAttributes = 0;  // the FileAttributes tag's first flags (0x01: network access)
  // The security sandbox both machines report: a movie played from a file
  // reaches either files or the network, as its FileAttributes ask.
  const char* SandboxType() const { return fileAttributes & 0x01 ? "localWithNetwork" : "localWithFile"; }
  std::set<std::string> skipped;   // features drawn without or ignored
  // Pictures found undecodable when first used, after the load.
  std::shared_ptr<std::set<std::string>> lateSkipped = std::make_shared<std::set<std::string>>();
  // skipped and lateSkipped.
  std::set<std::string> Skipped() const {
    std::set<std::string> all = skipped;
    all.insert(lateSkipped->begin(), lateSkipped->end());
    return all;
  }
  std::vector<ControlTag> soundDefinitions;  // DefineSound tags, in file order
  // DefineButtonSound by button id: IdleToOverUp... in the tag's order
  // (OverUpToIdle, IdleToOverUp, OverUpToOverDown, OverDownToOverUp).
  std::map<std::uint16_t, std::array<ButtonSound, 4>> buttonSounds;
  std::map<std::string, std::uint16_t> names;  // exported and class names -> id
  // DoABC blocks read, in file order, with the main timeline's frame (0 on);
  // a damaged block is left out and named in skipped.
  struct AbcBlock {
    std::string name;
    std::uint32_t flags = 0;
    int frame = 0;
    std::shared_ptr<const avm2::AbcFile> file;
  };
  std::vector<AbcBlock> abcBlocks;
  // The main timeline's SymbolClass links in file order, with their frame:
  // a frame's classes are looked up (their scripts run) when it first plays.
  struct ClassLink {
    int frame = 0;
    std::uint16_t id = 0;
    std::string name;
  };
  std::vector<ClassLink> classLinks;
  // DefineBitsLossless ids of pictures with no pixels (no character is made).
  std::set<std::uint16_t> emptyBitmaps;
  // DefineBinaryData by id: where its data lies in the movie (classes linked
  // to it are ByteArrays holding it).
  std::map<std::uint16_t, std::pair<std::size_t, std::size_t>> binaryData;
  // DefineScalingGrid by sprite id: the centre of a nine-slice scaled symbol
  // in its own twips; the corners outside it keep their size as it scales.
  std::map<std::uint16_t, Rect> scalingGrids;

  // A character id by exported or class name (exact, else ignoring case); 0 for none.
  std::uint16_t FindName(const std::string& name) const;
  // The data of DefineBinaryData `id`; false when there is none.
  bool BinaryData(std::uint16_t id, std::span<const std::uint8_t>& out) const {
    auto it = binaryData.find(id);
    if (it == binaryData.end()) return false;
    out = Data(it->second.first, it->second.second);
    return true;
  }
  // The length of the DefineSound of `id` in milliseconds; -1 when there is none.
  double SoundLengthMs(int id) const;

  int TotalFrames() const;
  const Character* Find(std::uint16_t id) const {
    auto it = characters.find(id);
    return it == characters.end() ? nullptr : it->second.get();
  }
  std::span<const std::uint8_t> Body(const ControlTag& t) const { return Data(t.offset, t.length); }
  std::span<const std::uint8_t> Data(std::size_t offset, std::size_t length) const {
    return std::span<const std::uint8_t>(movie.data).subspan(offset, length);
  }
};

// The length of a DefineSound body in milliseconds: its sample count at its rate.
double DefineSoundLengthMs(std::span<const std::uint8_t> body);

// Parses every definition of the movie. Throws swf::SwfError only when the
// container or header cannot be read; damaged tags are skipped.
std::unique_ptr<MovieLibrary> LoadLibrary(std::span<const std::uint8_t> file);
// The same for a movie opened already (swf::OpenMovie with acceptTruncated).
std::unique_ptr<MovieLibrary> LoadLibrary(swf::Movie opened);

}  // namespace quarvel::player
