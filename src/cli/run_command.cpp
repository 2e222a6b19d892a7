// The commands of quarvel-cli: the command line the program parsed, checked
// and run. Lives in the command module with everything the commands use.
#include <stdlib.h>

#include <algorithm>
#include <cctype>
#include <csignal>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <optional>
#include <string>

#include "avi/avi_writer.h"
#include "capture/frame_cache.h"
#include "cli/batch.h"
#include "cli/batch_report.h"
#include "cli/commands.h"
#include "cli/invocation.h"
#include "platform/ffmpeg/ffmpeg_api.h"
#include "platform/gdi/heap_tuning.h"
#include "platform/paths/folder_lock.h"
#include "platform/paths/working_folder.h"
#include "player/swf/movie.h"
#include "video_out/video_format.h"

namespace quarvel::cli {
namespace {

extern "C" void OnInterrupt(int signal) { RequestCaptureStop(signal); }

void FinishVideoOptions(VideoOptions& o, const VideoTexts& t) {
  if (t.crf_given) o.crf = t.crf;
  if (t.preset_given) o.preset = t.preset;
  if (t.quality >= 0) o.quality = t.quality;
}

std::string BatchExtension(const std::string& format) { return format == "apng" ? ".png" : "." + format; }

std::string Extension(const std::string& path) {
  std::string ext = std::filesystem::path(path).extension().string();
  std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
  return ext;
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
void FinishConvertVideo(bool quality_given, const std::string& output, const AviOptions& avi, VideoOptions& video,
                        const VideoTexts& texts) {
  FinishVideoOptions(video, texts);
  const bool numeric = !avi.quality.empty() && std::isdigit(static_cast<unsigned char>(avi.quality[0]));
  if (!IsVideoOutput(output)) {
    if (numeric) throw UsageError("convert: --quality " + avi.quality + " is for WebP; an AVI takes highest to low");
    if (video.crf || video.preset) throw UsageError("convert: --crf and --preset are for video outputs");
    return;
  }
  if (quality_given) {
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

// Reads the texts of the options into their values and checks what the
// parser could not: throws UsageError.
void Finish(Invocation& call) {
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
  finish(call.capture, call.capture_texts);
  finish(call.convert_capture, call.convert_capture_texts);
  if (!call.gif_crop.crop.empty()) ParseCrop(call.gif_crop.crop, call.gif.crop_zoom);
  if (!call.avi_crop.crop.empty()) ParseCrop(call.avi_crop.crop, call.avi.crop_zoom);
  if (!call.convert_crop.crop.empty()) ParseCrop(call.convert_crop.crop, call.convert_crop_zoom);
  if (!call.frame_size.empty()) call.frame.size = ParseSize(call.frame_size);
  call.frame.background = ParseBackground(call.frame_background);
  if (!call.video_crop.crop.empty()) ParseCrop(call.video_crop.crop, call.video.crop_zoom);
  FinishVideoOptions(call.video, call.video_texts);
  if (call.command == Command::kVideo) {
    try {
      CheckVideoRequest(call.output, call.video);
    } catch (const CommandError& e) {
      throw UsageError(std::string("video: ") + e.what());
    }
  }
  if (call.command == Command::kConvert) {
    const std::string& output = call.output;
    CaptureOptions& capture = call.convert_capture;
    FinishBatch(call.batch, call.movie, call.output);
    call.convert_video.alpha = capture.transparent;
    CheckTransparentOutput(output, capture.transparent);
    const std::string ext = Extension(output);
    FinishConvertVideo(call.convert_quality_given, output, call.convert_avi, call.convert_video,
                       call.convert_video_texts);
    if (ext != ".gif" && ext != ".avi" && ext != ".mp3" && !IsVideoOutput(output))
      throw UsageError("convert: " + output + ": the output must end in .gif, .avi, .mp3 or a video extension (" +
                       video_out::KnownExtensions() + ")");
    // MP3 export takes a PCM recording.
    if (ext == ".mp3" && !call.convert_sound_given) capture.sound = "pcm";
    if (ext == ".mp3" && capture.sound != "pcm") throw UsageError("convert: an MP3 needs --sound pcm");
  }
}

}  // namespace

int RunInvocation(Invocation& call) {
  try {
    Finish(call);
  } catch (const UsageError& e) {
    std::fprintf(stderr, "quarvel-cli: %s\n", e.what());
    return 2;
  }
  const Command command = call.command;
  const std::string& work_dir = call.work_dir;
  const bool quiet = call.quiet, wait = call.wait;
  const std::string &movie = call.movie, &output = call.output;
  const CaptureOptions &cap = call.capture, &conv_cap = call.convert_capture;
  const GifOptions& gif = call.gif;
  const AviOptions& avi = call.avi;
  const VideoOptions& video = call.video;
  const FrameOptions& fr = call.frame;
  const BatchTexts& batch = call.batch;
  GifOptions& conv_gif = call.convert_gif;
  AviOptions& conv_avi = call.convert_avi;
  VideoOptions& conv_video = call.convert_video;
  const capture::CropZoom& conv_cz = call.convert_crop_zoom;
  const Mp3Options &mp3 = call.mp3, &conv_mp3 = call.convert_mp3;
  const bool sounds_raw = call.sounds_raw;
  const int codec_depth = call.codec_depth;

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
  if (call.max_movie_size_given) swf::SetMaxMovieSize(call.max_movie_mib << 20);
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
    // libraries load on another thread while the movie loads and plays.
    std::function<void()> load_ffmpeg;
    if (ext != ".mp3") load_ffmpeg = ffmpeg::LoadAhead;
    CaptureResult r = RunCapture(movie, conv_cap, progress, nullptr, false, load_ffmpeg);
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

  const bool is_batch = command == Command::kConvert && !batch.out_dir.empty();
  // A single convert without a folder of its own takes a private one, so
  // that conversions at once never share frames; it goes when the run ends.
  std::optional<PrivateFolder> private_work;
  try {
    if (command == Command::kConvert && !is_batch && work_dir.empty() && std::getenv("QUARVEL_HOME") == nullptr) {
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
    if (command == Command::kCapture || command == Command::kGif || command == Command::kAvi ||
        command == Command::kVideo || command == Command::kMp3 || (command == Command::kConvert && !is_batch)) {
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
    if (command == Command::kInfo) {
      RunInfo(movie);
    } else if (command == Command::kCapture) {
      ReserveMovieHeap();
      RunCapture(movie, cap, progress);
    } else if (command == Command::kGif) {
      ReserveMovieHeap();
      RunGif(output, gif, CurrentStore(), progress);
    } else if (command == Command::kAvi) {
      ReserveAviHeap();
      const StoreInfo store = CurrentStore();
      WarnOpaqueOutput(store, "AVI", progress);
      RunAvi(output, avi, store, progress);
    } else if (command == Command::kVideo) {
      RunVideo(output, video, CurrentStore(), progress);
    } else if (command == Command::kMp3) {
      RunMp3(output, mp3, progress);
    } else if (command == Command::kSounds) {
      RunSounds(movie, sounds_raw);
    } else if (command == Command::kFrame) {
      ReserveMovieHeap();
      RunFrame(movie, output, fr);
    } else if (command == Command::kCodecs) {
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
    } else if (command == Command::kConvert) {
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

}  // namespace quarvel::cli

