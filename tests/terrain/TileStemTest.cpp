#include "terrain/TileStem.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace skyframe {
namespace {

TEST(TileStem, IsTheSixCharactersBeforeTheExtension) {
    EXPECT_EQ(tileStem("n33w16.dt2"), "n33w16");
    EXPECT_EQ(tileStem("/data/dted/w116/n33w16.dt1"), "n33w16");
    EXPECT_EQ(tileStem("../shared/testdata/n33_w116_3arc_v2.dt1"), "arc_v2");
    // Not a file-name rule: whatever stands six to ten characters from the end.
    EXPECT_EQ(tileStem("cells/n33.dt2"), "ls/n33");
}

TEST(TileStem, RefusesPathsTooShortForAStem) {
    EXPECT_EQ(tileStem("abcdef.dt2"), "abcdef"); // exactly ten characters
    for (const char* path : {"", "n33.dt2", "abcde.dt2"}) {
        try {
            tileStem(path);
            ADD_FAILURE() << "accepted \"" << path << "\"";
        } catch (const std::invalid_argument& e) {
            EXPECT_NE(std::string(e.what()).find(std::string("\"") + path + "\""),
                      std::string::npos)
                << e.what();
        }
    }
}

} // namespace
} // namespace skyframe
