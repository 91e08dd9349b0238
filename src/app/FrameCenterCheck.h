#pragma once

// The telemetry self-check: where the recorder says the picture's centre and corners lie on
// the ground, projected by the same camera as the overlay. For a recorder whose angles can
// be trusted the centre lands on the picture's centre; the distance, gathered over a run,
// is one number a user can judge a recording by.

#include "app/TelemetryIntake.h"
#include "camera/Camera.h"

#include <osg/Camera>
#include <osg/Geometry>

#include <optional>
#include <string>
#include <vector>

namespace skyframe {

// The ground points a record gives for the picture: the frame centre (degrees, degrees,
// metres above the ellipsoid) and, when the record has them, the four corners (degrees).
struct Footprint {
    std::optional<Eigen::Vector3d> centre;
    std::vector<Eigen::Vector2d> corners; // latitude, longitude; empty or four
};

// p-th percentile (0..100) of the values, by linear interpolation between order statistics;
// NaN for none.
double percentile(std::vector<double> values, double p);

class FrameCenterCheck {
public:
    // Drawn in window pixels of a windowWidth x windowHeight window, in cameras whose cull
    // mask includes `mask`.
    FrameCenterCheck(int windowWidth, int windowHeight, osg::Node::NodeMask mask);
    osg::Camera* camera() { return camera_.get(); }

    // Projects the footprint of one shown picture with its camera; draws it when `show`.
    // The centre's distance from the picture's centre (picture pixels) is kept.
    void update(const Camera& camera, const Footprint& footprint, bool show);

    const std::vector<double>& distances() const { return distances_; }
    // "frame centre: N pictures, median D px, 95th percentile P px from the picture centre",
    // and where the record had corners "; corners median C px from the picture's corners".
    std::string summary() const;

private:
    osg::ref_ptr<osg::Camera> camera_;
    osg::ref_ptr<osg::Geometry> geometry_;
    osg::ref_ptr<osg::Vec3Array> vertices_;
    int windowWidth_;
    int windowHeight_;
    osg::Node::NodeMask mask_;
    std::vector<double> distances_;
    std::vector<double> cornerDistances_;
};

} // namespace skyframe
