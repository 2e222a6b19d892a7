// quarvel-cli: the core of Quarvel driven from a terminal.
#include <stdlib.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cctype>
#include <csignal>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>

#include "avi/avi_writer.h"
#include "capture/frame_cache.h"
#include "cli/batch.h"
#include "cli/batch_report.h"
#include "cli/commands.h"
#include "platform/ffmpeg/ffmpeg_api.h"
#include "video_out/video_format.h"
#include "platform/gdi/heap_tuning.h"
#include "platform/paths/folder_lock.h"
#include "platform/paths/working_folder.h"
#include "player/swf/movie.h"

namespace {

using namespace quarvel;
using namespace quarvel::cli;

extern "C" void OnInterrupt(int signal) { RequestCaptureStop(signal); }

const std::vector<std::string> kRenderQualities = {"low", "medium", "high", "best"};

struct CaptureTexts {
  std::string size, background = "movie";
  std::vector<std::string> clicks;
  std::vector<std::string> keys;
  std::string start, duration;
};

void AddCaptureOptions(CLI::App* cmd, CaptureOptions& o, CaptureTexts& t) {
  cmd->add_option("--latency", o.latency, "capture interval in milliseconds, 25 to 3000")
      ->check(CLI::Range(25, 3000))
      ->capture_default_str();
  auto* size = cmd->add_option("--size", t.size, "player size WIDTHxHEIGHT (default: the movie's, within 1024x1024)");
  cmd->add_option("--scale", o.scale,
                  "draw the movie at F times its own size, 0.25 to 8 (vector-sharp, not an enlargement of pixels)")
      ->check(CLI::Range(0.25, 8.0))
      ->excludes(size);
  cmd->add_option("--start", t.start, "let the movie play this long before the first frame: milliseconds, or Nf frames");
  cmd->add_option("--duration", t.duration,
                  "capture this long (milliseconds, or Nf of the movie's frames) instead of until the movie ends; "
                  "for movies that loop or never end");
  cmd->add_option("--max-frames", o.max_frames, "capture at most this many frames")->check(CLI::Range(1LL, 1LL << 40));
  cmd->add_option("--background", t.background,
                  "background colour RRGGBB, movie for the movie's own, or transparent (kept by GIF, WebM, WebP, APNG)")
      ->capture_default_str();
  cmd->add_option("--sound", o.sound, "recording format")
      ->check(CLI::IsMember({"pcm", "adpcm11", "adpcm22", "adpcm44", "none"}))
      ->capture_default_str();
  cmd->add_option("--render-quality", o.quality, "player quality")
      ->check(CLI::IsMember(kRenderQualities))
      ->capture_default_str();
  cmd->add_flag("--realtime", o.realtime, "play on the wall clock in real time instead of virtual time");
  cmd->add_option("--click", t.clicks,
                  "click the movie at player pixel X,Y, MS milliseconds after it starts (X,Y@MS; repeatable), "
                  "for movies that wait for a button");
  cmd->add_option("--key", t.keys,
                  "press a key MS milliseconds after the movie starts and release it HOLD ms later (default one "
                  "movie frame): NAME@MS or NAME@MS+HOLD, e.g. Space@1500; repeatable, for movies and games that "
                  "wait on a key");
}

struct CropTexts {
  std::string crop;
};

void AddCropZoom(CLI::App* cmd, capture::CropZoom& cz, CropTexts& t) {
  cmd->add_option("--crop", t.crop, "margins cut off, TOP,LEFT,RIGHT,BOTTOM, each 0 to 999");
  cmd->add_option("--zoom", cz.zoom, "zoom in percent, 5 to 500")->check(CLI::Range(5, 500))->capture_default_str();
}

void AddGifOptions(CLI::App* cmd, GifOptions& o, bool with_latency) {
  cmd->add_option("--colors", o.colors, "256 colours (octree) or gray")
      ->check(CLI::IsMember({"256", "gray"}))
      ->capture_default_str();
  cmd->add_option("--dither", o.dither, "nearest colour or Floyd-Steinberg")
      ->check(CLI::IsMember({"nearest", "floyd"}))
      ->capture_default_str();
  cmd->add_option("--mode", o.mode, "smaller: difference frames; best: every frame whole")
      ->check(CLI::IsMember({"smaller", "best"}))
      ->capture_default_str();
  cmd->add_option("--palette", o.palette,
                  "256 colours by octree per frame, or quant: libimagequant, one palette shared by the frames")
      ->check(CLI::IsMember({"octree", "quant"}))
      ->capture_default_str();
  cmd->add_flag("--optimize,!--no-optimize", o.optimize,
                "rewrite the GIF losslessly into fewer bytes (default); --no-optimize keeps the plain build");
  cmd->add_flag("--thorough", o.thorough,
                "the bytes of older versions, more slowly: frames drawn whole keep the screen's size and the rewrite "
                "always runs (by default long movies are rewritten only when sample windows save 1 %)");
  if (with_latency)
    cmd->add_option("--latency", o.latency, "frame delay in milliseconds (default: the capture's)")
        ->check(CLI::Range(25, 3000));
}

void AddAviOptions(CLI::App* cmd, AviOptions& o, bool with_latency, bool or_webp_quality = false) {
  cmd->add_option("--codec", o.codec, "four-character code of a compressor (see codecs), or none");
  const CLI::IsMember names({"highest", "veryhigh", "high", "medium", "low"});
  cmd->add_option("--quality", o.quality,
                  or_webp_quality ? "AVI compression quality, or 0 to 100 for a lossy WebP" : "compression quality")
      ->check(or_webp_quality ? CLI::Validator(names | CLI::Range(0, 100)) : CLI::Validator(names))
      ->capture_default_str();
  cmd->add_option("--depth", o.depth, "bits per pixel")->check(CLI::IsMember({1, 4, 8, 24, 32}))->capture_default_str();
  cmd->add_flag("--no-audio", o.no_audio, "leave the recording out");
  if (with_latency)
    cmd->add_option("--latency", o.latency, "frame time in milliseconds (default: the capture's)")
        ->check(CLI::Range(25, 3000));
}

// The video options as given; the optional ones are set only when given.
struct VideoTexts {
  int crf = -1, quality = -1;
  std::string preset;
};

void AddVideoOptions(CLI::App* cmd, VideoOptions& o, VideoTexts& t, bool own_command) {
  cmd->add_option("--crf", t.crf, "constant quality for MP4, MOV, MKV (0..51, default 23) and WebM (0..63, default 32)")
      ->check(CLI::Range(0, 63));
  cmd->add_option("--preset", t.preset, "encoder speed against size, ultrafast to veryslow (default medium)")
      ->check(CLI::IsMember(video_out::PresetNames()));
  if (!own_command) return;
  cmd->add_option("--quality", t.quality, "lossy WebP quality 0 to 100 (default: lossless)")->check(CLI::Range(0, 100));
  cmd->add_flag("--no-audio", o.no_audio, "leave the recording out");
  cmd->add_option("--latency", o.latency, "frame time in milliseconds (default: the capture's)")
      ->check(CLI::Range(25, 3000));
}

void FinishVideoOptions(CLI::App* cmd, VideoOptions& o, const VideoTexts& t) {
  if (cmd->count("--crf") > 0) o.crf = t.crf;
  if (cmd->count("--preset") > 0) o.preset = t.preset;
  if (t.quality >= 0) o.quality = t.quality;
}

void AddMp3Options(CLI::App* cmd, Mp3Options& o) {
  cmd->add_option("--bitrate", o.bitrate, "kbit/s")->check(CLI::IsMember({128, 224}))->capture_default_str();
}

std::string BatchExtension(const std::string& format) { return format == "apng" ? ".png" : "." + format; }

std::string Extension(const std::string& path) {
  std::string ext = std::filesystem::path(path).extension().string();
  std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
  return ext;
}

// convert over many movies: everything after convert that is no option is an input.
struct BatchTexts {
  std::vector<std::string> more;
  std::string out_dir, format, report;
  int jobs = std::max(1u, std::thread::hardware_concurrency());
  std::vector<std::string> inputs;
};

void AddBatchOptions(CLI::App* convert, BatchTexts& b) {
  convert->add_option("MORE", b.more, "further movies, folders or list files (with --out-dir)");
  convert->add_option("--out-dir", b.out_dir,
                      "convert every movie given into this folder, each as NAME.FORMAT (needs --format)");
  convert->add_option("--format", b.format, "output format of a batch")
      ->check(CLI::IsMember({"gif", "avi", "mp3", "mp4", "webm", "webp", "apng", "png", "mkv", "mov"}));
  convert->add_option("-j,--jobs", b.jobs, "conversions of a batch at once (default: the number of cores)")
      ->check(CLI::Range(1, 256));
  convert->add_option("--report", b.report,
                      "write a JSON report of the batch: a record per movie with its result, error, frames, movie "
                      "and wall seconds and output size");
}

// Checks a batch's options; the checks that follow see a stand-in output
// name with the batch's extension.
void FinishBatch(BatchTexts& b, const std::string& movie, std::string& output) {
  if (b.out_dir.empty()) {
    if (output.empty()) throw UsageError("convert: OUT is required (or --out-dir DIR --format F for many movies)");
    if (!b.more.empty()) throw UsageError("convert: more than one movie needs --out-dir DIR and --format F");
    if (!b.report.empty()) throw UsageError("convert: --report is written for many movies (--out-dir DIR --format F)");
    return;
  }
  if (b.format.empty())
    throw UsageError("convert: --out-dir needs --format (gif, avi, mp3, mp4, webm, webp, apng, mkv or mov)");
  b.inputs = {movie};
  if (!output.empty()) b.inputs.push_back(output);
  b.inputs.insert(b.inputs.end(), b.more.begin(), b.more.end());
  output = (std::filesystem::path(b.out_dir) / ("movie" + BatchExtension(b.format))).string();
}

// An AVI holds no alpha. Rather than flatten the capture onto a colour of
// ours, convert asks for that colour as the background: the movie then draws
// its edges onto it, as the player does.
void CheckTransparentOutput(const std::string& output, bool transparent) {
  if (transparent && Extension(output) == ".avi")
    throw UsageError("convert: " + output +
                     ": AVI output does not keep a transparent background; give --background RRGGBB for an opaque "
                     "AVI, or write .gif (a transparent colour), .webp, .png (animated PNG) or .webm to keep it");
}

void WarnOpaqueOutput(const StoreInfo& store, const char* format, Progress& progress) {
  if (store.alpha)
    progress.Warn(std::string("the capture has a transparent background, which ") + format +
                  " output does not keep (the clear pixels come out black); write .gif, .webp, .png or .webm to "
                  "keep it, or capture again with --background RRGGBB");
}

// convert's video options, shared with AVI where they mean the same, checked
// against the output's format before the capture starts.
void FinishConvertVideo(CLI::App* convert, const std::string& output, const AviOptions& avi, VideoOptions& video,
                        const VideoTexts& texts) {
  FinishVideoOptions(convert, video, texts);
  const bool numeric = !avi.quality.empty() && std::isdigit(static_cast<unsigned char>(avi.quality[0]));
  if (!IsVideoOutput(output)) {
    if (numeric) throw UsageError("convert: --quality " + avi.quality + " is for WebP; an AVI takes highest to low");
    if (video.crf || video.preset) throw UsageError("convert: --crf and --preset are for video outputs");
    return;
  }
  if (convert->count("--quality") > 0) {
    if (!numeric) throw UsageError("convert: --quality " + avi.quality + " is for AVI; " + output +
                                   " takes --crf (MP4, WebM), or --quality 0..100 for WebP");
    video.quality = std::stoi(avi.quality);
  }
  video.no_audio = avi.no_audio;
  try {
    CheckVideoRequest(output, video);
  } catch (const CommandError& e) {
    throw UsageError(std::string("convert: ") + e.what());
  }
}

// A movie command's memory is reserved at once, for huge pages: the player's
// pictures, decoded bitmaps and sounds, its scripts' heap and a GIF build's
// frames then fault in 2 MiB at a time, where a page at a time cost a
// capture more than the work on those pages. As much as the pictures' cache
// would allow a GIF build, at most 1 GiB (past it the heap grows as usual).
void ReserveMovieHeap() {
  quarvel::gdi::ReserveFrameHeap(std::min(capture::FrameCache::DefaultBudget(), std::size_t(1) << 30));
}

// The avi command's writer takes its memory from the one heap, in huge
// pages where allowed: the encoder's buffers and the pictures then fault in
// 2 MiB at a time (convert reserves the movie's heap instead).
void ReserveAviHeap() { quarvel::gdi::ReserveFrameHeap(std::size_t(256) << 20); }

}  // namespace

