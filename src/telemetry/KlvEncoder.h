#pragma once

// Writes MISB ST 0601 UAS Datalink Local Sets from physical values: the inverse of the
// decoding in Klv.h. Used to produce telemetry for recorded or simulated video.

#include "telemetry/KlvRecord.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace skyframe {

// Universal key of the UAS Datalink Local Set (SMPTE 336M label 06 0E 2B 34 ...).
extern const std::array<unsigned char, 16> kUasLocalSetKey;

// An item to carry besides the decoded tags, its value already encoded (text, nested set, a
// tag of another mapping). Tags 1 and 2 are the encoder's own and are refused.
struct KlvItem {
    uint32_t tag;
    std::vector<unsigned char> value;
};

// Stored integers of the mappings, from physical values: value / scale * divisor rounded to
// the nearest integer (halves away from zero), then clamped to the item's range. Signed
// items are clamped to +-(2^(n-1) - 1): the most negative code is ST 0601's "out of range"
// marker and is never produced from a value.
//   scale  the physical value of the full positive range (360 for a heading)
//   offset added to the value first (900 for heights, whose range starts at -900 m)
// NaN stores 0.
uint16_t storeU16(double value, double scale, double offset = 0.0);
int16_t storeS16(double value, double scale);
uint32_t storeU32(double value, double scale);
int32_t storeS32(double value, double scale);

// Angles that wrap (headings, azimuths, longitudes): a value outside the range is brought
// into it by whole turns before it is stored, so -10 degrees of heading is stored as 350.
double wrapDegrees(double value, double low, double high);

// Appends one item: the tag as BER-OID, the length as BER, the value.
void appendKlvItem(std::vector<unsigned char>& out, uint32_t tag, const unsigned char* value,
                   size_t length);

// Appends the items of the fifteen decoded tags from the record's fields, timestamp (tag 2)
// first, then tags 5-25 in ascending order. A field that is NaN is left out: ST 0601 omits
// an item whose value is unknown. Out-of-range values are clamped (latitudes, pitch, roll,
// fields of view, heights) or wrapped (headings, azimuth, sensor roll, longitudes, sensor
// elevation); the timestamp is rounded to whole microseconds and clamped to 0 .. 2^64 - 1.
void appendDecodedItems(std::vector<unsigned char>& out, const KlvRecord& record);

// A complete packet: kUasLocalSetKey, the BER length of the value, then the value: the
// decoded tags (appendDecodedItems), `extraItems` in their order, and the checksum item
// (tag 1, two bytes) last, computed over the packet up to its own value.
// Throws std::invalid_argument for an extra item with tag 1 or 2.
std::vector<unsigned char> encodeUasLocalSet(const KlvRecord& record,
                                             const std::vector<KlvItem>& extraItems = {});

// Wraps already encoded items into a packet: the key, the BER length and, when
// `withChecksum`, a checksum item appended after `items`.
std::vector<unsigned char> wrapUasLocalSet(const std::vector<unsigned char>& items,
                                           bool withChecksum = true);

} // namespace skyframe
