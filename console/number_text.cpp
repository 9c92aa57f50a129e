// number_text.cpp: the number parse of settings values and the text of numbers.
#include "console/number_text.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <system_error>

namespace zentrel::console {
namespace {

// Bytes of a value text, with blanks, tabs and line feeds skipped wherever
// they stand.
class Cursor
{
public:
    explicit Cursor(std::string_view text) : m_text(text) {}

    // The next byte that counts (0..255), or -1 at the end.
    int peek()
    {
        while (m_pos < m_text.size()) {
            const char c = m_text[m_pos];
            if (c != ' ' && c != '\t' && c != '\n')
                return static_cast<unsigned char>(c);
            ++m_pos;
        }
        return -1;
    }
    void take() { ++m_pos; }

private:
    std::string_view m_text;
    std::size_t m_pos = 0;
};

bool isDigit(int c) { return c >= '0' && c <= '9'; }

int digitValue(int c, unsigned radix)
{
    int value = -1;
    if (isDigit(c))
        value = c - '0';
    else if (c >= 'A' && c <= 'F')
        value = c - 'A' + 10;
    else if (c >= 'a' && c <= 'f')
        value = c - 'a' + 10;
    return value >= 0 && static_cast<unsigned>(value) < radix ? value : -1;
}

// &H and &O numbers: 32 bits at most, read as a signed 32-bit value.
double parseWhole(Cursor &in, unsigned radix)
{
    std::uint64_t value = 0;
    for (int digit = digitValue(in.peek(), radix); digit >= 0;
         digit = digitValue(in.peek(), radix)) {
        const std::uint64_t next = value * radix + static_cast<unsigned>(digit);
        if (next > 0xFFFFFFFFu)
            break;
        value = next;
        in.take();
    }
    return static_cast<double>(static_cast<std::int32_t>(static_cast<std::uint32_t>(value)));
}

double parseDecimal(Cursor &in)
{
    bool negative = false;
    if (in.peek() == '+' || in.peek() == '-') {
        negative = in.peek() == '-';
        in.take();
    }

    // Digits and the point go to from_chars as they stand, so the value is
    // rounded once, correctly, whatever the locale.
    std::string mantissa;
    bool point = false;
    int digits = 0;
    int magnitude = 0;       // decimal position of the first significant digit
    bool significant = false;
    for (int c = in.peek();; c = in.peek()) {
        if (isDigit(c)) {
            ++digits;
            if (c != '0')
                significant = true;
            if (!point && significant)
                ++magnitude;
            else if (point && !significant)
                --magnitude;
        } else if (c != '.' || point) {
            break;
        } else {
            point = true;
        }
        mantissa += static_cast<char>(c);
        in.take();
    }
    if (digits == 0)
        return 0;

    // An exponent of absurd length is capped; it only decides between the
    // largest double and zero then.
    long exponent = 0;
    if (in.peek() == 'E' || in.peek() == 'e') {
        in.take();
        bool negativeExponent = false;
        if (in.peek() == '+' || in.peek() == '-') {
            negativeExponent = in.peek() == '-';
            in.take();
        }
        for (int c = in.peek(); isDigit(c); c = in.peek()) {
            exponent = std::min(exponent * 10 + (c - '0'), 100000L);
            in.take();
        }
        if (negativeExponent)
            exponent = -exponent;
    }

    const std::string text = mantissa + "e" + std::to_string(exponent);
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error == std::errc::result_out_of_range)
        value = significant && magnitude + exponent > 0 ? std::numeric_limits<double>::max() : 0.0;
    else if (error != std::errc() || !std::isfinite(value))
        value = 0;
    if (value == 0)
        return 0;   // never a negative zero
    return negative ? -value : value;
}

// The shortest decimal text of the value rounded to at most `precision`
// significant digits.
std::string numberText(double value, int precision)
{
    if (std::isnan(value) || value == 0)
        return "0";
    if (std::isinf(value))
        value = value > 0 ? std::numeric_limits<double>::max()
                          : std::numeric_limits<double>::lowest();

    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value,
                                      std::chars_format::scientific, precision - 1);
    const std::string_view scientific(buffer, static_cast<std::size_t>(result.ptr - buffer));

    // "-d.ddde+XX": split into sign, significant digits and exponent.
    std::size_t pos = 0;
    const bool negative = scientific[0] == '-';
    if (negative)
        ++pos;
    const std::size_t e = scientific.find('e');
    std::string digits;
    for (; pos < e; ++pos)
        if (scientific[pos] != '.')
            digits += scientific[pos];
    while (digits.size() > 1 && digits.back() == '0')
        digits.pop_back();
    int exponent = 0;
    std::from_chars(scientific.data() + e + 1 + (scientific[e + 1] == '+'),
                    scientific.data() + scientific.size(), exponent);

    std::string text = negative ? "-" : "";
    if (exponent >= precision || exponent < -4) {
        text += digits[0];
        if (digits.size() > 1)
            text += "." + digits.substr(1);
        text += exponent < 0 ? "E-" : "E+";
        const std::string power = std::to_string(std::abs(exponent));
        text += (power.size() < 2 ? "0" : "") + power;
    } else if (exponent < 0) {
        text += "0." + std::string(static_cast<std::size_t>(-exponent - 1), '0') + digits;
    } else {
        const auto whole = static_cast<std::size_t>(exponent) + 1;
        if (digits.size() <= whole) {
            text += digits + std::string(whole - digits.size(), '0');
        } else {
            text += digits.substr(0, whole) + "." + digits.substr(whole);
        }
    }
    return text;
}

} // namespace

double parseNumber(std::string_view text)
{
    Cursor in(text);
    if (in.peek() == '&') {
        in.take();
        const int radix = in.peek();
        if (radix == 'H' || radix == 'h') {
            in.take();
            return parseWhole(in, 16);
        }
        if (radix == 'O' || radix == 'o') {
            in.take();
            return parseWhole(in, 8);
        }
        return 0;
    }
    return parseDecimal(in);
}

std::string doubleText(double value)
{
    return numberText(value, 15);
}

std::string singleText(float value)
{
    return numberText(static_cast<double>(value), 7);
}

} // namespace zentrel::console
