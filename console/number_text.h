// number_text.h: how a settings value becomes a number, and a number becomes text.
#pragma once
#include <string>
#include <string_view>

namespace zentrel::console {

// The number at the start of a value text:
// - blanks, tabs and line feeds are skipped wherever they stand, also
//   between digits;
// - an optional sign, digits with at most one decimal point (always the
//   point, whatever the locale), an optional exponent E or e with its own
//   optional sign and digits;
// - or &H / &O and a whole number in hexadecimal / octal, read as a 32-bit
//   two's-complement value: &HFFFF is 65535, &HFFFFFFFF is -1. Leading
//   zeros are free; a digit that would need a 33rd bit ends the number,
//   like any other byte that does not fit;
// - reading stops at the first byte that does not fit (a letter, a comma,
//   a zero byte); no digit read gives 0.
// The result is always finite: a number too large for a double gives the
// largest double of its sign, one too small gives 0.
double parseNumber(std::string_view text);

// The shortest decimal text of a double with at most 15 significant
// digits: "2", "0.5", "1101", "-3.25". Magnitudes of 1E+15 and above or
// below 0.0001 take the exponent form "1E+15", "1.5E-07". The decimal
// separator is always the point.
std::string doubleText(double value);

// The same for a single-precision number (window positions): at most 7
// significant digits, the exponent form from 1E+07 up.
std::string singleText(float value);

} // namespace zentrel::console
