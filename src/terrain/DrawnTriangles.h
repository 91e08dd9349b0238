#pragma once

#include <osg/Camera>
#include <osg/FrameStamp>
#include <osg/Stats>
#include <osgViewer/View>
#include <osgViewer/ViewerBase>

#include <algorithm>

namespace skyframe {

// Header only, so that the viewer needs none of the tiler's libraries.

// Triangles the viewer draws per frame, summed over all its cameras, from OpenSceneGraph's
// own scene statistics: the
// renderer counts the primitives of what survived culling. A frame's count is read once the
// next frame has been rendered, when every camera's cull is sure to be over.
class DrawnTriangles {
public:
    // Turns on the scene statistics of every camera of the viewer.
    void enable(osgViewer::ViewerBase& viewer);
    // Adds the previous frame's count; call after each frame.
    void afterFrame(osgViewer::ViewerBase& viewer);

    long frames() const { return frames_; }
    double mean() const { return frames_ > 0 ? total_ / frames_ : 0.0; }
    double largest() const { return largest_; }

private:
    long frames_ = 0;
    double total_ = 0.0, largest_ = 0.0;
};

inline void DrawnTriangles::enable(osgViewer::ViewerBase& viewer) {
    osgViewer::ViewerBase::Cameras cameras;
    viewer.getCameras(cameras);
    for (osg::Camera* camera : cameras) {
        if (camera->getStats() != nullptr) {
            camera->getStats()->collectStats("scene", true);
        }
    }
}

inline void DrawnTriangles::afterFrame(osgViewer::ViewerBase& viewer) {
    osgViewer::ViewerBase::Cameras cameras;
    viewer.getCameras(cameras);
    osgViewer::ViewerBase::Views views;
    viewer.getViews(views);
    if (views.empty() || views.front()->getFrameStamp() == nullptr) {
        return;
    }
    const unsigned frame = views.front()->getFrameStamp()->getFrameNumber();
    if (frame == 0) {
        return;
    }
    double triangles = 0.0;
    bool counted = false;
    // Terrain tiles draw strips, counted as their vertices less two (the few triangles of no
    // area that join a strip's rows included); overlay shapes draw triangles.
    for (osg::Camera* camera : cameras) {
        for (const char* name :
             {"Visible number of GL_TRIANGLES", "Visible number of GL_TRIANGLE_STRIP"}) {
            double value = 0.0;
            if (camera->getStats() != nullptr &&
                camera->getStats()->getAttribute(frame - 1, name, value)) {
                triangles += value;
                counted = true;
            }
        }
    }
    if (counted) {
        ++frames_;
        total_ += triangles;
        largest_ = std::max(largest_, triangles);
    }
}

} // namespace skyframe
