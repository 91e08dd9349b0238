#include "telemetry/Eg0104.h"

#include "telemetry/Ber.h"
#include "telemetry/Pointing.h"

#include <cmath>
#include <cstring>

namespace skyframe {

const UniversalKey kEg0104SetKey = {0x06, 0x0E, 0x2B, 0x34, 0x02, 0x01, 0x01, 0x01,
                                    0x0E, 0x01, 0x01, 0x02, 0x01, 0x01, 0x00, 0x00};

namespace {

constexpr uint8_t kFloat = 4;
// Byte 7 of a universal key: the dictionary version, not part of the element's identity.
constexpr size_t kVersionByte = 7;
constexpr uint8_t kDouble = 8;

// The RP 210 dictionary keys of the elements, as EG 0104 lists them (byte 7, the version,
// as published; it is not compared).
constexpr UniversalKey key(unsigned char v, unsigned char b8, unsigned char b9, unsigned char b10,
                           unsigned char b11, unsigned char b12, unsigned char b13,
                           unsigned char b14, unsigned char b15) {
    return {0x06, 0x0E, 0x2B, 0x34, 0x01, 0x01, 0x01, v, b8, b9, b10, b11, b12, b13, b14, b15};
}

using E = Eg0104Element;

} // namespace

const std::array<Eg0104ElementInfo, 24> kEg0104Elements = {{
    {key(0x03, 0x07, 0x02, 0x01, 0x01, 0x01, 0x05, 0x00, 0x00), E::Timestamp, kDouble},
    {key(0x07, 0x07, 0x01, 0x10, 0x01, 0x06, 0x00, 0x00, 0x00), E::PlatformHeading, kFloat},
    {key(0x07, 0x07, 0x01, 0x10, 0x01, 0x05, 0x00, 0x00, 0x00), E::PlatformPitch, kFloat},
    {key(0x07, 0x07, 0x01, 0x10, 0x01, 0x04, 0x00, 0x00, 0x00), E::PlatformRoll, kFloat},
    {key(0x03, 0x07, 0x01, 0x02, 0x01, 0x02, 0x04, 0x02, 0x00), E::SensorLatitude, kDouble},
    {key(0x03, 0x07, 0x01, 0x02, 0x01, 0x02, 0x06, 0x02, 0x00), E::SensorLongitude, kDouble},
    {key(0x01, 0x07, 0x01, 0x02, 0x01, 0x02, 0x02, 0x00, 0x00), E::SensorAltitude, kFloat},
    {key(0x02, 0x04, 0x20, 0x02, 0x01, 0x01, 0x08, 0x00, 0x00), E::HorizontalFov, kFloat},
    {key(0x07, 0x04, 0x20, 0x02, 0x01, 0x01, 0x0A, 0x01, 0x00), E::VerticalFov, kFloat},
    {key(0x01, 0x07, 0x01, 0x10, 0x01, 0x02, 0x00, 0x00, 0x00), E::SensorAzimuth, kFloat},
    {key(0x01, 0x07, 0x01, 0x10, 0x01, 0x03, 0x00, 0x00, 0x00), E::SensorObliquity, kFloat},
    {key(0x01, 0x07, 0x01, 0x10, 0x01, 0x01, 0x00, 0x00, 0x00), E::SensorRoll, kFloat},
    {key(0x01, 0x07, 0x01, 0x08, 0x01, 0x01, 0x00, 0x00, 0x00), E::SlantRange, kFloat},
    {key(0x01, 0x07, 0x01, 0x02, 0x01, 0x03, 0x02, 0x00, 0x00), E::FrameCenterLatitude, kDouble},
    {key(0x01, 0x07, 0x01, 0x02, 0x01, 0x03, 0x04, 0x00, 0x00), E::FrameCenterLongitude, kDouble},
    {key(0x0A, 0x07, 0x01, 0x02, 0x01, 0x03, 0x16, 0x00, 0x00), E::FrameCenterElevation, kFloat},
    {key(0x03, 0x07, 0x01, 0x02, 0x01, 0x03, 0x07, 0x01, 0x00), E::CornerLatitude1, kDouble},
    {key(0x03, 0x07, 0x01, 0x02, 0x01, 0x03, 0x08, 0x01, 0x00), E::CornerLatitude2, kDouble},
    {key(0x03, 0x07, 0x01, 0x02, 0x01, 0x03, 0x09, 0x01, 0x00), E::CornerLatitude3, kDouble},
    {key(0x03, 0x07, 0x01, 0x02, 0x01, 0x03, 0x0A, 0x01, 0x00), E::CornerLatitude4, kDouble},
    {key(0x03, 0x07, 0x01, 0x02, 0x01, 0x03, 0x0B, 0x01, 0x00), E::CornerLongitude1, kDouble},
    {key(0x03, 0x07, 0x01, 0x02, 0x01, 0x03, 0x0C, 0x01, 0x00), E::CornerLongitude2, kDouble},
    {key(0x03, 0x07, 0x01, 0x02, 0x01, 0x03, 0x0D, 0x01, 0x00), E::CornerLongitude3, kDouble},
    {key(0x03, 0x07, 0x01, 0x02, 0x01, 0x03, 0x0E, 0x01, 0x00), E::CornerLongitude4, kDouble},
}};

bool sameUniversalKey(const unsigned char* a, const unsigned char* b) {
    return std::memcmp(a, b, kVersionByte) == 0 &&
           std::memcmp(a + kVersionByte + 1, b + kVersionByte + 1,
                       kUniversalKeySize - kVersionByte - 1) == 0;
}

namespace {

// Bytes 8-15 of a key, the part after the version byte, as one number.
uint64_t keyTail(const unsigned char* k) {
    uint64_t v = 0;
    for (size_t i = kVersionByte + 1; i < kUniversalKeySize; ++i) {
        v = (v << 8) | k[i];
    }
    return v;
}

// Every element key of the document begins 06 0E 2B 34 01 01 01: one comparison of that
// prefix, then one 64-bit comparison per row.
struct ElementIndex {
    std::array<uint64_t, kEg0104Elements.size()> tails{};
    ElementIndex() {
        for (size_t i = 0; i < kEg0104Elements.size(); ++i) {
            tails[i] = keyTail(kEg0104Elements[i].key.data());
        }
    }
};

// Recorders write the elements in a fixed order, so the row after the last match is tried
// first.
const Eg0104ElementInfo* findFrom(const unsigned char* k, size_t& hint) {
    static const ElementIndex index;
    if (std::memcmp(k, kEg0104Elements[0].key.data(), kVersionByte) != 0) {
        return nullptr;
    }
    const uint64_t tail = keyTail(k);
    const size_t n = index.tails.size();
    for (size_t j = 0; j < n; ++j) {
        const size_t i = hint + j < n ? hint + j : hint + j - n;
        if (index.tails[i] == tail) {
            hint = i + 1 < n ? i + 1 : 0;
            return &kEg0104Elements[i];
        }
    }
    return nullptr;
}

} // namespace

const Eg0104ElementInfo* findEg0104Element(const unsigned char* k) {
    size_t hint = 0;
    return findFrom(k, hint);
}

namespace {

uint64_t readBigEndian(const unsigned char* b, size_t n) {
    uint64_t v = 0;
    for (size_t i = 0; i < n; ++i) {
        v = (v << 8) | b[i];
    }
    return v;
}

// IEEE 754 binary32 or binary64, most significant byte first.
double readIeee(const unsigned char* b, size_t n) {
    const uint64_t bits = readBigEndian(b, n);
    if (n == kFloat) {
        const auto narrow = static_cast<uint32_t>(bits);
        float f = 0.0f;
        std::memcpy(&f, &narrow, sizeof f);
        return f;
    }
    double d = 0.0;
    std::memcpy(&d, &bits, sizeof d);
    return d;
}

// What the walk collected besides the record's own fields.
struct Eg0104Extras {
    double azimuth = 0.0;
    double obliquity = 0.0;
    bool hasAzimuth = false;
    bool hasObliquity = false;
    unsigned corners = 0; // bit i: corner value i (latitudes 0-3, longitudes 4-7) arrived
};

// Where an element's value goes: the field and its bit in KlvRecord::present (the row of
// kKlvFields), set directly because this runs for every element of every set.
struct Target {
    double KlvRecord::*field;
    int bit;
};

void put(KlvRecord& r, const Target& t, double value) {
    r.*t.field = value;
    r.present |= 1u << t.bit;
}

constexpr Target kTimestamp{&KlvRecord::timestamp, 0};
constexpr Target kHeading{&KlvRecord::platformHeading, 1};
constexpr Target kAzimuth{&KlvRecord::sensorAzimuth, 9};
constexpr Target kElevation{&KlvRecord::sensorElevation, 10};
// Indexed by Eg0104Element from PlatformPitch to FrameCenterElevation; null: not a field.
constexpr Target kTargets[] = {
    {&KlvRecord::platformPitch, 2},
    {&KlvRecord::platformRoll, 3},
    {&KlvRecord::sensorLatitude, 4},
    {&KlvRecord::sensorLongitude, 5},
    {&KlvRecord::sensorAltitude, 6},
    {&KlvRecord::horizontalFov, 7},
    {&KlvRecord::verticalFov, 8},
    {nullptr, 0},
    {nullptr, 0},
    {&KlvRecord::sensorRoll, 11},
    {nullptr, 0},
    {&KlvRecord::frameCenterLatitude, 12},
    {&KlvRecord::frameCenterLongitude, 13},
    {&KlvRecord::frameCenterElevation, 14},
};

void store(const Eg0104ElementInfo& info, double v, KlvRecord& r, Eg0104Extras& x) {
    switch (info.element) {
    case E::Timestamp:
        return put(r, kTimestamp, v);
    case E::PlatformHeading: {
        const double wrapped = std::fmod(v, 360.0);
        return put(r, kHeading, wrapped < 0 ? wrapped + 360.0 : wrapped);
    }
    case E::SensorAzimuth:
        x.azimuth = v;
        x.hasAzimuth = true;
        return;
    case E::SensorObliquity:
        x.obliquity = v;
        x.hasObliquity = true;
        return;
    case E::SlantRange:
        return;
    default:
        break;
    }
    if (info.element <= E::FrameCenterElevation) {
        const auto i = static_cast<size_t>(info.element) - static_cast<size_t>(E::PlatformPitch);
        return put(r, kTargets[i], v);
    }
    const int corner = static_cast<int>(info.element) - static_cast<int>(E::CornerLatitude1);
    if (corner < 4) {
        r.cornerLatitude[corner] = v;
    } else {
        r.cornerLongitude[corner - 4] = v;
    }
    x.corners |= 1u << corner;
}

// The azimuth of the line of sight from true north. The frame centre is where the line of
// sight meets the ground, so its bearing from the sensor is that azimuth by definition;
// the set's own angle to north is not always from true north (the aphill recording's is
// from UTM grid north: 1.47 degrees off on every packet, the grid convergence of zone 18
// there) and is used only without a frame centre.
double trueAzimuth(const KlvRecord& r, const Eg0104Extras& x) {
    const bool positions =
        r.carries(&KlvRecord::sensorLatitude) && r.carries(&KlvRecord::sensorLongitude) &&
        r.carries(&KlvRecord::frameCenterLatitude) && r.carries(&KlvRecord::frameCenterLongitude);
    if (!positions || (r.sensorLatitude == r.frameCenterLatitude &&
                       r.sensorLongitude == r.frameCenterLongitude)) {
        return x.azimuth;
    }
    return localBearing(r.sensorLatitude, r.sensorLongitude, r.frameCenterLatitude,
                        r.frameCenterLongitude);
}

void finish(KlvRecord& r, const Eg0104Extras& x) {
    if (x.hasAzimuth && x.hasObliquity) {
        const RelativePointing p = relativePointing(r.platformHeading, r.platformPitch,
                                                    r.platformRoll, trueAzimuth(r, x), x.obliquity);
        put(r, kAzimuth, p.azimuth);
        put(r, kElevation, p.elevation);
    }
    r.hasCorners = x.corners == 0xFFu;
}

} // namespace

int parseEg0104(KlvRecord& record, const unsigned char* value, size_t length,
                KlvWalkCounts* counts) {
    record.set = KlvSet::Eg0104;
    Eg0104Extras extras;
    const unsigned char* p = value;
    const unsigned char* const end = value == nullptr ? value : value + length;
    int status = kKlvOk;
    size_t hint = 0;
    while (p < end) {
        if (static_cast<size_t>(end - p) < kUniversalKeySize) {
            status = kKlvTruncated;
            break;
        }
        const unsigned char* elementKey = p;
        p += kUniversalKeySize;
        uint32_t size = 0;
        const size_t lengthBytes = decodeBerLength(p, static_cast<size_t>(end - p), size);
        if (lengthBytes == 0 || size > static_cast<size_t>(end - p) - lengthBytes) {
            status = kKlvTruncated;
            break;
        }
        p += lengthBytes;
        const Eg0104ElementInfo* info = findFrom(elementKey, hint);
        if (info == nullptr) {
            if (counts != nullptr) {
                ++counts->unknown;
            }
        } else if (size != info->size) {
            p += size;
            status = kKlvWrongLength;
            break;
        } else {
            const double v = info->element == E::Timestamp
                                 ? static_cast<double>(readBigEndian(p, 8))
                                 : readIeee(p, size);
            store(*info, v, record, extras);
        }
        p += size;
    }
    finish(record, extras);
    record.status = status;
    return status;
}

} // namespace skyframe
