#pragma once
// A whole file mapped read-only into memory: large movies are walked
// without copying them first.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>

namespace quarvel::swf {

class MappedFile {
 public:
  // Throws SwfError naming the path when it cannot be opened or mapped.
  explicit MappedFile(const std::filesystem::path& path);

  std::span<const std::uint8_t> Bytes() const { return {data_.get(), size_}; }

 private:
  struct Unmap {
    std::size_t size;
    void operator()(const std::uint8_t* p) const;
  };
  std::unique_ptr<const std::uint8_t, Unmap> data_{nullptr, Unmap{0}};
  std::size_t size_ = 0;
};

}  // namespace quarvel::swf
