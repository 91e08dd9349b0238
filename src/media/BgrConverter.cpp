#include "media/BgrConverter.h"

extern "C" {
#include <libavutil/imgutils.h>
}

namespace skyframe {

bool BgrConverter::configure(int width, int height, AVPixelFormat format) {
    SwsContextPtr scaler(sws_getContext(width, height, format, width, height, AV_PIX_FMT_BGR24,
                                        SWS_BILINEAR, nullptr, nullptr, nullptr));
    if (!scaler) {
        return false;
    }
    // Alignment 1: the backdrop expects rows packed without padding.
    const int size = av_image_get_buffer_size(AV_PIX_FMT_BGR24, width, height, 1);
    if (size <= 0) {
        return false;
    }
    AvBufferPtr buffer(static_cast<uint8_t*>(av_malloc(static_cast<size_t>(size))));
    if (!buffer) {
        return false;
    }
    uint8_t* planes[4] = {};
    int lineSizes[4] = {};
    if (av_image_fill_arrays(planes, lineSizes, buffer.get(), AV_PIX_FMT_BGR24, width, height, 1) <
        0) {
        return false;
    }
    scaler_ = std::move(scaler);
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
    sws_scale(scaler_.get(), picture.data, picture.linesize, 0, height_, planes_, lineSizes_);
    return buffer_.get();
}

} // namespace skyframe
