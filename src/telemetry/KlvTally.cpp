#include "telemetry/KlvTally.h"

#include <algorithm>
#include <cmath>
#include <iterator>

#include "telemetry/KlvRecord.h"

#include <sstream>

namespace skyframe {

bool usableForPose(const KlvRecord& r) {
    // A walk that failed (wrong length, cut packet) leaves values that cannot be trusted;
    // -1 only means one value held the out-of-range marker and was left out.
    if (r.status != 0 && r.status != -1) {
        return false;
    }
    const bool height =
        r.carries(&KlvRecord::sensorAltitude) || r.carries(&KlvRecord::sensorEllipsoidHeight);
    const bool carries = r.carries(&KlvRecord::sensorLatitude) &&
                         r.carries(&KlvRecord::sensorLongitude) && height &&
                         r.carries(&KlvRecord::horizontalFov) && r.carries(&KlvRecord::verticalFov);
    const auto fovOk = [](double v) { return v > 0.0 && v < 180.0; };
    if (!carries || !fovOk(r.horizontalFov) || !fovOk(r.verticalFov)) {
        return false;
    }
    const double values[] = {
        r.platformHeading,     r.platformPitch,  r.platformRoll,          r.sensorLatitude,
        r.sensorLongitude,     r.sensorAltitude, r.sensorEllipsoidHeight, r.sensorAzimuth,
        r.sensorElevation,     r.sensorRoll,     r.frameCenterLatitude,   r.frameCenterLongitude,
        r.frameCenterElevation};
    return std::all_of(std::begin(values), std::end(values),
                       [](double v) { return std::isfinite(v); });
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
