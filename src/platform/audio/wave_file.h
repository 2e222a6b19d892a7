#pragma once
// RIFF WAVE headers: the one writer of them in Quarvel, and a bounded reader.

#include <cstdint>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace quarvel::audio {

inline constexpr std::uint16_t kWaveFormatPcm = 1;
inline constexpr std::uint16_t kWaveFormatImaAdpcm = 0x11;

// A fault in a WAVE file, naming what is wrong.
class WaveError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The "fmt " chunk. `extra` holds the bytes after cbSize (for IMA ADPCM the
// 16-bit samples per block).
struct WaveFormat {
  std::uint16_t format_tag = kWaveFormatPcm;
  std::uint16_t channels = 0;
  std::uint32_t sample_rate = 0;
  std::uint32_t avg_bytes_per_sec = 0;
  std::uint16_t block_align = 0;
  std::uint16_t bits_per_sample = 0;
  std::vector<std::uint8_t> extra;

  // avg bytes = channels × rate × (bits ÷ 8), block align = (bits ÷ 8) × channels.
  static WaveFormat Pcm(std::uint16_t channels, std::uint32_t rate, std::uint16_t bits);
  // IMA ADPCM with the given block size; samples per block and the average
  // byte rate (rate × block align ÷ samples per block) follow from it.
  static WaveFormat ImaAdpcm(std::uint16_t channels, std::uint32_t rate, std::uint16_t block_align);

  // IMA ADPCM samples per block (per channel); 0 for other formats.
  std::uint16_t SamplesPerBlock() const;

  bool operator==(const WaveFormat&) const = default;
};

// The header of a WAVE file whose data chunk holds `data_size` bytes: RIFF,
// fmt (16 bytes for plain PCM, else 18 + extra), an optional fact chunk with
// the sample count, and the data chunk's header. Plain PCM without fact gives
// the canonical 44 bytes.
std::vector<std::uint8_t> WaveHeader(const WaveFormat& format, std::uint32_t data_size,
                                     std::optional<std::uint32_t> fact_samples = std::nullopt);

struct WaveInfo {
  WaveFormat format;
  std::size_t data_offset = 0;
  std::size_t data_size = 0;  // clipped to what the file holds
  std::optional<std::uint32_t> fact_samples;
};

// Reads the chunks of a WAVE file image; throws WaveError on anything
// malformed. A missing data chunk counts as empty data.
WaveInfo ParseWave(std::span<const std::uint8_t> file);

}  // namespace quarvel::audio
