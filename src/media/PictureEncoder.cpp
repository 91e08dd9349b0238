#include "media/PictureEncoder.h"

namespace skyframe {

PictureEncoder::PictureEncoder(AVCodecContext& encoder, AVPixelFormat input, int swsFlags,
                               const OutputFile& file)
    : encoder_(encoder), file_(file), frame_(av_frame_alloc()), packet_(av_packet_alloc()) {
    if (!frame_ || !packet_) {
        file_.fail("cannot allocate a frame or packet");
    }
    frame_->format = encoder.pix_fmt;
    frame_->width = encoder.width;
    frame_->height = encoder.height;
    file_.check(av_frame_get_buffer(frame_.get(), 0), "cannot allocate a video frame");
    scaler_.reset(sws_getContext(encoder.width, encoder.height, input, encoder.width,
                                 encoder.height, encoder.pix_fmt, swsFlags, nullptr, nullptr,
                                 nullptr));
    if (!scaler_) {
        file_.fail("cannot set up the RGB to YUV conversion");
    }
}

void PictureEncoder::send(const uint8_t* pixels, int stride, int64_t pts) {
    // The encoder may still hold the previous picture: then this gets a buffer of its own.
    file_.check(av_frame_make_writable(frame_.get()), "cannot reuse the video frame");
    const uint8_t* const source[1] = {pixels};
    const int sourceStride[1] = {stride};
    sws_scale(scaler_.get(), source, sourceStride, 0, encoder_.height, frame_->data,
              frame_->linesize);
    frame_->pts = pts;
    file_.check(avcodec_send_frame(&encoder_, frame_.get()), "cannot encode video");
}

void PictureEncoder::sendEnd() {
    file_.check(avcodec_send_frame(&encoder_, nullptr), "cannot flush the video encoder");
}

void PictureEncoder::receive(const std::function<void(AVPacket&)>& take) {
    for (;;) {
        const int rc = avcodec_receive_packet(&encoder_, packet_.get());
        if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) {
            return;
        }
        file_.check(rc, "cannot encode video");
        take(*packet_);
        av_packet_unref(packet_.get());
    }
}

} // namespace skyframe
