#include "sound/sound_extractor.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>
#include <span>
#include <string_view>

#include "platform/audio/wave_file.h"
#include "player/sound/decoders.h"
#include "player/sound/sound_format.h"
#include "player/swf/mapped_file.h"
#include "player/swf/movie.h"
#include "player/swf/tags.h"

namespace quarvel::sound {
namespace fs = std::filesystem;
namespace ps = player::sound;

namespace {

constexpr std::string_view kWav = ".WAV";
constexpr std::string_view kMp3 = ".MP3";
// Sprites inside sprites do not occur in real movies; a crafted file must
// not recurse without end.
constexpr int kMaxSpriteDepth = 16;
// A WAVE file counts its data in 32 bits.
constexpr std::uint64_t kMaxWaveData = std::numeric_limits<std::uint32_t>::max() - 64;

// Raw mode: 0 raw and 1 ADPCM are wave sounds, 2 is MP3; any other code
// keeps the extension the previous sound of the same kind had.
std::string_view ExtensionFor(std::uint8_t format_byte, std::string_view previous) {
  switch (format_byte >> 4) {
    case 0:
    case 1: return kWav;
    case 2: return kMp3;
    default: return previous;
  }
}

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// Stream blocks are small (a few KiB); gather them so that each write to
// the file is large.
constexpr std::size_t kWriteChunk = std::size_t{4} << 20;

void AppendSamples(std::span<const std::int16_t> samples, std::vector<std::uint8_t>& out) {
  out.reserve(out.size() + samples.size() * 2);
  for (const std::int16_t s : samples) {
    const auto u = static_cast<std::uint16_t>(s);
    out.push_back(static_cast<std::uint8_t>(u & 0xFF));
    out.push_back(static_cast<std::uint8_t>(u >> 8));
  }
}

// What one sound (or one stream block) becomes in its file: MP3 frames or
// the data chunk bytes of a PCM wave, with the wave's format.
struct Payload {
  std::vector<std::uint8_t> bytes;
  bool mp3 = false;
  int rate = 0, channels = 0, bits = 16;
};

// Whole sample frames of uncompressed data, as the WAVE data chunk holds them.
void Uncompressed(const ps::SoundFormat& f, std::span<const std::uint8_t> data, Payload& p) {
  p.rate = f.rate;
  p.channels = f.Channels();
  p.bits = f.sixteenBit ? 16 : 8;
  const std::size_t frame = static_cast<std::size_t>(p.channels) * (f.sixteenBit ? 2 : 1);
  p.bytes.assign(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(data.size() / frame * frame));
}

ps::AvDecoder::Kind AvKind(ps::Codec codec) {
  return codec == ps::Codec::kSpeex ? ps::AvDecoder::Kind::kSpeex : ps::AvDecoder::Kind::kNellymoser;
}

bool ThroughLibavcodec(ps::Codec codec) {
  return codec == ps::Codec::kNelly16k || codec == ps::Codec::kNelly8k || codec == ps::Codec::kNelly ||
         codec == ps::Codec::kSpeex;
}

Payload DecodeEventSound(const ps::DefineSound& s) {
  Payload p;
  const ps::SoundFormat& f = s.format;
  switch (f.codec) {
    case ps::Codec::kMp3:
      p.mp3 = true;
      p.bytes.assign(s.data.begin(), s.data.end());
      break;
    case ps::Codec::kPcmNative:
    case ps::Codec::kPcmLittle: Uncompressed(f, s.data, p); break;
    case ps::Codec::kAdpcm:
      p.rate = f.rate;
      p.channels = f.Channels();
      AppendSamples(ps::DecodeAdpcm(s.data, p.channels, s.sampleCount), p.bytes);
      break;
    default: {
      ps::AvDecoder dec(AvKind(f.codec), f.CodedRate(), 1);
      std::vector<std::int16_t> pcm;
      if (f.codec == ps::Codec::kSpeex) {
        dec.Decode(s.data, pcm);
      } else {
        // 64-byte blocks of 256 samples, a few at a time.
        for (std::size_t at = 0; at + 64 <= s.data.size(); at += 64 * 16) {
          dec.Decode(s.data.subspan(at, std::min<std::size_t>(64 * 16, (s.data.size() - at) / 64 * 64)), pcm);
        }
      }
      p.rate = dec.Rate();
      p.channels = dec.Channels();
      AppendSamples(pcm, p.bytes);
      break;
    }
  }
  return p;
}

// The data of one timeline's sound stream, from its head to the next head
// or the timeline's end.
struct Stream {
  bool open = false;  // a head has been met
  // Raw mode: the extension at the head.
  std::string_view raw_ext = kWav;
  // Playable mode.
  std::optional<ps::StreamHead> head;
  std::unique_ptr<ps::AvDecoder> decoder;
  std::string problem;  // why this stream is left out
  // The file, made at the first data.
  FilePtr file;
  fs::path path;
  std::vector<std::uint8_t> buffer;
  std::uint64_t data_bytes = 0;
  bool wave = false;
  int rate = 0, channels = 0, bits = 16;
};

class Walk {
 public:
  Walk(const fs::path& input, const ExtractOptions& options, SoundExtraction& result)
      : options_(options), result_(result), input_(input.string()) {
    folder_ = input.parent_path();
    const std::string name = input.filename().string();
    base_ = name.substr(0, name.find('.'));
  }

