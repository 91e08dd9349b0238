#include "telemetry/KlvPacket.h"

#include "telemetry/Ber.h"
#include "telemetry/Klv.h"

#include <climits>

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

std::vector<KlvPacket> splitKlvPackets(const unsigned char* data, size_t size, size_t* consumed) {
    std::vector<KlvPacket> packets;
    size_t offset = 0;
    KlvPacket packet;
    while (offset < size && frameKlvPacket(data + offset, size - offset, packet)) {
        packets.push_back(packet);
        offset += packet.size;
    }
    if (consumed != nullptr) {
        *consumed = offset;
    }
    return packets;
}

size_t appendKlvRecords(recordQueue& queue, const unsigned char* data, size_t size) {
    size_t count = 0;
    size_t offset = 0;
    KlvPacket packet;
    while (offset < size && frameKlvPacket(data + offset, size - offset, packet)) {
        auto record = std::make_unique<KlvRecord>();
        record->status = parseItems(*record, packet.value(), static_cast<int>(packet.valueLength));
        queue.push_back(std::move(record));
        offset += packet.size;
        ++count;
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
    case ChecksumStatus::Absent:
        break;
    }
    return "absent";
}

} // namespace skyframe
