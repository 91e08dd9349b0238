#include "overlay/DataDirectory.h"

#include <osgDB/FileUtils>
#include <osgText/Font>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

namespace skyframe {
namespace {

long countOnPath(const std::string& directory) {
    const osgDB::FilePathList& paths = osgDB::getDataFilePathList();
    return std::count(paths.begin(), paths.end(), directory);
}

TEST(RegisterDataDirectory, PutsTheBuildDataDirectoryOnTheDataPathOnce) {
    ::unsetenv(kDataDirectoryVariable);
    const std::string directory = registerDataDirectory();
    EXPECT_EQ(directory, SKYFRAME_BINARY_DIR "/data");
    EXPECT_TRUE(std::filesystem::exists(directory + "/cour.ttf"));
    EXPECT_EQ(registerDataDirectory(), directory);
    EXPECT_EQ(countOnPath(directory), 1);

    const std::string found = osgDB::findDataFile("cour.ttf");
    ASSERT_FALSE(found.empty());
    EXPECT_EQ(std::filesystem::canonical(found).filename(), "LiberationMono-Regular.ttf");
    // And it is a font that loads.
    osg::ref_ptr<osgText::Font> font = osgText::readRefFontFile("cour.ttf");
    ASSERT_NE(font, nullptr);
    EXPECT_EQ(std::filesystem::canonical(font->getFileName()).filename(),
              "LiberationMono-Regular.ttf");
}

TEST(RegisterDataDirectory, EnvironmentNamesAnotherDirectory) {
    const std::string directory = SKYFRAME_BINARY_DIR "/tests/overlay";
    ::setenv(kDataDirectoryVariable, directory.c_str(), 1);
    testing::internal::CaptureStderr();
    EXPECT_EQ(registerDataDirectory(), directory);
    const std::string warning = testing::internal::GetCapturedStderr();
    ::unsetenv(kDataDirectoryVariable);
    EXPECT_EQ(countOnPath(directory), 1);
    // No font there: a warning, nothing more.
    EXPECT_NE(warning.find("cour.ttf not found in " + directory), std::string::npos) << warning;
}

} // namespace
} // namespace skyframe
