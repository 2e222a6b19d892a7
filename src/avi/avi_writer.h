#pragma once
// TAviWriter_2: bitmaps in, an AVI file out. Frames go uncompressed into a
// scratch AVI; SaveVideo makes the output in one AVISaveV pass with the
// chosen compressor and, when a WAV file is named, its sound beside the video.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/gdi/bitmap.h"
#include "platform/vfw/vfw.h"

namespace quarvel::avi {

// Every failure of the writer; what() is the text the user sees.
class AviWriterError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// "8004406F": a 32-bit result as 8 upper-case hexadecimal digits.
std::string HexResult(vfw::HRESULT result);

class TAviWriter_2 {
 public:
  // The screen size stands in for the platform's: Width and Height start at a tenth of it.
  explicit TAviWriter_2(int screen_width = 1024, int screen_height = 768);
  ~TAviWriter_2();
  TAviWriter_2(const TAviWriter_2&) = delete;
  TAviWriter_2& operator=(const TAviWriter_2&) = delete;

  // Plain settings, read when the video is opened or the first frame arrives.
  int Width;
  int Height;
  int FrameTime = 1000;  // milliseconds per frame
  bool Stretch = true;
  std::filesystem::path filename;
  std::filesystem::path ScratchFileName;

  gdi::PixelFormat PixelFormat() const { return pixel_format_; }
  // 1, 4, 8, 24 or 32 bits; anything else raises "Pixelformat not supported".
  void SetPixelFormat(gdi::PixelFormat format);

  const std::filesystem::path& WavFileName() const { return wav_file_name_; }
  // Empty: no sound. Otherwise the name must end in ".wav" (any case).
  void SetWavFileName(const std::filesystem::path& name);

  const std::string& CompressorCode() const { return compressor_code_; }
  int Quality() const { return quality_; }
  int FramesWritten() const { return frames_written_; }
  bool VideoOpen() const { return video_open_; }
  bool ReadyToSave() const { return ready_to_save_; }
  std::span<const std::uint8_t> FrameFormat() const { return frame_format_; }
  int FrameFormatSize() const { return frame_format_size_; }
  const vfw::AVISTREAMINFO& StreamHeader() const { return stream_header_; }
  const vfw::AVICOMPRESSOPTIONS& CompressOptions() const { return compress_options_; }

  // Empty code: no compression. Otherwise the first four characters must
  // name a compressor that takes the current frame format.
  void SelectCompressor(const std::string& code);
  void SetQuality(int value) { quality_ = value; }
  // "No Compression", then "<code> <name>" for every compressor that takes the frame format.
  // With `ask`, an entry whose text it refuses is left out unasked: asking
  // opens the encoder, which costs time for some.
  void ListCompressors(std::vector<std::string>& list,
                       const std::function<bool(const std::string& entry)>& ask = {});
  void ConfigureCompressor(vfw::HWND parent);

  void OpenVideo();
  void AppendFrame(const gdi::Bitmap& bitmap);
  void CloseVideo();
  void SaveVideo();
  // Drops a video that will not be saved (its frames failed): the handles
  // go, the scratch file is deleted, the writer is idle again.
  void AbandonVideo();

 private:
  vfw::BITMAPINFOHEADER QueryHeader() const;
  void WriteFrameBits(const gdi::Bitmap& bitmap, bool key);
  void PrepareFormat(const gdi::Bitmap& first);
  void OpenSound();
  void ReleaseAviFile();
  void ReleaseStreams();

  gdi::PixelFormat pixel_format_ = gdi::PixelFormat::pf24bit;
  std::filesystem::path wav_file_name_;
  std::string compressor_code_;
  int quality_ = 5000;
  int frames_written_ = 0;
  bool video_open_ = false;
  bool ready_to_save_ = false;
  vfw::PAVIFILE avi_file_ = nullptr;
  vfw::PAVISTREAM video_stream_ = nullptr;
  vfw::PAVISTREAM audio_stream_ = nullptr;
  std::vector<std::uint8_t> frame_format_;
  int frame_format_size_ = 0;
  vfw::AVISTREAMINFO stream_header_;
  vfw::AVICOMPRESSOPTIONS compress_options_;
};

// dwKeyFrameEvery for a frame time: 1000 / frame_time rounded to the nearest, halves to even.
int KeyFrameEvery(int frame_time);

// Checked while the output file is written; true abandons it ("interrupted").
void SetSaveInterrupt(bool (*interrupted)());

}  // namespace quarvel::avi
