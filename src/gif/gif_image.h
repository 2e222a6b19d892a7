#pragma once
// The in-memory model of a GIF file and its writer.

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "gif/color_reduction.h"
#include "gif/ditherer.h"
#include "gif/lzw_encoder.h"
#include "platform/gdi/bitmap.h"

namespace quarvel::gif {

class TGIFImage;
class TGIFSubImage;
class TGIFGraphicControlExtension;

enum TGIFVersion { gvUnknown = 0, gv87a = 1, gv89a = 2 };
enum TGIFEncoding { ecLZW = 0, ecRLE = 1 };
enum TGIFSeverity { gsInfo, gsWarning, gsError };
enum TGIFProgressStage { psStarting, psRunning, psEnding };

using TGIFProgressEvent = std::function<void(TGIFProgressStage stage, int percent, const std::string& text)>;
using TGIFWarningEvent = std::function<void(TGIFSeverity severity, const std::string& text)>;

// Draw flags of the animation painter.
enum : std::uint16_t {
  goAsync = 0x0001,
  goTransparent = 0x0002,
  goAnimate = 0x0004,
  goLoop = 0x0008,
  goLoopContinously = 0x0010,
  goValidateCanvas = 0x0020,
  goDirectDraw = 0x0040,
  goClearOnLoop = 0x0080,
  goTile = 0x0100,
  goDither = 0x0200,
  goAutoDither = 0x0400,
};
inline constexpr std::uint16_t kDefaultDrawFlags = 0x060F;

class TGIFItem {
 public:
  explicit TGIFItem(TGIFImage* image) : image_(image) {}
  virtual ~TGIFItem() = default;
  TGIFItem(const TGIFItem&) = delete;
  TGIFItem& operator=(const TGIFItem&) = delete;
  TGIFImage* Image() const { return image_; }
  virtual TGIFVersion Version() const { return gv87a; }
  virtual void SaveToStream(TStream& stream) const = 0;

 protected:
  TGIFImage* image_;
};

// An ordered, owning list of items; written in list order.
template <class T>
class TGIFList {
 public:
  int Count() const { return int(items_.size()); }
  T& operator[](int i) { return *items_[std::size_t(i)]; }
  const T& operator[](int i) const { return *items_[std::size_t(i)]; }
  int Add(std::unique_ptr<T> item) {
    items_.push_back(std::move(item));
    return Count() - 1;
  }
  void Delete(int i) { items_.erase(items_.begin() + i); }
  void Clear() { items_.clear(); }
  void SaveToStream(TStream& stream) const {
    for (const auto& item : items_) item->SaveToStream(stream);
  }
  auto begin() const { return items_.begin(); }
  auto end() const { return items_.end(); }

 private:
  std::vector<std::unique_ptr<T>> items_;
};

class TGIFColorMap {
 public:
  virtual ~TGIFColorMap() = default;
  int Count() const { return int(colors_.size()); }
  int Capacity() const { return 256; }
  bool Sorted() const { return sorted_; }
  void SetSorted(bool sorted) { sorted_ = sorted; }
  // 0 for an empty table, else the least b >= 1 with 2^b >= count.
  int BitsPerPixel() const;
  const gdi::Color& operator[](int i) const { return colors_[std::size_t(i)]; }
  const std::vector<gdi::Color>& Colors() const { return colors_; }
  // Throws "Color table overflow" past 256 entries.
  int Add(gdi::Color c);
  void Clear() {
    colors_.clear();
    sorted_ = false;
  }
  // Copies at most 256 entries in order.
  void ImportPalette(const std::vector<gdi::Color>& palette);
  // count x 3 bytes, then black up to 2^bits entries.
  void SaveToStream(TStream& stream) const;

