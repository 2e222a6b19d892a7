#include "capture/frame_cache.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <string>

#include "capture/frame_store.h"

namespace quarvel::capture {

std::size_t FrameCache::DefaultBudget() {
  constexpr std::size_t kCap = std::size_t(2) << 30;
  std::ifstream meminfo("/proc/meminfo");
  std::string key;
  std::size_t kib = 0;
  while (meminfo >> key >> kib) {
    if (key == "MemAvailable:") return std::min(kCap, kib * 1024 / 4);
    meminfo.ignore(256, '\n');
  }
  return 0;  // unknown: read everything from the store
}

namespace {

// Whether picture reads back as kept, a 32-bit copy of the same size (with
// the fourth bytes 0 unless keep_alpha).
bool SameAsKept(const gdi::Bitmap& kept, const gdi::Bitmap& picture, bool keep_alpha) {
  if (kept.Width() != picture.Width() || kept.Height() != picture.Height()) return false;
  const auto a = kept.Bits(), b = picture.Bits();
  if (keep_alpha) return std::memcmp(a.data(), b.data(), a.size()) == 0;
  // Colour bytes only, eight at a time.
  constexpr std::uint64_t kColour = 0x00FFFFFF00FFFFFFull;
  std::size_t k = 0;
  for (; k + 8 <= a.size(); k += 8) {
    std::uint64_t x, y;
    std::memcpy(&x, a.data() + k, 8);
    std::memcpy(&y, b.data() + k, 8);
    if (((x ^ y) & kColour) != 0) return false;
  }
  for (; k < a.size(); ++k)
    if (k % 4 != 3 && a[k] != b[k]) return false;
  return true;
}

}  // namespace

bool FrameCache::Keep(long long n, const gdi::Bitmap& picture, bool keep_alpha) {
  const auto format = picture.Format();
  std::shared_ptr<gdi::Bitmap> spare;
  {
    std::unique_lock lock(mutex_);
    DropLocked(n);
    if (picture.Empty() || (format != gdi::PixelFormat::pf32bit && format != gdi::PixelFormat::pfDevice))
      return false;
    if (hold_limit_ > 0)
      drained_.wait(lock, [&] { return hold_limit_ == 0 || pictures_.size() < hold_limit_ || abandoned_; });
    // Compared under the lock: a copy held outside it would count as a sharer when a writer drops a frame.
    if (last_ && last_alpha_ == keep_alpha && SameAsKept(*last_, picture, keep_alpha)) {
      pictures_.emplace(n, last_);
      ++kept_count_;
      return true;
    }
    // Only the writer frees memory meanwhile: the budget still holds after the copy.
    if (bytes_ + picture.Bits().size() > budget_) return false;
    for (auto it = spares_.begin(); it != spares_.end(); ++it)
      if ((*it)->Width() == picture.Width() && (*it)->Height() == picture.Height()) {
        spare = std::move(*it);
        spares_.erase(it);
        break;
      }
  }
  const std::size_t size = picture.Bits().size();
  // Only busy pictures pay for their copy: flatter ones inflate from their
  // small files about as fast as fresh memory is filled. A writer that
  // takes the pictures as they come reads no file at all.
  if (!streaming_ && MostlyFlat(picture, 50)) return false;
  // A frame file's 32-bit picture reads back as pf32bit whatever it was
  // grabbed as. The copy is made outside the lock: a writer reading beside
  // the capture goes on meanwhile. Copied as it is (no zeroed picture to
  // write over), then the fourth bytes cleared a word at a time.
  std::shared_ptr<gdi::Bitmap> copy;
  if (spare) {
    copy = std::move(spare);
    std::memcpy(copy->Bits().data(), picture.Bits().data(), size);
  } else {
    copy = std::make_shared<gdi::Bitmap>(picture);
    copy->Reinterpret(gdi::PixelFormat::pf32bit);
  }
  if (!keep_alpha) {
    auto dst = copy->Bits();
    constexpr std::uint32_t kColour = std::endian::native == std::endian::little ? 0x00FFFFFFu : 0xFFFFFF00u;
    for (std::size_t k = 0; k + 4 <= size; k += 4) {
      std::uint32_t word;
      std::memcpy(&word, dst.data() + k, 4);
      word &= kColour;
      std::memcpy(dst.data() + k, &word, 4);
    }
  }
  std::lock_guard lock(mutex_);
  last_ = copy;
  last_alpha_ = keep_alpha;
  pictures_.emplace(n, std::move(copy));
  bytes_ += size;
  ++kept_count_;
  return true;
}

const gdi::Bitmap* FrameCache::Find(long long n) const {
  std::lock_guard lock(mutex_);
  auto it = pictures_.find(n);
  return it == pictures_.end() ? nullptr : it->second.get();
}

std::size_t FrameCache::Bytes() const {
  std::lock_guard lock(mutex_);
  return bytes_;
}

std::size_t FrameCache::Count() const {
  std::lock_guard lock(mutex_);
  return pictures_.size();
}

long long FrameCache::KeptCount() const {
  std::lock_guard lock(mutex_);
  return kept_count_;
}

void FrameCache::Stored(long long n, bool kept) {
  {
    std::lock_guard lock(mutex_);
    if (!kept) files_.insert(n);
    decided_ = std::max(decided_, n);
  }
  decided_changed_.notify_all();
}

void FrameCache::Close(long long frames) {
  {
    std::lock_guard lock(mutex_);
    end_ = std::max<long long>(frames, 0);
    decided_ = std::max(decided_, end_);
  }
  decided_changed_.notify_all();
}

void FrameCache::Abandon() {
  {
    std::lock_guard lock(mutex_);
    abandoned_ = true;
  }
  decided_changed_.notify_all();
  drained_.notify_all();
}

long long FrameCache::WaitForEnd() {
  StopHolding();
  std::unique_lock lock(mutex_);
  decided_changed_.wait(lock, [&] { return end_ >= 0 || abandoned_; });
  if (abandoned_) throw CaptureAbandoned();
  return end_;
}

FrameCache::FrameState FrameCache::WaitFor(long long n) const {
  std::unique_lock lock(mutex_);
  const auto over = [&] { return end_ >= 0 || abandoned_; };
  decided_changed_.wait(lock, [&] { return decided_ >= n || over(); });
  if (abandoned_) throw CaptureAbandoned();
  if (pictures_.count(n) != 0) return FrameState::kKept;
  if (end_ >= 0 && n > end_) return FrameState::kEnd;
  if (files_.count(n) == 0) return FrameState::kRepeat;
  // The file may still be on its way to the disk until the capture ends,
  // which it must not wait for this reader to drop pictures.
  if (!over() && hold_limit_ > 0) {
    hold_limit_ = 0;
    drained_.notify_all();
  }
  decided_changed_.wait(lock, over);
  if (abandoned_) throw CaptureAbandoned();
  return FrameState::kFile;
}

void FrameCache::Release(Picture& picture) {
  // The memory goes with the last holder; the cache's own hint does not count.
  const long use = picture.use_count() - (picture == last_ ? 1 : 0);
  if (use == 1) {
    bytes_ -= picture->Bits().size();
    if (picture == last_) last_.reset();
    // Made by Keep, and no one else holds it now.
    if (streaming_ && spares_.size() < kSpares) spares_.push_back(std::const_pointer_cast<gdi::Bitmap>(picture));
  }
  picture.reset();
}

void FrameCache::Drop(long long n) {
  {
    std::lock_guard lock(mutex_);
    DropLocked(n);
  }
  drained_.notify_all();
}

void FrameCache::HoldAtMost(std::size_t pictures) {
  if (!streaming_ || !capture_may_wait_) return;
  std::lock_guard lock(mutex_);
  hold_limit_ = pictures;
}

void FrameCache::StopHolding() {
  {
    std::lock_guard lock(mutex_);
    hold_limit_ = 0;
  }
  drained_.notify_all();
}

void FrameCache::DropLocked(long long n) {
  auto it = pictures_.find(n);
  if (it == pictures_.end()) return;
  Release(it->second);
  pictures_.erase(it);
}

}  // namespace quarvel::capture
