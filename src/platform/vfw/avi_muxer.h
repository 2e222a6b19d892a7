#pragma once
// The AVI file AVISaveV writes, laid out chunk for chunk as FFmpeg's AVI
// muxer lays it out (so that files stay the same whichever writes them),
// without loading libavformat and the hundred libraries it pulls in: an AVI
// 1.0 file with its idx1 index and room kept for the OpenDML indexes, which
// past 1 GiB becomes an OpenDML file of AVIX parts. Packets are interleaved
// by time as that muxer does: held until every stream has one waiting, or
// until the waiting ones span more than ten seconds.

#include <cstdint>
#include <filesystem>
#include <list>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "platform/vfw/vfw.h"

namespace quarvel::vfw {

struct AviRational {
  std::int64_t num = 0, den = 1;
};

struct AviVideoDesc {
  int width = 0, height = 0;
  int bits = 24;               // bits per pixel of the stored pictures; 0 counts as 24
  FOURCC codec = 0;            // 0: uncompressed DIB rows, bottom-up
  bool palette = false;        // pictures of colour indexes (up to 8 bits): a colour table follows
  std::vector<std::uint8_t> extradata;  // the encoder's, after the BITMAPINFOHEADER
};

// The WAVE format chunk the stream carries, as it goes into "strf".
struct AviAudioDesc {
  WORD tag = 1;
  WORD channels = 2;
  DWORD sample_rate = 44100;
  DWORD bytes_per_second = 0;          // as written
  DWORD average_bytes_per_second = 0;  // as the source stated it (the stream's bit rate)
  WORD block_align = 4;
  WORD bits = 16;                      // 0 for codecs without a sample size
  std::vector<std::uint8_t> extra;     // after cbSize
  bool force_cb_size = false;          // cbSize even when `extra` is empty (every tag but PCM's)
  bool extensible = false;             // WAVE_FORMAT_EXTENSIBLE, with this channel mask
  std::uint32_t channel_mask = 0;
  int samples_per_block = 1;           // the time of one block
};

struct AviStreamDesc {
  bool video = true;
  AviVideoDesc picture;
  AviAudioDesc sound;
  AviRational time_base{1, 25};  // of the packet times handed to Write
  std::int64_t bit_rate = 0;     // bits per second, for the header's estimate
  bool intra_only = false;       // a codec of key frames only: every packet is one
};

class AviMuxer {
 public:
  AviMuxer();
  ~AviMuxer();
  AviMuxer(const AviMuxer&) = delete;
  AviMuxer& operator=(const AviMuxer&) = delete;

  // Creates the file and writes its headers; AVIERR_FILEOPEN, AVIERR_FILEWRITE, AVIERR_BADFORMAT.
  HRESULT Open(const std::filesystem::path& file, std::vector<AviStreamDesc> streams);
  // One packet of stream `index` at `dts` (in the stream's time base);
  // `palette` (256 colours 0x00RRGGBB) when the stream's colours are set or change.
  HRESULT Write(int index, std::span<const std::uint8_t> data, std::int64_t dts, std::int64_t duration, bool key,
                const std::uint32_t* palette = nullptr);
  // The packets still held, the indexes and the counts; closes the file.
  HRESULT Finish();

 private:
  struct Stream;
  struct Held;
  class Output;

  HRESULT WriteHeader();
  HRESULT Interleave(bool flush);
  HRESULT Emit(Held& packet);
  HRESULT FillTo(int index, std::int64_t dts);
  HRESULT WritePacket(int index, std::span<const std::uint8_t> data, DWORD flags);
  HRESULT WriteChunk(int index, const char* tag, std::span<const std::uint8_t> data, DWORD flags, bool index_it);
  void WriteMasterIndexSpace(int index);
  void UpdateMasterEntry(int index, std::uint64_t offset, std::uint32_t size);
  void WriteLeafIndexes();
  void WriteIdx1();
  void WriteCounters();
  void StartRiff(const char* riff, const char* list);

  std::unique_ptr<Output> out_;
  std::vector<Stream> streams_;
  std::list<Held> held_;
  std::uint64_t riff_start_ = 0, movi_list_ = 0, odml_list_ = 0, frames_hdr_all_ = 0;
  int riff_id_ = 0;
  int master_index_size_ = 256;
};

}  // namespace quarvel::vfw
