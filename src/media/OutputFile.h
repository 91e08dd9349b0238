#pragma once

// A media file being written: muxed into "<path>.part" and moved to its path only once
// complete, so that no reader ever finds half a file under the real name.

#include "media/FfmpegHandles.h"

#include <string>

namespace skyframe {

class OutputFile {
public:
    // Sets up FFmpeg's muxer `muxer` ("mpegts", "mp4") for the file; nothing is created
    // on disk before open().
    OutputFile(const std::string& path, const char* muxer);
    // An incomplete file's ".part" is removed, also when a constructor further up throws.
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    AVFormatContext* format() const { return format_.get(); }
    const std::string& path() const { return path_; }
    bool complete() const { return complete_; }

    // Every failure throws std::runtime_error naming the file, with FFmpeg's own reason
    // when `code` is one of its errors.
    [[noreturn]] void fail(const std::string& what, int code = 0) const;
    void check(int code, const std::string& what) const;

    // Creates the ".part" file and writes the header of the streams added so far.
    void open();
    // Hands one packet to the muxer, which interleaves the streams.
    void write(AVPacket* packet, const std::string& what);
    // Writes the trailer, closes the file and moves it to its path.
    void finish();

private:
    std::string path_;
    std::string partPath_;
    OutputFormatPtr format_;
    bool opened_ = false;
    bool complete_ = false;
};

} // namespace skyframe
