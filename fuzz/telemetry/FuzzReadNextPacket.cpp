// Any bytes as a raw file of KLV packets: readNextPacket must consume it packet by packet,
// never hand back more bytes than the file holds, and end.
#include "telemetry/Klv.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <ostream>
#include <sstream>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    skyframe::KlvRecord record;
    record.source = std::make_unique<std::istringstream>(
        std::string(reinterpret_cast<const char*>(data), size));
    std::ostream discard(nullptr);
    skyframe::PacketReadDetails details;
    size_t total = 0;
    for (size_t calls = 0;; ++calls) {
        if (calls > size) {
            __builtin_trap(); // every successful call consumes at least one byte
        }
        const int rc = skyframe::readNextPacket(record, discard, &details);
        if (rc == -1) {
            break;
        }
        if (rc != 0 || details.packet.empty()) {
            __builtin_trap();
        }
        total += details.packet.size();
        if (total > size || (details.complete && details.valueOffset < 17)) {
            __builtin_trap();
        }
    }
    return 0;
}
