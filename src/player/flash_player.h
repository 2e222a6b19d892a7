#pragma once
// The SWF player: loads a movie, runs its timeline on a clock that the host
// passes in, and paints the current picture into one of our bitmaps.
//
// Time semantics (all times are host milliseconds, passed in by AdvanceTo):
// - The player remembers the last clock value it was given ("now"; 0 at first).
// - SetMovie/LoadMovieBytes shows frame 0 at once and starts playing, as the
//   control does on load. Play() while stopped at frame c, at clock time t0,
//   shows frame c + j at t0 + j * 1000 / fps (frame rate from the movie's
//   header). So after SetMovie and Play() at t0, frame k shows at
//   t0 + k * 1000 / fps. Play() while already playing changes nothing.
// - A stop action on the main timeline makes Playing() read false but keeps
//   the frame clock running (sprites go on); Play() then resumes the main
//   timeline at the next frame time of that running clock.
// - AdvanceTo(t) executes, in order, every frame whose time is <= t
//   (display list changes, actions, sprite timelines); a clock that jumps
//   ahead by many frames executes all of them. After the last frame the
//   timeline loops to frame 0 unless an action stopped it. A clock that goes
//   backwards does nothing.
// - GotoFrame(n) shows frame n at once (n past the end: the last frame; below
//   0: frame 0) and keeps the playing state; when playing, frame n + 1
//   follows one frame period after the call's "now".
// - Stop() keeps the current frame; CurrentFrame() is 0-based.
// Sprites advance one frame per main-timeline frame, also while the main
// timeline is stopped by an action but the player plays; Stop() freezes all.

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/gdi/bitmap.h"
#include "player/quality.h"
#include "player/script_limits.h"
#include "player/sound_events.h"

namespace quarvel::swf {
struct Movie;
}

namespace quarvel::player {

class FlashPlayer {
 public:
  FlashPlayer();
  ~FlashPlayer();
  FlashPlayer(const FlashPlayer&) = delete;
  FlashPlayer& operator=(const FlashPlayer&) = delete;
  FlashPlayer(FlashPlayer&&) noexcept;
  FlashPlayer& operator=(FlashPlayer&&) noexcept;

  // 4 once a movie is loaded, 0 with none (or after an unload or failed load).
  int ReadyState() const;
  int TotalFrames() const;   // 0 without a movie
  int CurrentFrame() const;  // 0-based
  bool Playing() const;
  void Play();
  void Stop();
  void GotoFrame(int frame);

  // 0xRRGGBB shown behind and around the movie. Negative: the movie's own
  // background colour (SetBackgroundBlock), white before any.
  std::int32_t BackgroundColor() const;
  void SetBackgroundColor(std::int32_t rrggbb);
  // True: no background at all; Paint gives 32-bit pixels with straight
  // (not premultiplied) alpha, clear where nothing of the movie covers.
  bool Transparent() const;
  void SetTransparent(bool transparent);

  // Loads a file; an empty path, a folder, a missing, unreadable or invalid
  // file leaves no movie loaded (ReadyState 0) and LoadError() says why.
  const std::string& Movie() const;
  void SetMovie(const std::string& path);
  // Loads a movie from memory (whole file image, FWS/CWS/ZWS). False when it
  // is not a movie; LoadError() then says why.
  bool LoadMovieBytes(std::span<const std::uint8_t> file);
  // The movie at `path` as the host opened it already (swf::OpenMovie of the
  // file's bytes): the next SetMovie of that path takes it instead of
  // reading and expanding the file again.
  void OfferOpenedMovie(const std::string& path, swf::Movie opened);
  void Unload();
  // For a process about to end: the movie is unloaded without freeing its
  // objects one by one (a script machine's heap takes tens of ms), which the
  // system takes back at exit. Its skipped features are logged as Unload
  // logs them; the player is then as a new one.
  void AbandonAtExit();
  const std::string& LoadError() const;
  // The loaded movie's file ends before its body does; what it holds plays.
  bool MovieCutOff() const;

  bool Menu() const { return true; }

  // "Low", "Medium", "High", "Best" (also "AutoLow"/"AutoHigh"); other texts
  // are ignored. "Low" draws without anti-aliasing.
  std::string QualityName() const;
  void SetQuality(std::string_view name);
  Quality GetQuality() const;
  void SetQuality(Quality quality);

  // The player's size in pixels (192 x 192 at creation); the movie is scaled
  // uniformly to fit it (ShowAll), centred, the background colour around it.
  void SetSize(int width, int height);
  int Width() const;
  int Height() const;

  // Host clock in milliseconds; see the time semantics above.
  void AdvanceTo(std::int64_t ms);
  // Asked between frames while AdvanceTo plays many: once it answers true,
  // AdvanceTo returns at once, the frames left unplayed (a host's Ctrl-C
  // must not wait out a long jump of slow frames). Null: never.
  void SetInterrupt(bool (*stop)());
  std::int64_t Now() const;

  // Draws the current picture at the player's size. `target` becomes a
  // pfDevice bitmap of Width() x Height() (reallocated only when needed).
  void Paint(gdi::Bitmap& target) const;

  // Movie header values: frames per second (8.8 fixed point turned into a
  // double, 0 without a movie) and the movie's frame size in whole pixels.
  double FrameRate() const;
  int MovieWidth() const;
  int MovieHeight() const;
  int SwfVersion() const;

  // Features the movie uses that the player skips (ActionScript 3, video,
  // filters, blend modes, unknown actions...), one name each.
  std::vector<std::string> SkippedFeatures() const;
  // Why scripts of the movie were stopped (instruction cap, recursion or
  // memory limit), one reason each; empty when none was.
  std::vector<std::string> StoppedScripts() const;
  // Lowers the caps on scripts (instructions a frame, call depth, memory)
  // for the movies loaded after the call; for hosts that play untrusted
  // movies by the thousand, so that one cannot run for seconds.
  void SetScriptLimits(const ScriptLimits& limits);

  // A script variable of the movie as text: "name" on the main timeline,
  // "/clip:name" or "_root.clip.name" elsewhere. Empty when it is not set.
  std::string GetVariable(const std::string& path) const;

  // Not owned; nullptr for none. Must outlive the player or be reset.
  void SetSoundListener(SoundEventListener* listener);

  // The pointer, in player pixels (as Paint draws). Buttons of the movie
  // react as in a real player: rollover, press and release change their
  // look, play their sounds and run their actions at the player's clock
  // time (Now()). MouseLeave: the pointer left the player.
  void MouseMove(int x, int y);
  void MouseDown(int x, int y);
  void MouseUp(int x, int y);
  void MouseLeave();
  // A key went down or up: keyCode as Flash numbers keys (65 for A, 13
  // for Enter...), charCode the character it types, 0 for none.
  void KeyDown(int keyCode, int charCode);
  void KeyUp(int keyCode, int charCode);
  // The pointer is over an enabled button (hosts show a hand cursor).
  bool OverButton() const;

 private:
  // Loads the library `make` gives; false (LoadError says why) when it throws.
  template <typename MakeLibrary>
  bool LoadWith(MakeLibrary&& make);
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace quarvel::player
