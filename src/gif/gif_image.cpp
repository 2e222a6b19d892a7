#include "gif/gif_image.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <system_error>
#include <unistd.h>

#include "gif/fast_lzw.h"
#include "gif/gif_exception.h"
#include "gif/lzw_decoder.h"
#include "gif/parallel.h"

namespace quarvel::gif {

namespace {

void Put16(TStream& s, unsigned v) {
  s.push_back(std::uint8_t(v));
  s.push_back(std::uint8_t(v >> 8));
}

void PutSubBlocks(TStream& s, const std::uint8_t* data, std::size_t size) {
  while (size > 0) {
    std::size_t n = std::min<std::size_t>(size, 255);
    s.push_back(std::uint8_t(n));
    s.insert(s.end(), data, data + n);
    data += n;
    size -= n;
  }
}

}  // namespace

// ---- colour tables ----

int TGIFColorMap::BitsPerPixel() const {
  if (colors_.empty()) return 0;
  int b = 1;
  while ((1 << b) < Count()) ++b;
  return b;
}

int TGIFColorMap::Add(gdi::Color c) {
  if (Count() >= 256) throw GIFException(sTooManyColors);
  colors_.push_back(c);
  sorted_ = false;
  return Count() - 1;
}

void TGIFColorMap::ImportPalette(const std::vector<gdi::Color>& palette) {
  Clear();
  colors_.assign(palette.begin(), palette.begin() + std::min<std::size_t>(palette.size(), 256));
}

void TGIFColorMap::SaveToStream(TStream& stream) const {
  if (colors_.empty()) return;
  for (const auto& c : colors_) {
    stream.push_back(c.r);
    stream.push_back(c.g);
    stream.push_back(c.b);
  }
  for (int i = Count(); i < (1 << BitsPerPixel()); ++i) stream.insert(stream.end(), 3, 0);
}

// ---- header ----

void TGIFHeader::Assign(const TGIFHeader& other) {
  width_ = other.width_;
  height_ = other.height_;
  packed_ = other.packed_;
  background_ = other.background_;
  aspect_ = other.aspect_;
  color_map_ = other.color_map_;
}

void TGIFHeader::Clear() {
  width_ = height_ = 0;
  packed_ = background_ = aspect_ = 0;
  color_map_.Clear();
}

void TGIFHeader::SaveToStream(TStream& stream) const {
  int resolution = std::max(color_map_.BitsPerPixel() - 1, 0);
  int bits = color_map_.BitsPerPixel();
  if (image_ != nullptr) {
    for (const auto& frame : image_->Images()) {
      resolution = std::max(resolution, frame->ColorMap().BitsPerPixel() - 1);
      bits = std::max(bits, frame->ColorMap().BitsPerPixel());
    }
  }
  int packed = 0;
  if (color_map_.Count() > 0) {
    packed |= 0x80;
    if (color_map_.Sorted()) packed |= 0x08;
  }
  packed |= (resolution * 16) & 0x70;
  packed |= (bits - 1) & 7;
  packed_ = std::uint8_t(packed);
  Put16(stream, width_);
  Put16(stream, height_);
  stream.push_back(packed_);
  stream.push_back(background_);
  stream.push_back(aspect_);
  if (packed_ & 0x80) {
    color_map_.SaveToStream(stream);
    // The size field follows the largest table of the file; a smaller global
    // table is padded to it, or decoders read the frames as table entries.
    for (int i = 1 << color_map_.BitsPerPixel(); i < (1 << bits); ++i) stream.insert(stream.end(), 3, 0);
  }
}

// ---- extensions ----

TGIFExtension::TGIFExtension(TGIFSubImage* frame) : TGIFItem(frame ? frame->Image() : nullptr), frame_(frame) {}

void TGIFExtension::SaveToStream(TStream& stream) const {
  stream.push_back(0x21);
  stream.push_back(Label());
  SaveData(stream);
}

TGIFGraphicControlExtension::TGIFGraphicControlExtension(TGIFSubImage* frame) : TGIFExtension(frame) {
  if (frame != nullptr && frame->gce_ == nullptr) frame->gce_ = this;
}

TGIFGraphicControlExtension::~TGIFGraphicControlExtension() {
  if (frame_ != nullptr && frame_->gce_ == this) frame_->gce_ = nullptr;
}

void TGIFGraphicControlExtension::SetTransparent(bool on) {
  packed_ = std::uint8_t(on ? packed_ | 0x01 : packed_ & ~0x01);
  if (frame_ != nullptr) frame_->transparent_ = on;
}

void TGIFGraphicControlExtension::SetTransparentColorIndex(int index) {
  int count = frame_ != nullptr ? frame_->ActiveColorMap().Count() : 0;
  if (index < 0 || index > 255 || (count > 0 && index >= count)) {
    if (image_ != nullptr) image_->Warning(gsWarning, sInvalidColor);
    index = 0;
  }
  index_ = std::uint8_t(index);
}

void TGIFGraphicControlExtension::SaveData(TStream& stream) const {
  stream.push_back(4);
  stream.push_back(packed_);
  Put16(stream, delay_);
  stream.push_back(index_);
  stream.push_back(0);
}

std::unique_ptr<TGIFExtension> TGIFGraphicControlExtension::Clone(TGIFSubImage* frame) const {
  auto copy = std::make_unique<TGIFGraphicControlExtension>(frame);
  copy->packed_ = packed_;
  copy->delay_ = delay_;
  copy->index_ = index_;
  return copy;
}

TGIFApplicationExtension::TGIFApplicationExtension(TGIFSubImage* frame, const std::string& identifier8,
                                                   const std::string& authentication3)
    : TGIFExtension(frame) {
  for (std::size_t i = 0; i < identifier_.size() && i < identifier8.size(); ++i) identifier_[i] = identifier8[i];
  for (std::size_t i = 0; i < auth_.size() && i < authentication3.size(); ++i) auth_[i] = authentication3[i];
}

void TGIFApplicationExtension::SaveData(TStream& stream) const {
  stream.push_back(11);
  stream.insert(stream.end(), identifier_.begin(), identifier_.end());
  stream.insert(stream.end(), auth_.begin(), auth_.end());
  SaveSubBlocks(stream);
  stream.push_back(0);
}

TGIFAppExtNSLoop::TGIFAppExtNSLoop(TGIFSubImage* frame, int loops, std::uint32_t buffer_size)
    : TGIFApplicationExtension(frame, "NETSCAPE", "2.0"), loops_(std::uint16_t(loops)), buffer_size_(buffer_size) {}

void TGIFAppExtNSLoop::SaveSubBlocks(TStream& stream) const {
  stream.push_back(3);
  stream.push_back(1);
  Put16(stream, loops_);
  if (buffer_size_ != 0) {
    stream.push_back(5);
    stream.push_back(2);
    for (int i = 0; i < 4; ++i) stream.push_back(std::uint8_t(buffer_size_ >> (8 * i)));
  }
}

std::unique_ptr<TGIFExtension> TGIFAppExtNSLoop::Clone(TGIFSubImage* frame) const {
  return std::make_unique<TGIFAppExtNSLoop>(frame, loops_, buffer_size_);
}

TGIFUnknownAppExtension::TGIFUnknownAppExtension(TGIFSubImage* frame, const std::string& identifier8,
                                                 const std::string& authentication3)
    : TGIFApplicationExtension(frame, identifier8, authentication3) {}

void TGIFUnknownAppExtension::SaveSubBlocks(TStream& stream) const {
  for (const auto& block : blocks_) PutSubBlocks(stream, block.data(), block.size());
}

std::unique_ptr<TGIFExtension> TGIFUnknownAppExtension::Clone(TGIFSubImage* frame) const {
  auto copy = std::make_unique<TGIFUnknownAppExtension>(frame, Identifier(), Authentication());
  copy->blocks_ = blocks_;
  return copy;
}

void TGIFTextExtension::SaveData(TStream& stream) const {
  stream.push_back(12);
  Put16(stream, grid_left);
  Put16(stream, grid_top);
  Put16(stream, grid_width);
  Put16(stream, grid_height);
  stream.push_back(cell_width);
  stream.push_back(cell_height);
  stream.push_back(foreground_index);
  stream.push_back(background_index);
  PutSubBlocks(stream, reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
  stream.push_back(0);
}

std::unique_ptr<TGIFExtension> TGIFTextExtension::Clone(TGIFSubImage* frame) const {
  auto copy = std::make_unique<TGIFTextExtension>(frame);
  copy->grid_left = grid_left;
  copy->grid_top = grid_top;
  copy->grid_width = grid_width;
  copy->grid_height = grid_height;
  copy->cell_width = cell_width;
  copy->cell_height = cell_height;
  copy->foreground_index = foreground_index;
  copy->background_index = background_index;
  copy->text = text;
  return copy;
}

void TGIFCommentExtension::SaveData(TStream& stream) const {
  PutSubBlocks(stream, reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
  stream.push_back(0);
}

std::unique_ptr<TGIFExtension> TGIFCommentExtension::Clone(TGIFSubImage* frame) const {
  auto copy = std::make_unique<TGIFCommentExtension>(frame);
  copy->text = text;
  return copy;
}

// ---- frames ----

TGIFSubImage::TGIFSubImage(TGIFImage* image) : TGIFItem(image) {}

// Extensions go first: a graphic control extension unlinks itself on the way.
TGIFSubImage::~TGIFSubImage() { extensions_.Clear(); }

void TGIFSubImage::SetBounds(int left, int top, int width, int height) {
  // Position and size are 16-bit in the file, and so is the screen they grow.
  if (left < 0 || top < 0 || width < 0 || height < 0 || left + width > 65535 || top + height > 65535)
    throw GIFException(sBadDimension);
  left_ = std::uint16_t(left);
  top_ = std::uint16_t(top);
  width_ = std::uint16_t(width);
  height_ = std::uint16_t(height);
  if (image_ != nullptr) image_->FitScreen(*this);
}

void TGIFSubImage::ReleaseData() {
  if (data_.empty() || Interlaced()) return;
  std::vector<std::uint8_t>().swap(data_);
  released_ = true;
}

void TGIFSubImage::RestoreData(std::span<const std::uint8_t> image) const {
  if (!released_) return;
  // Descriptor (10 bytes) and the local table the packed byte announces.
  if (image.size() < 10 || image[0] != 0x2C) throw GIFException(sBadImageData);
  const auto at16 = [&](std::size_t k) { return unsigned(image[k]) | unsigned(image[k + 1]) << 8; };
  if (at16(1) != left_ || at16(3) != top_ || at16(5) != width_ || at16(7) != height_ || (image[9] & 0x40) != 0)
    throw GIFException(sBadImageData);
  std::size_t at = 10;
  if (image[9] & 0x80) at += std::size_t(3) << ((image[9] & 7) + 1);
  if (at > image.size()) throw GIFException(sBadImageData);
  data_ = DecodeImageData(image.subspan(at), std::size_t(width_) * height_);
  released_ = false;
}

void TGIFSubImage::SetData(int width, int height, std::vector<std::uint8_t> data) {
  if (width < 0 || height < 0 || left_ + width > 65535 || top_ + height > 65535 ||
      data.size() != std::size_t(width) * std::size_t(height))
    throw GIFException(sBadDimension);
  data_ = std::move(data);
  released_ = false;
  SetBounds(left_, top_, width, height);
}

const TGIFColorMap& TGIFSubImage::ActiveColorMap() const {
  if (color_map_.Count() == 0 && image_ != nullptr) return image_->Header().ColorMap();
  return color_map_;
}

void TGIFSubImage::Clear() {
  extensions_.Clear();
  gce_ = nullptr;
  color_map_.Clear();
  data_.clear();
  released_ = false;
  left_ = top_ = width_ = height_ = 0;
  transparent_ = false;
}

void TGIFSubImage::ImportBitmap(const gdi::Bitmap& picture) {
  Clear();
  if (picture.Empty()) return;
  const int w = picture.Width(), h = picture.Height();
  // The file stores 16-bit sizes.
  if (w > 65535 || h > 65535) throw GIFException(sBadDimension);
  try {
    gdi::Bitmap reduced;
    const gdi::Bitmap* source = &picture;
    int bits = picture.BitsPerPixel();
    if (!gdi::IsPalettized(picture.Format())) {
      const TGIFImage* owner = image_;
      reduced = ReduceToPalette(picture, owner ? owner->ReductionMethod : rdNetscape,
                                owner ? owner->DitherMethod : dtNearest, nullptr, owner ? owner->PaletteBits : 8);
      source = &reduced;
      bits = reduced.BitsPerPixel();
    }
    std::vector<std::uint8_t> data;
    try {
      data.resize(gdi::CheckedImageSize(w, h, 8));
    } catch (const gdi::BitmapError&) {
      throw GIFException(sOutOfMemDIB);
    }
    data.resize(std::size_t(w) * std::size_t(h));
    if (image_ != nullptr) image_->Progress(psStarting, 0, "Converting...");
    if (bits <= 8) {
      color_map_.ImportPalette(source->Palette());
      for (int y = 0; y < h; ++y) {
        const std::uint8_t* row = source->ScanLine(y);
        std::uint8_t* out = data.data() + std::size_t(y) * std::size_t(w);
        if (bits == 8) {
          std::memcpy(out, row, std::size_t(w));
        } else if (bits == 4) {
          for (int x = 0; x < w; ++x) out[x] = (x & 1) ? (row[x >> 1] & 0x0F) : (row[x >> 1] >> 4);
        } else {
          for (int x = 0; x < w; ++x) out[x] = (row[x >> 3] >> (7 - (x & 7))) & 1;
        }
        if (image_ != nullptr && (y % 32) == 31) image_->Progress(psRunning, int((long long)y * 100 / h), "Converting...");
      }
    } else {
      // 24 bits (rdNone): distinct colours in order of first appearance.
      std::array<std::pair<std::uint32_t, int>, 8> cache;
      cache.fill({0xFFFFFFFFu, 0});
      int next_cache = 0;
      for (int y = 0; y < h; ++y) {
        std::uint8_t* out = data.data() + std::size_t(y) * std::size_t(w);
        for (int x = 0; x < w; ++x) {
          gdi::Color c = source->GetPixel(x, y);
          std::uint32_t rgb = c.ToRgb();
          int index = -1;
          for (const auto& e : cache)
            if (e.first == rgb) index = e.second;
          if (index < 0) {
            const auto& colors = color_map_.Colors();
            auto it = std::find(colors.begin(), colors.end(), c);
            index = it != colors.end() ? int(it - colors.begin()) : color_map_.Add(c);
            cache[std::size_t(next_cache)] = {rgb, index};
            next_cache = (next_cache + 1) % 8;
          }
          out[x] = std::uint8_t(index);
        }
        if (image_ != nullptr && (y % 32) == 31) image_->Progress(psRunning, int((long long)y * 100 / h), "Converting...");
      }
    }
    data_ = std::move(data);
    SetBounds(0, 0, w, h);
    if (image_ != nullptr) image_->Progress(psEnding, 100, "Converting...");
  } catch (...) {
    Clear();
    throw;
  }
}

void TGIFSubImage::CropToOpaque() {
  if (Empty() || !transparent_ || gce_ == nullptr) return;
  if (data_.size() != std::size_t(width_) * height_) throw GIFException(sBadDimension);
  const std::uint8_t t = std::uint8_t(gce_->TransparentColorIndex());
  const int w = width_, h = height_;
  auto column_has = [&](int x, int y0, int y1) {
    for (int y = y0; y <= y1; ++y)
      if (Pixel(x, y) != t) return true;
    return false;
  };
  int left = 0;
  while (left < w && !column_has(left, 0, h - 1)) ++left;
  if (left == w) {
    data_.clear();
    width_ = height_ = 0;
    return;
  }
  int right = w - 1;
  while (right > left && !column_has(right, 0, h - 1)) --right;
  auto row_has = [&](int y) {
    const std::uint8_t* row = data_.data() + std::size_t(y) * w;
    for (int x = left; x <= right; ++x)
      if (row[x] != t) return true;
    return false;
  };
  int top = 0;
  while (!row_has(top)) ++top;
  int bottom = h - 1;
  while (bottom > top && !row_has(bottom)) --bottom;
  const int nw = right - left + 1, nh = bottom - top + 1;
  std::vector<std::uint8_t> cropped(std::size_t(nw) * std::size_t(nh));
  for (int y = 0; y < nh; ++y)
    std::memcpy(cropped.data() + std::size_t(y) * nw, data_.data() + std::size_t(y + top) * w + left, std::size_t(nw));
  data_ = std::move(cropped);
  left_ = std::uint16_t(left_ + left);
  top_ = std::uint16_t(top_ + top);
  width_ = std::uint16_t(nw);
  height_ = std::uint16_t(nh);
}

gdi::Bitmap TGIFSubImage::Bitmap() const {
  if (Empty()) return gdi::Bitmap();
  if (data_.size() != std::size_t(width_) * height_) throw GIFException(sBadDimension);
  gdi::Bitmap out(width_, height_, gdi::PixelFormat::pf8bit);
  const TGIFColorMap& map = ActiveColorMap();
  std::vector<gdi::Color> palette = map.Colors();
  if (palette.empty()) palette = gdi::DefaultPalette(gdi::PixelFormat::pf8bit);
  out.SetPalette(palette);
  for (int y = 0; y < height_; ++y) std::memcpy(out.ScanLine(y), data_.data() + std::size_t(y) * width_, width_);
  return out;
}

void TGIFSubImage::Assign(const TGIFSubImage& other) {
  Clear();
  left_ = other.left_;
  top_ = other.top_;
  width_ = other.width_;
  height_ = other.height_;
  packed_ = other.packed_;
  color_map_ = other.color_map_;
  data_ = other.data_;
  released_ = other.released_;
  transparent_ = other.transparent_;
  for (const auto& ext : other.extensions_) {
    auto copy = ext->Clone(this);
    if (ext.get() == other.gce_) gce_ = static_cast<TGIFGraphicControlExtension*>(copy.get());
    extensions_.Add(std::move(copy));
  }
  if (image_ != nullptr && !Empty()) image_->FitScreen(*this);
}

TGIFVersion TGIFSubImage::Version() const {
  if (color_map_.Sorted() || extensions_.Count() > 0) return gv89a;
  return gv87a;
}

void TGIFSubImage::SaveToStream(TStream& stream) const {
  extensions_.SaveToStream(stream);
  SaveImageToStream(stream);
}

void TGIFSubImage::SaveImageToStream(TStream& stream) const {
  if (Empty()) return;
  // The encoder must not read past the pixels.
  if (data_.size() != std::size_t(width_) * height_) throw GIFException(sBadDimension);
  std::uint8_t packed = packed_;
  if (color_map_.Count() > 0) {
    packed = std::uint8_t((packed & 0x40) | 0x80 | (color_map_.Sorted() ? 0x20 : 0) | (color_map_.BitsPerPixel() - 1));
  } else {
    packed = std::uint8_t(packed & 0x40);
  }
  stream.push_back(0x2C);
  Put16(stream, left_);
  Put16(stream, top_);
  Put16(stream, width_);
  Put16(stream, height_);
  stream.push_back(packed);
  color_map_.SaveToStream(stream);

  int colours = color_map_.Count();
  int code_width = color_map_.BitsPerPixel();
  if (colours == 0) {
    // Without a local table the frame uses the global one.
    code_width = image_ != nullptr ? image_->Header().ColorMap().BitsPerPixel() : 8;
    if (code_width == 0) code_width = 8;
    colours = 1 << code_width;
  }
  const bool rle = image_ != nullptr && image_->Encoding == ecRLE;
  // Every byte is below a table of 256: no scan then.
  if (!rle && !Interlaced() && !data_.empty() &&
      (colours >= 256 || *std::max_element(data_.begin(), data_.end()) < colours)) {
    // The same code stream as TLZWEncoder, a few times faster.
    thread_local TFastLZWEncoder fast;
    fast.Encode(stream, code_width, data_.data(), data_.size());
    return;
  }
  std::unique_ptr<TGIFEncoder> encoder;
  if (rle)
    encoder = std::make_unique<TRLEEncoder>();
  else
    encoder = std::make_unique<TLZWEncoder>();
  encoder->EncodeImageData(stream, code_width, colours, data_.data(), Interlaced(), height_, width_);
}

// ---- the image ----

TGIFImage::TGIFImage() : header_(this) {}
TGIFImage::~TGIFImage() = default;

void TGIFImage::Warning(TGIFSeverity severity, const std::string& text) const {
  if (OnWarning) OnWarning(severity, text);
}

void TGIFImage::Progress(TGIFProgressStage stage, int percent, const std::string& text) const {
  if (OnProgress) OnProgress(stage, percent, text);
}

void TGIFImage::FitScreen(const TGIFSubImage& frame) {
  const int right = frame.Left() + frame.Width();
  const int bottom = frame.Top() + frame.Height();
  const bool had_size = header_.Width() > 0 || header_.Height() > 0;
  bool grew = false;
  if (right > header_.Width()) {
    if (had_size) Warning(gsWarning, sScreenBadWidth);
    header_.SetWidth(std::min(right, 65535));
    grew = true;
  }
  if (bottom > header_.Height()) {
    if (had_size) Warning(gsWarning, sScreenBadHeight);
    header_.SetHeight(std::min(bottom, 65535));
    grew = true;
  }
  if (grew && had_size) Warning(gsWarning, sScreenSizeExceeded);
}

int TGIFImage::AddFrame(std::unique_ptr<TGIFSubImage> frame) {
  if (!frame) throw GIFException(sUnsupportedClass);
  if (frame->Image() != this) {
    // A frame of another image is copied so that it belongs to this one.
    auto own = std::make_unique<TGIFSubImage>(this);
    own->Assign(*frame);
    frame = std::move(own);
  } else if (!frame->Empty()) {
    FitScreen(*frame);
  }
  return images_.Add(std::move(frame));
}

int TGIFImage::AddFrame(const gdi::Bitmap& picture) {
  auto frame = std::make_unique<TGIFSubImage>(this);
  frame->ImportBitmap(picture);
  return images_.Add(std::move(frame));
}

int TGIFImage::AddFrame(const TGIFImage& image) { return AddFrame(image.Bitmap()); }

void TGIFImage::Clear() {
  images_.Clear();
  header_.Clear();
}

void TGIFImage::Assign(const TGIFImage& other) {
  if (&other == this) return;
  Clear();
  header_.Assign(other.header_);
  DrawFlags = other.DrawFlags;
  ReductionMethod = other.ReductionMethod;
  DitherMethod = other.DitherMethod;
  HasDrawBackgroundColor = other.HasDrawBackgroundColor;
  DrawBackgroundColor = other.DrawBackgroundColor;
  OnWarning = other.OnWarning;
  const int n = other.images_.Count();
  for (int i = 0; i < n; ++i) {
    auto frame = std::make_unique<TGIFSubImage>(this);
    frame->Assign(other.images_[i]);
    images_.Add(std::move(frame));
    Progress(psRunning, (i + 1) * 100 / n, "Copying...");
  }
}

void TGIFImage::Assign(const gdi::Bitmap& picture) {
  Clear();
  AddFrame(picture);
}

gdi::Bitmap TGIFImage::Bitmap() const {
  if (Empty()) return gdi::Bitmap();
  const TGIFSubImage& first = images_[0];
  if (first.Left() == 0 && first.Top() == 0 && first.Width() == Width() && first.Height() == Height())
    return first.Bitmap();
  if (Width() == 0 || Height() == 0) return gdi::Bitmap();
  gdi::Bitmap out(Width(), Height(), gdi::PixelFormat::pf8bit);
  std::vector<gdi::Color> palette = first.ActiveColorMap().Colors();
  if (palette.empty()) palette = gdi::DefaultPalette(gdi::PixelFormat::pf8bit);
  out.SetPalette(palette);
  for (int y = 0; y < first.Height() && first.Top() + y < Height(); ++y)
    for (int x = 0; x < first.Width() && first.Left() + x < Width(); ++x)
      out.SetIndex(first.Left() + x, first.Top() + y, first.Pixel(x, y));
  return out;
}

TGIFVersion TGIFImage::Version() const {
  TGIFVersion v = gvUnknown;
  for (const auto& frame : images_) {
    if (frame->Version() > v) v = frame->Version();
    if (v == gv89a) break;
  }
  return v;
}

void TGIFImage::SaveToStream(TStream& stream) const {
  const TGIFVersion version = Version();
  if (version == gvUnknown) throw GIFException(sUnknownVersion);
  Progress(psStarting, 0, "Saving...");
  const char* magic = version == gv89a ? "GIF89a" : "GIF87a";
  stream.insert(stream.end(), magic, magic + 6);
  header_.SaveToStream(stream);
  const int n = images_.Count();
  // Frames are encoded apart on every core, then written in order; a frame
  // that fails leaves what it wrote after the frames before it, as a run of
  // one frame after another would.
  std::vector<TStream> parts(static_cast<std::size_t>(n));
  std::vector<std::exception_ptr> errors(static_cast<std::size_t>(n));
  ParallelFor(std::size_t(n), WorkerThreads(0), [&](std::size_t i) {
    try {
      images_[int(i)].SaveToStream(parts[i]);
    } catch (...) {
      errors[i] = std::current_exception();
    }
  });
  for (int i = 0; i < n; ++i) {
    stream.insert(stream.end(), parts[std::size_t(i)].begin(), parts[std::size_t(i)].end());
    TStream().swap(parts[std::size_t(i)]);
    if (errors[std::size_t(i)]) std::rethrow_exception(errors[std::size_t(i)]);
    Progress(psRunning, (i + 1) * 100 / n, "Saving...");
  }
  TGIFTrailer(const_cast<TGIFImage*>(this)).SaveToStream(stream);
  Progress(psEnding, 100, "Saving...");
}

void TGIFImage::SaveToFile(const std::filesystem::path& path) const {
  TStream bytes;
  SaveToStream(bytes);
  SaveStreamToFile(bytes, path);
}

void SaveStreamToFile(const TStream& bytes, const std::filesystem::path& path) {
  std::filesystem::path temp = path;
  temp += ".part~";
  auto fail = [&](const std::string& what) {
    std::error_code ec;
    std::filesystem::remove(temp, ec);
    throw GIFException("Cannot write \"" + path.string() + "\": " + what);
  };
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    if (!out) fail(std::strerror(errno));
    // A megabyte a call: one call for tens of megabytes takes the kernel
    // many times as long as the same bytes in pieces.
    constexpr std::size_t kPiece = std::size_t(1) << 20;
    for (std::size_t at = 0; out && at < bytes.size(); at += kPiece)
      out.write(reinterpret_cast<const char*>(bytes.data() + at), std::streamsize(std::min(kPiece, bytes.size() - at)));
    out.flush();
    if (!out) fail("write failed");
  }
  std::error_code ec;
  std::filesystem::rename(temp, path, ec);
  if (ec) fail(ec.message());
}

}  // namespace quarvel::gif
