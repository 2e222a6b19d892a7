#pragma once
// Where scripts of either machine may read files: beside the movie only.
//
// The player is offline. A file is found relative to the movie's folder (an
// absolute path or a file: URL only inside it); every other URL (http:,
// ftp:...) and every path leading out of the folder names no file, so the
// load fails as a missing file does in an offline player.

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>

namespace quarvel::player {

inline constexpr std::size_t kMaxScriptLoadBytes = std::size_t{16} << 20;

// A scheme of two letters or more ("C:" is a drive).
bool IsUrl(const std::string& s);
// The file `url` names in `folder`, or empty when it names none we may read.
std::filesystem::path FileBesideMovie(const std::filesystem::path& folder, std::string url);
// The whole file, when it is at most kMaxScriptLoadBytes.
bool ReadScriptFile(const std::filesystem::path& p, std::string& out);
// Text as scripts read it: UTF-8 without its mark; UTF-16 with a mark is converted.
std::string ScriptText(std::string raw);
// Text read in the system's code page (System.useCodepage): UTF-8 stays; other
// bytes are Shift-JIS when they all pair up as its double-byte characters,
// else Windows-1252.
std::string CodepageText(std::string raw);
// Form and URL encoding read back: "+" is a space, "%41" is "A".
std::string UrlDecode(const std::string& s);
// %XX for every byte but letters, digits and those in `keep`: ActionScript 2's
// escape keeps none, ActionScript 3's URLVariables keeps "-_.~".
std::string UrlEncode(const std::string& s, std::string_view keep = {});

}  // namespace quarvel::player
