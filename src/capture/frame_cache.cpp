#include "capture/frame_cache.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <string>

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

bool FrameCache::Keep(long long n, const gdi::Bitmap& picture, bool keep_alpha) {
  Drop(n);
  const auto format = picture.Format();
  if (picture.Empty() || (format != gdi::PixelFormat::pf32bit && format != gdi::PixelFormat::pfDevice)) return false;
  const std::size_t size = picture.Bits().size();
  if (bytes_ + size > budget_) return false;
  // A frame file's 32-bit picture reads back as pf32bit whatever it was grabbed as.
  gdi::Bitmap copy(picture.Width(), picture.Height(), gdi::PixelFormat::pf32bit);
  auto dst = copy.Bits();
  std::memcpy(dst.data(), picture.Bits().data(), size);
  if (!keep_alpha)
    for (std::size_t k = 3; k < size; k += 4) dst[k] = 0;
  pictures_.emplace(n, std::move(copy));
  bytes_ += size;
  return true;
}

const gdi::Bitmap* FrameCache::Find(long long n) const {
  auto it = pictures_.find(n);
  return it == pictures_.end() ? nullptr : &it->second;
}

void FrameCache::Drop(long long n) {
  auto it = pictures_.find(n);
  if (it == pictures_.end()) return;
  bytes_ -= it->second.Bits().size();
  pictures_.erase(it);
}

}  // namespace quarvel::capture
