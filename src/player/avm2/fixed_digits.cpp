#include "player/avm2/fixed_digits.h"

#include <cmath>
#include <cstdint>
#include <vector>

namespace quarvel::avm2 {
namespace {

// Just the unsigned big-integer arithmetic the generator needs.
class BigNat {
 public:
  explicit BigNat(std::uint64_t v = 0) {
    for (; v; v >>= 32) w_.push_back(static_cast<std::uint32_t>(v));
  }
  void Mul(std::uint32_t k) {
    std::uint64_t carry = 0;
    for (auto& x : w_) {
      const std::uint64_t t = std::uint64_t{x} * k + carry;
      x = static_cast<std::uint32_t>(t);
      carry = t >> 32;
    }
    if (carry) w_.push_back(static_cast<std::uint32_t>(carry));
  }
  void Shl(int n) {
    for (; n >= 16; n -= 16) Mul(1u << 16);
    if (n > 0) Mul(1u << n);
  }
  void Add(const BigNat& o) {
    if (w_.size() < o.w_.size()) w_.resize(o.w_.size(), 0);
    std::uint64_t carry = 0;
    for (std::size_t i = 0; i < w_.size(); ++i) {
      const std::uint64_t t = std::uint64_t{w_[i]} + (i < o.w_.size() ? o.w_[i] : 0) + carry;
      w_[i] = static_cast<std::uint32_t>(t);
      carry = t >> 32;
    }
    if (carry) w_.push_back(static_cast<std::uint32_t>(carry));
  }
  // *this -= o, with *this >= o.
  void Sub(const BigNat& o) {
    std::int64_t borrow = 0;
    for (std::size_t i = 0; i < w_.size(); ++i) {
      std::int64_t t = std::int64_t{w_[i]} - (i < o.w_.size() ? o.w_[i] : 0) - borrow;
      borrow = t < 0;
      if (t < 0) t += std::int64_t{1} << 32;
      w_[i] = static_cast<std::uint32_t>(t);
    }
    Trim();
  }
  friend int Cmp(const BigNat& a, const BigNat& b) {
    if (a.w_.size() != b.w_.size()) return a.w_.size() < b.w_.size() ? -1 : 1;
    for (std::size_t i = a.w_.size(); i-- > 0;)
      if (a.w_[i] != b.w_[i]) return a.w_[i] < b.w_[i] ? -1 : 1;
    return 0;
  }

 private:
  void Trim() {
    while (!w_.empty() && w_.back() == 0) w_.pop_back();
  }
  std::vector<std::uint32_t> w_;
};

// Adds one to the decimal digit string, carrying.
void RoundUp(std::string& digits) {
  std::size_t i = digits.size();
  while (i > 0 && digits[i - 1] == '9') digits[--i] = '0';
  if (i == 0) digits.insert(digits.begin(), '1');
  else ++digits[i - 1];
}

}  // namespace

std::string FixedDigits(double v, int frac) {
  v = std::fabs(v);
  std::string digits;
  if (!(v > 0) || !std::isfinite(v)) return std::string(static_cast<std::size_t>(frac) + 1, '0');
  // v = mant * 2^e with a 53-bit mantissa (fewer bits below the normal range).
  int ex = 0;
  const double fr = std::frexp(v, &ex);
  auto mant = static_cast<std::uint64_t>(std::ldexp(fr, 53));
  int e = ex - 53;
  if (e < -1074) {
    mant >>= (-1074 - e);
    e = -1074;
  }
  // value = r / s; margins mHigh / s and mLow / s are half the gaps to the
  // neighbouring doubles (the gap below is half as wide at a power of two).
  const int b = e < 2 ? 2 - e : 0;
  BigNat r(mant);
  r.Shl(e + b);
  BigNat s(1);
  s.Shl(b);
  BigNat mHigh(1);
  mHigh.Shl(e - 1 + b);
  const bool narrowBelow = mant == (std::uint64_t{1} << 52) && e > -1074;
  BigNat mLow(1);
  mLow.Shl(e - (narrowBelow ? 2 : 1) + b);
  // Round-to-even doubles own their boundaries.
  const bool inclusive = (mant & 1) == 0;
  for (int i = 0; i < frac; ++i) r.Mul(10);  // the value is scaled, the margins are not
  std::vector<BigNat> unit{s};  // unit[k] = s * 10^k
  for (;;) {
    BigNat next = unit.back();
    next.Mul(10);
    if (Cmp(next, r) > 0) break;
    unit.push_back(next);
  }
  for (std::size_t k = unit.size(); k-- > 0;) {
    char d = '0';
    while (Cmp(r, unit[k]) >= 0) {
      r.Sub(unit[k]);
      ++d;
    }
    digits += d;
    const int lowCmp = Cmp(r, mLow);
    BigNat up = r;
    up.Add(mHigh);
    const int highCmp = Cmp(up, unit[k]);
    const bool low = lowCmp < 0 || (inclusive && lowCmp == 0);
    const bool high = highCmp > 0 || (inclusive && highCmp == 0);
    if (low || high || k == 0) {
      BigNat twice = r;
      twice.Add(r);
      const int half = Cmp(twice, unit[k]);
      // Past the last place asked for, ties round away from zero.
      bool roundUp = false;
      if (low && high) roundUp = half > 0 || (k == 0 && half == 0);
      else if (high) roundUp = true;
      else if (!low) roundUp = half >= 0;
      if (roundUp) RoundUp(digits);
      digits.append(k, '0');
      break;
    }
  }
  if (digits.size() < static_cast<std::size_t>(frac) + 1)
    digits.insert(0, static_cast<std::size_t>(frac) + 1 - digits.size(), '0');
  return digits;
}

}  // namespace quarvel::avm2
