#include "sound/recording_file.h"

#include <algorithm>
#include <fstream>
#include <system_error>

#include "platform/audio/wave_file.h"
#include "platform/paths/working_folder.h"

namespace quarvel::sound {

std::string_view TemplateForSoundQuality(int index) {
  if (index < 0 || index >= static_cast<int>(kRecordingTemplates.size())) return {};
  return kRecordingTemplates[static_cast<std::size_t>(index)];
}

std::array<std::uint8_t, 44> PcmRecordingHeader() {
  const std::vector<std::uint8_t> bytes = audio::WaveHeader(audio::WaveFormat::Pcm(2, 44100, 16), 0);
  std::array<std::uint8_t, 44> header{};
  std::copy_n(bytes.begin(), header.size(), header.begin());
  return header;
}

bool PrepareRecordingFile(std::string_view template_name, const std::filesystem::path& path) {
  if (!template_name.empty()) {
    std::error_code ignored;
    std::filesystem::copy_file(paths::DataFilePath(template_name), path,
                               std::filesystem::copy_options::overwrite_existing, ignored);
    return true;
  }
  const auto header = PcmRecordingHeader();
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(header.data()), static_cast<std::streamsize>(header.size()));
  out.close();
  return !out.fail();
}

std::optional<long long> RecordingLengthMs(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::vector<std::uint8_t> head(64 * 1024);
  in.read(reinterpret_cast<char*>(head.data()), static_cast<std::streamsize>(head.size()));
  head.resize(static_cast<std::size_t>(in.gcount()));
  std::error_code ec;
  const auto size = std::filesystem::file_size(path, ec);
  if (ec) return std::nullopt;
  audio::WaveInfo info;
  try {
    info = audio::ParseWave(head);
  } catch (const audio::WaveError&) {
    return std::nullopt;
  }
  // The header read is clipped to what was read; the file may hold more.
  std::uint64_t data = 0;
  if (info.data_offset < size) {
    std::uint32_t declared_size = 0;
    if (info.data_offset >= 4 && info.data_offset <= head.size()) {
      const std::uint8_t* p = head.data() + info.data_offset - 4;
      declared_size = p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
    }
    data = std::min<std::uint64_t>(declared_size, size - info.data_offset);
  }
  const audio::WaveFormat& f = info.format;
  if (f.format_tag == audio::kWaveFormatImaAdpcm && f.SamplesPerBlock() > 0 && f.sample_rate > 0) {
    std::uint64_t samples = data / f.block_align * f.SamplesPerBlock();
    if (info.fact_samples) samples = std::min<std::uint64_t>(samples, *info.fact_samples);
    return static_cast<long long>(samples * 1000 / f.sample_rate);
  }
  if (f.avg_bytes_per_sec == 0) return 0;
  return static_cast<long long>(data * 1000 / f.avg_bytes_per_sec);
}

}  // namespace quarvel::sound
