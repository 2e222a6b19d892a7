#pragma once
// The installable compressors behind ICInfo/ICOpen/ICLocate: each one a
// four-character code, a short name and the FFmpeg encoder that does the work.

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "platform/vfw/vfw.h"

namespace quarvel::vfw {

// What a compressor's settings dialog may change; kept for the run of the program.
struct CompressorSettings {
  int bit_rate = 0;            // bits per second; 0: follow the quality
  int key_frame_interval = 0;  // frames; 0: follow the save's key-frame option
  friend bool operator==(const CompressorSettings&, const CompressorSettings&) = default;
};

struct Compressor {
  FOURCC code = 0;
  std::string name;         // short name, at most 15 characters
  std::string description;
  std::string encoder;      // FFmpeg encoder name; empty: none (a stand-in for tests)
  bool lossless = false;
  bool has_settings = false;
  // Replaces the encoder's own answer to ICM_COMPRESS_QUERY (for test stand-ins).
  std::function<LRESULT(const BITMAPINFOHEADER&)> query;
  CompressorSettings settings;
};

class CompressorTable {
 public:
  CompressorTable() = default;
  explicit CompressorTable(std::vector<Compressor> entries);

  // Every known compressor whose encoder the linked libavcodec has.
  static CompressorTable Detect();

  std::size_t Size() const { return entries_.size(); }
  const Compressor& At(std::size_t i) const { return *entries_.at(i); }
  Compressor& At(std::size_t i) { return *entries_.at(i); }
  // Codes compare ignoring letter case, as the platform's driver names do.
  std::shared_ptr<Compressor> Find(FOURCC code) const;
  std::shared_ptr<Compressor> Entry(std::size_t i) const { return entries_.at(i); }

 private:
  std::vector<std::shared_ptr<Compressor>> entries_;
};

// The table that ICInfo, ICOpen, ICLocate and AVISaveV consult; detected on first use.
CompressorTable& InstalledCompressors();

// Installs another table for the lifetime of the guard (tests, fakes).
class ScopedCompressorTable {
 public:
  explicit ScopedCompressorTable(CompressorTable table);
  ~ScopedCompressorTable();
  ScopedCompressorTable(const ScopedCompressorTable&) = delete;
  ScopedCompressorTable& operator=(const ScopedCompressorTable&) = delete;

 private:
  CompressorTable previous_;
};

// The settings dialog of the front end; returns true when the user accepted.
using ConfigureDialog = std::function<bool(HWND parent, const Compressor&, CompressorSettings&)>;
void SetConfigureDialog(ConfigureDialog dialog);

// Quality 0..10000 on the encoders' own scales.
int QScaleForQuality(int quality);  // MPEG-style quantiser 1..31, 10000 -> 2, 4000 -> 8
int CrfForQuality(int quality);     // H.264 constant rate factor, 10000 -> 16, 4000 -> 28

// ICM_COMPRESS_QUERY of an encoder: can it take frames of that header?
LRESULT QueryEncoder(const Compressor& compressor, const BITMAPINFOHEADER& in);

}  // namespace quarvel::vfw
