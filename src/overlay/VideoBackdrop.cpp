#include "overlay/VideoBackdrop.h"

#include <osg/Drawable>
#include <osg/FrameBufferObject>
#include <osg/GLExtensions>
#include <osg/Geode>
#include <osg/RenderInfo>
#include <osg/State>
#include <osg/StateSet>
#include <osg/buffered_value>

namespace skyframe {

namespace {

// Copies the picture's texture over the whole viewport of the framebuffer being drawn.
class PictureCopy : public osg::Drawable {
public:
    PictureCopy() = default;
    explicit PictureCopy(osg::Texture2D* texture) : texture_(texture) {
        setUseDisplayList(false);
        setUseVertexBufferObjects(false);
        setDataVariance(osg::Object::DYNAMIC);
        // Always drawn: it covers whatever the viewport shows.
        setCullingActive(false);
    }
    PictureCopy(const PictureCopy& other, const osg::CopyOp& op)
        : osg::Drawable(other, op), texture_(other.texture_) {}
    // The unit square the HUD camera shows.
    osg::BoundingBox computeBoundingBox() const override {
        return osg::BoundingBox(0.0f, 0.0f, 0.0f, 1.0f, 1.0f, 0.0f);
    }

    void drawImplementation(osg::RenderInfo& info) const override;

    // The framebuffer objects go with their contexts; a new context makes its own.
    void releaseGLObjects(osg::State* state) const override {
        osg::Drawable::releaseGLObjects(state);
        if (state != nullptr) {
            framebuffers_[state->getContextID()] = 0;
        } else {
            framebuffers_.setAllElementsTo(0);
        }
    }
    void resizeGLObjectBuffers(unsigned int maxSize) override {
        osg::Drawable::resizeGLObjectBuffers(maxSize);
        framebuffers_.resize(maxSize);
    }

private:
    osg::ref_ptr<osg::Texture2D> texture_;
    mutable osg::buffered_value<GLuint> framebuffers_;

public:
    // Last: the macro's definitions end without a semicolon, which the formatter misreads.
    // clang-format off
    META_Object(skyframe, PictureCopy)
    // clang-format on
};

void PictureCopy::drawImplementation(osg::RenderInfo& info) const {
    osg::State& state = *info.getState();
    const osg::Viewport* viewport = state.getCurrentViewport();
    const osg::GLExtensions* gl = state.get<osg::GLExtensions>();
    if (!texture_ || viewport == nullptr || gl == nullptr || !gl->isFrameBufferObjectSupported ||
        gl->glBlitFramebuffer == nullptr) {
        return;
    }
    // Uploads the picture when it changed.
    state.applyTextureAttribute(0, texture_.get());
    const unsigned int context = state.getContextID();
    const osg::Texture::TextureObject* object = texture_->getTextureObject(context);
    const int width = texture_->getTextureWidth();
    const int height = texture_->getTextureHeight();
    if (object == nullptr || width <= 0 || height <= 0) {
        return;
    }
    GLuint& framebuffer = framebuffers_[context];
    if (framebuffer == 0) {
        gl->glGenFramebuffers(1, &framebuffer);
    }
    GLint reading = 0;
    glGetIntegerv(GL_READ_FRAMEBUFFER_BINDING_EXT, &reading);
    gl->glBindFramebuffer(GL_READ_FRAMEBUFFER_EXT, framebuffer);
    gl->glFramebufferTexture2D(GL_READ_FRAMEBUFFER_EXT, GL_COLOR_ATTACHMENT0_EXT, GL_TEXTURE_2D,
                               object->id(), 0);
    const int x = static_cast<int>(viewport->x());
    const int y = static_cast<int>(viewport->y());
    const int w = static_cast<int>(viewport->width());
    const int h = static_cast<int>(viewport->height());
    // Texel for pixel at the viewport's own size; bilinear otherwise.
    const GLenum filter = (w == width && h == height) ? GL_NEAREST : GL_LINEAR;
    gl->glBlitFramebuffer(0, 0, width, height, x, y, x + w, y + h, GL_COLOR_BUFFER_BIT, filter);
    gl->glBindFramebuffer(GL_READ_FRAMEBUFFER_EXT, static_cast<GLuint>(reading));
}

} // namespace

VideoBackdrop::VideoBackdrop()
    : root(new osg::Group), texture(new osg::Texture2D), image(new osg::Image) {}

void VideoBackdrop::setUpHud() {
    texture->setImage(image.get());
    // The pixels change every frame; a 1280 x 720 picture is uploaded at its own size rather
    // than stretched to powers of two.
    texture->setDataVariance(osg::Object::DYNAMIC);
    texture->setResizeNonPowerOfTwoHint(false);
    // Never sampled by a shader, only copied from: no mipmaps to build for every picture.
    texture->setFilter(osg::Texture::MIN_FILTER, osg::Texture::NEAREST);
    texture->setFilter(osg::Texture::MAG_FILTER, osg::Texture::NEAREST);

    osg::ref_ptr<osg::Geode> geode = new osg::Geode;
    geode->addDrawable(new PictureCopy(texture.get()));

    osg::ref_ptr<osg::Camera> hud = new osg::Camera;
    hud->setCullingActive(false);
    // The main camera clears colour and depth; the HUD only draws into what it left.
    hud->setClearMask(0);
    hud->setAllowEventFocus(false);
    // Not affected by the main camera's view and projection.
    hud->setReferenceFrame(osg::Transform::ABSOLUTE_RF);
    // Drawn inside the main camera's rendering, sorted into its render bins.
    hud->setRenderOrder(osg::Camera::NESTED_RENDER, 0);
    hud->setProjectionMatrix(osg::Matrixd::ortho2D(0.0, 1.0, 1.0, 0.0));
    hud->addChild(geode.get());

    osg::StateSet* state = hud->getOrCreateStateSet();
    state->setMode(GL_LIGHTING, osg::StateAttribute::OFF);
    // First of all, before the default bin, the terrain (2) and route and targets (3).
    state->setRenderBinDetails(kBin, "RenderBin", osg::StateSet::USE_RENDERBIN_DETAILS);

    root->addChild(hud.get());
}

void VideoBackdrop::placeBehind(osg::Camera& sceneCamera) const {
    sceneCamera.setClearDepth(kDepth);
}

void VideoBackdrop::setFrame(const unsigned char* pixels, int width, int height) {
    // NO_DELETE: the frame loop owns the buffer and reuses it for the whole run.
    image->setImage(width, height, 1, GL_RGBA, GL_BGRA, GL_UNSIGNED_BYTE,
                    const_cast<unsigned char*>(pixels), osg::Image::NO_DELETE, 1, 0);
    texture->setImage(image.get());
}

namespace {

struct TexturesInPixelOrder : osg::GraphicsOperation {
    TexturesInPixelOrder() : osg::GraphicsOperation("TexturesInPixelOrder", false) {}
    void operator()(osg::GraphicsContext* context) override {
        osg::State* state = context != nullptr ? context->getState() : nullptr;
        if (state == nullptr) {
            return;
        }
        state->initializeExtensionProcs();
        if (osg::GLExtensions* gl = osg::GLExtensions::Get(state->getContextID(), true)) {
            // glTexImage2D instead: Mesa then keeps the order the pixels come in.
            gl->isTextureStorageEnabled = false;
        }
    }
};

} // namespace

osg::ref_ptr<osg::GraphicsOperation> texturesInPixelOrder() {
    return new TexturesInPixelOrder;
}

} // namespace skyframe
