// Any bytes as a local set's value: parseItems must stay inside them and end with one of
// its four statuses.
#include "telemetry/Klv.h"

#include <climits>
#include <cmath>
#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > INT_MAX) {
        return 0;
    }
    skyframe::KlvRecord record;
    const int status = skyframe::parseItems(record, data, static_cast<int>(size));
    if (status != skyframe::kKlvOk && status != skyframe::kKlvOutOfRange &&
        status != skyframe::kKlvWrongLength && status != skyframe::kKlvTruncated) {
        __builtin_trap();
    }
    for (const skyframe::KlvField& f : skyframe::kKlvFields) {
        if (!std::isfinite(record.*f.field)) {
            __builtin_trap();
        }
    }
    return 0;
}
