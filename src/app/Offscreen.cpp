#include "app/Offscreen.h"

#include <osg/GL>
#include <osg/GLExtensions>
#include <osg/RenderInfo>
#include <osg/State>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace skyframe {

namespace {

// Waits for Xvfb to write its display number to `fd` (its -displayfd), which it does once
// it accepts clients; empty when it ended first.
std::string readDisplayNumber(int fd) {
    std::string number;
    char c = 0;
    for (;;) {
        const ssize_t n = read(fd, &c, 1);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0 || c == '\n') {
            return number;
        }
        number += c;
    }
}

[[noreturn]] void execXvfb(int writeEnd, pid_t parent) {
    setpgid(0, 0);
    // The server goes with this program however it ends (a fatal X error exits without
    // running destructors), and holds none of its files (a build lock, an output).
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent) {
        _exit(127);
    }
    if (writeEnd > 3) {
        close_range(3, static_cast<unsigned>(writeEnd) - 1, 0);
    }
    close_range(static_cast<unsigned>(writeEnd) + 1, ~0u, 0);
    // A preload given to this program (a sanitizer's runtime) is not the display server's.
    unsetenv("LD_PRELOAD");
    const std::string fd = std::to_string(writeEnd);
    execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "64x64x24", "-nolisten", "tcp",
           "-noreset", static_cast<char*>(nullptr));
    _exit(127);
}

struct NoSwap : osg::GraphicsContext::SwapCallback {
    void swapBuffersImplementation(osg::GraphicsContext*) override {}
};

} // namespace

RenderDisplay::RenderDisplay() {
    const char* display = std::getenv("DISPLAY");
    if (display != nullptr && *display != '\0') {
        name_ = display;
        return;
    }
    int fds[2];
    if (pipe(fds) != 0) {
        throw std::runtime_error(std::string("skyframe: cannot start Xvfb: ") +
                                 std::strerror(errno));
    }
    const pid_t self = getpid();
    xvfb_ = fork();
    if (xvfb_ == 0) {
        close(fds[0]);
        execXvfb(fds[1], self);
    }
    close(fds[1]);
    const std::string number = xvfb_ > 0 ? readDisplayNumber(fds[0]) : "";
    close(fds[0]);
    if (number.empty()) {
        throw std::runtime_error("skyframe: no DISPLAY, and Xvfb could not be started to render "
                                 "off screen");
    }
    name_ = ":" + number;
    setenv("DISPLAY", name_.c_str(), 1);
}

RenderDisplay::~RenderDisplay() {
    if (xvfb_ > 0) {
        kill(xvfb_, SIGTERM);
        int status = 0;
        while (waitpid(xvfb_, &status, 0) < 0 && errno == EINTR) {
        }
    }
}

std::string RenderDisplay::describe() const {
    if (xvfb_ > 0) {
        return "skyframe: rendering off screen on a private Xvfb display " + name_;
    }
    return "skyframe: rendering off screen on display " + name_;
}

osg::ref_ptr<osg::GraphicsContext> makeOffscreenContext(int width, int height) {
    osg::ref_ptr<osg::GraphicsContext::Traits> traits = new osg::GraphicsContext::Traits;
    // The display named by DISPLAY (a private Xvfb's once it runs): the traits' own default
    // is :0, which may be another program's server, or none.
    traits->readDISPLAY();
    traits->x = 0;
    traits->y = 0;
    traits->width = width;
    traits->height = height;
    traits->red = traits->green = traits->blue = traits->alpha = 8;
    traits->depth = 24;
    traits->windowDecoration = false;
    traits->pbuffer = true;
    traits->doubleBuffer = true;
    traits->sharedContext = nullptr;
    osg::ref_ptr<osg::GraphicsContext> context =
        osg::GraphicsContext::createGraphicsContext(traits.get());
    if (!context || !context->valid()) {
        return nullptr;
    }
    // Frames are read from the back buffer and never shown: a swap would only make Mesa's
    // software rasteriser copy the picture to the X server, which refuses it for a pixel
    // buffer.
    context->setSwapCallback(new NoSwap);
    return context;
}

struct FrameReadBack::AtStart : osg::Camera::DrawCallback {
    explicit AtStart(FrameReadBack& owner) : owner_(owner) {}
    void operator()(osg::RenderInfo& info) const override {
        if (owner_.pending_) {
            owner_.read(*info.getState());
            owner_.ready_ = true;
        }
    }
    FrameReadBack& owner_;
};

