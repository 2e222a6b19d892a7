#include "platform/mci/wave_audio_device.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <limits>
#include <system_error>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

#include "platform/mci/mci.h"

namespace quarvel::mci {
namespace {

using audio::kBusChannels;
using audio::kBusRate;

constexpr auto kPollInterval = std::chrono::milliseconds(20);
// A WAVE file's sizes are 32-bit; leave room for the header.
constexpr std::uint64_t kMaxDataBytes = std::numeric_limits<std::uint32_t>::max() - 4096u;

struct CodecFree {
  void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct FrameFree {
  void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct PacketFree {
  void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct DictFree {
  void operator()(AVDictionary* d) const { av_dict_free(&d); }
};

bool WriteAll(std::FILE* f, const void* data, std::size_t size) {
  return size == 0 || std::fwrite(data, 1, size, f) == size;
}

}  // namespace

void WaveAudioDevice::SwrFree::operator()(SwrContext* s) const { swr_free(&s); }

bool WaveAudioDevice::Supported(const audio::WaveFormat& f) {
  if (f.channels < 1 || f.channels > 2 || f.sample_rate < 8000 || f.sample_rate > 96000) return false;
  if (f.format_tag == audio::kWaveFormatPcm) {
    return (f.bits_per_sample == 8 || f.bits_per_sample == 16) && f.block_align == f.channels * f.bits_per_sample / 8;
  }
  if (f.format_tag == audio::kWaveFormatImaAdpcm) {
    return f.bits_per_sample == 4 && f.block_align >= 36u * f.channels && f.block_align <= 8192 &&
           f.block_align % (4u * f.channels) == 0;
  }
  return false;
}

WaveAudioDevice::WaveAudioDevice(audio::LoopbackBus& bus, audio::WaveFormat format)
    : bus_(bus),
      format_(std::move(format)),
      out_channels_(format_.channels),
      out_bytes_per_sample_(format_.format_tag == audio::kWaveFormatPcm && format_.bits_per_sample == 8 ? 1 : 2) {
  if (format_.format_tag == audio::kWaveFormatImaAdpcm) {
    // The true geometry, whatever the element's header said.
    format_ = audio::WaveFormat::ImaAdpcm(format_.channels, format_.sample_rate, format_.block_align);
  }
}

WaveAudioDevice::~WaveAudioDevice() {
  std::unique_lock lock(mutex_);
  StopLocked(lock);
}

std::uint32_t WaveAudioDevice::Record() {
  std::unique_lock lock(mutex_);
  if (recording_) return kOk;
  if (!spool_) {
    spool_.reset(std::tmpfile());
    if (!spool_) return kErrNonapplicableFunction;
  }
  AVChannelLayout in_layout;
  AVChannelLayout out_layout;
  av_channel_layout_default(&in_layout, kBusChannels);
  av_channel_layout_default(&out_layout, out_channels_);
  SwrContext* raw = nullptr;
  const AVSampleFormat out_format = out_bytes_per_sample_ == 1 ? AV_SAMPLE_FMT_U8 : AV_SAMPLE_FMT_S16;
  if (swr_alloc_set_opts2(&raw, &out_layout, out_format, static_cast<int>(format_.sample_rate), &in_layout,
                          AV_SAMPLE_FMT_S16, kBusRate, 0, nullptr) < 0) {
    return kErrNonapplicableFunction;
  }
  swr_.reset(raw);
  if (swr_init(raw) < 0) {
    swr_.reset();
    return kErrNonapplicableFunction;
  }
  tap_ = bus_.OpenTap(bus_.NowFrame());
  microphone_owed_ = 0;
  microphone_pending_.clear();
  recording_ = true;
  stop_thread_ = false;
  thread_ = std::thread([this] { Run(); });
  return kOk;
}

void WaveAudioDevice::Run() {
  std::unique_lock lock(mutex_);
  while (!stop_thread_) {
    PullLocked(false);
    wake_.wait_for(lock, kPollInterval, [this] { return stop_thread_; });
  }
}

void WaveAudioDevice::PullLocked(bool final) {
  const std::int64_t now = bus_.NowFrame();
  const std::int64_t from = tap_->Position();
  if (now > from) {
    input_.clear();
    switch (bus_.GetRecordSource()) {
      case audio::RecordSource::kStereoMix:
        tap_->ReadUntil(now, audio::BusMix::kRecordStereoMix, input_);
        break;
      case audio::RecordSource::kLineIn:
        tap_->ReadUntil(now, audio::BusMix::kRecordLineIn, input_);
        break;
      case audio::RecordSource::kMicrophone:
        tap_->SkipTo(now);
        microphone_owed_ += now - from;
        break;
    }
    FeedLocked(input_);
  }
  if (microphone_owed_ > 0) {
    if (!microphone_tried_) {
      microphone_tried_ = true;
      microphone_.Open();
    }
    microphone_.ReadAvailable(microphone_pending_);
    // The clock decides the length: without a device, or when the device
    // lags at the end, the missing time is silence.
    const std::int64_t have = static_cast<std::int64_t>(microphone_pending_.size() / kBusChannels);
    const std::int64_t take = std::min(microphone_owed_, have);
    const std::int64_t level = bus_.Level(audio::BusLevel::kRecordMicrophone);
    input_.assign(microphone_pending_.begin(), microphone_pending_.begin() + take * kBusChannels);
    microphone_pending_.erase(microphone_pending_.begin(), microphone_pending_.begin() + take * kBusChannels);
    for (auto& s : input_) s = static_cast<std::int16_t>(s * level / audio::LoopbackBus::kFullLevel);
    std::int64_t owed_after = microphone_owed_ - take;
    if (final || !microphone_.IsOpen()) {
      input_.resize(input_.size() + static_cast<std::size_t>(owed_after) * kBusChannels, 0);
      owed_after = 0;
    }
    microphone_owed_ = owed_after;
    FeedLocked(input_);
  }
  if (final) {
    microphone_pending_.clear();
    DrainLocked();
  }
}

void WaveAudioDevice::FeedLocked(std::span<const std::int16_t> interleaved) {
  const int in_frames = static_cast<int>(interleaved.size() / kBusChannels);
  if (in_frames == 0 || !swr_) return;
  const int room = swr_get_out_samples(swr_.get(), in_frames);
  converted_.resize(static_cast<std::size_t>(room) * out_channels_ * out_bytes_per_sample_);
  std::uint8_t* out = converted_.data();
  const auto* in = reinterpret_cast<const std::uint8_t*>(interleaved.data());
  const int got = swr_convert(swr_.get(), &out, room, &in, in_frames);
  if (got < 0) {
    spool_failed_ = true;
    return;
  }
  const std::size_t bytes = static_cast<std::size_t>(got) * out_channels_ * out_bytes_per_sample_;
  if (!WriteAll(spool_.get(), converted_.data(), bytes)) spool_failed_ = true;
  spooled_frames_ += static_cast<std::uint64_t>(got);
}

void WaveAudioDevice::DrainLocked() {
  if (!swr_) return;
  for (;;) {
    const int room = 4096;
    converted_.resize(static_cast<std::size_t>(room) * out_channels_ * out_bytes_per_sample_);
    std::uint8_t* out = converted_.data();
    const int got = swr_convert(swr_.get(), &out, room, nullptr, 0);
    if (got <= 0) break;
    if (!WriteAll(spool_.get(), converted_.data(), static_cast<std::size_t>(got) * out_channels_ * out_bytes_per_sample_)) {
      spool_failed_ = true;
    }
    spooled_frames_ += static_cast<std::uint64_t>(got);
  }
  swr_.reset();
}

void WaveAudioDevice::StopLocked(std::unique_lock<std::mutex>& lock) {
  if (!recording_) return;
  stop_thread_ = true;
  wake_.notify_all();
  std::thread worker = std::move(thread_);
  lock.unlock();
  worker.join();
  lock.lock();
  PullLocked(true);
  tap_.reset();
  microphone_.Close();
  microphone_tried_ = false;
  recording_ = false;
}

std::uint32_t WaveAudioDevice::Stop() {
  std::unique_lock lock(mutex_);
  StopLocked(lock);
  return kOk;
}

std::uint32_t WaveAudioDevice::Save(const std::filesystem::path& file) {
  std::unique_lock lock(mutex_);
  StopLocked(lock);
  if (spool_failed_) return kErrFileNotSaved;
  // Written beside the target and renamed over it, so that a failed save
  // leaves the old file as it was.
  std::filesystem::path part = file;
  part += ".saving";
  std::unique_ptr<std::FILE, FileClose> out(std::fopen(part.c_str(), "wb"));
  if (!out) return kErrFileNotSaved;
  const bool written = format_.format_tag == audio::kWaveFormatPcm ? WritePcm(out.get()) : WriteImaAdpcm(out.get());
  const bool closed = std::fclose(out.release()) == 0;
  std::error_code ec;
  if (!written || !closed) {
    std::filesystem::remove(part, ec);
    return kErrFileNotSaved;
  }
  std::filesystem::rename(part, file, ec);
  if (ec) {
    std::filesystem::remove(part, ec);
    return kErrFileNotSaved;
  }
  return kOk;
}

bool WaveAudioDevice::WritePcm(std::FILE* out) {
  const std::uint64_t frame_bytes = static_cast<std::uint64_t>(out_channels_) * out_bytes_per_sample_;
  const std::uint64_t frames = std::min(spooled_frames_, kMaxDataBytes / frame_bytes);
  std::uint64_t left = frames * frame_bytes;
  const std::vector<std::uint8_t> header = audio::WaveHeader(format_, static_cast<std::uint32_t>(left));
  if (!WriteAll(out, header.data(), header.size())) return false;
  if (!spool_) return true;  // never recorded: an empty recording
  if (std::fseek(spool_.get(), 0, SEEK_SET) != 0) return false;
  std::vector<std::uint8_t> chunk(1 << 16);
  const std::uint64_t data_bytes = left;
  while (left > 0) {
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(left, chunk.size()));
    if (std::fread(chunk.data(), 1, n, spool_.get()) != n || !WriteAll(out, chunk.data(), n)) return false;
    left -= n;
  }
  if (data_bytes % 2 == 1 && !WriteAll(out, "", 1)) return false;  // RIFF pad byte
  // Later records append to the spool.
  return std::fseek(spool_.get(), 0, SEEK_END) == 0;
}

bool WaveAudioDevice::WriteImaAdpcm(std::FILE* out) {
  const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_ADPCM_IMA_WAV);
  if (!codec) return false;
  std::unique_ptr<AVCodecContext, CodecFree> ctx(avcodec_alloc_context3(codec));
  if (!ctx) return false;
  ctx->sample_fmt = AV_SAMPLE_FMT_S16P;
  ctx->sample_rate = static_cast<int>(format_.sample_rate);
  av_channel_layout_default(&ctx->ch_layout, format_.channels);
  AVDictionary* raw_options = nullptr;
  av_dict_set_int(&raw_options, "block_size", format_.block_align, 0);
  std::unique_ptr<AVDictionary, DictFree> options(raw_options);
  raw_options = options.release();
  const int opened = avcodec_open2(ctx.get(), codec, &raw_options);
  options.reset(raw_options);
  if (opened < 0) return false;
  const int per_block = ctx->frame_size;
  if (per_block != format_.SamplesPerBlock() || ctx->block_align != format_.block_align) return false;

