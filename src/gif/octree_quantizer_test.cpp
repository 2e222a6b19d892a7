// Runs of one colour fed at once against feeding every pixel on its own, and
// the quantizer against a plain octree walked from the root for every pixel.
#include "gif/octree_quantizer.h"

#include <gtest/gtest.h>

#include <memory>
#include <random>

namespace quarvel::gif {
namespace {

// The same rules without any shortcut: leaves at depth `bits`, the deepest
// level reduced first, its newest node first.
class PlainOctree {
 public:
  PlainOctree(int max, int bits) : max_(max), bits_(bits) { root_ = Make(0); }
  void Add(int r, int g, int b) {
    Node* n = root_;
    for (int level = 0; !n->leaf; ++level) {
      const int s = 7 - level;
      auto& c = n->child[((r >> s) & 1) << 2 | ((g >> s) & 1) << 1 | ((b >> s) & 1)];
      if (!c) c = Make(level + 1);
      n = c;
    }
    ++n->count;
    n->r += std::uint64_t(r);
    n->g += std::uint64_t(g);
    n->b += std::uint64_t(b);
    while (leaves_ > max_) Reduce();
  }
  std::vector<gdi::Color> Colors() const {
    std::vector<gdi::Color> out;
    Walk(root_, out);
    return out;
  }

 private:
  struct Node {
    bool leaf = false;
    std::uint64_t count = 0, r = 0, g = 0, b = 0;
    Node* child[8] = {};
    Node* next = nullptr;
  };
  Node* Make(int level) {
    pool_.push_back(std::make_unique<Node>());
    Node* n = pool_.back().get();
    if (level == bits_) {
      n->leaf = true;
      ++leaves_;
    } else {
      n->next = reducible_[level];
      reducible_[level] = n;
    }
    return n;
  }
  void Reduce() {
    int level = bits_ - 1;
    while (level > 0 && !reducible_[level]) --level;
    Node* n = reducible_[level];
    if (!n) return;
    reducible_[level] = n->next;
    int merged = 0;
    for (Node*& c : n->child) {
      if (!c) continue;
      n->count += c->count;
      n->r += c->r;
      n->g += c->g;
      n->b += c->b;
      c = nullptr;
      ++merged;
    }
    n->leaf = true;
    leaves_ -= merged - 1;
  }
  static void Walk(const Node* n, std::vector<gdi::Color>& out) {
    if (n->leaf) {
      const std::uint64_t k = n->count ? n->count : 1;
      out.push_back(gdi::Color{std::uint8_t(n->r / k), std::uint8_t(n->g / k), std::uint8_t(n->b / k)});
      return;
    }
    for (const Node* c : n->child)
      if (c) Walk(c, out);
  }
  int max_, bits_, leaves_ = 0;
  Node* root_ = nullptr;
  Node* reducible_[9] = {};
  std::vector<std::unique_ptr<Node>> pool_;
};

TEST(OctreeWalk, SameTreeAsWalkingEveryPixelFromTheRoot) {
  std::mt19937 rng(7);
  // Photographic noise (every level reduced, the shallow ones too), a few
  // colours, and colours near each other that share their top bits.
  for (int kind = 0; kind < 3; ++kind)
    for (int bits : {8, 5, 3})
      for (int max : {1, 2, 16, 236, 256}) {
        TColorQuantizer fast(max, bits);
        PlainOctree plain(max, bits);
        for (int i = 0; i < 20000; ++i) {
          int r, g, b;
          if (kind == 0) {
            r = int(rng() & 255), g = int(rng() & 255), b = int(rng() & 255);
          } else if (kind == 1) {
            r = int(rng() % 5) * 60, g = int(rng() % 3) * 100, b = int(rng() % 4) * 80;
          } else {
            r = 96 + int(rng() % 24), g = 40 + int(rng() % 12), b = 200 + int(rng() % 40);
          }
          fast.AddColor(r, g, b);
          plain.Add(r, g, b);
        }
        EXPECT_EQ(fast.Colors(), plain.Colors()) << kind << " " << bits << " " << max;
      }
}

TEST(OctreeWalk, TreesTooLargeToRememberEveryWalkStillMatchThePlainWalk) {
  // Thousands of leaves: nodes past the remembered walk's reach are walked
  // from the root each time, and reductions still clear what it remembers.
  std::mt19937 rng(13);
  for (int max : {3000, 6000}) {
    TColorQuantizer fast(max, 8);
    PlainOctree plain(max, 8);
    for (int i = 0; i < 60000; ++i) {
      const int r = int(rng() & 255), g = int(rng() & 255), b = i % 3 == 0 ? 7 : int(rng() & 255);
      const std::uint32_t count = 1 + rng() % 3;
      fast.AddColors(r, g, b, count);
      for (std::uint32_t k = 0; k < count; ++k) plain.Add(r, g, b);
    }
    EXPECT_EQ(fast.Colors(), plain.Colors()) << max;
  }
}

TEST(OctreeRuns, WholePictureGivesTheColoursOfPixelByPixel) {
  std::mt19937 rng(3);
  for (int round = 0; round < 12; ++round) {
    const int w = 1 + int(rng() % 90), h = 1 + int(rng() % 60);
    gdi::Bitmap picture(w, h, round % 3 == 0 ? gdi::PixelFormat::pf24bit : gdi::PixelFormat::pfDevice);
    // Runs of random length and colour, crossing rows, from a few hundred colours.
    gdi::Color c;
    int left = 0;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        if (left-- <= 0) {
          c = gdi::Color{std::uint8_t(rng() % 13 * 19), std::uint8_t(rng() % 11 * 23), std::uint8_t(rng() % 7 * 37)};
          left = int(rng() % (round % 2 ? 200 : 4));
        }
        picture.SetPixel(x, y, c);
      }
    // The fourth byte of a 32-bit pixel is no part of its colour: runs go across it.
    if (picture.Format() == gdi::PixelFormat::pfDevice)
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) picture.ScanLine(y)[4 * x + 3] = std::uint8_t(rng());
    for (int max : {2, 16, 236, 256}) {
      TColorQuantizer runs(max), single(max);
      runs.ProcessImage(picture);
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
          const gdi::Color p = picture.GetPixel(x, y);
          single.AddColor(p.r, p.g, p.b);
        }
      EXPECT_EQ(runs.LeafCount(), single.LeafCount()) << round << " " << max;
      EXPECT_EQ(runs.Colors(), single.Colors()) << round << " " << max;
    }
  }
}

