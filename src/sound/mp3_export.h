#pragma once
// MP3 export: the recording file converted by the external encoder "lame".

#include <array>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace quarvel::sound {

inline constexpr std::array<std::string_view, 2> kMp3BitRateEntries = {"128kbit/s", "224kbit/s"};
inline constexpr std::array<int, 2> kMp3BitRates = {128, 224};
inline constexpr int kDefaultMp3BitRateEntry = 0;
inline constexpr std::string_view kMp3DoneLabel = "MP3 Create";
inline constexpr std::string_view kMp3Filter = "MP3|*.mp3";
inline constexpr std::string_view kMp3DefaultExtension = "mp3";

// The bit rate of a bit-rate list entry; the first entry's for no selection.
int Mp3BitRateForEntry(int index);

// "lame" beside the executable when it is there and executable, else plain
// "lame" for a search of the PATH.
std::filesystem::path FindMp3Encoder();

// encoder -b <rate> -h -q 2 -d <recording> <mp3>, one argument each, so that
// no name needs quoting.
std::vector<std::string> Mp3CommandLine(const std::filesystem::path& encoder, int bit_rate,
                                        const std::filesystem::path& recording, const std::filesystem::path& mp3);

// Starts argv[0] (searched on the PATH when it holds no '/') with the
// arguments, waits for it and returns its exit code; 128 + the signal when a
// signal ended it; -1 when it could not be started. `quiet`: its standard
// error goes nowhere. When `stop` turns true the program is ended (SIGTERM).
int RunAndWait(const std::vector<std::string>& argv, bool quiet = false, const std::function<bool()>& stop = {});

struct Mp3ExportResult {
  int exit_code = 0;
  std::string frame_label;  // always kMp3DoneLabel
  std::string error;        // empty when the encoder ran and succeeded
  bool stopped = false;     // `stop` ended the encoder
};

// Runs the encoder on the recording file (paths::RecordingFilePath()) and
// blocks until it ends. The front end shows the save dialog first and does
// not call this when the user cancels. `quiet` keeps the encoder's own
// progress off the terminal.
// `stop` (Ctrl-C) ends the encoder. A failed write names its cause (a full
// disk...), which the encoder itself does not.
Mp3ExportResult ExportMp3(const std::filesystem::path& mp3_file, int bit_rate_entry, bool quiet = false,
                          const std::function<bool()>& stop = {});

}  // namespace quarvel::sound