  // Walks the tags of an uncompressed movie; returns the line about a cut,
  // if the data ended early.
  std::optional<std::string> Run(std::span<const std::uint8_t> movie) {
    swf::Reader header(movie);
    swf::TagStream tags;
    try {
      header.Skip(8, "SWF header");
      swf::ReadRect(header, "FrameSize");
      header.U16("FrameRate");
      header.U16("FrameCount");
      tags = swf::TagStream(header.Rest(), header.Offset());
    } catch (const swf::SwfError& e) {
      // Not even a movie header: nothing to extract, and no movie at all.
      throw SoundExtractionError(input_ + ": not a SWF movie: the file is cut off at byte offset " +
                                     std::to_string(e.Offset()) + ", inside its header",
                                 result_);
    }
    Stream main;
    std::optional<std::string> cut = Timeline(tags, main, 0);
    FlushStream(main);
    return cut;
  }

  std::string Text() const {
    std::string problems;
    for (const std::string& p : problems_) problems += "\r\n" + p;
    if (list_.empty()) {
      return problems.empty() ? "No sound tag found !" : "No sound file was written:" + problems;
    }
    return list_ + "\r\nsaved !" + problems;
  }

 private:
  // One timeline's tags, up to its End tag. A sprite's stream is its own:
  // it ends with the sprite's definition.
  std::optional<std::string> Timeline(swf::TagStream& tags, Stream& stream, int depth) {
    for (;;) {
      std::optional<swf::Tag> tag;
      try {
        tag = tags.Next();
      } catch (const swf::SwfError& e) {
        if (depth > 0) return std::nullopt;  // a sprite cut short ends there
        return "The file is cut off at byte offset " + std::to_string(e.Offset()) + ": " + e.Reason() + ".";
      }
      if (!tag) {
        if (depth > 0) return std::nullopt;
        return "The file ends at byte offset " + std::to_string(tags.Offset()) + " without an End tag.";
      }
      switch (tag->code) {
        case swf::tag::kEnd: return std::nullopt;
        case swf::tag::kDefineSound: EventSound(tag->body); break;
        case swf::tag::kSoundStreamHead:
        case swf::tag::kSoundStreamHead2: StreamHead(stream, tag->body); break;
        case swf::tag::kSoundStreamBlock: StreamBlock(stream, tag->body); break;
        case swf::tag::kDefineSprite:
          if (depth < kMaxSpriteDepth && tag->body.size() >= 4) {
            swf::TagStream inner(tag->body.subspan(4), tag->offset + tag->headerSize + 4);
            Stream own;
            Timeline(inner, own, depth + 1);
            FlushStream(own);
          }
          break;
        default: break;
      }
    }
  }

  // --- Event sounds ---

  void EventSound(std::span<const std::uint8_t> body) {
    if (body.size() < 2) return;  // not even an identifier to name the file
    const unsigned id = body[0] | (body[1] << 8);
    if (options_.raw) {
      if (body.size() >= 3) event_ext_ = ExtensionFor(body[2], event_ext_);
      const fs::path out = EventPath(id, event_ext_);
      WholeFile(out, body.subspan(2));
      return;
    }
    Payload p;
    try {
      p = DecodeEventSound(ps::ParseDefineSound(body));
    } catch (const std::exception& e) {
      problems_.push_back("Sound " + std::to_string(id) + " left out: " + e.what());
      return;
    }
    const fs::path out = EventPath(id, p.mp3 ? kMp3 : kWav);
    if (p.mp3) {
      WholeFile(out, p.bytes);
    } else {
      Stream s;
      s.wave = true;
      s.rate = p.rate;
      s.channels = p.channels;
      s.bits = p.bits;
      s.path = out;
      s.file = Create(out);
      Append(s, p.bytes);
      Finish(s);
      Listed(out);
    }
  }

