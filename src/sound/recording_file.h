#pragma once
// The recording file and the formats it can be recorded in.

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string_view>

namespace quarvel::sound {

// Entries of the recording-format list, in list order.
inline constexpr std::array<std::string_view, 4> kSoundQualityEntries = {
    "ADPCM 11025Hz x1", "ADPCM 22050Hz x1", "ADPCM 44100Hz x1", "PCM 44100Hz x2(MP3)"};
inline constexpr int kDefaultSoundQuality = 2;
inline constexpr int kPcmSoundQuality = 3;

// Templates beside the executable for the ADPCM entries.
inline constexpr std::array<std::string_view, 3> kRecordingTemplates = {"adpcm1.wav", "adpcm2.wav", "adpcm3.wav"};

// The template the entry's recording file is copied from; empty for the PCM
// entry and for an index that is no entry (no selection is -1).
std::string_view TemplateForSoundQuality(int index);

// MP3 export works on PCM recordings only.
inline bool Mp3ExportAvailable(int sound_quality_index) { return sound_quality_index == kPcmSoundQuality; }

// The 44-byte header of an empty 16-bit stereo 44100 Hz PCM WAVE file.
std::array<std::uint8_t, 44> PcmRecordingHeader();

// With a template name, copies that data file (see paths::DataFilePath) to
// `path`, overwriting; whether the copy worked is left to the open that
// follows. Without, writes PcmRecordingHeader() as the whole file at `path`.
// False only when the header cannot be written.
bool PrepareRecordingFile(std::string_view template_name, const std::filesystem::path& path);

// Length of the recording held by a WAVE file, in milliseconds; nullopt when
// there is no file or it is no WAVE file. Reads the header only.
std::optional<long long> RecordingLengthMs(const std::filesystem::path& path);

}  // namespace quarvel::sound
