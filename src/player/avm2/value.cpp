#include "player/avm2/value.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <vector>

namespace quarvel::avm2 {

Value Value::Number(double x) {
  Value v;
  if (x >= -2147483648.0 && x <= 2147483647.0 && x == static_cast<double>(static_cast<std::int32_t>(x)) &&
      !(x == 0 && std::signbit(x))) {
    v.type = Type::kInt;
    v.i = static_cast<std::int32_t>(x);
  } else {
    v.type = Type::kNumber;
    v.d = x;
  }
  return v;
}

std::int32_t ToInt32(double d) { return static_cast<std::int32_t>(ToUint32(d)); }

std::uint32_t ToUint32(double d) {
  if (!std::isfinite(d)) return 0;
  if (d >= 0 && d < 4294967296.0) return static_cast<std::uint32_t>(d);
  double m = std::fmod(std::trunc(d), 4294967296.0);
  if (m < 0) m += 4294967296.0;
  return static_cast<std::uint32_t>(m);
}

namespace {
bool IsSpace(unsigned char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; }
}  // namespace

double StringToNumber(std::string_view s) {
  std::size_t a = 0, b = s.size();
  while (a < b && IsSpace(static_cast<unsigned char>(s[a]))) ++a;
  while (b > a && IsSpace(static_cast<unsigned char>(s[b - 1]))) --b;
  s = s.substr(a, b - a);
  if (s.empty()) return 0;
  if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
    double v = 0;
    for (std::size_t i = 2; i < s.size(); ++i) {
      const char c = s[i];
      int d = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
      if (d < 0) return std::numeric_limits<double>::quiet_NaN();
      v = v * 16 + d;
    }
    return v;
  }
  std::string_view body = s;
  bool neg = false;
  if (body[0] == '+' || body[0] == '-') {
    neg = body[0] == '-';
    body.remove_prefix(1);
  }
  if (body == "Infinity") return neg ? -HUGE_VAL : HUGE_VAL;
  // Only decimal literals: strtod would also take "inf", "nan" and hex floats.
  for (char c : body) {
    if (!((c >= '0' && c <= '9') || c == '.' || c == 'e' || c == 'E' || c == '+' || c == '-'))
      return std::numeric_limits<double>::quiet_NaN();
  }
  if (body.empty() || body[0] == 'e' || body[0] == 'E') return std::numeric_limits<double>::quiet_NaN();
  std::string copy(s);
  char* end = nullptr;
  const double v = std::strtod(copy.c_str(), &end);
  if (end != copy.c_str() + copy.size() || end == copy.c_str()) return std::numeric_limits<double>::quiet_NaN();
  return v;
}

namespace {
void RoundHalfUp(double d, std::string& digits, int& e) {
  // Shorter digits are never halfway: two such neighbours lie more than a
  // unit of d's last place apart, so only one of them reads back.
  if (digits.size() < 15) return;
  char exact[1024];
  const auto r = std::to_chars(exact, exact + sizeof exact, d, std::chars_format::scientific, 800);
  if (r.ec != std::errc{}) return;
  const std::string_view all(exact, static_cast<std::size_t>(r.ptr - exact));
  const auto epos = all.find('e');
  if (epos == std::string_view::npos) return;
  // The buffer has no terminating zero: the exponent is read within it.
  const char* exp = all.data() + epos + 1;
  if (exp < all.data() + all.size() && *exp == '+') ++exp;
  int exact_e = 0;
  if (std::from_chars(exp, all.data() + all.size(), exact_e).ec != std::errc{} || exact_e != e) return;
  std::string whole;
  for (std::size_t i = 0; i < epos; ++i)
    if (all[i] != '.') whole += all[i];
  const std::size_t k = digits.size();
  if (whole.size() <= k || whole.compare(0, k, digits) != 0 || whole[k] != '5') return;
  if (whole.find_first_not_of('0', k + 1) != std::string::npos) return;
  std::string up = digits;
  std::size_t i = k;
  while (i > 0 && up[i - 1] == '9') up[--i] = '0';
  int upE = e;
  if (i == 0) {
    up.insert(up.begin(), '1');
    up.pop_back();
    ++upE;
  } else {
    ++up[i - 1];
  }
  // Only a form that still reads back to d.
  const std::string text = up.substr(0, 1) + "." + up.substr(1) + "e" + std::to_string(upE);
  double back = 0;
  const auto pr = std::from_chars(text.data(), text.data() + text.size(), back);
  if (pr.ec != std::errc{} || back != d) return;
  while (up.size() > 1 && up.back() == '0') up.pop_back();
  digits = up;
  e = upE;
}
}  // namespace

