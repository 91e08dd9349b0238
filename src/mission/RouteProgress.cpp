#include "mission/RouteProgress.h"

#include "camera/Geodesy.h"
#include "mission/RouteScene.h"

#include <cfloat>
#include <cmath>
#include <limits>

namespace skyframe {

namespace {

osg::Switch* switchAt(osg::Group& group, unsigned i) {
    return i < group.getNumChildren() ? group.getChild(i)->asSwitch() : nullptr;
}

bool inState(const osg::Switch* s, MarkerState state) {
    return s != nullptr && isInState(*s, state);
}

void put(osg::Switch* s, MarkerState state) {
    if (s != nullptr) {
        setState(*s, state);
    }
}

// Rounds like a float conversion, but a value beyond the float range becomes an infinity
// instead of undefined behaviour; telemetry can carry anything.
float toFloat(double v) {
    if (v > FLT_MAX) {
        return std::numeric_limits<float>::infinity();
    }
    if (v < -FLT_MAX) {
        return -std::numeric_limits<float>::infinity();
    }
    return static_cast<float>(v);
}

} // namespace

double distanceBetween(const osg::Vec3f& a, const osg::Vec3f& b) {
    const double dx = static_cast<double>(a.x()) - b.x();
    const double dy = static_cast<double>(a.y()) - b.y();
    const double dz = static_cast<double>(a.z()) - b.z();
    return std::sqrt(dx * dx + dy * dy + dz * dz);
}

unsigned nearestWaypoint(const osg::Vec3f& p, const osg::Vec3Array& waypoints) {
    unsigned best = 0;
    double bestDistance = std::numeric_limits<double>::infinity();
    for (unsigned i = 0; i < waypoints.size(); ++i) {
        const double d = distanceBetween(p, waypoints[i]);
        if (d < bestDistance) {
            best = i;
            bestDistance = d;
        }
    }
    return best;
}

void markPassed(osg::Group& group, int n) {
    for (int i = 0; i < n; ++i) {
        put(switchAt(group, static_cast<unsigned>(i)), MarkerState::Passed);
    }
}

void updateSwitches(osg::Group& markers, osg::Group& legs, unsigned b, double distance) {
    osg::Switch* marker = switchAt(markers, b);
    osg::Switch* next = switchAt(markers, b + 1);
    osg::Switch* leg = switchAt(legs, b);
    osg::Switch* previousLeg = b > 0 ? switchAt(legs, b - 1) : nullptr;
    const double t = kProximityThreshold;

    if (b > 0 && inState(marker, MarkerState::NotReached)) {
        put(marker, MarkerState::Active);
        put(previousLeg, MarkerState::Active);
    }
    if (distance <= t) {
        put(marker, MarkerState::Active);
        put(leg, MarkerState::Active);
        put(previousLeg, MarkerState::Passed);
        put(next, MarkerState::Active);
    }
    if (distance >= t && inState(marker, MarkerState::Passed) && next != nullptr) {
        put(next, MarkerState::Active);
    }
    if (distance > t && inState(next, MarkerState::Active)) {
        put(marker, MarkerState::Passed);
        put(leg, MarkerState::Active);
    }
}

RouteProgress::RouteProgress(osg::ref_ptr<const osg::Vec3Array> waypoints,
                             osg::ref_ptr<osg::Group> markers, osg::ref_ptr<osg::Group> legs)
    : waypoints_(std::move(waypoints)), markers_(std::move(markers)), legs_(std::move(legs)) {}

void RouteProgress::update(double latitude, double longitude, double height) {
    const osg::Vec3Array& w = *waypoints_;
    if (w.empty()) {
        return;
    }
    const Eigen::Vector3d e = geodeticToEcef(latitude, longitude, height);
    const osg::Vec3f p(toFloat(e.x()), toFloat(e.y()), toFloat(e.z()));

    if (firstFrame) {
        current = nearestWaypoint(p, w);
        markPassed(*markers_, static_cast<int>(current));
        if (current > 0) {
            markPassed(*legs_, static_cast<int>(current) - 1);
        }
        startDistance = distanceBetween(p, w[current]);
        firstFrame = false;
    }

    if (watchStart) {
        referenceDistance = distanceBetween(p, w[current]);
        if (referenceDistance > startDistance) {
            markPassed(*markers_, static_cast<int>(current) + 1);
            markPassed(*legs_, static_cast<int>(current));
            watchStart = false;
        }
    }

    const double d = distanceBetween(p, w[current]);

    if (counter == kMoveAwayCheckInterval) {
        counter = 0;
        if (d < referenceDistance) {
            referenceDistance = d;
        } else if (d > referenceDistance) {
            markPassed(*legs_, static_cast<int>(current));
            markPassed(*markers_, static_cast<int>(current) + 1);
        }
    }

    if (current + 1 < w.size()) {
        const double next = distanceBetween(p, w[current + 1]);
        if (next < d) {
            ++current;
            referenceDistance = next;
        }
    }

    // The distance handed on is the one to the waypoint that was current before advancing.
    updateSwitches(*markers_, *legs_, current, d);
    ++counter;
}

} // namespace skyframe
