// toFixed's digit generator: exact rounding wherever a double's margin is
// below the last place (checked against glibc's exact expansion), and Flash
// Player's recorded digits for numbers whose margin is wider.
#include "player/avm2/fixed_digits.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <random>
#include <string>

namespace quarvel::avm2 {
namespace {

// |v| * 10^frac rounded half away from zero, from printf's exact digits.
std::string ExactRounded(double v, int frac) {
  char buf[1200];
  std::snprintf(buf, sizeof buf, "%.*f", frac + 40, std::fabs(v));
  std::string all;
  for (const char* p = buf; *p; ++p)
    if (*p != '.') all += *p;
  const std::size_t keep = all.size() - 40;
  const bool up = all[keep] >= '5';
  all.resize(keep);
  if (up) {
    std::size_t i = all.size();
    while (i > 0 && all[i - 1] == '9') all[--i] = '0';
    if (i == 0) all.insert(all.begin(), '1');
    else ++all[i - 1];
  }
  const std::size_t lead = all.find_first_not_of('0');
  all = lead == std::string::npos ? "" : all.substr(lead);
  if (all.size() < static_cast<std::size_t>(frac) + 1) all.insert(0, static_cast<std::size_t>(frac) + 1 - all.size(), '0');
  return all;
}

TEST(FixedDigits, NarrowMarginsRoundTheExactValue) {
  std::mt19937_64 rng(7);
  std::uniform_real_distribution<double> mant(1.0, 10.0);
  std::uniform_int_distribution<int> exp10(-12, 14), digits(0, 20);
  for (int i = 0; i < 5000; ++i) {
    const double v = mant(rng) * std::pow(10.0, exp10(rng));
    const int frac = digits(rng);
    ASSERT_EQ(FixedDigits(v, frac), ExactRounded(v, frac)) << v << " to " << frac;
  }
  // Ties (exact halves) round away from zero; zero pads to frac + 1 digits.
  EXPECT_EQ(FixedDigits(2.5, 0), "3");
  EXPECT_EQ(FixedDigits(0.5, 0), "1");
  EXPECT_EQ(FixedDigits(1.25, 1), "13");
  EXPECT_EQ(FixedDigits(1.005, 2), "100");
  EXPECT_EQ(FixedDigits(0.05, 1), "01");
  EXPECT_EQ(FixedDigits(0.0, 3), "0000");
  EXPECT_EQ(FixedDigits(0.1, 20), "010000000000000000555");
  EXPECT_EQ(FixedDigits(5e-324, 2), "000");
}

TEST(FixedDigits, WideMarginsStopEarlyAsFlashDoes) {
  // Recorded from Flash Player: 1.2315e21 is 1231500000000000131072 exactly.
  const char* const big[] = {"1231500000000000000000", "12315000000000001300000", "123150000000000013000000",
                             "1231500000000000131000000", "12315000000000001310700000", "123150000000000013107200000"};
  for (int f = 0; f < 6; ++f) EXPECT_EQ(FixedDigits(1.2315e21, f), big[f]) << f;
  EXPECT_EQ(FixedDigits(1.2315e21, 20), "123150000000000013107200000000000000000000");
  // 12315987654321987584 exactly.
  EXPECT_EQ(FixedDigits(1.2315987654321987e19, 0), "12315987654321988000");
  EXPECT_EQ(FixedDigits(1.2315987654321987e19, 1), "123159876543219876000");
  EXPECT_EQ(FixedDigits(1.2315987654321987e19, 2), "1231598765432198758000");
  EXPECT_EQ(FixedDigits(-1.2315987654321987e19, 0), "12315987654321988000");
  EXPECT_EQ(FixedDigits(1e300, 0).size(), 301u);
}

}  // namespace
}  // namespace quarvel::avm2
