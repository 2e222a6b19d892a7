#include "gif/encode_ahead.h"

#include <algorithm>
#include <utility>

#include "gif/gif_exception.h"
#include "gif/parallel.h"

namespace quarvel::gif {

EncodeAhead::EncodeAhead(int threads, bool release) : release_(release) {
  // The build's own threads keep the other cores busy: one encoder beside
  // them is enough to keep up, the caller joins in at the end.
  const int n = WorkerThreads(threads);
  if (n > 1)
    for (int i = 0; i < std::max(1, n - 1); ++i) workers_.emplace_back([this] { Work(); });
}

EncodeAhead::~EncodeAhead() {
  {
    std::lock_guard lock(mutex_);
    closing_ = true;
    next_ = frames_.size();
  }
  work_.notify_all();
  for (auto& t : workers_) t.join();
}

void EncodeAhead::Add(TGIFSubImage& frame) {
  {
    std::lock_guard lock(mutex_);
    frames_.push_back(frame.ColorMap().Count() > 0 ? &frame : nullptr);
    images_.emplace_back();
  }
  work_.notify_one();
}

int EncodeAhead::Count() const {
  std::lock_guard lock(mutex_);
  return int(frames_.size());
}

void EncodeAhead::Encode(std::size_t index, TGIFSubImage& frame) {
  TStream bytes;
  try {
    frame.SaveImageToStream(bytes);
  } catch (const GIFException&) {
    return;  // encoded again with the file, which reports it
  }
  // Nothing else reads the frame's pixels until the file is written.
  if (release_) frame.ReleaseData();
  std::lock_guard lock(mutex_);
  images_[index] = std::move(bytes);
}

void EncodeAhead::Drain(std::unique_lock<std::mutex>& lock, bool wait, const std::function<bool()>& stop) {
  for (;;) {
    if (stop && stop()) next_ = frames_.size();
    if (next_ == frames_.size()) {
      if (!wait || closing_) return;
      work_.wait(lock);
      continue;
    }
    const std::size_t index = next_++;
    TGIFSubImage* frame = frames_[index];
    if (frame == nullptr) continue;
    lock.unlock();
    try {
      Encode(index, *frame);
      lock.lock();
    } catch (...) {
      lock.lock();
      if (!error_) error_ = std::current_exception();
      next_ = frames_.size();
    }
  }
}

void EncodeAhead::Work() {
  std::unique_lock lock(mutex_);
  Drain(lock, true, {});
}

FrameImages EncodeAhead::Finish(const std::function<bool()>& stop) {
  {
    std::unique_lock lock(mutex_);
    closing_ = true;
    work_.notify_all();
    // The caller encodes beside the workers until nothing is left.
    Drain(lock, false, stop);
  }
  for (auto& t : workers_) t.join();
  workers_.clear();
  if (error_) std::rethrow_exception(std::exchange(error_, nullptr));
  return std::move(images_);
}

}  // namespace quarvel::gif
