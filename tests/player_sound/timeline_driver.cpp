#include "player_sound/timeline_driver.h"

#include <algorithm>
#include <map>
#include <string>
#include <optional>
#include <vector>

namespace quarvel::test {
namespace {

using swf::Tag;

// A timeline's tags split into frames.
std::vector<std::vector<Tag>> SplitFrames(swf::TagStream stream) {
  std::vector<std::vector<Tag>> frames(1);
  for (;;) {
    std::optional<Tag> t;
    try {
      t = stream.Next();
    } catch (const swf::SwfError&) {
      break;
    }
    if (!t || t->code == swf::tag::kEnd) break;
    if (t->code == swf::tag::kShowFrame) {
      frames.emplace_back();
    } else {
      frames.back().push_back(*t);
    }
  }
  if (frames.size() > 1 && frames.back().empty()) frames.pop_back();
  return frames;
}

struct Sprite {
  std::vector<std::vector<Tag>> frames;
};
struct Instance {
  int id = 0;
  int frame = -1;
};

}  // namespace

class SoundTimeline::Driver {
 public:
  Driver(const swf::Movie& movie, player::SoundEventListener& l) : listener_(l) {
    main_ = SplitFrames(movie.TagsStream());
    for (const auto& frame : main_) {
      for (const Tag& t : frame) {
        if (t.code == swf::tag::kDefineSound && t.body.size() >= 2) {
          listener_.OnDefineSound(t.body[0] | (t.body[1] << 8), t.body);
        } else if (t.code == swf::tag::kDefineSprite && t.body.size() >= 4) {
          const int id = t.body[0] | (t.body[1] << 8);
          sprites_[id].frames = SplitFrames(swf::TagStream(t.body.subspan(4), t.offset + t.headerSize + 4));
        }
      }
    }
    fps_ = movie.header.FrameRate() > 0 ? movie.header.FrameRate() : 12.0;
  }

  void AdvanceTo(std::int64_t ms) {
    for (;;) {
      const std::int64_t t = static_cast<std::int64_t>(run_ * 1000 / fps_);
      if (t > ms) return;
      // A one-frame timeline does not loop: its frame runs once.
      const bool rerun = frame_ >= static_cast<int>(main_.size());
      if (rerun && main_.size() > 1) {
        frame_ = 0;
        depths_.clear();
        listener_.OnSeek(0, t);
      }
      for (auto& [depth, inst] : depths_) {
        auto& sf = sprites_[inst.id].frames;
        if (sf.size() < 2) continue;
        inst.frame = (inst.frame + 1) % static_cast<int>(sf.size());
        RunTags(sf[static_cast<std::size_t>(inst.frame)], inst.id, inst.frame, t, false);
      }
      if (!rerun || main_.size() > 1) {
        RunTags(main_[static_cast<std::size_t>(frame_)], 0, frame_, t, true);
        ++frame_;
      }
      ++run_;
    }
  }
  int run_ = 0;
  int frame_ = 0;

  // Read by SoundTimeline too.
  void RunTags(const std::vector<Tag>& tags, int timeline, int frame, std::int64_t t, bool main) {
    for (const Tag& tag : tags) {
      switch (tag.code) {
        case swf::tag::kStartSound:
          if (tag.body.size() >= 2) listener_.OnStartSound(tag.body[0] | (tag.body[1] << 8), {}, tag.body.subspan(2), t);
          break;
        case swf::tag::kStartSound2: {
          const auto nul = std::find(tag.body.begin(), tag.body.end(), std::uint8_t{0});
          if (nul == tag.body.end()) break;
          const std::string name(tag.body.begin(), nul);
          listener_.OnStartSound(0, name, tag.body.subspan(static_cast<std::size_t>(nul - tag.body.begin()) + 1), t);
          break;
        }
        case swf::tag::kSoundStreamHead:
        case swf::tag::kSoundStreamHead2: listener_.OnStreamHead(timeline, tag.code, tag.body, t); break;
        case swf::tag::kSoundStreamBlock: listener_.OnStreamBlock(timeline, frame, tag.body, t); break;
        case swf::tag::kPlaceObject2:
        case swf::tag::kPlaceObject3:
          if (main) Place(tag, t);
          break;
        case swf::tag::kRemoveObject2:
          if (main && tag.body.size() >= 2) depths_.erase(tag.body[0] | (tag.body[1] << 8));
          break;
        case swf::tag::kRemoveObject:
          if (main && tag.body.size() >= 4) depths_.erase(tag.body[2] | (tag.body[3] << 8));
          break;
        default: break;
      }
    }
  }

  void Place(const Tag& tag, std::int64_t t) {
    try {
      swf::Reader r = tag.BodyReader();
      const std::uint8_t flags = r.U8();
      std::uint8_t flags2 = 0;
      if (tag.code == swf::tag::kPlaceObject3) flags2 = r.U8();
      const int depth = r.U16();
      if (tag.code == swf::tag::kPlaceObject3 && ((flags2 & 0x08) || ((flags2 & 0x10) && (flags & 0x02)))) r.String();
      if (!(flags & 0x02)) return;
      const int id = r.U16();
      auto it = sprites_.find(id);
      if (it == sprites_.end() || it->second.frames.empty()) return;
      depths_[depth] = Instance{id, 0};
      RunTags(it->second.frames[0], id, 0, t, false);
    } catch (const swf::SwfError&) {
      // A damaged place tag places nothing.
    }
  }

  player::SoundEventListener& listener_;
  std::vector<std::vector<Tag>> main_;
  std::map<int, Sprite> sprites_;
  std::map<int, Instance> depths_;
  double fps_ = 12.0;
};

SoundTimeline::SoundTimeline(const swf::Movie& movie, player::SoundEventListener& listener)
    : driver_(std::make_unique<Driver>(movie, listener)) {}
SoundTimeline::~SoundTimeline() = default;
void SoundTimeline::AdvanceTo(std::int64_t ms) { driver_->AdvanceTo(ms); }
int SoundTimeline::FramesRun() const { return driver_->run_; }
double SoundTimeline::FrameRate() const { return driver_->fps_; }
int SoundTimeline::FrameCount() const { return static_cast<int>(driver_->main_.size()); }

}  // namespace quarvel::test
