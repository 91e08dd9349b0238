#include "app/Driver.h"

#include "app/CameraMatrices.h"
#include "app/FrameCenterCheck.h"
#include "app/FrameLoop.h"
#include "app/Offscreen.h"
#include "app/PictureExport.h"
#include "app/SceneStages.h"
#include "app/ViewerControls.h"
#include "app/ViewerOptions.h"
#include "camera/Camera.h"
#include "mission/InputError.h"
#include "mission/RouteProgress.h"
#include "overlay/DataDirectory.h"
#include "overlay/VideoBackdrop.h"
#include "terrain/DrawnTriangles.h"
#include "terrain/TileReaderMessages.h"

#include <osg/Camera>
#include <osg/Viewport>
#include <osgViewer/View>
#include <osgViewer/Viewer>
#include <osgViewer/ViewerEventHandlers>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>
#include <unistd.h>
#include <vector>

namespace skyframe {

namespace {

void progress(const char* line) {
    std::cout << line << std::endl;
}

using Clock = std::chrono::steady_clock;

// Set by Ctrl-C while exporting: the loop ends after the picture in hand and the partial
// file is removed.
volatile std::sig_atomic_t interrupted = 0;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

constexpr int kWindowWidth = 1280;
constexpr int kWindowHeight = 720;

struct DriverStats {
    double cameraSeconds = 0.0;
    double routeSeconds = 0.0;
    double renderSeconds = 0.0;
    DrawnTriangles triangles;
};

// `viewerFrames` is the scene graph's own frame count, so a test can check the loop's count
// against the frames actually rendered.
void printStats(const FrameLoopStats& loop, const DriverStats& driver, unsigned viewerFrames,
                double wallSeconds) {
    std::fprintf(stderr,
                 "skyframe stats: decoded %ld processed %ld frames %u data-packets %ld "
                 "records-used %ld wall %.3f read %.3f decode %.3f convert %.3f camera %.3f "
                 "route %.3f render %.3f sync %.6f late %ld records %ld usable %ld "
                 "sync-mode %s play %.3f triangles-per-frame %.0f max %.0f\n",
                 loop.decodedPictures, loop.processedPictures, viewerFrames, loop.dataPackets,
                 loop.recordsUsed, wallSeconds, loop.readSeconds, loop.decodeSeconds,
                 loop.convertSeconds, driver.cameraSeconds, driver.routeSeconds,
                 driver.renderSeconds, loop.syncSeconds, loop.latePictures, loop.records,
                 loop.usableRecords, syncModeName(loop.syncMode), loop.playSeconds,
                 driver.triangles.mean(), driver.triangles.largest());
}

// Everything the start-up stages make, released in the reverse order of creation after the
// viewer is gone.
struct Scene {
    TargetsStage targets;
    TerrainStage terrain;
    RouteStage route;
};

void buildScene(const ViewerOptions& o, VideoBackdrop& backdrop, Scene& scene) {
    osg::Group& root = *backdrop.root;
    progress("Virtual world init.");
    backdrop.setUpHud();
    registerDataDirectory();

    progress("Targets init.");
    runTargetsStage(root, o.files[2], scene.targets);

    progress("Terrain init.");
    runTerrainStage(root, o.files[3], scene.terrain, std::cerr);

    progress("Route init.");
    runRouteStage(root, o.files[1], scene.route);
}

// The scene is drawn between 150 m and 3000 km of the sensor, in one pass. Two depth
// partitions (near and far of 3000 km) drew every overlay twice, translucent ones visibly
// darker, and took half the rendering time in software OpenGL; a 24-bit depth buffer over
// this one range still tells apart surfaces 4 cm apart at 10 km and 1 m apart at 50 km, and
// beyond 3000 km everything lies below the horizon of any airborne sensor.
constexpr double kSceneNear = 150.0;
constexpr double kSceneFar = 3000000.0;

// Where the pictures are drawn: a window, or an off-screen buffer of the video's own size
// whose every frame is read back.
struct Surface {
    int width = kWindowWidth;
    int height = kWindowHeight;
    osg::ref_ptr<osg::GraphicsContext> offscreen;
    osg::ref_ptr<FrameReadBack> readBack;
    osg::ref_ptr<osgViewer::Viewer> viewer;
};

void placeCamera(osgViewer::Viewer& viewer, Surface& surface) {
    if (!surface.offscreen) {
        viewer.setUpViewInWindow(50, 50, kWindowWidth, kWindowHeight, 0);
        viewer.addEventHandler(new osgViewer::StatsHandler);
        return;
    }
    osg::Camera* camera = viewer.getCamera();
    camera->setGraphicsContext(surface.offscreen.get());
    camera->setViewport(0, 0, surface.width, surface.height);
    // The read-back runs inside the frame, on the thread that draws it.
    viewer.setThreadingModel(osgViewer::ViewerBase::SingleThreaded);
}

// `overlays`: the cameras drawn after the scene (status line, frame centre), which an
// off-screen surface's read-back must see too.
void makeViewer(osg::Node* scene, Surface& surface, const std::vector<osg::Camera*>& overlays) {
    osg::ref_ptr<osgViewer::Viewer> viewer = new osgViewer::Viewer;
    // Left to itself, a single-threaded viewer pins the main thread to the first core, and
    // every thread started from it afterwards inherits that: the video decoder's, the
    // export's encoder and libx264's own would all share one core while the others idle.
    viewer->setUseConfigureAffinity(false);
    viewer->setRealizeOperation(texturesInPixelOrder());
    viewer->setSceneData(scene);
    placeCamera(*viewer, surface);
    // The projection set per picture keeps its own near and far planes.
    osg::Camera* camera = viewer->getCamera();
    camera->setComputeNearFarMode(osg::CullSettings::DO_NOT_COMPUTE_NEAR_FAR);
    camera->applyMaskAction(osg::CullSettings::COMPUTE_NEAR_FAR_MODE);
    if (surface.offscreen) {
        surface.readBack = new FrameReadBack(surface.width, surface.height);
        surface.readBack->attach(*camera);
        for (osg::Camera* overlay : overlays) {
            surface.readBack->attachOverlay(*overlay);
        }
    }
    viewer->realize();
    surface.viewer = viewer;
}

// The matrices of the scene camera for one picture's pose. Nothing non-finite reaches them:
// a pose that would give one (it cannot, from a usable record) leaves the last matrices.
Camera poseCamera(osgViewer::Viewer& viewer, const ShownPicture& picture) {
    const CameraInputs& in = picture.telemetry.inputs;
    Camera camera(picture.width, picture.height);
    camera.updatePose(in.fov, in.sensorPosition, in.sensorAngles, in.platformAngles);
    const osg::Matrixd projection =
        withDepthRange(projectionMatrixFor(camera), kSceneNear, kSceneFar);
    const osg::Matrixd view = viewMatrixFor(camera);
    if (projection.valid() && view.valid()) {
        viewer.getCamera()->setProjectionMatrix(projection);
        viewer.getCamera()->setViewMatrix(view);
    }
    return camera;
}

Footprint footprintOf(const CameraInputs& in) {
    Footprint f;
    if (in.hasFrameCenter) {
        f.centre = Eigen::Vector3d(in.frameCenter[0], in.frameCenter[1], in.frameCenter[2]);
    }
    if (in.hasCorners) {
        for (const auto& corner : in.corners) {
            f.corners.emplace_back(corner[0], corner[1]);
        }
    }
    return f;
}

// The viewer's state while the video plays.
struct Session {
    const ViewerOptions& options;
    Scene& scene;
    VideoBackdrop& backdrop;
    osgViewer::Viewer& viewer;
    StatusHud& hud;
    FrameCenterCheck& selfCheck;
    PlaybackKeys& keys;
    const PlaybackControl& control;
    std::unique_ptr<RouteProgress> route;
    Snapshots snapshots;
    PictureExport* exporter = nullptr; // exporting: takes each picture once drawn
    double frameRate = 0.0;
    bool posed = false;
    DriverStats stats;
};

void showPicture(Session& s, const ShownPicture& picture) {
    s.backdrop.setFrame(picture.bgr, picture.width, picture.height);
    const auto cameraStart = Clock::now();
    // Until a usable record has posed the camera there is no viewpoint to draw the world
    // from, and route progress started from a made-up position would mark wrong waypoints.
    const bool posed = picture.telemetry.posed;
    s.posed = s.posed || posed;
    if (posed) {
        const Camera camera = poseCamera(s.viewer, picture);
        s.selfCheck.update(camera, footprintOf(picture.telemetry.inputs), s.options.frameCenter);
    }
    s.stats.cameraSeconds += secondsSince(cameraStart);

    const auto routeStart = Clock::now();
    if (posed) {
        const double* p = picture.telemetry.inputs.sensorPosition;
        s.route->update(p[0], p[1], p[2]);
    }
    s.stats.routeSeconds += secondsSince(routeStart);

    s.hud.show(s.keys.hudShown());
    s.hud.update(picture, picture.sync);
    if (s.control.paused) {
        // A picture reached by a step or a seek while paused: its status, for the console.
        std::cout << "paused: " << statusLine(picture, picture.sync) << std::endl;
    }
    if (s.exporter == nullptr) {
        s.snapshots.beforeFrame(s.viewer, picture, s.frameRate);
    }
    const auto renderStart = Clock::now();
    s.viewer.frame();
    s.stats.renderSeconds += secondsSince(renderStart);
    s.stats.triangles.afterFrame(s.viewer);
    if (s.exporter != nullptr) {
        s.exporter->drawn(picture);
    }
}

FrameLoopHooks makeHooks(Session& s, PlaybackControl& control) {
    FrameLoopHooks hooks;
    hooks.control = &control;
    hooks.opened = [&s](const MediaInput& media) {
        s.frameRate = media.frameRate();
        if (s.exporter != nullptr) {
            s.exporter->opened(media);
        }
        progress("Reading init.");
    };
    if (s.exporter != nullptr) {
        hooks.dataPacket = [&s](const AVPacket& packet) { s.exporter->dataPacket(packet); };
    }
    hooks.picture = [&s](const ShownPicture& picture) { showPicture(s, picture); };
    hooks.idle = [&s] {
        s.hud.show(s.keys.hudShown());
        s.viewer.frame();
    };
    hooks.seeked = [&s] {
        // Waypoints passed are judged afresh from the new position on.
        s.route = std::make_unique<RouteProgress>(s.scene.route.waypoints, s.scene.route.markers,
                                                  s.scene.route.legs);
    };
    hooks.done = [&s] { return s.viewer.done() || interrupted != 0; };
    return hooks;
}

// One line when the video played without any pose: why.
void warnIfNeverPosed(const std::string& video, const FrameLoopStats& st, bool posed) {
    if (posed || st.decodedPictures == 0) {
        return;
    }
    if (st.dataStream < 0) {
        std::cerr << video << ": no data stream: the video plays without overlay" << std::endl;
        return;
    }
    std::cerr << video << ": no usable telemetry (" << st.dataPackets << " data packets, "
              << st.records << " records, " << st.usableRecords
              << " usable): the video plays without overlay" << std::endl;
}

// The lines that close a run: why there was no overlay, or that a live stream went silent.
void reportEnd(const ViewerOptions& o, const FrameLoopStats& st, bool posed,
               const FrameCenterCheck& selfCheck) {
    std::cerr << formatTally(st.tally) << "; " << selfCheck.summary() << std::endl;
    warnIfNeverPosed(o.files[0], st, posed);
    if (st.timedOut) {
        std::cerr << o.files[0] << ": no data for " << o.playback.media.timeoutSeconds
                  << " s: the stream has ended" << std::endl;
    }
}

extern "C" void onInterrupt(int) {
    interrupted = 1;
}

void catchInterrupt() {
    struct sigaction action = {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

void checkSnapshotDir(const ViewerOptions& o) {
    if (o.snapshotTimes.empty()) {
        return;
    }
    std::error_code ec;
    if (!std::filesystem::is_directory(o.snapshotDir, ec)) {
        throw UsageError("skyframe: snapshot folder " + o.snapshotDir + " does not exist");
    }
}

// The export's folder must exist and take new files before anything is decoded.
void checkExportPath(const ViewerOptions& o) {
    if (o.exportPath.empty()) {
        return;
    }
    const std::filesystem::path out(o.exportPath);
    const std::string folder = out.has_parent_path() ? out.parent_path().string() : ".";
    std::error_code ec;
    if (!std::filesystem::is_directory(folder, ec)) {
        throw UsageError("skyframe: " + o.exportPath + ": output folder " + folder +
                         " does not exist");
    }
    if (access(folder.c_str(), W_OK | X_OK) != 0) {
        throw UsageError("skyframe: " + o.exportPath + ": output folder " + folder +
                         " is not writable");
    }
    if (std::filesystem::is_directory(out, ec)) {
        throw UsageError("skyframe: " + o.exportPath + " is a folder, not a file name");
    }
    // Permissions do not tell everything (root passes them; some file systems refuse new
    // files anyway): the partial file is made once and removed again.
    const std::string part = o.exportPath + ".part";
    const int fd = open(part.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
    if (fd < 0 && errno != EEXIST) {
        throw UsageError("skyframe: " + o.exportPath + ": cannot write in output folder " + folder +
                         ": " + std::strerror(errno));
    }
    if (fd >= 0) {
        close(fd);
        std::remove(part.c_str());
    }
}

// Reads the command line; an exit value when the viewer is not to run (help, or an error
// already reported).
std::optional<int> readCommandLine(int argc, char** argv, ViewerOptions& options) {
    try {
        options = parseViewerOptions(std::vector<std::string>(argv + 1, argv + argc));
        if (options.help) {
            std::cout << viewerHelp();
            return 0;
        }
        checkSnapshotDir(options);
        checkExportPath(options);
    } catch (const UsageError& e) {
        std::cerr << e.what() << std::endl;
        return -1;
    }
    if (options.files.size() != 4) {
        progress("Incorrect number of arguments");
        return -1;
    }
    return std::nullopt;
}

// The status line and the frame-centre check draw beside the scene, into the window only.
constexpr osg::Node::NodeMask kStatusMask = 0x200;

void printExportStats(const PictureExport& exporter, const Surface& surface,
                      const DriverStats& driver, const FrameLoopStats& loop, double wall) {
    std::fprintf(stderr,
                 "skyframe export stats: pictures %ld wall %.3f read %.3f decode %.3f "
                 "convert %.3f render %.3f read-back %.3f hand-over %.3f encode %.3f "
                 "snapshots %.3f\n",
                 exporter.pictures(), wall, loop.readSeconds, loop.decodeSeconds,
                 loop.convertSeconds, driver.renderSeconds - surface.readBack->seconds(),
                 surface.readBack->seconds(), exporter.times().handOverSeconds,
                 exporter.times().encodeSeconds, exporter.times().snapshotSeconds);
}

// Plays the video on the surface, into the exporter when there is one; the exit value.
int playOn(const ViewerOptions& options, Scene& scene, VideoBackdrop& backdrop, Surface& surface,
           Clock::time_point wallStart) {
    // The status line goes beside the scene, not into it: the scene's root keeps its own
    // children.
    StatusHud hud(surface.width, surface.height, kStatusMask);
    FrameCenterCheck selfCheck(surface.width, surface.height, kStatusMask);
    osg::ref_ptr<osg::Group> top = new osg::Group;
    top->addChild(backdrop.root.get());
    top->addChild(selfCheck.camera());
    top->addChild(hud.camera());
    makeViewer(top.get(), surface, {selfCheck.camera(), hud.camera()});
    osgViewer::Viewer& viewer = *surface.viewer;
    backdrop.placeBehind(*viewer.getCamera());
    if (!viewer.isRealized()) {
        std::cerr << "skyframe: cannot open the viewer window (is DISPLAY set?)" << std::endl;
        return -1;
    }
    if (!options.snapshotTimes.empty()) {
        // A capture armed before a frame must not be taken by the previous frame's draw
        // still running on its own thread.
        viewer.setThreadingModel(osgViewer::ViewerBase::SingleThreaded);
    }
    PlaybackControl control;
    osg::ref_ptr<PlaybackKeys> keys = new PlaybackKeys(control, options.hud);
    viewer.addEventHandler(keys.get());

    Session session{options,  scene,
                    backdrop, viewer,
                    hud,      selfCheck,
                    *keys,    control,
                    nullptr,  Snapshots(options.snapshotTimes, options.snapshotDir),
                    nullptr,  0.0,
                    false,    DriverStats{}};
    if (std::getenv("SKYFRAME_STATS") != nullptr) {
        session.stats.triangles.enable(viewer);
    }
    session.route = std::make_unique<RouteProgress>(scene.route.waypoints, scene.route.markers,
                                                    scene.route.legs);
    std::unique_ptr<PictureExport> exporter;
    if (surface.readBack) {
        exporter = std::make_unique<PictureExport>(options, *surface.readBack, session.snapshots);
        session.exporter = exporter.get();
    }
    FrameLoopStats loopStats;
    const FrameLoopHooks hooks = makeHooks(session, control);
    int result = runFrameLoop(options.files[0], options.playback, hooks, std::cerr, &loopStats);
    if (result == 0 && exporter && interrupted == 0) {
        exporter->finish();
    }
    if (result == 0) {
        reportEnd(options, loopStats, session.posed, selfCheck);
    }
    if (std::getenv("SKYFRAME_STATS") != nullptr) {
        printStats(loopStats, session.stats, viewer.getFrameStamp()->getFrameNumber(),
                   secondsSince(wallStart));
        if (exporter) {
            printExportStats(*exporter, surface, session.stats, loopStats, secondsSince(wallStart));
        }
    }
    return result;
}

// The exit value of an export stopped by Ctrl-C, which leaves nothing written.
int interruptedExport(const ViewerOptions& options) {
    std::cerr << "\nskyframe: interrupted: " << options.exportPath << " not written" << std::endl;
    return 130;
}

// Renders off screen at the video's own size into the export file; the exit value.
int exportVideo(const ViewerOptions& options, Scene& scene, VideoBackdrop& backdrop,
                Clock::time_point wallStart) {
    Surface surface;
    try {
        videoSize(options.files[0], options.playback.media, surface.width, surface.height);
    } catch (const MediaError&) {
        if (interrupted == 0) {
            throw;
        }
        return interruptedExport(options);
    }
    surface.offscreen = makeOffscreenContext(surface.width, surface.height);
    if (!surface.offscreen) {
        std::cerr << "skyframe: cannot make an off-screen buffer of " << surface.width << "x"
                  << surface.height << " pixels" << std::endl;
        return 1;
    }
    int result = 0;
    try {
        result = playOn(options, scene, backdrop, surface, wallStart);
    } catch (const std::runtime_error& e) {
        std::cerr << "\n" << e.what() << std::endl;
        result = 1;
    }
    // The viewer goes before the scene it shows.
    surface.viewer = nullptr;
    if (interrupted != 0) {
        return interruptedExport(options);
    }
    return result;
}

} // namespace

int runSkyframe(int argc, char** argv) {
    ViewerOptions options;
    if (const auto exitValue = readCommandLine(argc, argv, options)) {
        return *exitValue;
    }
    TileReaderMessages::install();
    const auto wallStart = Clock::now();
    std::unique_ptr<RenderDisplay> display;

    // Released in the reverse order of creation after the viewer is gone.
    Scene scene;
    VideoBackdrop backdrop;
    try {
        if (!options.exportPath.empty()) {
            catchInterrupt();
            options.playback.media.stop = &interrupted;
            display = std::make_unique<RenderDisplay>();
            std::cerr << display->describe() << std::endl;
        }
        buildScene(options, backdrop, scene);
        if (!options.exportPath.empty()) {
            return exportVideo(options, scene, backdrop, wallStart);
        }
    } catch (const InputError& e) {
        std::cerr << e.what() << std::endl;
        return -1;
    } catch (const MediaError& e) {
        std::cerr << e.what() << std::endl;
        return -1;
    } catch (const std::runtime_error& e) {
        std::cerr << e.what() << std::endl;
        return 1;
    }
    Surface window;
    const int result = playOn(options, scene, backdrop, window, wallStart);
    window.viewer = nullptr;
    return result;
}

} // namespace skyframe
