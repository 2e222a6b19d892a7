// video: the frame store and the recording as MP4, WebM, WebP, APNG, MKV or MOV.
#include <filesystem>

#include "cli/commands.h"
#include "platform/paths/working_folder.h"
#include "sound/recording_file.h"
#include "video_out/video_writer.h"

namespace quarvel::cli {
namespace {

namespace fs = std::filesystem;

video_out::VideoFormat FormatOf(const std::string& out) {
  std::string ext = fs::path(out).extension().string();
  auto format = video_out::FormatForExtension(ext);
  if (!format)
    throw CommandError(out + ": no video format ends in \"" + ext + "\"; use " + video_out::KnownExtensions() +
                       " (or the gif and avi commands)");
  return *format;
}

video_out::VideoRequest RequestOf(const VideoOptions& options) {
  video_out::VideoRequest r;
  r.alpha = options.alpha;
  r.crf = options.crf;
  r.preset = options.preset;
  r.quality = options.quality;
  return r;
}

}  // namespace

bool IsVideoOutput(const std::string& out) {
  return video_out::FormatForExtension(fs::path(out).extension().string()).has_value();
}

void CheckVideoRequest(const std::string& out, const VideoOptions& options) {
  try {
    video_out::CheckRequest(FormatOf(out), RequestOf(options), out);
  } catch (const video_out::VideoError& e) {
    throw CommandError(e.what());
  }
}

void RunVideo(const std::string& out, const VideoOptions& options, const StoreInfo& store, Progress& progress) {
  CheckOutputFile(out);
  VideoOptions asked = options;
  // A capture on a transparent background keeps its alpha where the format can.
  asked.alpha = options.alpha || store.alpha;
  CheckVideoRequest(out, asked);
  video_out::VideoWriteOptions w;
  w.shown = out;
  w.format = FormatOf(out);
  w.request = RequestOf(asked);
  w.frame_count = store.frames;
  w.latency_ms = options.latency.value_or(store.latency);
  w.crop_zoom = options.crop_zoom;
  if (!store.complete)
    progress.Warn("the capture in " + paths::CaptureFolder().string() + " did not complete; writing the " +
                  std::to_string(store.frames) + " frames it left");
  if (!options.no_audio && !w.format.audio_codec.empty()) {
    const fs::path recording = paths::RecordingFilePath();
    const std::optional<long long> ms = sound::RecordingLengthMs(recording);
    std::error_code ec;
    if (!fs::exists(recording, ec))
      progress.Note(out + ": no recording; writing the picture alone");
    else if (!ms)
      progress.Warn(recording.string() + ": not a readable recording; writing the picture alone");
    else if (*ms <= 0)
      progress.Note(out + ": the recording is empty; writing the picture alone");
    else
      w.recording = recording;
  }

  video_out::VideoWriteCallbacks callbacks;
  callbacks.progress = [&](long long done) {
    CheckInterrupted(out);
    progress.Update(done);
  };
  callbacks.note = [&](const std::string& text) { progress.Note(text); };
  progress.Begin(std::string(w.format.label), store.frames);
  video_out::VideoWriteResult result;
  WriteAtomically(out, [&](const std::string& temp) {
    w.output = temp;
    try {
      result = video_out::WriteVideo(w, callbacks);
    } catch (const video_out::VideoError& e) {
      throw CommandError(e.what());
    }
  });
  std::error_code ec;
  const auto bytes = fs::file_size(out, ec);
  progress.End(out + ": " + std::to_string(result.frames) + " frames at " + std::to_string(result.width) + "x" +
               std::to_string(result.height) + ", " + std::string(w.format.label) +
               (result.sound ? ", with the recording" : ", no sound") + ", " + std::to_string(ec ? 0 : bytes) +
               " bytes");
}

}  // namespace quarvel::cli
