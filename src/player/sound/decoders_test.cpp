#include "player/sound/decoders.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <iterator>
#include <random>

namespace quarvel::player::sound {
namespace {

std::vector<std::uint8_t> RandomBytes(std::size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::vector<std::uint8_t> v(n);
  for (auto& b : v) b = static_cast<std::uint8_t>(rng());
  return v;
}

// Zero crossings per second of the left channel of 44100 Hz stereo.
double Frequency(const std::vector<std::int16_t>& stereo) {
  int crossings = 0;
  for (std::size_t i = 2; i < stereo.size(); i += 2) {
    if ((stereo[i - 2] < 0) != (stereo[i] < 0)) ++crossings;
  }
  return crossings / 2.0 / (static_cast<double>(stereo.size() / 2) / 44100.0);
}

TEST(Adpcm, MatchesLibavcodecForEveryCodeSizeAndChannelCount) {
  ASSERT_TRUE(AvDecoder::Available(AvDecoder::Kind::kAdpcmSwf));
  // Lengths: inside the first packet, just past one, several packets with a
  // short tail.
  for (int channels : {1, 2}) {
    for (unsigned bits = 2; bits <= 5; ++bits) {
      for (std::size_t len : {std::size_t{40}, std::size_t{4096 * 5 / 8 + 13}, std::size_t{9000}}) {
        auto data = RandomBytes(len, bits * 100 + static_cast<unsigned>(channels) + static_cast<unsigned>(len));
        data[0] = static_cast<std::uint8_t>((data[0] & 0x3F) | ((bits - 2) << 6));
        const auto ours = DecodeAdpcm(data, channels);
        AvDecoder ref(AvDecoder::Kind::kAdpcmSwf, 22050, channels);
        std::vector<std::int16_t> theirs;
        ref.Decode(data, theirs);
        ASSERT_EQ(ours.size(), theirs.size()) << bits << " bits, " << channels << " channels, " << len << " bytes";
        EXPECT_EQ(ours, theirs) << bits << " bits, " << channels << " channels, " << len << " bytes";
      }
    }
  }
}

TEST(Adpcm, HonoursFrameLimitAndEmptyInput) {
  auto data = RandomBytes(2000, 7);
  EXPECT_EQ(DecodeAdpcm(data, 2, 100).size(), 200u);
  EXPECT_TRUE(DecodeAdpcm({}, 1).empty());
  const std::uint8_t one[] = {0x40};
  EXPECT_TRUE(DecodeAdpcm(one, 1).empty());
  EXPECT_THROW(DecodeAdpcm(data, 3), SoundError);
}

TEST(Uncompressed, ByteOrdersAndUnsignedEightBit) {
  const std::uint8_t le[] = {0x34, 0x12, 0xFF, 0xFF, 0x00, 0x80};
  EXPECT_EQ(DecodeUncompressed(le, true, 1, false), (std::vector<std::int16_t>{0x1234, -1, -32768}));
  EXPECT_EQ(DecodeUncompressed(le, true, 1, true), (std::vector<std::int16_t>{0x3412, -1, 0x0080}));
  const std::uint8_t u8[] = {0, 128, 255};
  EXPECT_EQ(DecodeUncompressed(u8, false, 1, false), (std::vector<std::int16_t>{-32768, 0, 127 * 256}));
  // A partial stereo frame at the end is dropped.
  EXPECT_EQ(DecodeUncompressed(u8, false, 2, false).size(), 2u);
}

TEST(Resampler, KeepsPitchAndLengthAcrossRates) {
  for (int rate : {5512, 11025, 22050, 44100}) {
    std::vector<std::int16_t> mono(static_cast<std::size_t>(rate));  // one second
    for (std::size_t i = 0; i < mono.size(); ++i) mono[i] = static_cast<std::int16_t>(10000 * std::sin(2 * M_PI * 440 * static_cast<double>(i) / rate));
    Resampler r(rate, 1);
    std::vector<std::int16_t> out;
    // In pieces, as stream blocks arrive.
    for (std::size_t at = 0; at < mono.size(); at += 500) {
      r.Convert(std::span(mono).subspan(at, std::min<std::size_t>(500, mono.size() - at)), out);
    }
    r.Flush(out);
    EXPECT_NEAR(static_cast<double>(out.size() / 2), 44100.0, 44.0) << rate;
    EXPECT_NEAR(Frequency(out), 440.0, 3.0) << rate;
    for (std::size_t i = 0; i < out.size(); i += 2) ASSERT_EQ(out[i], out[i + 1]);
  }
  EXPECT_THROW(Resampler(0, 1), SoundError);
  EXPECT_THROW(Resampler(44100, 3), SoundError);
}

std::vector<std::uint8_t> ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

TEST(Mp3, DecodesRealFramesFedInPieces) {
  const auto mp3 = ReadAll(std::string(QUARVEL_SHARED_DIR) + "/corpus/generated-ffmpeg/mp3-stream-44k-stereo.ffmpeg-demux.mp3");
  if (mp3.empty()) GTEST_SKIP() << "corpus not present";
  Mp3Decoder whole;
  std::vector<std::int16_t> a;
  whole.Feed(mp3, a);
  Mp3Decoder pieces;
  std::vector<std::int16_t> b;
  for (std::size_t at = 0; at < mp3.size(); at += 417) pieces.Feed(std::span(mp3).subspan(at, std::min<std::size_t>(417, mp3.size() - at)), b);
  EXPECT_EQ(whole.Rate(), 44100);
  EXPECT_EQ(a, b);
  // Whole MPEG-1 layer III frames of 1152 samples.
  EXPECT_EQ(a.size() / 2 % 1152, 0u);
  EXPECT_GT(a.size() / 2, 44100u);
  whole.Reset();
  std::vector<std::int16_t> c;
  whole.Feed(mp3, c);
  EXPECT_EQ(a, c);
}

// A DefineSound's MP3 at the bus rate comes out as the decoder's own frames
// past SeekSamples, cut at SampleCount, however the count compares with the
// data (the output is reserved from it, so a short, exact or bogus count
// must not change the samples).
TEST(DefineSoundDecode, Mp3AtBusRateIsTheDecodedFramesPastTheSeekCutAtTheCount) {
  const auto mp3 = ReadAll(std::string(QUARVEL_SHARED_DIR) + "/corpus/generated-ffmpeg/mp3-stream-44k-stereo.ffmpeg-demux.mp3");
  if (mp3.empty()) GTEST_SKIP() << "corpus not present";
  Mp3Decoder reference;
  std::vector<std::int16_t> all;
  reference.Feed(mp3, all);
  const std::size_t frames = all.size() / 2;
  DefineSound s;
  s.format.codec = Codec::kMp3;
  s.format.rate = 44100;
  s.format.stereo = true;
  s.data = mp3;
  s.seekSamples = 1105;
  for (const std::uint32_t count : {std::uint32_t{1000}, static_cast<std::uint32_t>(frames - 1105),
                                    static_cast<std::uint32_t>(frames), std::uint32_t{0xFFFFFFFF}}) {
    s.sampleCount = count;
    const std::size_t kept = std::min<std::size_t>(count, frames - 1105);
    const std::vector<std::int16_t> expected(all.begin() + 1105 * 2, all.begin() + static_cast<std::ptrdiff_t>((1105 + kept) * 2));
    EXPECT_EQ(DecodeDefineSound(s), expected) << "sample count " << count;
  }
}

TEST(DefineSoundDecode, PcmEightBitMonoAt11kBecomesBusFormat) {
  std::vector<std::uint8_t> body = {1, 0, (3 << 4) | (1 << 2) | 0 | 0};  // id 1, PCM LE 11 kHz 8-bit mono
  const std::uint32_t n = 11025;
  for (int i = 0; i < 4; ++i) body.push_back(static_cast<std::uint8_t>(n >> (8 * i)));
  for (std::uint32_t i = 0; i < n; ++i) body.push_back(static_cast<std::uint8_t>(128 + 100 * std::sin(2 * M_PI * 440 * i / 11025.0)));
  const auto s = ParseDefineSound(body);
  EXPECT_EQ(s.format.rate, 11025);
  EXPECT_FALSE(s.format.sixteenBit);
  const auto out = DecodeDefineSound(s);
  EXPECT_NEAR(static_cast<double>(out.size() / 2), 44100.0, 44.0);
  EXPECT_NEAR(Frequency(out), 440.0, 3.0);
}

TEST(DefineSoundDecode, SampleCountLimitsDataAndBadMp3Throws) {
  std::vector<std::uint8_t> body = {2, 0, (3 << 4) | (3 << 2) | 2 | 1, 10, 0, 0, 0};
  body.resize(body.size() + 4 * 100, 0x11);  // 100 frames present, 10 declared
  EXPECT_EQ(DecodeDefineSound(ParseDefineSound(body)).size(), 20u);
  std::vector<std::uint8_t> mp3 = {3, 0, (2 << 4) | (3 << 2) | 2 | 1, 10, 0, 0, 0, 0, 0, 1, 2, 3};
  EXPECT_THROW(DecodeDefineSound(ParseDefineSound(mp3)), SoundError);
}

TEST(Nellymoser, DecodesBlocksThroughLibavcodec) {
  if (!AvDecoder::Available(AvDecoder::Kind::kNellymoser)) GTEST_SKIP();
  std::vector<std::uint8_t> body = {4, 0, (6 << 4) | (1 << 2) | 2, 0, 2, 0, 0};  // 512 samples
  const auto blocks = RandomBytes(128, 3);
  body.insert(body.end(), blocks.begin(), blocks.end());
  const auto out = DecodeDefineSound(ParseDefineSound(body));
  EXPECT_NEAR(static_cast<double>(out.size() / 2), 512.0 * 4, 16.0);
}

TEST(Speex, DecoderOpensForSwfSpeexWhenLinked) {
  if (!AvDecoder::Available(AvDecoder::Kind::kSpeex)) GTEST_SKIP() << "libavcodec without Speex";
  AvDecoder dec(AvDecoder::Kind::kSpeex, 16000, 1);
  EXPECT_EQ(dec.Rate(), 16000);
  EXPECT_EQ(dec.Channels(), 1);
  std::vector<std::int16_t> out;
  const auto junk = RandomBytes(200, 11);
  EXPECT_NO_THROW(dec.Decode(junk, out));
}

}  // namespace
}  // namespace quarvel::player::sound
