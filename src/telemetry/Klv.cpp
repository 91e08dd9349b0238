#include "telemetry/Klv.h"

#include "telemetry/Ber.h"

#include <algorithm>
#include <climits>
#include <initializer_list>
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

namespace {

// Corner items of one walk. Offsets (tags 26-33) need the frame centre, which may come in
// any order, so they are resolved when the walk ends; full corners (tags 82-89) win.
struct CornerItems {
    double offset[8] = {}; // latitudes of points 1-4 at even indices, longitudes at odd
    unsigned offsets = 0;  // bit i: offset[i] arrived
    unsigned full = 0;     // bit i: the record's corner value i arrived in full
};

constexpr double kCornerOffsetScale = 0.075; // degrees at +-(2^15 - 1)

int decodeCornerOffset(uint32_t tag, const unsigned char* bytes, int length, CornerItems& c) {
    const auto i = static_cast<int>(tag - 26);
    double value = 0.0;
    const int status = decodeSigned(bytes, length, kWidth16, kCornerOffsetScale, value);
    if (status == kKlvOk) {
        c.offset[i] = value;
        c.offsets |= 1u << i;
    }
    return status;
}

int decodeFullCorner(uint32_t tag, const unsigned char* bytes, KlvRecord& record, int length,
                     CornerItems& c) {
    const auto i = static_cast<int>(tag - 82);
    const bool latitude = i % 2 == 0;
    double* field = latitude ? &record.cornerLatitude[i / 2] : &record.cornerLongitude[i / 2];
    const int status = decodeSigned(bytes, length, kWidth32, latitude ? 90.0 : 180.0, *field);
    if (status == kKlvOk) {
        c.full |= 1u << i;
    }
    return status;
}

void resolveCorners(KlvRecord& record, const CornerItems& c) {
    const bool centre = record.carries(&KlvRecord::frameCenterLatitude) &&
                        record.carries(&KlvRecord::frameCenterLongitude);
    unsigned resolved = c.full;
    for (int i = 0; i < 8; ++i) {
        const unsigned bit = 1u << i;
        if ((resolved & bit) != 0 || (c.offsets & bit) == 0 || !centre) {
            continue;
        }
        if (i % 2 == 0) {
            record.cornerLatitude[i / 2] = record.frameCenterLatitude + c.offset[i];
        } else {
            record.cornerLongitude[i / 2] = record.frameCenterLongitude + c.offset[i];
        }
        resolved |= bit;
    }
    record.hasCorners = resolved == 0xFFu;
}

constexpr int kChecksumTag = 1;
constexpr uint32_t kEllipsoidHeightTag = 75;

// Tags of the fifteen fields, and the checksum, which is known though not read here.
constexpr uint64_t tagBits(std::initializer_list<int> tags) {
    uint64_t bits = 0;
    for (const int t : tags) {
        bits |= uint64_t{1} << t;
    }
    return bits;
}
constexpr uint64_t kDecodedTags =
    tagBits({kChecksumTag, 2, 5, 6, 7, 13, 14, 15, 16, 17, 18, 19, 20, 23, 24, 25});

bool isCornerOffsetTag(uint32_t tag) {
    return tag >= 26 && tag <= 33;
}

bool isFullCornerTag(uint32_t tag) {
    return tag >= 82 && tag <= 89;
}

int decodeWalkItem(uint32_t tag, const unsigned char* bytes, KlvRecord& record, int length,
                   CornerItems& corners, KlvWalkCounts* counts) {
    int status = kKlvOk;
    if (isCornerOffsetTag(tag)) {
        status = decodeCornerOffset(tag, bytes, length, corners);
    } else if (isFullCornerTag(tag)) {
        status = decodeFullCorner(tag, bytes, record, length, corners);
    } else if (tag == kEllipsoidHeightTag) {
        status =
            decodeUnsigned(bytes, length, kWidth16, 19900.0, 900.0, record.sensorEllipsoidHeight);
        if (status == kKlvOk) {
            record.markPresent(&KlvRecord::sensorEllipsoidHeight);
        }
    } else if (tag < 64 && ((kDecodedTags >> tag) & 1u) != 0) {
        return decodeItem(tag, bytes, record, length);
    } else if (counts != nullptr) {
        ++counts->unknown;
    }
    return status;
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
    return parseItems(record, value, length, nullptr);
}

namespace {

// Reads the tag and length of the item at p; returns null when they, or the item's value,
// would lie beyond `end`.
const unsigned char* itemHeader(const unsigned char* p, const unsigned char* end, uint32_t& tag,
                                uint32_t& itemLength) {
    tag = *p;
    if (tag < 0x80) {
        ++p;
    } else {
        const size_t used = decodeBerOid(p, static_cast<size_t>(end - p), tag);
        if (used == 0) {
            return nullptr;
        }
        p += used;
    }
    if (p == end) {
        return nullptr;
    }
    itemLength = *p;
    if (itemLength < 0x80) {
        ++p;
    } else {
        const size_t used = decodeBerLength(p, static_cast<size_t>(end - p), itemLength);
        if (used == 0) {
            return nullptr;
        }
        p += used;
    }
    return itemLength > static_cast<size_t>(end - p) ? nullptr : p;
}

} // namespace

int parseItems(KlvRecord& record, const unsigned char* value, int length, KlvWalkCounts* counts) {
    record.set = KlvSet::St0601;
    if (length <= 0 || value == nullptr) {
        return kKlvOk;
    }
    const unsigned char* p = value;
    const unsigned char* const end = value + length;
    CornerItems corners;
    int status = kKlvOk;
    while (p < end) {
        uint32_t tag = 0;
        uint32_t itemLength = 0;
        p = itemHeader(p, end, tag, itemLength);
        if (p == nullptr) {
            status = kKlvTruncated;
            break;
        }
        const int itemStatus =
            decodeWalkItem(tag, p, record, static_cast<int>(itemLength), corners, counts);
        p += itemLength;
        if (itemStatus == kKlvWrongLength) {
            status = itemStatus;
            break;
        }
        if (itemStatus == kKlvOutOfRange && counts != nullptr) {
            ++counts->outOfRange;
        }
        if (itemStatus != kKlvOk) {
            status = itemStatus;
        }
    }
    resolveCorners(record, corners);
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
