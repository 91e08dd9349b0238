#include "media/OutputFile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace skyframe {

OutputFile::OutputFile(const std::string& path, const char* muxer)
    : path_(path), partPath_(path + ".part") {
    AVFormatContext* raw = nullptr;
    check(avformat_alloc_output_context2(&raw, nullptr, muxer, partPath_.c_str()),
          std::string("cannot set up the ") + muxer + " muxer");
    format_.reset(raw);
}

OutputFile::~OutputFile() {
    if (format_ && format_->pb != nullptr) {
        avio_closep(&format_->pb);
    }
    if (opened_ && !complete_) {
        std::remove(partPath_.c_str());
    }
}

void OutputFile::fail(const std::string& what, int code) const {
    std::string message = path_ + ": " + what;
    if (code < 0) {
        message += ": " + avErrorText(code);
    }
    throw std::runtime_error(message);
}

void OutputFile::check(int code, const std::string& what) const {
    if (code < 0) {
        fail(what, code);
    }
}

void OutputFile::open() {
    check(avio_open(&format_->pb, partPath_.c_str(), AVIO_FLAG_WRITE),
          "cannot create " + partPath_);
    opened_ = true;
    check(avformat_write_header(format_.get(), nullptr), "cannot write the file header");
}

void OutputFile::write(AVPacket* packet, const std::string& what) {
    check(av_interleaved_write_frame(format_.get(), packet), what);
}

void OutputFile::finish() {
    if (complete_) {
        return;
    }
    check(av_write_trailer(format_.get()), "cannot complete the file");
    check(avio_closep(&format_->pb), "cannot close " + partPath_);
    if (std::rename(partPath_.c_str(), path_.c_str()) != 0) {
        fail("cannot move " + partPath_ + " into place: " + std::strerror(errno));
    }
    complete_ = true;
}

} // namespace skyframe
