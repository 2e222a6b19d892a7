#include "platform/audio/wave_file.h"

#include <cstring>

namespace quarvel::audio {
namespace {

void Put16(std::vector<std::uint8_t>& out, std::uint32_t v) {
  out.push_back(static_cast<std::uint8_t>(v));
  out.push_back(static_cast<std::uint8_t>(v >> 8));
}

void Put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}

void PutTag(std::vector<std::uint8_t>& out, const char (&tag)[5]) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(tag[i]));
}

std::uint16_t Get16(std::span<const std::uint8_t> b, std::size_t at) {
  return static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8));
}

std::uint32_t Get32(std::span<const std::uint8_t> b, std::size_t at) {
  return static_cast<std::uint32_t>(Get16(b, at)) | (static_cast<std::uint32_t>(Get16(b, at + 2)) << 16);
}

bool TagIs(std::span<const std::uint8_t> b, std::size_t at, const char (&tag)[5]) {
  return std::memcmp(b.data() + at, tag, 4) == 0;
}

}  // namespace

WaveFormat WaveFormat::Pcm(std::uint16_t channels, std::uint32_t rate, std::uint16_t bits) {
  WaveFormat f;
  f.format_tag = kWaveFormatPcm;
  f.channels = channels;
  f.sample_rate = rate;
  f.bits_per_sample = bits;
  f.avg_bytes_per_sec = channels * rate * (bits / 8u);
  f.block_align = static_cast<std::uint16_t>((bits / 8u) * channels);
  return f;
}

WaveFormat WaveFormat::ImaAdpcm(std::uint16_t channels, std::uint32_t rate, std::uint16_t block_align) {
  if (channels == 0 || block_align < 4u * channels + 4u) {
    throw WaveError("IMA ADPCM block of " + std::to_string(block_align) + " bytes is too small for " +
                    std::to_string(channels) + " channel(s)");
  }
  WaveFormat f;
  f.format_tag = kWaveFormatImaAdpcm;
  f.channels = channels;
  f.sample_rate = rate;
  f.bits_per_sample = 4;
  f.block_align = block_align;
  // Each block starts with one header sample per channel, then 4-bit codes.
  const std::uint32_t samples = (block_align - 4u * channels) * 8u / (4u * channels) + 1u;
  f.extra = {static_cast<std::uint8_t>(samples), static_cast<std::uint8_t>(samples >> 8)};
  f.avg_bytes_per_sec = static_cast<std::uint32_t>(static_cast<std::uint64_t>(rate) * block_align / samples);
  return f;
}

std::uint16_t WaveFormat::SamplesPerBlock() const {
  if (format_tag != kWaveFormatImaAdpcm || extra.size() < 2) return 0;
  return static_cast<std::uint16_t>(extra[0] | (extra[1] << 8));
}

std::vector<std::uint8_t> WaveHeader(const WaveFormat& format, std::uint32_t data_size,
                                     std::optional<std::uint32_t> fact_samples) {
  const bool plain = format.format_tag == kWaveFormatPcm && format.extra.empty();
  const std::uint32_t fmt_size = plain ? 16u : 18u + static_cast<std::uint32_t>(format.extra.size());
  const std::uint32_t fmt_padded = fmt_size + (fmt_size & 1u);
  const std::uint32_t fact_size = fact_samples ? 12u : 0u;
  const std::uint32_t riff_size = 4u + 8u + fmt_padded + fact_size + 8u + data_size + (data_size & 1u);

  std::vector<std::uint8_t> out;
  out.reserve(12 + 8 + fmt_padded + fact_size + 8);
  PutTag(out, "RIFF");
  Put32(out, riff_size);
  PutTag(out, "WAVE");
  PutTag(out, "fmt ");
  Put32(out, fmt_size);
  Put16(out, format.format_tag);
  Put16(out, format.channels);
  Put32(out, format.sample_rate);
  Put32(out, format.avg_bytes_per_sec);
  Put16(out, format.block_align);
  Put16(out, format.bits_per_sample);
  if (!plain) {
    Put16(out, static_cast<std::uint32_t>(format.extra.size()));
    out.insert(out.end(), format.extra.begin(), format.extra.end());
    if (fmt_size & 1u) out.push_back(0);
  }
  if (fact_samples) {
    PutTag(out, "fact");
    Put32(out, 4);
    Put32(out, *fact_samples);
  }
  PutTag(out, "data");
  Put32(out, data_size);
  return out;
}

WaveInfo ParseWave(std::span<const std::uint8_t> file) {
  if (file.size() < 12 || !TagIs(file, 0, "RIFF") || !TagIs(file, 8, "WAVE")) {
    throw WaveError("not a RIFF WAVE file");
  }
  WaveInfo info;
  bool have_fmt = false;
  bool have_data = false;
  std::size_t at = 12;
  while (at + 8 <= file.size() && !have_data) {
    const std::uint32_t size = Get32(file, at + 4);
    const std::size_t body = at + 8;
    const std::size_t left = file.size() - body;
    if (TagIs(file, at, "fmt ")) {
      if (size < 16 || size > left) throw WaveError("WAVE format chunk at byte " + std::to_string(at) + " is cut short");
      WaveFormat& f = info.format;
      f.format_tag = Get16(file, body);
      f.channels = Get16(file, body + 2);
      f.sample_rate = Get32(file, body + 4);
      f.avg_bytes_per_sec = Get32(file, body + 8);
      f.block_align = Get16(file, body + 12);
      f.bits_per_sample = Get16(file, body + 14);
      if (size >= 18) {
        const std::uint16_t extra = Get16(file, body + 16);
        if (18u + extra > size) throw WaveError("WAVE format chunk declares more extra bytes than it holds");
        f.extra.assign(file.begin() + static_cast<std::ptrdiff_t>(body + 18),
                       file.begin() + static_cast<std::ptrdiff_t>(body + 18 + extra));
      }
      have_fmt = true;
    } else if (TagIs(file, at, "fact") && size >= 4 && size <= left) {
      info.fact_samples = Get32(file, body);
    } else if (TagIs(file, at, "data")) {
      info.data_offset = body;
      info.data_size = std::min<std::size_t>(size, left);
      have_data = true;
    }
    if (!have_data && size > left) throw WaveError("WAVE chunk at byte " + std::to_string(at) + " runs past the end");
    at = body + size + (size & 1u);
  }
  if (!have_fmt) throw WaveError("WAVE file has no format chunk before its data");
  if (info.format.channels == 0 || info.format.sample_rate == 0 || info.format.block_align == 0) {
    throw WaveError("WAVE format chunk has zero channels, rate or block size");
  }
  if (!have_data) info.data_offset = file.size();
  return info;
}

}  // namespace quarvel::audio
