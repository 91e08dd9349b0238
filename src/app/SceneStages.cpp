#include "app/SceneStages.h"

#include "mission/MissionReader.h"
#include "mission/RouteScene.h"
#include "mission/TargetsReader.h"
#include "overlay/Labels.h"
#include "terrain/TerrainManifest.h"

#include <osg/BlendFunc>
#include <osg/Notify>
#include <osg/StateSet>
#include <osgDB/ReadFile>
#include <osgDB/Registry>

#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <memory>
#include <ostream>

namespace skyframe {

namespace fs = std::filesystem;

namespace {

// Route and targets are drawn last, after the video (drawn first) and the terrain (bin 2).
void drawInBin(osg::Node& node, int bin) {
    node.getOrCreateStateSet()->setRenderBinDetails(bin, "RenderBin",
                                                    osg::StateSet::USE_RENDERBIN_DETAILS);
}

constexpr float kWaypointRadius = 25.0f;
constexpr float kLegRadius = 1.0f;

} // namespace

void runTargetsStage(osg::Group& root, const std::string& path, TargetsStage& stage,
                     std::ostream& err) {
    stage.referencePoints = new osg::Vec3Array;
    stage.positions = readTargets(path, stage.names, *stage.referencePoints);
    if (stage.positions->empty()) {
        err << path << ": warning: no target with a positive ID; playing without targets"
            << std::endl;
    }
    stage.targetsNode = makeTargetsNode(*stage.positions, *stage.referencePoints);
    drawInBin(*stage.targetsNode, 3);
    root.addChild(stage.targetsNode.get());

    stage.labels = new osg::Group;
    for (std::size_t i = 0; i < stage.names.size(); ++i) {
        stage.labels->addChild(makeLabel((*stage.referencePoints)[i], stage.names[i]));
    }
    root.addChild(stage.labels.get());
}

namespace {

// The child's side of the probe: never returns, never runs the parent's exit handlers or
// flushes its buffers.
[[noreturn]] void probeInChild(const std::string& path, unsigned seconds) {
    // An endless loop in a reader ends with SIGALRM's default action.
    alarm(seconds);
    // A damaged file makes the readers warn once per value they fail to read, hundreds of
    // thousands of lines; the parent's one warning says it all.
    osg::setNotifyLevel(osg::FATAL);
    osg::ref_ptr<osg::Node> node =
        osgDB::readNodeFile(path, osgDB::Registry::instance()->getOptions());
    _exit(node ? 0 : 1);
}

} // namespace

bool probeTerrainFile(const std::string& path, std::string& problem, unsigned seconds) {
    // Whatever is buffered would otherwise be written twice, once by each process.
    std::cout.flush();
    std::cerr.flush();
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child < 0) {
        problem = std::string("cannot start the terrain probe (") + std::strerror(errno) + ")";
        return false;
    }
    if (child == 0) {
        probeInChild(path, seconds);
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) {
            problem = std::string("lost the terrain probe (") + std::strerror(errno) + ")";
            return false;
        }
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) {
        return true;
    }
    if (WIFSIGNALED(status) && WTERMSIG(status) == SIGALRM) {
        problem = "loading it took more than " + std::to_string(seconds) + " s";
    } else if (WIFSIGNALED(status)) {
        problem = std::string("its reader crashed on it (") + strsignal(WTERMSIG(status)) + ")";
    } else if (WEXITSTATUS(status) == 1) {
        problem = "no reader could load it";
    } else {
        problem = "its reader failed (exit status " + std::to_string(WEXITSTATUS(status)) + ")";
    }
    return false;
}

namespace {

// The manifest beside the terrain file, or null when there is none or it is unusable.
std::shared_ptr<const TerrainManifest> manifestBeside(const std::string& path, std::ostream& err) {
    const fs::path manifestPath = fs::path(path).parent_path() / TerrainManifest::kFileName;
    std::error_code error;
    if (!fs::exists(manifestPath, error)) {
        return nullptr;
    }
    try {
        return std::make_shared<const TerrainManifest>(
            TerrainManifest::read(manifestPath.string()));
    } catch (const ManifestError& e) {
        err << "warning: " << e.what() << "; the terrain's files count as unchecked" << std::endl;
        return nullptr;
    }
}

osg::ref_ptr<osg::Node> loadTerrainRoot(const std::string& path, const TerrainManifest* manifest,
                                        std::string& problem) {
    const osgDB::Options* options = osgDB::Registry::instance()->getOptions();
    std::string relativePath;
    const ManifestEntry* entry =
        manifest && manifest->contains(path, relativePath) ? manifest->find(relativePath) : nullptr;
    osg::ref_ptr<osg::Node> node;
    if (entry) {
        std::string bytes;
        problem = checkTerrainFile(path, *entry, &bytes);
        if (!problem.empty()) {
            return nullptr;
        }
        node = readNodeFromBytes(path, bytes, options).getNode();
    } else if (probeTerrainFile(path, problem)) {
        node = osgDB::readNodeFile(path, options);
    } else {
        return nullptr;
    }
    if (!node) {
        problem = "no reader could load it";
    }
    return node;
}

} // namespace

void runTerrainStage(osg::Group& root, const std::string& path, TerrainStage& stage,
                     std::ostream& err) {
    stage.material = new osg::Material;
    stage.material->setAmbient(osg::Material::FRONT_AND_BACK, osg::Vec4(0.0f, 0.0f, 0.0f, 0.0f));
    stage.material->setDiffuse(osg::Material::FRONT_AND_BACK, osg::Vec4(0.0f, 1.0f, 1.0f, 0.0f));

    const std::shared_ptr<const TerrainManifest> manifest = manifestBeside(path, err);
    std::string problem;
    stage.node = loadTerrainRoot(path, manifest.get(), problem);
    if (!stage.node) {
        err << path << ": cannot load the terrain model: " << problem
            << "; going on without terrain" << std::endl;
        // An empty group keeps the later children at their places in the root.
        stage.node = new osg::Group;
    }
    stage.guard =
        new TerrainGuard(manifest, err, osgDB::Registry::instance()->getReadFileCallback());
    installTerrainGuard(*stage.guard);

    osg::StateSet* state = stage.node->getOrCreateStateSet();
    state->setAttributeAndModes(stage.material.get(), osg::StateAttribute::ON);
    state->setAttributeAndModes(
        new osg::BlendFunc(osg::BlendFunc::SRC_ALPHA, osg::BlendFunc::ONE_MINUS_SRC_ALPHA),
        osg::StateAttribute::ON);
    drawInBin(*stage.node, 2);
    root.addChild(stage.node.get());
}

void runRouteStage(osg::Group& root, const std::string& path, RouteStage& stage,
                   std::ostream& err) {
    stage.waypoints = readMission(path);
    if (stage.waypoints->empty()) {
        err << path << ": warning: no route point with a positive ID; playing without a route"
            << std::endl;
    }
    stage.markers = makeWaypointMarkers(*stage.waypoints, kWaypointRadius);
    drawInBin(*stage.markers, 3);
    root.addChild(stage.markers.get());
    stage.legs = makeRouteLegs(*stage.waypoints, kWaypointRadius, kLegRadius);
    drawInBin(*stage.legs, 3);
    root.addChild(stage.legs.get());
}

} // namespace skyframe