  fs::path EventPath(unsigned id, std::string_view ext) const {
    return folder_ / (base_ + "_SOUND" + std::to_string(id) + std::string(ext));
  }

  void WholeFile(const fs::path& out, std::span<const std::uint8_t> bytes) {
    FilePtr f = Create(out);
    Put(f.get(), out, bytes);
    Close(std::move(f), out);
    Listed(out);
  }

  // --- Streams ---

  void StreamHead(Stream& s, std::span<const std::uint8_t> body) {
    FlushStream(s);
    s = Stream{};
    s.open = true;
    if (options_.raw) {
      if (body.size() >= 2) stream_ext_ = ExtensionFor(body[1], stream_ext_);
      s.raw_ext = stream_ext_;
      return;
    }
    try {
      s.head = ps::ParseStreamHead(body);
      if (ThroughLibavcodec(s.head->stream.codec)) {
        s.decoder = std::make_unique<ps::AvDecoder>(AvKind(s.head->stream.codec), s.head->stream.CodedRate(), 1);
      }
    } catch (const std::exception& e) {
      s.problem = e.what();
    }
  }

  void StreamBlock(Stream& s, std::span<const std::uint8_t> body) {
    if (options_.raw) {
      // Blocks before any head go to the timeline's first stream, as stored.
      if (body.size() > 4) {
        if (!s.file) Start(s, s.raw_ext, false);
        Append(s, body.subspan(4));
      }
      return;
    }
    if (!s.open) {
      if (!warned_headless_) problems_.push_back("Stream blocks without a stream head left out");
      warned_headless_ = true;
      return;
    }
    if (!s.head || !s.problem.empty()) return;
    Payload p;
    const ps::SoundFormat& f = s.head->stream;
    try {
      switch (f.codec) {
        case ps::Codec::kMp3:
          p.mp3 = true;
          if (body.size() > 4) p.bytes.assign(body.begin() + 4, body.end());
          break;
        case ps::Codec::kPcmNative:
        case ps::Codec::kPcmLittle: Uncompressed(f, body, p); break;
        case ps::Codec::kAdpcm:
          p.rate = f.rate;
          p.channels = f.Channels();
          AppendSamples(ps::DecodeAdpcm(body, p.channels), p.bytes);
          break;
        default: {
          std::vector<std::int16_t> pcm;
          s.decoder->Decode(body, pcm);
          p.rate = s.decoder->Rate();
          p.channels = s.decoder->Channels();
          AppendSamples(pcm, p.bytes);
          break;
        }
      }
    } catch (const std::exception& e) {
      s.problem = e.what();
      return;
    }
    if (p.bytes.empty()) return;
    if (!s.file) {
      Start(s, p.mp3 ? kMp3 : kWav, !p.mp3);
      s.rate = p.rate;
      s.channels = p.channels;
      s.bits = p.bits;
    }
    Append(s, p.bytes);
  }

  void Start(Stream& s, std::string_view ext, bool wave) {
    s.path = folder_ / (base_ + "_StreamSound" + std::to_string(counter_) + std::string(ext));
    ++counter_;
    s.file = Create(s.path);
    s.wave = wave;
    s.buffer.reserve(kWriteChunk);
  }

  void FlushStream(Stream& s) {
    if (!s.problem.empty()) {
      problems_.push_back(s.file ? s.path.filename().string() + " stops early: " + s.problem
                                 : "A sound stream was left out: " + s.problem);
    }
    // A stream that broke part way keeps what was decoded.
    if (!s.file) {
      s = Stream{};
      return;
    }
    Finish(s);
    Listed(s.path);
    s = Stream{};
  }

  // --- Files ---

  void Append(Stream& s, std::span<const std::uint8_t> bytes) {
    if (s.wave) {
      if (s.data_bytes + bytes.size() > kMaxWaveData) return;  // a WAVE file cannot say more
      if (s.data_bytes == 0 && s.buffer.empty()) {
        const std::vector<std::uint8_t> placeholder(audio::WaveHeader(audio::WaveFormat::Pcm(1, 1, 16), 0));
        s.buffer.insert(s.buffer.end(), placeholder.begin(), placeholder.end());
      }
    }
    s.data_bytes += bytes.size();
    if (s.buffer.size() + bytes.size() > kWriteChunk) {
      Put(s.file.get(), s.path, s.buffer);
      s.buffer.clear();
    }
    if (bytes.size() >= kWriteChunk) {
      Put(s.file.get(), s.path, bytes);
    } else {
      s.buffer.insert(s.buffer.end(), bytes.begin(), bytes.end());
    }
  }

