#pragma once
// Video for Windows, as far as Quarvel uses it: the AVIFile calls, the
// installable-compressor manager and mmioStringToFOURCC, on FFmpeg.
// Names, arguments, results and error codes follow the platform's, so the
// AVI writer reads like its Windows original; the C types are C++ here.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace quarvel::vfw {

using DWORD = std::uint32_t;
using LONG = std::int32_t;
using WORD = std::uint16_t;
using BYTE = std::uint8_t;
using UINT = unsigned int;
using ULONG = std::uint32_t;
using HRESULT = std::int32_t;
using LRESULT = std::intptr_t;
using DWORD_PTR = std::uintptr_t;
using FOURCC = std::uint32_t;
using HWND = void*;

constexpr FOURCC mmioFOURCC(char a, char b, char c, char d) {
  return FOURCC(BYTE(a)) | (FOURCC(BYTE(b)) << 8) | (FOURCC(BYTE(c)) << 16) | (FOURCC(BYTE(d)) << 24);
}
// Copies at most four characters, padding with blanks; MMIO_TOUPPER upper-cases them.
constexpr UINT MMIO_TOUPPER = 0x0010;
FOURCC mmioStringToFOURCC(std::string_view sz, UINT flags);
// The four characters of a code, lowest byte first.
std::string FourCCToString(FOURCC code);

constexpr FOURCC streamtypeVIDEO = mmioFOURCC('v', 'i', 'd', 's');
constexpr FOURCC streamtypeAUDIO = mmioFOURCC('a', 'u', 'd', 's');
constexpr FOURCC ICTYPE_VIDEO = mmioFOURCC('v', 'i', 'd', 'c');

// ---- Results ------------------------------------------------------------
constexpr HRESULT MakeAviErr(int e) { return HRESULT(0x80040000u | std::uint32_t(0x4000 + e)); }
constexpr HRESULT AVIERR_OK = 0;
constexpr HRESULT AVIERR_UNSUPPORTED = MakeAviErr(101);
constexpr HRESULT AVIERR_BADFORMAT = MakeAviErr(102);
constexpr HRESULT AVIERR_MEMORY = MakeAviErr(103);
constexpr HRESULT AVIERR_INTERNAL = MakeAviErr(104);
constexpr HRESULT AVIERR_BADFLAGS = MakeAviErr(105);
constexpr HRESULT AVIERR_BADPARAM = MakeAviErr(106);
constexpr HRESULT AVIERR_BADSIZE = MakeAviErr(107);
constexpr HRESULT AVIERR_BADHANDLE = MakeAviErr(108);
constexpr HRESULT AVIERR_FILEREAD = MakeAviErr(109);
constexpr HRESULT AVIERR_FILEWRITE = MakeAviErr(110);
constexpr HRESULT AVIERR_FILEOPEN = MakeAviErr(111);
constexpr HRESULT AVIERR_COMPRESSOR = MakeAviErr(112);
constexpr HRESULT AVIERR_NOCOMPRESSOR = MakeAviErr(113);
constexpr HRESULT AVIERR_READONLY = MakeAviErr(114);
constexpr HRESULT AVIERR_NODATA = MakeAviErr(115);
constexpr HRESULT AVIERR_BUFFERTOOSMALL = MakeAviErr(116);
constexpr HRESULT AVIERR_CANTCOMPRESS = MakeAviErr(117);
constexpr HRESULT AVIERR_USERABORT = MakeAviErr(198);
constexpr HRESULT AVIERR_ERROR = MakeAviErr(199);
constexpr HRESULT REGDB_E_CLASSNOTREG = HRESULT(0x80040154u);

// ---- Formats ------------------------------------------------------------
constexpr DWORD BI_RGB = 0;

#pragma pack(push, 1)
struct BITMAPINFOHEADER {
  DWORD biSize = 0;
  LONG biWidth = 0;
  LONG biHeight = 0;
  WORD biPlanes = 0;
  WORD biBitCount = 0;
  DWORD biCompression = 0;
  DWORD biSizeImage = 0;
  LONG biXPelsPerMeter = 0;
  LONG biYPelsPerMeter = 0;
  DWORD biClrUsed = 0;
  DWORD biClrImportant = 0;
};
static_assert(sizeof(BITMAPINFOHEADER) == 40);

struct RGBQUAD {
  BYTE rgbBlue = 0, rgbGreen = 0, rgbRed = 0, rgbReserved = 0;
};

