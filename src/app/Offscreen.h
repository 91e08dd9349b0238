#pragma once

// Rendering without a window: an X display to render on (a private Xvfb when none is set),
// an off-screen pixel buffer of the video's own size, and the read-back of every frame drawn
// into it.

#include <osg/Camera>
#include <osg/FrameBufferObject>
#include <osg/GraphicsContext>
#include <osg/Image>
#include <osg/Texture2D>
#include <osg/observer_ptr>

#include <cstdint>
#include <string>
#include <sys/types.h>
#include <vector>

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

// Reads back every frame drawn on the camera it is attached to, one frame late: the end of a
// frame only hands the picture to the rasteriser (Mesa's software one rasterises on threads
// of its own once flushed), and the start of the next frame's drawing reads it back. The
// decoding, update and culling of the next picture thus overlap the rasterising of this
// one, where a read at the end of the frame would wait for it. Pixels are packed B, G, R, A
// rows, bottom row first.
class FrameReadBack : public osg::Referenced {
public:
    FrameReadBack(int width, int height);
    // Makes the camera draw into a framebuffer object of width x height pixels (colour and
    // depth) and reads it back through its initial and final draw callbacks (the final one
    // runs after its nested and post-render cameras have drawn too). The camera has its
    // graphics context already.
    void attach(osg::Camera& camera);
    // A camera drawn after the attached one (post-render) draws into the same picture.
    void attachOverlay(osg::Camera& camera);
    // True once after each frame whose drawing read back the frame before it into image().
    bool takeReady();
    // After the last frame: its picture in image(), read back now (its context made current
    // for it) unless its drawing was followed by another frame's; false when it cannot be.
    bool readLast();
    const osg::Image& image() const { return *image_; }
    // The pixels of image() handed over, `next` taking their place for the next read-back
    // (resized to width x height x 4 bytes): a picture leaves without being copied.
    std::vector<uint8_t> exchange(std::vector<uint8_t> next);
    // Seconds spent reading pixels back (waiting for the rasteriser included), over all
    // frames.
    double seconds() const { return seconds_; }

private:
    struct AtStart;
    struct AtEnd;
    void read(osg::State& state);

    std::vector<uint8_t> pixels_;
    osg::ref_ptr<osg::Image> image_;              // shows pixels_
    osg::ref_ptr<osg::Texture2D> colour_;         // what the camera draws into
    osg::ref_ptr<osg::FrameBufferObject> reader_; // reads it back
    int width_;
    int height_;
    bool pending_ = false; // a frame has been drawn and not read back
    bool ready_ = false;
    osg::observer_ptr<osg::GraphicsContext> context_; // the camera's
    double seconds_ = 0.0;
};

} // namespace skyframe
