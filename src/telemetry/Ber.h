#pragma once

// The two Basic Encoding Rules forms that KLV (SMPTE 336M) and the MISB ST 0601 local set
// use: BER lengths and BER-OID numbers. Decoders never read past `available` bytes.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace skyframe {

// Decodes a BER length from data[0 .. available).
//   short form: one byte 0x00-0x7F, the length itself;
//   long form:  0x81-0x84 followed by that many big-endian length bytes.
// Returns the bytes the length field occupies (1 to 5) and stores the length, or returns 0
// when the field does not fit in `available`, or its first byte is 0x80 (the indefinite
// form, which KLV does not allow) or 0x85 and above (more than 32 bits of length).
inline size_t decodeBerLength(const unsigned char* data, size_t available, uint32_t& length) {
    if (available == 0) {
        return 0;
    }
    const unsigned char first = data[0];
    if (first < 0x80) {
        length = first;
        return 1;
    }
    const size_t count = first & 0x7F;
    if (count == 0 || count > 4 || available < count + 1) {
        return 0;
    }
    uint32_t value = 0;
    for (size_t i = 1; i <= count; ++i) {
        value = (value << 8) | data[i];
    }
    length = value;
    return count + 1;
}

// Decodes a BER-OID number from data[0 .. available): seven bits per byte, most significant
// group first, the top bit set on every byte except the last (0x81 0x0E is 142).
// Returns the bytes it occupies and stores the number, or returns 0 when the bytes end
// before a byte with a clear top bit. Numbers beyond 32 bits are stored as UINT32_MAX, so
// that an absurdly long tag is still stepped over rather than misread as a small one.
inline size_t decodeBerOid(const unsigned char* data, size_t available, uint32_t& number) {
    uint64_t value = 0;
    for (size_t i = 0; i < available; ++i) {
        if (value <= UINT32_MAX) {
            value = (value << 7) | (data[i] & 0x7F);
        }
        if ((data[i] & 0x80) == 0) {
            number = value > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(value);
            return i + 1;
        }
    }
    return 0;
}

// Appends `length` in the shortest BER form: short form below 128, else 0x81-0x84 and the
// big-endian bytes.
void appendBerLength(std::vector<unsigned char>& out, uint32_t length);

// Appends `number` as BER-OID in the fewest bytes.
void appendBerOid(std::vector<unsigned char>& out, uint32_t number);

} // namespace skyframe
