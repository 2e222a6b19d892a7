#include "sound/sound_extractor.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <span>
#include <string_view>

#include "platform/swf/mapped_file.h"
#include "platform/swf/movie.h"
#include "platform/swf/tags.h"

namespace quarvel::sound {
namespace fs = std::filesystem;

namespace {

constexpr std::string_view kWav = ".WAV";
constexpr std::string_view kMp3 = ".MP3";

// 0 raw and 1 ADPCM are wave sounds, 2 is MP3; any other code keeps the
// extension the previous sound of the same kind had.
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

class Walk {
 public:
  Walk(const fs::path& input, SoundExtraction& result) : result_(result), input_(input.string()) {
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
    for (;;) {
      std::optional<swf::Tag> tag;
      try {
        tag = tags.Next();
      } catch (const swf::SwfError& e) {
        FlushStream(false);
        return "The file is cut off at byte offset " + std::to_string(e.Offset()) + ": " +
               e.Reason() + ".";
      }
      if (!tag) {
        FlushStream(false);
        return "The file ends at byte offset " + std::to_string(tags.Offset()) +
               " without an End tag.";
      }
      switch (tag->code) {
        case swf::tag::kEnd:
          FlushStream(false);
          return std::nullopt;
        case swf::tag::kDefineSound:
          EventSound(tag->body);
          break;
        case swf::tag::kSoundStreamHead:
        case swf::tag::kSoundStreamHead2:
          FlushStream(true);
          if (tag->body.size() >= 2) stream_ext_ = ExtensionFor(tag->body[1], stream_ext_);
          break;
        case swf::tag::kSoundStreamBlock:
          if (tag->body.size() > 4) AppendToStream(tag->body.subspan(4));
          break;
        default:
          break;
      }
    }
  }

  const std::string& List() const { return list_; }

 private:
  void EventSound(std::span<const std::uint8_t> body) {
    if (body.size() < 2) return;  // not even an identifier to name the file
    const unsigned id = body[0] | (body[1] << 8);
    if (body.size() >= 3) event_ext_ = ExtensionFor(body[2], event_ext_);
    const fs::path out =
        folder_ / (base_ + "_SOUND" + std::to_string(id) + std::string(event_ext_));
    FilePtr f = Create(out);
    Put(f.get(), out, body.subspan(2));
    Close(std::move(f), out);
    Listed(out);
  }

  // The pending stream goes straight to its file, which is named (counter
  // and extension) and listed when the stream ends, as if it had been
  // gathered in memory and written then.
  void AppendToStream(std::span<const std::uint8_t> bytes) {
    if (!stream_file_) {
      stream_path_ = StreamPath();
      stream_file_ = Create(stream_path_);
      stream_buffer_.reserve(kWriteChunk);
    }
    if (stream_buffer_.size() + bytes.size() > kWriteChunk) {
      Put(stream_file_.get(), stream_path_, stream_buffer_);
      stream_buffer_.clear();
    }
    if (bytes.size() >= kWriteChunk) {
      Put(stream_file_.get(), stream_path_, bytes);
    } else {
      stream_buffer_.insert(stream_buffer_.end(), bytes.begin(), bytes.end());
    }
  }

  fs::path StreamPath() const {
    return folder_ / (base_ + "_StreamSound" + std::to_string(counter_) + std::string(stream_ext_));
  }

  // At End (or a cut) the counter stays; at a new stream head it advances.
  void FlushStream(bool advance) {
    if (!stream_file_) return;
    Put(stream_file_.get(), stream_path_, stream_buffer_);
    stream_buffer_.clear();
    Close(std::move(stream_file_), stream_path_);
    Listed(stream_path_);
    if (advance) ++counter_;
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
    if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) {
      Fail(out, errno);
    }
  }

  void Close(FilePtr f, const fs::path& out) {
    errno = 0;
    if (std::fclose(f.release()) != 0) Fail(out, errno);
  }

  void Listed(const fs::path& out) {
    result_.files.push_back(out);
    list_ += out.string() + "\r\n";
  }

  SoundExtraction& result_;
  std::string input_;
  fs::path folder_;
  std::string base_;
  std::string_view event_ext_ = kWav;
  std::string_view stream_ext_ = kWav;
  std::uint16_t counter_ = 1;
  FilePtr stream_file_;
  fs::path stream_path_;
  std::vector<std::uint8_t> stream_buffer_;
  std::string list_;
};

}  // namespace

SoundExtraction ExtractSounds(const fs::path& swfPath) {
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
    swf::ExpandOptions options;
    options.acceptTruncated = true;
    try {
      expanded = swf::ExpandMovie(file, options);
    } catch (const swf::SwfError& e) {
      throw SoundExtractionError(e.InFile(input).what(), result);
    }
    movie = expanded;
  }

  Walk walk(swfPath, result);
  const std::optional<std::string> cut = walk.Run(movie);
  std::string text = walk.List().empty() ? "No sound tag found !" : walk.List() + "\r\nsaved !";
  if (cut) text += "\r\n" + *cut;
  result.messages.push_back(std::move(text));
  return result;
}

}  // namespace quarvel::sound
