#include "telemetry/KlvPacket.h"

#include "telemetry/Ber.h"
#include "telemetry/Eg0104.h"
#include "telemetry/Klv.h"
#include "telemetry/KlvEncoder.h"

#include <climits>
#include <cstring>

namespace skyframe {

namespace {
constexpr size_t kKeySize = 16;
constexpr uint32_t kChecksumTag = 1;
} // namespace

bool frameKlvPacket(const unsigned char* data, size_t size, KlvPacket& packet) {
    if (data == nullptr || size <= kKeySize) {
        return false;
    }
    uint32_t length = 0;
    const size_t lengthBytes = decodeBerLength(data + kKeySize, size - kKeySize, length);
    if (lengthBytes == 0 || length > static_cast<uint32_t>(INT_MAX)) {
        return false;
    }
    const size_t valueOffset = kKeySize + lengthBytes;
    if (length > size - valueOffset) {
        return false;
    }
    packet.data = data;
    packet.valueOffset = valueOffset;
    packet.valueLength = length;
    packet.size = valueOffset + length;
    return true;
}

namespace {

// The SMPTE label and the registry byte of groups (sets): what a KLV packet's key starts
// with. The elements inside an EG 0104 set start 06 0E 2B 34 01 (dictionary items), so a
// length that ends at an element boundary is not taken for the end of a packet.
constexpr unsigned char kLabel[5] = {0x06, 0x0E, 0x2B, 0x34, 0x02};

bool startsWithLabel(const unsigned char* p, size_t available) {
    return available >= sizeof kLabel && std::memcmp(p, kLabel, sizeof kLabel) == 0;
}

// First offset at or after `from` where a known set's key starts, or `size`.
size_t findKnownKey(const unsigned char* data, size_t size, size_t from) {
    for (size_t i = from; i + kKeySize <= size; ++i) {
        if (data[i] == kLabel[0] && isKnownSetKey(data + i)) {
            return i;
        }
    }
    return size;
}

} // namespace

bool isKnownSetKey(const unsigned char* key) {
    return sameUniversalKey(key, kUasLocalSetKey.data()) ||
           sameUniversalKey(key, kEg0104SetKey.data());
}

bool nextKlvPacket(const unsigned char* data, size_t size, size_t& offset, KlvPacket& packet,
                   KlvTally* tally) {
    while (offset < size) {
        const bool fits = frameKlvPacket(data + offset, size - offset, packet);
        const size_t end = fits ? offset + packet.size : size;
        if (fits && (end == size || startsWithLabel(data + end, size - end))) {
            offset = end;
            return true;
        }
        const size_t next = findKnownKey(data, size, offset + 1);
        if (next == size) {
            if (fits) { // trailing bytes after the last packet, nothing to resynchronise to
                offset = end;
            }
            return fits;
        }
        if (tally != nullptr) {
            ++tally->resyncs;
            tally->skippedBytes += static_cast<long>(next - offset);
        }
        offset = next;
    }
    return false;
}

std::vector<KlvPacket> splitKlvPackets(const unsigned char* data, size_t size, size_t* consumed,
                                       KlvTally* tally) {
    std::vector<KlvPacket> packets;
    size_t offset = 0;
    size_t covered = 0;
    KlvPacket packet;
    while (data != nullptr && nextKlvPacket(data, size, offset, packet, tally)) {
        packets.push_back(packet);
        covered += packet.size;
    }
    if (consumed != nullptr) {
        *consumed = covered;
    }
    return packets;
}

bool decodeKlvPacket(const KlvPacket& packet, KlvRecord& record, const KlvIntakeOptions& options,
                     KlvTally* tally, ChecksumStatus* checksum) {
    KlvTally scratch;
    KlvTally& t = tally != nullptr ? *tally : scratch;
    ++t.packets;
    KlvWalkCounts counts;
    if (sameUniversalKey(packet.key(), kEg0104SetKey.data())) {
        if (checksum != nullptr) {
            *checksum = ChecksumStatus::NotApplicable;
        }
        parseEg0104(record, packet.value(), packet.valueLength, &counts);
    } else {
        const ChecksumStatus check = verifyChecksum(packet);
        if (checksum != nullptr) {
            *checksum = check;
        }
        t.checksumBad += check == ChecksumStatus::Bad ? 1 : 0;
        t.checksumAbsent += check == ChecksumStatus::Absent ? 1 : 0;
        if (options.strict && check != ChecksumStatus::Ok) {
            ++t.discarded;
            return false;
        }
        record.status =
            parseItems(record, packet.value(), static_cast<int>(packet.valueLength), &counts);
    }
    t.unknown += counts.unknown;
    t.outOfRange += counts.outOfRange;
    if (record.status == kKlvOk || record.status == kKlvOutOfRange) {
        ++t.decoded;
        ++(record.set == KlvSet::Eg0104 ? t.eg0104 : t.st0601);
    }
    return true;
}

size_t appendKlvRecords(recordQueue& queue, const unsigned char* data, size_t size) {
    return appendKlvRecords(queue, data, size, KlvIntakeOptions{}, nullptr);
}

size_t appendKlvRecords(recordQueue& queue, const unsigned char* data, size_t size,
                        const KlvIntakeOptions& options, KlvTally* tally) {
    size_t count = 0;
    size_t offset = 0;
    KlvPacket packet;
    while (data != nullptr && nextKlvPacket(data, size, offset, packet, tally)) {
        auto record = std::make_unique<KlvRecord>();
        if (decodeKlvPacket(packet, *record, options, tally)) {
            queue.push_back(std::move(record));
            ++count;
        }
    }
    return count;
}

uint16_t klvChecksum(const unsigned char* bytes, size_t count) {
    uint32_t sum = 0;
    for (size_t i = 0; i < count; ++i) {
        sum += static_cast<uint32_t>(bytes[i]) << (i % 2 == 0 ? 8 : 0);
    }
    return static_cast<uint16_t>(sum);
}

ChecksumStatus verifyChecksum(const KlvPacket& packet) {
    const unsigned char* p = packet.value();
    const unsigned char* const end = p + packet.valueLength;
    while (p < end) {
        uint32_t tag = 0;
        const size_t tagBytes = decodeBerOid(p, static_cast<size_t>(end - p), tag);
        if (tagBytes == 0) {
            return ChecksumStatus::Absent;
        }
        uint32_t length = 0;
        const size_t lengthBytes =
            decodeBerLength(p + tagBytes, static_cast<size_t>(end - p) - tagBytes, length);
        if (lengthBytes == 0) {
            return ChecksumStatus::Absent;
        }
        const unsigned char* itemValue = p + tagBytes + lengthBytes;
        if (length > static_cast<size_t>(end - itemValue)) {
            return ChecksumStatus::Absent;
        }
        if (tag == kChecksumTag) {
            if (length != 2) {
                return ChecksumStatus::Bad;
            }
            const uint16_t stored = static_cast<uint16_t>((itemValue[0] << 8) | itemValue[1]);
            const auto covered = static_cast<size_t>(itemValue - packet.data);
            return klvChecksum(packet.data, covered) == stored ? ChecksumStatus::Ok
                                                               : ChecksumStatus::Bad;
        }
        p = itemValue + length;
    }
    return ChecksumStatus::Absent;
}

const char* checksumName(ChecksumStatus status) {
    switch (status) {
    case ChecksumStatus::Ok:
        return "ok";
    case ChecksumStatus::Bad:
        return "bad";
    case ChecksumStatus::NotApplicable:
        return "none";
    case ChecksumStatus::Absent:
        break;
    }
    return "absent";
}

} // namespace skyframe
