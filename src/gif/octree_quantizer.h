#pragma once
// Octree colour quantization: leaves at depth 8, reduced from the deepest
// level, most recently created node first.

#include <array>
#include <cstdint>
#include <vector>

#include "platform/gdi/bitmap.h"

namespace quarvel::gif {

struct TOctreeNode {
  bool leaf = false;
  // The top `level` bits of each channel (red, green, blue) of the colours below.
  std::array<std::uint8_t, 3> path{};
  std::uint32_t pixel_count = 0;
  std::uint64_t red_sum = 0, green_sum = 0, blue_sum = 0;  // 64-bit: no wrap on huge frames
  std::array<std::int32_t, 8> children{-1, -1, -1, -1, -1, -1, -1, -1};
  std::int32_t next_reducible = -1;
};

class TColorQuantizer {
 public:
  TColorQuantizer(int max_colors, int color_bits = 8);
  void AddColor(int red, int green, int blue);
  // The same as `count` calls of AddColor with this colour.
  void AddColors(int red, int green, int blue, std::uint32_t count);
  // Feeds every pixel, rows from the top, keeping at most max_colors leaves.
  void ProcessImage(const gdi::Bitmap& picture);
  int LeafCount() const { return leaf_count_; }
  // Leaf colours in depth-first order, children 0 to 7.
  std::vector<gdi::Color> Colors() const;

 private:
  std::int32_t NewNode(int level);
  void FreeNode(std::int32_t n);
  void ReduceTree();
  // AddColors, with the common case of a picture's pixels at hand: a
  // remembered walk that stands on a leaf, which only adds to its sums.
  void AddRun(int red, int green, int blue, std::uint32_t count);

  // Nodes live in a pool; freed ones are reused.
  std::vector<TOctreeNode> nodes_;
  // Where the walk of a colour stands after its top kShortcutLevels bits of
  // each channel: (node index + 1) x 16 + level x 2 + 1 for a leaf, or 0 for
  // not walked yet. Nodes that deep change only when a node no deeper is
  // reduced, which clears the entries of its colours. Six levels leave
  // photographs, whose leaves sit near that depth, a step or two of the
  // walk; five left three. Two bytes an entry (half a megabyte) and the leaf
  // marked in it: a photograph's pixel then waits for one load, not two.
  static constexpr int kShortcutLevels = 6;
  // Nodes past this index are walked to from the root every time; a tree of
  // 256 leaves has fewer than 2,100 nodes.
  static constexpr std::int32_t kShortcutNodes = 4095;
  std::vector<std::uint16_t> shortcut_;
  std::vector<std::int32_t> free_;
  std::int32_t root_ = -1;
  int leaf_count_ = 0;
  std::array<std::int32_t, 9> reducible_{-1, -1, -1, -1, -1, -1, -1, -1, -1};
  int max_colors_;
  int color_bits_;
};

// The octree palette of a picture: color_count entries, or 256 with the 20
// system colours at both ends.
std::vector<gdi::Color> BuildOctreePalette(const gdi::Bitmap& picture, int color_count, int color_bits,
                                           bool with_system_colors);

}  // namespace quarvel::gif
