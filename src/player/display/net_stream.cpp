#include "player/display/net_stream.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <fstream>
#include <iterator>
#include <utility>

#include "player/video/video_error.h"

namespace quarvel::player {

std::optional<std::filesystem::path> ResolveStreamPath(const std::filesystem::path& movieFolder,
                                                       const std::string& name) {
  if (movieFolder.empty() || name.empty()) return std::nullopt;
  std::string rel = name;
  std::replace(rel.begin(), rel.end(), '\\', '/');
  // No network and no absolute places: a scheme, a root or a drive letter.
  if (rel.find(':') != std::string::npos || rel.front() == '/') return std::nullopt;
  return movieFolder / std::filesystem::path(rel).lexically_normal();
}

NetStreamPlayback::NetStreamPlayback(int id, SoundEventListener* listener) : id_(id), listener_(listener) {}
NetStreamPlayback::~NetStreamPlayback() = default;

void NetStreamPlayback::Status(const std::string& code, const std::string& level) {
  Event e;
  e.kind = Event::Kind::kStatus;
  e.code = code;
  e.level = level;
  events_.push_back(std::move(e));
}

void NetStreamPlayback::Problem(const std::string& text) {
  if (std::find(problemsSeen_.begin(), problemsSeen_.end(), text) != problemsSeen_.end()) return;
  if (problemsSeen_.size() < 100) problemsSeen_.push_back(text);
  problems_.push_back(text);
}

std::vector<NetStreamPlayback::Event> NetStreamPlayback::TakeEvents() { return std::exchange(events_, {}); }
std::vector<std::string> NetStreamPlayback::TakeProblems() { return std::exchange(problems_, {}); }

void NetStreamPlayback::StopSound(std::int64_t nowMs) {
  if (listener_) listener_->OnVideoSoundStop(id_, nowMs);
}

void NetStreamPlayback::Reset() {
  decoder_.reset();
  file_.reset();
  bytes_.clear();
  // Metadata events point into the file.
  std::erase_if(events_, [](const Event& e) { return e.kind == Event::Kind::kMetaData; });
  open_ = paused_ = ended_ = bufferFull_ = pending_ = false;
  videoDone_ = true;
  baseMs_ = anchorMs_ = endMs_ = 0;
  nextAudio_ = nextScript_ = 0;
}

void NetStreamPlayback::Play(const std::optional<std::filesystem::path>& file, const std::string& name,
                             std::int64_t nowMs) {
  if (open_) StopSound(nowMs);
  Reset();
  name_ = name;
  auto notFound = [&](const std::string& why) {
    Problem("video stream \"" + name + "\": " + why);
    Status("NetStream.Play.StreamNotFound", "error");
  };
  if (!file) return notFound("only files beside the movie are played");
  std::error_code ec;
  const auto size = std::filesystem::file_size(*file, ec);
  if (ec || !std::filesystem::is_regular_file(*file, ec)) return notFound(file->string() + " is not there");
  if (size > kMaxFlvFileBytes) return notFound(file->string() + " is larger than 1 GiB");
  {
    std::ifstream in(*file, std::ios::binary);
    bytes_.assign(std::istreambuf_iterator<char>(in), {});
    if (!in && !in.eof()) return notFound(file->string() + " cannot be read");
  }
  try {
    file_ = std::make_unique<video::FlvFile>(video::ReadFlv(bytes_));
    ++fileNumber_;
  } catch (const video::VideoError& e) {
    Reset();
    return notFound(file->string() + ": " + e.what());
  }
  for (const auto& p : file_->problems) Problem(file->filename().string() + ": " + p);
  try {
    decoder_ = std::make_unique<video::FlvVideoDecoder>(*file_);
    videoDone_ = false;
  } catch (const video::VideoError& e) {
    // A file of sound alone plays too.
    if (file_->hasVideo) Problem(file->filename().string() + ": " + e.what());
  }
  for (const auto& t : file_->tags) endMs_ = std::max<std::int64_t>(endMs_, t.timestamp);
  open_ = true;
  anchorMs_ = nowMs;
  Status("NetStream.Play.Start");
}

std::int64_t NetStreamPlayback::Position(std::int64_t nowMs) const {
  if (!open_ || paused_ || ended_) return baseMs_;
  return std::clamp<std::int64_t>(baseMs_ + nowMs - anchorMs_, baseMs_, std::max(baseMs_, endMs_));
}

void NetStreamPlayback::ShowPicturesUpTo(std::int64_t positionMs) {
  if (!decoder_) return;
  const std::size_t known = decoder_->Problems().size();
  for (;;) {
    if (!pending_) {
      if (videoDone_ || !decoder_->Next()) {
        videoDone_ = true;
        break;
      }
      pending_ = true;
    }
    if (decoder_->CurrentTime() > positionMs) break;
    picture_ = PictureBitmap(decoder_->Current());
    pending_ = false;
  }
  const auto& all = decoder_->Problems();
  for (std::size_t i = known; i < all.size(); ++i) Problem(name_ + ": " + all[i]);
}

void NetStreamPlayback::RewindSound(std::int64_t positionMs) {
  if (!file_) return;
  const auto& tags = file_->tags;
  nextAudio_ = tags.size();
  for (std::size_t i = 0; i < tags.size(); ++i) {
    if (tags[i].type == video::FlvTagType::kAudio && tags[i].timestamp >= positionMs) {
      nextAudio_ = i;
      break;
    }
  }
}

void NetStreamPlayback::Advance(std::int64_t nowMs) {
  if (!open_) return;
  const std::int64_t pos = Position(nowMs);
  const auto& tags = file_->tags;
  // The buffer fills before the file's first data reaches the scripts.
  if (!bufferFull_) {
    bufferFull_ = true;
    Status("NetStream.Buffer.Full");
  }
  for (; nextScript_ < tags.size() && tags[nextScript_].timestamp <= pos; ++nextScript_) {
    const auto& t = tags[nextScript_];
    if (t.type != video::FlvTagType::kScript || t.script.name != "onMetaData") continue;
    Event e;
    e.kind = Event::Kind::kMetaData;
    e.metadata = &t.script.value;
    e.file = fileNumber_;
    events_.push_back(std::move(e));
  }
  ShowPicturesUpTo(pos);
  if (!paused_ && !ended_) {
    for (; nextAudio_ < tags.size(); ++nextAudio_) {
      const auto& t = tags[nextAudio_];
      if (t.type != video::FlvTagType::kAudio) continue;
      if (t.timestamp > pos + kSoundAheadMs) break;
      const std::uint8_t* body = bytes_.data() + t.offset + 11;
      const std::uint8_t* end = t.audio.data.data() + t.audio.data.size();
      if (listener_ && end > body) {
        listener_->OnVideoSound(id_, {body, static_cast<std::size_t>(end - body)}, nowMs + (t.timestamp - pos));
      }
    }
  }
  if (!ended_ && !paused_ && pos >= endMs_ && videoDone_ && nextAudio_ >= tags.size()) {
    ended_ = true;
    baseMs_ = endMs_;
    // The rest of the file is out of the buffer, then play stops.
    Status("NetStream.Buffer.Flush");
    Status("NetStream.Play.Stop");
    Status("NetStream.Buffer.Empty");
  }
}

void NetStreamPlayback::Pause(std::optional<bool> pause, std::int64_t nowMs, bool quietToggle) {
  if (!open_) return;
  const bool want = pause ? *pause : !paused_;
  const bool news = pause || !quietToggle;
  if (want == paused_) return;
  if (want) {
    baseMs_ = Position(nowMs);
    paused_ = true;
    StopSound(nowMs);
    RewindSound(baseMs_);
    if (news) Status("NetStream.Pause.Notify");
  } else {
    anchorMs_ = nowMs;
    paused_ = false;
    if (news) Status("NetStream.Unpause.Notify");
  }
}

void NetStreamPlayback::Seek(double seconds, std::int64_t nowMs) {
  if (!open_) return;
  const double ms = std::isfinite(seconds) ? std::clamp(seconds * 1000.0, 0.0, static_cast<double>(endMs_)) : 0.0;
  std::int64_t target = static_cast<std::int64_t>(ms);
  if (decoder_) {
    target = decoder_->SeekToKey(static_cast<std::uint32_t>(target));
    pending_ = false;
    videoDone_ = false;
  }
  StopSound(nowMs);
  baseMs_ = target;
  anchorMs_ = nowMs;
  ended_ = false;
  RewindSound(target);
  Status("NetStream.Seek.Notify");
  ShowPicturesUpTo(target);
}

void NetStreamPlayback::Close(std::int64_t nowMs) {
  if (!open_) return;
  StopSound(nowMs);
  // The last picture stays on the videos until they are cleared.
  Reset();
}

double NetStreamPlayback::Time(std::int64_t nowMs) const { return static_cast<double>(Position(nowMs)) / 1000.0; }

double NetStreamPlayback::BufferLength(std::int64_t nowMs) const {
  if (!open_ || ended_) return 0;
  return std::min(bufferTime_, static_cast<double>(endMs_ - Position(nowMs)) / 1000.0);
}

void NetStreamPlayback::SetBufferTime(double seconds) {
  if (std::isfinite(seconds) && seconds >= 0) bufferTime_ = seconds;
}

}  // namespace quarvel::player
