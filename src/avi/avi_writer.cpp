#include "avi/avi_writer.h"

#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <system_error>

namespace quarvel::avi {

namespace fs = std::filesystem;
using namespace vfw;

std::string HexResult(HRESULT result) {
  char text[16];
  std::snprintf(text, sizeof text, "%08X", static_cast<unsigned>(static_cast<std::uint32_t>(result)));
  return text;
}

int KeyFrameEvery(int frame_time) {
  if (frame_time <= 0) return 0;
  int q = 1000 / frame_time, r = 1000 % frame_time;
  if (2 * r > frame_time || (2 * r == frame_time && q % 2 != 0)) ++q;
  return q;
}

namespace {

constexpr LONG kNoSaveAbort = 0;

std::atomic<bool (*)()> g_save_interrupt{nullptr};

LONG SaveProgress(int /*percent*/) {
  const auto interrupted = g_save_interrupt.load();
  return interrupted && interrupted() ? 1 : kNoSaveAbort;
}

bool SameIgnoringCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  return true;
}

int BitsOf(gdi::PixelFormat f) {
  switch (f) {
    case gdi::PixelFormat::pf1bit: return 1;
    case gdi::PixelFormat::pf4bit: return 4;
    case gdi::PixelFormat::pf8bit: return 8;
    case gdi::PixelFormat::pf15bit:
    case gdi::PixelFormat::pf16bit: return 16;
    case gdi::PixelFormat::pf24bit: return 24;
    case gdi::PixelFormat::pf32bit: return 32;
    default: return 0;
  }
}

std::string NarrowName(const char16_t* name, std::size_t capacity) {
  std::string out;
  for (std::size_t i = 0; i < capacity && name[i] != u'\0'; ++i)
    out.push_back(name[i] < 256 ? char(name[i]) : '?');
  return out;
}

// The short name fills at most 15 characters; a name cut there reads
// better from the description, without its note in brackets.
std::string EntryName(const ICINFO& info) {
  std::string name = NarrowName(info.szName, 16);
  if (name.size() < 15) return name;
  std::string description = NarrowName(info.szDescription, 128);
  description = description.substr(0, description.find(" ("));
  return description.starts_with(name) ? description : name;
}

// What GetLastError says for a bitmap without a DIB section.
constexpr int kErrorInvalidParameter = 87;

}  // namespace

TAviWriter_2::TAviWriter_2(int screen_width, int screen_height)
    : Width(screen_width / 10), Height(screen_height / 10) {
  AVIFileInit();
  std::error_code ec;
  fs::path temp = fs::temp_directory_path(ec);
  if (ec) temp = "/tmp";
  ScratchFileName = temp / "~AWTemp.avi";
}

TAviWriter_2::~TAviWriter_2() {
  frame_format_.clear();
  ReleaseStreams();
  ReleaseAviFile();
  std::error_code ec;
  if (fs::exists(ScratchFileName, ec)) fs::remove(ScratchFileName, ec);
  AVIFileExit();
}

void TAviWriter_2::SetPixelFormat(gdi::PixelFormat format) {
  switch (format) {
    case gdi::PixelFormat::pf1bit:
    case gdi::PixelFormat::pf4bit:
    case gdi::PixelFormat::pf8bit:
    case gdi::PixelFormat::pf24bit:
    case gdi::PixelFormat::pf32bit: pixel_format_ = format; return;
    default: throw AviWriterError("Pixelformat not supported");
  }
}

void TAviWriter_2::SetWavFileName(const fs::path& name) {
  if (SameIgnoringCase(name.string(), wav_file_name_.string())) return;
  if (name.empty()) {
    wav_file_name_.clear();
    return;
  }
  if (!SameIgnoringCase(name.extension().string(), ".wav"))
    throw AviWriterError("WavFileName must name a file with the .wav extension");
  wav_file_name_ = name;
}

BITMAPINFOHEADER TAviWriter_2::QueryHeader() const {
  BITMAPINFOHEADER h;
  h.biSize = 40;
  h.biWidth = Width;
  h.biHeight = Height;
  h.biPlanes = 1;
  h.biBitCount = WORD(BitsOf(pixel_format_));
  h.biCompression = BI_RGB;
  return h;
}

