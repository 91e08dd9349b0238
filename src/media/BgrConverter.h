#pragma once

#include "media/FfmpegHandles.h"

namespace skyframe {

// Converts decoded pictures to packed 32-bit pixels in byte order blue, green, red, opaque
// alpha (rows of exactly width * 4 bytes) with a bilinear scaler, into one buffer reused from
// picture to picture. A picture of another size or pixel format than the current one rebuilds the
// scaler and the buffer for it instead of converting past the planes. The buffer has kBgrPadding
// spare bytes past the packed picture: libswscale's vector code writes a little beyond the last row
// at some widths (360 x 240 among them).
constexpr int kBgrPadding = 256;

// Four bytes a pixel rather than three: OpenGL takes BGRA rows as they are, where BGR rows
// are repacked pixel by pixel on every upload (a tenth of the viewer's time in software GL).
constexpr AVPixelFormat kBgrFormat = AV_PIX_FMT_BGRA;
constexpr int kBgrBytesPerPixel = 4;

// True for a picture the converter can take: a size above zero and a known pixel format.
bool convertible(const AVFrame& picture);

// The order the converted rows are stored in: as pictures are read (top row first), or as
// OpenGL takes them (bottom row first), which a copy into the framebuffer needs to be a
// straight copy.
enum class RowOrder { TopFirst, BottomFirst };

class BgrConverter {
public:
    explicit BgrConverter(RowOrder order = RowOrder::TopFirst) : order_(order) {}

    // Sizes the scaler and buffer. Returns false (and keeps what it had) for a size of zero,
    // an unknown format, or when FFmpeg cannot make a scaler for them. The buffer replaced
    // stays allocated until the next rebuild, since the picture shown may still point at it.
    bool configure(int width, int height, AVPixelFormat format);

    // Converts one picture; returns the start of the BGR buffer (its first row in the
    // converter's row order), or nullptr when no scaler can be made for the picture.
    const uint8_t* convert(const AVFrame& picture);

    int width() const { return width_; }
    int height() const { return height_; }
    const uint8_t* data() const { return buffer_.get(); }

private:
    SwsContextPtr scaler_;
    AvBufferPtr buffer_;
    AvBufferPtr retired_;
    uint8_t* planes_[4] = {};
    int lineSizes_[4] = {};
    int width_ = 0;
    int height_ = 0;
    AVPixelFormat format_ = AV_PIX_FMT_NONE;
    RowOrder order_;
};

} // namespace skyframe
