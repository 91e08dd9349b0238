#pragma once

// KLV packets inside a media data packet: framing, the records the frame loop queues from
// them, and the MISB ST 0601 checksum as a diagnostic.

#include "telemetry/KlvRecord.h"
#include "telemetry/KlvTally.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace skyframe {

// One framed KLV packet; the pointers refer into the caller's buffer.
struct KlvPacket {
    const unsigned char* data = nullptr; // first key byte
    size_t size = 0;                     // key + length field + value, in bytes
    size_t valueOffset = 0;              // first value byte, 17 to 21 bytes after `data`
    uint32_t valueLength = 0;            // value bytes (at most INT_MAX)

    const unsigned char* key() const { return data; }
    const unsigned char* value() const { return data + valueOffset; }
};

// Frames the packet at the start of data[0 .. size): a 16-byte key (not compared with any
// expected key), a BER length (short form, or long form of 1-4 bytes) and the value.
// Returns false, and reads nothing beyond `size`, when the bytes hold less than the whole
// packet, its length field is not a BER form KLV allows, or the value is longer than
// INT_MAX bytes.
bool frameKlvPacket(const unsigned char* data, size_t size, KlvPacket& packet);

// Whether the 16 bytes at `key` are the key of a set this system decodes: the ST 0601 UAS
// Datalink Local Set or the EG 0104 UAV Basic Universal Set (version byte not compared).
bool isKnownSetKey(const unsigned char* key);

// Frames the next packet at or after `offset` in data[0 .. size), resynchronising after
// damage, and moves `offset` past it. A packet is taken when it fits in the data and is
// followed by the end of the data, by a SMPTE set key (06 0E 2B 34 02), or by nothing that holds
// the key of a known set. Otherwise its length is wrong (too long, or too short so that it
// ends inside its own value): the packet is dropped and framing restarts at the next key of
// a known set after its first byte, so every packet after a damaged one is still framed.
// Keys are not otherwise compared: a lone packet with any key is taken.
// Returns false, leaving `offset`, when no further packet can be framed.
// `resyncs` and `skippedBytes` count the searches and the bytes they passed over.
bool nextKlvPacket(const unsigned char* data, size_t size, size_t& offset, KlvPacket& packet,
                   KlvTally* tally = nullptr);

// Every packet nextKlvPacket frames in data[0 .. size). `consumed`, if given, receives the
// bytes covered by the returned packets, so size - consumed bytes were left over (a cut
// last packet, damaged packets, skipped bytes).
std::vector<KlvPacket> splitKlvPackets(const unsigned char* data, size_t size,
                                       size_t* consumed = nullptr, KlvTally* tally = nullptr);

struct KlvIntakeOptions {
    // Refuse ST 0601 packets whose checksum is wrong or absent, as ST 0601 requires of a
    // receiver. Lenient by default: recorders in the field write wrong checksums over
    // otherwise good telemetry.
    bool strict = false;
};

enum class ChecksumStatus;

// Decodes one framed packet into `record` by its key: EG 0104 sets by parseEg0104, any other
// key as an ST 0601 local set by parseItems. The walk's status goes into record.status.
// Returns false, leaving the record unfilled, when the strict policy refuses the packet.
// `checksum`, if given, receives the ST 0601 checksum check (NotApplicable for EG 0104).
bool decodeKlvPacket(const KlvPacket& packet, KlvRecord& record, const KlvIntakeOptions& options,
                     KlvTally* tally = nullptr, ChecksumStatus* checksum = nullptr);

// The frame loop's intake of one data packet: for every KLV packet in it (nextKlvPacket), a
// record without a source is filled by decodeKlvPacket (its status kept in the record; a
// partly decoded record is queued all the same) and appended to `queue`. Returns the number
// of records appended. Lenient and without a tally in the three-argument form.
// For a packet with the 0x81 nn length this is exactly parseItems on (byte 18, byte 17).
size_t appendKlvRecords(recordQueue& queue, const unsigned char* data, size_t size);
size_t appendKlvRecords(recordQueue& queue, const unsigned char* data, size_t size,
                        const KlvIntakeOptions& options, KlvTally* tally);

// The ST 0601 checksum: the 16-bit sum of bytes[0 .. count), each byte at an even offset
// shifted left by 8.
uint16_t klvChecksum(const unsigned char* bytes, size_t count);

enum class ChecksumStatus {
    Ok,            // the checksum item matches the sum over the packet
    Bad,           // it does not, or the checksum item is not two bytes long
    Absent,        // no checksum item (tag 1) could be found in the value
    NotApplicable, // a set without a checksum (EG 0104)
};

// Checks the packet's checksum item (tag 1): the sum runs from the first key byte through
// the checksum item's tag and length bytes. A diagnostic only: parseItems ignores tag 1.
ChecksumStatus verifyChecksum(const KlvPacket& packet);

// "ok", "bad", "absent" or "none".
const char* checksumName(ChecksumStatus status);

} // namespace skyframe