struct WAVEFORMATEX {
  WORD wFormatTag = 0;
  WORD nChannels = 0;
  DWORD nSamplesPerSec = 0;
  DWORD nAvgBytesPerSec = 0;
  WORD nBlockAlign = 0;
  WORD wBitsPerSample = 0;
  WORD cbSize = 0;
};
static_assert(sizeof(WAVEFORMATEX) == 18);
#pragma pack(pop)

struct RECT {
  LONG left = 0, top = 0, right = 0, bottom = 0;
};

// ---- AVIFile ------------------------------------------------------------
constexpr UINT OF_READ = 0x0000;
constexpr UINT OF_WRITE = 0x0001;
constexpr UINT OF_CREATE = 0x1000;
// Ours: with OF_CREATE, a scratch file for AVISaveV whose samples are held
// in memory (SetScratchMemoryBudget) or stored deflated. Only AVIStreamRead
// reads it back; other readers see no pictures.
constexpr UINT OF_PACKED = 0x00100000;
constexpr DWORD AVIIF_KEYFRAME = 0x10;

struct AVISTREAMINFO {
  DWORD fccType = 0;
  DWORD fccHandler = 0;
  DWORD dwFlags = 0;
  DWORD dwCaps = 0;
  WORD wPriority = 0;
  WORD wLanguage = 0;
  DWORD dwScale = 0;
  DWORD dwRate = 0;
  DWORD dwStart = 0;
  DWORD dwLength = 0;
  DWORD dwInitialFrames = 0;
  DWORD dwSuggestedBufferSize = 0;
  DWORD dwQuality = 0;
  DWORD dwSampleSize = 0;
  RECT rcFrame;
  DWORD dwEditCount = 0;
  DWORD dwFormatChangeCount = 0;
  char szName[64] = {};
};

constexpr DWORD AVICOMPRESSF_INTERLEAVE = 0x01;
constexpr DWORD AVICOMPRESSF_DATARATE = 0x02;
constexpr DWORD AVICOMPRESSF_KEYFRAMES = 0x04;
constexpr DWORD AVICOMPRESSF_VALID = 0x08;

struct AVICOMPRESSOPTIONS {
  DWORD fccType = 0;
  DWORD fccHandler = 0;
  DWORD dwKeyFrameEvery = 0;
  DWORD dwQuality = 0;
  DWORD dwBytesPerSecond = 0;
  DWORD dwFlags = 0;
  void* lpFormat = nullptr;
  DWORD cbFormat = 0;
  void* lpParms = nullptr;
  DWORD cbParms = 0;
  DWORD dwInterleaveEvery = 0;
};

// Handles; their reference counts follow the platform's.
struct IAVIFile;
struct IAVIStream;
using PAVIFILE = IAVIFile*;
using PAVISTREAM = IAVIStream*;
struct CLSID;  // only "default handler" (nullptr) is known

void AVIFileInit();
void AVIFileExit();

// OF_WRITE | OF_CREATE makes a new uncompressed AVI file (OF_PACKED: a
// scratch file, see above); OF_READ opens a
// WAVE file (the handler is chosen by the ".wav" extension, as the
// platform chooses by registry).
HRESULT AVIFileOpen(PAVIFILE* ppfile, const std::filesystem::path& szFile, UINT uMode, const CLSID* pclsidHandler);
// Bytes of samples a scratch file (OF_PACKED) holds in memory, raw, instead
// of deflating them into the file: read back once by the save pass, they
// cost a copy instead of a deflate and an inflate. Past it, samples go to
// the file packed. Counted over all scratch files open at once; 192 MiB.
void SetScratchMemoryBudget(std::size_t bytes);
ULONG AVIFileAddRef(PAVIFILE pfile);
ULONG AVIFileRelease(PAVIFILE pfile);
HRESULT AVIFileCreateStream(PAVIFILE pfile, PAVISTREAM* ppavi, const AVISTREAMINFO* psi);
HRESULT AVIFileGetStream(PAVIFILE pfile, PAVISTREAM* ppavi, DWORD fccType, LONG lParam);

ULONG AVIStreamAddRef(PAVISTREAM pavi);
ULONG AVIStreamRelease(PAVISTREAM pavi);
HRESULT AVIStreamInfo(PAVISTREAM pavi, AVISTREAMINFO* psi, LONG lSize);
HRESULT AVIStreamSetFormat(PAVISTREAM pavi, LONG lPos, const void* lpFormat, LONG cbFormat);
// lpFormat null: *lpcbFormat receives the size.
HRESULT AVIStreamReadFormat(PAVISTREAM pavi, LONG lPos, void* lpFormat, LONG* lpcbFormat);
// start -1 appends.
HRESULT AVIStreamWrite(PAVISTREAM pavi, LONG lStart, LONG lSamples, const void* lpBuffer, LONG cbBuffer, DWORD dwFlags,
                       LONG* plSampWritten, LONG* plBytesWritten);
