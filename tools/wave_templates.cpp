// Writes the recording templates "adpcm1.wav" to "adpcm3.wav": empty IMA
// ADPCM mono WAVE files at 11025, 22050 and 44100 Hz. The block geometry comes
// from libavcodec's encoder (the one that later encodes the recordings); the
// header is ours, because the encoder's own would carry a nominal byte rate
// that makes players run the sound at the wrong speed.

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/dict.h>
}

#include "platform/audio/wave_file.h"

namespace {

struct CodecFree {
  void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};

// Samples per block that the encoder uses for this block size, or 0.
int EncoderSamplesPerBlock(int rate, int block) {
  const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_ADPCM_IMA_WAV);
  if (!codec) return 0;
  std::unique_ptr<AVCodecContext, CodecFree> ctx(avcodec_alloc_context3(codec));
  if (!ctx) return 0;
  ctx->sample_fmt = AV_SAMPLE_FMT_S16P;
  ctx->sample_rate = rate;
  av_channel_layout_default(&ctx->ch_layout, 1);
  AVDictionary* options = nullptr;
  av_dict_set_int(&options, "block_size", block, 0);
  const int rc = avcodec_open2(ctx.get(), codec, &options);
  av_dict_free(&options);
  if (rc < 0 || ctx->block_align != block) return 0;
  return ctx->frame_size;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <output folder>\n", argv[0]);
    return 2;
  }
  const std::filesystem::path folder = argv[1];
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  const struct {
    const char* name;
    int rate;
    int block;
  } templates[] = {{"adpcm1.wav", 11025, 256}, {"adpcm2.wav", 22050, 512}, {"adpcm3.wav", 44100, 1024}};
  for (const auto& t : templates) {
    const auto format =
        quarvel::audio::WaveFormat::ImaAdpcm(1, static_cast<std::uint32_t>(t.rate), static_cast<std::uint16_t>(t.block));
    const int per_block = EncoderSamplesPerBlock(t.rate, t.block);
    if (per_block != format.SamplesPerBlock()) {
      std::fprintf(stderr, "%s: the IMA ADPCM encoder takes %d samples per %d-byte block, expected %d\n", t.name,
                   per_block, t.block, format.SamplesPerBlock());
      return 1;
    }
    const auto header = quarvel::audio::WaveHeader(format, 0, 0u);
    const std::filesystem::path path = folder / t.name;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(header.data()), static_cast<std::streamsize>(header.size()));
    out.close();
    if (!out) {
      std::fprintf(stderr, "can not write %s\n", path.c_str());
      return 1;
    }
  }
  return 0;
}
