// flash.utils.ByteArray: numbers in either byte order, text in UTF-8 and the
// other character sets (iconv), zlib and raw deflate compression, and values
// written and read as AMF0 or AMF3 (writeObject/readObject), with the class
// aliases of registerClassAlias.
#include <iconv.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <limits>
#include <unordered_map>

#include "player/avm2/builtins_util.h"
#include "player/text/text_encoding.h"
#include "player/avm2/utf16.h"

namespace quarvel::avm2 {
namespace {

constexpr std::size_t kMaxBytes = std::size_t{1} << 28;

Object* AllocByteArray(Machine& m, Class* cls);

ByteArrayObject* SelfBytes(Machine& m, const Value& v) {
  Object* o = v.AsObject();
  if (!o || o->kind != ObjectKind::kByteArray) m.ThrowError("TypeError", "Not a ByteArray.", 1034);
  return static_cast<ByteArrayObject*>(o);
}
[[noreturn]] void NullParam(Machine& m, const char* name) {
  m.ThrowError("TypeError", std::string("Parameter ") + name + " must be non-null.", 2007);
}
// A String parameter that may not be null (undefined becomes null too).
std::string NonNullText(Machine& m, std::span<Value> a, std::size_t i, const char* name) {
  if (i >= a.size() || a[i].IsNullish()) NullParam(m, name);
  return m.ToString(a[i]);
}

void Put(Machine& m, ByteArrayObject* b, const std::uint8_t* p, std::size_t n, bool swap) {
  if (b->position + n > kMaxBytes) m.ThrowError("flash.errors::MemoryError", "The system is out of memory.", 1000);
  if (b->bytes.size() < b->position + n) {
    m.Charge(b->position + n - b->bytes.size());
    b->bytes.resize(b->position + n);
  }
  for (std::size_t i = 0; i < n; ++i) b->bytes[b->position + i] = p[swap ? n - 1 - i : i];
  b->position += static_cast<std::uint32_t>(n);
}
void PutText(Machine& m, ByteArrayObject* b, const std::string& s) {
  Put(m, b, reinterpret_cast<const std::uint8_t*>(s.data()), s.size(), false);
}
[[noreturn]] void Eof(Machine& m) { m.ThrowError("flash.errors::EOFError", "End of file was encountered.", 2030); }
void Get(Machine& m, ByteArrayObject* b, std::uint8_t* p, std::size_t n, bool swap) {
  if (b->position > b->bytes.size() || n > b->bytes.size() - b->position) Eof(m);
  for (std::size_t i = 0; i < n; ++i) p[swap ? n - 1 - i : i] = b->bytes[b->position + i];
  b->position += static_cast<std::uint32_t>(n);
}
// Values are stored in the array's byte order (big-endian unless set).
template <typename T>
void PutNum(Machine& m, ByteArrayObject* b, T v, bool bigEndian) {
  std::uint8_t raw[sizeof(T)];
  std::memcpy(raw, &v, sizeof(T));
  Put(m, b, raw, sizeof(T), bigEndian);
}
template <typename T>
void PutNum(Machine& m, ByteArrayObject* b, T v) {
  PutNum(m, b, v, !b->littleEndian);
}
template <typename T>
T GetNum(Machine& m, ByteArrayObject* b, bool bigEndian) {
  std::uint8_t raw[sizeof(T)];
  Get(m, b, raw, sizeof(T), bigEndian);
  T v;
  std::memcpy(&v, raw, sizeof(T));
  return v;
}
template <typename T>
T GetNum(Machine& m, ByteArrayObject* b) {
  return GetNum<T>(m, b, !b->littleEndian);
}

// The next n bytes as they are, the position moved past them.
std::string TakeBytes(Machine& m, ByteArrayObject* b, std::size_t n) {
  if (b->position > b->bytes.size() || n > b->bytes.size() - b->position) Eof(m);
  std::string s(reinterpret_cast<const char*>(b->bytes.data() + b->position), n);
  b->position += static_cast<std::uint32_t>(n);
  return s;
}

// ---- text

// Bytes as Flash reads them for a string: UTF-8 where it is valid, any other
// byte as the Latin-1 character of its value; a leading UTF-8 byte order mark
// is dropped, and with stopAtNul the text ends at the first NUL.
std::string DecodeUtf8(const std::uint8_t* p, std::size_t n, bool stopAtNul) {
  std::size_t i = 0;
  if (n >= 3 && p[0] == 0xEF && p[1] == 0xBB && p[2] == 0xBF) i = 3;
  std::string out;
  out.reserve(n);
  while (i < n) {
    const std::uint8_t c = p[i];
    if (c == 0 && stopAtNul) break;
    if (c < 0x80) {
      out += static_cast<char>(c);
      ++i;
      continue;
    }
    // Flash takes any lead byte from F0 up as a four-byte sequence, using
    // its low three bits: F9 80 80 80 is U+40000.
    const std::size_t len = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 && c < 0xE0 ? 2 : 0;
    bool ok = len > 0 && i + len <= n;
    for (std::size_t k = 1; ok && k < len; ++k) ok = (p[i + k] & 0xC0) == 0x80;
    std::uint32_t cp = 0;
    if (ok && len == 4) {
      cp = (std::uint32_t{c} & 7) << 18 | (std::uint32_t{p[i + 1]} & 0x3F) << 12 | (std::uint32_t{p[i + 2]} & 0x3F) << 6 |
           (std::uint32_t{p[i + 3]} & 0x3F);
      ok = cp >= 0x10000 && cp <= 0x10FFFF;
    }
    // A surrogate pair written as two three-byte forms is one character.
    if (ok && len == 3 && c == 0xED && (p[i + 1] & 0xF0) == 0xA0 && i + 6 <= n && p[i + 3] == 0xED &&
        (p[i + 4] & 0xF0) == 0xB0 && (p[i + 5] & 0xC0) == 0x80) {
      const std::uint32_t hi = 0xD000u | (std::uint32_t{p[i + 1]} & 0x3F) << 6 | (p[i + 2] & 0x3F);
      const std::uint32_t lo = 0xD000u | (std::uint32_t{p[i + 4]} & 0x3F) << 6 | (p[i + 5] & 0x3F);
      encoding::AppendUtf8(out, 0x10000 + ((hi - 0xD800) << 10) + (lo - 0xDC00));
      i += 6;
    } else if (ok && len == 4) {
      encoding::AppendUtf8(out, cp);
      i += len;
    } else if (ok) {
      out.append(reinterpret_cast<const char*>(p + i), len);
      i += len;
    } else {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
      ++i;
    }
  }
  return out;
}
std::string DecodeUtf16(const std::uint8_t* p, std::size_t n, bool bigEndian, bool stopAtNul) {
  std::u16string u;
  for (std::size_t i = 0; i + 1 < n; i += 2) {
    const char16_t c = bigEndian ? static_cast<char16_t>(p[i] << 8 | p[i + 1]) : static_cast<char16_t>(p[i + 1] << 8 | p[i]);
    if (c == 0 && stopAtNul) break;
    u += c;
  }
  return FromUtf16(u);
}
std::string EncodeUtf16(const std::string& s, bool bigEndian) {
  std::string out;
  for (char16_t c : ToUtf16(s)) {
    const char hi = static_cast<char>(c >> 8), lo = static_cast<char>(c & 0xFF);
    out += bigEndian ? hi : lo;
    out += bigEndian ? lo : hi;
  }
  return out;
}

enum class Charset { kUtf8, kUtf16Le, kUtf16Be, kOther };
Charset CharsetOf(std::string name) {
  for (auto& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (name == "utf-8" || name == "utf8") return Charset::kUtf8;
  if (name == "unicode" || name == "utf-16" || name == "utf-16le") return Charset::kUtf16Le;
  if (name == "utf-16be" || name == "unicodefffe") return Charset::kUtf16Be;
  return Charset::kOther;
}
// Converts with iconv; false when the character set is unknown.
bool Iconv(const std::string& to, const std::string& from, const std::string& in, std::string& out) {
  iconv_t cd = iconv_open(to.c_str(), from.c_str());
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  std::string src = in;
  char* ip = src.data();
  std::size_t il = src.size();
  out.clear();
  char buf[4096];
  while (il > 0) {
    char* op = buf;
    std::size_t ol = sizeof buf;
    const std::size_t r = iconv(cd, &ip, &il, &op, &ol);
    out.append(buf, static_cast<std::size_t>(op - buf));
    if (r == static_cast<std::size_t>(-1) && errno != E2BIG) {
      // An unconvertible character: skipped, as Flash drops it.
      ++ip;
      --il;
    }
  }
  iconv_close(cd);
  return true;
}

NATIVE(BaWriteMultiByte) {
  const std::string s = NonNullText(m, a, 0, "value");
  const std::string cs = NonNullText(m, a, 1, "charSet");
  auto* b = SelfBytes(m, self);
  switch (CharsetOf(cs)) {
    case Charset::kUtf16Le: PutText(m, b, EncodeUtf16(s, false)); break;
    case Charset::kUtf16Be: PutText(m, b, EncodeUtf16(s, true)); break;
    case Charset::kOther: {
      std::string out;
      // An unknown character set writes UTF-8, as the system code page would.
      PutText(m, b, Iconv(cs, "UTF-8", s, out) ? out : s);
      break;
    }
    case Charset::kUtf8: PutText(m, b, s); break;
  }
  return Value();
}
NATIVE(BaReadMultiByte) {
  auto* b = SelfBytes(m, self);
  const std::size_t n = m.ToUint(m.ArgOr(a, 0));
  const std::string cs = NonNullText(m, a, 1, "charSet");
  const std::string raw = TakeBytes(m, b, n);
  const auto* p = reinterpret_cast<const std::uint8_t*>(raw.data());
  switch (CharsetOf(cs)) {
    case Charset::kUtf16Le: return m.Str(DecodeUtf16(p, n, false, true));
    case Charset::kUtf16Be: return m.Str(DecodeUtf16(p, n, true, true));
    case Charset::kOther: {
      std::string out;
      if (Iconv("UTF-8", cs, raw.substr(0, raw.find('\0')), out)) return m.Str(out);
      break;
    }
    case Charset::kUtf8: break;
  }
  return m.Str(DecodeUtf8(p, n, true));
}
NATIVE(BaWriteUTFBytes) {
  PutText(m, SelfBytes(m, self), NonNullText(m, a, 0, "value"));
  return Value();
}
NATIVE(BaWriteUTF) {
  const std::string s = NonNullText(m, a, 0, "value");
  if (s.size() > 65535) m.ThrowError("RangeError", "The supplied index is out of bounds.", 2006);
  auto* b = SelfBytes(m, self);
  PutNum<std::uint16_t>(m, b, static_cast<std::uint16_t>(s.size()));
  PutText(m, b, s);
  return Value();
}
Value ReadUtf8(Machine& m, ByteArrayObject* b, std::size_t n) {
  const std::string raw = TakeBytes(m, b, n);
  return m.Str(DecodeUtf8(reinterpret_cast<const std::uint8_t*>(raw.data()), n, true));
}
NATIVE(BaReadUTFBytes) {
  auto* b = SelfBytes(m, self);
  return ReadUtf8(m, b, m.ToUint(m.ArgOr(a, 0)));
}
NATIVE(BaReadUTF) {
  auto* b = SelfBytes(m, self);
  return ReadUtf8(m, b, GetNum<std::uint16_t>(m, b));
}
// The whole array as text: a byte order mark says UTF-16 or drops itself; NULs stay.
NATIVE(BaToString) {
  auto* b = SelfBytes(m, self);
  const std::uint8_t* p = b->bytes.data();
  const std::size_t n = b->bytes.size();
  if (n >= 2 && p[0] == 0xFF && p[1] == 0xFE) return m.Str(DecodeUtf16(p + 2, n - 2, false, false));
  if (n >= 2 && p[0] == 0xFE && p[1] == 0xFF) return m.Str(DecodeUtf16(p + 2, n - 2, true, false));
  return m.Str(DecodeUtf8(p, n, false));
}

// ---- the array

Object* AllocByteArray(Machine& m, Class* cls) {
  auto* b = m.heap().New<ByteArrayObject>();
  b->objectEncoding = m.defaultObjectEncoding;
  // A class linked to embedded data starts out holding it.
  // (ByteArray itself holds the allocator; its subclasses inherit it.)
  if (m.embeddedBytes && cls && cls->alloc != AllocByteArray) m.embeddedBytes(cls, b->bytes);
  return b;
}
NATIVE(BaLength) { return Value::Number(static_cast<double>(SelfBytes(m, self)->bytes.size())); }
NATIVE(BaSetLength) {
  auto* b = SelfBytes(m, self);
  const double n = m.ToUint(m.ArgOr(a, 0));
  if (n > static_cast<double>(kMaxBytes)) m.ThrowError("flash.errors::MemoryError", "The system is out of memory.", 1000);
  if (static_cast<std::size_t>(n) > b->bytes.size()) m.Charge(static_cast<std::size_t>(n) - b->bytes.size());
  b->bytes.resize(static_cast<std::size_t>(n));
  b->position = std::min<std::uint32_t>(b->position, static_cast<std::uint32_t>(b->bytes.size()));
  return Value();
}
NATIVE(BaPosition) { return Value::Number(SelfBytes(m, self)->position); }
NATIVE(BaSetPosition) {
  SelfBytes(m, self)->position = m.ToUint(m.ArgOr(a, 0));
  return Value();
}
NATIVE(BaAvailable) {
  auto* b = SelfBytes(m, self);
  return Value::Number(b->position < b->bytes.size() ? static_cast<double>(b->bytes.size() - b->position) : 0);
}
NATIVE(BaEndian) { return m.Str(SelfBytes(m, self)->littleEndian ? "littleEndian" : "bigEndian"); }
NATIVE(BaSetEndian) {
  const std::string e = NonNullText(m, a, 0, "endian");
  if (e != "littleEndian" && e != "bigEndian")
    m.ThrowError("ArgumentError", "Parameter endian must be one of the accepted values.", 2008);
  SelfBytes(m, self)->littleEndian = e == "littleEndian";
  return Value();
}
NATIVE(BaObjectEncoding) { return Value::Int(SelfBytes(m, self)->objectEncoding); }
NATIVE(BaSetObjectEncoding) {
  const std::uint32_t e = m.ToUint(m.ArgOr(a, 0));
  if (e != 0 && e != 3) m.ThrowError("ArgumentError", "Parameter objectEncoding must be one of the accepted values.", 2008);
  SelfBytes(m, self)->objectEncoding = static_cast<std::uint8_t>(e);
  return Value();
}
NATIVE(BaDefaultEncoding) { return Value::Int(m.defaultObjectEncoding); }
NATIVE(BaSetDefaultEncoding) {
  const std::uint32_t e = m.ToUint(m.ArgOr(a, 0));
  if (e == 0 || e == 3) m.defaultObjectEncoding = static_cast<std::uint8_t>(e);
  return Value();
}
NATIVE(BaWriteByte) {
  PutNum<std::uint8_t>(m, SelfBytes(m, self), static_cast<std::uint8_t>(m.ToInt(m.ArgOr(a, 0))));
  return Value();
}
NATIVE(BaWriteBoolean) {
  PutNum<std::uint8_t>(m, SelfBytes(m, self), m.ToBoolean(m.ArgOr(a, 0)) ? 1 : 0);
  return Value();
}
NATIVE(BaWriteShort) {
  PutNum<std::uint16_t>(m, SelfBytes(m, self), static_cast<std::uint16_t>(m.ToInt(m.ArgOr(a, 0))));
  return Value();
}
NATIVE(BaWriteInt) {
  PutNum<std::uint32_t>(m, SelfBytes(m, self), m.ToUint(m.ArgOr(a, 0)));
  return Value();
}
NATIVE(BaWriteFloat) {
  PutNum<float>(m, SelfBytes(m, self), static_cast<float>(m.ToNumber(m.ArgOr(a, 0))));
  return Value();
}
NATIVE(BaWriteDouble) {
  PutNum<double>(m, SelfBytes(m, self), m.ToNumber(m.ArgOr(a, 0)));
  return Value();
}
// writeBytes(bytes, offset, length): length 0 means all from offset on.
NATIVE(BaWriteBytes) {
  auto* b = SelfBytes(m, self);
  if (a.empty() || a[0].IsNullish()) NullParam(m, "bytes");
  auto* src = SelfBytes(m, a[0]);
  const std::size_t off = m.ToUint(m.ArgOr(a, 1));
  std::size_t len = m.ToUint(m.ArgOr(a, 2));
  if (off > src->bytes.size()) m.ThrowError("RangeError", "The supplied index is out of bounds.", 2006);
  if (len == 0) len = src->bytes.size() - off;
  if (len > src->bytes.size() - off) m.ThrowError("RangeError", "The supplied index is out of bounds.", 2006);
  const std::vector<std::uint8_t> copy(src->bytes.begin() + static_cast<std::ptrdiff_t>(off),
                                       src->bytes.begin() + static_cast<std::ptrdiff_t>(off + len));
  Put(m, b, copy.data(), copy.size(), false);
  return Value();
}
// readBytes(bytes, offset, length): into bytes at offset, its position kept;
// length 0 means all that is left.
NATIVE(BaReadBytes) {
  auto* b = SelfBytes(m, self);
  if (a.empty() || a[0].IsNullish()) NullParam(m, "bytes");
  auto* dst = SelfBytes(m, a[0]);
  const std::size_t off = m.ToUint(m.ArgOr(a, 1));
  const std::size_t avail = b->position < b->bytes.size() ? b->bytes.size() - b->position : 0;
  std::size_t len = m.ToUint(m.ArgOr(a, 2));
  if (len == 0) len = avail;
  if (len > avail) Eof(m);
  if (off + len > kMaxBytes) m.ThrowError("RangeError", "The supplied index is out of bounds.", 2006);
  const std::vector<std::uint8_t> copy(b->bytes.begin() + b->position, b->bytes.begin() + static_cast<std::ptrdiff_t>(b->position + len));
  if (dst->bytes.size() < off + len) {
    m.Charge(off + len - dst->bytes.size());
    dst->bytes.resize(off + len);
  }
  std::copy(copy.begin(), copy.end(), dst->bytes.begin() + static_cast<std::ptrdiff_t>(off));
  b->position += static_cast<std::uint32_t>(len);
  return Value();
}
NATIVE(BaReadByte) { return Value::Int(static_cast<std::int8_t>(GetNum<std::uint8_t>(m, SelfBytes(m, self)))); }
NATIVE(BaReadUnsignedByte) { return Value::Int(GetNum<std::uint8_t>(m, SelfBytes(m, self))); }
NATIVE(BaReadBoolean) { return Value::Bool(GetNum<std::uint8_t>(m, SelfBytes(m, self)) != 0); }
NATIVE(BaReadShort) { return Value::Int(static_cast<std::int16_t>(GetNum<std::uint16_t>(m, SelfBytes(m, self)))); }
NATIVE(BaReadUnsignedShort) { return Value::Int(GetNum<std::uint16_t>(m, SelfBytes(m, self))); }
NATIVE(BaReadInt) { return Value::Int(static_cast<std::int32_t>(GetNum<std::uint32_t>(m, SelfBytes(m, self)))); }
NATIVE(BaReadUnsignedInt) { return Value::Number(GetNum<std::uint32_t>(m, SelfBytes(m, self))); }
NATIVE(BaReadFloat) { return Value::Number(GetNum<float>(m, SelfBytes(m, self))); }
NATIVE(BaReadDouble) { return Value::Number(GetNum<double>(m, SelfBytes(m, self))); }
NATIVE(BaClear) {
  auto* b = SelfBytes(m, self);
  b->bytes.clear();
  b->bytes.shrink_to_fit();
  b->position = 0;
  return Value();
}

// ---- compression

enum class Algorithm { kZlib, kDeflate };
Algorithm AlgorithmArg(Machine& m, std::span<Value> a) {
  if (a.empty()) return Algorithm::kZlib;
  const std::string name = NonNullText(m, a, 0, "algorithm");
  if (name == "zlib") return Algorithm::kZlib;
  if (name == "deflate") return Algorithm::kDeflate;
  // LZMA and unknown names: Flash fails the way a bad stream does.
  m.ThrowError("flash.errors::IOError", "There was an error decompressing the data.", 2058);
}
void Compress(Machine& m, ByteArrayObject* b, Algorithm alg) {
  z_stream z{};
  if (deflateInit2(&z, Z_BEST_COMPRESSION, Z_DEFLATED, alg == Algorithm::kZlib ? 15 : -15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
    m.ThrowError("flash.errors::MemoryError", "The system is out of memory.", 1000);
  std::vector<std::uint8_t> out(deflateBound(&z, static_cast<uLong>(b->bytes.size())));
  m.Charge(out.size());
  z.next_in = b->bytes.data();
  z.avail_in = static_cast<uInt>(b->bytes.size());
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  b->bytes = std::move(out);
  b->position = static_cast<std::uint32_t>(b->bytes.size());
}
void Uncompress(Machine& m, ByteArrayObject* b, Algorithm alg) {
  if (b->bytes.empty()) return;
  z_stream z{};
  if (inflateInit2(&z, alg == Algorithm::kZlib ? 15 : -15) != Z_OK)
    m.ThrowError("flash.errors::MemoryError", "The system is out of memory.", 1000);
  std::vector<std::uint8_t> out;
  std::uint8_t buf[16384];
  z.next_in = b->bytes.data();
  z.avail_in = static_cast<uInt>(b->bytes.size());
  int r = Z_OK;
  while (r == Z_OK) {
    z.next_out = buf;
    z.avail_out = sizeof buf;
    r = inflate(&z, Z_NO_FLUSH);
    const std::size_t got = sizeof buf - z.avail_out;
    if (out.size() + got > kMaxBytes) r = Z_MEM_ERROR;
    m.Charge(got);
    out.insert(out.end(), buf, buf + got);
    if (r == Z_BUF_ERROR && z.avail_in == 0) break;
  }
  inflateEnd(&z);
  if (r != Z_STREAM_END) m.ThrowError("flash.errors::IOError", "There was an error decompressing the data.", 2058);
  b->bytes = std::move(out);
  b->position = 0;
}
NATIVE(BaCompress) {
  Compress(m, SelfBytes(m, self), AlgorithmArg(m, a));
  return Value();
}
NATIVE(BaUncompress) {
  Uncompress(m, SelfBytes(m, self), AlgorithmArg(m, a));
  return Value();
}
NATIVE(BaDeflate) {
  Compress(m, SelfBytes(m, self), Algorithm::kDeflate);
  return Value();
}
NATIVE(BaInflate) {
  Uncompress(m, SelfBytes(m, self), Algorithm::kDeflate);
  return Value();
}

// ---- AMF

// What AMF writes as an object's sealed members: the public variables a
// class declares, in slot order, then its public properties that have both a
// getter and a setter, in the order declared (slot is kAccessor for those).
constexpr std::uint32_t kAccessor = 0xFFFFFFFF;
std::vector<std::pair<std::string, std::uint32_t>> SealedMembers(Machine& m, const Object* o) {
  std::vector<std::pair<std::string, std::uint32_t>> out;
  if (!o->traits || !o->cls || (o->kind != ObjectKind::kPlain && o->kind != ObjectKind::kError)) return out;
  std::vector<std::pair<std::uint32_t, std::string>> accessors;
  for (const auto& [key, b] : o->traits->Bindings()) {
    // Only the plain public names: not the AS3 namespace's (kept as public
    // here, marked builtinNs), nor a package's.
    const auto ns = static_cast<NsId>(key >> 32);
    if (!m.IsPublicNs(ns) || !m.NsUri(ns).empty() || b.builtinNs) continue;
    if (b.kind == Binding::Kind::kSlot) out.emplace_back(m.NameText(static_cast<NameId>(key & 0xFFFFFFFF)), b.slot);
    else if (b.kind == Binding::Kind::kAccessor && b.getter && b.setter && b.getter->unit)
      accessors.emplace_back(b.getter->index, m.NameText(static_cast<NameId>(key & 0xFFFFFFFF)));
  }
  std::sort(out.begin(), out.end(), [](const auto& x, const auto& y) { return x.second < y.second; });
  std::sort(accessors.begin(), accessors.end());
  for (auto& [at, name] : accessors) out.emplace_back(std::move(name), kAccessor);
  return out;
}
// An object's enumerable dynamic properties, in order.
std::vector<std::pair<StringCell*, Value>> DynamicMembers(const Object* o) {
  std::vector<std::pair<StringCell*, Value>> out;
  if (!o->dyn) return out;
  for (std::size_t i = 0; i < o->dyn->items.size(); ++i)
    if (o->dyn->Listed(i)) out.push_back(o->dyn->items[i]);
  return out;
}
std::string AliasOf(Machine& m, const Object* o) {
  if (!o->cls) return "";
  auto it = m.aliasOfClass.find(o->cls);
  return it == m.aliasOfClass.end() ? "" : it->second;
}
bool IsXml(const Object* o) { return o->kind == ObjectKind::kXml; }
bool IsDate(const Object* o) { return o->kind == ObjectKind::kDate; }
double DateTime(Machine& m, Object* o) { return m.ToNumber(m.CallProperty(Value::Obj(o), "getTime", {})); }
Value NewDate(Machine& m, double t) {
  Value arg = Value::Number(t);
  return Value::Obj(m.Construct(m.FindClass("Date"), std::span<Value>(&arg, 1)));
}
Value NewXmlFrom(Machine& m, const std::string& text) {
  Value arg = m.Str(text);
  return Value::Obj(m.Construct(m.FindClass("XML"), std::span<Value>(&arg, 1)));
}
constexpr int kAmfDepth = 256;

class Amf3Writer {
 public:
  Amf3Writer(Machine& m, ByteArrayObject* b) : m_(m), b_(b) {}
  void Write(const Value& v, int depth = 0) {
    if (depth > kAmfDepth) m_.ThrowError("Error", "Stack overflow occurred.", 1023);
    switch (v.type) {
      case Type::kUndefined: return Byte(0x00);
      case Type::kNull: return Byte(0x01);
      case Type::kBoolean: return Byte(v.b ? 0x03 : 0x02);
      case Type::kInt:
        if (v.i >= -(1 << 28) && v.i < (1 << 28)) {
          Byte(0x04);
          return U29(static_cast<std::uint32_t>(v.i) & 0x1FFFFFFF);
        }
        [[fallthrough]];
      case Type::kNumber:
        Byte(0x05);
        return PutNum<double>(m_, b_, v.Num(), true);
      case Type::kString:
        Byte(0x06);
        return String(v.s->text);
      case Type::kObject: return WriteObject(v.o, depth);
    }
  }

 private:
  void Byte(std::uint8_t c) { PutNum<std::uint8_t>(m_, b_, c); }
  void U29(std::uint32_t n) {
    n &= 0x1FFFFFFF;
    if (n < 0x80) {
      Byte(static_cast<std::uint8_t>(n));
    } else if (n < 0x4000) {
      Byte(static_cast<std::uint8_t>(n >> 7 | 0x80));
      Byte(static_cast<std::uint8_t>(n & 0x7F));
    } else if (n < 0x200000) {
      Byte(static_cast<std::uint8_t>(n >> 14 | 0x80));
      Byte(static_cast<std::uint8_t>((n >> 7 & 0x7F) | 0x80));
      Byte(static_cast<std::uint8_t>(n & 0x7F));
    } else {
      Byte(static_cast<std::uint8_t>(n >> 22 | 0x80));
      Byte(static_cast<std::uint8_t>((n >> 15 & 0x7F) | 0x80));
      Byte(static_cast<std::uint8_t>((n >> 8 & 0x7F) | 0x80));
      Byte(static_cast<std::uint8_t>(n & 0xFF));
    }
  }
  // Strings after their first time are written as references, the empty one never.
  void String(const std::string& s) {
    if (!s.empty()) {
      auto it = strings_.find(s);
      if (it != strings_.end()) return U29(static_cast<std::uint32_t>(it->second << 1));
      const std::size_t n = strings_.size();
      strings_.emplace(s, n);
    }
    U29(static_cast<std::uint32_t>(s.size() << 1 | 1));
    PutText(m_, b_, s);
  }
  // True when the object was written before (a reference is written).
  bool Seen(Object* o) {
    auto it = objects_.find(o);
    if (it != objects_.end()) {
      U29(static_cast<std::uint32_t>(it->second << 1));
      return true;
    }
    const std::size_t n = objects_.size();
    objects_.emplace(o, n);
    return false;
  }
  void WriteObject(Object* o, int depth) {
    if (o->kind == ObjectKind::kFunction || o->kind == ObjectKind::kClass) return Byte(0x00);  // not serializable
    if (IsXml(o)) {
      Byte(0x0B);
      if (Seen(o)) return;
      const std::string text = m_.ToString(m_.CallProperty(Value::Obj(o), "toXMLString", {}));
      U29(static_cast<std::uint32_t>(text.size() << 1 | 1));
      return PutText(m_, b_, text);
    }
    if (IsDate(o)) {
      Byte(0x08);
      if (Seen(o)) return;
      U29(1);
      return PutNum<double>(m_, b_, DateTime(m_, o), true);
    }
    if (o->kind == ObjectKind::kByteArray) {
      Byte(0x0C);
      if (Seen(o)) return;
      auto* src = static_cast<ByteArrayObject*>(o);
      const std::vector<std::uint8_t> copy = src->bytes;
      U29(static_cast<std::uint32_t>(copy.size() << 1 | 1));
      return Put(m_, b_, copy.data(), copy.size(), false);
    }
    if (o->kind == ObjectKind::kVector) return WriteVector(static_cast<ArrayObject*>(o), depth);
    if (o->kind == ObjectKind::kArray) {
      Byte(0x09);
      if (Seen(o)) return;
      auto* arr = static_cast<ArrayObject*>(o);
      // Dense up to the first hole; the rest goes by name.
      std::size_t dense = 0;
      while (dense < arr->elems.size() && !arr->elems[dense].IsHole()) ++dense;
      U29(static_cast<std::uint32_t>(dense << 1 | 1));
      for (std::size_t i = dense; i < arr->elems.size(); ++i) {
        if (arr->elems[i].IsHole()) continue;
        String(std::to_string(i));
        Write(arr->elems[i], depth + 1);
      }
      for (auto& [k, v] : DynamicMembers(o)) {
        String(k->text);
        Write(v, depth + 1);
      }
      String("");
      for (std::size_t i = 0; i < dense; ++i) Write(arr->elems[i], depth + 1);
      return;
    }
    if (o->kind == ObjectKind::kDictionary) {
      Byte(0x11);
      if (Seen(o)) return;
      auto* d = static_cast<DictionaryObject*>(o);
      std::vector<std::pair<Value, Value>> live;
      for (auto& kv : d->items)
        if (!kv.first.IsUndefined()) live.push_back(kv);
      U29(static_cast<std::uint32_t>(live.size() << 1 | 1));
      Byte(d->weakKeys ? 1 : 0);
      for (auto& [k, v] : live) {
        Write(k, depth + 1);
        Write(v, depth + 1);
      }
      return;
    }
    Byte(0x0A);
    if (Seen(o)) return;
    const std::string alias = AliasOf(m_, o);
    const auto sealed = SealedMembers(m_, o);
    const bool dynamic = o->dynamic || !o->cls;
    const std::string traitsKey = alias + "\n" + std::to_string(sealed.size()) + (dynamic ? "d" : "s") +
                                  (o->cls ? o->cls->QualifiedName() : "");
    auto it = traits_.find(traitsKey);
    if (it != traits_.end()) {
      U29(static_cast<std::uint32_t>(it->second << 2 | 1));
    } else {
      const std::size_t n = traits_.size();
      traits_.emplace(traitsKey, n);
      U29(static_cast<std::uint32_t>(sealed.size() << 4 | (dynamic ? 8 : 0) | 3));
      String(alias);
      for (auto& [name, slot] : sealed) String(name);
    }
    for (auto& [name, slot] : sealed)
      Write(slot == kAccessor ? m_.GetProperty(Value::Obj(o), name) : o->slots.at(slot), depth + 1);
    if (dynamic && !WriteProxied(o, depth)) {
      for (auto& [k, v] : DynamicMembers(o)) {
        if (v.IsObject() && v.o->kind == ObjectKind::kFunction) continue;
        String(k->text);
        Write(v, depth + 1);
      }
    }
    if (dynamic) String("");
  }
  // A Proxy that enumerates itself lists its dynamic members through its
  // nextNameIndex, nextName and nextValue.
  bool WriteProxied(Object* o, int depth) {
    Value at = Value::Int(0), next;
    if (!m_.ProxyCall(o, "nextNameIndex", std::span<Value>(&at, 1), next)) return false;
    while (m_.ToInt(next) > 0) {
      at = Value::Int(m_.ToInt(next));
      Value name, value;
      m_.ProxyCall(o, "nextName", std::span<Value>(&at, 1), name);
      m_.ProxyCall(o, "nextValue", std::span<Value>(&at, 1), value);
      String(m_.ToString(name));
      Write(value, depth + 1);
      if (!m_.ProxyCall(o, "nextNameIndex", std::span<Value>(&at, 1), next)) break;
    }
    return true;
  }
  void WriteVector(ArrayObject* v, int depth) {
    Class* t = v->cls ? v->cls->elementType : nullptr;
    const bool isInt = t == m_.intClass, isUint = t == m_.uintClass, isNum = t == m_.numberClass;
    Byte(isInt ? 0x0D : isUint ? 0x0E : isNum ? 0x0F : 0x10);
    if (Seen(v)) return;
    const std::vector<Value> elems = v->elems;
    U29(static_cast<std::uint32_t>(elems.size() << 1 | 1));
    Byte(v->fixed ? 1 : 0);
    if (isInt || isUint) {
      for (const Value& e : elems) PutNum<std::uint32_t>(m_, b_, m_.ToUint(e), true);
    } else if (isNum) {
      for (const Value& e : elems) PutNum<double>(m_, b_, m_.ToNumber(e), true);
    } else {
      // The element type goes by its class alias, "" when it has none.
      const auto alias = t ? m_.aliasOfClass.find(t) : m_.aliasOfClass.end();
      String(alias == m_.aliasOfClass.end() ? "" : alias->second);
      for (const Value& e : elems) Write(e, depth + 1);
    }
  }

  Machine& m_;
  ByteArrayObject* b_;
  std::unordered_map<std::string, std::size_t> strings_, traits_;
  std::unordered_map<const Object*, std::size_t> objects_;
};

class Amf3Reader {
 public:
  Amf3Reader(Machine& m, ByteArrayObject* b) : m_(m), b_(b) {}
  Value Read(int depth = 0) {
    if (depth > kAmfDepth) m_.ThrowError("Error", "Stack overflow occurred.", 1023);
    const std::uint8_t marker = GetNum<std::uint8_t>(m_, b_);
    switch (marker) {
      case 0x00: return Value();
      case 0x01: return Value::Null();
      case 0x02: return Value::Bool(false);
      case 0x03: return Value::Bool(true);
      case 0x04: {
        std::uint32_t n = U29();
        if (n & 0x10000000) n |= 0xE0000000;  // sign of the 29 bits
        return Value::Int(static_cast<std::int32_t>(n));
      }
      case 0x05: return Value::Number(GetNum<double>(m_, b_, true));
      case 0x06: return m_.Str(String());
      case 0x07:
      case 0x0B: {
        const std::uint32_t h = U29();
        if (!(h & 1)) return Ref(h);
        const Value x = NewXmlFrom(m_, Text(h >> 1));
        objects_.push_back(x);
        return x;
      }
      case 0x08: {
        const std::uint32_t h = U29();
        if (!(h & 1)) return Ref(h);
        const Value d = NewDate(m_, GetNum<double>(m_, b_, true));
        objects_.push_back(d);
        return d;
      }
      case 0x09: return ReadArray(depth);
      case 0x0A: return ReadObject(depth);
      case 0x0C: {
        const std::uint32_t h = U29();
        if (!(h & 1)) return Ref(h);
        auto* out = static_cast<ByteArrayObject*>(m_.Construct(m_.FindClass("flash.utils::ByteArray"), {}));
        const std::size_t n = h >> 1;
        if (n > b_->bytes.size() - b_->position) Eof(m_);
        out->bytes.assign(b_->bytes.begin() + b_->position, b_->bytes.begin() + static_cast<std::ptrdiff_t>(b_->position + n));
        b_->position += static_cast<std::uint32_t>(n);
        objects_.push_back(Value::Obj(out));
        return Value::Obj(out);
      }
      case 0x0D:
      case 0x0E:
      case 0x0F:
      case 0x10: return ReadVector(marker, depth);
      case 0x11: return ReadDictionary(depth);
      default: m_.ThrowError("RangeError", "The supplied index is out of bounds.", 2006);
    }
  }

 private:
  std::uint32_t U29() {
    std::uint32_t n = 0;
    for (int i = 0; i < 4; ++i) {
      const std::uint8_t c = GetNum<std::uint8_t>(m_, b_);
      if (i == 3) return n << 8 | c;
      n = n << 7 | (c & 0x7F);
      if (!(c & 0x80)) break;
    }
    return n;
  }
  std::string Text(std::size_t n) { return TakeBytes(m_, b_, n); }
  std::string String() {
    const std::uint32_t h = U29();
    if (!(h & 1)) {
      if ((h >> 1) >= strings_.size()) m_.ThrowError("RangeError", "The supplied index is out of bounds.", 2006);
      return strings_[h >> 1];
    }
    std::string s = Text(h >> 1);
    if (!s.empty()) strings_.push_back(s);
    return s;
  }
  Value Ref(std::uint32_t h) {
    if ((h >> 1) >= objects_.size()) m_.ThrowError("RangeError", "The supplied index is out of bounds.", 2006);
    return objects_[h >> 1];
  }
  Value ReadArray(int depth) {
    const std::uint32_t h = U29();
    if (!(h & 1)) return Ref(h);
    ArrayObject* arr = m_.NewArray();
    objects_.push_back(Value::Obj(arr));
    for (std::string key = String(); !key.empty(); key = String()) m_.SetProperty(Value::Obj(arr), key, Read(depth + 1));
    const std::size_t dense = h >> 1;
    if (dense > b_->bytes.size()) Eof(m_);
    for (std::size_t i = 0; i < dense; ++i) {
      const Value v = Read(depth + 1);
      if (arr->elems.size() <= i) arr->elems.resize(i + 1, Value::Hole());
      arr->elems[i] = v.Filled();
    }
    return Value::Obj(arr);
  }
  struct TraitsInfo {
    std::string alias;
    std::vector<std::string> sealed;
    bool dynamic = false, external = false;
  };
  Value ReadObject(int depth) {
    const std::uint32_t h = U29();
    if (!(h & 1)) return Ref(h);
    TraitsInfo t;
    if (!(h & 2)) {
      if ((h >> 2) >= traits_.size()) m_.ThrowError("RangeError", "The supplied index is out of bounds.", 2006);
      t = traits_[h >> 2];
    } else {
      t.external = (h & 4) != 0;
      t.dynamic = (h & 8) != 0;
      t.alias = String();
      const std::size_t n = h >> 4;
      if (n > b_->bytes.size()) Eof(m_);
      for (std::size_t i = 0; i < n; ++i) t.sealed.push_back(String());
      traits_.push_back(t);
    }
    Object* o = nullptr;
    if (auto it = m_.classByAlias.find(t.alias); !t.alias.empty() && it != m_.classByAlias.end())
      o = m_.Construct(it->second, {});
    else
      o = m_.NewObject();
    const Value ov = Value::Obj(o);
    objects_.push_back(ov);
    if (t.external) {
      Value input = Value::Obj(b_);
      m_.CallProperty(ov, "readExternal", std::span<Value>(&input, 1));
      return ov;
    }
    // Flash sets the sealed members last to first; an error a member's
    // setter throws, or a member the class lacks, is written to the log as
    // its text and the reading goes on.
    std::vector<Value> values;
    for (std::size_t i = 0; i < t.sealed.size(); ++i) values.push_back(Read(depth + 1));
    for (std::size_t i = t.sealed.size(); i-- > 0;) {
      try {
        m_.SetProperty(ov, t.sealed[i], values[i]);
      } catch (const ScriptThrow& e) {
        const std::string text = m_.ToString(e.value);
        if (m_.traceSink) m_.traceSink(text);
      }
    }
    if (t.dynamic)
      for (std::string key = String(); !key.empty(); key = String()) m_.SetProperty(ov, key, Read(depth + 1));
    return ov;
  }
  Value ReadVector(std::uint8_t marker, int depth) {
    const std::uint32_t h = U29();
    if (!(h & 1)) return Ref(h);
    const std::size_t n = h >> 1;
    const bool fixed = GetNum<std::uint8_t>(m_, b_) != 0;
    Class* elem = marker == 0x0D ? m_.intClass : marker == 0x0E ? m_.uintClass : marker == 0x0F ? m_.numberClass : nullptr;
    if (marker == 0x10) {
      const std::string type = String();
      const auto it = m_.classByAlias.find(type);
      elem = it == m_.classByAlias.end() ? m_.objectClass : it->second;
    }
    auto* v = static_cast<ArrayObject*>(m_.Instantiate(m_.VectorOf(elem)));
    objects_.push_back(Value::Obj(v));
    if (n > b_->bytes.size()) Eof(m_);
    for (std::size_t i = 0; i < n; ++i) {
      Value e;
      if (marker == 0x0D) e = Value::Int(static_cast<std::int32_t>(GetNum<std::uint32_t>(m_, b_, true)));
      else if (marker == 0x0E) e = Value::Number(GetNum<std::uint32_t>(m_, b_, true));
      else if (marker == 0x0F) e = Value::Number(GetNum<double>(m_, b_, true));
      else e = elem ? m_.Coerce(Read(depth + 1), elem) : Read(depth + 1);
      v->elems.push_back(e);
    }
    v->fixed = fixed;
    return Value::Obj(v);
  }
  Value ReadDictionary(int depth) {
    const std::uint32_t h = U29();
    if (!(h & 1)) return Ref(h);
    const bool weak = GetNum<std::uint8_t>(m_, b_) != 0;
    Value arg = Value::Bool(weak);
    Object* d = m_.Construct(m_.FindClass("flash.utils::Dictionary"), std::span<Value>(&arg, 1));
    objects_.push_back(Value::Obj(d));
    const std::size_t n = h >> 1;
    if (n > b_->bytes.size()) Eof(m_);
    for (std::size_t i = 0; i < n; ++i) {
      const Value k = Read(depth + 1);
      const Value v = Read(depth + 1);
      m_.DictSet(static_cast<DictionaryObject*>(d), k, v);
    }
    return Value::Obj(d);
  }

  Machine& m_;
  ByteArrayObject* b_;
  std::vector<std::string> strings_;
  std::vector<Value> objects_;
  std::vector<TraitsInfo> traits_;
};

class Amf0Writer {
 public:
  Amf0Writer(Machine& m, ByteArrayObject* b) : m_(m), b_(b) {}
  void Write(const Value& v, int depth = 0) {
    if (depth > kAmfDepth) m_.ThrowError("Error", "Stack overflow occurred.", 1023);
    switch (v.type) {
      case Type::kUndefined: return Byte(0x06);
      case Type::kNull: return Byte(0x05);
      case Type::kBoolean:
        Byte(0x01);
        return Byte(v.b ? 1 : 0);
      case Type::kInt:
      case Type::kNumber:
        Byte(0x00);
        return PutNum<double>(m_, b_, v.Num(), true);
      case Type::kString: {
        const std::string& s = v.s->text;
        if (s.size() > 0xFFFF) {
          Byte(0x0C);
          PutNum<std::uint32_t>(m_, b_, static_cast<std::uint32_t>(s.size()), true);
          return PutText(m_, b_, s);
        }
        Byte(0x02);
        return Name(s);
      }
      case Type::kObject: return WriteObject(v.o, depth);
    }
  }

 private:
  void Byte(std::uint8_t c) { PutNum<std::uint8_t>(m_, b_, c); }
  void Name(const std::string& s) {
    PutNum<std::uint16_t>(m_, b_, static_cast<std::uint16_t>(std::min<std::size_t>(s.size(), 0xFFFF)), true);
    PutText(m_, b_, s.substr(0, 0xFFFF));
  }
  void End() {
    Name("");
    Byte(0x09);
  }
  void WriteObject(Object* o, int depth) {
    if (o->kind == ObjectKind::kFunction || o->kind == ObjectKind::kClass) return Byte(0x06);
    if (auto it = objects_.find(o); it != objects_.end()) {
      Byte(0x07);
      return PutNum<std::uint16_t>(m_, b_, static_cast<std::uint16_t>(it->second), true);
    }
    if (IsDate(o)) {
      Byte(0x0B);
      PutNum<double>(m_, b_, DateTime(m_, o), true);
      return PutNum<std::uint16_t>(m_, b_, 0, true);
    }
    if (IsXml(o)) {
      Byte(0x0F);
      const std::string text = m_.ToString(m_.CallProperty(Value::Obj(o), "toXMLString", {}));
      PutNum<std::uint32_t>(m_, b_, static_cast<std::uint32_t>(text.size()), true);
      return PutText(m_, b_, text);
    }
    const std::size_t n = objects_.size();
    objects_.emplace(o, n);
    if (o->kind == ObjectKind::kArray || o->kind == ObjectKind::kVector) {
      auto* arr = static_cast<ArrayObject*>(o);
      const auto dyn = DynamicMembers(o);
      bool holes = false;
      for (const Value& e : arr->elems) holes = holes || e.IsHole();
      if (dyn.empty() && !holes) {
        Byte(0x0A);
        PutNum<std::uint32_t>(m_, b_, static_cast<std::uint32_t>(arr->elems.size()), true);
        for (const Value& e : std::vector<Value>(arr->elems)) Write(e, depth + 1);
        return;
      }
      Byte(0x08);
      PutNum<std::uint32_t>(m_, b_, static_cast<std::uint32_t>(arr->elems.size()), true);
      const std::vector<Value> elems = arr->elems;
      for (std::size_t i = 0; i < elems.size(); ++i) {
        if (elems[i].IsHole()) continue;
        Name(std::to_string(i));
        Write(elems[i], depth + 1);
      }
      for (auto& [k, v] : dyn) {
        Name(k->text);
        Write(v, depth + 1);
      }
      return End();
    }
    const std::string alias = AliasOf(m_, o);
    if (!alias.empty()) {
      Byte(0x10);
      Name(alias);
    } else {
      Byte(0x03);
    }
    for (auto& [name, slot] : SealedMembers(m_, o)) {
      Name(name);
      Write(o->slots[slot], depth + 1);
    }
    for (auto& [k, v] : DynamicMembers(o)) {
      if (v.IsObject() && v.o->kind == ObjectKind::kFunction) continue;
      Name(k->text);
      Write(v, depth + 1);
    }
    End();
  }

  Machine& m_;
  ByteArrayObject* b_;
  std::unordered_map<const Object*, std::size_t> objects_;
};

class Amf0Reader {
 public:
  Amf0Reader(Machine& m, ByteArrayObject* b) : m_(m), b_(b) {}
  Value Read(int depth = 0) {
    if (depth > kAmfDepth) m_.ThrowError("Error", "Stack overflow occurred.", 1023);
    const std::uint8_t marker = GetNum<std::uint8_t>(m_, b_);
    switch (marker) {
      case 0x00: return Value::Number(GetNum<double>(m_, b_, true));
      case 0x01: return Value::Bool(GetNum<std::uint8_t>(m_, b_) != 0);
      case 0x02: return m_.Str(Name());
      case 0x03:
      case 0x08:
      case 0x10: {
        if (marker == 0x08) GetNum<std::uint32_t>(m_, b_, true);
        Object* o = nullptr;
        if (marker == 0x10) {
          const std::string alias = Name();
          auto it = m_.classByAlias.find(alias);
          o = it != m_.classByAlias.end() ? m_.Construct(it->second, {}) : nullptr;
        }
        if (!o) o = marker == 0x08 ? m_.NewArray() : m_.NewObject();
        const Value ov = Value::Obj(o);
        objects_.push_back(ov);
        for (std::string key = Name();; key = Name()) {
          if (key.empty() && b_->position < b_->bytes.size() && b_->bytes[b_->position] == 0x09) {
            ++b_->position;
            break;
          }
          m_.SetProperty(ov, key, Read(depth + 1));
        }
        return ov;
      }
      case 0x05: return Value::Null();
      case 0x06: return Value();
      case 0x07: {
        const std::uint16_t i = GetNum<std::uint16_t>(m_, b_, true);
        if (i >= objects_.size()) m_.ThrowError("RangeError", "The supplied index is out of bounds.", 2006);
        return objects_[i];
      }
      case 0x0A: {
        const std::uint32_t n = GetNum<std::uint32_t>(m_, b_, true);
        if (n > b_->bytes.size()) Eof(m_);
        ArrayObject* arr = m_.NewArray();
        objects_.push_back(Value::Obj(arr));
        for (std::uint32_t i = 0; i < n; ++i) arr->elems.push_back(Read(depth + 1).Filled());
        return Value::Obj(arr);
      }
      case 0x0B: {
        const double t = GetNum<double>(m_, b_, true);
        GetNum<std::uint16_t>(m_, b_, true);
        return NewDate(m_, t);
      }
      case 0x0C: return m_.Str(Text(GetNum<std::uint32_t>(m_, b_, true)));
      case 0x0F: return NewXmlFrom(m_, Text(GetNum<std::uint32_t>(m_, b_, true)));
      case 0x11: return Amf3Reader(m_, b_).Read(depth + 1);
      default: m_.ThrowError("RangeError", "The supplied index is out of bounds.", 2006);
    }
  }

 private:
  std::string Text(std::size_t n) { return TakeBytes(m_, b_, n); }
  std::string Name() { return Text(GetNum<std::uint16_t>(m_, b_, true)); }

  Machine& m_;
  ByteArrayObject* b_;
  std::vector<Value> objects_;
};

NATIVE(BaWriteObject) {
  auto* b = SelfBytes(m, self);
  if (b->objectEncoding == 0) Amf0Writer(m, b).Write(m.ArgOr(a, 0));
  else Amf3Writer(m, b).Write(m.ArgOr(a, 0));
  return Value();
}
NATIVE(BaReadObject) {
  auto* b = SelfBytes(m, self);
  if (b->objectEncoding == 0) return Amf0Reader(m, b).Read();
  return Amf3Reader(m, b).Read();
}

// ---- class aliases

NATIVE(RegisterClassAlias) {
  const std::string alias = NonNullText(m, a, 0, "aliasName");
  Object* c = m.ArgOr(a, 1).AsObject();
  if (!c || c->kind != ObjectKind::kClass) NullParam(m, "classObject");
  Class* cls = static_cast<ClassObject*>(c)->of;
  m.classByAlias[alias] = cls;
  m.aliasOfClass[cls] = alias;
  return Value();
}
NATIVE(GetClassByAlias) {
  const std::string alias = NonNullText(m, a, 0, "aliasName");
  auto it = m.classByAlias.find(alias);
  if (it == m.classByAlias.end())
    m.ThrowError("ReferenceError", "Class " + alias + " could not be found.", 1014);
  return Value::Obj(it->second->object);
}

// flash.crypto.generateRandomBytes: 1 to 1024 bytes, seeded per run as
// Math.random is, so that captures come out the same every time.
NATIVE(GenerateRandomBytes) {
  (void)self;
  const double n = ArgNum(m, a, 0, 0);
  if (!(n >= 1 && n <= 1024)) m.ThrowError("Error", "One of the parameters is invalid.", 2004);
  static thread_local std::uint32_t state = 0x9E3779B9u;
  Object* o = m.Construct(m.FindClass("flash.utils::ByteArray"), {});
  auto* b = static_cast<ByteArrayObject*>(o);
  for (int i = 0; i < static_cast<int>(n); ++i) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    b->bytes.push_back(static_cast<std::uint8_t>(state >> 24));
  }
  return Value::Obj(o);
}

}  // namespace

void InstallByteArray(Machine& m) {
  Class* ba = m.DefineNativeClass("flash.utils", "ByteArray", m.objectClass, AllocByteArray, false);
  m.AddGetter(ba, "length", BaLength);
  m.AddSetter(ba, "length", BaSetLength);
  m.AddGetter(ba, "position", BaPosition);
  m.AddSetter(ba, "position", BaSetPosition);
  m.AddGetter(ba, "bytesAvailable", BaAvailable);
  m.AddGetter(ba, "endian", BaEndian);
  m.AddSetter(ba, "endian", BaSetEndian);
  m.AddGetter(ba, "objectEncoding", BaObjectEncoding);
  m.AddSetter(ba, "objectEncoding", BaSetObjectEncoding);
  m.AddGetter(ba, "defaultObjectEncoding", BaDefaultEncoding, true);
  m.AddSetter(ba, "defaultObjectEncoding", BaSetDefaultEncoding, true);
  struct F {
    const char* name;
    NativeFn fn;
  };
  for (const F& f : {F{"writeByte", BaWriteByte}, F{"writeBoolean", BaWriteBoolean}, F{"writeShort", BaWriteShort},
                     F{"writeInt", BaWriteInt}, F{"writeUnsignedInt", BaWriteInt}, F{"writeFloat", BaWriteFloat},
                     F{"writeDouble", BaWriteDouble}, F{"writeUTFBytes", BaWriteUTFBytes}, F{"writeUTF", BaWriteUTF},
                     F{"writeMultiByte", BaWriteMultiByte}, F{"writeBytes", BaWriteBytes}, F{"readBytes", BaReadBytes},
                     F{"readByte", BaReadByte}, F{"readUnsignedByte", BaReadUnsignedByte}, F{"readBoolean", BaReadBoolean},
                     F{"readShort", BaReadShort}, F{"readUnsignedShort", BaReadUnsignedShort}, F{"readInt", BaReadInt},
                     F{"readUnsignedInt", BaReadUnsignedInt}, F{"readFloat", BaReadFloat},
                     F{"readDouble", BaReadDouble}, F{"readUTFBytes", BaReadUTFBytes}, F{"readUTF", BaReadUTF},
                     F{"readMultiByte", BaReadMultiByte}, F{"clear", BaClear}, F{"toString", BaToString},
                     F{"compress", BaCompress}, F{"uncompress", BaUncompress}, F{"deflate", BaDeflate},
                     F{"inflate", BaInflate}, F{"writeObject", BaWriteObject}, F{"readObject", BaReadObject}}) {
    m.AddMethod(ba, f.name, f.fn);
  }
  // ByteArray implements IDataInput and IDataOutput: code typed to them
  // names the members in the interfaces' namespaces.
  static constexpr std::string_view kInput[] = {
      "bytesAvailable", "endian", "objectEncoding", "readBoolean", "readByte", "readBytes", "readDouble",
      "readFloat", "readInt", "readMultiByte", "readObject", "readShort", "readUnsignedByte", "readUnsignedInt",
      "readUnsignedShort", "readUTF", "readUTFBytes"};
  static constexpr std::string_view kOutput[] = {
      "endian", "objectEncoding", "writeBoolean", "writeByte", "writeBytes", "writeDouble", "writeFloat", "writeInt",
      "writeMultiByte", "writeObject", "writeShort", "writeUnsignedInt", "writeUTF", "writeUTFBytes"};
  for (const auto& [name, members] : {std::pair<const char*, std::span<const std::string_view>>{"IDataInput", kInput},
                                      std::pair<const char*, std::span<const std::string_view>>{"IDataOutput", kOutput}}) {
    Class* iface = m.FindClass(std::string("flash.utils::") + name);
    if (!iface) iface = m.DefineNativeClass("flash.utils", name, nullptr);
    m.DeclareInterfaceMethods(iface, members);
    m.ImplementInterface(ba, iface);
  }
  m.AddGlobalFunction("flash.net", "registerClassAlias", RegisterClassAlias);
  m.AddGlobalFunction("flash.net", "getClassByAlias", GetClassByAlias);
  m.AddGlobalFunction("flash.crypto", "generateRandomBytes", GenerateRandomBytes);
}

}  // namespace quarvel::avm2
