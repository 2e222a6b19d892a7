#pragma once
// Pictures of the frame store kept in memory by a capture whose writer runs
// right after it (convert), so that the writer need not read and inflate the
// files again. The store is written all the same; the cache only holds, up
// to a byte budget, what reading frame file n would give.

#include <cstddef>
#include <map>
#include <memory>

#include "platform/gdi/bitmap.h"

namespace quarvel::capture {

class FrameCache {
 public:
  explicit FrameCache(std::size_t budget_bytes) : budget_(budget_bytes) {}

  // A quarter of the memory available now, at most 2 GiB: frames past it
  // are read from the store as usual.
  static std::size_t DefaultBudget();

  // Keeps a copy of the picture stored as frame file n, as LoadFramePicture
  // would give it back (32-bit, fourth byte 0 unless keep_alpha). Returns
  // false and keeps nothing when the budget is spent, the picture is not
  // 32-bit or half of it is flat (its file reads back fast); a later picture
  // replacing n drops the earlier one. A picture
  // equal to the one kept last shares its copy (the capture stores every
  // tenth frame even when nothing moved).
  bool Keep(long long n, const gdi::Bitmap& picture, bool keep_alpha = false);

  // The picture of frame file n, or null when it is not kept.
  const gdi::Bitmap* Find(long long n) const;
  // Frees frame n's picture once a reader is done with it.
  void Drop(long long n);

  // Bytes of the copies held, shared ones once.
  std::size_t Bytes() const { return bytes_; }
  std::size_t Count() const { return pictures_.size(); }

 private:
  using Picture = std::shared_ptr<const gdi::Bitmap>;
  void Release(Picture& picture);

  std::size_t budget_;
  std::size_t bytes_ = 0;
  std::map<long long, Picture> pictures_;
  Picture last_;
  bool last_alpha_ = false;
};

}  // namespace quarvel::capture
