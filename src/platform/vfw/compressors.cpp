#include "platform/vfw/compressors.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <map>
#include <mutex>

#include "platform/vfw/ffmpeg_p.h"

namespace quarvel::vfw {

FOURCC mmioStringToFOURCC(std::string_view sz, UINT flags) {
  char c[4] = {' ', ' ', ' ', ' '};
  for (std::size_t i = 0; i < 4 && i < sz.size() && sz[i] != '\0'; ++i)
    c[i] = (flags & MMIO_TOUPPER) ? char(std::toupper(static_cast<unsigned char>(sz[i]))) : sz[i];
  return mmioFOURCC(c[0], c[1], c[2], c[3]);
}

std::string FourCCToString(FOURCC code) {
  std::string s(4, ' ');
  for (int i = 0; i < 4; ++i) s[std::size_t(i)] = char((code >> (8 * i)) & 0xFF);
  return s;
}

namespace {

FOURCC UpperCode(FOURCC code) {
  FOURCC out = 0;
  for (int i = 0; i < 4; ++i) {
    auto c = static_cast<unsigned char>((code >> (8 * i)) & 0xFF);
    out |= FOURCC(std::toupper(c)) << (8 * i);
  }
  return out;
}

struct Known {
  const char* code;
  const char* name;
  const char* description;
  std::vector<const char*> encoders;  // first one present wins
  bool lossless;
  bool settings;
};

const std::vector<Known>& KnownCompressors() {
  static const std::vector<Known> known = {
      {"DIVX", "MPEG-4 Part 2", "MPEG-4 Part 2 video (DIVX)", {"mpeg4"}, false, true},
      {"XVID", "MPEG-4 ASP", "MPEG-4 Part 2 video (XVID)", {"libxvid", "mpeg4"}, false, true},
      {"MP42", "MS MPEG-4 V2", "Microsoft MPEG-4 version 2", {"msmpeg4v2"}, false, true},
      {"DIV3", "MS MPEG-4 V3", "Microsoft MPEG-4 version 3", {"msmpeg4"}, false, true},
      {"WMV1", "WMV 7", "Windows Media Video 7", {"wmv1"}, false, true},
      {"WMV2", "WMV 8", "Windows Media Video 8", {"wmv2"}, false, true},
      {"MJPG", "Motion JPEG", "Motion JPEG", {"mjpeg"}, false, true},
      {"MSVC", "Video 1", "Microsoft Video 1", {"msvideo1"}, false, false},
      {"cvid", "Cinepak", "Cinepak", {"cinepak"}, false, false},
      {"FFV1", "FFV1", "FFV1 lossless video", {"ffv1"}, true, true},
      {"HFYU", "Huffyuv", "Huffyuv lossless video", {"huffyuv"}, true, false},
      {"ZMBV", "Zip Motion Blocks", "Zip Motion Blocks Video (lossless)", {"zmbv"}, true, true},
      {"H264", "H.264", "H.264 / AVC", {"libx264"}, false, true},
  };
  return known;
}

CompressorTable& Installed() {
  static CompressorTable table = CompressorTable::Detect();
  return table;
}

ConfigureDialog& Dialog() {
  static ConfigureDialog dialog;
  return dialog;
}

// Answers of the encoders per frame format: opening some of them costs time.
struct QueryKey {
  std::string encoder;
  LONG width, height;
  WORD bits;
  auto operator<=>(const QueryKey&) const = default;
};

LRESULT CachedQuery(const Compressor& c, const BITMAPINFOHEADER& in) {
  if (c.query) return c.query(in);
  if (c.encoder.empty()) return ICERR_UNSUPPORTED;
  static std::mutex mutex;
  static std::map<QueryKey, LRESULT> answers;
  QueryKey key{c.encoder, in.biWidth, in.biHeight, in.biBitCount};
  bool plain = in.biSize >= 40 && in.biPlanes == 1 && in.biCompression == BI_RGB;
  if (!plain) return ICERR_BADFORMAT;
  {
    std::lock_guard lock(mutex);
    if (auto it = answers.find(key); it != answers.end()) return it->second;
  }
  LRESULT answer = QueryEncoder(c, in);
  std::lock_guard lock(mutex);
  answers[key] = answer;
  return answer;
}

}  // namespace

CompressorTable::CompressorTable(std::vector<Compressor> entries) {
  for (auto& e : entries) entries_.push_back(std::make_shared<Compressor>(std::move(e)));
}

CompressorTable CompressorTable::Detect() {
  std::vector<Compressor> found;
  for (const Known& k : KnownCompressors()) {
    for (const char* enc : k.encoders) {
      if (!ffmpeg::Av().avcodec_find_encoder_by_name(enc)) continue;
      Compressor c;
      c.code = mmioStringToFOURCC(k.code, 0);
      c.name = k.name;
      c.description = k.description;
      c.encoder = enc;
      c.lossless = k.lossless;
      c.has_settings = k.settings;
      found.push_back(std::move(c));
      break;
    }
  }
  return CompressorTable(std::move(found));
}

std::shared_ptr<Compressor> CompressorTable::Find(FOURCC code) const {
  for (const auto& e : entries_)
    if (UpperCode(e->code) == UpperCode(code)) return e;
  return nullptr;
}

CompressorTable& InstalledCompressors() { return Installed(); }

ScopedCompressorTable::ScopedCompressorTable(CompressorTable table) : previous_(Installed()) {
  Installed() = std::move(table);
}

ScopedCompressorTable::~ScopedCompressorTable() { Installed() = std::move(previous_); }

void SetConfigureDialog(ConfigureDialog dialog) { Dialog() = std::move(dialog); }

// ---- The compressor manager ----------------------------------------------

struct IcInstance {
  std::shared_ptr<Compressor> compressor;
  UINT mode = 0;
};

namespace {

bool VideoType(DWORD fccType) { return fccType == 0 || UpperCode(fccType) == UpperCode(ICTYPE_VIDEO); }

void CopyName(char16_t* out, std::size_t capacity, const std::string& text) {
  std::size_t n = std::min(text.size(), capacity - 1);
  for (std::size_t i = 0; i < n; ++i) out[i] = char16_t(static_cast<unsigned char>(text[i]));
  out[n] = u'\0';
}

void FillInfo(const Compressor& c, ICINFO* info) {
  info->dwSize = sizeof(ICINFO);
  info->fccType = ICTYPE_VIDEO;
  info->fccHandler = c.code;
  info->dwFlags = 0;
  info->dwVersion = 1;
  info->dwVersionICM = 0x0104;
  CopyName(info->szName, 16, c.name);
  CopyName(info->szDescription, 128, c.description);
  CopyName(info->szDriver, 128, c.encoder);
}

}  // namespace

bool ICInfo(DWORD fccType, DWORD fccHandler, ICINFO* lpicinfo) {
  if (!lpicinfo || !VideoType(fccType)) return false;
  const CompressorTable& table = Installed();
  // Below 256 the handler is an index, as the platform enumerates drivers.
  if (fccHandler < 256) {
    if (fccHandler >= table.Size()) return false;
    FillInfo(table.At(fccHandler), lpicinfo);
    return true;
  }
  auto c = table.Find(fccHandler);
  if (!c) return false;
  FillInfo(*c, lpicinfo);
  return true;
}

HIC ICOpen(DWORD fccType, DWORD fccHandler, UINT wMode) {
  if (!VideoType(fccType)) return nullptr;
  if (wMode != ICMODE_COMPRESS && wMode != ICMODE_QUERY) return nullptr;  // no decompression here
  auto c = Installed().Find(fccHandler);
  if (!c) return nullptr;
  return new IcInstance{std::move(c), wMode};
}

HIC ICLocate(DWORD fccType, DWORD fccHandler, const BITMAPINFOHEADER* lpbiIn, const BITMAPINFOHEADER* lpbiOut,
             WORD wFlags) {
  if (!VideoType(fccType) || !lpbiIn) return nullptr;
  (void)lpbiOut;  // any output format the encoder makes is fine
  UINT mode = wFlags == 0 ? ICMODE_COMPRESS : wFlags;
  const CompressorTable& table = Installed();
  for (std::size_t i = 0; i < table.Size(); ++i) {
    const Compressor& c = table.At(i);
    if (fccHandler != 0 && UpperCode(c.code) != UpperCode(fccHandler)) continue;
    if (CachedQuery(c, *lpbiIn) == ICERR_OK) return new IcInstance{table.Entry(i), mode};
  }
  return nullptr;
}

LRESULT ICSendMessage(HIC hic, UINT msg, DWORD_PTR dw1, DWORD_PTR dw2) {
  if (!hic) return ICERR_BADHANDLE;
  Compressor& c = *hic->compressor;
  switch (msg) {
    case ICM_COMPRESS_QUERY: {
      const auto* in = reinterpret_cast<const BITMAPINFOHEADER*>(dw1);
      if (!in) return ICERR_BADPARAM;
      return CachedQuery(c, *in);
    }
    case ICM_CONFIGURE: {
      if (!c.has_settings || !Dialog()) return ICERR_UNSUPPORTED;
      if (dw2 == ICMF_CONFIGURE_QUERY) return ICERR_OK;
      CompressorSettings edited = c.settings;
      if (Dialog()(reinterpret_cast<HWND>(dw1), c, edited)) c.settings = edited;
      return ICERR_OK;
    }
    default: return ICERR_UNSUPPORTED;
  }
}

LRESULT ICGetInfo(HIC hic, ICINFO* picinfo, DWORD cb) {
  if (!hic || !picinfo || cb < sizeof(ICINFO)) return 0;
  FillInfo(*hic->compressor, picinfo);
  return LRESULT(sizeof(ICINFO));
}

LRESULT ICClose(HIC hic) {
  delete hic;
  return ICERR_OK;
}

}  // namespace quarvel::vfw
