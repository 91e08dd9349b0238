#pragma once

// What a person uses while the video plays: the playback keys, the one-line status HUD
// along the window's bottom, and snapshots of the window at chosen video times.

#include "app/FrameLoop.h"

#include <osg/Camera>
#include <osgGA/GUIEventHandler>
#include <osgText/Text>
#include <osgViewer/Viewer>
#include <osgViewer/ViewerEventHandlers>

#include <string>
#include <vector>

namespace skyframe {

// A camera drawing in window pixels after the scene, over everything, unlit: y runs up from
// the bottom, or down from the top when `yDown` (as a picture's rows run).
osg::ref_ptr<osg::Camera> makeWindowOverlayCamera(int windowWidth, int windowHeight, bool yDown);

// Space, Right/Left, Up/Down, Home and h, turned into playback requests.
class PlaybackKeys : public osgGA::GUIEventHandler {
public:
    PlaybackKeys(PlaybackControl& control, bool hudShown) : control_(control), hud_(hudShown) {}
    bool handle(const osgGA::GUIEventAdapter& event, osgGA::GUIActionAdapter& action) override;
    bool hudShown() const { return hud_; }

private:
    PlaybackControl& control_;
    bool hud_;
};

// The status line: one text on a dark band, drawn after the scene in window pixels.
class StatusHud {
public:
    // `mask`: the node mask the status line's camera carries while shown.
    StatusHud(int windowWidth, int windowHeight, osg::Node::NodeMask mask = ~0u);
    osg::Camera* camera() { return camera_.get(); }
    void show(bool on);
    void update(const ShownPicture& picture, SyncMode mode);

private:
    osg::ref_ptr<osg::Camera> camera_;
    osg::ref_ptr<osgText::Text> text_;
    osg::Node::NodeMask mask_;
};

// The status line's text for one picture.
std::string statusLine(const ShownPicture& picture, SyncMode mode);

// Saves the window (or, exporting, the picture read back) as DIR/snapshot-T.png for every requested
// video time T: the first shown picture at or after T (within half a picture) is captured after it
// is drawn.
class Snapshots {
public:
    Snapshots(std::vector<double> times, std::string dir) : times_(std::move(times)), dir_(dir) {}
    // Arms a capture of the frame about to be drawn when the picture is due.
    void beforeFrame(osgViewer::Viewer& viewer, const ShownPicture& picture, double frameRate);
    // The files this picture is to be saved as (none when no requested time is due); each
    // requested time is handed out once.
    std::vector<std::string> due(const ShownPicture& picture, double frameRate);
    int taken() const { return taken_; }
    int requested() const { return static_cast<int>(times_.size()); }

private:
    std::vector<double> times_;
    std::string dir_;
    std::size_t next_ = 0;
    int taken_ = 0;
    osg::ref_ptr<osg::Referenced> writer_;
    osg::ref_ptr<osgViewer::ScreenCaptureHandler> capture_;
};

// Name of the snapshot of video time t: "snapshot-12.500.png".
std::string snapshotName(double t);

} // namespace skyframe
