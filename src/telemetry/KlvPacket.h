#pragma once

// KLV packets inside a media data packet: framing, the records the frame loop queues from
// them, and the MISB ST 0601 checksum as a diagnostic.

#include "telemetry/KlvRecord.h"

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

// Every packet that lies back to back from the start of data[0 .. size). Stops at the first
// one that does not fit (a cut packet yields nothing). `consumed`, if given, receives the
// bytes covered by the returned packets, so size - consumed bytes were left over.
std::vector<KlvPacket> splitKlvPackets(const unsigned char* data, size_t size,
                                       size_t* consumed = nullptr);

// The frame loop's intake of one data packet: for every KLV packet in it, a record without
// a source is filled by parseItems (its status ignored, a partly decoded record is queued
// all the same) and appended to `queue`. Returns the number of records appended.
// For a packet with the 0x81 nn length this is exactly parseItems on (byte 18, byte 17).
size_t appendKlvRecords(recordQueue& queue, const unsigned char* data, size_t size);

// The ST 0601 checksum: the 16-bit sum of bytes[0 .. count), each byte at an even offset
// shifted left by 8.
uint16_t klvChecksum(const unsigned char* bytes, size_t count);

enum class ChecksumStatus {
    Ok,     // the checksum item matches the sum over the packet
    Bad,    // it does not, or the checksum item is not two bytes long
    Absent, // no checksum item (tag 1) could be found in the value
};

// Checks the packet's checksum item (tag 1): the sum runs from the first key byte through
// the checksum item's tag and length bytes. A diagnostic only: parseItems ignores tag 1.
ChecksumStatus verifyChecksum(const KlvPacket& packet);

// "ok", "bad" or "absent".
const char* checksumName(ChecksumStatus status);

} // namespace skyframe
