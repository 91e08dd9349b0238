#include "overlay/VideoBackdrop.h"

#include <osg/Camera>
#include <osg/Depth>
#include <osg/Geode>
#include <osg/Geometry>
#include <osg/StateSet>

namespace skyframe {

VideoBackdrop::VideoBackdrop()
    : root(new osg::Group), texture(new osg::Texture2D), image(new osg::Image) {}

void VideoBackdrop::setUpHud() {
    texture->setImage(image.get());
    // The pixels change every frame; a 1280 x 720 picture is uploaded at its own size rather
    // than stretched to powers of two.
    texture->setDataVariance(osg::Object::DYNAMIC);
    texture->setResizeNonPowerOfTwoHint(false);
    // No mipmaps: the picture is never minified much, and building them for every picture
    // took a third of the rendering time in software OpenGL.
    texture->setFilter(osg::Texture::MIN_FILTER, osg::Texture::LINEAR);
    texture->setFilter(osg::Texture::MAG_FILTER, osg::Texture::LINEAR);

    // Unit square at z = 0 with texture (0, 0) at its (0, 0) corner.
    osg::ref_ptr<osg::Geometry> quad =
        osg::createTexturedQuadGeometry(osg::Vec3(0.0f, 0.0f, 0.0f), osg::Vec3(1.0f, 0.0f, 0.0f),
                                        osg::Vec3(0.0f, 1.0f, 0.0f), 0.0f, 0.0f, 1.0f, 1.0f);
    quad->getOrCreateStateSet()->setTextureAttributeAndModes(0, texture.get(),
                                                             osg::StateAttribute::ON);

    osg::ref_ptr<osg::Geode> geode = new osg::Geode;
    geode->addDrawable(quad.get());

    osg::ref_ptr<osg::Camera> hud = new osg::Camera;
    hud->setCullingActive(false);
    // The main camera clears colour and depth; the HUD only draws into what it left.
    hud->setClearMask(0);
    hud->setAllowEventFocus(false);
    // Not affected by the main camera's view and projection.
    hud->setReferenceFrame(osg::Transform::ABSOLUTE_RF);
    // Drawn inside the main camera's rendering, sorted into its render bins.
    hud->setRenderOrder(osg::Camera::NESTED_RENDER, 0);
    // Bottom 1, top 0: y points down the window, so the buffer's first row, at texture row 0
    // and quad edge y = 0, is drawn at the top and the picture is upright.
    hud->setProjectionMatrix(osg::Matrixd::ortho2D(0.0, 1.0, 1.0, 0.0));
    hud->addChild(geode.get());

    osg::StateSet* state = hud->getOrCreateStateSet();
    state->setMode(GL_LIGHTING, osg::StateAttribute::OFF);
    // The quad lands at window depth 0.995: the video shows only where nothing nearer has
    // been drawn, and anything drawn after it in front of it passes the depth test.
    state->setAttributeAndModes(new osg::Depth(osg::Depth::LEQUAL, 0.99, 1.0, true),
                                osg::StateAttribute::ON);
    // Bin 1: after the default bin, before terrain (2) and route and targets (3).
    state->setRenderBinDetails(1, "RenderBin", osg::StateSet::USE_RENDERBIN_DETAILS);

    root->addChild(hud.get());
}

void VideoBackdrop::setFrame(const unsigned char* pixels, int width, int height) {
    // NO_DELETE: the frame loop owns the buffer and reuses it for the whole run.
    image->setImage(width, height, 1, GL_RGBA, GL_BGRA, GL_UNSIGNED_BYTE,
                    const_cast<unsigned char*>(pixels), osg::Image::NO_DELETE, 1, 0);
    texture->setImage(image.get());
    if (width != pictureWidth_ || height != pictureHeight_) {
        pictureWidth_ = width;
        pictureHeight_ = height;
        chooseFilter();
    }
}

void VideoBackdrop::setDisplaySize(int width, int height) {
    if (width != displayWidth_ || height != displayHeight_) {
        displayWidth_ = width;
        displayHeight_ = height;
        chooseFilter();
    }
}

void VideoBackdrop::chooseFilter() {
    // Texel centres on pixel centres: bilinear filtering would give the same colours at
    // several times the cost per pixel.
    const bool oneToOne = pictureWidth_ == displayWidth_ && pictureHeight_ == displayHeight_;
    const auto filter = oneToOne ? osg::Texture::NEAREST : osg::Texture::LINEAR;
    texture->setFilter(osg::Texture::MIN_FILTER, filter);
    texture->setFilter(osg::Texture::MAG_FILTER, filter);
}

} // namespace skyframe
