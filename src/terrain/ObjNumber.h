#pragma once

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace skyframe {

// Longest text appendObjNumber can produce ("-1.23457e-308").
constexpr int kObjNumberMaxChars = 16;

// Writes v as an output stream with default settings would (precision 6, %g style: fixed
// from 1e-4 up to below one million, exponent notation otherwise, trailing zeros dropped,
// "-0" for negative zero) into the kObjNumberMaxChars bytes at out. Returns the end of the
// text. Tiles are hundreds of megabytes of such numbers, so this avoids iostreams while
// keeping their exact bytes.
inline char* appendObjNumber(char* out, double v) {
    const double a = std::fabs(v);
    if (a >= 1e6 && a < 1e7) {
        // Earth-centred coordinates nearly all lie here: six significant digits are the
        // integer part rounded to tens, ties to even as printf rounds exact decimal ties.
        // The integer part and the fraction are exact in a double, so this rounds the exact
        // binary value just as the general path does.
        if (v < 0) {
            *out++ = '-';
        }
        const auto whole = static_cast<std::uint64_t>(a);
        const double fraction = a - static_cast<double>(whole);
        std::uint64_t digits = whole / 10;
        const unsigned dropped = static_cast<unsigned>(whole % 10);
        if (dropped > 5 || (dropped == 5 && (fraction > 0.0 || (digits & 1) != 0))) {
            ++digits;
        }
        char exponent = '6';
        if (digits == 1000000) {
            digits = 100000;
            exponent = '7';
        }
        char text[6];
        for (int i = 5; i >= 0; --i) {
            text[i] = static_cast<char>('0' + digits % 10);
            digits /= 10;
        }
        int last = 5;
        while (last > 0 && text[last] == '0') {
            --last;
        }
        *out++ = text[0];
        if (last > 0) {
            *out++ = '.';
            std::memcpy(out, text + 1, static_cast<std::size_t>(last));
            out += last;
        }
        std::memcpy(out, "e+0", 3);
        out[3] = exponent;
        return out + 4;
    }
    return std::to_chars(out, out + kObjNumberMaxChars, v, std::chars_format::general, 6).ptr;
}

// Writes a vertex number (decimal, no leading zeros) into at most 10 bytes at out.
inline char* appendObjIndex(char* out, std::uint32_t v) {
    return std::to_chars(out, out + 10, v).ptr;
}

} // namespace skyframe
