#include "platform/gdi/heap_tuning.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

namespace quarvel::gdi {
namespace {

// The VmFlags of the mapping holding `address` in /proc/self/smaps ("" if none).
std::string FlagsAt(std::uintptr_t address) {
  std::ifstream smaps("/proc/self/smaps");
  std::string line;
  bool inside = false;
  while (std::getline(smaps, line)) {
    std::uintptr_t from = 0, to = 0;
    char dash = 0;
    std::istringstream head(line);
    if (head >> std::hex >> from >> dash >> to && dash == '-') {
      inside = from <= address && address < to;
      continue;
    }
    if (inside && line.rfind("VmFlags:", 0) == 0) return line;
  }
  return "";
}

// Runs `check` in a child process, whose heap settings go with it; its exit status.
template <class Check>
int InChild(const Check& check) {
  const pid_t child = fork();
  if (child == 0) std::_Exit(check());
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 100;
}

// The reserve is heap memory advised for huge pages, so that the large
// blocks a build asks for next come from it; a reserve the system cannot
// give is refused without harm.
TEST(HeapTuning, TheReserveIsHeapAdvisedForHugePages) {
  if (access("/sys/kernel/mm/transparent_hugepage", F_OK) != 0) GTEST_SKIP() << "no huge pages in this kernel";
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the sanitizer's allocator does not take memory from the heap";
#endif
  EXPECT_EQ(InChild([] {
              constexpr std::size_t kReserve = std::size_t(256) << 20;
              if (ReserveFrameHeap(kReserve) != kReserve) return 1;
              // A frame-sized block and a large one, both inside the reserve.
              void* frame = std::malloc(880000);
              void* large = std::malloc(std::size_t(64) << 20);
              const bool advised = FlagsAt(reinterpret_cast<std::uintptr_t>(large) + (std::size_t(32) << 20))
                                       .find(" hg") != std::string::npos;
              const bool heap = reinterpret_cast<char*>(large) < static_cast<char*>(sbrk(0));
              std::free(large);
              std::free(frame);
              return advised && heap ? 0 : 2;
            }),
            0);
  EXPECT_EQ(InChild([] {
              const std::size_t got = ReserveFrameHeap(std::size_t(1) << 60);
              void* after = std::malloc(1 << 20);
              const bool fine = got == 0 && after != nullptr;
              std::free(after);
              return fine ? 0 : 3;
            }),
            0);
}

}  // namespace
}  // namespace quarvel::gdi