  const std::uint64_t max_blocks = kMaxDataBytes / format_.block_align;
  const std::uint64_t blocks = std::min<std::uint64_t>((spooled_frames_ + per_block - 1) / per_block, max_blocks);
  const std::uint64_t samples = std::min<std::uint64_t>(spooled_frames_, blocks * per_block);
  const std::vector<std::uint8_t> header = audio::WaveHeader(
      format_, static_cast<std::uint32_t>(blocks * format_.block_align), static_cast<std::uint32_t>(samples));
  if (!WriteAll(out, header.data(), header.size())) return false;

  std::unique_ptr<AVFrame, FrameFree> frame(av_frame_alloc());
  std::unique_ptr<AVPacket, PacketFree> packet(av_packet_alloc());
  if (!frame || !packet) return false;
  frame->nb_samples = per_block;
  frame->format = AV_SAMPLE_FMT_S16P;
  frame->sample_rate = ctx->sample_rate;
  if (av_channel_layout_copy(&frame->ch_layout, &ctx->ch_layout) < 0 || av_frame_get_buffer(frame.get(), 0) < 0) {
    return false;
  }
  if (blocks == 0 || !spool_) return true;
  if (std::fseek(spool_.get(), 0, SEEK_SET) != 0) return false;
  const int channels = format_.channels;
  std::vector<std::int16_t> interleaved(static_cast<std::size_t>(per_block) * channels);
  std::uint64_t written = 0;