struct FrameReadBack::AtEnd : osg::Camera::DrawCallback {
    explicit AtEnd(FrameReadBack& owner) : owner_(owner) {}
    void operator()(osg::RenderInfo&) const override {
        glFlush();
        owner_.pending_ = true;
    }
    FrameReadBack& owner_;
};

FrameReadBack::FrameReadBack(int width, int height)
    : image_(new osg::Image), colour_(new osg::Texture2D), reader_(new osg::FrameBufferObject),
      width_(width), height_(height) {
    exchange({});
    // Laid out as the video's own texture is (B, G, R, A bytes), so that Mesa copies the
    // video into it as a plain copy of memory.
    colour_->setTextureSize(width, height);
    colour_->setInternalFormat(GL_RGBA);
    colour_->setSourceFormat(GL_BGRA);
    colour_->setSourceType(GL_UNSIGNED_BYTE);
    colour_->setFilter(osg::Texture::MIN_FILTER, osg::Texture::NEAREST);
    colour_->setFilter(osg::Texture::MAG_FILTER, osg::Texture::NEAREST);
    colour_->setResizeNonPowerOfTwoHint(false);
    reader_->setAttachment(osg::Camera::COLOR_BUFFER, osg::FrameBufferAttachment(colour_.get()));
}

void FrameReadBack::attach(osg::Camera& camera) {
    context_ = camera.getGraphicsContext();
    // Drawn into a framebuffer object rather than the pixel buffer's own: the video is then
    // copied into it with the same row order as its texture's, which Mesa does as a copy of
    // memory where the window system's flipped rows need a shader run over every pixel.
    camera.setRenderTargetImplementation(osg::Camera::FRAME_BUFFER_OBJECT);
    camera.attach(osg::Camera::COLOR_BUFFER, colour_.get());
    camera.attach(osg::Camera::DEPTH_BUFFER, GL_DEPTH_COMPONENT24);
    camera.setInitialDrawCallback(new AtStart(*this));
    camera.setFinalDrawCallback(new AtEnd(*this));
}

void FrameReadBack::attachOverlay(osg::Camera& camera) {
    // Its own framebuffer object over the same colour: left to draw into the pixel buffer,
    // it would miss the picture that is read back.
    camera.setRenderTargetImplementation(osg::Camera::FRAME_BUFFER_OBJECT);
    camera.attach(osg::Camera::COLOR_BUFFER, colour_.get());
}

std::vector<uint8_t> FrameReadBack::exchange(std::vector<uint8_t> next) {
    next.resize(static_cast<size_t>(width_) * height_ * 4);
    std::swap(pixels_, next);
    image_->setImage(width_, height_, 1, GL_RGBA, GL_BGRA, GL_UNSIGNED_BYTE, pixels_.data(),
                     osg::Image::NO_DELETE, 1);
    return next;
}

bool FrameReadBack::takeReady() {
    const bool ready = ready_;
    ready_ = false;
    return ready;
}

bool FrameReadBack::readLast() {
    if (takeReady() && !pending_) {
        return true;
    }
    osg::ref_ptr<osg::GraphicsContext> context;
    if (!pending_ || !context_.lock(context) || !context->makeCurrent()) {
        return false;
    }
    read(*context->getState());
    context->releaseContext();
    return true;
}

void FrameReadBack::read(osg::State& state) {
    const auto start = std::chrono::steady_clock::now();
    const osg::GLExtensions* gl = state.get<osg::GLExtensions>();
    GLint reading = 0;
    glGetIntegerv(GL_READ_FRAMEBUFFER_BINDING_EXT, &reading);
    reader_->apply(state, osg::FrameBufferObject::READ_FRAMEBUFFER);
    // BGRA is the buffer's own layout for Mesa's software rasteriser: a copy, no conversion.
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    glPixelStorei(GL_PACK_ROW_LENGTH, 0);
    glReadPixels(0, 0, width_, height_, GL_BGRA, GL_UNSIGNED_BYTE, pixels_.data());
    image_->dirty();
    gl->glBindFramebuffer(GL_READ_FRAMEBUFFER_EXT, static_cast<GLuint>(reading));
    pending_ = false;
    seconds_ += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

} // namespace skyframe
