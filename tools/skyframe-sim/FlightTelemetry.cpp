#include "FlightTelemetry.h"

#include "camera/Geodesy.h"
#include "camera/Geoid.h"
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

// Where the rays through the picture's four corners meet the ground (top left, top right,
// bottom right, bottom left), when all four do.
void FlightTelemetry::addCorners(KlvRecord& r, const Eigen::Vector3d& origin,
                                 const PlatformState& p, const SensorAngles& angles) const {
    const Eigen::Matrix3d R = sensorRotation(p.longitude, p.latitude, p.heading, p.pitch, p.roll,
                                             angles.azimuth, angles.elevation);
    const double tx = std::tan(0.5 * sensor_.horizontalFov * kDegToRad);
    const double ty = std::tan(0.5 * sensor_.verticalFov * kDegToRad);
    const double sx[4] = {-tx, tx, tx, -tx};
    const double sy[4] = {-ty, -ty, ty, ty};
    for (int i = 0; i < 4; ++i) {
        const Eigen::Vector3d ray = R.transpose() * Eigen::Vector3d(sx[i], sy[i], 1.0);
        const auto hit = ground_.intersect(origin, ray.normalized());
        if (!hit) {
            r.hasCorners = false;
            return;
        }
        const Eigen::Vector3d g = ecefToGeodetic(*hit);
        r.cornerLatitude[i] = g.x();
        r.cornerLongitude[i] = g.y();
    }
    r.hasCorners = true;
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
    // Tag 15 is above mean sea level, tag 75 above the ellipsoid: the same height in both.
    r.sensorAltitude = p.altitude - geoidHeightEgm96(p.latitude, p.longitude);
    r.sensorEllipsoidHeight = p.altitude;
    r.markPresent(&KlvRecord::sensorEllipsoidHeight);
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
        r.frameCenterElevation = g.z() - geoidHeightEgm96(g.x(), g.y());
        addCorners(r, origin, p, angles);
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
    const KlvRecord& record = *queue.front();
    extractCameraData(*queue.front(), fov, position, sensorAngles, platformAngles, frameCenter);
    // The viewer's height rule: tag 75 where the packet has it, else tag 15 plus the geoid.
    position[2] = record.carries(&KlvRecord::sensorEllipsoidHeight)
                      ? record.sensorEllipsoidHeight
                      : record.sensorAltitude +
                            geoidHeightEgm96(record.sensorLatitude, record.sensorLongitude);
    Camera camera(width, height);
    camera.updatePose(fov, position, sensorAngles, platformAngles);
    return camera;
}

} // namespace skyframe
