// Any bytes as a media data packet: the framing stays inside it, packets come in order
// without overlap, the queue gets one record per framed packet, the checksum check terminates, and
// a 0x81 nn packet decodes exactly as parseItems on (byte 18, byte 17) does.
#include "telemetry/Klv.h"
#include "telemetry/KlvPacket.h"

#include <cstddef>
#include <cstdint>

namespace {

bool sameFields(const skyframe::KlvRecord& a, const skyframe::KlvRecord& b) {
    for (const skyframe::KlvField& f : skyframe::kKlvFields) {
        if (a.*f.field != b.*f.field) {
            return false;
        }
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    size_t consumed = 0;
    const auto packets = skyframe::splitKlvPackets(data, size, &consumed);
    size_t offset = 0;
    const uint8_t* next = data;
    for (const skyframe::KlvPacket& p : packets) {
        if (p.data < next || p.size < 17 || p.valueOffset + p.valueLength != p.size ||
            p.data + p.size > data + size) {
            __builtin_trap();
        }
        next = p.data + p.size;
        offset += p.size;
        skyframe::verifyChecksum(p);
        if (p.data[16] == 0x81) {
            skyframe::KlvRecord viaFrame, viaLayout;
            skyframe::parseItems(viaFrame, p.value(), static_cast<int>(p.valueLength));
            skyframe::parseItems(viaLayout, p.data + 18, p.data[17]);
            if (!sameFields(viaFrame, viaLayout)) {
                __builtin_trap();
            }
        }
    }
    if (offset != consumed || consumed > size) {
        __builtin_trap();
    }
    skyframe::recordQueue queue;
    if (skyframe::appendKlvRecords(queue, data, size) != packets.size() ||
        queue.size() != packets.size()) {
        __builtin_trap();
    }
    return 0;
}
