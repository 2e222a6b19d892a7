#pragma once
// Fitting the player area to a newly opened movie.

#include <filesystem>

#include "flash/swf_header.h"

namespace quarvel::flash {

// The player area and its resize grip, in the parent's pixels.
struct PlayerLayout {
  int left = 0;
  int top = 0;
  int width = 0;
  int height = 0;
  int gripLeft = 0;
  int gripTop = 0;

  bool operator==(const PlayerLayout&) const = default;
};

// The player area for a movie of the given bounds, from the current layout
// and the largest player size: a movie narrower than maxWidth sets the
// width; a wider one scales the height by maxWidth / width; then a movie
// lower than maxHeight sets the height. The grip moves 8 pixels inside each
// edge that is set. Sizes below 0 (a movie whose rectangle is reversed)
// become 0.
PlayerLayout FitPlayerLayout(const SwfBounds& movie, const PlayerLayout& current, int maxWidth,
                             int maxHeight);

// The capture size the command line uses when none is given: the movie's own,
// scaled down keeping its shape when a side reaches the limit. The window's
// player keeps its earlier size on such a side instead, which for a fresh
// 192-pixel player would squeeze a wide movie into a narrow strip.
struct CaptureSize {
  int width = 1;
  int height = 1;
  bool operator==(const CaptureSize&) const = default;
};
CaptureSize FitCaptureSize(const SwfBounds& movie, int maxWidth, int maxHeight);

struct MovieFit {
  SwfBounds bounds;
  int framesPerSecond = 12;  // for MovieFps
  PlayerLayout layout;
};

// Reads the file at `path` whole, runs ReadSwfHeader (which writes the
// expanded copy of a compressed movie) and ReadSwfFrameRate, and fits the
// layout. Errors name the file: swf::SwfError for unreadable or broken
// files, std::filesystem::filesystem_error when the copy cannot be written.
MovieFit FitPlayerToMovie(const std::filesystem::path& path, const PlayerLayout& current,
                          int maxWidth, int maxHeight);
// The same for a movie the caller has opened already: nothing is read or
// inflated again.
MovieFit FitPlayerToMovie(const swf::Movie& opened, const PlayerLayout& current, int maxWidth, int maxHeight);

}  // namespace quarvel::flash
