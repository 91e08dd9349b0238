#include "app/ViewerControls.h"

#include "overlay/Labels.h"

#include <osg/Geode>
#include <osgDB/WriteFile>
#include <osgViewer/ViewerEventHandlers>

#include <cmath>
#include <cstdio>
#include <deque>
#include <iostream>
#include <mutex>

namespace skyframe {

bool PlaybackKeys::handle(const osgGA::GUIEventAdapter& event, osgGA::GUIActionAdapter&) {
    if (event.getEventType() != osgGA::GUIEventAdapter::KEYDOWN) {
        return false;
    }
    switch (event.getKey()) {
    case osgGA::GUIEventAdapter::KEY_Space:
        control_.paused = !control_.paused;
        return true;
    case osgGA::GUIEventAdapter::KEY_Right:
        control_.step = 1;
        return true;
    case osgGA::GUIEventAdapter::KEY_Left:
        control_.step = -1;
        return true;
    case osgGA::GUIEventAdapter::KEY_Up:
        control_.seekBy += 10.0;
        return true;
    case osgGA::GUIEventAdapter::KEY_Down:
        control_.seekBy -= 10.0;
        return true;
    case osgGA::GUIEventAdapter::KEY_Home:
        control_.toStart = true;
        return true;
    case 'h':
        hud_ = !hud_;
        return true;
    default:
        return false;
    }
}

osg::ref_ptr<osg::Camera> makeWindowOverlayCamera(int windowWidth, int windowHeight, bool yDown) {
    osg::ref_ptr<osg::Camera> camera = new osg::Camera;
    camera->setProjectionMatrixAsOrtho2D(0, windowWidth, yDown ? windowHeight : 0,
                                         yDown ? 0 : windowHeight);
    camera->setReferenceFrame(osg::Transform::ABSOLUTE_RF);
    camera->setViewMatrix(osg::Matrix::identity());
    camera->setClearMask(0);
    camera->setRenderOrder(osg::Camera::POST_RENDER);
    camera->setAllowEventFocus(false);
    osg::StateSet* state = camera->getOrCreateStateSet();
    state->setMode(GL_LIGHTING, osg::StateAttribute::OFF);
    state->setMode(GL_DEPTH_TEST, osg::StateAttribute::OFF);
    return camera;
}

StatusHud::StatusHud(int windowWidth, int windowHeight, osg::Node::NodeMask mask)
    : camera_(makeWindowOverlayCamera(windowWidth, windowHeight, false)), text_(new osgText::Text),
      mask_(mask) {

    text_->setFont(kLabelFont);
    text_->setCharacterSize(18.0f);
    text_->setPosition(osg::Vec3(8.0f, 8.0f, 0.0f));
    text_->setColor(osg::Vec4(1.0f, 1.0f, 0.6f, 1.0f));
    text_->setDrawMode(osgText::Text::TEXT | osgText::Text::FILLEDBOUNDINGBOX);
    text_->setBoundingBoxColor(osg::Vec4(0.0f, 0.0f, 0.0f, 0.6f));
    text_->setBoundingBoxMargin(4.0f);
    text_->setDataVariance(osg::Object::DYNAMIC);
    osg::ref_ptr<osg::Geode> geode = new osg::Geode;
    geode->addDrawable(text_.get());
    camera_->addChild(geode.get());
    show(false);
}

void StatusHud::show(bool on) {
    camera_->setNodeMask(on ? mask_ : 0u);
}

void StatusHud::update(const ShownPicture& picture, SyncMode mode) {
    text_->setText(statusLine(picture, mode));
}

std::string statusLine(const ShownPicture& p, SyncMode mode) {
    char age[32] = "-";
    if (p.telemetry.posed && mode == SyncMode::Time) {
        if (p.telemetry.stale) {
            std::snprintf(age, sizeof age, "stale");
        } else {
            std::snprintf(age, sizeof age, "%+.3f s", p.telemetry.age);
        }
    }
    const CameraInputs& in = p.telemetry.inputs;
    char line[256];
    if (!p.telemetry.posed) {
        std::snprintf(line, sizeof line, "t %.3f s  picture %ld  sync %s  no telemetry",
                      p.videoTime, p.number, syncModeName(mode));
        return line;
    }
    std::snprintf(line, sizeof line,
                  "t %.3f s  picture %ld  sync %s  age %s  lat %.6f  lon %.6f  alt %.1f m  "
                  "hdg %.2f  hfov %.3f",
                  p.videoTime, p.number, syncModeName(mode), age, in.sensorPosition[0],
                  in.sensorPosition[1], in.sensorPosition[2], in.platformAngles[0], in.fov[0]);
    return line;
}

std::string snapshotName(double t) {
    char name[64];
    std::snprintf(name, sizeof name, "snapshot-%.3f.png", t);
    return name;
}

namespace {

// Writes each captured window to the next path queued; runs on the drawing thread.
class SnapshotWriter : public osgViewer::ScreenCaptureHandler::CaptureOperation {
public:
    // The paths one captured frame is written to.
    void queue(std::vector<std::string> paths) {
        std::lock_guard<std::mutex> lock(mutex_);
        captures_.push_back(std::move(paths));
    }
    void operator()(const osg::Image& image, const unsigned int) override {
        std::vector<std::string> paths;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (captures_.empty()) {
                return;
            }
            paths = std::move(captures_.front());
            captures_.pop_front();
        }
        for (const std::string& path : paths) {
            if (!osgDB::writeImageFile(image, path)) {
                std::cerr << path << ": cannot write the snapshot" << std::endl;
            }
        }
    }

private:
    std::mutex mutex_;
    std::deque<std::vector<std::string>> captures_;
};

} // namespace

std::vector<std::string> Snapshots::due(const ShownPicture& picture, double frameRate) {
    const double half = frameRate > 0 ? 0.5 / frameRate : 0.017;
    // Every requested time this picture reaches is taken from it.
    std::vector<std::string> paths;
    while (next_ < times_.size() && picture.videoTime >= times_[next_] - half) {
        paths.push_back(dir_ + "/" + snapshotName(times_[next_]));
        ++next_;
        ++taken_;
    }
    return paths;
}

void Snapshots::beforeFrame(osgViewer::Viewer& viewer, const ShownPicture& picture,
                            double frameRate) {
    std::vector<std::string> paths = due(picture, frameRate);
    if (paths.empty()) {
        return;
    }
    if (!capture_) {
        writer_ = new SnapshotWriter;
        capture_ =
            new osgViewer::ScreenCaptureHandler(static_cast<SnapshotWriter*>(writer_.get()), 1);
    }
    static_cast<SnapshotWriter*>(writer_.get())->queue(std::move(paths));
    capture_->setFramesToCapture(1);
    capture_->captureNextFrame(viewer);
}

} // namespace skyframe
