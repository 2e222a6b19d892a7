#include "avi/save_to_avi.h"

#include <deque>
#include <future>
#include <system_error>
#include <thread>

#include "capture/frame_store.h"
#include "platform/paths/working_folder.h"

namespace quarvel::avi {

namespace fs = std::filesystem;

std::optional<gdi::PixelFormat> PixelFormatForDepthIndex(int index) {
  switch (index) {
    case 0: return gdi::PixelFormat::pf1bit;
    case 1: return gdi::PixelFormat::pf4bit;
    case 2: return gdi::PixelFormat::pf8bit;
    case 3: return gdi::PixelFormat::pf24bit;
    case 4: return gdi::PixelFormat::pf32bit;
    default: return std::nullopt;
  }
}

int QualityForIndex(int index) {
  switch (index) {
    case 0: return 10000;
    case 1: return 8000;
    case 2: return 6000;
    case 3: return 4000;
    case 4: return 2000;
    default: return 10000;
  }
}

int DefaultCodecIndex(const std::vector<std::string>& items) {
  int selected = items.empty() ? -1 : 0;
  for (std::size_t i = 0; i < items.size(); ++i)
    if (items[i].find("DIVX") != std::string::npos) {
      selected = int(i);
      break;
    }
  if (selected == 0)
    for (std::size_t i = 0; i < items.size(); ++i)
      if (items[i].find("WMV") != std::string::npos) {
        selected = int(i);
        break;
      }
  return selected;
}

void ApplyQuality(TAviWriter_2& writer, int quality_index) { writer.SetQuality(QualityForIndex(quality_index)); }

void ApplyCodec(TAviWriter_2& writer, const CodecBox& box) {
  if (box.selected <= 0 || std::size_t(box.selected) >= box.items.size())
    writer.SelectCompressor("");
  else
    writer.SelectCompressor(box.items[std::size_t(box.selected)].substr(0, 4));
}

CodecBox FillCodecList(TAviWriter_2& writer, int quality_index) {
  CodecBox box;
  writer.ListCompressors(box.items);
  box.selected = DefaultCodecIndex(box.items);
  ApplyQuality(writer, quality_index);
  ApplyCodec(writer, box);
  return box;
}

CodecBox FillCodecList(TAviWriter_2& writer, int quality_index, const vfw::CompressorTable& table) {
  vfw::ScopedCompressorTable installed(table);
  return FillCodecList(writer, quality_index);
}

CodecBox ChangeBitDepth(TAviWriter_2& writer, int depth_index, int quality_index) {
  if (auto format = PixelFormatForDepthIndex(depth_index)) writer.SetPixelFormat(*format);
  return FillCodecList(writer, quality_index);
}

void ConfigureChosenCodec(TAviWriter_2& writer, const CodecBox& box, vfw::HWND parent) {
  if (box.selected > 0) writer.ConfigureCompressor(parent);
}

int RoundUpTo8(int size) { return size % 8 == 0 ? size : size + (8 - size % 8); }

namespace {

// The preview's size when the caller has none: the first stored frame, cropped and zoomed.
std::optional<std::pair<int, int>> FirstFrameSize(long long count, const capture::CropZoom& crop_zoom) {
  for (long long n = 1; n <= count; ++n) {
    fs::path file = paths::FrameFilePath(n);
    std::error_code ec;
    if (!fs::exists(file, ec)) continue;
    gdi::Bitmap picture = capture::LoadFramePicture(file);
    capture::CropAndZoomFrame(picture, crop_zoom);
    return std::make_pair(picture.Width(), picture.Height());
  }
  return std::nullopt;
}

// Frames 1..count in order, like capture::FrameSequence (a missing file
// repeats the last picture), with the next files inflated on worker threads
// while the current frame goes to the writer.
class FrameReader {
 public:
  explicit FrameReader(long long count)
      : count_(count), ahead_(std::max(2u, std::thread::hardware_concurrency())) {}

  const gdi::Bitmap& Next() {
    Launch();
    auto loaded = pending_.front().get();  // rethrows the error naming a damaged file
    pending_.pop_front();
    if (loaded) last_ = std::move(*loaded);
    Launch();
    return last_;
  }

 private:
  void Launch() {
    while (pending_.size() < ahead_ && started_ < count_) {
      fs::path file = paths::FrameFilePath(++started_);
      pending_.push_back(std::async(std::launch::async, [file]() -> std::optional<gdi::Bitmap> {
        std::error_code ec;
        if (!fs::exists(file, ec)) return std::nullopt;
        return capture::LoadFramePicture(file);
      }));
    }
  }

