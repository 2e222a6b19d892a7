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

}  // namespace quarvel::sound
