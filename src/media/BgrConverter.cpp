#include "media/BgrConverter.h"

extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
}

namespace skyframe {

bool convertible(const AVFrame& picture) {
    const auto format = static_cast<AVPixelFormat>(picture.format);
    return picture.width > 0 && picture.height > 0 && format != AV_PIX_FMT_NONE &&
           av_pix_fmt_desc_get(format) != nullptr && sws_isSupportedInput(format) > 0;
}

namespace {

// The planes of a picture read from the bottom row up: each plane's last row, and a negative
// step. A palette is not a plane and stays as it is.
void upsideDown(const AVFrame& picture, const uint8_t* rows[4], int steps[4]) {
    const auto format = static_cast<AVPixelFormat>(picture.format);
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(format);
    const int planes = (desc->flags & AV_PIX_FMT_FLAG_PAL) ? 1 : av_pix_fmt_count_planes(format);
    for (int i = 0; i < 4; ++i) {
        rows[i] = picture.data[i];
        steps[i] = picture.linesize[i];
        if (i >= planes || picture.data[i] == nullptr) {
            continue;
        }
        const bool chroma = i == 1 || i == 2;
        const int height =
            chroma ? AV_CEIL_RSHIFT(picture.height, desc->log2_chroma_h) : picture.height;
        rows[i] += static_cast<ptrdiff_t>(height - 1) * picture.linesize[i];
        steps[i] = -picture.linesize[i];
    }
}

} // namespace

bool BgrConverter::configure(int width, int height, AVPixelFormat format) {
    if (width <= 0 || height <= 0 || av_pix_fmt_desc_get(format) == nullptr ||
        sws_isSupportedInput(format) <= 0) {
        return false;
    }
    SwsContextPtr scaler(sws_getContext(width, height, format, width, height, kBgrFormat,
                                        SWS_BILINEAR, nullptr, nullptr, nullptr));
    if (!scaler) {
        return false;
    }
    // Alignment 1: the backdrop expects rows packed without padding.
    const int size = av_image_get_buffer_size(kBgrFormat, width, height, 1);
    if (size <= 0) {
        return false;
    }
    AvBufferPtr buffer(static_cast<uint8_t*>(av_mallocz(static_cast<size_t>(size) + kBgrPadding)));
    if (!buffer) {
        return false;
    }
    uint8_t* planes[4] = {};
    int lineSizes[4] = {};
    if (av_image_fill_arrays(planes, lineSizes, buffer.get(), kBgrFormat, width, height, 1) < 0) {
        return false;
    }
    scaler_ = std::move(scaler);
    retired_ = std::move(buffer_);
    buffer_ = std::move(buffer);
    for (int i = 0; i < 4; ++i) {
        planes_[i] = planes[i];
        lineSizes_[i] = lineSizes[i];
    }
    width_ = width;
    height_ = height;
    format_ = format;
    return true;
}

const uint8_t* BgrConverter::convert(const AVFrame& picture) {
    const auto format = static_cast<AVPixelFormat>(picture.format);
    if (!scaler_ || picture.width != width_ || picture.height != height_ || format != format_) {
        if (!configure(picture.width, picture.height, format)) {
            return nullptr;
        }
    }
    if (order_ == RowOrder::TopFirst) {
        sws_scale(scaler_.get(), picture.data, picture.linesize, 0, height_, planes_, lineSizes_);
        return buffer_.get();
    }
    // The picture is read from its bottom row up and written forwards: written backwards, the
    // scaler's overrun past the end of a row would land on the row written just before.
    const uint8_t* rows[4] = {};
    int steps[4] = {};
    upsideDown(picture, rows, steps);
    sws_scale(scaler_.get(), rows, steps, 0, height_, planes_, lineSizes_);
    return buffer_.get();
}

} // namespace skyframe
