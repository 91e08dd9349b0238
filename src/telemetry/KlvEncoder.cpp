#include "telemetry/KlvEncoder.h"

#include "telemetry/Ber.h"
#include "telemetry/KlvPacket.h"

#include <cmath>
#include <stdexcept>
#include <string>

namespace skyframe {

const std::array<unsigned char, 16> kUasLocalSetKey = {
    0x06, 0x0E, 0x2B, 0x34, 0x02, 0x0B, 0x01, 0x01, 0x0E, 0x01, 0x03, 0x01, 0x01, 0x00, 0x00, 0x00};

namespace {

// Rounded, clamped ratio * divisor; NaN stores 0.
double quantize(double ratio, double divisor, double low, double high) {
    const double raw = std::round(ratio * divisor);
    if (std::isnan(raw)) {
        return 0.0;
    }
    return raw < low ? low : (raw > high ? high : raw);
}

void appendBigEndian(std::vector<unsigned char>& out, uint64_t raw, int width) {
    for (int i = width - 1; i >= 0; --i) {
        out.push_back(static_cast<unsigned char>(raw >> (8 * i)));
    }
}

void appendItemRaw(std::vector<unsigned char>& out, uint32_t tag, uint64_t raw, int width) {
    appendBerOid(out, tag);
    appendBerLength(out, static_cast<uint32_t>(width));
    appendBigEndian(out, raw, width);
}

void appendU16(std::vector<unsigned char>& out, uint32_t tag, double value, double scale,
               double offset = 0.0) {
    if (!std::isnan(value)) {
        appendItemRaw(out, tag, storeU16(value, scale, offset), 2);
    }
}

void appendS16(std::vector<unsigned char>& out, uint32_t tag, double value, double scale) {
    if (!std::isnan(value)) {
        appendItemRaw(out, tag, static_cast<uint16_t>(storeS16(value, scale)), 2);
    }
}

void appendU32(std::vector<unsigned char>& out, uint32_t tag, double value, double scale) {
    if (!std::isnan(value)) {
        appendItemRaw(out, tag, storeU32(value, scale), 4);
    }
}

void appendS32(std::vector<unsigned char>& out, uint32_t tag, double value, double scale) {
    if (!std::isnan(value)) {
        appendItemRaw(out, tag, static_cast<uint32_t>(storeS32(value, scale)), 4);
    }
}

} // namespace

uint16_t storeU16(double value, double scale, double offset) {
    return static_cast<uint16_t>(quantize((value + offset) / scale, 65535.0, 0.0, 65535.0));
}

int16_t storeS16(double value, double scale) {
    return static_cast<int16_t>(quantize(value / scale, 32767.0, -32767.0, 32767.0));
}

uint32_t storeU32(double value, double scale) {
    return static_cast<uint32_t>(quantize(value / scale, 4294967295.0, 0.0, 4294967295.0));
}

int32_t storeS32(double value, double scale) {
    return static_cast<int32_t>(quantize(value / scale, 2147483647.0, -2147483647.0, 2147483647.0));
}

double wrapDegrees(double value, double low, double high) {
    if (!std::isfinite(value) || (value >= low && value <= high)) {
        return value;
    }
    const double span = high - low;
    double wrapped = std::fmod(value - low, span);
    if (wrapped < 0.0) {
        wrapped += span;
    }
    return low + wrapped;
}

void appendKlvItem(std::vector<unsigned char>& out, uint32_t tag, const unsigned char* value,
                   size_t length) {
    if (length > UINT32_MAX) {
        throw std::invalid_argument("KLV item value longer than 4 GiB");
    }
    appendBerOid(out, tag);
    appendBerLength(out, static_cast<uint32_t>(length));
    out.insert(out.end(), value, value + length);
}

void appendDecodedItems(std::vector<unsigned char>& out, const KlvRecord& r) {
    if (!std::isnan(r.timestamp)) {
        // 2^64 as a double; anything at or above it does not fit the stored width.
        constexpr double kTwoTo64 = 18446744073709551616.0;
        const double us = std::round(r.timestamp);
        const uint64_t raw = us <= 0.0        ? 0
                             : us >= kTwoTo64 ? UINT64_MAX
                                              : static_cast<uint64_t>(us);
        appendItemRaw(out, 2, raw, 8);
    }
    appendU16(out, 5, wrapDegrees(r.platformHeading, 0.0, 360.0), 360.0);
    appendS16(out, 6, r.platformPitch, 20.0);
    appendS16(out, 7, r.platformRoll, 50.0);
    appendS32(out, 13, r.sensorLatitude, 90.0);
    appendS32(out, 14, wrapDegrees(r.sensorLongitude, -180.0, 180.0), 180.0);
    appendU16(out, 15, r.sensorAltitude, 19900.0, 900.0);
    appendU16(out, 16, r.horizontalFov, 180.0);
    appendU16(out, 17, r.verticalFov, 180.0);
    appendU32(out, 18, wrapDegrees(r.sensorAzimuth, 0.0, 360.0), 360.0);
    appendS32(out, 19, wrapDegrees(r.sensorElevation, -180.0, 180.0), 180.0);
    appendU32(out, 20, wrapDegrees(r.sensorRoll, 0.0, 360.0), 360.0);
    appendS32(out, 23, r.frameCenterLatitude, 90.0);
    appendS32(out, 24, wrapDegrees(r.frameCenterLongitude, -180.0, 180.0), 180.0);
    appendU16(out, 25, r.frameCenterElevation, 19900.0, 900.0);
    // Items beyond the fifteen only when the record says it carries them, so that the
    // packets of records without them keep their exact bytes.
    if (r.carries(&KlvRecord::sensorEllipsoidHeight)) {
        appendU16(out, 75, r.sensorEllipsoidHeight, 19900.0, 900.0);
    }
    if (r.hasCorners) {
        for (int i = 0; i < 4; ++i) {
            appendS32(out, 82 + 2 * static_cast<uint32_t>(i), r.cornerLatitude[i], 90.0);
            appendS32(out, 83 + 2 * static_cast<uint32_t>(i),
                      wrapDegrees(r.cornerLongitude[i], -180.0, 180.0), 180.0);
        }
    }
}

std::vector<unsigned char> wrapUasLocalSet(const std::vector<unsigned char>& items,
                                           bool withChecksum) {
    constexpr size_t kChecksumItemSize = 4; // tag 1, length 2, two bytes
    const size_t valueLength = items.size() + (withChecksum ? kChecksumItemSize : 0);
    if (valueLength > UINT32_MAX) {
        throw std::invalid_argument("KLV local set longer than 4 GiB");
    }
    std::vector<unsigned char> packet(kUasLocalSetKey.begin(), kUasLocalSetKey.end());
    appendBerLength(packet, static_cast<uint32_t>(valueLength));
    packet.reserve(packet.size() + valueLength);
    packet.insert(packet.end(), items.begin(), items.end());
    if (withChecksum) {
        packet.push_back(0x01);
        packet.push_back(0x02);
        const uint16_t sum = klvChecksum(packet.data(), packet.size());
        packet.push_back(static_cast<unsigned char>(sum >> 8));
        packet.push_back(static_cast<unsigned char>(sum & 0xFF));
    }
    return packet;
}

std::vector<unsigned char> encodeUasLocalSet(const KlvRecord& record,
                                             const std::vector<KlvItem>& extraItems) {
    std::vector<unsigned char> items;
    appendDecodedItems(items, record);
    for (const KlvItem& item : extraItems) {
        if (item.tag == 1 || item.tag == 2) {
            throw std::invalid_argument("KLV extra item uses tag " + std::to_string(item.tag) +
                                        ", which the encoder writes itself");
        }
        appendKlvItem(items, item.tag, item.value.data(), item.value.size());
    }
    return wrapUasLocalSet(items);
}

} // namespace skyframe
