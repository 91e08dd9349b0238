// Any bytes as a media data packet, resynchronising: packets come out in order, inside the
// data and without overlap; the tally's skipped bytes and the covered ones never exceed the
// data; the strict and lenient intakes agree with the framing on what they saw.
#include "telemetry/KlvPacket.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    skyframe::KlvTally split;
    size_t consumed = 0;
    const auto packets = skyframe::splitKlvPackets(data, size, &consumed, &split);
    const uint8_t* next = data;
    size_t covered = 0;
    for (const skyframe::KlvPacket& p : packets) {
        if (p.data < next || p.data + p.size > data + size ||
            p.valueOffset + p.valueLength != p.size) {
            __builtin_trap();
        }
        next = p.data + p.size;
        covered += p.size;
    }
    if (covered != consumed || covered + static_cast<size_t>(split.skippedBytes) > size) {
        __builtin_trap();
    }
    for (const bool strict : {false, true}) {
        skyframe::recordQueue queue;
        skyframe::KlvTally tally;
        const size_t n = skyframe::appendKlvRecords(queue, data, size, {strict}, &tally);
        if (static_cast<long>(packets.size()) != tally.packets ||
            n + static_cast<size_t>(tally.discarded) != packets.size() || queue.size() != n ||
            tally.resyncs != split.resyncs || (!strict && tally.discarded != 0)) {
            __builtin_trap();
        }
    }
    return 0;
}
