// The digits Number.prototype.toFixed prints, as Flash's generator makes them.
#pragma once

#include <string>

namespace quarvel::avm2 {

// The decimal digits of |v| * 10^frac rounded to an integer, as Flash's
// toFixed makes them (no sign, no point; at least frac + 1 digits).
// Flash scales the value by 10^frac but keeps the margin of half a unit in
// the last place unscaled, so digit generation stops as soon as the digits
// written identify the double within that margin: wide numbers show fewer
// exact digits the fewer places are asked for, and trailing positions are 0.
std::string FixedDigits(double v, int frac);

}  // namespace quarvel::avm2
