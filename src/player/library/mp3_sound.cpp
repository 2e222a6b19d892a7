#include "player/library/mp3_sound.h"

#include <string>

namespace quarvel::player {

namespace {

struct Mp3Scan {
  int rate = 0, channels = 0;
  std::uint64_t samples = 0;  // per channel
  std::size_t begin = 0, end = 0;
};

bool ScanMp3(std::string_view f, Mp3Scan& out) {
  std::size_t i = 0;
  if (f.size() >= 10 && f.compare(0, 3, "ID3") == 0) {
    i = 10 + ((static_cast<std::size_t>(f[6] & 0x7F) << 21) | ((f[7] & 0x7F) << 14) | ((f[8] & 0x7F) << 7) | (f[9] & 0x7F));
  }
  static const int kBitrates[2][16] = {{0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0},
                                       {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0}};
  static const int kSampleRates[3] = {44100, 48000, 32000};
  std::size_t frames = 0;
  while (i + 4 <= f.size()) {
    const auto b = [&](std::size_t k) { return static_cast<unsigned char>(f[i + k]); };
    if (b(0) != 0xFF || (b(1) & 0xE0) != 0xE0) {
      if (frames) break;  // the frames ended (a tag follows)
      ++i;                // not yet in sync
      continue;
    }
    const int version = (b(1) >> 3) & 3;  // 3 MPEG1, 2 MPEG2, 0 MPEG2.5
    const int layer = (b(1) >> 1) & 3;    // 1 Layer III
    const int bitrate = kBitrates[version == 3 ? 0 : 1][b(2) >> 4];
    const int rateIndex = (b(2) >> 2) & 3;
    if (version == 1 || layer != 1 || bitrate == 0 || rateIndex == 3) {
      if (frames) break;
      ++i;
      continue;
    }
    const int rate = kSampleRates[rateIndex] >> (version == 3 ? 0 : version == 2 ? 1 : 2);
    const int perFrame = version == 3 ? 1152 : 576;
    const std::size_t length = static_cast<std::size_t>(perFrame / 8 * bitrate * 1000 / rate + ((b(2) >> 1) & 1));
    if (!frames) {
      out.rate = rate;
      out.channels = (b(3) >> 6) == 3 ? 1 : 2;
      out.begin = i;
    }
    if (i + length > f.size()) break;
    out.samples += static_cast<std::uint64_t>(perFrame);
    ++frames;
    i += length;
    out.end = i;
  }
  return frames > 0;
}

void Put16(std::vector<std::uint8_t>& out, std::uint16_t v) {
  out.push_back(static_cast<std::uint8_t>(v));
  out.push_back(static_cast<std::uint8_t>(v >> 8));
}

}  // namespace

std::vector<std::uint8_t> Mp3AsDefineSound(std::uint16_t id, std::string_view file, int* rate) {
  Mp3Scan scan;
  if (rate) *rate = 0;
  if (!ScanMp3(file, scan)) return {};
  if (rate) *rate = scan.rate;
  // SoundRate codes 1 to 3; 5.5 kHz has no MPEG rate.
  const int code = scan.rate == 11025 ? 1 : scan.rate == 22050 ? 2 : scan.rate == 44100 ? 3 : -1;
  if (code < 0 || scan.samples > 0xFFFFFFFFull) return {};
  std::vector<std::uint8_t> body;
  Put16(body, id);
  // MP3, the rate, 16-bit, stereo or mono.
  body.push_back(static_cast<std::uint8_t>(2 << 4 | code << 2 | 2 | (scan.channels == 2 ? 1 : 0)));
  const auto samples = static_cast<std::uint32_t>(scan.samples);
  for (int k = 0; k < 4; ++k) body.push_back(static_cast<std::uint8_t>(samples >> (8 * k)));
  Put16(body, 0);  // SeekSamples
  body.insert(body.end(), file.begin() + static_cast<std::ptrdiff_t>(scan.begin),
              file.begin() + static_cast<std::ptrdiff_t>(scan.end));
  return body;
}

}  // namespace quarvel::player
