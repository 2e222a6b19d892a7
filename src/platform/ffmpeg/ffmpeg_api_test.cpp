// The FFmpeg table: loaded on first use only, once, and usable.
#include "platform/ffmpeg/ffmpeg_api.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace quarvel::ffmpeg {
namespace {

// One test: the first load happens once per process.
TEST(FfmpegApi, LoadsOnFirstUseKeepsTheLogLevelAndWorks) {
  ASSERT_FALSE(Loaded());
  SetLogLevel(AV_LOG_ERROR);
  EXPECT_FALSE(Loaded()) << "setting the log level must not load FFmpeg";

  std::vector<const Api*> seen(8, nullptr);
  std::vector<std::thread> threads;
  for (std::size_t i = 0; i < seen.size(); ++i) threads.emplace_back([&seen, i] { seen[i] = &Av(); });
  for (auto& t : threads) t.join();
  for (const Api* api : seen) EXPECT_EQ(api, seen[0]);
  EXPECT_TRUE(Loaded());

  const Api& av = Av();
  EXPECT_EQ(av.av_log_get_level(), AV_LOG_ERROR) << "the level set before the load applies after it";
  SetLogLevel(AV_LOG_QUIET);
  EXPECT_EQ(av.av_log_get_level(), AV_LOG_QUIET);

  // Real calls through the table: a decoder, an encoder, a rescale.
  EXPECT_NE(av.avcodec_find_decoder(AV_CODEC_ID_MP3), nullptr);
  const AVCodec* pcm = av.avcodec_find_encoder(AV_CODEC_ID_PCM_S16LE);
  ASSERT_NE(pcm, nullptr);
  AVCodecContext* ctx = av.avcodec_alloc_context3(pcm);
  ASSERT_NE(ctx, nullptr);
  av.avcodec_free_context(&ctx);
  EXPECT_EQ(ctx, nullptr);
  EXPECT_EQ(av.av_rescale_q(441, AVRational{1, 44100}, AVRational{1, 1000}), 10);
}

}  // namespace
}  // namespace quarvel::ffmpeg
