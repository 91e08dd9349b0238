#pragma once

// Helpers shared by the mission tests: scratch files, an independent inverse of the
// geodetic conversion, and compact state tables of three-state switch groups.

#include "mission/RouteScene.h"

#include <osg/Group>
#include <osg/Vec3f>

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

namespace skyframe::test {

// A directory of its own for one test, removed with everything in it at the end.
class ScratchDir {
public:
    ScratchDir() {
        static std::atomic<int> serial{0};
        path_ = std::filesystem::temp_directory_path() /
                ("skyframe-mission-" + std::to_string(::getpid()) + "-" + std::to_string(serial++));
        std::filesystem::create_directories(path_);
    }
    ~ScratchDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    std::string write(const std::string& name, const std::string& content) const {
        const std::filesystem::path file = path_ / name;
        std::ofstream(file, std::ios::binary) << content;
        return file.string();
    }
    std::string path() const { return path_.string(); }

private:
    std::filesystem::path path_;
};

struct Geodetic {
    double latitude;  // degrees
    double longitude; // degrees
    double height;    // metres above the ellipsoid
};

// Earth-centred to geodetic by Bowring's iteration on WGS84 parameters given here, not the
// production constants: converged to far below a millimetre.
inline Geodetic toGeodetic(double x, double y, double z) {
    const double a = 6378137.0;
    const double f = 1.0 / 298.257223563;
    const double b = a * (1.0 - f);
    const double e2 = f * (2.0 - f);
    const double ep2 = e2 / (1.0 - e2);
    const double rho = std::hypot(x, y);
    double beta = std::atan2(z, (1.0 - f) * rho);
    double phi = 0.0;
    for (int i = 0; i < 10; ++i) {
        phi = std::atan2(z + b * ep2 * std::pow(std::sin(beta), 3),
                         rho - a * e2 * std::pow(std::cos(beta), 3));
        beta = std::atan2((1.0 - f) * std::sin(phi), std::cos(phi));
    }
    const double n = a / std::sqrt(1.0 - e2 * std::sin(phi) * std::sin(phi));
    const double deg = 180.0 / M_PI;
    return {phi * deg, std::atan2(y, x) * deg, rho / std::cos(phi) - n};
}

inline Geodetic toGeodetic(const osg::Vec3f& p) {
    return toGeodetic(p.x(), p.y(), p.z());
}

// One letter per switch of a group: N NotReached, P Passed, A Active, '?' when not exactly
// one child is shown.
inline std::string stateTable(const osg::Group& group) {
    std::string table;
    for (unsigned i = 0; i < group.getNumChildren(); ++i) {
        const osg::Switch* s = group.getChild(i)->asSwitch();
        int shown = 0;
        char letter = '?';
        for (unsigned c = 0; s != nullptr && c < s->getNumChildren(); ++c) {
            if (s->getValue(c)) {
                ++shown;
                letter = "NPA"[c];
            }
        }
        table += shown == 1 ? letter : '?';
    }
    return table;
}

// Expands runs such as "P5 A1" into "PPPPPA", padded with N to `length` letters.
inline std::string expand(const std::string& runs, std::size_t length) {
    std::string table;
    for (std::size_t i = 0; i < runs.size();) {
        const char letter = runs[i++];
        std::size_t used = 0;
        const int count = std::stoi(runs.substr(i), &used);
        i += used;
        table.append(static_cast<std::size_t>(count), letter);
        while (i < runs.size() && runs[i] == ' ') {
            ++i;
        }
    }
    table.resize(length, 'N');
    return table;
}

} // namespace skyframe::test