  const auto drain = [&]() {
    for (;;) {
      const int rc = avcodec_receive_packet(ctx.get(), packet.get());
      if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return true;
      if (rc < 0) return false;
      const bool ok = packet->size == format_.block_align && written < blocks &&
                      WriteAll(out, packet->data, static_cast<std::size_t>(packet->size));
      av_packet_unref(packet.get());
      if (!ok) return false;
      ++written;
    }
  };

  for (std::uint64_t b = 0; b < blocks; ++b) {
    const std::uint64_t in_block = std::min<std::uint64_t>(per_block, samples - b * per_block);
    std::fill(interleaved.begin(), interleaved.end(), 0);  // the last block is padded with silence
    if (std::fread(interleaved.data(), sizeof(std::int16_t) * channels, in_block, spool_.get()) != in_block) {
      return false;
    }
    if (av_frame_make_writable(frame.get()) < 0) return false;
    for (int c = 0; c < channels; ++c) {
      auto* plane = reinterpret_cast<std::int16_t*>(frame->data[c]);
      for (int i = 0; i < per_block; ++i) plane[i] = interleaved[static_cast<std::size_t>(i) * channels + c];
    }
    if (avcodec_send_frame(ctx.get(), frame.get()) < 0 || !drain()) return false;
  }
  if (avcodec_send_frame(ctx.get(), nullptr) < 0 || !drain()) return false;
  return written == blocks && std::fseek(spool_.get(), 0, SEEK_END) == 0;
}

}  // namespace quarvel::mci