  long long count_;
  std::size_t ahead_;
  long long started_ = 0;
  std::deque<std::future<std::optional<gdi::Bitmap>>> pending_;
  gdi::Bitmap last_;
};

bool NeedsCropOrZoom(const capture::CropZoom& s) {
  return s.left > 0 || s.right > 0 || s.top > 0 || s.bottom > 0 || s.zoom != 100;
}

}  // namespace

void AppendStoredFrame(TAviWriter_2& writer, const gdi::Bitmap& read, const capture::CropZoom& crop_zoom) {
  if (!NeedsCropOrZoom(crop_zoom) && (read.Empty() || read.Format() == writer.PixelFormat())) {
    writer.AppendFrame(read);  // already in the video's depth: no copy needed
    return;
  }
  gdi::Bitmap picture = read;
  capture::CropAndZoomFrame(picture, crop_zoom);
  if (picture.Empty()) {
    writer.AppendFrame(picture);
  } else {
    writer.AppendFrame(picture.ConvertTo(writer.PixelFormat()));
  }
}

namespace {

// The writer's settings from the options; the codec is asked at the size the writer has.
void ApplySaveSettings(TAviWriter_2& writer, const AviSaveOptions& options) {
  writer.SetPixelFormat(options.pixel_format);
  ApplyQuality(writer, options.quality_index);
  ApplyCodec(writer, options.codec);
  writer.FrameTime = options.latency_ms;
}

// The video opened at the preview size.
void OpenAviVideo(TAviWriter_2& writer, const AviSaveOptions& options, int width, int height) {
  writer.Width = RoundUpTo8(width);
  writer.Height = RoundUpTo8(height);
  writer.FrameTime = options.latency_ms;
  writer.Stretch = true;
  writer.OpenVideo();
}

}  // namespace

void BeginAviSave(TAviWriter_2& writer, const AviSaveOptions& options, const fs::path& scratch) {
  if (options.preview_width <= 0 || options.preview_height <= 0)
    throw AviWriterError("the video's size is not known before its first frame");
  ApplySaveSettings(writer, options);
  writer.filename = options.output;
  writer.ScratchFileName = scratch;
  OpenAviVideo(writer, options, options.preview_width, options.preview_height);
}

void FinishAviSave(TAviWriter_2& writer, const AviSaveOptions& options, const AviSaveCallbacks& callbacks) {
  auto report = [&](const std::string& label) {
    if (callbacks.progress) callbacks.progress(label, 70);
  };
  try {
    writer.SetWavFileName(options.audio ? paths::RecordingFilePath() : fs::path());
    writer.filename = options.output;
    report(kFinalizeLabel);
    writer.CloseVideo();
  } catch (...) {
    writer.AbandonVideo();
    throw;
  }
  report(kWriteLabel);
  writer.SaveVideo();
  report(kDoneLabel);
}

CodecBox DefaultCodecBox(TAviWriter_2& writer, int quality_index) {
  CodecBox box;
  // FillCodecList's choice: the first DIVX entry, else the first WMV one.
  for (const char* wanted : {"DIVX", "WMV"}) {
    writer.ListCompressors(box.items,
                           [wanted](const std::string& entry) { return entry.find(wanted) != std::string::npos; });
    if (box.items.size() > 1) break;
  }
  box.selected = DefaultCodecIndex(box.items);
  ApplyQuality(writer, quality_index);
  ApplyCodec(writer, box);
  return box;
}

AviSaveOutcome SaveToAvi(TAviWriter_2& writer, const AviSaveOptions& options, const AviSaveCallbacks& callbacks) {
  auto report = [&](const std::string& label, int percent) {
    if (callbacks.progress) callbacks.progress(label, percent);
  };
  ApplySaveSettings(writer, options);
  writer.filename = options.output;
  const fs::path scratch_folder = options.scratch_folder.empty() ? options.output.parent_path() : options.scratch_folder;
  writer.ScratchFileName = scratch_folder / ("~AWTemp" + options.output.filename().string());

  if (options.output.empty()) return {false, kNoFileNameMessage};
  if (options.captured_frame_count <= 0) return {false, kNoImagesMessage};
  std::error_code ec;
  if (fs::exists(options.output, ec)) {
    if (!callbacks.ask_overwrite || !callbacks.ask_overwrite(options.output)) return {false, ""};
  }

  if (callbacks.close_recorder) callbacks.close_recorder();

  int width = options.preview_width, height = options.preview_height;
  if (width <= 0 || height <= 0) {
    auto size = FirstFrameSize(options.captured_frame_count, options.crop_zoom);
    if (!size) return {false, kNoImagesMessage};
    std::tie(width, height) = *size;
  }
  writer.SetWavFileName(options.audio ? paths::RecordingFilePath() : fs::path());
  OpenAviVideo(writer, options, width, height);

  const long long count = options.captured_frame_count;
  FrameReader frames(count);
  int percent = 0;
  try {
    for (long long i = 0; i < count; ++i) {
      percent = int(i * 70 / count);
      report(std::to_string(i) + "/" + std::to_string(count), percent);
      AppendStoredFrame(writer, frames.Next(), options.crop_zoom);
    }
    report(kFinalizeLabel, percent);
    writer.CloseVideo();
  } catch (...) {
    // A half-written scratch file beside the user's output would only be litter.
    writer.AbandonVideo();
    throw;
  }
  report(kWriteLabel, percent);
  writer.SaveVideo();
  report(kDoneLabel, percent);
  return {true, ""};
}

}  // namespace quarvel::avi
