#include "media/BgrConverter.h"

extern "C" {
#include <libavutil/imgutils.h>
}

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace skyframe {
namespace {

// A 4:2:0 picture of one flat colour: Y, U, V.
FramePtr flatPicture(int width, int height, uint8_t y, uint8_t u, uint8_t v,
                     AVPixelFormat format = AV_PIX_FMT_YUV420P) {
    FramePtr frame(av_frame_alloc());
    frame->width = width;
    frame->height = height;
    frame->format = format;
    if (av_frame_get_buffer(frame.get(), 0) < 0) {
        return nullptr;
    }
    const int chromaW = (width + 1) / 2, chromaH = (height + 1) / 2;
    for (int r = 0; r < height; ++r) {
        std::fill_n(frame->data[0] + r * frame->linesize[0], width, y);
    }
    for (int r = 0; r < chromaH; ++r) {
        std::fill_n(frame->data[1] + r * frame->linesize[1], chromaW, u);
        std::fill_n(frame->data[2] + r * frame->linesize[2], chromaW, v);
    }
    return frame;
}

// Awkward sizes: widths whose rows libswscale's vector code overruns when the picture is
// packed tightly (360 x 240 crashed the viewer), odd sizes, the smallest and a large one.
TEST(BgrConverter, AwkwardSizesConvertWithinTheirBuffer) {
    const std::vector<std::pair<int, int>> sizes = {
        {360, 240}, {352, 240}, {320, 240}, {361, 239}, {2, 2}, {1, 1}, {3, 5}, {4096, 2160}};
    for (const auto& [w, h] : sizes) {
        SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h));
        // Neutral grey: BGR (128, 128, 128) give or take the range conversion.
        FramePtr picture = flatPicture(w, h, 126, 128, 128);
        ASSERT_TRUE(picture);
        BgrConverter converter;
        const uint8_t* bgr = converter.convert(*picture);
        ASSERT_NE(bgr, nullptr);
        EXPECT_EQ(converter.width(), w);
        EXPECT_EQ(converter.height(), h);
        const size_t pixels = static_cast<size_t>(w) * h;
        const size_t packed = pixels * kBgrBytesPerPixel;
        for (size_t p = 0; p < pixels; p += std::max<size_t>(1, pixels / 997)) {
            const uint8_t* px = bgr + p * kBgrBytesPerPixel;
            for (int c = 0; c < 3; ++c) {
                EXPECT_NEAR(px[c], 128, 6) << "pixel " << p << " byte " << c;
            }
            EXPECT_EQ(px[3], 255) << "pixel " << p << " is not opaque";
        }
        EXPECT_NEAR(bgr[packed - 2], 128, 6);
        // The spare bytes past the picture end with untouched zeros: whatever the scaler
        // writes past the last row stays well inside the buffer.
        for (int i = kBgrPadding / 2; i < kBgrPadding; ++i) {
            ASSERT_EQ(bgr[packed + static_cast<size_t>(i)], 0) << "spare byte " << i;
        }
    }
}

// Rows stored bottom first are the rows stored top first in reverse, byte for byte, at the
// awkward sizes too: the scaler's overrun past a row's end must not reach a row it has
// already written when it steps backwards.
TEST(BgrConverter, BottomFirstRowsAreTheTopFirstRowsReversed) {
    const std::vector<std::pair<int, int>> sizes = {{360, 240}, {352, 240}, {361, 239},
                                                    {3, 5},     {1, 1},     {1280, 720}};
    for (const auto& [w, h] : sizes) {
        SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h));
        FramePtr picture = flatPicture(w, h, 126, 128, 128);
        ASSERT_TRUE(picture);
        // A different grey on every row, and a ramp along it, so rows cannot be confused.
        for (int y = 0; y < h; ++y) {
            uint8_t* row = picture->data[0] + static_cast<ptrdiff_t>(y) * picture->linesize[0];
            for (int x = 0; x < w; ++x) {
                row[x] = static_cast<uint8_t>(16 + (y * 7 + x) % 220);
            }
        }
        BgrConverter topFirst;
        BgrConverter bottomFirst(RowOrder::BottomFirst);
        const uint8_t* top = topFirst.convert(*picture);
        const uint8_t* bottom = bottomFirst.convert(*picture);
        ASSERT_NE(top, nullptr);
        ASSERT_NE(bottom, nullptr);
        const size_t rowBytes = static_cast<size_t>(w) * kBgrBytesPerPixel;
        for (int y = 0; y < h; ++y) {
            ASSERT_EQ(std::memcmp(top + y * rowBytes, bottom + (h - 1 - y) * rowBytes, rowBytes), 0)
                << "picture row " << y;
        }
    }
}

TEST(BgrConverter, RefusesPicturesWithoutSizeOrFormat) {
    BgrConverter converter;
    EXPECT_FALSE(converter.configure(0, 0, AV_PIX_FMT_NONE));
    EXPECT_FALSE(converter.configure(0, 240, AV_PIX_FMT_YUV420P));
    EXPECT_FALSE(converter.configure(360, 240, AV_PIX_FMT_NONE));
    FramePtr empty(av_frame_alloc());
    EXPECT_FALSE(convertible(*empty));
    EXPECT_EQ(converter.convert(*empty), nullptr);
    FramePtr good = flatPicture(16, 16, 126, 128, 128);
    EXPECT_TRUE(convertible(*good));
}

// The picture shown may still point at the buffer when the next one has another size: the
// old buffer stays readable until the rebuild after.
TEST(BgrConverter, ARebuildKeepsThePreviousPictureReadable) {
    BgrConverter converter;
    FramePtr white = flatPicture(64, 48, 235, 128, 128);
    FramePtr black = flatPicture(80, 60, 16, 128, 128);
    const uint8_t* first = converter.convert(*white);
    ASSERT_NE(first, nullptr);
    const uint8_t* second = converter.convert(*black);
    ASSERT_NE(second, nullptr);
    EXPECT_NE(first, second);
    // Read after the rebuild: the sanitizer build reports it if the buffer was freed.
    EXPECT_GT(first[0], 240);
    EXPECT_LT(second[0], 15);
}

} // namespace
} // namespace skyframe
