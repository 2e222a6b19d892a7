// info, and the file checks every command shares.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <optional>
#include <system_error>

#include "cli/commands.h"
#include "player/swf/movie.h"
#include "player/swf/swf_error.h"
#include "sound/sound_extractor.h"

namespace quarvel::cli {
namespace {

namespace fs = std::filesystem;

const char* SoundFormatName(int format) {
  switch (format) {
    case 0: return "uncompressed (native order)";
    case 1: return "ADPCM";
    case 2: return "MP3";
    case 3: return "uncompressed (little-endian)";
    case 4: return "Nellymoser 16 kHz";
    case 5: return "Nellymoser 8 kHz";
    case 6: return "Nellymoser";
    case 11: return "Speex";
    default: return "unknown format";
  }
}

const char* SoundRateName(int code) {
  static const char* rates[] = {"5.5 kHz", "11 kHz", "22 kHz", "44 kHz"};
  return rates[code & 3];
}

std::string SoundBits(std::uint8_t bits) {
  // format (4) rate (2) 16-bit (1) stereo (1)
  return std::string(SoundFormatName(bits >> 4)) + ", " + SoundRateName((bits >> 2) & 3) + ", " +
         ((bits & 2) ? "16-bit" : "8-bit") + ", " + ((bits & 1) ? "stereo" : "mono");
}

struct SoundCensus {
  std::vector<std::string> lines;
  long long stream_blocks = 0;
  long long start_sounds = 0;
};

void WalkSounds(swf::TagStream stream, const std::string& where, SoundCensus& census, int depth) {
  std::map<int, long long> blocks_by_head;
  for (;;) {
    std::optional<swf::Tag> tag;
    try {
      tag = stream.Next();
    } catch (const swf::SwfError& e) {
      census.lines.push_back(where + "tags end early: " + e.what());
      return;
    }
    if (!tag || tag->code == swf::tag::kEnd) return;
    const auto& b = tag->body;
    switch (tag->code) {
      case swf::tag::kDefineSound:
        if (b.size() >= 7) {
          unsigned id = b[0] | (b[1] << 8);
          std::uint32_t samples = b[3] | (b[4] << 8) | (b[5] << 16) | (std::uint32_t(b[6]) << 24);
          census.lines.push_back(where + "DefineSound id " + std::to_string(id) + ": " + SoundBits(b[2]) + ", " +
                                 std::to_string(samples) + " samples, " + std::to_string(b.size() - 7) + " bytes");
        }
        break;
      case swf::tag::kSoundStreamHead:
      case swf::tag::kSoundStreamHead2:
        if (b.size() >= 4) {
          unsigned per_frame = b[2] | (b[3] << 8);
          census.lines.push_back(where + std::string(swf::TagName(tag->code)) + ": " + SoundBits(b[1]) + ", " +
                                 std::to_string(per_frame) + " samples per frame");
        }
        break;
      case swf::tag::kSoundStreamBlock: ++census.stream_blocks; break;
      case swf::tag::kStartSound:
      case swf::tag::kStartSound2: ++census.start_sounds; break;
      case swf::tag::kDefineSprite:
        if (depth == 0 && b.size() >= 4) {
          unsigned id = b[0] | (b[1] << 8);
          WalkSounds(swf::TagStream(b.subspan(4), tag->offset + tag->headerSize + 4),
                     "sprite " + std::to_string(id) + ": ", census, depth + 1);
        }
        break;
      default: break;
    }
  }
}

const char* CompressionName(swf::Compression c) {
  switch (c) {
    case swf::Compression::kNone: return "FWS (uncompressed)";
    case swf::Compression::kZlib: return "CWS (zlib)";
    case swf::Compression::kLzma: return "ZWS (LZMA)";
  }
  return "?";
}

}  // namespace

void CheckMovieFile(const std::string& path) {
  std::error_code ec;
  auto st = fs::status(path, ec);
  if (!fs::exists(st)) throw CommandError(path + ": no such file");
  if (fs::is_directory(st)) throw CommandError(path + ": is a folder, not a movie");
  if (::access(path.c_str(), R_OK) != 0) throw CommandError(path + ": cannot read: " + std::strerror(errno));
}

void WarnCutOff(const std::string& movie) {
  std::fprintf(stderr, "quarvel-cli: warning: %s: the file is cut off; using what it holds\n", movie.c_str());
}

void CheckOutputFile(const std::string& path) {
  if (path.empty()) throw CommandError("no output file name given");
  fs::path p(path);
  std::error_code ec;
  if (fs::is_directory(p, ec)) throw CommandError(path + ": is a folder");
  fs::path folder = p.parent_path().empty() ? fs::path(".") : p.parent_path();
  if (!fs::is_directory(folder, ec)) throw CommandError(path + ": folder " + folder.string() + " does not exist");
  if (::access(folder.c_str(), W_OK) != 0)
    throw CommandError(path + ": cannot write in " + folder.string() + ": " + std::strerror(errno));
  if (fs::exists(p, ec) && ::access(path.c_str(), W_OK) != 0)
    throw CommandError(path + ": cannot overwrite: " + std::strerror(errno));
}

void RunInfo(const std::string& movie) {
  CheckMovieFile(movie);
  swf::Movie m = swf::LoadMovieFile(movie);
  if (m.cutOff) WarnCutOff(movie);
  const auto& h = m.header;
  int w = h.frameSize.Width() / 20;
  int ht = h.frameSize.Height() / 20;
  std::printf("file:        %s\n", movie.c_str());
  std::printf("signature:   %s\n", CompressionName(m.compression));
  std::printf("version:     %d\n", m.version);
  if (m.cutOff) std::printf("cut off:     yes (%zu bytes of movie)\n", m.data.size());
  std::printf("size:        %d x %d pixels\n", w, ht);
  std::printf("frame rate:  %d fps (%.2f)\n", h.frameRate >> 8, h.FrameRate());
  std::printf("frames:      %u\n", unsigned(h.frameCount));
  if (h.frameRate > 0)
    std::printf("duration:    %.2f s\n", double(h.frameCount) / h.FrameRate());
  SoundCensus census;
  WalkSounds(m.TagsStream(), "", census, 0);
  if (census.lines.empty() && census.stream_blocks == 0 && census.start_sounds == 0) {
    std::printf("sound tags:  none\n");
    return;
  }
  std::printf("sound tags:\n");
  for (const auto& line : census.lines) std::printf("  %s\n", line.c_str());
  if (census.stream_blocks > 0) std::printf("  SoundStreamBlock: %lld\n", census.stream_blocks);
  if (census.start_sounds > 0) std::printf("  StartSound: %lld\n", census.start_sounds);
}

void RunSounds(const std::string& movie, bool raw) {
  CheckMovieFile(movie);
  // The extraction's messages are the window's notices: here the list of
  // files goes to standard output, a cut-off file is a warning naming the
  // movie, and the notice that a file was compressed is left out.
  auto print = [&movie](const sound::SoundExtraction& r) {
    for (std::string m : r.messages) {
      if (m.ends_with(" Uncompressed !")) continue;
      for (std::size_t at; (at = m.find("\r\n")) != std::string::npos;) m.replace(at, 2, "\n");
      std::size_t at = 0;
      while (at <= m.size()) {
        std::size_t end = m.find('\n', at);
        if (end == std::string::npos) end = m.size();
        std::string line = m.substr(at, end - at);
        at = end + 1;
        if (line.starts_with("The file is cut off") || line.starts_with("The file ends at")) {
          line[0] = 't';
          std::fprintf(stderr, "quarvel-cli: warning: %s: %s\n", movie.c_str(), line.c_str());
        } else {
          std::printf("%s\n", line.c_str());
        }
      }
    }
  };
  try {
    sound::ExtractOptions options;
    options.raw = raw;
    sound::SoundExtraction r = sound::ExtractSounds(movie, options);
    const std::string refused = " not flash/swf file or compressed !";
    if (r.files.empty() && r.messages.size() == 1 && r.messages[0].ends_with(refused))
      throw CommandError(movie + ": not a SWF movie: the signature is neither FWS, CWS nor ZWS");
    print(r);
  } catch (const sound::SoundExtractionError& e) {
    print(e.SoFar());
    throw;
  }
}

}  // namespace quarvel::cli
