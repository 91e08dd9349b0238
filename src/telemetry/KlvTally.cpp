#include "telemetry/KlvTally.h"

#include "telemetry/KlvRecord.h"

#include <sstream>

namespace skyframe {

bool usableForPose(const KlvRecord& r) {
    const bool height =
        r.carries(&KlvRecord::sensorAltitude) || r.carries(&KlvRecord::sensorEllipsoidHeight);
    return r.carries(&KlvRecord::sensorLatitude) && r.carries(&KlvRecord::sensorLongitude) &&
           height && r.horizontalFov > 0.0 && r.verticalFov > 0.0;
}

std::string formatTally(const KlvTally& t) {
    std::ostringstream out;
    out << "KLV: " << t.packets << " packets, " << t.decoded << " decoded (" << t.st0601
        << " ST 0601, " << t.eg0104 << " EG 0104), " << t.discarded
        << " discarded by the checksum policy, " << t.checksumBad << " with a bad checksum, "
        << t.checksumAbsent << " without a checksum, " << t.unknown << " unknown tags, "
        << t.outOfRange << " out-of-range codes, " << t.unusable << " unusable for a pose, "
        << t.resyncs << " resynchronisations (" << t.skippedBytes << " bytes skipped)";
    return out.str();
}

} // namespace skyframe
