#include "gif/octree_quantizer.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "gif/gif_exception.h"

namespace quarvel::gif {

TColorQuantizer::TColorQuantizer(int max_colors, int color_bits)
    : shortcut_(std::size_t(1) << (3 * kShortcutLevels), 0),
      max_colors_(max_colors < 1 ? 1 : max_colors),
      color_bits_(color_bits < 1 ? 1 : (color_bits > 8 ? 8 : color_bits)) {
  root_ = NewNode(0);
}

std::int32_t TColorQuantizer::NewNode(int level) {
  std::int32_t n;
  if (!free_.empty()) {
    n = free_.back();
    free_.pop_back();
    nodes_[std::size_t(n)] = TOctreeNode{};
  } else {
    n = std::int32_t(nodes_.size());
    nodes_.emplace_back();
  }
  TOctreeNode& node = nodes_[std::size_t(n)];
  if (level == color_bits_) {
    node.leaf = true;
    ++leaf_count_;
  } else {
    node.next_reducible = reducible_[std::size_t(level)];
    reducible_[std::size_t(level)] = n;
  }
  return n;
}

void TColorQuantizer::FreeNode(std::int32_t n) { free_.push_back(n); }

void TColorQuantizer::AddColor(int red, int green, int blue) { AddColors(red, green, blue, 1); }

// A run of one colour: the first pixel may grow and reduce the tree, the
// others only add to the leaf it ends in, so adding them all at once before
// the reduction ends with the same tree and the same sums.
void TColorQuantizer::AddColors(int red, int green, int blue, std::uint32_t count) {
  constexpr int kDrop = 8 - kShortcutLevels;
  const std::size_t key = (std::size_t(red >> kDrop) << (2 * kShortcutLevels)) |
                          (std::size_t(green >> kDrop) << kShortcutLevels) | std::size_t(blue >> kDrop);
  std::int32_t n = root_;
  int level = 0;
  if (const std::uint16_t at = shortcut_[key]; at != 0) {
    n = std::int32_t(at >> 4) - 1;
    level = (at >> 1) & 7;
  } else {
    // The first kShortcutLevels steps of the walk below, remembered.
    for (; level < kShortcutLevels; ++level) {
      if (nodes_[std::size_t(n)].leaf) break;
      const int shift = 7 - level;
      const int child = (((red >> shift) & 1) << 2) | (((green >> shift) & 1) << 1) | ((blue >> shift) & 1);
      std::int32_t next = nodes_[std::size_t(n)].children[std::size_t(child)];
      if (next < 0) {
        next = NewNode(level + 1);
        nodes_[std::size_t(n)].children[std::size_t(child)] = next;
        nodes_[std::size_t(next)].path = {std::uint8_t(red >> shift), std::uint8_t(green >> shift),
                                          std::uint8_t(blue >> shift)};
      }
      n = next;
    }
    if (n < kShortcutNodes)
      shortcut_[key] = std::uint16_t((n + 1) * 16 + level * 2 + (nodes_[std::size_t(n)].leaf ? 1 : 0));
  }
  for (;; ++level) {
    TOctreeNode* node = &nodes_[std::size_t(n)];
    if (node->leaf) {
      node->pixel_count += count;
      node->red_sum += std::uint64_t(red) * count;
      node->green_sum += std::uint64_t(green) * count;
      node->blue_sum += std::uint64_t(blue) * count;
      break;
    }
    int shift = 7 - level;
    int child = (((red >> shift) & 1) << 2) | (((green >> shift) & 1) << 1) | ((blue >> shift) & 1);
    std::int32_t next = node->children[std::size_t(child)];
    if (next < 0) {
      next = NewNode(level + 1);  // may move the pool
      nodes_[std::size_t(n)].children[std::size_t(child)] = next;
      nodes_[std::size_t(next)].path = {std::uint8_t(red >> shift), std::uint8_t(green >> shift),
                                        std::uint8_t(blue >> shift)};
    }
    n = next;
  }
  while (leaf_count_ > max_colors_) ReduceTree();
}

void TColorQuantizer::ReduceTree() {
  int level = color_bits_ - 1;
  while (level > 0 && reducible_[std::size_t(level)] < 0) --level;
  std::int32_t n = reducible_[std::size_t(level)];
  if (n < 0) return;  // nothing left to merge (only with a single leaf allowed)
  TOctreeNode& node = nodes_[std::size_t(n)];
  // The children freed here may be where remembered walks stand, and the
  // node itself, now a leaf: those of the node's colours, a box of the
  // shortcut's cells.
  if (level <= kShortcutLevels) {
    const int span = kShortcutLevels - level, side = 1 << span;
    for (int r = 0; r < side; ++r)
      for (int g = 0; g < side; ++g) {
        const std::size_t row = (std::size_t((node.path[0] << span) | r) << (2 * kShortcutLevels)) |
                                (std::size_t((node.path[1] << span) | g) << kShortcutLevels) |
                                std::size_t(node.path[2] << span);
        std::fill_n(shortcut_.begin() + std::ptrdiff_t(row), side, std::uint16_t(0));
      }
  }
  reducible_[std::size_t(level)] = node.next_reducible;
  node.next_reducible = -1;
  int children = 0;
  for (auto& c : node.children) {
    if (c < 0) continue;
    const TOctreeNode& child = nodes_[std::size_t(c)];
    node.pixel_count += child.pixel_count;
    node.red_sum += child.red_sum;
    node.green_sum += child.green_sum;
    node.blue_sum += child.blue_sum;
    FreeNode(c);
    c = -1;
    ++children;
  }
  node.leaf = true;
  leaf_count_ -= children - 1;
}

// A leaf reached adds no node, so the tree has no more leaves than allowed
// after it, as after the call before: AddColors would reduce nothing.
inline void TColorQuantizer::AddRun(int red, int green, int blue, std::uint32_t count) {
  constexpr int kDrop = 8 - kShortcutLevels;
  const std::size_t key = (std::size_t(red >> kDrop) << (2 * kShortcutLevels)) |
                          (std::size_t(green >> kDrop) << kShortcutLevels) | std::size_t(blue >> kDrop);
  if (const std::uint16_t at = shortcut_[key]; (at & 1) != 0) {
    TOctreeNode& node = nodes_[std::size_t(at >> 4) - 1];
    node.pixel_count += count;
    node.red_sum += std::uint64_t(red) * count;
    node.green_sum += std::uint64_t(green) * count;
    node.blue_sum += std::uint64_t(blue) * count;
    return;
  }
  AddColors(red, green, blue, count);
}

void TColorQuantizer::ProcessImage(const gdi::Bitmap& picture) {
  const int w = picture.Width(), h = picture.Height();
  if (picture.Empty()) return;
  const auto format = picture.Format();
  const bool bgr32 = format == gdi::PixelFormat::pf32bit || format == gdi::PixelFormat::pfDevice;
  const bool bgr24 = format == gdi::PixelFormat::pf24bit;
  // Pixels go in in order, runs of one colour (also across rows) at once.
  int run_r = -1, run_g = -1, run_b = -1;
  std::uint32_t run = 0;
  auto add = [&](int r, int g, int b) {
    if (run > 0 && r == run_r && g == run_g && b == run_b && run < 0x10000000u) {
      ++run;
      return;
    }
    if (run > 0) AddRun(run_r, run_g, run_b, run);
    run_r = r;
    run_g = g;
    run_b = b;
    run = 1;
  };
  if (bgr32 && std::endian::native == std::endian::little) {
    // Blue, green, red, unused: a little-endian word's low three bytes are
    // the colour, compared at once.
    std::uint32_t run_colour = 0;
    for (int y = 0; y < h; ++y) {
      const std::uint8_t* row = picture.ScanLine(y);
      for (int x = 0; x < w; ++x) {
        std::uint32_t colour;
        std::memcpy(&colour, row + 4 * std::size_t(x), 4);
        colour &= 0xFFFFFFu;
        if (run > 0 && colour == run_colour && run < 0x10000000u) {
          ++run;
          continue;
        }
        if (run > 0) AddRun(run_r, run_g, run_b, run);
        run_colour = colour;
        run_r = int(colour >> 16);
        run_g = int((colour >> 8) & 0xFF);
        run_b = int(colour & 0xFF);
        run = 1;
      }
    }
    if (run > 0) AddRun(run_r, run_g, run_b, run);
    return;
  }
  for (int y = 0; y < h; ++y) {
    const std::uint8_t* row = picture.ScanLine(y);
    for (int x = 0; x < w; ++x) {
      if (bgr32) {
        add(row[4 * x + 2], row[4 * x + 1], row[4 * x]);
      } else if (bgr24) {
        add(row[3 * x + 2], row[3 * x + 1], row[3 * x]);
      } else {
        gdi::Color c = picture.GetPixel(x, y);
        add(c.r, c.g, c.b);
      }
    }
  }
  if (run > 0) AddRun(run_r, run_g, run_b, run);
}

std::vector<gdi::Color> TColorQuantizer::Colors() const {
  std::vector<gdi::Color> out;
  std::vector<std::int32_t> stack{root_};
  while (!stack.empty()) {
    std::int32_t n = stack.back();
    stack.pop_back();
    const TOctreeNode& node = nodes_[std::size_t(n)];
    if (node.leaf) {
      if (node.pixel_count == 0) {
        out.push_back(gdi::Color{});
      } else {
        out.push_back(gdi::Color{std::uint8_t(node.red_sum / node.pixel_count),
                                 std::uint8_t(node.green_sum / node.pixel_count),
                                 std::uint8_t(node.blue_sum / node.pixel_count)});
      }
      continue;
    }
    for (int c = 7; c >= 0; --c)
      if (node.children[std::size_t(c)] >= 0) stack.push_back(node.children[std::size_t(c)]);
  }
  return out;
}

std::vector<gdi::Color> BuildOctreePalette(const gdi::Bitmap& picture, int color_count, int color_bits,
                                           bool with_system_colors) {
  if (color_count < 1 || color_count > 256) throw GIFException(sTooManyColors);
  const int max = with_system_colors ? 236 : color_count;
  TColorQuantizer quantizer(max, color_bits);
  quantizer.ProcessImage(picture);
  std::vector<gdi::Color> leaves = quantizer.Colors();

  // Entries past the last leaf repeat it: ties go to the lowest index, so the
  // repeats never take pixels away from the leaf colours.
  auto fill = [&](std::vector<gdi::Color>& out, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
      if (i < leaves.size()) out.push_back(leaves[i]);
      else out.push_back(leaves.empty() ? gdi::Color{} : leaves.back());
    }
  };
  std::vector<gdi::Color> palette;
  palette.reserve(256);
  if (with_system_colors) {
    std::vector<gdi::Color> system = gdi::SystemPalette20();
    palette.insert(palette.end(), system.begin(), system.begin() + 10);
    fill(palette, 236);
    palette.insert(palette.end(), system.begin() + 10, system.end());
  } else {
    fill(palette, std::size_t(color_count));
  }
  return palette;
}

}  // namespace quarvel::gif
