#pragma once
// The subcommands of quarvel-cli over the core. Each throws on failure with a
// message naming the file and the problem; main turns that into exit status 1.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <optional>
#include <string>
#include <vector>

#include "capture/crop_zoom.h"
#include "capture/frame_cache.h"
#include "cli/cli_options.h"
#include "cli/progress.h"

namespace quarvel::cli {

// An error of a command (exit status 1).
class CommandError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The movie must be a readable regular file.
void CheckMovieFile(const std::string& path);
// Says on stderr that the movie's file is cut off and only what it holds is used.
void WarnCutOff(const std::string& movie);
// The output's folder must exist and be writable; the name must not be a folder.
void CheckOutputFile(const std::string& path);

// Writes `path` through a temporary name beside it: the body writes to the
// name it is given, and the file appears under `path` only when it succeeded.
// Keeps the extension so that writers choosing by it still do. The AVI
// writer's scratch file for the temporary name ("~AWTemp" + its name, in
// `scratch_folder` or beside it) goes too, also on a second Ctrl-C.
void WriteAtomically(const std::string& path, const std::function<void(const std::string& temp)>& body,
                     const std::filesystem::path& scratch_folder = {});

void RunInfo(const std::string& movie);
// The sounds embedded in the movie, written beside it; prints the messages.
void RunSounds(const std::string& movie, bool raw);

struct CaptureOptions {
  int latency = 250;
  std::optional<Size> size;
  std::optional<std::int32_t> background;  // nullopt: the movie's own
  std::string sound = "adpcm44";           // pcm, adpcm11, adpcm22, adpcm44, none
  std::string quality = "high";
  bool realtime = false;
  std::vector<Click> clicks;  // in time order
  std::vector<KeyPress> keys;  // in time order
  std::optional<MovieTime> start;     // the movie plays this long before the first frame
  std::optional<MovieTime> duration;  // capture this long, whatever the end rules say
  long long max_frames = 0;           // 0: no limit
  double scale = 0;                   // > 0: the player at this many times the movie's size
  bool transparent = false;           // no background: 32-bit frames with alpha
};
// Whether a capture with these options records the sound.
bool RecordsSound(const CaptureOptions& options);

struct CaptureResult {
  long long frames = 0;
  int latency = 250;
  int width = 0, height = 0;
};

// With `keep`, the stored pictures also go there, as far as its budget allows.
// With `kept_only` too, a picture kept there gets no frame file: for a
// working folder that goes when the run ends, whose only reader is the
// writer that takes the pictures from `keep`. `started` is called once the
// capture has made its threads, before the movie loads: the time to start
// threads of the writer's own, and a module load that would hold them up.
CaptureResult RunCapture(const std::string& movie, const CaptureOptions& options, Progress& progress,
                         capture::FrameCache* keep = nullptr, bool kept_only = false,
                         const std::function<void()>& started = {});

struct FrameOptions {
  std::optional<int> frame;       // 1-based
  std::optional<long long> time;  // milliseconds
  std::optional<Size> size;
  std::optional<std::int32_t> background;
  std::string quality = "high";
};
void RunFrame(const std::string& movie, const std::string& png, const FrameOptions& options);

// What the writers read: frames 1 to frames of the capture folder.
struct StoreInfo {
  long long frames = 0;
  int latency = 250;
  bool complete = true;  // false: the capture failed or was killed part way
  bool alpha = false;    // the frames keep a transparent background
  bool recorded = true;  // the capture recorded the sound (not with --sound none)
};
// The frame store left by the last capture; throws when there is none.
StoreInfo CurrentStore();

struct GifOptions {
  std::string colors = "256";     // 256, gray
  std::string dither = "nearest"; // nearest, floyd
  std::string mode = "smaller";   // smaller, best
  std::string palette = "octree"; // octree, quant
  capture::CropZoom crop_zoom;
  std::optional<int> latency;     // default: the capture's
  bool optimize = true;           // false: the bytes of the plain build
  bool thorough = false;          // no cropping of whole frames, the rewrite never skipped
};
// `kept`: pictures of the store the capture kept in memory, used instead of their files.
void RunGif(const std::string& out, const GifOptions& options, const StoreInfo& store, Progress& progress,
            capture::FrameCache* kept = nullptr);
// Capture and GIF build at once: the build takes each picture as the
// capture hands it over. `kept_only` as for RunCapture. The frames captured.
long long ConvertToGif(const std::string& movie, const std::string& out, const CaptureOptions& capture,
                       const GifOptions& options, Progress& progress, bool kept_only);

struct AviOptions {
  std::string codec;  // empty: the default choice; "none": no compression
  std::string quality = "medium";
  int depth = 24;
  bool no_audio = false;
  capture::CropZoom crop_zoom;
  std::optional<int> latency;
};
void RunAvi(const std::string& out, const AviOptions& options, const StoreInfo& store, Progress& progress);
// Capture and AVI at once: each picture goes to the writer's scratch file as
// the capture hands it over, the recording joins once the capture is over.
// `kept_only` as for RunCapture. The frames captured.
long long ConvertToAvi(const std::string& movie, const std::string& out, const CaptureOptions& capture,
                       const AviOptions& options, Progress& progress, bool kept_only);

struct Mp3Options {
  int bitrate = 128;
};
void RunMp3(const std::string& out, const Mp3Options& options, Progress& progress);

struct VideoOptions {
  std::optional<int> crf;             // H.264 and VP9
  std::optional<std::string> preset;  // x264's names; VP9 takes the speed they stand for
  std::optional<int> quality;         // lossy WebP 0..100; without: lossless
  bool no_audio = false;
  bool alpha = false;                 // the frames carry a transparent background
  capture::CropZoom crop_zoom;
  std::optional<int> latency;
};
// True when the output's extension names a video format (.mp4, .webm, ...).
bool IsVideoOutput(const std::string& out);
// Throws CommandError, saying what to use instead, for an unknown extension
// or a request the format cannot hold; meant to run before any work.
void CheckVideoRequest(const std::string& out, const VideoOptions& options);
void RunVideo(const std::string& out, const VideoOptions& options, const StoreInfo& store, Progress& progress);

// Throws when no installed compressor has that code (empty and "none" pass).
void CheckCodecName(const std::string& codec, int depth);

// The compressor list for a frame of the given size and depth; "*" marks the default.
void RunCodecs(int depth);

// Ctrl-C (SIGINT) or SIGTERM: the first asks the running stage to stop (a
// capture after its current tick, a writer at once, removing its temporary
// file); a second one removes the temporary files being written and the
// folder set by SetInterruptFolder, and ends the program with 128 + signal.
void RequestCaptureStop(int signal);
bool CaptureStopRequested();
// After a capture that Ctrl-C ended, the writer that follows may run.
void ResetCaptureStop();
// The first signal that asked to stop, 0 when none did; kept by
// ResetCaptureStop: a run it cut short does not end with status 0.
int InterruptSignal();
// 128 + InterruptSignal(): 130 for SIGINT, 143 for SIGTERM.
int InterruptExitStatus();
// A signal ended a capture before its end rules did: what it stored is the
// first part of the movie (set by RunCapture).
void NoteCaptureCutShort();
bool CaptureCutShort();
// "SIGINT", "SIGTERM" or "signal N".
std::string SignalName(int signal);
// The private working folder a second signal removes (empty: none).
void SetInterruptFolder(const std::filesystem::path& folder);
// Throws CommandError(what + ": interrupted") after Ctrl-C.
void CheckInterrupted(const std::string& what);
// What names a run's temporary files and folders: a tag of 16 hex digits
// for this host, boot and process id namespace, and "TAG-PID" with the
// process id.
const std::string& RunTag();
std::string RunOwnerText();
// Whether the file or folder whose name holds "TAG-PID" at `owner_at` may be
// removed: its run is provably gone (same tag, process not running), or it
// was left untouched for a week. Other runs' files, in other containers or
// on other hosts sharing the folder, stay.
bool AbandonedByName(const std::filesystem::path& p, std::size_t owner_at);
// Removes the temporary files ("NAME.part-TAG-PID.EXT", "~AWTemp" + that)
// that killed runs left in the folder.
void RemoveDeadTemporaries(const std::filesystem::path& folder);

}  // namespace quarvel::cli
