#pragma once

// Packed RGB pictures into an open video encoder: the conversion to the encoder's pixel
// format into one reused frame, and the packets that come out, for the writers that make
// video files.

#include "media/FfmpegHandles.h"
#include "media/OutputFile.h"

#include <cstdint>
#include <functional>

namespace skyframe {

class PictureEncoder {
public:
    // `encoder` is open and outlives this; pictures come in `input` at the encoder's size,
    // converted with the libswscale `swsFlags`. Failures throw, naming `file`.
    PictureEncoder(AVCodecContext& encoder, AVPixelFormat input, int swsFlags,
                   const OutputFile& file);

    // Converts one picture (`stride` bytes from one row to the next, negative for rows
    // stored bottom up) and hands it to the encoder at `pts`, in the encoder's time base.
    void send(const uint8_t* pixels, int stride, int64_t pts);
    // Tells the encoder that no picture follows.
    void sendEnd();
    // Hands each packet the encoder has ready to `take`; the packet is reused afterwards.
    void receive(const std::function<void(AVPacket&)>& take);

private:
    AVCodecContext& encoder_;
    const OutputFile& file_;
    FramePtr frame_;
    PacketPtr packet_;
    SwsContextPtr scaler_;
};

} // namespace skyframe
