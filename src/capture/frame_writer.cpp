#include "capture/frame_writer.h"

#include <algorithm>
#include <utility>

#include "capture/frame_store.h"
#include "platform/paths/working_folder.h"

namespace quarvel::capture {

int FrameWriter::DefaultThreads() {
  const unsigned n = std::thread::hardware_concurrency();
  return std::clamp(static_cast<int>(n), 1, 4);
}

FrameWriter::FrameWriter(int threads, int limit)
    : limit_(std::max({limit > 0 ? limit : threads + 2, threads, 1})) {
  threads = std::max(threads, 1);
  try {
    for (int i = 0; i < threads; ++i) threads_.emplace_back([this] { Work(); });
  } catch (...) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
    }
    work_ready_.notify_all();
    for (auto& t : threads_) t.join();
    throw;
  }
}

FrameWriter::~FrameWriter() {
  {
    std::unique_lock<std::mutex> lock(mutex_);
    room_.wait(lock, [this] { return pending_ == 0; });
    stop_ = true;
  }
  work_ready_.notify_all();
  for (auto& t : threads_) t.join();
}

void FrameWriter::Add(const gdi::Bitmap& picture, long long n) { Add(picture, n, paths::FrameFilePath(n)); }

void FrameWriter::Add(const gdi::Bitmap& picture, long long n, std::filesystem::path path) {
  std::unique_lock<std::mutex> lock(mutex_);
  room_.wait(lock, [this] { return error_ || pending_ < limit_; });
  if (error_) std::rethrow_exception(error_);
  gdi::Bitmap copy;
  if (!spare_.empty()) {
    copy = std::move(spare_.back());
    spare_.pop_back();
  }
  ++pending_;
  lock.unlock();
  try {
    copy = picture;  // reuses the spare's pixel memory when the size allows
  } catch (...) {
    lock.lock();
    --pending_;
    room_.notify_all();
    throw;
  }
  lock.lock();
  queue_.push_back(Job{next_seq_++, n, std::move(path), std::move(copy)});
  work_ready_.notify_one();
}

void FrameWriter::Finish() {
  std::unique_lock<std::mutex> lock(mutex_);
  room_.wait(lock, [this] { return pending_ == 0; });
  if (error_) std::rethrow_exception(error_);
}

long long FrameWriter::Written() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return written_;
}

std::optional<long long> FrameWriter::FailedFrame() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return failed_frame_;
}

void FrameWriter::Work() {
  FramePacker packer;
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    work_ready_.wait(lock, [this] { return stop_ || !queue_.empty(); });
    if (queue_.empty()) return;
    Job job = std::move(queue_.front());
    queue_.pop_front();
    Packed packed{job.n, std::move(job.path), {}, 0, nullptr};
    if (!spare_bytes_.empty()) {
      packed.bytes = std::move(spare_bytes_.back());
      spare_bytes_.pop_back();
    }
    lock.unlock();
    try {
      packed.size = packer.Pack(job.picture, packed.path, packed.bytes);
    } catch (...) {
      packed.error = std::current_exception();
    }
    lock.lock();
    spare_.push_back(std::move(job.picture));
    if (error_) {
      // An earlier frame failed: this one is not written.
      spare_bytes_.push_back(std::move(packed.bytes));
      --pending_;
      room_.notify_all();
      continue;
    }
    packed_.emplace(job.seq, std::move(packed));
    CommitReady(lock);
  }
}

void FrameWriter::CommitReady(std::unique_lock<std::mutex>& lock) {
  if (committing_) return;  // the thread writing now takes this one in turn
  committing_ = true;
  for (;;) {
    auto it = packed_.find(next_commit_);
    if (it == packed_.end()) break;
    Packed packed = std::move(it->second);
    packed_.erase(it);
    lock.unlock();
    std::exception_ptr error = packed.error;
    if (!error) {
      try {
        WritePackedFrame(std::span<const std::uint8_t>(packed.bytes.data(), packed.size), packed.path);
      } catch (...) {
        error = std::current_exception();
      }
    }
    lock.lock();
    spare_bytes_.push_back(std::move(packed.bytes));
    ++next_commit_;
    --pending_;
    if (error)
      Fail(packed.n, error);
    else
      ++written_;
    room_.notify_all();
  }
  committing_ = false;
}

void FrameWriter::Fail(long long n, std::exception_ptr error) {
  error_ = std::move(error);
  failed_frame_ = n;
  // Every frame still waiting came after the failing one.
  pending_ -= static_cast<int>(packed_.size() + queue_.size());
  for (auto& [seq, packed] : packed_) spare_bytes_.push_back(std::move(packed.bytes));
  packed_.clear();
  for (auto& job : queue_) spare_.push_back(std::move(job.picture));
  queue_.clear();
}

}  // namespace quarvel::capture
