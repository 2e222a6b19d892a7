#pragma once
// The image bytes of an animation's frames (descriptor, table, code stream:
// what TGIFSubImage::SaveImageToStream writes), encoded on worker threads
// while the build still adds frames, so that writing the file after the
// capture has little left to encode. Bytes are the same as encoding each
// frame at the end, for any number of threads.

#include <condition_variable>
#include <cstddef>
#include <exception>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "gif/gif_image.h"

namespace quarvel::gif {

// Per frame of an image: its image bytes, or nothing for a frame left to
// be encoded when the file is written.
using FrameImages = std::vector<std::optional<TStream>>;

class EncodeAhead {
 public:
  // `threads` as BuildOptions::threads (0: one per core). With one thread
  // nothing runs beside the caller: Finish encodes every frame. With
  // `release`, each frame encoded frees its pixels (TGIFSubImage::ReleaseData):
  // its bytes hold them until the file is written.
  explicit EncodeAhead(int threads, bool release = false);
  EncodeAhead(const EncodeAhead&) = delete;
  EncodeAhead& operator=(const EncodeAhead&) = delete;
  // Stops the workers after the frame each is on, dropping the rest.
  ~EncodeAhead();

  // The next frame of the image, final from now on but for its extensions.
  // A frame without its own table is left out: its code size depends on the
  // image's global table, which may still change.
  void Add(TGIFSubImage& frame);
  int Count() const;

  // Encodes what is left on every thread and hands the bytes over, one
  // entry per frame added. A frame the encoder refuses (GIFException) is
  // left out, so that writing the file meets the error in its turn; any
  // other failure of a worker is rethrown here. `stop` is asked between
  // frames: true leaves the rest out.
  FrameImages Finish(const std::function<bool()>& stop = {});

 private:
  void Work();
  // Encodes the frames waiting, with the lock held between them; with
  // `wait`, then waits for more until Finish.
  void Drain(std::unique_lock<std::mutex>& lock, bool wait, const std::function<bool()>& stop);
  void Encode(std::size_t index, TGIFSubImage& frame);

  mutable std::mutex mutex_;
  std::condition_variable work_;
  const bool release_;
  std::vector<TGIFSubImage*> frames_;  // null: left out
  FrameImages images_;
  std::size_t next_ = 0;  // the first frame no thread has taken
  bool closing_ = false;
  std::exception_ptr error_;
  std::vector<std::thread> workers_;
};

}  // namespace quarvel::gif
