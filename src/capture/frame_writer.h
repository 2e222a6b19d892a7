#pragma once
// Saves frame files on background threads, so the capture can grab the next
// picture while the last ones are compressed. Compression runs on several
// threads at once; the files are written strictly in the order they were
// added, so a failure leaves exactly the files a one-by-one save would have
// left: those added before the failing one.

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "platform/gdi/bitmap.h"

namespace quarvel::capture {

class FrameWriter {
 public:
  // The hardware's threads, at least 1 and at most 4.
  static int DefaultThreads();

  // threads compress at the same time; at most `limit` frames (at least
  // `threads`) wait or are being saved, so memory stays a few pictures.
  explicit FrameWriter(int threads = DefaultThreads(), int limit = 0);
  // Waits until every frame added is saved (or dropped after a failure);
  // errors not yet collected by Finish are dropped.
  ~FrameWriter();

  FrameWriter(const FrameWriter&) = delete;
  FrameWriter& operator=(const FrameWriter&) = delete;

  // Queues a copy of picture for frame file n ("temp/<n>.bmp") or for path.
  // Waits while the queue is full. Once a save has failed, throws that
  // failure (FrameStoreError naming the file) and queues nothing more.
  void Add(const gdi::Bitmap& picture, long long n);
  void Add(const gdi::Bitmap& picture, long long n, std::filesystem::path path);

  // Waits until every frame added is on disk, then throws the failure, if
  // any. Frames added after the failing one are not written.
  void Finish();

  // Files written so far.
  long long Written() const;
  // Number given to Add for the frame whose save failed.
  std::optional<long long> FailedFrame() const;

 private:
  struct Job {
    std::uint64_t seq;
    long long n;
    std::filesystem::path path;
    gdi::Bitmap picture;
  };
  struct Packed {
    long long n;
    std::filesystem::path path;
    std::vector<std::uint8_t> bytes;  // the frame file is the first `size`
    std::size_t size;
    std::exception_ptr error;
  };

  void Work();
  // Writes the packed frames that are next in order; called with the lock
  // held by whichever thread finds the next one ready.
  void CommitReady(std::unique_lock<std::mutex>& lock);
  void Fail(long long n, std::exception_ptr error);

  const int limit_;
  mutable std::mutex mutex_;
  std::condition_variable work_ready_;  // a job was queued, or stop
  std::condition_variable room_;        // a frame left the pipeline
  std::deque<Job> queue_;
  std::vector<gdi::Bitmap> spare_;           // pictures to copy into, reused
  std::vector<std::vector<std::uint8_t>> spare_bytes_;  // output buffers, reused
  std::map<std::uint64_t, Packed> packed_;   // compressed, waiting for their turn
  std::uint64_t next_seq_ = 0;               // given to the next Add
  std::uint64_t next_commit_ = 0;            // next to be written
  int pending_ = 0;                          // added, not yet written or dropped
  bool committing_ = false;
  bool stop_ = false;
  long long written_ = 0;
  std::exception_ptr error_;
  std::optional<long long> failed_frame_;
  std::vector<std::thread> threads_;
};

}  // namespace quarvel::capture