 private:
  std::vector<gdi::Color> colors_;
  bool sorted_ = false;
};

class TGIFGlobalColorMap : public TGIFColorMap {};
class TGIFLocalColorMap : public TGIFColorMap {};

class TGIFHeader : public TGIFItem {
 public:
  using TGIFItem::TGIFItem;
  int Width() const { return width_; }
  int Height() const { return height_; }
  void SetWidth(int w) { width_ = std::uint16_t(w); }
  void SetHeight(int h) { height_ = std::uint16_t(h); }
  std::uint8_t BackgroundColorIndex() const { return background_; }
  std::uint8_t AspectRatio() const { return aspect_; }
  std::uint8_t Packed() const { return packed_; }
  TGIFGlobalColorMap& ColorMap() { return color_map_; }
  const TGIFGlobalColorMap& ColorMap() const { return color_map_; }
  void Assign(const TGIFHeader& other);
  void Clear();
  // Builds the packed field from the tables of the image, then writes
  // the logical screen descriptor and the global table.
  void SaveToStream(TStream& stream) const override;

 private:
  std::uint16_t width_ = 0, height_ = 0;
  mutable std::uint8_t packed_ = 0;
  std::uint8_t background_ = 0;
  std::uint8_t aspect_ = 0;
  TGIFGlobalColorMap color_map_;
};

class TGIFExtension : public TGIFItem {
 public:
  explicit TGIFExtension(TGIFSubImage* frame);
  TGIFSubImage* Frame() const { return frame_; }
  virtual std::uint8_t Label() const = 0;
  TGIFVersion Version() const override { return gv89a; }
  void SaveToStream(TStream& stream) const override;
  // A copy belonging to another frame.
  virtual std::unique_ptr<TGIFExtension> Clone(TGIFSubImage* frame) const = 0;

 protected:
  virtual void SaveData(TStream& stream) const = 0;
  TGIFSubImage* frame_;
};

class TGIFGraphicControlExtension : public TGIFExtension {
 public:
  // Becomes the frame's graphic control extension if it has none yet.
  explicit TGIFGraphicControlExtension(TGIFSubImage* frame);
  ~TGIFGraphicControlExtension() override;
  std::uint8_t Label() const override { return 0xF9; }
  int Disposal() const { return (packed_ >> 2) & 7; }
  void SetDisposal(int method) { packed_ = std::uint8_t((packed_ & ~0x1C) | ((method & 7) << 2)); }
  bool UserInput() const { return packed_ & 0x02; }
  void SetUserInput(bool on) { packed_ = std::uint8_t(on ? packed_ | 0x02 : packed_ & ~0x02); }
  bool Transparent() const { return packed_ & 0x01; }
  void SetTransparent(bool on);
  int Delay() const { return delay_; }
  void SetDelay(int hundredths) { delay_ = std::uint16_t(hundredths); }
  int TransparentColorIndex() const { return index_; }
  // An index outside the frame's active table warns "Invalid color index" and stores 0.
  void SetTransparentColorIndex(int index);
  std::unique_ptr<TGIFExtension> Clone(TGIFSubImage* frame) const override;

 protected:
  void SaveData(TStream& stream) const override;

 private:
  std::uint8_t packed_ = 0;
  std::uint16_t delay_ = 0;
  std::uint8_t index_ = 0;
};

class TGIFApplicationExtension : public TGIFExtension {
 public:
  TGIFApplicationExtension(TGIFSubImage* frame, const std::string& identifier8, const std::string& authentication3);
  std::uint8_t Label() const override { return 0xFF; }
  std::string Identifier() const { return std::string(identifier_.begin(), identifier_.end()); }
  std::string Authentication() const { return std::string(auth_.begin(), auth_.end()); }

 protected:
  void SaveData(TStream& stream) const override;
  virtual void SaveSubBlocks(TStream& stream) const = 0;
  std::array<char, 8> identifier_{};
  std::array<char, 3> auth_{};
};

class TGIFAppExtNSLoop : public TGIFApplicationExtension {
 public:
  explicit TGIFAppExtNSLoop(TGIFSubImage* frame, int loops = 0, std::uint32_t buffer_size = 0);
  int Loops() const { return loops_; }
  void SetLoops(int loops) { loops_ = std::uint16_t(loops); }
  std::uint32_t BufferSize() const { return buffer_size_; }
  void SetBufferSize(std::uint32_t size) { buffer_size_ = size; }
  std::unique_ptr<TGIFExtension> Clone(TGIFSubImage* frame) const override;