int main(int argc, char** argv) {
  quarvel::gdi::KeepFrameBuffersInHeap();
  CLI::App app{"Quarvel: turns SWF movies into animated GIF and AVI files", "quarvel-cli"};
  app.set_version_flag("--version", "quarvel-cli 0.1.0");
  app.require_subcommand(1);
  app.fallthrough();

  std::string work_dir;
  bool quiet = false;
  bool wait = false;
  app.add_option("--work-dir", work_dir, "working folder (frame store, recording)");
  app.add_flag("--quiet,-q", quiet, "no progress output");
  app.add_flag("--wait", wait, "when another run uses the working folder, wait for it instead of failing");
  std::uint64_t max_movie_mib = swf::kDefaultMaxMovieSize >> 20;
  app.add_option("--max-movie-size", max_movie_mib, "largest movie accepted once expanded, in MiB")
      ->check(CLI::Range(1, 4095))
      ->capture_default_str();

  std::string movie, output;

  auto* info = app.add_subcommand("info", "signature, version, size, frame rate, frame count and sound tags of a movie");
  info->add_option("MOVIE", movie, "SWF file")->required();

  CaptureOptions cap;
  CaptureTexts cap_texts;
  auto* capture = app.add_subcommand("capture", "play a movie and fill the frame store of the working folder");
  capture->add_option("MOVIE", movie, "SWF file")->required();
  AddCaptureOptions(capture, cap, cap_texts);

  GifOptions gif;
  CropTexts gif_crop;
  auto* gif_cmd = app.add_subcommand("gif", "write the frame store as an animated GIF");
  gif_cmd->add_option("OUT", output, "GIF file to write")->required();
  AddGifOptions(gif_cmd, gif, true);
  AddCropZoom(gif_cmd, gif.crop_zoom, gif_crop);

  AviOptions avi;
  CropTexts avi_crop;
  auto* avi_cmd = app.add_subcommand("avi", "write the frame store and the recording as an AVI file");
  avi_cmd->add_option("OUT", output, "AVI file to write")->required();
  AddAviOptions(avi_cmd, avi, true);
  AddCropZoom(avi_cmd, avi.crop_zoom, avi_crop);

  VideoOptions video;
  VideoTexts video_texts;
  CropTexts video_crop;
  auto* video_cmd = app.add_subcommand(
      "video", "write the frame store and the recording as MP4, WebM, MKV or MOV video, or animated WebP or PNG");
  video_cmd->add_option("OUT", output, "file to write; its extension (" + video_out::KnownExtensions() + ") chooses")
      ->required();
  AddVideoOptions(video_cmd, video, video_texts, true);
  AddCropZoom(video_cmd, video.crop_zoom, video_crop);

  Mp3Options mp3;
  auto* mp3_cmd = app.add_subcommand("mp3", "convert the recording (PCM) to MP3 with lame");
  mp3_cmd->add_option("OUT", output, "MP3 file to write")->required();
  AddMp3Options(mp3_cmd, mp3);

  auto* sounds = app.add_subcommand("sounds", "write the sounds embedded in a movie beside it");
  sounds->add_option("MOVIE", movie, "SWF file")->required();
  bool sounds_raw = false;
  sounds->add_flag("--raw", sounds_raw,
                   "write the tag data as stored (no WAVE header, ADPCM and other codecs not decoded)");

  FrameOptions fr;
  std::string fr_size, fr_background = "movie";
  auto* frame = app.add_subcommand("frame", "write the player's picture after N frames (or at a time) as PNG");
  frame->add_option("MOVIE", movie, "SWF file")->required();
  frame->add_option("OUT", output, "PNG file to write")->required();
  auto* fr_n = frame->add_option("--frame", fr.frame, "frame number, counted from 1")->check(CLI::Range(1, 1 << 24));
  auto* fr_t =
      frame->add_option("--time", fr.time, "time from the start in milliseconds")->check(CLI::Range(0LL, 1LL << 40));
  fr_n->excludes(fr_t);
  frame->add_option("--size", fr_size, "picture size WIDTHxHEIGHT (default: the movie's own)");
  frame->add_option("--background", fr_background, "background colour RRGGBB, or movie")->capture_default_str();
  frame->add_option("--quality", fr.quality, "player quality")
      ->check(CLI::IsMember(kRenderQualities))
      ->capture_default_str();

  // convert: capture, then the writer the output's extension names.
  CaptureOptions conv_cap;
  CaptureTexts conv_cap_texts;
  GifOptions conv_gif;
  AviOptions conv_avi;
  Mp3Options conv_mp3;
  CropTexts conv_crop;
  capture::CropZoom conv_cz;
  auto* convert = app.add_subcommand("convert", "capture a movie and write it as GIF, AVI, MP3 or a video in one step");
  BatchTexts batch;
  convert->add_option("MOVIE", movie, "SWF file (with --out-dir: a movie, a folder of movies or a list file)")
      ->required();
  convert->add_option("OUT", output, "OUT.gif, OUT.avi, OUT.mp3 or a video: " + video_out::KnownExtensions());
  AddBatchOptions(convert, batch);
  AddCaptureOptions(convert, conv_cap, conv_cap_texts);
  AddGifOptions(convert, conv_gif, false);
  AddAviOptions(convert, conv_avi, false, true);
  AddMp3Options(convert, conv_mp3);
  VideoOptions conv_video;
  VideoTexts conv_video_texts;
  AddVideoOptions(convert, conv_video, conv_video_texts, false);
  AddCropZoom(convert, conv_cz, conv_crop);

  int codec_depth = 24;
  auto* codecs = app.add_subcommand("codecs", "list the video compressors, the default choice marked with *");
  codecs->add_option("--depth", codec_depth, "bits per pixel")->check(CLI::IsMember({1, 4, 8, 24, 32}));

  try {
    app.parse(argc, argv);
    auto finish = [](CaptureOptions& o, const CaptureTexts& t) {
      if (!t.size.empty()) o.size = ParseSize(t.size);
      o.transparent = t.background == "transparent";
      if (!o.transparent) o.background = ParseBackground(t.background);
      for (const auto& c : t.clicks) o.clicks.push_back(ParseClick(c));
      if (!t.start.empty()) o.start = ParseMovieTime(t.start, "--start");
      if (!t.duration.empty()) o.duration = ParseMovieTime(t.duration, "--duration");
      if (o.duration && o.duration->value == 0) throw UsageError("--duration: must be above 0");
      std::stable_sort(o.clicks.begin(), o.clicks.end(), [](const Click& a, const Click& b) { return a.ms < b.ms; });
      for (const auto& k : t.keys) o.keys.push_back(ParseKey(k));
      std::stable_sort(o.keys.begin(), o.keys.end(), [](const KeyPress& a, const KeyPress& b) { return a.ms < b.ms; });
    };
    finish(cap, cap_texts);
    finish(conv_cap, conv_cap_texts);
    if (!gif_crop.crop.empty()) ParseCrop(gif_crop.crop, gif.crop_zoom);
    if (!avi_crop.crop.empty()) ParseCrop(avi_crop.crop, avi.crop_zoom);
    if (!conv_crop.crop.empty()) ParseCrop(conv_crop.crop, conv_cz);
    if (!fr_size.empty()) fr.size = ParseSize(fr_size);
    fr.background = ParseBackground(fr_background);
    if (!video_crop.crop.empty()) ParseCrop(video_crop.crop, video.crop_zoom);
    FinishVideoOptions(video_cmd, video, video_texts);
    if (*video_cmd) {
      try {
        CheckVideoRequest(output, video);
      } catch (const CommandError& e) {
        throw UsageError(std::string("video: ") + e.what());
      }
    }
    if (*convert) {
      FinishBatch(batch, movie, output);
      conv_video.alpha = conv_cap.transparent;
      CheckTransparentOutput(output, conv_cap.transparent);
      const std::string ext = Extension(output);
      FinishConvertVideo(convert, output, conv_avi, conv_video, conv_video_texts);
      if (ext != ".gif" && ext != ".avi" && ext != ".mp3" && !IsVideoOutput(output))
        throw UsageError("convert: " + output + ": the output must end in .gif, .avi, .mp3 or a video extension (" +
                         video_out::KnownExtensions() + ")");
      // MP3 export takes a PCM recording.
      if (ext == ".mp3" && convert->count("--sound") == 0) conv_cap.sound = "pcm";
      if (ext == ".mp3" && conv_cap.sound != "pcm")
        throw UsageError("convert: an MP3 needs --sound pcm");
    }
  } catch (const CLI::ParseError& e) {
    int code = app.exit(e);
    return code == 0 ? 0 : 2;
  } catch (const UsageError& e) {
    std::fprintf(stderr, "quarvel-cli: %s\n", e.what());
    return 2;
  }

  if (!work_dir.empty()) {
    std::error_code ec;
    std::filesystem::create_directories(work_dir, ec);
    if (ec) {
      std::fprintf(stderr, "quarvel-cli: --work-dir %s: %s\n", work_dir.c_str(), ec.message().c_str());
      return 1;
    }
    auto abs = std::filesystem::absolute(work_dir);
    paths::SetWorkingFolder(abs);
    // The option given on the command line wins over the environment.
    ::setenv("QUARVEL_HOME", abs.c_str(), 1);
  }

  // The codec probes of the compressor list talk on stderr; the writers
  // report their own failures.
  ffmpeg::SetLogLevel(AV_LOG_QUIET);
  if (app.count("--max-movie-size") > 0) swf::SetMaxMovieSize(max_movie_mib << 20);
  swf::SetExpandInterrupt(&CaptureStopRequested);
  avi::SetSaveInterrupt(&CaptureStopRequested);
  std::signal(SIGINT, OnInterrupt);
  std::signal(SIGTERM, OnInterrupt);
  Progress progress(Progress::ModeFor(quiet));

  // The working folder goes when the convert ends (a private one, or a batch
  // job's): then nothing but the writer reads the frames.
  bool throwaway_folder = false;
  // convert for one movie: capture, then the writer the output's extension names.
  const auto convert_movie = [&](const std::string& movie, const std::string& output, Progress& progress) {
    // Check the output before spending time on the capture.
    CheckOutputFile(output);
    const std::string ext = Extension(output);
    // So is an unknown codec (the default needs no check).
    if (ext == ".avi" && !conv_avi.codec.empty()) CheckCodecName(conv_avi.codec, conv_avi.depth);
    ReserveMovieHeap();
    if (ext == ".gif") {
      // The GIF build takes the pictures from memory while the capture runs;
      // they need no file in a folder that goes, nor a recording, which a
      // GIF cannot hold.
      conv_gif.crop_zoom = conv_cz;
      CaptureOptions gif_capture = conv_cap;
      if (throwaway_folder) gif_capture.sound = "none";
      return ConvertToGif(movie, output, gif_capture, conv_gif, progress, throwaway_folder);
    }
    if (ext == ".avi") {
      // The pictures go straight to the writer, which loads FFmpeg on its
      // own thread; they need no file in a folder that goes.
      conv_avi.crop_zoom = conv_cz;
      return ConvertToAvi(movie, output, conv_cap, conv_avi, progress, throwaway_folder);
    }
    // Video writers need FFmpeg (and so may the recording): its hundred
    // libraries load on another thread while the capture starts.
    std::jthread preload;
    if (ext != ".mp3")
      preload = std::jthread([] {
        try {
          ffmpeg::Av();
        } catch (const ffmpeg::LoadError&) {
          // Reported where FFmpeg is used.
        }
      });
    CaptureResult r = RunCapture(movie, conv_cap, progress);
    // Ctrl-C ended the capture; the frames so far are written.
    ResetCaptureStop();
    const StoreInfo store{r.frames, r.latency, true, conv_cap.transparent};
    if (IsVideoOutput(output)) {
      conv_video.crop_zoom = conv_cz;
      RunVideo(output, conv_video, store, progress);
    } else {
      RunMp3(output, conv_mp3, progress);
    }
    return r.frames;
  };

  const bool is_batch = *convert && !batch.out_dir.empty();
  // A single convert without a folder of its own takes a private one, so
  // that conversions at once never share frames; it goes when the run ends.
  std::optional<PrivateFolder> private_work;
  try {
    if (*convert && !is_batch && work_dir.empty() && std::getenv("QUARVEL_HOME") == nullptr) {
      private_work.emplace("quarvel-convert");
      SetInterruptFolder(private_work->Path());
      throwaway_folder = true;
      paths::SetWorkingFolder(private_work->Path());
      ::setenv("QUARVEL_HOME", private_work->Path().c_str(), 1);
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "quarvel-cli: %s\n", e.what());
    return 1;
  }

  try {
    // One run at a time per working folder: the commands that read or fill
    // the frame store own it until they exit.
    paths::FolderLock folder_lock;
    if (*capture || *gif_cmd || *avi_cmd || *video_cmd || *mp3_cmd || (*convert && !is_batch)) {
      try {
        folder_lock = paths::FolderLock::Acquire(paths::WorkingFolder());
      } catch (const paths::FolderLockError& e) {
        if (!wait || e.Holder() == 0) throw;
        progress.Note("waiting for process " + std::to_string(e.Holder()) + " to finish with " +
                      paths::WorkingFolder().string());
        folder_lock =
            paths::FolderLock::Acquire(paths::WorkingFolder(), true, [] { return CaptureStopRequested(); });
      }
      paths::RemoveLeftovers(paths::WorkingFolder());
    }
    if (*info) {
      RunInfo(movie);
    } else if (*capture) {
      ReserveMovieHeap();
      RunCapture(movie, cap, progress);
    } else if (*gif_cmd) {
      ReserveMovieHeap();
      RunGif(output, gif, CurrentStore(), progress);
    } else if (*avi_cmd) {
      ReserveAviHeap();
      const StoreInfo store = CurrentStore();
      WarnOpaqueOutput(store, "AVI", progress);
      RunAvi(output, avi, store, progress);
    } else if (*video_cmd) {
      RunVideo(output, video, CurrentStore(), progress);
    } else if (*mp3_cmd) {
      RunMp3(output, mp3, progress);
    } else if (*sounds) {
      RunSounds(movie, sounds_raw);
    } else if (*frame) {
      ReserveMovieHeap();
      RunFrame(movie, output, fr);
    } else if (*codecs) {
      RunCodecs(codec_depth);
    } else if (is_batch) {
      throwaway_folder = true;
      std::error_code ec;
      std::filesystem::create_directories(batch.out_dir, ec);
      CheckOutputFile(output);
      // A report that cannot be written fails before the work.
      if (!batch.report.empty()) CheckOutputFile(batch.report);
      const auto jobs = PlanBatch(ExpandBatchInputs(batch.inputs), batch.out_dir, BatchExtension(batch.format));
      if (!quiet)
        std::fprintf(stderr, "converting %zu movies, %d at once, into %s\n", jobs.size(), batch.jobs,
                     batch.out_dir.c_str());
      const auto results = RunBatch(
          jobs, batch.jobs,
          [&](const BatchJob& job) {
            Progress silent(Progress::Mode::kQuiet);
            return convert_movie(job.movie, job.output, silent);
          },
          [] { return CaptureStopRequested(); }, quiet ? nullptr : stderr);
      PrintBatchSummary(results, stdout);
      if (!batch.report.empty()) WriteBatchReport(batch.report, results, conv_cap.latency);
      if (InterruptSignal() != 0) return InterruptExitStatus();
      const bool all = std::all_of(results.begin(), results.end(), [](const BatchResult& r) { return r.ok; });
      return all ? 0 : 1;
    } else if (*convert) {
      const long long frames = convert_movie(movie, output, progress);
      // A signal cut the capture short: the file holds what came before,
      // which is no success for whoever retries failed runs.
      if (CaptureCutShort()) {
        progress.ClearBar();
        std::fprintf(stderr, "quarvel-cli: %s: partial: %s interrupted the capture; the file holds the %lld frames before\n",
                     output.c_str(), SignalName(InterruptSignal()).c_str(), frames);
        return InterruptExitStatus();
      }
      if (!quiet) std::printf("%s\n", std::filesystem::absolute(output).c_str());
    }
  } catch (const std::exception& e) {
    progress.ClearBar();
    std::string text = e.what();
    if (text.find(" inflates past ") != std::string::npos) text += " (--max-movie-size raises the limit)";
    std::fprintf(stderr, "quarvel-cli: %s\n", text.c_str());
    return InterruptSignal() != 0 ? InterruptExitStatus() : 1;
  }
  return 0;
}
