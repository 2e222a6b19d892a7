#pragma once
// Test streams made with the ffmpeg program at run time, and its own
// decoding of them as the oracle.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "player/video/video_decoder.h"

namespace quarvel::player::video::testing {

bool HaveFfmpeg();
// A folder of this test process, removed at exit.
const std::filesystem::path& TempDir();
// Runs a shell command; true when it exits 0.
bool Run(const std::string& command);
std::vector<std::uint8_t> ReadFile(const std::filesystem::path& path);

// testsrc at size, 10 frames a second for one second, key frames every 5,
// encoded with `codec_args` into `name` (the extension picks the muxer).
// Made once per process; empty path when ffmpeg failed.
// extra_input: a second input (e.g. "-f lavfi -i sine") for a sound track.
std::filesystem::path MakeStream(const std::string& name, const std::string& codec_args, int width = 160,
                                 int height = 120, int seconds = 1, const std::string& extra_input = "");

// ffmpeg's own decoding of every frame to BGRA, in presentation order.
std::vector<std::vector<std::uint8_t>> OracleFrames(const std::filesystem::path& file, int width, int height);

// Mean absolute difference per channel of B, G and R; 255 when the sizes differ.
double MeanDiff(const Picture& picture, const std::vector<std::uint8_t>& bgra, int width, int height);

}  // namespace quarvel::player::video::testing
