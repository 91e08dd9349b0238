// The export writer alone: pictures handed over bottom up or top down, and data packets
// between them, read back with FFmpeg.

#include "media/ExportWriter.h"

#include "MediaContents.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

namespace skyframe::test {
namespace {

namespace fs = std::filesystem;

constexpr int kWidth = 64;
constexpr int kHeight = 48;
constexpr int64_t kTicks = 3000; // a picture at 30 per second, in 90 kHz ticks

struct Bgra {
    uint8_t b, g, r;
};

// A picture whose top half is `top` and bottom half `bottom`, rows stored top first.
std::vector<uint8_t> halves(Bgra top, Bgra bottom) {
    std::vector<uint8_t> pixels(kWidth * kHeight * 4);
    for (int row = 0; row < kHeight; ++row) {
        const Bgra c = row < kHeight / 2 ? top : bottom;
        for (int col = 0; col < kWidth; ++col) {
            uint8_t* p = pixels.data() + (row * kWidth + col) * 4;
            p[0] = c.b;
            p[1] = c.g;
            p[2] = c.r;
            p[3] = 255;
        }
    }
    return pixels;
}

// The same rows, last row first in memory.
std::vector<uint8_t> flipped(const std::vector<uint8_t>& pixels) {
    std::vector<uint8_t> out(pixels.size());
    const size_t rowBytes = kWidth * 4;
    for (int row = 0; row < kHeight; ++row) {
        std::copy_n(pixels.data() + row * rowBytes, rowBytes,
                    out.data() + (kHeight - 1 - row) * rowBytes);
    }
    return out;
}

void expectColour(const RgbImage& image, int row, Bgra c) {
    const uint8_t* p = image.at(kWidth / 2, row);
    EXPECT_NEAR(p[0], c.r, 6) << "row " << row;
    EXPECT_NEAR(p[1], c.g, 6) << "row " << row;
    EXPECT_NEAR(p[2], c.b, 6) << "row " << row;
}

ExportWriterOptions smallOptions() {
    ExportWriterOptions o;
    o.width = kWidth;
    o.height = kHeight;
    o.frameRate = {30, 1};
    o.timeBase = {1, 90000};
    o.crf = 10;
    o.data = true;
    o.dataTimeBase = {1, 90000};
    o.dataSynchronous = false;
    return o;
}

// Sixty pictures, handed over in turn top down and bottom up, as the caller's pixels and in
// the writer's own buffers, each followed by a data packet: all come out in order, with
// their timestamps, upright, in their colours.
TEST(ExportWriter, PicturesAndDataComeOutInOrderUprightWithTheirTimestamps) {
    const fs::path out = scratchDir("export-writer") / "order.ts";
    const Bgra red{0, 0, 220}, blue{220, 40, 0}, green{30, 200, 30};
    const std::vector<uint8_t> topDown = halves(red, blue);
    const std::vector<uint8_t> bottomUp = flipped(halves(green, red));
    std::vector<int64_t> pts;
    std::vector<std::vector<uint8_t>> packets;
    {
        ExportWriter writer(out.string(), smallOptions());
        for (int i = 0; i < 60; ++i) {
            const int64_t t = 900 + i * kTicks;
            const bool up = i % 2 == 1;
            const std::vector<uint8_t>& pixels = up ? bottomUp : topDown;
            if (i % 4 < 2) {
                const uint8_t* top = pixels.data() + (up ? (kHeight - 1) * kWidth * 4 : 0);
                writer.writePicture(top, up ? -kWidth * 4 : kWidth * 4, t);
            } else {
                std::vector<uint8_t> buffer = writer.pictureBuffer();
                ASSERT_EQ(buffer.size(), pixels.size());
                std::copy(pixels.begin(), pixels.end(), buffer.begin());
                writer.writePicture(std::move(buffer), up, t);
            }
            pts.push_back(t);
            packets.push_back({0x06, 0x0e, 0x2b, 0x34, static_cast<uint8_t>(i), 0x00});
            writer.writeData(packets.back().data(), static_cast<int>(packets.back().size()),
                             t + 10);
        }
        writer.finish();
    }
    ASSERT_TRUE(fs::exists(out));
    EXPECT_FALSE(fs::exists(out.string() + ".part"));
    const MediaContents read = readMedia(out, {0, 1, 2, 3, 58, 59});
    EXPECT_EQ(read.videoPts, pts);
    ASSERT_EQ(read.data.size(), packets.size());
    for (size_t i = 0; i < packets.size(); ++i) {
        EXPECT_EQ(read.data[i].bytes, packets[i]) << "packet " << i;
        EXPECT_EQ(read.data[i].pts, pts[i] + 10) << "packet " << i;
    }
    for (const auto& [index, picture] : read.pictures) {
        SCOPED_TRACE("picture " + std::to_string(index));
        const bool even = index % 2 == 0;
        expectColour(picture, 4, even ? red : green);
        expectColour(picture, kHeight - 5, even ? blue : red);
    }
}

// Dropped unfinished, with pictures still queued for encoding: nothing is left on disk.
TEST(ExportWriter, UnfinishedWriterLeavesNoFile) {
    const fs::path out = scratchDir("export-writer") / "dropped.ts";
    fs::remove(out);
    const std::vector<uint8_t> pixels = halves({10, 20, 30}, {200, 100, 50});
    {
        ExportWriter writer(out.string(), smallOptions());
        for (int i = 0; i < 20; ++i) {
            writer.writePicture(pixels.data(), kWidth * 4, i * kTicks);
        }
        EXPECT_TRUE(fs::exists(out.string() + ".part"));
        // A buffer of another size is refused, naming the file.
        try {
            writer.writePicture(std::vector<uint8_t>(pixels.size() - 4), false, 20 * kTicks);
            ADD_FAILURE() << "a short picture was taken";
        } catch (const std::runtime_error& e) {
            EXPECT_NE(std::string(e.what()).find("dropped.ts"), std::string::npos) << e.what();
        }
    }
    EXPECT_FALSE(fs::exists(out));
    EXPECT_FALSE(fs::exists(out.string() + ".part"));
}

} // namespace
} // namespace skyframe::test
