#pragma once
// The "Save AVI" page without its widgets: the codec list and its default
// rule, the bit-depth and quality mappings, and the save itself.

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "avi/avi_writer.h"
#include "capture/crop_zoom.h"
#include "platform/gdi/bitmap.h"
#include "platform/vfw/compressors.h"

namespace quarvel::avi {

inline const std::vector<std::string> kBitDepthItems = {"  1 Bit ", "  4 Bit  ", "  8 Bit", "24 Bit", "32 Bit"};
inline constexpr int kDefaultBitDepthIndex = 3;
inline const std::vector<std::string> kQualityItems = {"Highest Quality", "Very High Quality", "High Quality",
                                                       "Medium Quality", "Low Quality"};
inline constexpr int kDefaultQualityIndex = 3;
inline constexpr const char* kCodecBoxPlaceholder = "Video Encoder";
inline constexpr const char* kNoCompression = "No Compression";

inline constexpr const char* kNoFileNameMessage = "Choose an output file name first";
inline constexpr const char* kNoImagesMessage = "No images selected.";
inline constexpr const char* kOverwriteQuestion = "File exists, overwrite?";
inline constexpr const char* kFinalizeLabel = "Finalize Video, Please Waiting ...";
inline constexpr const char* kWriteLabel = "Write Video, Please Waiting ...";
inline constexpr const char* kDoneLabel = "Avi Done";

// The codec box: its entries and the selected index (-1: none).
struct CodecBox {
  std::vector<std::string> items;
  int selected = -1;
};

// Bit-depth box index to pixel format; nullopt (unchanged) outside 0..4.
std::optional<gdi::PixelFormat> PixelFormatForDepthIndex(int index);
// Quality box index to quality; 10000 outside 0..4.
int QualityForIndex(int index);
// The first entry containing "DIVX", else the first containing "WMV", else 0.
int DefaultCodecIndex(const std::vector<std::string>& items);

// Quality change and codec change: copy the box into the writer.
void ApplyQuality(TAviWriter_2& writer, int quality_index);
void ApplyCodec(TAviWriter_2& writer, const CodecBox& box);

// Rebuilds the codec box for the writer's frame size and depth, picks the
// default entry, then applies quality and codec.
CodecBox FillCodecList(TAviWriter_2& writer, int quality_index);
// The same with another compressor table installed while it runs.
CodecBox FillCodecList(TAviWriter_2& writer, int quality_index, const vfw::CompressorTable& table);
// Bit-depth change: the new depth, then FillCodecList.
CodecBox ChangeBitDepth(TAviWriter_2& writer, int depth_index, int quality_index);
// "Advance": the chosen compressor's settings, when one is chosen.
void ConfigureChosenCodec(TAviWriter_2& writer, const CodecBox& box, vfw::HWND parent);

struct AviSaveOptions {
  std::filesystem::path output;      // the name chosen in the save dialog
  // Where the uncompressed frames wait for the save pass; empty: beside the
  // output. A front end with a working folder keeps them off the output's disk.
  std::filesystem::path scratch_folder;
  long long captured_frame_count = 0;
  capture::CropZoom crop_zoom;
  int latency_ms = 250;              // becomes the frame time
  bool audio = true;                 // join the recording as sound
  gdi::PixelFormat pixel_format = gdi::PixelFormat::pf24bit;
  int quality_index = kDefaultQualityIndex;
  CodecBox codec;
  // Size of the preview image; 0 x 0: the first stored frame after crop and zoom.
  int preview_width = 0;
  int preview_height = 0;
};

struct AviSaveCallbacks {
  // "File exists, overwrite?" (Yes / No); without one the answer is No.
  std::function<bool(const std::filesystem::path& output)> ask_overwrite;
  // Frees the recording file: the recorder's open session is closed.
  std::function<void()> close_recorder;
  // Frame label text and progress bar position; kDoneLabel ends the save.
  std::function<void(const std::string& label, int percent)> progress;
};

struct AviSaveOutcome {
  bool saved = false;
  std::string message;  // what to show when a check stopped the save; empty otherwise
};

// "Save to AVI" after the save dialog. Checks stop it with a message; a
// failure of the writer, of a codec change or of a frame file is thrown.
AviSaveOutcome SaveToAvi(TAviWriter_2& writer, const AviSaveOptions& options, const AviSaveCallbacks& callbacks);

// The box FillCodecList makes, reduced to "No Compression" and the entry it
// would select: only the compressors that could be that entry are asked.
CodecBox DefaultCodecBox(TAviWriter_2& writer, int quality_index);

// SaveToAvi in two halves, for pictures handed over while the capture
// runs instead of read from the store. The first half takes the options'
// depth, quality, codec and latency, the preview size (required) and the
// scratch file's name (`scratch`), and opens the video; each picture (frame
// file n's, or the one before for a number the capture left out) then goes
// in through AppendStoredFrame. FinishAviSave joins the recording when
// options.audio says so and writes options.output.
void BeginAviSave(TAviWriter_2& writer, const AviSaveOptions& options, const std::filesystem::path& scratch);
void AppendStoredFrame(TAviWriter_2& writer, const gdi::Bitmap& picture, const capture::CropZoom& crop_zoom);
void FinishAviSave(TAviWriter_2& writer, const AviSaveOptions& options, const AviSaveCallbacks& callbacks);

// 102 -> 104: frame sizes go up to the next multiple of 8.
int RoundUpTo8(int size);

}  // namespace quarvel::avi
