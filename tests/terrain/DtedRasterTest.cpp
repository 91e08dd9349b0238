#include "terrain/DtedRaster.h"

#include "TerrainFixtures.h"

#include <gtest/gtest.h>

namespace skyframe {
namespace {

TEST(ReadDtedGeometry, HandsOutWidthPixelSizeAndCornerAfterTheDatasetReport) {
    int width = 0;
    double pixelWidth = 0.0;
    osg::Vec3f origin(1.0f, 2.0f, 3.0f);
    ::testing::internal::CaptureStdout();
    const bool opened = readDtedGeometry(testing::fixtureCell(121), width, pixelWidth, origin);
    const std::string out = ::testing::internal::GetCapturedStdout();
    ASSERT_TRUE(opened);
    EXPECT_EQ(width, 121);
    EXPECT_DOUBLE_EQ(pixelWidth, 1.0 / 120);
    EXPECT_EQ(origin, osg::Vec3f(static_cast<float>(-116.0 - 0.5 / 120),
                                 static_cast<float>(34.0 + 0.5 / 120), 0.0f));
    // The dataset part of the report only.
    EXPECT_EQ(out.rfind("Driver: DTED/DTED Elevation Raster\nSize is 121x121x1\n", 0), 0u) << out;
    EXPECT_NE(out.find("Pixel Size = (0.008333,-0.008333)\n"), std::string::npos);
    EXPECT_EQ(out.find("Band="), std::string::npos);
}

TEST(ReadDtedGeometry, LeavesOutputsAloneAndSaysHelloWorldWhenTheCellCannotBeOpened) {
    int width = 7;
    double pixelWidth = 0.25;
    osg::Vec3f origin(1.0f, 2.0f, 3.0f);
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    const bool opened = readDtedGeometry("/nonexistent/n33w16.dt2", width, pixelWidth, origin);
    const std::string out = ::testing::internal::GetCapturedStdout();
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_FALSE(opened);
    EXPECT_EQ(out, "Hello World!");
    EXPECT_NE(err.find("\"/nonexistent/n33w16.dt2\""), std::string::npos) << err;
    EXPECT_EQ(width, 7);
    EXPECT_EQ(pixelWidth, 0.25);
    EXPECT_EQ(origin, osg::Vec3f(1.0f, 2.0f, 3.0f));
}

TEST(OpenDted, GivesGdalsReasonInsteadOfPrintingIt) {
    std::string whyNot;
    ::testing::internal::CaptureStderr();
    GDALDatasetUniquePtr dataset = openDted("/nonexistent/cell.dt2", &whyNot);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    EXPECT_FALSE(dataset);
    EXPECT_FALSE(whyNot.empty());
}

} // namespace
} // namespace skyframe
