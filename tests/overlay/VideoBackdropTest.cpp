#include "overlay/VideoBackdrop.h"

#include <osg/Camera>
#include <osg/Depth>
#include <osg/Geode>
#include <osg/Geometry>

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

    // Window top (y = 0 of the quad) at the top: ortho with bottom 1 and top 0.
    const osg::Matrixd& p = hud->getProjectionMatrix();
    const osg::Vec3d topLeft = osg::Vec3d(0.0, 0.0, 0.0) * p;
    const osg::Vec3d bottomRight = osg::Vec3d(1.0, 1.0, 0.0) * p;
    EXPECT_NEAR(topLeft.x(), -1.0, 1e-12);
    EXPECT_NEAR(topLeft.y(), 1.0, 1e-12);
    EXPECT_NEAR(bottomRight.x(), 1.0, 1e-12);
    EXPECT_NEAR(bottomRight.y(), -1.0, 1e-12);
    EXPECT_NEAR(topLeft.z(), 0.0, 1e-12);

    const osg::StateSet* state = hud->getStateSet();
    ASSERT_NE(state, nullptr);
    EXPECT_EQ(state->getMode(GL_LIGHTING), static_cast<unsigned>(osg::StateAttribute::OFF));
    auto* depth = dynamic_cast<const osg::Depth*>(state->getAttribute(osg::StateAttribute::DEPTH));
    ASSERT_NE(depth, nullptr);
    EXPECT_EQ(depth->getFunction(), osg::Depth::LEQUAL);
    EXPECT_DOUBLE_EQ(depth->getZNear(), 0.99);
    EXPECT_DOUBLE_EQ(depth->getZFar(), 1.0);
    EXPECT_TRUE(depth->getWriteMask());
    EXPECT_EQ(state->getRenderBinMode(), osg::StateSet::USE_RENDERBIN_DETAILS);
    EXPECT_EQ(state->getBinNumber(), 1);
    EXPECT_EQ(state->getBinName(), "RenderBin");

    ASSERT_EQ(hud->getNumChildren(), 1u);
    auto* geode = dynamic_cast<osg::Geode*>(hud->getChild(0));
    ASSERT_NE(geode, nullptr);
    ASSERT_EQ(geode->getNumDrawables(), 1u);
    auto* quad = dynamic_cast<osg::Geometry*>(geode->getDrawable(0));
    ASSERT_NE(quad, nullptr);
    auto* vertices = dynamic_cast<osg::Vec3Array*>(quad->getVertexArray());
    auto* texcoords = dynamic_cast<osg::Vec2Array*>(quad->getTexCoordArray(0));
    ASSERT_NE(vertices, nullptr);
    ASSERT_NE(texcoords, nullptr);
    ASSERT_EQ(vertices->size(), texcoords->size());
    // Each corner of the unit square carries its own coordinates as texture coordinates.
    for (std::size_t i = 0; i < vertices->size(); ++i) {
        EXPECT_EQ((*vertices)[i].z(), 0.0f);
        EXPECT_EQ((*vertices)[i].x(), (*texcoords)[i].x());
        EXPECT_EQ((*vertices)[i].y(), (*texcoords)[i].y());
    }
    EXPECT_EQ(quad->getStateSet()->getTextureAttribute(0, osg::StateAttribute::TEXTURE),
              backdrop.texture.get());

    EXPECT_EQ(backdrop.texture->getDataVariance(), osg::Object::DYNAMIC);
    EXPECT_FALSE(backdrop.texture->getResizeNonPowerOfTwoHint());
    EXPECT_EQ(backdrop.texture->getImage(), backdrop.image.get());
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

// A picture drawn at its own size is sampled texel for pixel; any other size, or before the
// display size is known, is filtered bilinearly. Never mipmapped: building mipmaps for every
// picture is what made the backdrop slow.
TEST(VideoBackdrop, FilterFollowsThePictureAndDisplaySizes) {
    VideoBackdrop backdrop;
    backdrop.setUpHud();
    std::vector<unsigned char> pixels(1280 * 720 * 4, 0);
    auto filters = [&backdrop] {
        return std::make_pair(backdrop.texture->getFilter(osg::Texture::MIN_FILTER),
                              backdrop.texture->getFilter(osg::Texture::MAG_FILTER));
    };
    const auto linear = std::make_pair(osg::Texture::LINEAR, osg::Texture::LINEAR);
    const auto nearest = std::make_pair(osg::Texture::NEAREST, osg::Texture::NEAREST);
    EXPECT_EQ(filters(), linear);
    backdrop.setFrame(pixels.data(), 1280, 720);
    EXPECT_EQ(filters(), linear);
    backdrop.setDisplaySize(1280, 720);
    EXPECT_EQ(filters(), nearest);
    backdrop.setFrame(pixels.data(), 640, 360);
    EXPECT_EQ(filters(), linear);
    backdrop.setDisplaySize(640, 360);
    EXPECT_EQ(filters(), nearest);
    backdrop.setDisplaySize(641, 360);
    EXPECT_EQ(filters(), linear);
}

} // namespace
} // namespace skyframe
