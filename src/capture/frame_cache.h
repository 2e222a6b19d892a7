#pragma once
// Pictures of the frame store kept in memory by a capture whose writer runs
// right after it (convert), so that the writer need not read and inflate the
// files again. The store is written all the same; the cache only holds, up
// to a byte budget, what reading frame file n would give.
//
// A streaming cache also hands the frames over while the capture runs: the
// writer waits for each frame number until the capture has decided it, and
// frees each picture once it is done, so the pictures held stay few.

#include <condition_variable>
#include <cstddef>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <stdexcept>
#include <vector>

#include "platform/gdi/bitmap.h"

namespace quarvel::capture {

// Raised to a writer waiting on a capture that failed.
class CaptureAbandoned : public std::runtime_error {
 public:
  CaptureAbandoned() : std::runtime_error("the capture failed before the frame was taken") {}
};

class FrameCache {
 public:
  // What frame file n is, for a writer running beside the capture.
  enum class FrameState {
    kKept,    // in the cache
    kFile,    // in the store (the capture is over, so the file is complete)
    kRepeat,  // left out by the capture: the picture before it shows on
    kEnd,     // past the capture's last frame
  };

  // `capture_may_wait`: the capture runs on a clock of its own (not real
  // time), so a streaming cache may hold it back until the writer catches up.
  explicit FrameCache(std::size_t budget_bytes, bool streaming = false, bool capture_may_wait = false)
      : budget_(budget_bytes), streaming_(streaming), capture_may_wait_(capture_may_wait) {}

  // A quarter of the memory available now, at most 2 GiB: frames past it
  // are read from the store as usual.
  static std::size_t DefaultBudget();

  // Keeps a copy of the picture stored as frame file n, as LoadFramePicture
  // would give it back (32-bit, fourth byte 0 unless keep_alpha). Returns
  // false and keeps nothing when the budget is spent, the picture is not
  // 32-bit or, unless streaming, half of it is flat (its file reads back
  // fast); a later picture replacing n drops the earlier one. A picture
  // equal to the one kept last shares its copy (the capture stores every
  // tenth frame even when nothing moved).
  bool Keep(long long n, const gdi::Bitmap& picture, bool keep_alpha = false);

  // The picture of frame file n, or null when it is not kept.
  const gdi::Bitmap* Find(long long n) const;
  // Frees frame n's picture once a reader is done with it.
  void Drop(long long n);

  // Bytes of the copies held, shared ones once.
  std::size_t Bytes() const;
  std::size_t Count() const;
  // Pictures Keep took over the cache's life, dropped ones too.
  long long KeptCount() const;

  bool Streaming() const { return streaming_; }
  // The capture stored frame file n, in the cache or not: every number
  // before it is decided too (numbers it left out repeat the frame before).
  void Stored(long long n, bool kept);
  // The capture is over after `frames` frames, its files complete.
  void Close(long long frames);
  // The capture failed: writers waiting now or later get CaptureAbandoned.
  void Abandon();
  // Blocks until the capture has decided frame n (from 1), then says what
  // it is. Waiting for a file, which is complete when the capture is over,
  // stops holding the capture back.
  FrameState WaitFor(long long n) const;
  // Blocks until the capture is over; its frame count. The capture is held
  // back no more.
  long long WaitForEnd();
  // A streaming writer that reads the pictures in order and drops each when
  // done says how many it may hold at once: Keep then waits while as many
  // are kept, so memory stays a few batches of pictures and their buffers
  // are used again. Nothing when the capture may not wait (real time).
  void HoldAtMost(std::size_t pictures);
  // The writer stops reading (it failed, or waits for the end): Keep waits no more.
  void StopHolding();

 private:
  using Picture = std::shared_ptr<const gdi::Bitmap>;
  void Release(Picture& picture);

  void DropLocked(long long n);

  // Buffers of dropped pictures, for the next copies (streaming): fresh
  // memory costs the kernel a fault a page.
  static constexpr std::size_t kSpares = 4;

  std::size_t budget_;
  const bool streaming_;
  const bool capture_may_wait_;
  mutable std::size_t hold_limit_ = 0;  // 0: Keep does not wait
  std::vector<std::shared_ptr<gdi::Bitmap>> spares_;
  mutable std::mutex mutex_;
  mutable std::condition_variable decided_changed_;
  mutable std::condition_variable drained_;  // a picture was dropped, or the capture need wait no more
  long long decided_ = 0;    // frame numbers up to here are decided
  long long end_ = -1;       // the capture's frame count once it is over
  bool abandoned_ = false;
  std::set<long long> files_;  // frames stored but not kept
  std::size_t bytes_ = 0;
  long long kept_count_ = 0;
  std::map<long long, Picture> pictures_;
  Picture last_;
  bool last_alpha_ = false;
};

}  // namespace quarvel::capture