void TAviWriter_2::ListCompressors(std::vector<std::string>& list,
                                   const std::function<bool(const std::string& entry)>& ask) {
  list.clear();
  list.push_back("No Compression");
  BITMAPINFOHEADER query = QueryHeader();
  for (DWORD i = 0; i <= 200; ++i) {
    ICINFO info;
    info.dwSize = sizeof(ICINFO);
    if (!ICInfo(ICTYPE_VIDEO, i, &info)) continue;
    if (ask && !ask(FourCCToString(info.fccHandler) + " " + EntryName(info))) continue;
    HIC hic = ICOpen(ICTYPE_VIDEO, info.fccHandler, ICMODE_QUERY);
    if (!hic) continue;
    if (ICCompressQuery(hic, &query, nullptr) == ICERR_OK) {
      ICGetInfo(hic, &info, sizeof(ICINFO));
      list.push_back(FourCCToString(info.fccHandler) + " " + EntryName(info));
    }
    ICClose(hic);
  }
}

void TAviWriter_2::SelectCompressor(const std::string& code_in) {
  std::string code = code_in.substr(0, 4);
  compressor_code_.clear();
  if (code.empty()) return;
  BITMAPINFOHEADER query = QueryHeader();
  HIC hic = ICLocate(ICTYPE_VIDEO, mmioStringToFOURCC(code, 0), &query, nullptr, ICMODE_COMPRESS);
  if (!hic) throw AviWriterError("No compressor for " + code + " available");
  compressor_code_ = code;
  ICClose(hic);
}

void TAviWriter_2::ConfigureCompressor(HWND parent) {
  if (compressor_code_.empty()) return;
  HIC hic = ICOpen(ICTYPE_VIDEO, mmioStringToFOURCC(compressor_code_, 0), ICMODE_QUERY);
  if (!hic) return;
  if (ICSendMessage(hic, ICM_CONFIGURE, DWORD_PTR(-1), ICMF_CONFIGURE_QUERY) == ICERR_OK)
    ICSendMessage(hic, ICM_CONFIGURE, reinterpret_cast<DWORD_PTR>(parent), 0);
  ICClose(hic);
}

void TAviWriter_2::ReleaseStreams() {
  if (video_stream_) AVIStreamRelease(video_stream_);
  video_stream_ = nullptr;
  if (audio_stream_) AVIStreamRelease(audio_stream_);
  audio_stream_ = nullptr;
}

void TAviWriter_2::ReleaseAviFile() {
  if (avi_file_)
    while (AVIFileRelease(avi_file_) > 0) {
    }
  avi_file_ = nullptr;
}

void TAviWriter_2::OpenVideo() {
  // Handles left by a video that failed before its save would hold the old
  // scratch file; let them go rather than leak them.
  ReleaseStreams();
  ReleaseAviFile();
  ready_to_save_ = false;

  std::error_code ec;
  if (fs::exists(ScratchFileName, ec)) {
    if (!fs::remove(ScratchFileName, ec) || ec)
      throw AviWriterError("Could not delete " + ScratchFileName.string() +
                           " file might be in use. Try to close the folder if it's open in Explorer");
  }
  errno = 0;
  // Packed: the pictures wait deflated, not raw.
  HRESULT r = AVIFileOpen(&avi_file_, ScratchFileName, OF_WRITE | OF_CREATE | OF_PACKED, nullptr);
  if (r != AVIERR_OK) {
    avi_file_ = nullptr;
    // The system's reason, when it gave one, names what went wrong.
    const std::string cause = errno != 0 ? std::string(": ") + std::strerror(errno) : std::string();
    throw AviWriterError("Failed to create AVI video file " + ScratchFileName.string() + cause +
                         " (Err: $" + HexResult(r) + ")");
  }
  stream_header_ = AVISTREAMINFO{};
  stream_header_.fccType = streamtypeVIDEO;
  stream_header_.fccHandler = compressor_code_.empty() ? 0 : mmioStringToFOURCC(compressor_code_, 0);
  stream_header_.dwScale = DWORD(FrameTime);
  stream_header_.dwRate = 1000;
  stream_header_.dwQuality = DWORD(quality_);
  stream_header_.dwFlags = 0;
  stream_header_.dwSuggestedBufferSize = 0;
  stream_header_.rcFrame = RECT{0, 0, Width, Height};
  r = AVIFileCreateStream(avi_file_, &video_stream_, &stream_header_);
  if (r != AVIERR_OK) {
    video_stream_ = nullptr;
    throw AviWriterError("Failed to create AVI video stream");
  }
  frames_written_ = 0;
  video_open_ = true;
}

