// The FFmpeg tables: loaded on first use only, once, the codecs without
// libavformat, and usable.
#include "platform/ffmpeg/ffmpeg_api.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace quarvel::ffmpeg {
namespace {

// The libraries the module that holds `table` needs, as the loader resolves them.
std::string Needs(const void* table) {
  Dl_info info{};
  if (::dladdr(table, &info) == 0 || info.dli_fname == nullptr) return "";
  std::string out;
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(("ldd '" + std::string(info.dli_fname) + "'").c_str(), "r"),
                                             ::pclose);
  char line[512];
  while (pipe && std::fgets(line, sizeof line, pipe.get()) != nullptr) out += line;
  return out;
}

// One test: the first load happens once per process.
TEST(FfmpegApi, LoadsOnFirstUseKeepsTheLogLevelAndWorks) {
  ASSERT_FALSE(Loaded());
  ASSERT_FALSE(FormatLoaded());
  SetLogLevel(AV_LOG_ERROR);
  EXPECT_FALSE(Loaded()) << "setting the log level must not load FFmpeg";

  // A load started ahead and callers that come meanwhile share one table.
  LoadAhead();
  std::vector<const Api*> seen(8, nullptr);
  std::vector<std::thread> threads;
  for (std::size_t i = 0; i < seen.size(); ++i) threads.emplace_back([&seen, i] { seen[i] = &Av(); });
  for (auto& t : threads) t.join();
  for (const Api* api : seen) EXPECT_EQ(api, seen[0]);
  EXPECT_TRUE(Loaded());
  LoadAhead();

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

  // The codecs come without libavformat and the libraries only it needs.
  EXPECT_FALSE(FormatLoaded());
  const std::string codecs = Needs(&av);
  EXPECT_NE(codecs.find("libavcodec.so"), std::string::npos) << codecs;
  EXPECT_EQ(codecs.find("libavformat.so"), std::string::npos) << codecs;
  EXPECT_EQ(codecs.find("libgnutls.so"), std::string::npos) << "a library of libavformat's network protocols";

  // Its own table loads it, on the codecs already loaded: a muxer finds the
  // encoders the codec table found.
  const FormatApi& avf = Avf();
  EXPECT_TRUE(FormatLoaded());
  EXPECT_NE(Needs(&avf).find("libavformat.so"), std::string::npos);
  EXPECT_EQ(&avf, &Avf());
  AVFormatContext* oc = nullptr;
  ASSERT_GE(avf.avformat_alloc_output_context2(&oc, nullptr, "matroska", nullptr), 0);
  AVStream* stream = avf.avformat_new_stream(oc, pcm);
  ASSERT_NE(stream, nullptr);
  EXPECT_EQ(oc->nb_streams, 1u);
  avf.avformat_free_context(oc);
  EXPECT_EQ(av.av_log_get_level(), AV_LOG_QUIET) << "both modules log through the one libavutil";
}

}  // namespace
}  // namespace quarvel::ffmpeg
