#pragma once
// Work spread over threads for the GIF build: jobs are independent, results
// are used in order by the caller, so the output does not depend on the
// number of threads.

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <exception>
#include <thread>
#include <utility>
#include <vector>

namespace quarvel::gif {

// 0 means one thread per core, or QUARVEL_THREADS when it names a count
// (1 runs the GIF work on the calling thread alone: the bytes are the same).
inline int WorkerThreads(int wanted) {
  if (wanted > 0) return wanted;
  if (const char* env = std::getenv("QUARVEL_THREADS"); env != nullptr && *env != 0) {
    char* end = nullptr;
    const long n = std::strtol(env, &end, 10);
    if (*end == 0 && n > 0) return int(std::min(n, 64L));
  }
  const unsigned n = std::thread::hardware_concurrency();
  return n == 0 ? 1 : int(n);
}

// Runs job(i) for every i below count on up to `threads` threads. The error
// of the lowest failing index is rethrown, as a serial loop would throw it
// (jobs after it may have run).
template <class Job>
void ParallelFor(std::size_t count, int threads, const Job& job) {
  threads = std::min<int>(threads, int(std::min<std::size_t>(count, 1024)));
  if (threads <= 1) {
    for (std::size_t i = 0; i < count; ++i) job(i);
    return;
  }
  std::atomic<std::size_t> next{0};
  std::vector<std::exception_ptr> errors(count);
  auto worker = [&] {
    for (std::size_t i = next++; i < count; i = next++) {
      try {
        job(i);
      } catch (...) {
        errors[i] = std::current_exception();
      }
    }
  };
  std::vector<std::thread> pool;
  pool.reserve(std::size_t(threads - 1));
  for (int t = 1; t < threads; ++t) pool.emplace_back(worker);
  worker();
  for (auto& t : pool) t.join();
  for (auto& e : errors)
    if (e) std::rethrow_exception(e);
}

// One job at a time on a thread of its own, so that the caller can prepare
// the next one meanwhile. Wait rethrows the job's error; the destructor
// waits without it (the caller is already failing).
class BackgroundJob {
 public:
  BackgroundJob() = default;
  BackgroundJob(const BackgroundJob&) = delete;
  BackgroundJob& operator=(const BackgroundJob&) = delete;
  ~BackgroundJob() {
    if (thread_.joinable()) thread_.join();
  }

  // Waits for the job before (rethrowing its error), then starts this one.
  template <class Job>
  void Start(Job job) {
    Wait();
    thread_ = std::thread([this, job = std::move(job)]() mutable {
      try {
        job();
      } catch (...) {
        error_ = std::current_exception();
      }
    });
  }

  void Wait() {
    if (thread_.joinable()) thread_.join();
    if (error_) std::rethrow_exception(std::exchange(error_, nullptr));
  }

 private:
  std::thread thread_;
  std::exception_ptr error_;
};

}  // namespace quarvel::gif
