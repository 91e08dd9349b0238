#include "terrain/EcefGrid.h"

#include <gtest/gtest.h>

namespace skyframe {
namespace {

// The tiles must hold exactly the coordinates the camera model computes; any drift between
// the two formulas would show up here as a differing bit.
TEST(EcefGrid, GivesTheSameBitsAsGeodeticToEcef) {
    for (double latitude = -90.0; latitude <= 90.0; latitude += 0.73) {
        const EcefLatitude row(latitude);
        for (double longitude = -180.0; longitude <= 180.0; longitude += 1.37) {
            const EcefLongitude column(longitude);
            for (double height : {-87.0, 0.0, 297.25, 8848.0}) {
                const Eigen::Vector3d expected = geodeticToEcef(latitude, longitude, height);
                const Eigen::Vector3d actual = ecefAt(row, column, height);
                ASSERT_EQ(actual.x(), expected.x()) << latitude << " " << longitude;
                ASSERT_EQ(actual.y(), expected.y()) << latitude << " " << longitude;
                ASSERT_EQ(actual.z(), expected.z()) << latitude << " " << longitude;
            }
        }
    }
}

TEST(EcefGrid, GivesTheSameBitsOnATileGrid) {
    const double top = 34.0;
    const double left = -116.0;
    for (int v = 0; v < 3600; v += 7) {
        const double latitude = top + v * (-1.0 / 3600);
        const EcefLatitude row(latitude);
        for (int u = 0; u < 3600; u += 11) {
            const double longitude = left + u * (1.0 / 3600);
            const Eigen::Vector3d expected = geodeticToEcef(latitude, longitude, v + 2.0 * u);
            ASSERT_EQ(ecefAt(row, EcefLongitude(longitude), v + 2.0 * u), expected);
        }
    }
}

} // namespace
} // namespace skyframe
