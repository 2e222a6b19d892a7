#include "cli/cli_options.h"

#include <algorithm>
#include <cmath>
#include <charconv>
#include <fstream>
#include <sstream>
#include <system_error>
#include <vector>

#include "capture/frame_store.h"
#include "platform/paths/working_folder.h"

namespace quarvel::cli {
namespace {

namespace fs = std::filesystem;

bool ParseInt(std::string_view text, int& out) {
  if (text.empty()) return false;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
  return ec == std::errc() && end == text.data() + text.size();
}

std::vector<std::string_view> Split(std::string_view text, char sep) {
  std::vector<std::string_view> parts;
  std::size_t start = 0;
  for (;;) {
    std::size_t at = text.find(sep, start);
    parts.push_back(text.substr(start, at == std::string_view::npos ? std::string_view::npos : at - start));
    if (at == std::string_view::npos) return parts;
    start = at + 1;
  }
}

}  // namespace

Size ParseSize(std::string_view text) {
  std::size_t x = text.find_first_of("xX");
  Size s;
  if (x == std::string_view::npos || !ParseInt(text.substr(0, x), s.width) ||
      !ParseInt(text.substr(x + 1), s.height))
    throw UsageError("--size: \"" + std::string(text) + "\" is not WIDTHxHEIGHT (for example 550x400)");
  if (s.width < 1 || s.width > 4096 || s.height < 1 || s.height > 4096)
    throw UsageError("--size: " + std::string(text) + " is outside 1x1 to 4096x4096");
  return s;
}

std::optional<std::int32_t> ParseBackground(std::string_view text) {
  if (text == "movie") return std::nullopt;
  std::string_view hex = text;
  if (!hex.empty() && hex.front() == '#') hex.remove_prefix(1);
  std::uint32_t value = 0;
  if (hex.size() == 6) {
    auto [end, ec] = std::from_chars(hex.data(), hex.data() + hex.size(), value, 16);
    if (ec == std::errc() && end == hex.data() + hex.size()) return static_cast<std::int32_t>(value);
  }
  throw UsageError("--background: \"" + std::string(text) + "\" is not RRGGBB (for example ff8800) or movie");
}

Click ParseClick(std::string_view text) {
  const auto bad = [&] {
    return UsageError("--click: \"" + std::string(text) + "\" is not X,Y or X,Y@MS (for example 275,200@500)");
  };
  Click c;
  std::string_view where = text;
  if (const auto at = text.find('@'); at != std::string_view::npos) {
    where = text.substr(0, at);
    int ms = 0;
    if (!ParseInt(text.substr(at + 1), ms) || ms < 0 || ms > 1'000'000'000) throw bad();
    c.ms = ms;
  }
  const auto parts = Split(where, ',');
  if (parts.size() != 2 || !ParseInt(parts[0], c.x) || !ParseInt(parts[1], c.y)) throw bad();
  if (c.x < 0 || c.x > 4095 || c.y < 0 || c.y > 4095) throw bad();
  return c;
}

KeyPress ParseKey(std::string_view text) {
  const auto bad = [&](const std::string& why) {
    return UsageError("--key: \"" + std::string(text) + "\" " + why);
  };
  KeyPress k;
  std::string_view name = text;
  if (const auto at = text.rfind('@'); at != std::string_view::npos && at > 0) {
    name = text.substr(0, at);
    std::string_view when = text.substr(at + 1);
    std::string_view hold;
    if (const auto plus = when.find('+'); plus != std::string_view::npos) {
      hold = when.substr(plus + 1);
      when = when.substr(0, plus);
      int h = 0;
      if (!ParseInt(hold, h) || h < 1 || h > 1'000'000'000) throw bad("holds the key for no time in milliseconds");
      k.hold_ms = h;
    }
    int ms = 0;
    if (!ParseInt(when, ms) || ms < 0 || ms > 1'000'000'000)
      throw bad("is not NAME, NAME@MS or NAME@MS+HOLD (for example Space@1500 or Right@2000+500)");
    k.ms = ms;
  }
  const auto key = flash::KeyByName(name);
  if (!key) throw bad("names no key; keys are " + flash::KeyNamesHelp());
  k.key = *key;
  return k;
}

MovieTime ParseMovieTime(std::string_view text, std::string_view option) {
  MovieTime t;
  std::string_view number = text;
  if (!number.empty() && (number.back() == 'f' || number.back() == 'F')) {
    t.frames = true;
    number.remove_suffix(1);
  }
  int v = 0;
  if (!ParseInt(number, v) || v < 0 || v > 1'000'000'000)
    throw UsageError(std::string(option) + ": \"" + std::string(text) +
                     "\" is neither milliseconds nor a frame count like 24f");
  t.value = v;
  return t;
}

long long MovieTime::Ms(double fps) const {
  if (!frames) return value;
  return fps > 0 ? static_cast<long long>(std::llround(double(value) * 1000.0 / fps)) : 0;
}

void ParseCrop(std::string_view text, capture::CropZoom& settings) {
  auto parts = Split(text, ',');
  int v[4];
  bool ok = parts.size() == 4;
  for (std::size_t i = 0; ok && i < 4; ++i) ok = ParseInt(parts[i], v[i]) && v[i] >= 0 && v[i] <= 999;
  if (!ok) throw UsageError("--crop: \"" + std::string(text) + "\" is not TOP,LEFT,RIGHT,BOTTOM with each 0 to 999");
  settings.top = v[0];
  settings.left = v[1];
  settings.right = v[2];
  settings.bottom = v[3];
}

fs::path CaptureRecordPath() { return paths::CaptureFolder() / capture::kCaptureRecordName; }

void WriteCaptureRecord(const CaptureRecord& record) {
  std::error_code ec;
  fs::create_directories(paths::CaptureFolder(), ec);
  // Replaced whole, so that a kill never leaves half a record.
  fs::path part = CaptureRecordPath();
  part += ".part";
  {
    std::ofstream out(part, std::ios::trunc);
    out << "frames=" << record.frames << "\nlatency=" << record.latency << "\nmovie=" << record.movie
        << "\nsound=" << record.sound << "\ncomplete=" << (record.complete ? 1 : 0)
        << "\nrecording_ms=" << record.recording_ms << "\nalpha=" << (record.alpha ? 1 : 0) << "\n";
  }
  fs::rename(part, CaptureRecordPath(), ec);
  // A missing record only costs the writers their defaults; not an error.
  if (ec) fs::remove(part, ec);
}

void RemoveCaptureRecord() {
  std::error_code ec;
  fs::remove(CaptureRecordPath(), ec);
}

std::optional<CaptureRecord> ReadCaptureRecord() {
  CaptureRecord rec;
  std::ifstream in(CaptureRecordPath());
  if (in) {
    std::string line;
    bool have_frames = false;
    while (std::getline(in, line)) {
      auto eq = line.find('=');
      if (eq == std::string::npos) continue;
      std::string key = line.substr(0, eq), value = line.substr(eq + 1);
      if (key == "frames") {
        have_frames = !value.empty() && std::from_chars(value.data(), value.data() + value.size(), rec.frames).ec ==
                                            std::errc();
      } else if (key == "latency") {
        int l = 0;
        if (ParseInt(value, l) && l >= 25 && l <= 3000) rec.latency = l;
      } else if (key == "movie") {
        rec.movie = value;
      } else if (key == "sound") {
        rec.sound = value;
      } else if (key == "complete") {
        rec.complete = value == "1";
      } else if (key == "alpha") {
        rec.alpha = value == "1";
      } else if (key == "recording_ms") {
        long long ms = -1;
        if (std::from_chars(value.data(), value.data() + value.size(), ms).ec == std::errc()) rec.recording_ms = ms;
      }
    }
    // A capture made since by the window leaves a frame 1 newer than a
    // finished record (the window clears the record with the frames, but an
    // older program may not have).
    std::error_code ec1, ec2;
    auto first = fs::last_write_time(paths::FrameFilePath(1), ec1);
    auto mark = fs::last_write_time(CaptureRecordPath(), ec2);
    bool stale = rec.complete && !ec1 && !ec2 && first > mark;
    if (!stale && have_frames && rec.frames > 0) return rec;
    // A capture killed before it wrote its count keeps its record; the
    // frame files it left give the count.
    if (stale) {
      rec = CaptureRecord{};
      rec.complete = true;
    }
  } else {
    rec.complete = true;  // a window capture leaves no record
  }
  // No record: count up to the highest numbered frame file.
  std::error_code ec;
  long long highest = 0;
  for (fs::directory_iterator it(paths::CaptureFolder(), ec), end; !ec && it != end; it.increment(ec)) {
    const fs::path& p = it->path();
    if (p.extension() != ".bmp") continue;
    std::string stem = p.stem().string();
    long long n = 0;
    auto [ptr, err] = std::from_chars(stem.data(), stem.data() + stem.size(), n);
    if (err == std::errc() && ptr == stem.data() + stem.size()) highest = std::max(highest, n);
  }
  if (highest == 0) return std::nullopt;
  rec.frames = highest;
  return rec;
}

}  // namespace quarvel::cli
