#include "app/FrameCenterCheck.h"

#include "app/ViewerControls.h"

#include <osg/Geode>
#include <osg/LineWidth>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

namespace skyframe {

namespace {
constexpr float kCrossArm = 14.0f; // window pixels
} // namespace

double percentile(std::vector<double> values, double p) {
    if (values.empty()) {
        return std::numeric_limits<double>::quiet_NaN();
    }
    std::sort(values.begin(), values.end());
    const double rank = p / 100.0 * static_cast<double>(values.size() - 1);
    const auto low = static_cast<size_t>(std::floor(rank));
    const size_t high = std::min(low + 1, values.size() - 1);
    return values[low] + (rank - static_cast<double>(low)) * (values[high] - values[low]);
}

FrameCenterCheck::FrameCenterCheck(int windowWidth, int windowHeight, osg::Node::NodeMask mask)
    : camera_(makeWindowOverlayCamera(windowWidth, windowHeight, true)),
      geometry_(new osg::Geometry), vertices_(new osg::Vec3Array), windowWidth_(windowWidth),
      windowHeight_(windowHeight), mask_(mask) {
    // Window pixels with y down, as the picture's rows run.
    camera_->getOrCreateStateSet()->setAttributeAndModes(new osg::LineWidth(2.0f));

    geometry_->setDataVariance(osg::Object::DYNAMIC);
    geometry_->setUseDisplayList(false);
    geometry_->setUseVertexBufferObjects(true);
    geometry_->setVertexArray(vertices_.get());
    osg::ref_ptr<osg::Vec4Array> colour = new osg::Vec4Array;
    colour->push_back(osg::Vec4(1.0f, 1.0f, 0.0f, 1.0f));
    geometry_->setColorArray(colour.get(), osg::Array::BIND_OVERALL);
    osg::ref_ptr<osg::Geode> geode = new osg::Geode;
    geode->addDrawable(geometry_.get());
    camera_->addChild(geode.get());
    camera_->setNodeMask(0);
}

void FrameCenterCheck::update(const Camera& camera, const Footprint& footprint, bool show) {
    const double sx = windowWidth_ / camera.imageWidth;
    const double sy = windowHeight_ / camera.imageHeight;
    vertices_->clear();
    geometry_->removePrimitiveSet(0, geometry_->getNumPrimitiveSets());
    if (footprint.centre) {
        const Eigen::Vector3d& c = *footprint.centre;
        const Eigen::Vector2d uv = camera.projectGeodetic(c.x(), c.y(), c.z());
        distances_.push_back(
            std::hypot(uv.x() - camera.imageWidth / 2.0, uv.y() - camera.imageHeight / 2.0));
        const auto x = static_cast<float>(uv.x() * sx), y = static_cast<float>(uv.y() * sy);
        vertices_->push_back({x - kCrossArm, y, 0});
        vertices_->push_back({x + kCrossArm, y, 0});
        vertices_->push_back({x, y - kCrossArm, 0});
        vertices_->push_back({x, y + kCrossArm, 0});
        geometry_->addPrimitiveSet(new osg::DrawArrays(GL_LINES, 0, 4));
    }
    if (footprint.corners.size() == 4 && footprint.centre) {
        const auto first = static_cast<GLint>(vertices_->size());
        // Top left, top right, bottom right, bottom left, as the picture's own corners.
        const double cornerU[4] = {0.0, camera.imageWidth, camera.imageWidth, 0.0};
        const double cornerV[4] = {0.0, 0.0, camera.imageHeight, camera.imageHeight};
        for (size_t i = 0; i < 4; ++i) {
            const Eigen::Vector2d& corner = footprint.corners[i];
            const Eigen::Vector2d uv =
                camera.projectGeodetic(corner.x(), corner.y(), footprint.centre->z());
            cornerDistances_.push_back(std::hypot(uv.x() - cornerU[i], uv.y() - cornerV[i]));
            vertices_->push_back(
                {static_cast<float>(uv.x() * sx), static_cast<float>(uv.y() * sy), 0});
        }
        geometry_->addPrimitiveSet(new osg::DrawArrays(GL_LINE_LOOP, first, 4));
    }
    vertices_->dirty();
    geometry_->dirtyBound();
    camera_->setNodeMask(show ? mask_ : 0u);
}

std::string FrameCenterCheck::summary() const {
    char line[256];
    int n = std::snprintf(line, sizeof line,
                          "frame centre: %zu pictures, median %.2f px, 95th percentile %.2f px "
                          "from the picture centre",
                          distances_.size(), percentile(distances_, 50.0),
                          percentile(distances_, 95.0));
    if (!cornerDistances_.empty() && n > 0 && static_cast<size_t>(n) < sizeof line) {
        std::snprintf(line + n, sizeof line - static_cast<size_t>(n),
                      "; corners median %.2f px from the picture's corners",
                      percentile(cornerDistances_, 50.0));
    }
    return line;
}

} // namespace skyframe
