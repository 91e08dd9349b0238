#pragma once

#include <osg/Array>
#include <osg/Group>
#include <osg/Material>
#include <osg/Node>
#include <osg/ref_ptr>

#include <iosfwd>
#include <string>
#include <vector>

namespace skyframe {

// The objects each start-up stage makes and the driver keeps for the whole run.
struct TargetsStage {
    std::vector<std::string> names;
    osg::ref_ptr<osg::Vec3Array> referencePoints;
    osg::ref_ptr<osg::Vec3Array> positions;
    osg::ref_ptr<osg::Group> targetsNode;
    osg::ref_ptr<osg::Group> labels;
};

struct TerrainStage {
    osg::ref_ptr<osg::Material> material;
    osg::ref_ptr<osg::Node> node;
};

struct RouteStage {
    osg::ref_ptr<osg::Vec3Array> waypoints;
    osg::ref_ptr<osg::Group> markers;
    osg::ref_ptr<osg::Group> legs;
};

// Reads the targets file and adds the targets node (render bin 3) and one label per target
// to root. Throws InputError for a file that cannot be read.
void runTargetsStage(osg::Group& root, const std::string& path, TargetsStage& stage);

// Loads the terrain model (Earth-centred, added with no transform) and adds it to root in
// render bin 2 with a material whose diffuse alpha is 0: blended, it adds no colour over the
// video but still writes depth, hiding route and targets behind the terrain. A file that
// cannot be loaded gives a warning on `err` and an empty group in the terrain's place.
void runTerrainStage(osg::Group& root, const std::string& path, TerrainStage& stage,
                     std::ostream& err);

// Reads the mission file and adds the waypoint markers and route legs (render bin 3) to
// root. Throws InputError for a file that cannot be read.
void runRouteStage(osg::Group& root, const std::string& path, RouteStage& stage);

} // namespace skyframe
