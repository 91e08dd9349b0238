#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace skyframe {

struct Rgb {
    uint8_t r = 0, g = 0, b = 0;
};

// Packed 24-bit R, G, B pixels, top row first, no padding: what TsWriter takes.
struct RgbImage {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> pixels;

    RgbImage() = default;
    RgbImage(int w, int h) : width(w), height(h), pixels(static_cast<size_t>(w) * h * 3) {}

    uint8_t* at(int x, int y) { return &pixels[(static_cast<size_t>(y) * width + x) * 3]; }
    const uint8_t* at(int x, int y) const {
        return &pixels[(static_cast<size_t>(y) * width + x) * 3];
    }
    void set(int x, int y, Rgb c) {
        uint8_t* p = at(x, y);
        p[0] = c.r;
        p[1] = c.g;
        p[2] = c.b;
    }
    void fill(Rgb c) {
        for (size_t i = 0; i < pixels.size(); i += 3) {
            pixels[i] = c.r;
            pixels[i + 1] = c.g;
            pixels[i + 2] = c.b;
        }
    }
};

} // namespace skyframe
