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
    sws_scale(scaler_.get(), picture.data, picture.linesize, 0, height_, planes_, lineSizes_);
    return buffer_.get();
}

} // namespace skyframe
