#include "BitmapFont.h"

#include <algorithm>
#include <string>

namespace skyframe {

namespace {

// Rows top to bottom, bit 4 the leftmost column.
constexpr unsigned char kDigits[10][kGlyphHeight] = {
    {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}, // 0
    {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E}, // 1
    {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}, // 2
    {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E}, // 3
    {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}, // 4
    {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E}, // 5
    {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}, // 6
    {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08}, // 7
    {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}, // 8
    {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C}, // 9
};

constexpr Rgb kInk{255, 255, 255};
constexpr Rgb kPaper{0, 0, 0};

void fillCell(RgbImage& image, int x0, int y0, int scale, Rgb colour) {
    for (int y = y0; y < std::min(y0 + scale, image.height); ++y) {
        for (int x = x0; x < std::min(x0 + scale, image.width); ++x) {
            image.set(x, y, colour);
        }
    }
}

} // namespace

int frameNumberBoxWidth(int number, int scale) {
    const int digits = static_cast<int>(std::to_string(std::max(0, number)).size());
    // One cell of margin, 6 cells per digit (the last digit's gap is the right margin).
    return (1 + digits * (kGlyphWidth + 1)) * scale;
}

int frameNumberBoxHeight(int scale) {
    return (kGlyphHeight + 2) * scale;
}

int frameNumberScale(int imageHeight) {
    return std::max(2, (imageHeight + 120) / 240);
}

std::optional<int> readFrameNumber(const RgbImage& image, int scale) {
    auto ink = [&](int x0, int y0) {
        const int x = x0 + scale / 2, y = y0 + scale / 2;
        if (x >= image.width || y >= image.height) {
            return false;
        }
        const uint8_t* p = image.at(x, y);
        return (p[0] + p[1] + p[2]) > 3 * 128;
    };
    long number = 0;
    int digits = 0;
    for (;; ++digits) {
        const int left = (1 + digits * (kGlyphWidth + 1)) * scale;
        int best = -1, bestMisses = kGlyphWidth * kGlyphHeight + 1;
        for (int d = 0; d < 10; ++d) {
            int misses = 0;
            for (int row = 0; row < kGlyphHeight; ++row) {
                for (int column = 0; column < kGlyphWidth; ++column) {
                    const bool expected = (kDigits[d][row] & (0x10 >> column)) != 0;
                    misses += expected != ink(left + column * scale, (1 + row) * scale);
                }
            }
            if (misses < bestMisses) {
                best = d;
                bestMisses = misses;
            }
        }
        if (bestMisses > 3 || digits >= 9) {
            break;
        }
        number = number * 10 + best;
    }
    if (digits == 0) {
        return std::nullopt;
    }
    return static_cast<int>(number);
}

void drawFrameNumber(RgbImage& image, int number, int scale) {
    const std::string text = std::to_string(std::max(0, number));
    const int boxWidth = std::min(frameNumberBoxWidth(number, scale), image.width);
    const int boxHeight = std::min(frameNumberBoxHeight(scale), image.height);
    for (int y = 0; y < boxHeight; ++y) {
        for (int x = 0; x < boxWidth; ++x) {
            image.set(x, y, kPaper);
        }
    }
    for (size_t i = 0; i < text.size(); ++i) {
        const auto& glyph = kDigits[text[i] - '0'];
        const int left = (1 + static_cast<int>(i) * (kGlyphWidth + 1)) * scale;
        for (int row = 0; row < kGlyphHeight; ++row) {
            for (int column = 0; column < kGlyphWidth; ++column) {
                if (glyph[row] & (0x10 >> column)) {
                    const int x = left + column * scale;
                    const int y = (1 + row) * scale;
                    if (x < image.width && y < image.height) {
                        fillCell(image, x, y, scale, kInk);
                    }
                }
            }
        }
    }
}

} // namespace skyframe
