#include "player/library/load_path.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <fstream>
#include <iterator>

#include <iconv.h>

#include "player/text/text_encoding.h"

namespace quarvel::player {

namespace fs = std::filesystem;

bool IsUrl(const std::string& s) {
  std::size_t i = 0;
  while (i < s.size() && (std::isalnum(static_cast<unsigned char>(s[i])) || s[i] == '+' || s[i] == '.' || s[i] == '-')) ++i;
  return i >= 2 && i < s.size() && s[i] == ':' && std::isalpha(static_cast<unsigned char>(s[0]));
}

fs::path FileBesideMovie(const fs::path& folder, std::string url) {
  if (folder.empty() || url.empty()) return {};
  // file:///folder/name (as loaderInfo.url gives) is a path like any other.
  if (url.size() > 7 && std::equal(url.begin(), url.begin() + 7, "file://", [](char a, char b) {
        return std::tolower(static_cast<unsigned char>(a)) == b;
      })) {
    url = url.substr(7);
  }
  if (IsUrl(url)) return {};
  // Cache-busting queries name the same file.
  if (const auto q = url.find_first_of("?#"); q != std::string::npos) url.resize(q);
  // Movies made on Windows may write their folders with backslashes.
  std::replace(url.begin(), url.end(), '\\', '/');
  std::error_code ec;
  const fs::path base = fs::weakly_canonical(folder, ec);
  if (ec) return {};
  fs::path p = fs::path(url);
  if (p.is_relative()) p = base / p;
  p = fs::weakly_canonical(p, ec);
  if (ec) return {};
  // Inside the movie's folder only.
  const auto rel = p.lexically_relative(base);
  if (rel.empty() || *rel.begin() == "..") return {};
  if (!fs::is_regular_file(p, ec)) return {};
  return p;
}

bool ReadScriptFile(const fs::path& p, std::string& out) {
  std::error_code ec;
  const auto size = fs::file_size(p, ec);
  if (ec || size > kMaxScriptLoadBytes) return false;
  std::ifstream in(p, std::ios::binary);
  if (!in) return false;
  out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return static_cast<bool>(in) || in.eof();
}

std::string UrlDecode(const std::string& s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '+') {
      out += ' ';
    } else if (s[i] == '%' && i + 2 < s.size() && std::isxdigit(static_cast<unsigned char>(s[i + 1])) &&
               std::isxdigit(static_cast<unsigned char>(s[i + 2]))) {
      out += static_cast<char>(std::stoi(s.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      out += s[i];
    }
  }
  return out;
}

std::string UrlEncode(const std::string& s, std::string_view keep) {
  static const char* hex = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : s) {
    if (std::isalnum(c) || keep.find(static_cast<char>(c)) != std::string_view::npos) {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    }
  }
  return out;
}

std::string ScriptText(std::string raw) {
  if (raw.size() >= 3 && raw.compare(0, 3, "\xEF\xBB\xBF") == 0) return raw.substr(3);
  if (raw.size() >= 2 && (raw.compare(0, 2, "\xFF\xFE") == 0 || raw.compare(0, 2, "\xFE\xFF") == 0)) {
    const bool little = raw[0] == '\xFF';
    std::u16string units;
    units.reserve(raw.size() / 2);
    for (std::size_t i = 2; i + 1 < raw.size(); i += 2) {
      const auto lo = static_cast<unsigned char>(raw[little ? i : i + 1]);
      const auto hi = static_cast<unsigned char>(raw[little ? i + 1 : i]);
      units += static_cast<char16_t>(lo | (hi << 8));
    }
    return encoding::Utf16ToUtf8(units);
  }
  return raw;
}

namespace {

bool ValidUtf8(const std::string& s) {
  for (std::size_t i = 0; i < s.size();) {
    const auto b = static_cast<unsigned char>(s[i]);
    const std::size_t n = b < 0x80 ? 0 : (b & 0xE0) == 0xC0 && b >= 0xC2 ? 1 : (b & 0xF0) == 0xE0 ? 2
                        : (b & 0xF8) == 0xF0 && b <= 0xF4 ? 3 : 9;
    if (n == 9) return false;
    for (std::size_t k = 1; k <= n; ++k) {
      if (i + k >= s.size() || (static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
    }
    i += n + 1;
  }
  return true;
}

bool SjisLead(unsigned char b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }
bool SjisTrail(unsigned char b) { return b >= 0x40 && b <= 0xFC && b != 0x7F; }

// Every byte above ASCII a lead or a trail of a pair, and some pair of two
// such bytes: Western text seldom reads that way.
bool LooksSjis(const std::string& s) {
  bool highPair = false;
  for (std::size_t i = 0; i < s.size(); ++i) {
    const auto b = static_cast<unsigned char>(s[i]);
    if (b < 0x80) continue;
    if (!SjisLead(b) || i + 1 >= s.size() || !SjisTrail(static_cast<unsigned char>(s[i + 1]))) return false;
    highPair = highPair || static_cast<unsigned char>(s[i + 1]) >= 0x80;
    ++i;
  }
  return highPair;
}

bool FromSjis(const std::string& s, std::string& out) {
  iconv_t cd = iconv_open("UTF-8", "CP932");
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  std::string in = s;
  out.assign(s.size() * 3 + 4, '\0');
  char* src = in.data();
  char* dst = out.data();
  std::size_t left = in.size(), room = out.size();
  const std::size_t r = iconv(cd, &src, &left, &dst, &room);
  iconv_close(cd);
  if (r == static_cast<std::size_t>(-1)) return false;
  out.resize(out.size() - room);
  return true;
}

}  // namespace

std::string CodepageText(std::string raw) {
  if (ValidUtf8(raw)) return raw;
  std::string out;
  if (LooksSjis(raw) && FromSjis(raw, out)) return out;
  return encoding::Windows1252ToUtf8(raw);
}

}  // namespace quarvel::player
