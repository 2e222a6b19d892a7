#pragma once
// Writes the frame store (and the recording) as MP4, MOV, MKV, WebM,
// animated WebP or animated PNG through FFmpeg's encoders and muxers.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

#include "capture/crop_zoom.h"
#include "platform/gdi/bitmap.h"
#include "video_out/video_format.h"

namespace quarvel::video_out {

// Picture i (0-based) of the sequence; called with i = 0, 1, 2, ...
using FrameSource = std::function<const gdi::Bitmap&(long long i)>;

struct VideoWriteOptions {
  std::filesystem::path output;  // written under this very name
  std::filesystem::path shown;   // the name messages give (the user's); empty: output
  VideoFormat format;
  VideoRequest request;
  long long frame_count = 0;
  int latency_ms = 250;          // every frame shows this long
  capture::CropZoom crop_zoom;
  std::filesystem::path recording;  // WAVE file of the sound; empty: none
  // Without one, the frame store of the working folder (a missing file
  // repeats the frame before).
  FrameSource frames;
};

struct VideoWriteCallbacks {
  // After each frame, with the count written; may throw to stop the write.
  std::function<void(long long frames_done)> progress;
  // Things the user should know once (sizes padded, sound left out).
  std::function<void(const std::string& text)> note;
};

struct VideoWriteResult {
  long long frames = 0;
  int width = 0, height = 0;  // of the encoded picture
  bool sound = false;
};

// Throws VideoError (encoder, muxer, recording) or the frame store's errors;
// whatever was written of the output is then left for the caller to remove.
VideoWriteResult WriteVideo(const VideoWriteOptions& options, const VideoWriteCallbacks& callbacks);

}  // namespace quarvel::video_out