void TAviWriter_2::AppendFrame(const gdi::Bitmap& bitmap) {
  if (!video_open_) throw AviWriterError("Video must be initialized.");
  // A bitmap that already is the frame would be drawn onto itself pixel for pixel.
  bool same_palette = !gdi::IsPalettized(pixel_format_) || bitmap.Palette() == gdi::DefaultPalette(pixel_format_);
  if (Stretch && bitmap.Width() == Width && bitmap.Height() == Height && bitmap.Format() == pixel_format_ &&
      same_palette) {
    WriteFrameBits(bitmap, true);
    return;
  }
  gdi::Bitmap frame(Width, Height, pixel_format_);
  if (Stretch) {
    gdi::StretchBlt(frame, 0, 0, Width, Height, bitmap, 0, 0, bitmap.Width(), bitmap.Height());
  } else {
    gdi::FillRect(frame, gdi::Rect{0, 0, Width, Height}, gdi::Color{0, 0, 0});
    gdi::BitBlt(frame, (Width - bitmap.Width()) / 2, (Height - bitmap.Height()) / 2, bitmap.Width(),
                bitmap.Height(), bitmap, 0, 0);
  }
  WriteFrameBits(frame, true);
}

void TAviWriter_2::WriteFrameBits(const gdi::Bitmap& bitmap, bool key) {
  if (frames_written_ == 0) PrepareFormat(bitmap);
  if (bitmap.Empty()) throw AviWriterError("Failed to retrieve bitmap header and pixels. Err: " +
                                           std::to_string(kErrorInvalidParameter));
  HRESULT r;
  errno = 0;
  try {
    r = AVIStreamWrite(video_stream_, frames_written_, 1, bitmap.Bits().data(), LONG(bitmap.Bits().size()),
                       key ? AVIIF_KEYFRAME : 0, nullptr, nullptr);
  } catch (const std::exception&) {
    r = AVIERR_ERROR;
  }
  // A write that the file system refused says why (a full disk).
  if (r == AVIERR_FILEWRITE && errno != 0) {
    throw AviWriterError("cannot write frame " + std::to_string(frames_written_ + 1) + " to " +
                         ScratchFileName.string() + ": " + std::strerror(errno));
  }
  if (r != AVIERR_OK) throw AviWriterError("Failed to add Frame. Err: " + HexResult(r));
  ++frames_written_;
}

void TAviWriter_2::PrepareFormat(const gdi::Bitmap& first) {
  if (first.Empty()) throw AviWriterError("Failed to retrieve bitmap header and pixels. Err: " +
                                          std::to_string(kErrorInvalidParameter));
  int bits = first.BitsPerPixel();
  std::size_t colours = bits <= 8 ? (std::size_t{1} << bits) : 0;
  frame_format_size_ = int(40 + 4 * colours);
  frame_format_.assign(std::size_t(frame_format_size_), 0);

  if (first.Bits().size() != first.Stride() * std::size_t(first.Height()))
    throw AviWriterError("Failed to retrieve bitmap info");
  BITMAPINFOHEADER h;
  h.biSize = 40;
  h.biWidth = first.Width();
  h.biHeight = first.Height();
  h.biPlanes = 1;
  h.biBitCount = WORD(bits);
  h.biCompression = BI_RGB;
  h.biSizeImage = DWORD(first.Bits().size());
  std::memcpy(frame_format_.data(), &h, sizeof h);
  const auto& palette = first.Palette();
  for (std::size_t i = 0; i < colours && i < palette.size(); ++i) {
    std::uint8_t* q = frame_format_.data() + 40 + 4 * i;
    q[0] = palette[i].b;
    q[1] = palette[i].g;
    q[2] = palette[i].r;
    q[3] = 0;
  }

  compress_options_ = AVICOMPRESSOPTIONS{};
  if (!compressor_code_.empty()) {
    compress_options_.fccType = streamtypeVIDEO;
    compress_options_.fccHandler = mmioStringToFOURCC(compressor_code_, 0);
    compress_options_.dwKeyFrameEvery = DWORD(KeyFrameEvery(FrameTime));
    compress_options_.dwQuality = DWORD(quality_);
    compress_options_.dwFlags = AVICOMPRESSF_KEYFRAMES | AVICOMPRESSF_VALID;
    compress_options_.lpFormat = frame_format_.data();
    compress_options_.cbFormat = DWORD(frame_format_size_);
  }
  if (AVIStreamSetFormat(video_stream_, 0, frame_format_.data(), frame_format_size_) != AVIERR_OK)
    throw AviWriterError("Failed to set AVI stream format");
}

