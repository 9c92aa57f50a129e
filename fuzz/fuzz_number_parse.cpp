// fuzz_number_parse.cpp: libFuzzer target for the number parse of settings values.
//
// Beyond "no crash": the result is always finite; on a well-formed decimal
// number (blanks anywhere, sign, digits with one point, exponent, nothing
// after it) it is exactly what strtod gives for the text without its blanks,
// wherever strtod reports no range error; on &H / &O with at most 32 bits of
// digits it is the 32-bit two's-complement value; and the text Zentrel
// writes for a number (a caption, a window position) reads back as a number
// with the same text.
#include "console/number_text.h"

#include <cerrno>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <regex>
#include <string>

namespace {

[[noreturn]] void fail(const std::string &text, const char *what, double got, double want)
{
    std::fprintf(stderr, "\"%s\": %s: got %.17g, want %.17g\n", text.c_str(), what, got, want);
    std::abort();
}

std::string withoutBlanks(const std::string &text)
{
    std::string kept;
    for (const char c : text)
        if (c != ' ' && c != '\t' && c != '\n')
            kept += c;
    return kept;
}

void checkDecimal(const std::string &text, const std::string &compact, double got)
{
    static const std::regex wellFormed(R"([+-]?([0-9]+\.?[0-9]*|\.[0-9]+)([eE][+-]?[0-9]+)?)");
    // Long exponents make strtod and the parse disagree only on out-of-range
    // values, which strtod flags anyway; the length cap keeps the regex cheap.
    if (compact.size() > 400 || !std::regex_match(compact, wellFormed))
        return;
    errno = 0;
    const double want = std::strtod(compact.c_str(), nullptr);
    if (errno == ERANGE)
        return;   // overflow and underflow: the parse caps, strtod flags
    if (got != want || std::signbit(got) != std::signbit(want + 0.0))
        fail(text, "differs from strtod", got, want);
}

void checkWhole(const std::string &text, const std::string &compact, double got)
{
    static const std::regex hex(R"(&[Hh]0*([0-9A-Fa-f]{1,8}))");
    static const std::regex octal(R"(&[Oo]0*([0-7]{1,10}))");
    std::smatch digits;
    int radix = 0;
    if (std::regex_match(compact, digits, hex))
        radix = 16;
    else if (std::regex_match(compact, digits, octal))
        radix = 8;
    if (radix == 0)
        return;
    const unsigned long long value = std::strtoull(digits[1].str().c_str(), nullptr, radix);
    if (value > 0xFFFFFFFFull)
        return;   // the digit that needs a 33rd bit ends the number instead
    const double want = double(std::int32_t(std::uint32_t(value)));
    if (got != want)
        fail(text, "differs from strtoull", got, want);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char *>(data), size);
    const double got = zentrel::console::parseNumber(text);
    if (!std::isfinite(got))
        fail(text, "not finite", got, 0);

    // Settings values reach the parse without their zero byte and the rest.
    const std::string compact = withoutBlanks(text);
    if (compact.find('\0') == std::string::npos) {
        checkDecimal(text, compact, got);
        checkWhole(text, compact, got);
    }

    const std::string written = zentrel::console::doubleText(got);
    if (zentrel::console::doubleText(zentrel::console::parseNumber(written)) != written)
        fail(text, ("text " + written + " does not read back").c_str(), got, got);
    // Window positions are singles, written with 7 significant digits. Where
    // a single's spacing is finer than the 7th digit (from 0.01 up to 2^24,
    // decade by decade) the text reads back as the same single; beyond that
    // 7 digits cannot hold every single, so 1E+28 reads back as the single
    // below it.
    if (got == 0 || (std::abs(got) >= 0.01 && std::abs(got) < 16777216.0)) {
        const std::string single = zentrel::console::singleText(float(got));
        const double again = zentrel::console::parseNumber(single);
        if (zentrel::console::singleText(float(again)) != single)
            fail(text, ("single text " + single + " does not read back").c_str(), got, got);
    }
    return 0;
}
