// Writes a picture through the frame store and reads it back: a quick check
// that a machine can build and run Quarvel's core.
#include <cstdio>
#include <exception>
#include <fstream>
#include <iterator>

#include "capture/frame_store.h"
#include "platform/paths/working_folder.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: quarvel-demo PICTURE.bmp\n");
    return 2;
  }
  try {
    std::ifstream in(argv[1], std::ios::binary);
    if (!in) throw std::runtime_error(std::string("cannot open ") + argv[1]);
    std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
    quarvel::gdi::Bitmap picture = quarvel::gdi::LoadBmp(bytes);
    std::filesystem::create_directories(quarvel::paths::CaptureFolder());
    quarvel::capture::SaveFrameFile(picture, 1);
    auto path = quarvel::paths::FrameFilePath(1);
    quarvel::gdi::Bitmap back = quarvel::capture::LoadFramePicture(path);
    bool same = quarvel::capture::FramesEqual(picture, back);
    std::printf("%s: %d x %d, %d bits -> %s (%ju bytes), read back %s\n", argv[1], picture.Width(), picture.Height(),
                picture.BitsPerPixel(), path.c_str(), std::uintmax_t(std::filesystem::file_size(path)),
                same ? "identical" : "DIFFERENT");
    return same ? 0 : 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "quarvel-demo: %s\n", e.what());
    return 1;
  }
}
