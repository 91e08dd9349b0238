#pragma once

#include <Eigen/Core>

namespace skyframe {

// Pinhole model of the airborne sensor, posed from one telemetry record.
//
// An Earth-centred point X (metres) has sensor coordinates q = rotation * (X - position):
// x right, y down, z along the line of sight. Its pixel is
//   u = fx * q.x / q.z + imageWidth / 2,  v = fy * q.y / q.z + imageHeight / 2,
// with u growing to the right and v downward from the image's top-left corner. The
// principal point is the image centre and there is no skew.
class Camera {
public:
    Camera();
    // Image size in pixels; intrinsics and rotation start as identity, position at the origin.
    Camera(int width, int height);
    virtual ~Camera();

    // Replaces intrinsics, rotation and position from the telemetry groups that
    // extractCameraData hands out:
    //   fov            horizontal, vertical full field of view (degrees)
    //   sensorPosition latitude, longitude (degrees), altitude above the ellipsoid (metres)
    //   sensorAngles   azimuth, elevation relative to the platform (degrees); [2], the
    //                  relative roll, is not used
    //   platformAngles heading, pitch, roll (degrees)
    // Nothing is validated: a field of view of 0 gives an infinite focal length.
    void updatePose(const double fov[2], const double sensorPosition[3],
                    const double sensorAngles[3], const double platformAngles[3]);

    Eigen::Matrix3d getIntrinsics() const;
    Eigen::Matrix3d getRotation() const;
    Eigen::Vector3d getPosition() const;
    // -rotation * position: the translation of the world-to-sensor transform.
    Eigen::Vector3d getTranslation() const;
    // 3x4 [rotation | translation].
    Eigen::MatrixXd getExtrinsics() const;
    // 3x4 intrinsics * extrinsics.
    Eigen::MatrixXd getProjection() const;
    // Pixel (u, v) of a geodetic point (degrees, degrees, metres). A point behind the
    // sensor still yields a pair, mirrored through the principal point.
    Eigen::Vector2d projectGeodetic(double latitude, double longitude, double height) const;

    double imageWidth;          // pixels
    double imageHeight;         // pixels
    Eigen::Matrix3d intrinsics; // rows (fx, 0, cx), (0, fy, cy), (0, 0, 1)
    Eigen::Matrix3d rotation;   // Earth-centred to sensor axes, rows right, down, line of sight
    Eigen::Vector3d position;   // projection centre, Earth-centred metres
};

} // namespace skyframe
