#include "platform/mci/wave_audio_device.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <system_error>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

#include "platform/ffmpeg/ffmpeg_api.h"
#include "platform/mci/mci.h"

namespace quarvel::mci {
namespace {

using audio::kBusChannels;
using audio::kBusRate;

constexpr auto kPollInterval = std::chrono::milliseconds(20);
// A WAVE file's sizes are 32-bit; leave room for the header.
constexpr std::uint64_t kMaxDataBytes = std::numeric_limits<std::uint32_t>::max() - 4096u;
// Input taken from the bus in one piece, so that a recorder that fell
// behind a fast clock catches up in small steps instead of one huge read.
constexpr std::int64_t kPullFrames = kBusRate / 4;

struct DictFree {
  void operator()(AVDictionary* d) const { ffmpeg::Av().av_dict_free(&d); }
};

bool PWriteAll(int fd, const std::uint8_t* data, std::size_t size, off_t at, int& err) {
  while (size > 0) {
    const ssize_t n = ::pwrite(fd, data, size, at);
    if (n < 0) {
      if (errno == EINTR) continue;
      err = errno;
      return false;
    }
    data += n;
    size -= static_cast<std::size_t>(n);
    at += n;
  }
  return true;
}

}  // namespace

void WaveAudioDevice::SwrFree::operator()(SwrContext* s) const { ffmpeg::Av().swr_free(&s); }
void WaveAudioDevice::CodecFree::operator()(AVCodecContext* c) const { ffmpeg::Av().avcodec_free_context(&c); }
void WaveAudioDevice::FrameFree::operator()(AVFrame* f) const { ffmpeg::Av().av_frame_free(&f); }
void WaveAudioDevice::PacketFree::operator()(AVPacket* p) const { ffmpeg::Av().av_packet_free(&p); }

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

WaveAudioDevice::WaveAudioDevice(audio::LoopbackBus& bus, audio::WaveFormat format, std::filesystem::path element)
    : bus_(bus),
      format_(std::move(format)),
      element_(std::move(element)),
      out_channels_(format_.channels),
      out_bytes_per_sample_(format_.format_tag == audio::kWaveFormatPcm && format_.bits_per_sample == 8 ? 1 : 2),
      adpcm_(format_.format_tag == audio::kWaveFormatImaAdpcm) {
  if (adpcm_) {
    // The true geometry, whatever the element's header said.
    format_ = audio::WaveFormat::ImaAdpcm(format_.channels, format_.sample_rate, format_.block_align);
  }
}

WaveAudioDevice::~WaveAudioDevice() {
  std::unique_lock lock(mutex_);
  StopLocked(lock);
  CloseFileLocked();
}

std::string WaveAudioDevice::ErrorText() const {
  std::lock_guard lock(mutex_);
  return error_;
}

std::uint64_t WaveAudioDevice::RecordedFrames() const {
  std::lock_guard lock(mutex_);
  return frames_;
}

void WaveAudioDevice::Fail(std::string why) {
  if (!error_.empty()) return;  // the first cause is the one to tell
  error_ = element_.string() + ": " + std::move(why);
  // Nothing more is taken: the bus need not keep samples for this tap.
  tap_.reset();
}

bool WaveAudioDevice::OpenFileLocked() {
  if (fd_ >= 0) return true;
  fd_ = ::open(element_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd_ < 0) {
    Fail(std::strerror(errno));
    return false;
  }
  header_size_ = audio::WaveHeader(format_, 0, adpcm_ ? std::optional<std::uint32_t>(0) : std::nullopt).size();
  data_bytes_ = 0;
  frames_ = 0;
  buffer_.clear();
  buffer_.reserve(kBufferBytes);
  WriteHeaderLocked(false);
  return error_.empty();
}

bool WaveAudioDevice::OpenEncoderLocked() {
  const AVCodec* codec = ffmpeg::Av().avcodec_find_encoder(AV_CODEC_ID_ADPCM_IMA_WAV);
  if (!codec) return false;
  encoder_.reset(ffmpeg::Av().avcodec_alloc_context3(codec));
  if (!encoder_) return false;
  encoder_->sample_fmt = AV_SAMPLE_FMT_S16P;
  encoder_->sample_rate = static_cast<int>(format_.sample_rate);
  ffmpeg::Av().av_channel_layout_default(&encoder_->ch_layout, format_.channels);
  AVDictionary* raw_options = nullptr;
  ffmpeg::Av().av_dict_set_int(&raw_options, "block_size", format_.block_align, 0);
  const int opened = ffmpeg::Av().avcodec_open2(encoder_.get(), codec, &raw_options);
  std::unique_ptr<AVDictionary, DictFree> options(raw_options);
  if (opened < 0 || encoder_->frame_size != format_.SamplesPerBlock() ||
      encoder_->block_align != format_.block_align) {
    encoder_.reset();
    return false;
  }
  frame_.reset(ffmpeg::Av().av_frame_alloc());
  packet_.reset(ffmpeg::Av().av_packet_alloc());
  if (!frame_ || !packet_) return false;
  frame_->nb_samples = encoder_->frame_size;
  frame_->format = AV_SAMPLE_FMT_S16P;
  frame_->sample_rate = encoder_->sample_rate;
  if (ffmpeg::Av().av_channel_layout_copy(&frame_->ch_layout, &encoder_->ch_layout) < 0 ||
      ffmpeg::Av().av_frame_get_buffer(frame_.get(), 0) < 0) {
    return false;
  }
  block_.assign(static_cast<std::size_t>(encoder_->frame_size) * out_channels_, 0);
  block_fill_ = 0;
  return true;
}

std::uint32_t WaveAudioDevice::Record() {
  std::unique_lock lock(mutex_);
  if (recording_) return kOk;
  if (!error_.empty()) return kErrFileNotSaved;
  if (!OpenFileLocked()) return kErrFileNotSaved;
  if (adpcm_ && !encoder_ && !OpenEncoderLocked()) {
    Fail("no IMA ADPCM encoder for this format");
    return kErrNonapplicableFunction;
  }
  AVChannelLayout in_layout;
  AVChannelLayout out_layout;
  ffmpeg::Av().av_channel_layout_default(&in_layout, kBusChannels);
  ffmpeg::Av().av_channel_layout_default(&out_layout, out_channels_);
  SwrContext* raw = nullptr;
  const AVSampleFormat out_format = out_bytes_per_sample_ == 1 ? AV_SAMPLE_FMT_U8 : AV_SAMPLE_FMT_S16;
  if (ffmpeg::Av().swr_alloc_set_opts2(&raw, &out_layout, out_format, static_cast<int>(format_.sample_rate), &in_layout,
                          AV_SAMPLE_FMT_S16, kBusRate, 0, nullptr) < 0) {
    return kErrNonapplicableFunction;
  }
  swr_.reset(raw);
  if (ffmpeg::Av().swr_init(raw) < 0) {
    swr_.reset();
    return kErrNonapplicableFunction;
  }
  tap_ = bus_.OpenTap(bus_.NowFrame());
  tap_->SetPacing(true);
  microphone_owed_ = 0;
  microphone_pending_.clear();
  recording_ = true;
  stop_thread_ = false;
  header_written_ = std::chrono::steady_clock::now();
  thread_ = std::thread([this] { Run(); });
  return kOk;
}

void WaveAudioDevice::Run() {
  std::unique_lock lock(mutex_);
  while (!stop_thread_) {
    bool caught_up = true;
    // Nothing may escape this thread: a failure (out of memory, a full
    // disk) ends the recording and is told by Save.
    try {
      if (tap_) caught_up = PullLocked(false);
      if (fd_ >= 0 && std::chrono::steady_clock::now() - header_written_ >= kHeaderInterval) {
        FlushLocked();
        WriteHeaderLocked(false);
      }
    } catch (const std::exception& e) {
      Fail(std::string("recording failed: ") + e.what());
    } catch (...) {
      Fail("recording failed");
    }
    if (caught_up) wake_.wait_for(lock, kPollInterval, [this] { return stop_thread_; });
  }
}

bool WaveAudioDevice::PullLocked(bool final) {
  const std::int64_t now = bus_.NowFrame();
  // While recording, only what the writers have settled is taken: the
  // player writes a frame's sound after the clock reached the frame's time,
  // and this thread must not take the silence before it whenever it happens
  // to run. The stop takes everything up to the present.
  const std::int64_t end = final ? now : std::min(now, bus_.SettledFrame());
  const std::int64_t from = tap_->Position();
  const std::int64_t until = std::min(end, from + kPullFrames);
  if (until > from) {
    input_.clear();
    switch (bus_.GetRecordSource()) {
      case audio::RecordSource::kStereoMix:
        tap_->ReadUntil(until, audio::BusMix::kRecordStereoMix, input_);
        break;
      case audio::RecordSource::kLineIn:
        tap_->ReadUntil(until, audio::BusMix::kRecordLineIn, input_);
        break;
      case audio::RecordSource::kMicrophone:
        tap_->SkipTo(until);
        microphone_owed_ += until - from;
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
    // A device that delivers more than the clock asks for keeps only its
    // latest second beyond what is owed.
    const std::size_t keep = static_cast<std::size_t>(microphone_owed_ + kBusRate) * kBusChannels;
    if (microphone_pending_.size() > keep) {
      microphone_pending_.erase(microphone_pending_.begin(),
                                microphone_pending_.end() - static_cast<std::ptrdiff_t>(keep));
    }
    // The clock decides the length: without a device, or when the device
    // lags at the end, the missing time is silence.
    const std::int64_t have = static_cast<std::int64_t>(microphone_pending_.size() / kBusChannels);
    const std::int64_t take = std::min(microphone_owed_, have);
    const std::int64_t level = bus_.Level(audio::BusLevel::kRecordMicrophone);
    input_.assign(microphone_pending_.begin(), microphone_pending_.begin() + take * kBusChannels);
    microphone_pending_.erase(microphone_pending_.begin(), microphone_pending_.begin() + take * kBusChannels);
    for (auto& s : input_) s = static_cast<std::int16_t>(s * level / audio::LoopbackBus::kFullLevel);
    std::int64_t owed_after = microphone_owed_ - take;
    const bool last = final && until == now;
    if (last || !microphone_.IsOpen()) {
      input_.resize(input_.size() + static_cast<std::size_t>(owed_after) * kBusChannels, 0);
      owed_after = 0;
    }
    microphone_owed_ = owed_after;
    FeedLocked(input_);
  }
  return until >= end;
}

void WaveAudioDevice::FeedLocked(std::span<const std::int16_t> interleaved) {
  const int in_frames = static_cast<int>(interleaved.size() / kBusChannels);
  if (in_frames == 0 || !swr_ || !error_.empty()) return;
  const int room = ffmpeg::Av().swr_get_out_samples(swr_.get(), in_frames);
  converted_.resize(static_cast<std::size_t>(room) * out_channels_ * out_bytes_per_sample_);
  std::uint8_t* out = converted_.data();
  const auto* in = reinterpret_cast<const std::uint8_t*>(interleaved.data());
  const int got = ffmpeg::Av().swr_convert(swr_.get(), &out, room, &in, in_frames);
  if (got < 0) {
    Fail("the samples could not be converted");
    return;
  }
  AppendSamplesLocked(converted_.data(), static_cast<std::size_t>(got));
}

void WaveAudioDevice::DrainLocked() {
  if (!swr_) return;
  for (;;) {
    const int room = 4096;
    converted_.resize(static_cast<std::size_t>(room) * out_channels_ * out_bytes_per_sample_);
    std::uint8_t* out = converted_.data();
    const int got = ffmpeg::Av().swr_convert(swr_.get(), &out, room, nullptr, 0);
    if (got <= 0) break;
    AppendSamplesLocked(converted_.data(), static_cast<std::size_t>(got));
  }
  swr_.reset();
}

void WaveAudioDevice::AppendSamplesLocked(const std::uint8_t* data, std::size_t frames) {
  if (!error_.empty() || full_) return;
  if (!adpcm_) {
    const std::size_t frame_bytes = static_cast<std::size_t>(out_channels_) * out_bytes_per_sample_;
    const std::uint64_t room = (kMaxDataBytes - data_bytes_) / frame_bytes;
    if (frames > room) {
      frames = static_cast<std::size_t>(room);
      full_ = true;
    }
    AppendLocked(data, frames * frame_bytes);
    frames_ += frames;
    return;
  }
  const auto* samples = reinterpret_cast<const std::int16_t*>(data);
  const std::size_t per_block = block_.size() / static_cast<std::size_t>(out_channels_);
  while (frames > 0 && error_.empty() && !full_) {
    const std::size_t take = std::min(frames, per_block - block_fill_);
    std::memcpy(block_.data() + block_fill_ * out_channels_, samples, take * out_channels_ * sizeof(std::int16_t));
    block_fill_ += take;
    samples += take * out_channels_;
    frames -= take;
    frames_ += take;
    if (block_fill_ == per_block) {
      EncodeBlockLocked(block_.data());
      block_fill_ = 0;
    }
  }
}

void WaveAudioDevice::EncodeBlockLocked(const std::int16_t* interleaved) {
  if (data_bytes_ + format_.block_align > kMaxDataBytes) {
    full_ = true;
    return;
  }
  if (ffmpeg::Av().av_frame_make_writable(frame_.get()) < 0) {
    Fail("out of memory while encoding");
    return;
  }
  const int per_block = encoder_->frame_size;
  for (int c = 0; c < out_channels_; ++c) {
    auto* plane = reinterpret_cast<std::int16_t*>(frame_->data[c]);
    for (int i = 0; i < per_block; ++i) plane[i] = interleaved[static_cast<std::size_t>(i) * out_channels_ + c];
  }
  if (ffmpeg::Av().avcodec_send_frame(encoder_.get(), frame_.get()) < 0) {
    Fail("the IMA ADPCM encoder refused a block");
    return;
  }
  for (;;) {
    const int rc = ffmpeg::Av().avcodec_receive_packet(encoder_.get(), packet_.get());
    if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return;
    if (rc < 0 || packet_->size != format_.block_align) {
      if (rc >= 0) ffmpeg::Av().av_packet_unref(packet_.get());
      Fail("the IMA ADPCM encoder gave a block of the wrong size");
      return;
    }
    AppendLocked(packet_->data, static_cast<std::size_t>(packet_->size));
    ffmpeg::Av().av_packet_unref(packet_.get());
  }
}

void WaveAudioDevice::FinishBlockLocked() {
  // The last block is padded with silence; the fact chunk keeps the true length.
  if (!adpcm_ || block_fill_ == 0 || !error_.empty()) return;
  std::fill(block_.begin() + static_cast<std::ptrdiff_t>(block_fill_ * out_channels_), block_.end(), 0);
  EncodeBlockLocked(block_.data());
  block_fill_ = 0;
}

void WaveAudioDevice::AppendLocked(const std::uint8_t* data, std::size_t size) {
  while (size > 0 && error_.empty()) {
    const std::size_t take = std::min(size, kBufferBytes - buffer_.size());
    buffer_.insert(buffer_.end(), data, data + take);
    data += take;
    size -= take;
    data_bytes_ += take;
    if (buffer_.size() == kBufferBytes) FlushLocked();
  }
}

void WaveAudioDevice::FlushLocked() {
  if (fd_ < 0 || buffer_.empty() || !error_.empty()) return;
  const off_t at = static_cast<off_t>(header_size_ + data_bytes_ - buffer_.size());
  int err = 0;
  if (!PWriteAll(fd_, buffer_.data(), buffer_.size(), at, err)) {
    // What reached the disk stays a valid recording up to there.
    data_bytes_ -= buffer_.size();
    buffer_.clear();
    Fail(std::strerror(err));
    WriteHeaderLocked(false);
    return;
  }
  buffer_.clear();
}

void WaveAudioDevice::WriteHeaderLocked(bool final) {
  if (fd_ < 0) return;
  // The header counts what is on disk only.
  const std::uint64_t on_disk = data_bytes_ - buffer_.size();
  std::optional<std::uint32_t> fact;
  if (adpcm_) {
    const std::uint64_t blocks = on_disk / format_.block_align;
    const std::uint64_t samples = final ? frames_ : blocks * format_.SamplesPerBlock();
    fact = static_cast<std::uint32_t>(std::min(samples, blocks * format_.SamplesPerBlock()));
  }
  const auto header = audio::WaveHeader(format_, static_cast<std::uint32_t>(on_disk), fact);
  int err = 0;
  if (!PWriteAll(fd_, header.data(), header.size(), 0, err)) {
    Fail(std::strerror(err));
    return;
  }
  if (final && on_disk % 2 == 1) {
    // RIFF pad byte; a later record writes over it.
    const std::uint8_t pad = 0;
    if (!PWriteAll(fd_, &pad, 1, static_cast<off_t>(header_size_ + on_disk), err)) Fail(std::strerror(err));
  }
  header_written_ = std::chrono::steady_clock::now();
}

void WaveAudioDevice::CloseFileLocked() {
  if (fd_ < 0) return;
  if (::close(fd_) != 0 && error_.empty()) Fail(std::strerror(errno));
  fd_ = -1;
}

void WaveAudioDevice::StopLocked(std::unique_lock<std::mutex>& lock) {
  if (!recording_) return;
  stop_thread_ = true;
  wake_.notify_all();
  std::thread worker = std::move(thread_);
  lock.unlock();
  worker.join();
  lock.lock();
  try {
    while (tap_ && !PullLocked(true)) {
    }
    microphone_pending_.clear();
    DrainLocked();
  } catch (const std::exception& e) {
    Fail(std::string("recording failed: ") + e.what());
  }
  swr_.reset();
  tap_.reset();
  microphone_.Close();
  microphone_tried_ = false;
  recording_ = false;
  FlushLocked();
  WriteHeaderLocked(false);
}

std::uint32_t WaveAudioDevice::Stop() {
  std::unique_lock lock(mutex_);
  StopLocked(lock);
  return kOk;
}

std::uint32_t WaveAudioDevice::Save(const std::filesystem::path& file) {
  std::unique_lock lock(mutex_);
  StopLocked(lock);
  if (fd_ < 0 && error_.empty()) {
    // Never recorded: the element becomes an empty recording.
    if (!OpenFileLocked()) return kErrFileNotSaved;
  }
  FinishBlockLocked();
  FlushLocked();
  WriteHeaderLocked(true);
  if (!error_.empty()) return kErrFileNotSaved;
  std::error_code ec;
  if (std::filesystem::equivalent(file, element_, ec)) return kOk;
  // Another name: a copy, written beside the target and renamed over it, so
  // that a failed save leaves the old file as it was.
  std::filesystem::path part = file;
  part += ".saving";
  std::filesystem::copy_file(element_, part, std::filesystem::copy_options::overwrite_existing, ec);
  if (!ec) std::filesystem::rename(part, file, ec);
  if (ec) {
    std::error_code ignore;
    std::filesystem::remove(part, ignore);
    return kErrFileNotSaved;
  }
  return kOk;
}

}  // namespace quarvel::mci
