#pragma once

// The MISB EG 0104 Predator UAV Basic Universal Set: a 16-byte set key, a BER length, then
// elements that each carry a full 16-byte SMPTE RP 210 universal key, a BER length and a
// big-endian value (IEEE floats and doubles, an unsigned 64-bit time stamp).

#include "telemetry/Klv.h"
#include "telemetry/KlvRecord.h"

#include <array>
#include <cstddef>
#include <cstdint>

namespace skyframe {

constexpr size_t kUniversalKeySize = 16;
using UniversalKey = std::array<unsigned char, kUniversalKeySize>;

// 06 0E 2B 34 02 01 01 01 0E 01 01 02 01 01 00 00.
extern const UniversalKey kEg0104SetKey;

// What an element carries.
enum class Eg0104Element {
    Timestamp,            // microseconds since 1970-01-01 UTC, unsigned 64-bit
    PlatformHeading,      // degrees, float
    PlatformPitch,        // degrees, float
    PlatformRoll,         // degrees, float
    SensorLatitude,       // degrees, double
    SensorLongitude,      // degrees, double
    SensorAltitude,       // metres above mean sea level, float
    HorizontalFov,        // degrees, float
    VerticalFov,          // degrees, float
    SensorAzimuth,        // "angle to north" of the line of sight, degrees, float
    SensorObliquity,      // line of sight above the local horizontal, degrees, float
    SensorRoll,           // degrees, float
    SlantRange,           // metres, float (read and checked, not kept)
    FrameCenterLatitude,  // degrees, double
    FrameCenterLongitude, // degrees, double
    FrameCenterElevation, // metres, float
    CornerLatitude1,      // degrees, double; corners 2-4 follow in order
    CornerLatitude2,
    CornerLatitude3,
    CornerLatitude4,
    CornerLongitude1,
    CornerLongitude2,
    CornerLongitude3,
    CornerLongitude4,
};

struct Eg0104ElementInfo {
    UniversalKey key;
    Eg0104Element element;
    uint8_t size; // the only value size the document defines for it, bytes
};
extern const std::array<Eg0104ElementInfo, 24> kEg0104Elements;

// Whether two universal keys name the same thing. Byte 7 is the registry version in which
// the entry was published (recorders write 01 to 0A for the same element), so it is left
// out of the comparison, as SMPTE 336M allows.
bool sameUniversalKey(const unsigned char* a, const unsigned char* b);

// The table row whose key `key` (16 bytes) names, or null.
const Eg0104ElementInfo* findEg0104Element(const unsigned char* key);

// Walks the elements of an EG 0104 set's value into `record` (and sets record.set).
//   value  first byte of the first element's key (may be null when length is 0)
//   length the value's byte count; nothing at or beyond value[length] is read
// Elements with unknown keys are stepped over by their BER length and counted in
// counts->unknown. The absolute pointing is turned into the platform-relative
// sensorAzimuth / sensorElevation that the rotation chain takes (relativePointing): the
// elevation is the obliquity (negative below the horizon), the azimuth the true bearing of
// the frame centre from the sensor when the set carries both positions, else the angle to
// north. Without both angles the record carries no sensor pointing. sensorRoll is kept as
// the set gives it. The altitude is mean sea
// level and goes into sensorAltitude unchanged, as ST 0601 tag 15 does. Platform heading
// is brought into 0..360 as in ST 0601.
// Returns 0; -2 when a known element's size is not the document's (the walk stops after
// it, the field unchanged); -3 when the value ends inside an element (nothing of it read).
int parseEg0104(KlvRecord& record, const unsigned char* value, size_t length,
                KlvWalkCounts* counts = nullptr);

} // namespace skyframe
