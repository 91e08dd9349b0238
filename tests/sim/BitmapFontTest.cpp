#include "BitmapFont.h"

#include <gtest/gtest.h>

#include <random>

namespace skyframe {
namespace {

TEST(FrameNumber, DrawsWhiteDigitsInABlackBoxAtTheTopLeft) {
    RgbImage image(200, 60);
    image.fill({100, 150, 100});
    drawFrameNumber(image, 1234, 2);
    const int w = frameNumberBoxWidth(1234, 2), h = frameNumberBoxHeight(2);
    EXPECT_EQ(w, (1 + 4 * 6) * 2);
    EXPECT_EQ(h, 18);
    int white = 0, black = 0;
    for (int y = 0; y < 60; ++y) {
        for (int x = 0; x < 200; ++x) {
            const uint8_t* p = image.at(x, y);
            const bool inBox = x < w && y < h;
            if (!inBox) {
                ASSERT_EQ(p[1], 150) << x << " " << y;
                continue;
            }
            ASSERT_TRUE((p[0] == 0 && p[1] == 0 && p[2] == 0) ||
                        (p[0] == 255 && p[1] == 255 && p[2] == 255));
            (p[0] == 255 ? white : black) += 1;
        }
    }
    // "1" has 10 inked cells, "2", "3" and "4" 14 each: 52 cells of 2 x 2 pixels.
    EXPECT_EQ(white, 52 * 4);
    EXPECT_EQ(black, w * h - white);
    // The margin around the digits stays black.
    EXPECT_EQ(image.at(0, 0)[0], 0);
    EXPECT_EQ(image.at(w - 1, h - 1)[0], 0);
}

TEST(FrameNumber, ReadsBackEveryNumberThroughNoise) {
    std::mt19937 random(7);
    std::uniform_int_distribution<int> noise(-40, 40);
    for (int number : {0, 1, 7, 10, 42, 99, 123, 1799, 86399}) {
        for (int scale : {2, 3}) {
            RgbImage image(160, 40);
            image.fill({200, 180, 150}); // light ground beside the box
            drawFrameNumber(image, number, scale);
            for (uint8_t& v : image.pixels) {
                v = static_cast<uint8_t>(std::clamp(v + noise(random), 0, 255));
            }
            const auto read = readFrameNumber(image, scale);
            ASSERT_TRUE(read.has_value()) << number << " at scale " << scale;
            EXPECT_EQ(*read, number) << "scale " << scale;
        }
    }
}

TEST(FrameNumber, ReadsNothingWhereNoNumberWasDrawn) {
    RgbImage image(100, 40);
    image.fill({40, 40, 40});
    EXPECT_FALSE(readFrameNumber(image, 2).has_value());
    image.fill({230, 230, 230});
    EXPECT_FALSE(readFrameNumber(image, 2).has_value());
}

TEST(FrameNumber, ClipsToASmallImage) {
    RgbImage image(20, 10);
    image.fill({1, 2, 3});
    drawFrameNumber(image, 123456, 3); // far wider and taller than the image
    for (size_t i = 0; i < image.pixels.size(); i += 3) {
        ASSERT_TRUE(image.pixels[i] == 0 || image.pixels[i] == 255) << i / 3;
    }
    EXPECT_EQ(image.at(10, 4)[0], 255); // the top of the first "1", its middle column
}

} // namespace
} // namespace skyframe