void TAviWriter_2::CloseVideo() {
  video_open_ = false;
  ready_to_save_ = true;
}

void TAviWriter_2::OpenSound() {
  PAVIFILE sound = nullptr;
  HRESULT r = AVIFileOpen(&sound, wav_file_name_, OF_READ, nullptr);
  if (r != AVIERR_OK) {
    wav_file_name_.clear();
    switch (static_cast<std::uint32_t>(r)) {
      case 0x80040154u:
        throw AviWriterError(
            "According to the registry, the type of audio file specified in AVIFileOpen does not have a handler to "
            "process it.");
      case 0x80044066u:
        throw AviWriterError("The file could not be read, indicating a corrupt file or an unrecognized format.");
      case 0x80044067u: throw AviWriterError("The file could not be opened because of insufficient memory.");
      case 0x8004406Du: throw AviWriterError("A disk error occurred while reading the audio file.");
      case 0x8004406Fu: throw AviWriterError("A disk error occurred while opening the audio file.");
      default: throw AviWriterError("Unknown error opening audio file");
    }
  }
  PAVISTREAM stream = nullptr;
  struct Release {
    PAVIFILE& file;
    PAVISTREAM& stream;
    ~Release() {
      if (stream) AVIStreamRelease(stream);
      if (file) AVIFileRelease(file);
    }
  } release{sound, stream};
  if (AVIFileGetStream(sound, &stream, streamtypeAUDIO, 0) != AVIERR_OK) {
    stream = nullptr;
    throw AviWriterError("Unable to get audio stream");
  }
  if (CreateEditableStream(&audio_stream_, stream) != AVIERR_OK) {
    audio_stream_ = nullptr;
    throw AviWriterError("Failed to create editable AVI audio stream");
  }
}

void SetSaveInterrupt(bool (*interrupted)()) { g_save_interrupt.store(interrupted); }

void TAviWriter_2::AbandonVideo() {
  ReleaseStreams();
  ReleaseAviFile();
  std::error_code ec;
  if (fs::exists(ScratchFileName, ec)) fs::remove(ScratchFileName, ec);
  video_open_ = false;
  ready_to_save_ = false;
}

void TAviWriter_2::SaveVideo() {
  if (!ready_to_save_) {
    if (video_stream_) AVIStreamRelease(video_stream_);
    video_stream_ = nullptr;
    ReleaseAviFile();
    throw AviWriterError("Video must be finalized");
  }
  struct Cleanup {
    TAviWriter_2& w;
    ~Cleanup() {
      w.ReleaseStreams();
      std::error_code ec;
      if (fs::exists(w.ScratchFileName, ec)) fs::remove(w.ScratchFileName, ec);
      w.ReleaseAviFile();
      w.ready_to_save_ = false;
    }
  } cleanup{*this};

  bool sound = !wav_file_name_.empty();
  if (sound) OpenSound();
  std::error_code ec;
  if (fs::exists(filename, ec)) {
    if (!fs::remove(filename, ec) || ec)
      throw AviWriterError("File " + filename.filename().string() +
                           " could not be deleted. It could be in use by another application.");
  }
  PAVISTREAM streams[2] = {video_stream_, audio_stream_};
  AVICOMPRESSOPTIONS* options[2] = {compressor_code_.empty() ? nullptr : &compress_options_, nullptr};
  errno = 0;
  HRESULT r = AVISaveV(filename, nullptr, SaveProgress, sound ? 2 : 1, streams, options);
  if (r != AVIERR_OK) {
    const int err = errno;
    const auto interrupted = g_save_interrupt.load();
    if (interrupted && interrupted()) throw AviWriterError(filename.string() + ": interrupted");
    if (err != 0 && r == AVIERR_FILEWRITE) throw AviWriterError("cannot write " + filename.string() + ": " + std::strerror(err));
    throw AviWriterError("Unable to write output file. Error " + HexResult(r));
  }
}

}  // namespace quarvel::avi