// lpBuffer null: only the sizes are returned.
HRESULT AVIStreamRead(PAVISTREAM pavi, LONG lStart, LONG lSamples, void* lpBuffer, LONG cbBuffer, LONG* plBytes,
                      LONG* plSamples);
LONG AVIStreamStart(PAVISTREAM pavi);
LONG AVIStreamLength(PAVISTREAM pavi);
// An editable copy that keeps what it needs of its source alive.
HRESULT CreateEditableStream(PAVISTREAM* ppsEditable, PAVISTREAM psSource);

using AVISAVECALLBACK = LONG (*)(int nPercent);
// Writes szFile in one pass: each stream with options naming a compressor
// is compressed by it; every other stream is copied as it is.
HRESULT AVISaveV(const std::filesystem::path& szFile, const CLSID* pclsidHandler, AVISAVECALLBACK lpfnCallback,
                 int nStreams, PAVISTREAM* ppavi, AVICOMPRESSOPTIONS** plpOptions);

// ---- Installable compressors ----------------------------------------------
constexpr UINT ICMODE_COMPRESS = 1;
constexpr UINT ICMODE_DECOMPRESS = 2;
constexpr UINT ICMODE_FASTDECOMPRESS = 3;
constexpr UINT ICMODE_QUERY = 4;

constexpr UINT ICM_USER = 0x4000;
constexpr UINT ICM_RESERVED = 0x5000;
constexpr UINT ICM_CONFIGURE = ICM_RESERVED + 10;
constexpr UINT ICM_COMPRESS_GET_FORMAT = ICM_USER + 4;
constexpr UINT ICM_COMPRESS_QUERY = ICM_USER + 6;
constexpr DWORD_PTR ICMF_CONFIGURE_QUERY = 1;

constexpr LRESULT ICERR_OK = 0;
constexpr LRESULT ICERR_UNSUPPORTED = -1;
constexpr LRESULT ICERR_BADFORMAT = -2;
constexpr LRESULT ICERR_MEMORY = -3;
constexpr LRESULT ICERR_INTERNAL = -4;
constexpr LRESULT ICERR_BADFLAGS = -5;
constexpr LRESULT ICERR_BADPARAM = -6;
constexpr LRESULT ICERR_BADSIZE = -7;
constexpr LRESULT ICERR_BADHANDLE = -8;
constexpr LRESULT ICERR_ERROR = -100;
constexpr LRESULT ICERR_BADBITDEPTH = -200;
constexpr LRESULT ICERR_BADIMAGESIZE = -201;

struct ICINFO {
  DWORD dwSize = 0;
  DWORD fccType = 0;
  DWORD fccHandler = 0;
  DWORD dwFlags = 0;
  DWORD dwVersion = 0;
  DWORD dwVersionICM = 0;
  char16_t szName[16] = {};
  char16_t szDescription[128] = {};
  char16_t szDriver[128] = {};
};
static_assert(sizeof(ICINFO) == 568);

struct IcInstance;
using HIC = IcInstance*;

// fccType 0 or "vidc"; false past the last installed compressor.
bool ICInfo(DWORD fccType, DWORD fccHandler, ICINFO* lpicinfo);
HIC ICOpen(DWORD fccType, DWORD fccHandler, UINT wMode);
// The first compressor of that code (any, with code 0) that accepts lpbiIn.
HIC ICLocate(DWORD fccType, DWORD fccHandler, const BITMAPINFOHEADER* lpbiIn, const BITMAPINFOHEADER* lpbiOut,
             WORD wFlags);
LRESULT ICSendMessage(HIC hic, UINT msg, DWORD_PTR dw1, DWORD_PTR dw2);
LRESULT ICGetInfo(HIC hic, ICINFO* picinfo, DWORD cb);
LRESULT ICClose(HIC hic);

inline LRESULT ICCompressQuery(HIC hic, const BITMAPINFOHEADER* in, const BITMAPINFOHEADER* out) {
  return ICSendMessage(hic, ICM_COMPRESS_QUERY, reinterpret_cast<DWORD_PTR>(in), reinterpret_cast<DWORD_PTR>(out));
}

}  // namespace quarvel::vfw