 protected:
  void SaveSubBlocks(TStream& stream) const override;

 private:
  std::uint16_t loops_;
  std::uint32_t buffer_size_;
};

// Any other application: its sub-blocks are written back unchanged.
class TGIFUnknownAppExtension : public TGIFApplicationExtension {
 public:
  using TGIFBlock = std::vector<std::uint8_t>;  // at most 255 bytes each
  TGIFUnknownAppExtension(TGIFSubImage* frame, const std::string& identifier8, const std::string& authentication3);
  std::vector<TGIFBlock>& Blocks() { return blocks_; }
  const std::vector<TGIFBlock>& Blocks() const { return blocks_; }
  std::unique_ptr<TGIFExtension> Clone(TGIFSubImage* frame) const override;

 protected:
  void SaveSubBlocks(TStream& stream) const override;

 private:
  std::vector<TGIFBlock> blocks_;
};

class TGIFTextExtension : public TGIFExtension {
 public:
  using TGIFExtension::TGIFExtension;
  std::uint8_t Label() const override { return 0x01; }
  std::uint16_t grid_left = 0, grid_top = 0, grid_width = 0, grid_height = 0;
  std::uint8_t cell_width = 0, cell_height = 0;
  std::uint8_t foreground_index = 0, background_index = 0;
  std::string text;
  std::unique_ptr<TGIFExtension> Clone(TGIFSubImage* frame) const override;

 protected:
  void SaveData(TStream& stream) const override;
};

class TGIFCommentExtension : public TGIFExtension {
 public:
  using TGIFExtension::TGIFExtension;
  std::uint8_t Label() const override { return 0xFE; }
  std::string text;
  std::unique_ptr<TGIFExtension> Clone(TGIFSubImage* frame) const override;

 protected:
  void SaveData(TStream& stream) const override;
};

class TGIFExtensionList : public TGIFList<TGIFExtension> {};

class TGIFSubImage : public TGIFItem {
 public:
  explicit TGIFSubImage(TGIFImage* image);
  ~TGIFSubImage() override;

  int Left() const { return left_; }
  int Top() const { return top_; }
  int Width() const { return width_; }
  int Height() const { return height_; }
  void SetBounds(int left, int top, int width, int height);
  bool Interlaced() const { return packed_ & 0x40; }
  void SetInterlaced(bool on) { packed_ = std::uint8_t(on ? packed_ | 0x40 : packed_ & ~0x40); }
  // A released frame is not empty: its pixels are only elsewhere.
  bool Empty() const { return (data_.empty() && !released_) || width_ == 0 || height_ == 0; }

  // One byte per pixel, rows top to bottom.
  std::vector<std::uint8_t>& Data() { return data_; }
  const std::vector<std::uint8_t>& Data() const { return data_; }
  std::uint8_t Pixel(int x, int y) const { return data_[std::size_t(y) * width_ + std::size_t(x)]; }
  // Sets size and pixels at once; data must hold width x height bytes.
  void SetData(int width, int height, std::vector<std::uint8_t> data);

  TGIFLocalColorMap& ColorMap() { return color_map_; }
  const TGIFLocalColorMap& ColorMap() const { return color_map_; }
  // The local table, or the global one when the local one is empty.
  const TGIFColorMap& ActiveColorMap() const;
  TGIFExtensionList& Extensions() { return extensions_; }
  const TGIFExtensionList& Extensions() const { return extensions_; }
  TGIFGraphicControlExtension* GraphicControlExtension() const { return gce_; }
  bool Transparent() const { return transparent_; }

  // Makes the frame from a picture (reduced by the image's settings when it
  // has more than 8 bits per pixel). On failure the frame is left cleared.
  void ImportBitmap(const gdi::Bitmap& picture);
  // Shrinks a transparent frame to the rectangle of its opaque pixels.
  void CropToOpaque();
  // The frame as an 8-bit picture with its palette (indices unchanged).
  gdi::Bitmap Bitmap() const;
  void Clear();
  // Copies everything of another frame, extensions included.
  void Assign(const TGIFSubImage& other);

