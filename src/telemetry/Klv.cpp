#include "telemetry/Klv.h"

#include "telemetry/Ber.h"

#include <algorithm>
#include <climits>
#include <iostream>
#include <ostream>

namespace skyframe {

namespace {

constexpr size_t kKeySize = 16;

// Stored widths of the decoded tags, in bytes.
constexpr int kWidth16 = 2;
constexpr int kWidth32 = 4;

inline uint32_t readU16(const unsigned char* b) {
    return (static_cast<uint32_t>(b[0]) << 8) | b[1];
}

inline uint32_t readU32(const unsigned char* b) {
    return (static_cast<uint32_t>(b[0]) << 24) | (static_cast<uint32_t>(b[1]) << 16) |
           (static_cast<uint32_t>(b[2]) << 8) | b[3];
}

inline int decodeUnsigned(const unsigned char* bytes, int length, int width, double scale,
                          double offset, double& field) {
    if (length != width) {
        return kKlvWrongLength;
    }
    const double ratio = width == kWidth16 ? normU16(bytes) : normU32(bytes);
    field = ratio * scale - offset;
    return kKlvOk;
}

inline int decodeSigned(const unsigned char* bytes, int length, int width, double scale,
                        double& field) {
    if (length != width) {
        return kKlvWrongLength;
    }
    const double ratio = width == kWidth16 ? normS16(bytes) : normS32(bytes);
    // Only the most negative code falls below -1: ST 0601's "out of range" marker.
    if (ratio < -1.0) {
        return kKlvOutOfRange;
    }
    field = ratio * scale;
    return kKlvOk;
}

} // namespace

double normU16(const unsigned char* bytes) {
    return readU16(bytes) / 65535.0;
}

double normS16(const unsigned char* bytes) {
    const int32_t raw = static_cast<int32_t>(readU16(bytes)) - (bytes[0] & 0x80 ? 0x10000 : 0);
    return raw / 32767.0;
}

double normU32(const unsigned char* bytes) {
    return readU32(bytes) / 4294967295.0;
}

double normS32(const unsigned char* bytes) {
    const int64_t raw =
        static_cast<int64_t>(readU32(bytes)) - (bytes[0] & 0x80 ? INT64_C(0x100000000) : 0);
    return static_cast<double>(raw) / 2147483647.0;
}

double decodeTimestamp(const unsigned char* bytes) {
    double value = 0.0;
    for (int i = 0; i < 8; ++i) {
        value = value * 256.0 + bytes[i];
    }
    return value;
}

int decodeTimestampItem(const unsigned char* bytes, KlvRecord& record, int length) {
    if (length != 8) {
        return kKlvWrongLength;
    }
    record.timestamp = decodeTimestamp(bytes);
    return kKlvOk;
}

int decodePlatformHeading(const unsigned char* bytes, KlvRecord& record, int length) {
    return decodeUnsigned(bytes, length, kWidth16, 360.0, 0.0, record.platformHeading);
}

int decodePlatformPitch(const unsigned char* bytes, KlvRecord& record, int length) {
    return decodeSigned(bytes, length, kWidth16, 20.0, record.platformPitch);
}

int decodePlatformRoll(const unsigned char* bytes, KlvRecord& record, int length) {
    return decodeSigned(bytes, length, kWidth16, 50.0, record.platformRoll);
}

int decodeSensorLatitude(const unsigned char* bytes, KlvRecord& record, int length) {
    return decodeSigned(bytes, length, kWidth32, 90.0, record.sensorLatitude);
}

int decodeSensorLongitude(const unsigned char* bytes, KlvRecord& record, int length) {
    return decodeSigned(bytes, length, kWidth32, 180.0, record.sensorLongitude);
}

// Heights: ratio * 19900 - 900, multiplied first, then shifted.
int decodeSensorAltitude(const unsigned char* bytes, KlvRecord& record, int length) {
    return decodeUnsigned(bytes, length, kWidth16, 19900.0, 900.0, record.sensorAltitude);
}

int decodeHorizontalFov(const unsigned char* bytes, KlvRecord& record, int length) {
    return decodeUnsigned(bytes, length, kWidth16, 180.0, 0.0, record.horizontalFov);
}

int decodeVerticalFov(const unsigned char* bytes, KlvRecord& record, int length) {
    return decodeUnsigned(bytes, length, kWidth16, 180.0, 0.0, record.verticalFov);
}

int decodeSensorAzimuth(const unsigned char* bytes, KlvRecord& record, int length) {
    return decodeUnsigned(bytes, length, kWidth32, 360.0, 0.0, record.sensorAzimuth);
}

int decodeSensorElevation(const unsigned char* bytes, KlvRecord& record, int length) {
    return decodeSigned(bytes, length, kWidth32, 180.0, record.sensorElevation);
}

int decodeSensorRoll(const unsigned char* bytes, KlvRecord& record, int length) {
    return decodeUnsigned(bytes, length, kWidth32, 360.0, 0.0, record.sensorRoll);
}

int decodeFrameCenterLatitude(const unsigned char* bytes, KlvRecord& record, int length) {
    return decodeSigned(bytes, length, kWidth32, 90.0, record.frameCenterLatitude);
}

int decodeFrameCenterLongitude(const unsigned char* bytes, KlvRecord& record, int length) {
    return decodeSigned(bytes, length, kWidth32, 180.0, record.frameCenterLongitude);
}

int decodeFrameCenterElevation(const unsigned char* bytes, KlvRecord& record, int length) {
    return decodeUnsigned(bytes, length, kWidth16, 19900.0, 900.0, record.frameCenterElevation);
}

namespace {

int decodeKnownItem(uint32_t tag, const unsigned char* bytes, KlvRecord& record, int length) {
    switch (tag) {
    case 2:
        return decodeTimestampItem(bytes, record, length);
    case 5:
        return decodePlatformHeading(bytes, record, length);
    case 6:
        return decodePlatformPitch(bytes, record, length);
    case 7:
        return decodePlatformRoll(bytes, record, length);
    case 13:
        return decodeSensorLatitude(bytes, record, length);
    case 14:
        return decodeSensorLongitude(bytes, record, length);
    case 15:
        return decodeSensorAltitude(bytes, record, length);
    case 16:
        return decodeHorizontalFov(bytes, record, length);
    case 17:
        return decodeVerticalFov(bytes, record, length);
    case 18:
        return decodeSensorAzimuth(bytes, record, length);
    case 19:
        return decodeSensorElevation(bytes, record, length);
    case 20:
        return decodeSensorRoll(bytes, record, length);
    case 23:
        return decodeFrameCenterLatitude(bytes, record, length);
    case 24:
        return decodeFrameCenterLongitude(bytes, record, length);
    case 25:
        return decodeFrameCenterElevation(bytes, record, length);
    default:
        return kKlvOk;
    }
}

} // namespace

int decodeItem(uint32_t tag, const unsigned char* bytes, KlvRecord& record, int length) {
    const int status = decodeKnownItem(tag, bytes, record, length);
    if (status == kKlvOk) {
        for (const KlvField& f : kKlvFields) {
            if (static_cast<uint32_t>(f.tag) == tag) {
                record.markPresent(f.field);
                break;
            }
        }
    }
    return status;
}

int parseItems(KlvRecord& record, const unsigned char* value, int length) {
    if (length <= 0 || value == nullptr) {
        return kKlvOk;
    }
    const unsigned char* p = value;
    const unsigned char* const end = value + length;
    int status = kKlvOk;
    while (p < end) {
        uint32_t tag = *p;
        if (tag < 0x80) {
            ++p;
        } else {
            const size_t used = decodeBerOid(p, static_cast<size_t>(end - p), tag);
            if (used == 0) {
                return kKlvTruncated;
            }
            p += used;
        }
        if (p == end) {
            return kKlvTruncated;
        }
        uint32_t itemLength = *p;
        if (itemLength < 0x80) {
            ++p;
        } else {
            const size_t used = decodeBerLength(p, static_cast<size_t>(end - p), itemLength);
            if (used == 0) {
                return kKlvTruncated;
            }
            p += used;
        }
        if (itemLength > static_cast<size_t>(end - p)) {
            return kKlvTruncated;
        }
        const int itemStatus = decodeItem(tag, p, record, static_cast<int>(itemLength));
        p += itemLength;
        if (itemStatus == kKlvWrongLength) {
            return itemStatus;
        }
        if (itemStatus != kKlvOk) {
            status = itemStatus;
        }
    }
    return status;
}

namespace {

// Reads up to `count` bytes, appending them to `out`; returns how many arrived. Grows the
// buffer as bytes arrive, so a corrupt length of gigabytes costs no more memory than the
// file actually holds.
size_t readAppend(std::istream& in, std::vector<unsigned char>& out, size_t count) {
    constexpr size_t kChunk = 1 << 16;
    size_t total = 0;
    while (total < count) {
        const size_t want = std::min(kChunk, count - total);
        const size_t old = out.size();
        out.resize(old + want);
        in.read(reinterpret_cast<char*>(out.data() + old), static_cast<std::streamsize>(want));
        const auto got = static_cast<size_t>(in.gcount());
        out.resize(old + got);
        total += got;
        if (got < want) {
            break;
        }
    }
    return total;
}

void printKey(std::ostream& log, const unsigned char* key) {
    log << "key:";
    for (size_t i = 0; i < kKeySize && key[i] != 0; ++i) {
        log << static_cast<char>(key[i]);
    }
    log << '\n';
}

} // namespace

int readNextPacket(KlvRecord& record) {
    return readNextPacket(record, std::cout);
}

int readNextPacket(KlvRecord& record, std::ostream& log, PacketReadDetails* details) {
    std::istream* in = record.source.get();
    if (in == nullptr || !*in || in->peek() == std::istream::traits_type::eof()) {
        return -1;
    }
    PacketReadDetails local;
    PacketReadDetails& d = details != nullptr ? *details : local;
    d = PacketReadDetails{};
    d.parseStatus = kKlvTruncated;
    std::vector<unsigned char>& packet = d.packet;

    if (readAppend(*in, packet, kKeySize) < kKeySize) {
        return 0;
    }
    printKey(log, packet.data());

    if (readAppend(*in, packet, 1) < 1) {
        return 0;
    }
    const unsigned char first = packet[kKeySize];
    if (first >= 0x80) {
        const size_t count = first & 0x7F;
        if (count == 0 || count > 4) {
            // Without a length the following packets cannot be framed.
            in->setstate(std::ios::failbit);
            return 0;
        }
        if (readAppend(*in, packet, count) < count) {
            return 0;
        }
    }
    uint32_t length = 0;
    d.valueOffset =
        kKeySize + decodeBerLength(packet.data() + kKeySize, packet.size() - kKeySize, length);
    log << "tlv_size: " << length << '\n';
    if (length > static_cast<uint32_t>(INT_MAX)) {
        // Beyond what one walk can address; such a length is corrupt, not a packet.
        in->setstate(std::ios::failbit);
        return 0;
    }
    const size_t received = readAppend(*in, packet, length);
    d.complete = received == length;
    d.parseStatus = parseItems(record, packet.data() + d.valueOffset, static_cast<int>(received));
    if (!d.complete) {
        d.parseStatus = kKlvTruncated;
    }
    record.status = d.parseStatus;
    return 0;
}

} // namespace skyframe