TEST(OctreeRuns, PhotographGivesTheTreeOfThePlainWalk) {
  // Grain over shading, as in a photograph: most pixels differ from the one
  // before, and leaves stand at every depth of the remembered walk and below.
  // A picture of a narrow range of colours (a sky, a face) keeps its leaves
  // deeper than the walk remembers.
  std::mt19937 rng(5);
  for (bool narrow : {false, true})
    for (int max : {16, 236, 256}) {
      gdi::Bitmap picture(120, 90, gdi::PixelFormat::pfDevice);
      PlainOctree plain(max, 8);
      for (int y = 0; y < 90; ++y)
        for (int x = 0; x < 120; ++x) {
          const int grain = int(rng() % 24);
          const gdi::Color c =
              narrow ? gdi::Color{std::uint8_t(100 + rng() % 8), std::uint8_t(50 + rng() % 8), std::uint8_t(200 + (x + y) % 8)}
                     : gdi::Color{std::uint8_t(x + grain), std::uint8_t(2 * y + grain), std::uint8_t((x + y + 3 * grain) & 255)};
          picture.SetPixel(x, y, c);
          plain.Add(c.r, c.g, c.b);
        }
      TColorQuantizer runs(max);
      runs.ProcessImage(picture);
      EXPECT_EQ(runs.Colors(), plain.Colors()) << narrow << " " << max;
    }
}

}  // namespace
}  // namespace quarvel::gif
