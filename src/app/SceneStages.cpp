#include "app/SceneStages.h"

#include "mission/MissionReader.h"
#include "mission/RouteScene.h"
#include "mission/TargetsReader.h"
#include "overlay/Labels.h"

#include <osg/BlendFunc>
#include <osg/StateSet>
#include <osgDB/ReadFile>
#include <osgDB/Registry>

#include <ostream>

namespace skyframe {

namespace {

// Route and targets are drawn last, after the video (bin 1) and the terrain (bin 2).
void drawInBin(osg::Node& node, int bin) {
    node.getOrCreateStateSet()->setRenderBinDetails(bin, "RenderBin",
                                                    osg::StateSet::USE_RENDERBIN_DETAILS);
}

constexpr float kWaypointRadius = 25.0f;
constexpr float kLegRadius = 1.0f;

} // namespace

void runTargetsStage(osg::Group& root, const std::string& path, TargetsStage& stage) {
    stage.referencePoints = new osg::Vec3Array;
    stage.positions = readTargets(path, stage.names, *stage.referencePoints);
    stage.targetsNode = makeTargetsNode(*stage.positions, *stage.referencePoints);
    drawInBin(*stage.targetsNode, 3);
    root.addChild(stage.targetsNode.get());

    stage.labels = new osg::Group;
    for (std::size_t i = 0; i < stage.names.size(); ++i) {
        stage.labels->addChild(makeLabel((*stage.referencePoints)[i], stage.names[i]));
    }
    root.addChild(stage.labels.get());
}

void runTerrainStage(osg::Group& root, const std::string& path, TerrainStage& stage,
                     std::ostream& err) {
    stage.material = new osg::Material;
    stage.material->setAmbient(osg::Material::FRONT_AND_BACK, osg::Vec4(0.0f, 0.0f, 0.0f, 0.0f));
    stage.material->setDiffuse(osg::Material::FRONT_AND_BACK, osg::Vec4(0.0f, 1.0f, 1.0f, 0.0f));

    stage.node = osgDB::readNodeFile(path, osgDB::Registry::instance()->getOptions());
    if (!stage.node) {
        err << path << ": cannot load the terrain model; going on without terrain" << std::endl;
        // An empty group keeps the later children at their places in the root.
        stage.node = new osg::Group;
    }
    osg::StateSet* state = stage.node->getOrCreateStateSet();
    state->setAttributeAndModes(stage.material.get(), osg::StateAttribute::ON);
    state->setAttributeAndModes(
        new osg::BlendFunc(osg::BlendFunc::SRC_ALPHA, osg::BlendFunc::ONE_MINUS_SRC_ALPHA),
        osg::StateAttribute::ON);
    drawInBin(*stage.node, 2);
    root.addChild(stage.node.get());
}

void runRouteStage(osg::Group& root, const std::string& path, RouteStage& stage) {
    stage.waypoints = readMission(path);
    stage.markers = makeWaypointMarkers(*stage.waypoints, kWaypointRadius);
    drawInBin(*stage.markers, 3);
    root.addChild(stage.markers.get());
    stage.legs = makeRouteLegs(*stage.waypoints, kWaypointRadius, kLegRadius);
    drawInBin(*stage.legs, 3);
    root.addChild(stage.legs.get());
}

} // namespace skyframe
