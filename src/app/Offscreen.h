#pragma once

// Rendering without a window: an X display to render on (a private Xvfb when none is set),
// an off-screen pixel buffer of the video's own size, and the read-back of every frame drawn
// into it.

#include <osg/Camera>
#include <osg/GraphicsContext>
#include <osg/Image>

#include <string>
#include <sys/types.h>

namespace skyframe {

// The display the off-screen buffer lives on: DISPLAY when it is set, otherwise a private
// Xvfb started here, in a process group of its own (so that a Ctrl-C on the terminal stops
// the export cleanly instead of pulling the display from under it), and stopped when this
// object goes. Throws std::runtime_error when Xvfb cannot be started.
class RenderDisplay {
public:
    RenderDisplay();
    ~RenderDisplay();
    RenderDisplay(const RenderDisplay&) = delete;
    RenderDisplay& operator=(const RenderDisplay&) = delete;

    // One line saying where the pictures are rendered.
    std::string describe() const;

private:
    pid_t xvfb_ = -1;
    std::string name_;
};

// A pixel buffer (pbuffer) context of width x height pixels on the current display, or
// nullptr when the display cannot make one.
osg::ref_ptr<osg::GraphicsContext> makeOffscreenContext(int width, int height);

// Reads the frame back after the camera it is attached to has drawn everything, its nested
// and post-render cameras included: packed B, G, R, A rows, bottom row first.
class FrameReadBack : public osg::Camera::DrawCallback {
public:
    FrameReadBack(int width, int height);
    void operator()(osg::RenderInfo& renderInfo) const override;
    const osg::Image& image() const { return *image_; }
    // Seconds spent reading pixels back, over all frames.
    double seconds() const { return seconds_; }

private:
    osg::ref_ptr<osg::Image> image_;
    int width_;
    int height_;
    mutable double seconds_ = 0.0;
};

} // namespace skyframe
