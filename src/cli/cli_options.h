#pragma once
// Option values of the command line: parsing of the compound texts and the
// small record a capture leaves for the writers that run after it.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "capture/crop_zoom.h"
#include "flash/key_names.h"

namespace quarvel::cli {

// A bad option value; the message names the option and the value.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct Size {
  int width = 0;
  int height = 0;
  friend bool operator==(const Size&, const Size&) = default;
};

// "550x400" (also "550X400"); each side 1 to 4096.
Size ParseSize(std::string_view text);

// "RRGGBB" or "#RRGGBB" gives 0xRRGGBB; "movie" gives nullopt (the movie's own).
// ("transparent" is taken by the capture before this.)
std::optional<std::int32_t> ParseBackground(std::string_view text);

// A click on the movie during a capture: at player pixel (x, y), `ms`
// milliseconds after the movie starts.
struct Click {
  int x = 0;
  int y = 0;
  long long ms = 0;
  friend bool operator==(const Click&, const Click&) = default;
};

// "X,Y" or "X,Y@MS"; coordinates 0 to 4095, time 0 to 10^9 ms.
Click ParseClick(std::string_view text);

// A key pressed during a capture `ms` milliseconds after the movie starts
// and released `hold_ms` later (0: after one frame of the movie, so that
// scripts polling the key on each frame see it down).
struct KeyPress {
  flash::FlashKey key;
  long long ms = 0;
  long long hold_ms = 0;
  friend bool operator==(const KeyPress&, const KeyPress&) = default;
};

// "NAME", "NAME@MS" or "NAME@MS+HOLD" (see flash::KeyByName for the names).
KeyPress ParseKey(std::string_view text);

// A point or length of movie time: milliseconds, or a count of the movie's
// frames ("24f").
struct MovieTime {
  long long value = 0;
  bool frames = false;
  friend bool operator==(const MovieTime&, const MovieTime&) = default;
  // In milliseconds at the movie's frame rate (frames at 0 fps count as 0 ms).
  long long Ms(double fps) const;
};

// "1500" or "36f", 0 to 10^9; `option` names the option in the error.
MovieTime ParseMovieTime(std::string_view text, std::string_view option);

// "T,L,R,B", each 0 to 999, into the margins of settings.
void ParseCrop(std::string_view text, capture::CropZoom& settings);

// What a capture leaves beside its frame files, so that a later run of the
// writers knows the frame count and the interval.
struct CaptureRecord {
  long long frames = 0;
  int latency = 250;
  std::string movie;
  std::string sound;  // recording format name, empty without recording
  // False from the start of a capture until it ended normally: a capture
  // that failed or was killed leaves it false.
  bool complete = false;
  long long recording_ms = -1;  // length of the recording; -1 when none was made
  bool alpha = false;            // the frames keep a transparent background
};

std::filesystem::path CaptureRecordPath();
void WriteCaptureRecord(const CaptureRecord& record);
void RemoveCaptureRecord();
// The record of the last capture; without one (a capture made by the
// window), the highest numbered frame file gives the count.
std::optional<CaptureRecord> ReadCaptureRecord();

}  // namespace quarvel::cli
