#include "terrain/ObjTileFile.h"

#include "terrain/ObjNumber.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <stdexcept>
#include <unistd.h>
#include <utility>

namespace skyframe {

namespace {

constexpr std::size_t kBufferBytes = 1 << 19;
// "v " + three numbers + two blanks + end of line.
constexpr std::size_t kVertexLineMax = 2 + 3 * kObjNumberMaxChars + 3;

} // namespace

ObjTileFile::ObjTileFile(std::string path)
    : path_(std::move(path)), partPath_(path_ + ".part"), buffer_(kBufferBytes) {
    fd_ = ::open(partPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd_ < 0) {
        throw std::runtime_error("cannot create tile \"" + path_ + "\": " + std::strerror(errno));
    }
}

ObjTileFile::ObjTileFile(ObjTileFile&& other) noexcept
    : path_(std::move(other.path_)), partPath_(std::move(other.partPath_)), fd_(other.fd_),
      buffer_(std::move(other.buffer_)), used_(other.used_) {
    other.fd_ = -1;
    other.partPath_.clear();
}

ObjTileFile::~ObjTileFile() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
    if (!partPath_.empty()) {
        std::remove(partPath_.c_str());
    }
}

void ObjTileFile::fail(const std::string& what) {
    const std::string reason = std::strerror(errno);
    throw std::runtime_error("cannot " + what + " tile \"" + path_ + "\": " + reason);
}

void ObjTileFile::flush() {
    std::size_t done = 0;
    while (done < used_) {
        const ssize_t n = ::write(fd_, buffer_.data() + done, used_ - done);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            fail("write");
        }
        done += static_cast<std::size_t>(n);
    }
    used_ = 0;
}

void ObjTileFile::addVertex(double x, double y, double z) {
    if (buffer_.size() - used_ < kVertexLineMax) {
        flush();
    }
    char* p = buffer_.data() + used_;
    *p++ = 'v';
    *p++ = ' ';
    p = appendObjNumber(p, x);
    *p++ = ' ';
    p = appendObjNumber(p, z);
    *p++ = ' ';
    p = appendObjNumber(p, -y);
    *p++ = '\n';
    used_ = static_cast<std::size_t>(p - buffer_.data());
}

void ObjTileFile::addText(std::string_view text) {
    while (!text.empty()) {
        if (used_ == buffer_.size()) {
            flush();
        }
        const std::size_t n = std::min(text.size(), buffer_.size() - used_);
        std::memcpy(buffer_.data() + used_, text.data(), n);
        used_ += n;
        text.remove_prefix(n);
    }
}

void ObjTileFile::commit() {
    flush();
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) {
        fail("write");
    }
    if (std::rename(partPath_.c_str(), path_.c_str()) != 0) {
        fail("rename into");
    }
    partPath_.clear();
}

const std::string& gridFaceText(int rows, int columns) {
    static std::mutex mutex;
    static std::map<std::pair<int, int>, std::string> cache;
    const std::lock_guard<std::mutex> lock(mutex);
    std::string& text = cache[{rows, columns}];
    if (text.empty() && rows > 1 && columns > 1) {
        text.reserve(static_cast<std::size_t>(rows - 1) * (columns - 1) * 2 * 24);
        char line[48];
        const auto face = [&](std::uint32_t a, std::uint32_t b, std::uint32_t c) {
            char* p = line;
            *p++ = 'f';
            *p++ = ' ';
            p = appendObjIndex(p, a);
            *p++ = ' ';
            p = appendObjIndex(p, b);
            *p++ = ' ';
            p = appendObjIndex(p, c);
            *p++ = '\n';
            text.append(line, p);
        };
        const auto idx = [columns](int k, int j) {
            return static_cast<std::uint32_t>(k * columns + j + 1);
        };
        for (int k = 0; k + 1 < rows; ++k) {
            for (int j = 0; j + 1 < columns; ++j) {
                face(idx(k, j + 1), idx(k, j), idx(k + 1, j));
                face(idx(k, j + 1), idx(k + 1, j), idx(k + 1, j + 1));
            }
        }
    }
    return text;
}

} // namespace skyframe
