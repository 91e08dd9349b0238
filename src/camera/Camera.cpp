#include "camera/Camera.h"

#include "camera/Geodesy.h"

#include <Eigen/Geometry>
#include <cmath>

namespace skyframe {

Camera::Camera() : Camera(0, 0) {}

Camera::Camera(int width, int height)
    : imageWidth(static_cast<double>(width)), imageHeight(static_cast<double>(height)),
      intrinsics(Eigen::Matrix3d::Identity()), rotation(Eigen::Matrix3d::Identity()),
      position(Eigen::Vector3d::Zero()) {}

Camera::~Camera() = default;

void Camera::updatePose(const double fov[2], const double sensorPosition[3],
                        const double sensorAngles[3], const double platformAngles[3]) {
    const double halfW = imageWidth * 0.5;
    const double fx = (1.0 / std::tan(0.5 * fov[0] * kDegToRad)) * halfW;
    const double halfH = imageHeight * 0.5;
    const double fy = (1.0 / std::tan(0.5 * fov[1] * kDegToRad)) * halfH;
    intrinsics << fx, 0.0, halfW, 0.0, fy, halfH, 0.0, 0.0, 1.0;

    rotation =
        sensorRotation(sensorPosition[1], sensorPosition[0], platformAngles[0], platformAngles[1],
                       platformAngles[2], sensorAngles[0], sensorAngles[1]);
    position = geodeticToEcef(sensorPosition[0], sensorPosition[1], sensorPosition[2]);
}

Eigen::Matrix3d Camera::getIntrinsics() const {
    return intrinsics;
}

Eigen::Matrix3d Camera::getRotation() const {
    return rotation;
}

Eigen::Vector3d Camera::getPosition() const {
    return position;
}

Eigen::Vector3d Camera::getTranslation() const {
    Eigen::Vector3d t;
    for (int i = 0; i < 3; ++i) {
        t(i) = -(rotation(i, 0) * position(0)) - rotation(i, 1) * position(1) -
               rotation(i, 2) * position(2);
    }
    return t;
}

Eigen::MatrixXd Camera::getExtrinsics() const {
    Eigen::MatrixXd e(3, 4);
    e.block<3, 3>(0, 0) = rotation;
    e.col(3) = -rotation * position;
    return e;
}

Eigen::MatrixXd Camera::getProjection() const {
    return intrinsics * getExtrinsics();
}

Eigen::Vector2d Camera::projectGeodetic(double latitude, double longitude, double height) const {
    const Eigen::Vector3d x = geodeticToEcef(latitude, longitude, height);
    const Eigen::Vector3d h = getProjection() * x.homogeneous();
    return Eigen::Vector2d(h(0) / h(2), h(1) / h(2));
}

} // namespace skyframe
