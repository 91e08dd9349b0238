#include "app/Driver.h"

#include "app/CameraMatrices.h"
#include "app/FrameLoop.h"
#include "app/SceneStages.h"
#include "app/TelemetryIntake.h"
#include "camera/Camera.h"
#include "mission/InputError.h"
#include "mission/RouteProgress.h"
#include "overlay/DataDirectory.h"
#include "overlay/VideoBackdrop.h"
#include "terrain/TileReaderMessages.h"

#include <osg/Camera>
#include <osgViewer/View>
#include <osgViewer/Viewer>
#include <osgViewer/ViewerEventHandlers>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>

namespace skyframe {

namespace {

void progress(const char* line) {
    std::cout << line << std::endl;
}

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

struct DriverStats {
    double cameraSeconds = 0.0;
    double routeSeconds = 0.0;
    double renderSeconds = 0.0;
    long recordsExtracted = 0;
};

// `viewerFrames` is the scene graph's own frame count, so a test can check the loop's count
// against the frames actually rendered.
void printStats(const FrameLoopStats& loop, const DriverStats& driver, unsigned viewerFrames,
                double wallSeconds) {
    std::fprintf(stderr,
                 "skyframe stats: decoded %ld processed %ld frames %u data-packets %ld "
                 "records-used %ld wall %.3f read %.3f decode %.3f convert %.3f camera %.3f "
                 "route %.3f render %.3f\n",
                 loop.decodedPictures, loop.processedPictures, viewerFrames, loop.dataPackets,
                 driver.recordsExtracted, wallSeconds, loop.readSeconds, loop.decodeSeconds,
                 loop.convertSeconds, driver.cameraSeconds, driver.routeSeconds,
                 driver.renderSeconds);
}

// Everything the start-up stages make, released in the reverse order of creation after the
// viewer is gone.
struct Scene {
    TargetsStage targets;
    TerrainStage terrain;
    RouteStage route;
};

osg::ref_ptr<osgViewer::Viewer> makeViewer(osg::Group* root,
                                           osg::ref_ptr<osgViewer::DepthPartitionSettings>& dps) {
    osg::ref_ptr<osgViewer::Viewer> viewer = new osgViewer::Viewer;
    viewer->setSceneData(root);
    viewer->setUpViewInWindow(50, 50, 1280, 720, 0);
    viewer->addEventHandler(new osgViewer::StatsHandler);
    // Two depth partitions: near 150 m to 3000 km and beyond, so that a scene spanning
    // metres to the horizon keeps depth precision.
    dps = new osgViewer::DepthPartitionSettings(osgViewer::DepthPartitionSettings::BOUNDING_VOLUME);
    dps->_mode = osgViewer::DepthPartitionSettings::FIXED_RANGE;
    dps->_zNear = 150.0;
    dps->_zMid = 3000000.0;
    viewer->setUpDepthPartition(dps.get());
    // The projection set per picture keeps its own near and far planes.
    osg::Camera* camera = viewer->getCamera();
    camera->setComputeNearFarMode(osg::CullSettings::DO_NOT_COMPUTE_NEAR_FAR);
    camera->applyMaskAction(osg::CullSettings::COMPUTE_NEAR_FAR_MODE);
    viewer->realize();
    return viewer;
}

} // namespace

int runSkyframe(int argc, char** argv) {
    if (argc != 5) {
        progress("Incorrect number of arguments");
        return -1;
    }
    const std::string videoPath = argv[1];
    const std::string missionPath = argv[2];
    const std::string targetsPath = argv[3];
    const std::string terrainPath = argv[4];
    const bool wantStats = std::getenv("SKYFRAME_STATS") != nullptr;
    TileReaderMessages::install();
    const auto wallStart = Clock::now();

    Scene scene;
    VideoBackdrop backdrop;
    osg::Group& root = *backdrop.root;
    try {
        progress("Virtual world init.");
        backdrop.setUpHud();
        registerDataDirectory();

        progress("Targets init.");
        runTargetsStage(root, targetsPath, scene.targets);

        progress("Terrain init.");
        runTerrainStage(root, terrainPath, scene.terrain, std::cerr);

        progress("Route init.");
        runRouteStage(root, missionPath, scene.route);
    } catch (const InputError& e) {
        std::cerr << e.what() << std::endl;
        return -1;
    }

    osg::ref_ptr<osgViewer::DepthPartitionSettings> depthPartition;
    osg::ref_ptr<osgViewer::Viewer> viewer = makeViewer(&root, depthPartition);
    if (!viewer->isRealized()) {
        std::cerr << "skyframe: cannot open the viewer window (is DISPLAY set?)" << std::endl;
        return -1;
    }

    RouteProgress routeProgress(scene.route.waypoints, scene.route.markers, scene.route.legs);
    TelemetryIntake telemetry;
    CameraInputs inputs;
    bool posed = false;
    DriverStats driverStats;
    FrameLoopStats loopStats;

    FrameLoopHooks hooks;
    hooks.opened = [] { progress("Reading init."); };
    hooks.dataPacket = [&](const uint8_t* data, int size) { telemetry.addDataPacket(data, size); };
    hooks.done = [&] { return viewer->done(); };
    hooks.picture = [&](const uint8_t* bgr, int width, int height) {
        backdrop.setFrame(bgr, width, height);

        const auto cameraStart = Clock::now();
        if (telemetry.consume(inputs)) {
            posed = true;
            ++driverStats.recordsExtracted;
        }
        // Until the first record is taken there is no pose to show the world from, and a
        // route progress started from a made-up position would mark the wrong waypoints.
        if (posed) {
            Camera camera(width, height);
            camera.updatePose(inputs.fov, inputs.sensorPosition, inputs.sensorAngles,
                              inputs.platformAngles);
            viewer->getCamera()->setProjectionMatrix(projectionMatrixFor(camera));
            viewer->getCamera()->setViewMatrix(viewMatrixFor(camera));
        }
        driverStats.cameraSeconds += secondsSince(cameraStart);

        const auto routeStart = Clock::now();
        if (posed) {
            routeProgress.update(inputs.sensorPosition[0], inputs.sensorPosition[1],
                                 inputs.sensorPosition[2]);
        }
        driverStats.routeSeconds += secondsSince(routeStart);

        const auto renderStart = Clock::now();
        viewer->frame();
        driverStats.renderSeconds += secondsSince(renderStart);
    };

    const int result = runFrameLoop(videoPath, hooks, std::cerr, &loopStats);
    if (wantStats) {
        printStats(loopStats, driverStats, viewer->getFrameStamp()->getFrameNumber(),
                   secondsSince(wallStart));
    }
    // The viewer goes before the scene it shows; the scene's references are released as
    // `scene` and `backdrop` go out of scope.
    depthPartition = nullptr;
    viewer = nullptr;
    return result;
}

} // namespace skyframe