  void Finish(Stream& s) {
    if (s.wave) {
      if (s.data_bytes == 0 && s.buffer.empty()) {
        const auto header = audio::WaveHeader(audio::WaveFormat::Pcm(1, 1, 16), 0);
        s.buffer.assign(header.begin(), header.end());
      }
      if (s.data_bytes % 2 != 0) s.buffer.push_back(0);  // RIFF chunks are padded to even sizes
    }
    Put(s.file.get(), s.path, s.buffer);
    s.buffer.clear();
    if (s.wave) {
      const auto rate = static_cast<std::uint32_t>(std::max(s.rate, 1));
      const auto channels = static_cast<std::uint16_t>(std::clamp(s.channels, 1, 2));
      const auto header = audio::WaveHeader(audio::WaveFormat::Pcm(channels, rate, static_cast<std::uint16_t>(s.bits)),
                                            static_cast<std::uint32_t>(s.data_bytes));
      errno = 0;
      if (std::fseek(s.file.get(), 0, SEEK_SET) != 0) Fail(s.path, errno);
      Put(s.file.get(), s.path, header);
    }
    Close(std::move(s.file), s.path);
  }

  [[noreturn]] void Fail(const fs::path& out, int err) {
    // No partial (or empty) sound file is left behind.
    std::error_code ignore;
    fs::remove(out, ignore);
    throw SoundExtractionError(
        "Cannot write " + out.string() + ": " + std::strerror(err ? err : EIO), result_);
  }

  FilePtr Create(const fs::path& out) {
    errno = 0;
    FilePtr f(std::fopen(out.c_str(), "wb"));
    if (!f) Fail(out, errno);
    return f;
  }

  void Put(std::FILE* f, const fs::path& out, std::span<const std::uint8_t> bytes) {
    errno = 0;
    if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) Fail(out, errno);
  }

  void Close(FilePtr f, const fs::path& out) {
    errno = 0;
    if (std::fclose(f.release()) != 0) Fail(out, errno);
  }

  void Listed(const fs::path& out) {
    result_.files.push_back(out);
    list_ += out.string() + "\r\n";
  }

  const ExtractOptions& options_;
  SoundExtraction& result_;
  std::string input_;
  fs::path folder_;
  std::string base_;
  std::string_view event_ext_ = kWav;
  std::string_view stream_ext_ = kWav;
  std::uint16_t counter_ = 1;
  bool warned_headless_ = false;
  std::string list_;
  std::vector<std::string> problems_;
};

}  // namespace

SoundExtraction ExtractSounds(const fs::path& swfPath, const ExtractOptions& options) {
  SoundExtraction result;
  std::error_code ec;
  if (!fs::is_regular_file(swfPath, ec)) return result;

  std::optional<swf::MappedFile> mapped;
  try {
    mapped.emplace(swfPath);
  } catch (const swf::SwfError& e) {
    throw SoundExtractionError(e.what(), result);
  }
  const std::span<const std::uint8_t> file = mapped->Bytes();

  const std::string input = swfPath.string();
  const auto kind = swf::DetectCompression(file);
  std::vector<std::uint8_t> expanded;
  std::span<const std::uint8_t> movie = file;
  if (kind != swf::Compression::kNone) {
    if (!kind) {
      result.messages.push_back(input + " not flash/swf file or compressed !");
      return result;
    }
    result.messages.push_back(input + " Uncompressed !");
    // Inflate this very file: a copy on disk may belong to another movie.
    // A stream that stops early is walked as far as it goes.
    swf::ExpandOptions expand;
    expand.acceptTruncated = true;
    try {
      expanded = swf::ExpandMovie(file, expand);
    } catch (const swf::SwfError& e) {
      throw SoundExtractionError(e.InFile(input).what(), result);
    }
    movie = expanded;
  }

  Walk walk(swfPath, options, result);
  const std::optional<std::string> cut = walk.Run(movie);
  std::string text = walk.Text();
  if (cut) text += "\r\n" + *cut;
  result.messages.push_back(std::move(text));
  return result;
}

}  // namespace quarvel::sound
