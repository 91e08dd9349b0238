#include "FlightTelemetry.h"

#include "camera/Geodesy.h"
#include "telemetry/KlvEncoder.h"
#include "telemetry/KlvPacket.h"

#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>

namespace skyframe {

namespace {

KlvItem textItem(uint32_t tag, const std::string& text) {
    return {tag, std::vector<unsigned char>(text.begin(), text.end())};
}

// ST 0601 items that describe the source rather than the instant; with them the set is
// long enough for the 0x81 length form even without the frame centre.
const std::vector<KlvItem>& sourceItems() {
    static const std::vector<KlvItem> items = {
        textItem(3, "skyframe-sim flight"), // mission identifier
        textItem(10, "Simulated platform"), // platform designation
        textItem(11, "EO synthetic"),       // image source sensor
        textItem(12, "Geodetic WGS84"),     // image coordinate system
        {65, {17}},                         // UAS Datalink LS version number
    };
    return items;
}

} // namespace

double verticalFovFor(double horizontalFov, int width, int height) {
    const double halfTan = std::tan(0.5 * horizontalFov * kDegToRad);
    return 2.0 * std::atan(halfTan * height / width) / kDegToRad;
}

FlightTelemetry::FlightTelemetry(const Trajectory& trajectory, const SensorPlan& sensor,
                                 const Ground& ground, int fps)
    : trajectory_(trajectory), sensor_(sensor), ground_(ground), fps_(fps) {
    if (fps <= 0) {
        throw std::invalid_argument("frame rate " + std::to_string(fps) + " is not positive");
    }
}

KlvRecord FlightTelemetry::atSeconds(double seconds) const {
    const PlatformState p = trajectory_.at(seconds);
    const SensorAngles angles = sensor_.target       ? lookAt(p, *sensor_.target)
                                : sensor_.depression ? SensorAngles{0.0, -*sensor_.depression}
                                                     : kLookDown;

    KlvRecord r;
    r.timestamp = kFlightEpochMicroseconds + std::round(seconds * 1e6);
    r.platformHeading = p.heading;
    r.platformPitch = p.pitch;
    r.platformRoll = p.roll;
    r.sensorLatitude = p.latitude;
    r.sensorLongitude = p.longitude;
    r.sensorAltitude = p.altitude;
    r.horizontalFov = sensor_.horizontalFov;
    r.verticalFov = sensor_.verticalFov;
    r.sensorAzimuth = angles.azimuth;
    r.sensorElevation = angles.elevation;
    r.sensorRoll = 0.0;

    const Eigen::Vector3d origin = geodeticToEcef(p.latitude, p.longitude, p.altitude);
    const auto centre = ground_.intersect(origin, lineOfSight(p, angles));
    if (centre) {
        const Eigen::Vector3d g = ecefToGeodetic(*centre);
        r.frameCenterLatitude = g.x();
        r.frameCenterLongitude = g.y();
        r.frameCenterElevation = g.z();
    } else {
        const double unknown = std::numeric_limits<double>::quiet_NaN();
        r.frameCenterLatitude = r.frameCenterLongitude = r.frameCenterElevation = unknown;
    }
    return r;
}

std::vector<unsigned char> encodeFlightPacket(const KlvRecord& record) {
    return encodeUasLocalSet(record, sourceItems());
}

Camera cameraFromPacket(const std::vector<unsigned char>& packet, int width, int height) {
    recordQueue queue;
    if (appendKlvRecords(queue, packet.data(), packet.size()) != 1) {
        throw std::invalid_argument("a simulated KLV packet does not read back as one record");
    }
    double fov[2], position[3], sensorAngles[3], platformAngles[3], frameCenter[3];
    extractCameraData(*queue.front(), fov, position, sensorAngles, platformAngles, frameCenter);
    Camera camera(width, height);
    camera.updatePose(fov, position, sensorAngles, platformAngles);
    return camera;
}

} // namespace skyframe
