// gif, avi, mp3 and codecs: the writers over the frame store and the recording.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <span>
#include <utility>

#include "avi/save_to_avi.h"
#include "capture/frame_store.h"
#include "cli/commands.h"
#include "gif/animation_builder.h"
#include "gif/gif_optimizer.h"
#include "gif/parallel.h"
#include "platform/paths/working_folder.h"
#include "sound/mp3_export.h"
#include "sound/recording_file.h"

namespace quarvel::cli {
namespace {

namespace fs = std::filesystem;

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

// The step number at the start of a writer's label ("5/100/2 5%" gives 5).
long long LabelStep(const std::string& label) {
  long long n = 0;
  for (char c : label) {
    if (c < '0' || c > '9') break;
    n = n * 10 + (c - '0');
  }
  return n;
}

int QualityIndex(const std::string& name) {
  static const char* names[] = {"highest", "veryhigh", "high", "medium", "low"};
  for (int i = 0; i < 5; ++i)
    if (name == names[i]) return i;
  return avi::kDefaultQualityIndex;
}

int DepthIndex(int depth) {
  switch (depth) {
    case 1: return 0;
    case 4: return 1;
    case 8: return 2;
    case 32: return 4;
    default: return 3;
  }
}

// The codec box for the writer's frame, with the entry --codec names selected.
avi::CodecBox ChooseCodec(avi::TAviWriter_2& writer, const std::string& codec, int quality_index) {
  // The default needs no list of every encoder (some take long to open).
  if (codec.empty()) return avi::DefaultCodecBox(writer, quality_index);
  avi::CodecBox box = avi::FillCodecList(writer, quality_index);
  if (codec == "none") {
    box.selected = 0;
    return box;
  }
  const std::string want = Upper(codec);
  for (std::size_t i = 1; i < box.items.size(); ++i) {
    if (Upper(box.items[i].substr(0, 4)) == want) {
      box.selected = static_cast<int>(i);
      return box;
    }
  }
  std::string known;
  for (std::size_t i = 1; i < box.items.size(); ++i) known += (known.empty() ? "" : ", ") + box.items[i].substr(0, 4);
  throw CommandError("unknown codec \"" + codec + "\" for this frame size and depth; installed: " +
                     (known.empty() ? std::string("none") : known) + " (or none)");
}

}  // namespace

StoreInfo CurrentStore() {
  auto record = ReadCaptureRecord();
  if (!record || record->frames <= 0)
    throw CommandError("no captured frames in " + paths::CaptureFolder().string() +
                       " (run quarvel-cli capture first, with the same --work-dir)");
  return StoreInfo{record->frames, record->latency, record->complete, record->alpha, !record->sound.empty()};
}

namespace {

// A writer that uses what a failed or killed capture left says so.
void WarnIfIncomplete(const StoreInfo& store, Progress& progress) {
  if (store.complete) return;
  progress.Warn("the capture in " + paths::CaptureFolder().string() +
                " did not complete; writing the " + std::to_string(store.frames) + " frames it left");
}

}  // namespace

namespace {

gif::BuildOptions GifBuildOptions(const GifOptions& options, const StoreInfo& store, capture::FrameCache* kept) {
  gif::BuildOptions build;
  build.frame_count = store.frames;
  build.crop_zoom = options.crop_zoom;
  build.latency_ms = options.latency.value_or(store.latency);
  build.colors = options.colors == "gray" ? gif::ColorChoice::kGrayScale : gif::ColorChoice::k256Colors;
  build.dither = options.dither == "floyd" ? gif::DitherChoice::kFloydSteinberg : gif::DitherChoice::kNearest;
  build.size = options.mode == "best" ? gif::SizeChoice::kBestQuality : gif::SizeChoice::kSmallerSize;
  build.palette = options.palette == "quant" ? gif::PaletteChoice::kQuant : gif::PaletteChoice::kOctree;
  build.transparent = store.alpha;
  build.tight_frames = !options.thorough;
  build.encode_frames = true;
  // The rewrite decodes the frames it reads again; written as they are, they need their pixels.
  build.release_encoded = options.optimize;
  build.kept = kept;
  return build;
}

// The built animation, optimised unless asked not to, written in place of `out`.
void WriteGif(const std::string& out, const GifOptions& options, gif::BuildResult& result, long long frames,
              Progress& progress) {
  std::size_t size = 0;
  WriteAtomically(out, [&](const std::string& temp) {
    errno = 0;
    std::FILE* file = std::fopen(temp.c_str(), "wb");
    if (!file) throw CommandError(out + ": cannot write: " + std::strerror(errno));
    struct Closer {
      std::FILE*& file;
      ~Closer() {
        if (file) std::fclose(file);
      }
    } closer{file};
    bool written = true;
    int err = 0;
    // A megabyte a call at most: one call for a 70 MB GIF took ten times
    // as long in the kernel as the same bytes in pieces.
    const auto put = [&](std::span<const std::uint8_t> bytes) {
      constexpr std::size_t kPiece = std::size_t(1) << 20;
      for (std::size_t at = 0; written && at < bytes.size(); at += kPiece) {
        const std::size_t n = std::min(kPiece, bytes.size() - at);
        written = std::fwrite(bytes.data() + at, 1, n, file) == n;
        if (!written) err = errno;
      }
    };
    std::vector<gif::TStream> pieces;
    // The own file goes into the file while the rewrite is tried; it stays
    // there unless the rewrite comes out smaller.
    bool own_in_file = false, rewritten = false;
    if (options.optimize) {
      try {
        gif::OptimizeOptions optimize;
        optimize.trial = !options.thorough;
        gif::OptimizedFile optimized =
            gif::OptimizeAnimation(*result.image, optimize, &CaptureStopRequested, &result.images,
                                   [&](const std::vector<std::span<const std::uint8_t>>& own) {
                                     own_in_file = true;
                                     for (const auto& piece : own) put(piece);
                                   });
        rewritten = optimized.rewritten;
        pieces = std::move(optimized.pieces);
      } catch (const gif::OptimizeStopped&) {
        CheckInterrupted(out);
        throw;
      }
    } else {
      result.image->SaveToStream(pieces.emplace_back());
    }
    for (const gif::TStream& p : pieces) size += p.size();
    CheckInterrupted(out);
    if (!own_in_file || rewritten) {
      if (own_in_file) {
        // The smaller rewrite in place of the own file, which may not even
        // have fitted on the disk: what it left is thrown away.
        std::fclose(std::exchange(file, nullptr));
        errno = 0;
        file = std::fopen(temp.c_str(), "wb");
        if (!file) throw CommandError(out + ": cannot write: " + std::strerror(errno));
        written = true;
        err = 0;
      }
      for (const gif::TStream& p : pieces) put(p);
    }
    std::FILE* const closing = std::exchange(file, nullptr);
    if (std::fclose(closing) != 0 || !written)
      throw CommandError(out + ": cannot write: " + std::strerror(err ? err : errno ? errno : EIO));
  });
  progress.End(out + ": " + std::to_string(frames) + " frames (" + std::to_string(result.optimized_frames) +
               " optimised), " + std::to_string(size) + " bytes");
}

}  // namespace

void RunGif(const std::string& out, const GifOptions& options, const StoreInfo& store, Progress& progress,
            capture::FrameCache* kept) {
  CheckOutputFile(out);
  gif::BuildOptions build = GifBuildOptions(options, store, kept);
  build.stop = &CaptureStopRequested;
  WarnIfIncomplete(store, progress);
  progress.Begin("gif", store.frames);
  gif::BuildResult result;
  try {
    result = gif::BuildAnimation(build, [&](const std::string& label, int) {
      progress.Update(std::min(LabelStep(label), store.frames));
    });
  } catch (const gif::BuildStopped&) {
    throw CommandError(out + ": interrupted");
  }
  WriteGif(out, options, result, store.frames, progress);
}

long long ConvertToGif(const std::string& movie, const std::string& out, const CaptureOptions& capture,
                       const GifOptions& options, Progress& progress, bool kept_only) {
  CheckOutputFile(out);
  // The build takes each picture as the capture hands it over, on threads
  // of its own: the capture draws on one core while the others reduce.
  // On its own clock the capture may wait for the build: then memory holds
  // a few batches of pictures, not the whole movie.
  capture::FrameCache kept(capture::FrameCache::DefaultBudget(), true, !capture.realtime);
  const StoreInfo running{0, capture.latency, true, capture.transparent};
  gif::BuildOptions build = GifBuildOptions(options, running, &kept);
  std::mutex mutex;
  std::condition_variable changed;
  bool built = false;
  std::atomic<long long> step{0};
  // Ctrl-C during the capture ends the capture, not the build.
  std::atomic<bool> interrupted{false};
  build.stop = [&interrupted] { return interrupted.load(); };
  gif::BuildResult result;
  // Declared after what it works on, so that it ends before they go.
  gif::BackgroundJob builder;
  builder.Start([&] {
    // Said however the build ends, so that the wait below ends too.
    struct Done {
      std::mutex& mutex;
      std::condition_variable& changed;
      bool& built;
      ~Done() {
        {
          std::lock_guard lock(mutex);
          built = true;
        }
        changed.notify_all();
      }
    } done{mutex, changed, built};
    try {
      result = gif::BuildAnimation(build, [&](const std::string& label, int) { step = LabelStep(label); });
    } catch (const gif::BuildStopped&) {
      throw CommandError(out + ": interrupted");
    }
  });
  CaptureResult captured;
  try {
    captured = RunCapture(movie, capture, progress, &kept, kept_only);
  } catch (...) {
    // The build stops at the frame it waits for; the capture's failure is the one to report.
    kept.Abandon();
    throw;
  }
  kept.Close(captured.frames);
  // Ctrl-C ended the capture; the frames so far are written.
  ResetCaptureStop();

  progress.Begin("gif", captured.frames);
  {
    std::unique_lock lock(mutex);
    while (!changed.wait_for(lock, std::chrono::milliseconds(50), [&] { return built; })) {
      if (CaptureStopRequested()) interrupted = true;
      progress.Update(std::min(step.load(), captured.frames));
    }
  }
  builder.Wait();
  // Ctrl-C after the build's last frame: the rewrite below stops too.
  CheckInterrupted(out);
  WriteGif(out, options, result, captured.frames, progress);
  return captured.frames;
}

namespace {

// Whether the capture's recording can go into the AVI; says why not.
// A capture asked to record nothing leaves no recording, and nothing to warn of.
bool RecordingUsable(Progress& progress, bool expected) {
  const fs::path recording = paths::RecordingFilePath();
  if (!fs::exists(recording)) {
    if (expected) progress.Warn("no recording at " + recording.string() + "; writing the video alone");
    return false;
  }
  const std::optional<long long> ms = sound::RecordingLengthMs(recording);
  if (!ms) {
    progress.Warn(recording.string() + ": not a readable recording; writing the video alone");
    return false;
  }
  if (*ms <= 0) {
    progress.Warn(recording.string() + ": the recording is empty; writing the video alone");
    return false;
  }
  return true;
}

avi::AviSaveCallbacks AviCallbacks(const std::string& out, Progress& progress) {
  avi::AviSaveCallbacks callbacks;
  callbacks.ask_overwrite = [](const fs::path&) { return true; };  // the temporary name is ours
  callbacks.progress = [&progress, out](const std::string& label, int percent) {
    CheckInterrupted(out);
    if (label.find('/') != std::string::npos) progress.Update(LabelStep(label) + 1);
    (void)percent;
  };
  return callbacks;
}

void EndAvi(const std::string& out, long long frames, const avi::AviSaveOptions& save, Progress& progress) {
  const std::string codec_name =
      save.codec.selected > 0 ? save.codec.items[static_cast<std::size_t>(save.codec.selected)] : avi::kNoCompression;
  progress.End(out + ": " + std::to_string(frames) + " frames, " + codec_name +
               (save.audio ? ", with the recording" : ", no sound"));
}

bool CropsOrZooms(const capture::CropZoom& s) {
  return s.left > 0 || s.right > 0 || s.top > 0 || s.bottom > 0 || s.zoom != 100;
}

// The writer's side of ConvertToAvi: frame by frame as the capture decides
// them, the video opened at the first picture's size with the codec chosen
// for it, each picture appended as SaveToAvi appends frame files.
void AppendCapturedFrames(capture::FrameCache& kept, std::optional<avi::TAviWriter_2>& writer,
                          avi::AviSaveOptions& save, const AviOptions& options, const fs::path& scratch) {
  using FrameState = capture::FrameCache::FrameState;
  // However this ends, the capture need wait for it no more.
  struct StopHolding {
    capture::FrameCache& kept;
    ~StopHolding() { kept.StopHolding(); }
  } stop_holding{kept};
  // A few pictures ahead: the one appended, the one it may repeat, and the next ones.
  kept.HoldAtMost(6);
  // The picture shown now: kept frame `held` (dropped when the next one
  // comes, as a left-out number repeats it) or the last file read.
  long long held = 0;
  gdi::Bitmap from_file;
  const gdi::Bitmap* current = nullptr;
  try {
    writer.emplace();
    if (const auto format = avi::PixelFormatForDepthIndex(DepthIndex(options.depth))) writer->SetPixelFormat(*format);
    save.pixel_format = writer->PixelFormat();
    for (long long n = 1;; ++n) {
      const FrameState state = kept.WaitFor(n);
      if (state == FrameState::kEnd) break;
      if (state != FrameState::kRepeat) {
        if (held > 0) kept.Drop(std::exchange(held, 0));
        if (state == FrameState::kKept) {
          current = kept.Find(n);
          held = n;
        } else {
          from_file = capture::LoadFramePicture(paths::FrameFilePath(n));
          current = &from_file;
        }
      }
      if (current == nullptr) throw CommandError("the capture stored no first frame");
      if (n == 1) {
        int width = current->Width(), height = current->Height();
        if (CropsOrZooms(save.crop_zoom)) {
          gdi::Bitmap first = *current;
          capture::CropAndZoomFrame(first, save.crop_zoom);
          width = first.Width();
          height = first.Height();
        }
        // The codec list depends on the frame size.
        writer->Width = avi::RoundUpTo8(width);
        writer->Height = avi::RoundUpTo8(height);
        save.codec = ChooseCodec(*writer, options.codec, save.quality_index);
        save.preview_width = width;
        save.preview_height = height;
        avi::BeginAviSave(*writer, save, scratch);
      }
      avi::AppendStoredFrame(*writer, *current, save.crop_zoom);
    }
  } catch (const capture::CaptureAbandoned&) {
    if (writer && writer->VideoOpen()) writer->AbandonVideo();
    throw;
  } catch (...) {
    // The writer itself may have failed to come up (FFmpeg missing).
    if (writer && writer->VideoOpen()) writer->AbandonVideo();
    // The capture goes on to its end: its pictures are let go as they come.
    kept.StopHolding();
    try {
      for (long long n = 1; kept.WaitFor(n) != FrameState::kEnd; ++n) kept.Drop(n);
    } catch (const capture::CaptureAbandoned&) {
    }
    throw;
  }
}

}  // namespace

void RunAvi(const std::string& out, const AviOptions& options, const StoreInfo& store, Progress& progress) {
  CheckOutputFile(out);
  avi::TAviWriter_2 writer;
  const auto format = avi::PixelFormatForDepthIndex(DepthIndex(options.depth));
  if (format) writer.SetPixelFormat(*format);

  // The codec list depends on the frame size: that of the first frame after crop and zoom.
  avi::AviSaveOptions save;
  {
    capture::FrameSequence frames(store.frames);
    gdi::Bitmap first = frames.Read(0);
    capture::CropAndZoomFrame(first, options.crop_zoom);
    writer.Width = avi::RoundUpTo8(first.Width());
    writer.Height = avi::RoundUpTo8(first.Height());
    // The save need not read the first frame again for its size.
    if (frames.LastWasPresent()) {
      save.preview_width = first.Width();
      save.preview_height = first.Height();
    }
  }
  const int quality_index = QualityIndex(options.quality);
  save.captured_frame_count = store.frames;
  save.crop_zoom = options.crop_zoom;
  save.latency_ms = options.latency.value_or(store.latency);
  save.pixel_format = writer.PixelFormat();
  save.quality_index = quality_index;
  save.codec = ChooseCodec(writer, options.codec, quality_index);
  save.audio = !options.no_audio && RecordingUsable(progress, store.recorded);
  WarnIfIncomplete(store, progress);

  avi::AviSaveCallbacks callbacks = AviCallbacks(out, progress);
  progress.Begin("avi", store.frames);
  // The frames wait for the save pass in the working folder, not on the output's disk.
  save.scratch_folder = paths::WorkingFolder();
  WriteAtomically(out, [&](const std::string& temp) {
    save.output = temp;
    avi::AviSaveOutcome outcome = avi::SaveToAvi(writer, save, callbacks);
    if (!outcome.saved) throw CommandError(out + ": " + outcome.message);
  }, save.scratch_folder);
  EndAvi(out, store.frames, save, progress);
}

long long ConvertToAvi(const std::string& movie, const std::string& out, const CaptureOptions& capture,
                       const AviOptions& options, Progress& progress, bool kept_only) {
  CheckOutputFile(out);
  // The pictures go from the capture to the writer's scratch file on a
  // thread of their own, without a trip through the frame store; on its own
  // clock the capture waits for the writer, so memory holds a few pictures.
  capture::FrameCache kept(capture::FrameCache::DefaultBudget(), true, !capture.realtime);
  avi::AviSaveOptions save;
  save.latency_ms = options.latency.value_or(capture.latency);
  save.quality_index = QualityIndex(options.quality);
  save.crop_zoom = options.crop_zoom;
  save.scratch_folder = paths::WorkingFolder();
  long long frames = 0;
  WriteAtomically(out, [&](const std::string& temp) {
    save.output = temp;
    // The name WriteAtomically removes if the run fails.
    const fs::path scratch = save.scratch_folder / ("~AWTemp" + fs::path(temp).filename().string());
    // Made on the writer's thread (it loads FFmpeg), ended after it.
    std::optional<avi::TAviWriter_2> writer;
    gif::BackgroundJob appender;
    // Started once the capture has made its threads: a thread started while
    // FFmpeg loads waits for the load to end.
    bool appending = false;
    const auto start_appender = [&] {
      appender.Start([&] { AppendCapturedFrames(kept, writer, save, options, scratch); });
      appending = true;
    };
    CaptureResult captured;
    try {
      captured = RunCapture(movie, capture, progress, &kept, kept_only, start_appender);
    } catch (...) {
      // The writer stops at the frame it waits for; the capture's failure is the one to report.
      kept.Abandon();
      try {
        appender.Wait();
      } catch (...) {
      }
      throw;
    }
    if (!appending) start_appender();
    kept.Close(captured.frames);
    frames = captured.frames;
    // Ctrl-C ended the capture; the frames so far are written.
    ResetCaptureStop();
    progress.Begin("avi", frames);
    appender.Wait();
    save.captured_frame_count = frames;
    save.audio = !options.no_audio && RecordingUsable(progress, RecordsSound(capture));
    avi::FinishAviSave(*writer, save, AviCallbacks(out, progress));
  }, save.scratch_folder);
  EndAvi(out, frames, save, progress);
  return frames;
}

void RunMp3(const std::string& out, const Mp3Options& options, Progress& progress) {
  CheckOutputFile(out);
  const fs::path recording = paths::RecordingFilePath();
  if (!fs::exists(recording))
    throw CommandError("no recording at " + recording.string() + " (capture with --sound pcm first)");
  auto record = ReadCaptureRecord();
  if (record && !record->sound.empty() && record->sound != "pcm")
    throw CommandError(recording.string() + ": the recording is " + record->sound +
                       "; MP3 export takes PCM recordings only (capture with --sound pcm)");
  const std::optional<long long> ms = sound::RecordingLengthMs(recording);
  if (!ms) throw CommandError(recording.string() + ": not a readable recording");
  if (*ms <= 0) throw CommandError(recording.string() + ": the recording is empty; there is no sound to convert");
  if (record && !record->complete)
    progress.Warn("the capture in " + paths::CaptureFolder().string() + " did not complete; converting the " +
                  std::to_string(*ms / 1000) + " s of sound it recorded");
  progress.Begin("mp3", 0);
  const int entry = options.bitrate == 224 ? 1 : 0;
  WriteAtomically(out, [&](const std::string& temp) {
    sound::Mp3ExportResult r = sound::ExportMp3(temp, entry, progress.Quiet(), &CaptureStopRequested);
    CheckInterrupted(out);
    if (r.error.empty()) return;
    // The encoder's message names the temporary file: the user knows the output.
    const std::string target = fs::absolute(temp).string();
    for (std::size_t at; (at = r.error.find(target)) != std::string::npos;) r.error.replace(at, target.size(), out);
    throw CommandError(out + ": " + r.error);
  });
  progress.End(out + ": " + std::to_string(sound::Mp3BitRateForEntry(entry)) + " kbit/s");
}

void CheckCodecName(const std::string& codec, int depth) {
  avi::TAviWriter_2 writer;
  const auto format = avi::PixelFormatForDepthIndex(DepthIndex(depth));
  if (format) writer.SetPixelFormat(*format);
  ChooseCodec(writer, codec, avi::kDefaultQualityIndex);
}

void RunCodecs(int depth) {
  avi::TAviWriter_2 writer;
  const auto format = avi::PixelFormatForDepthIndex(DepthIndex(depth));
  if (format) writer.SetPixelFormat(*format);
  avi::CodecBox box = avi::FillCodecList(writer, avi::kDefaultQualityIndex);
  for (std::size_t i = 0; i < box.items.size(); ++i)
    std::printf("%c %s\n", static_cast<int>(i) == box.selected ? '*' : ' ', box.items[i].c_str());
}

}  // namespace quarvel::cli
