#pragma once

// The MISB ST 0601 UAS Datalink Local Set as this system reads it: the item walk, the
// fifteen decoded tags with their integer-to-physical mappings, and the reader of a file of
// concatenated KLV packets.

#include "telemetry/KlvRecord.h"

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <vector>

namespace skyframe {

// Statuses of parseItems and of the per-tag decoders.
constexpr int kKlvOk = 0;
// A signed item held its most negative code (0x8000 / 0x80000000), which ST 0601 reserves
// for "out of range". The field keeps its value.
constexpr int kKlvOutOfRange = -1;
// A decoded tag had a length other than its stored width. The field keeps its value.
constexpr int kKlvWrongLength = -2;
// The value ended inside an item: its tag, its length or its value bytes would lie beyond
// `length`, or its length field is not a BER form KLV allows (0x80, 0x85 and up). Nothing of
// that item is read.
constexpr int kKlvTruncated = -3;

// What a walk stepped over or could not take, for the run's summary.
struct KlvWalkCounts {
    long unknown = 0;    // items or elements whose tag or key has no decoder
    long outOfRange = 0; // items holding ST 0601's "out of range" code
};

// Walks the items of a local set's value and stores the decoded tags into `record`.
//   value  first byte of the first item (may be null when length <= 0)
//   length the value's byte count; nothing at or beyond value[length] is read
// Item tags are BER-OID numbers (one byte below 128; 0x81 0x0E is tag 142) and item lengths
// BER lengths (short form, or long form with 1-4 length bytes), so compliant sets with tags
// above 127, nested sets or long text items are walked to their end. Tags outside the
// fifteen decoded ones, the checksum (tag 1) among them, are stepped over; the checksum is
// neither computed nor verified here.
// Returns:
//   0  every item was decoded or stepped over (also for length <= 0);
//  -2  a decoded tag had the wrong length: the walk stops after that item;
//  -3  the value ended inside an item: the walk stops before it;
//  -1  otherwise, when one or more signed items held the out-of-range code. Those fields
//      keep their values and the walk goes on, because the marker is a compliant value and
//      the items after it are independent of it.
// Fields of items decoded before a failure keep their new values.
int parseItems(KlvRecord& record, const unsigned char* value, int length);
int parseItems(KlvRecord& record, const unsigned char* value, int length, KlvWalkCounts* counts);

// Normalisers: the stored integer read big-endian, divided in double precision.
double normU16(const unsigned char* bytes); // unsigned 16-bit / 65535
double normS16(const unsigned char* bytes); // signed 16-bit / 32767
double normU32(const unsigned char* bytes); // unsigned 32-bit / 4294967295
double normS32(const unsigned char* bytes); // signed 32-bit / 2147483647
// Eight bytes, most significant first, as a double (exact up to 2^53).
double decodeTimestamp(const unsigned char* bytes);

// Per-tag decoders: `bytes` is the item's value, `length` its byte count. Each returns 0
// after storing its field, -2 (field unchanged) when length is not the stored width, and
// the signed ones -1 (field unchanged) for the out-of-range code.
int decodeTimestampItem(const unsigned char* bytes, KlvRecord& record, int length);       // 2
int decodePlatformHeading(const unsigned char* bytes, KlvRecord& record, int length);     // 5
int decodePlatformPitch(const unsigned char* bytes, KlvRecord& record, int length);       // 6
int decodePlatformRoll(const unsigned char* bytes, KlvRecord& record, int length);        // 7
int decodeSensorLatitude(const unsigned char* bytes, KlvRecord& record, int length);      // 13
int decodeSensorLongitude(const unsigned char* bytes, KlvRecord& record, int length);     // 14
int decodeSensorAltitude(const unsigned char* bytes, KlvRecord& record, int length);      // 15
int decodeHorizontalFov(const unsigned char* bytes, KlvRecord& record, int length);       // 16
int decodeVerticalFov(const unsigned char* bytes, KlvRecord& record, int length);         // 17
int decodeSensorAzimuth(const unsigned char* bytes, KlvRecord& record, int length);       // 18
int decodeSensorElevation(const unsigned char* bytes, KlvRecord& record, int length);     // 19
int decodeSensorRoll(const unsigned char* bytes, KlvRecord& record, int length);          // 20
int decodeFrameCenterLatitude(const unsigned char* bytes, KlvRecord& record, int length); // 23
int decodeFrameCenterLongitude(const unsigned char* bytes, KlvRecord& record,
                               int length); // 24
int decodeFrameCenterElevation(const unsigned char* bytes, KlvRecord& record,
                               int length); // 25

// Runs the decoder of `tag` on an item; tags without a decoder return 0 and change nothing.
int decodeItem(uint32_t tag, const unsigned char* bytes, KlvRecord& record, int length);

// What one readNextPacket call consumed, for callers that report on packets.
struct PacketReadDetails {
    std::vector<unsigned char> packet; // every byte read: key, length field, value
    size_t valueOffset = 0;            // where the value starts in `packet` (0: never reached)
    bool complete = false;             // the whole packet arrived
    int parseStatus = kKlvOk;          // parseItems' status; -3 when the packet was cut
};

// Reads the next packet from the record's source and parses its value into the record:
// the 16-byte key (printed as "key:" and its bytes as characters up to the first zero byte),
// a BER length (short form, or long form of 1-4 bytes; printed as "tlv_size: <n>"), then the
// value, which goes through parseItems.
// Returns -1, printing nothing and changing nothing, when the record has no source or the
// source is at its end; 0 otherwise, whatever the walk's status.
// A source that ends inside the packet: nothing beyond the received bytes is read, and the
// value bytes that did arrive are walked, so complete items before the cut are decoded and
// the cut item changes nothing (status -3). A length field KLV does not allow ends the
// source (the packets after it cannot be framed); later calls return -1.
int readNextPacket(KlvRecord& record); // lines on standard output
int readNextPacket(KlvRecord& record, std::ostream& log, PacketReadDetails* details = nullptr);

} // namespace skyframe
