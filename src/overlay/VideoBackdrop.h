#pragma once

#include <osg/Group>
#include <osg/Image>
#include <osg/Texture2D>
#include <osg/ref_ptr>

namespace skyframe {

// The decoded video shown as a full-window picture behind the 3D scene. It owns the scene's
// root group: setUpHud makes an orthographic HUD camera the root's first child, and the
// driver adds every other piece of scene content after it.
class VideoBackdrop {
public:
    VideoBackdrop();

    // Builds the HUD camera with the textured unit quad and adds it to root. Call once,
    // before anything else is added to root, so that the HUD camera is child 0.
    void setUpHud();

    // Shows a picture of packed 32-bit pixels in byte order blue, green, red, alpha (alpha
    // unused), rows tightly packed (width * 4 bytes each), first row at the top. The buffer
    // is not copied: it must stay valid and unchanged until the next frame has been drawn.
    void setFrame(const unsigned char* pixels, int width, int height);

    // The size in pixels the picture is drawn at. A picture of exactly that size is sampled
    // texel for pixel (nearest), any other is filtered bilinearly.
    void setDisplaySize(int width, int height);

private:
    void chooseFilter();
    int pictureWidth_ = 0;
    int pictureHeight_ = 0;
    int displayWidth_ = 0;
    int displayHeight_ = 0;

public:
    osg::ref_ptr<osg::Group> root;
    osg::ref_ptr<osg::Texture2D> texture;
    osg::ref_ptr<osg::Image> image;
};

} // namespace skyframe
