#pragma once

// Builds MISB EG 0104 universal sets from physical values, for tests and benchmarks: the
// inverse of parseEg0104, written independently of it (values byte by byte, big-endian).

#include "telemetry/Ber.h"
#include "telemetry/Eg0104.h"

#include <cstdint>
#include <cstring>
#include <vector>

namespace skyframe {
namespace eg0104test {

using Bytes = std::vector<unsigned char>;

inline Bytes bigEndian(uint64_t bits, size_t size) {
    Bytes out(size);
    for (size_t i = 0; i < size; ++i) {
        out[size - 1 - i] = static_cast<unsigned char>(bits >> (8 * i));
    }
    return out;
}

inline Bytes floatBytes(float value) {
    uint32_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    return bigEndian(bits, 4);
}

inline Bytes doubleBytes(double value) {
    uint64_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    return bigEndian(bits, 8);
}

// The document's key of an element.
inline UniversalKey keyOf(Eg0104Element element) {
    for (const Eg0104ElementInfo& info : kEg0104Elements) {
        if (info.element == element) {
            return info.key;
        }
    }
    return {};
}

struct Element {
    UniversalKey key;
    Bytes value;
};

inline Element element(Eg0104Element e, const Bytes& value) {
    return {keyOf(e), value};
}

// Key, BER length and value of each element, back to back.
inline Bytes encodeElements(const std::vector<Element>& elements) {
    Bytes out;
    for (const Element& e : elements) {
        out.insert(out.end(), e.key.begin(), e.key.end());
        appendBerLength(out, static_cast<uint32_t>(e.value.size()));
        out.insert(out.end(), e.value.begin(), e.value.end());
    }
    return out;
}

// A whole set: the set key, the BER length of the value, the elements.
inline Bytes encodeSet(const std::vector<Element>& elements) {
    const Bytes value = encodeElements(elements);
    Bytes out(kEg0104SetKey.begin(), kEg0104SetKey.end());
    appendBerLength(out, static_cast<uint32_t>(value.size()));
    out.insert(out.end(), value.begin(), value.end());
    return out;
}

} // namespace eg0104test
} // namespace skyframe
