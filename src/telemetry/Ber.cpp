#include "telemetry/Ber.h"

namespace skyframe {

void appendBerLength(std::vector<unsigned char>& out, uint32_t length) {
    if (length < 0x80) {
        out.push_back(static_cast<unsigned char>(length));
        return;
    }
    int count = 1;
    while (count < 4 && (length >> (8 * count)) != 0) {
        ++count;
    }
    out.push_back(static_cast<unsigned char>(0x80 | count));
    for (int i = count - 1; i >= 0; --i) {
        out.push_back(static_cast<unsigned char>(length >> (8 * i)));
    }
}

void appendBerOid(std::vector<unsigned char>& out, uint32_t number) {
    int groups = 1;
    while (groups < 5 && (number >> (7 * groups)) != 0) {
        ++groups;
    }
    for (int i = groups - 1; i >= 0; --i) {
        const auto group = static_cast<unsigned char>((number >> (7 * i)) & 0x7F);
        out.push_back(i > 0 ? static_cast<unsigned char>(group | 0x80) : group);
    }
}

} // namespace skyframe