  TGIFVersion Version() const override;
  void SaveToStream(TStream& stream) const override;
  // The part of SaveToStream after the extensions: image descriptor, local
  // colour table and image data (nothing for an empty frame).
  void SaveImageToStream(TStream& stream) const;

  // A build holding hundreds of frames whose image bytes are kept
  // elsewhere frees their pixels: Data() is then empty, the frame keeps
  // its size, table and extensions, until RestoreData decodes the pixels
  // again from those bytes (what SaveImageToStream wrote for it). Only a
  // frame that is not interlaced and has pixels is released.
  void ReleaseData();
  bool Released() const { return released_; }
  // Const because the pixels are the frame's all along: the one reader
  // that restores them does so before reading. Throws GIFException when
  // the bytes are not an image of this frame's size.
  void RestoreData(std::span<const std::uint8_t> image) const;

 private:
  friend class TGIFGraphicControlExtension;
  std::uint16_t left_ = 0, top_ = 0, width_ = 0, height_ = 0;
  std::uint8_t packed_ = 0;
  TGIFLocalColorMap color_map_;
  TGIFExtensionList extensions_;
  // Mutable for RestoreData.
  mutable std::vector<std::uint8_t> data_;
  mutable bool released_ = false;
  bool transparent_ = false;
  TGIFGraphicControlExtension* gce_ = nullptr;
};

class TGIFImageList : public TGIFList<TGIFSubImage> {};

class TGIFTrailer : public TGIFItem {
 public:
  using TGIFItem::TGIFItem;
  void SaveToStream(TStream& stream) const override { stream.push_back(0x3B); }
};

class TGIFImage {
 public:
  TGIFImage();
  ~TGIFImage();
  TGIFImage(const TGIFImage&) = delete;
  TGIFImage& operator=(const TGIFImage&) = delete;

  TGIFHeader& Header() { return header_; }
  const TGIFHeader& Header() const { return header_; }
  TGIFImageList& Images() { return images_; }
  const TGIFImageList& Images() const { return images_; }
  bool Empty() const { return images_.Count() == 0; }
  int Width() const { return header_.Width(); }
  int Height() const { return header_.Height(); }

  std::uint16_t DrawFlags = kDefaultDrawFlags;
  TColorReduction ReductionMethod = rdNetscape;
  int PaletteBits = 8;
  TDitherMethod DitherMethod = dtNearest;
  TGIFEncoding Encoding = ecLZW;
  int AnimationSpeed = 100;
  bool HasDrawBackgroundColor = false;
  gdi::Color DrawBackgroundColor{};
  TGIFProgressEvent OnProgress;
  TGIFWarningEvent OnWarning;

  // Appends a frame; returns its index. A null frame is refused with
  // "Object type not supported for operation".
  int AddFrame(std::unique_ptr<TGIFSubImage> frame);
  // A picture becomes a new frame; on failure the image stays as it was.
  int AddFrame(const gdi::Bitmap& picture);
  // Another image arrives as its rendered 8-bit picture.
  int AddFrame(const TGIFImage& image);

  // Copies header, settings, callbacks and every frame.
  void Assign(const TGIFImage& other);
  // Clears the image and makes the picture its only frame.
  void Assign(const gdi::Bitmap& picture);
  void Clear();

  // The first frame over the logical screen, 8 bits per pixel.
  gdi::Bitmap Bitmap() const;

  // The version the file will carry: 0 without frames.
  TGIFVersion Version() const;
  // Writes the whole file; "Unsupported GIF version" without frames.
  void SaveToStream(TStream& stream) const;
  // Writes beside the target and renames, so no partial file is left.
  void SaveToFile(const std::filesystem::path& path) const;

  // Grows the logical screen to hold a frame, with the warnings.
  void FitScreen(const TGIFSubImage& frame);
  void Warning(TGIFSeverity severity, const std::string& text) const;
  void Progress(TGIFProgressStage stage, int percent, const std::string& text) const;

 private:
  TGIFHeader header_;
  TGIFImageList images_;
};

// Writes a finished file beside the target and renames it, as SaveToFile does.
void SaveStreamToFile(const TStream& bytes, const std::filesystem::path& path);

}  // namespace quarvel::gif
