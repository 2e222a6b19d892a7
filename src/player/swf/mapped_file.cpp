#include "player/swf/mapped_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "player/swf/swf_error.h"

namespace quarvel::swf {
namespace {

struct FdCloser {
  void operator()(int* fd) const {
    ::close(*fd);
    delete fd;
  }
};

}  // namespace

void MappedFile::Unmap::operator()(const std::uint8_t* p) const {
  if (p && size) ::munmap(const_cast<std::uint8_t*>(p), size);
}

MappedFile::MappedFile(const std::filesystem::path& path) {
  const int raw = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (raw < 0) throw SwfError("cannot open " + path.string() + ": " + std::strerror(errno));
  std::unique_ptr<int, FdCloser> fd(new int(raw));
  struct stat st {};
  if (::fstat(raw, &st) != 0) throw SwfError("cannot read " + path.string() + ": " + std::strerror(errno));
  if (!S_ISREG(st.st_mode)) throw SwfError("cannot read " + path.string() + ": not a regular file");
  size_ = static_cast<std::size_t>(st.st_size);
  if (size_ == 0) return;
  void* p = ::mmap(nullptr, size_, PROT_READ, MAP_PRIVATE | MAP_POPULATE, raw, 0);
  if (p == MAP_FAILED) throw SwfError("cannot read " + path.string() + ": " + std::strerror(errno));
  data_ = std::unique_ptr<const std::uint8_t, Unmap>(static_cast<const std::uint8_t*>(p), Unmap{size_});
}

}  // namespace quarvel::swf