std::string NumberToString(double d) {
  if (std::isnan(d)) return "NaN";
  if (d == 0) return "0";
  if (std::isinf(d)) return d > 0 ? "Infinity" : "-Infinity";
  if (std::fabs(d) < 2147483648.0 && d == std::trunc(d)) return std::to_string(static_cast<long long>(d));
  // Shortest digits that read back to d, then laid out as ECMA-262 9.8.1 says.
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, std::fabs(d), std::chars_format::scientific);
  std::string sci(buf, r.ptr);
  const auto epos = sci.find('e');
  std::string digits;
  for (std::size_t i = 0; i < epos; ++i)
    if (sci[i] != '.') digits += sci[i];
  while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
  int e = std::atoi(sci.c_str() + epos + 1);
  // Where d lies exactly halfway between the shortest digits and the next
  // ones up, Flash takes the upper (966.67828369140625 prints as
  // 966.6782836914063); the shortest form breaks that tie to even.
  RoundHalfUp(std::fabs(d), digits, e);
  const int k = static_cast<int>(digits.size());
  const int n = e + 1;
  std::string out = d < 0 ? "-" : "";
  if (k <= n && n <= 21) {
    out += digits + std::string(static_cast<std::size_t>(n - k), '0');
  } else if (0 < n && n <= 21) {
    out += digits.substr(0, static_cast<std::size_t>(n)) + "." + digits.substr(static_cast<std::size_t>(n));
  } else if (-6 < n && n <= 0) {
    out += "0." + std::string(static_cast<std::size_t>(-n), '0') + digits;
  } else {
    // Flash writes large numbers with at most 15 of their digits, cut, not
    // rounded: Number.MAX_VALUE is 1.79769313486231e+308.
    if (n > 21 && digits.size() > 15) {
      digits.resize(15);
      while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
    }
    out += digits.substr(0, 1);
    if (digits.size() > 1) out += "." + digits.substr(1);
    out += "e";
    out += (n - 1 >= 0 ? "+" : "-") + std::to_string(std::abs(n - 1));
  }
  return out;
}

std::string NumberToString(double d, int radix) {
  if (radix == 10 || radix < 2 || radix > 36 || !std::isfinite(d)) return NumberToString(d);
  const bool neg = d < 0;
  // Flash prints only the whole part in another radix.
  double ip = std::floor(std::fabs(d));
  // Each digit is the remainder worked out in doubles, which past 2^53 can
  // fall outside 0..radix-1; Flash writes it all the same as the byte
  // '0' + d or 'a' + d - 10, so such digits print as other characters.
  std::vector<std::uint8_t> bytes;
  if (ip == 0) bytes.push_back('0');
  while (ip >= 1 && bytes.size() < 1100) {
    const double q = std::floor(ip / radix);
    const int d = static_cast<int>(ip - q * radix);
    bytes.push_back(static_cast<std::uint8_t>(d < 10 ? '0' + d : 'a' + d - 10));
    ip = q;
  }
  std::string s = neg ? "-" : "";
  for (auto it = bytes.rbegin(); it != bytes.rend(); ++it) {
    if (*it < 0x80) {
      s += static_cast<char>(*it);
    } else {  // a Latin-1 character, in UTF-8
      s += static_cast<char>(0xC0 | (*it >> 6));
      s += static_cast<char>(0x80 | (*it & 0x3F));
    }
  }
  return s;
}

bool ParseIndex(std::string_view s, std::uint32_t& out) {
  if (s.empty() || s.size() > 10 || (s.size() > 1 && s[0] == '0')) return false;
  std::uint64_t v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + static_cast<unsigned>(c - '0');
  }
  if (v >= 4294967295u) return false;
  out = static_cast<std::uint32_t>(v);
  return true;
}

}  // namespace quarvel::avm2
