#pragma once
// The command line as the quarvel-cli program parsed it, handed whole to the
// command module (libquarvel_cli_commands.so), which checks what the parser
// cannot and runs the command. The program holds only the parser, so that
// --help and --version load none of the libraries the commands need. Both
// are built from one tree and share this layout; inline code only here.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "cli/commands.h"
#include "player/swf/movie.h"

namespace quarvel::cli {

enum class Command { kInfo, kCapture, kGif, kAvi, kVideo, kMp3, kSounds, kFrame, kConvert, kCodecs };

// A capture's options as given, read into CaptureOptions by the module.
struct CaptureTexts {
  std::string size, background = "movie";
  std::vector<std::string> clicks;
  std::vector<std::string> keys;
  std::string start, duration;
};

struct CropTexts {
  std::string crop;
};

// The video options as given; the optional ones are set only when given.
struct VideoTexts {
  int crf = -1, quality = -1;
  std::string preset;
  bool crf_given = false, preset_given = false;
};

// convert over many movies: everything after convert that is no option is an input.
struct BatchTexts {
  std::vector<std::string> more;
  std::string out_dir, format, report;
  int jobs = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  std::vector<std::string> inputs;
};

struct Invocation {
  Command command = Command::kInfo;
  std::string work_dir;
  bool quiet = false;
  bool wait = false;
  std::uint64_t max_movie_mib = swf::kDefaultMaxMovieSize >> 20;
  bool max_movie_size_given = false;
  std::string movie, output;

  CaptureOptions capture;
  CaptureTexts capture_texts;

  GifOptions gif;
  CropTexts gif_crop;

  AviOptions avi;
  CropTexts avi_crop;

  VideoOptions video;
  VideoTexts video_texts;
  CropTexts video_crop;

  Mp3Options mp3;
  bool sounds_raw = false;

  FrameOptions frame;
  std::string frame_size, frame_background = "movie";

  // convert: the capture, then the writer the output's extension names.
  CaptureOptions convert_capture;
  CaptureTexts convert_capture_texts;
  GifOptions convert_gif;
  AviOptions convert_avi;
  Mp3Options convert_mp3;
  VideoOptions convert_video;
  VideoTexts convert_video_texts;
  CropTexts convert_crop;
  capture::CropZoom convert_crop_zoom;
  BatchTexts batch;
  bool convert_quality_given = false;
  bool convert_sound_given = false;

  int codec_depth = 24;
};

// Checks the invocation and runs its command; the exit status (2 for a
// usage error). In the command module.
int RunInvocation(Invocation& call);

// The module and its one entry point, which returns kEntryMismatch when
// the program's layout of Invocation is not the module's.
inline constexpr const char* kCommandModule = "libquarvel_cli_commands.so";
inline constexpr const char* kCommandEntry = "quarvel_cli_run";
inline constexpr int kEntryMismatch = -1;
using CommandEntry = int (*)(Invocation* call, std::size_t size);

}  // namespace quarvel::cli
