#include "overlay/VideoBackdrop.h"

#include <osg/Camera>
#include <osg/Geode>

#include <gtest/gtest.h>

#include <vector>

namespace skyframe {
namespace {

TEST(VideoBackdrop, HudCameraIsTheRootsFirstChild) {
    VideoBackdrop backdrop;
    backdrop.setUpHud();
    ASSERT_EQ(backdrop.root->getNumChildren(), 1u);
    auto* hud = dynamic_cast<osg::Camera*>(backdrop.root->getChild(0));
    ASSERT_NE(hud, nullptr);
    EXPECT_FALSE(hud->getCullingActive());
    EXPECT_EQ(hud->getClearMask(), 0u);
    EXPECT_FALSE(hud->getAllowEventFocus());
    EXPECT_EQ(hud->getReferenceFrame(), osg::Transform::ABSOLUTE_RF);
    EXPECT_EQ(hud->getRenderOrder(), osg::Camera::NESTED_RENDER);
    EXPECT_EQ(hud->getViewport(), nullptr);
    EXPECT_TRUE(hud->getViewMatrix().isIdentity());

    const osg::StateSet* state = hud->getStateSet();
    ASSERT_NE(state, nullptr);
    EXPECT_EQ(state->getMode(GL_LIGHTING), static_cast<unsigned>(osg::StateAttribute::OFF));
    EXPECT_EQ(state->getRenderBinMode(), osg::StateSet::USE_RENDERBIN_DETAILS);
    // Drawn before anything else of the scene: before the default bin (0).
    EXPECT_LT(state->getBinNumber(), 0);
    EXPECT_EQ(state->getBinName(), "RenderBin");

    // One drawable, never culled: the picture's copy over the whole viewport.
    ASSERT_EQ(hud->getNumChildren(), 1u);
    auto* geode = dynamic_cast<osg::Geode*>(hud->getChild(0));
    ASSERT_NE(geode, nullptr);
    ASSERT_EQ(geode->getNumDrawables(), 1u);
    const osg::Drawable* copy = geode->getDrawable(0);
    EXPECT_FALSE(copy->getCullingActive());
    EXPECT_FALSE(copy->getUseDisplayList());

    EXPECT_EQ(backdrop.texture->getDataVariance(), osg::Object::DYNAMIC);
    EXPECT_FALSE(backdrop.texture->getResizeNonPowerOfTwoHint());
    EXPECT_EQ(backdrop.texture->getFilter(osg::Texture::MIN_FILTER), osg::Texture::NEAREST);
    EXPECT_EQ(backdrop.texture->getImage(), backdrop.image.get());

    // The copy writes no depth: the scene camera's depth starts where the picture lies.
    osg::ref_ptr<osg::Camera> scene = new osg::Camera;
    backdrop.placeBehind(*scene);
    EXPECT_DOUBLE_EQ(scene->getClearDepth(), VideoBackdrop::kDepth);
}

TEST(VideoBackdrop, FrameIsShownInPlaceAndMarkedModifiedEveryCall) {
    VideoBackdrop backdrop;
    backdrop.setUpHud();
    std::vector<unsigned char> pixels(1280 * 720 * 4, 0);
    backdrop.setFrame(pixels.data(), 1280, 720);
    const osg::Image& image = *backdrop.image;
    EXPECT_EQ(image.s(), 1280);
    EXPECT_EQ(image.t(), 720);
    EXPECT_EQ(image.r(), 1);
    EXPECT_EQ(image.getInternalTextureFormat(), GL_RGBA);
    EXPECT_EQ(image.getPixelFormat(), static_cast<GLenum>(GL_BGRA));
    EXPECT_EQ(image.getDataType(), static_cast<GLenum>(GL_UNSIGNED_BYTE));
    EXPECT_EQ(image.getPacking(), 1u);
    EXPECT_EQ(image.getRowSizeInBytes(), 1280u * 4u);
    EXPECT_EQ(image.data(), pixels.data());
    EXPECT_EQ(image.getAllocationMode(), osg::Image::NO_DELETE);

    const unsigned int before = image.getModifiedCount();
    pixels[0] = 255;
    backdrop.setFrame(pixels.data(), 1280, 720);
    EXPECT_GT(backdrop.image->getModifiedCount(), before);
    EXPECT_EQ(backdrop.texture->getImage(), backdrop.image.get());
}

} // namespace
} // namespace skyframe
