// Any bytes as an EG 0104 set's value: the element walk stays inside them, ends with one of
// its three statuses, and counts no more unknown elements than 17-byte elements fit.
#include "telemetry/Eg0104.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    skyframe::KlvRecord record;
    skyframe::KlvWalkCounts counts;
    const int status = skyframe::parseEg0104(record, data, size, &counts);
    if (status != skyframe::kKlvOk && status != skyframe::kKlvWrongLength &&
        status != skyframe::kKlvTruncated) {
        __builtin_trap();
    }
    if (record.set != skyframe::KlvSet::Eg0104 || record.status != status ||
        counts.unknown > static_cast<long>(size / 17)) {
        __builtin_trap();
    }
    return 0;
}
