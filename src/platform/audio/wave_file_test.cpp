#include "platform/audio/wave_file.h"

#include <gtest/gtest.h>

namespace quarvel::audio {
namespace {

TEST(WaveFile, ImaAdpcmBlockGeometryAndByteRate) {
  // Samples per block and the true byte rate for the three recording rates.
  const struct { std::uint32_t rate; std::uint16_t block; std::uint16_t samples; std::uint32_t bytes; } cases[] = {
      {11025, 256, 505, 5588}, {22050, 512, 1017, 11100}, {44100, 1024, 2041, 22125}};
  for (const auto& c : cases) {
    const WaveFormat f = WaveFormat::ImaAdpcm(1, c.rate, c.block);
    EXPECT_EQ(f.SamplesPerBlock(), c.samples) << c.rate;
    EXPECT_EQ(f.avg_bytes_per_sec, c.bytes) << c.rate;
    EXPECT_EQ(f.bits_per_sample, 4);
  }
  EXPECT_THROW(WaveFormat::ImaAdpcm(2, 11025, 8), WaveError);
}

TEST(WaveFile, HeaderRoundTripsThroughParser) {
  const WaveFormat adpcm = WaveFormat::ImaAdpcm(1, 22050, 512);
  std::vector<std::uint8_t> file = WaveHeader(adpcm, 3, 77);
  ASSERT_EQ(file.size(), 12u + 8u + 20u + 12u + 8u);
  file.insert(file.end(), {1, 2, 3, 0});  // data plus its pad byte
  const WaveInfo info = ParseWave(file);
  EXPECT_EQ(info.format, adpcm);
  EXPECT_EQ(info.fact_samples, 77u);
  EXPECT_EQ(info.data_offset, file.size() - 4);
  EXPECT_EQ(info.data_size, 3u);
  // RIFF size counts everything after its own field, pad included.
  EXPECT_EQ(file[4] | (file[5] << 8), static_cast<int>(file.size() - 8));

  const std::vector<std::uint8_t> pcm = WaveHeader(WaveFormat::Pcm(2, 44100, 16), 0);
  EXPECT_EQ(pcm.size(), 44u);
  EXPECT_EQ(ParseWave(pcm).format, WaveFormat::Pcm(2, 44100, 16));
}

TEST(WaveFile, MalformedFilesAreRejected) {
  std::vector<std::uint8_t> good = WaveHeader(WaveFormat::Pcm(1, 8000, 16), 0);
  EXPECT_THROW(ParseWave(std::span(good).first(11)), WaveError);

  auto no_fmt = good;
  no_fmt[12] = 'x';  // the fmt chunk becomes an unknown chunk
  EXPECT_THROW(ParseWave(no_fmt), WaveError);

  auto short_fmt = good;
  short_fmt[16] = 200;  // fmt claims more bytes than the file has
  EXPECT_THROW(ParseWave(short_fmt), WaveError);

  auto zero_channels = good;
  zero_channels[22] = 0;
  EXPECT_THROW(ParseWave(zero_channels), WaveError);

  // A data chunk longer than the file is clipped, not trusted.
  auto long_data = good;
  long_data[40] = 0xFF;
  long_data.insert(long_data.end(), 6, 0);
  EXPECT_EQ(ParseWave(long_data).data_size, 6u);
}

}  // namespace
}  // namespace quarvel::audio
