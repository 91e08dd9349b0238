#include "overlay/Labels.h"

#include "overlay/DataDirectory.h"

#include <osgText/Text>

#include <gtest/gtest.h>

#include <filesystem>

namespace skyframe {
namespace {

// As the viewer does, the data directory is registered before any label is made.
class MakeLabel : public testing::Test {
protected:
    void SetUp() override { registerDataDirectory(); }
};

TEST_F(MakeLabel, RedScreenFacingTextAboveTheReferencePoint) {
    const osg::Vec3f reference(-2345678.5f, -4876543.0f, 3499999.5f);
    osg::ref_ptr<osg::Geode> label = makeLabel(reference, "B");
    ASSERT_EQ(label->getNumDrawables(), 1u);
    const auto* text = dynamic_cast<const osgText::Text*>(label->getDrawable(0));
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(text->getText().createUTF8EncodedString(), "B");
    EXPECT_EQ(text->getCharacterHeight(), 50.0f);
    EXPECT_EQ(text->getCharacterSizeMode(), osgText::TextBase::OBJECT_COORDS);
    EXPECT_EQ(text->getColor(), osg::Vec4(1, 0, 0, 1));
    EXPECT_EQ(text->getAxisAlignment(), osgText::TextBase::SCREEN);
    // Offsets along the Earth-centred axes, in single precision.
    EXPECT_EQ(text->getPosition(),
              osg::Vec3(reference.x(), reference.y() - 10.0f, reference.z() + 40.0f));
    // Left to the library: alignment of the text to its position.
    osg::ref_ptr<osgText::Text> defaults = new osgText::Text;
    EXPECT_EQ(text->getAlignment(), defaults->getAlignment());
}

TEST_F(MakeLabel, TextIsSetUnchanged) {
    for (const std::string& name : {std::string(">"), std::string("&"), std::string("Depot")}) {
        osg::ref_ptr<osg::Geode> label = makeLabel(osg::Vec3f(), name);
        const auto* text = static_cast<const osgText::Text*>(label->getDrawable(0));
        EXPECT_EQ(text->getText().createUTF8EncodedString(), name);
    }
}

// "cour.ttf" is not on a Debian system; with the data directory registered it must resolve to
// Liberation Mono rather than whatever face font matching would pick.
TEST_F(MakeLabel, FontResolvesToLiberationMono) {
    osg::ref_ptr<osg::Geode> label = makeLabel(osg::Vec3f(), "R");
    const auto* text = static_cast<const osgText::Text*>(label->getDrawable(0));
    ASSERT_NE(text->getFont(), nullptr);
    const std::string file = text->getFont()->getFileName();
    ASSERT_FALSE(file.empty());
    EXPECT_EQ(std::filesystem::canonical(file).filename(), "LiberationMono-Regular.ttf") << file;
}

} // namespace
} // namespace skyframe
