#pragma once

#include <osg/Camera>
#include <osg/GraphicsThread>
#include <osg/Group>
#include <osg/Image>
#include <osg/Texture2D>
#include <osg/ref_ptr>

namespace skyframe {

// The decoded video shown as a full-window picture behind the 3D scene. It owns the scene's
// root group: setUpHud makes an orthographic HUD camera the root's first child, and the
// driver adds every other piece of scene content after it.
//
// The picture is copied into the framebuffer (a framebuffer blit) rather than drawn as a
// textured quad: at the window's own size Mesa's software rasteriser then copies it row by
// row, where the quad cost a shader run and a depth test per pixel, a fifth of an export's
// time. A copy writes no depth; the scene camera's depth buffer starts at the depth the quad
// used to write instead (placeBehind), so the scene is hidden or shown exactly as before.
class VideoBackdrop {
public:
    // Window depth of the picture: the scene shows only where it is nearer (up to about
    // 30 km with the viewer's near and far planes).
    static constexpr double kDepth = 0.995;
    // The render bin the copy is drawn in: before any other, since a copy overwrites whatever
    // lies under it, where the quad's depth test spared nearer geometry drawn before it.
    static constexpr int kBin = -1000;

    VideoBackdrop();

    // Builds the HUD camera with the picture's copy and adds it to root. Call once, before
    // anything else is added to root, so that the HUD camera is child 0.
    void setUpHud();

    // Makes `sceneCamera`, which draws the root, clear its depth buffer to the picture's depth.
    void placeBehind(osg::Camera& sceneCamera) const;

    // Shows a picture of packed 32-bit pixels in byte order blue, green, red, alpha (alpha
    // unused), rows tightly packed (width * 4 bytes each), bottom row first, as OpenGL takes
    // them. The buffer is not copied: it must stay valid and unchanged until the next frame
    // has been drawn. A picture of the viewport's size is copied pixel for pixel, any other
    // is scaled bilinearly.
    void setFrame(const unsigned char* pixels, int width, int height);

    osg::ref_ptr<osg::Group> root;
    osg::ref_ptr<osg::Texture2D> texture;
    osg::ref_ptr<osg::Image> image;
};

// The viewer's realize operation: every texture of its contexts keeps the byte order of the
// pixels it is given. Left to itself OpenSceneGraph gives textures immutable storage sized
// RGBA8 whatever the pixels' order; Mesa then stores R, G, B, A bytes, so every B, G, R, A
// picture is swizzled when uploaded, copied into the framebuffer by a shader rather than as
// memory, and swizzled again when read back.
osg::ref_ptr<osg::GraphicsOperation> texturesInPixelOrder();

} // namespace skyframe
