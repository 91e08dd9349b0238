#pragma once

#include "app/TerrainGuard.h"

#include <osg/Array>
#include <osg/Group>
#include <osg/Material>
#include <osg/Node>
#include <osg/ref_ptr>

#include <iosfwd>
#include <iostream>
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
    osg::ref_ptr<TerrainGuard> guard; // the registry's read-file callback from then on
};

struct RouteStage {
    osg::ref_ptr<osg::Vec3Array> waypoints;
    osg::ref_ptr<osg::Group> markers;
    osg::ref_ptr<osg::Group> legs;
};

// Reads the targets file and adds the targets node (render bin 3) and one label per target
// to root. Throws InputError for a file that cannot be read; a file without a target gives
// one warning line on `err` and the run goes on.
void runTargetsStage(osg::Group& root, const std::string& path, TargetsStage& stage,
                     std::ostream& err = std::cerr);

// How long the probe may take to load a terrain file before it is given up (seconds).
constexpr unsigned kTerrainProbeSeconds = 120;

// Loads `path` with the scene-graph library in a child process, so that a reader that
// crashes, hangs or runs out of memory on a damaged file takes only the child down. True
// when the child loaded a node; otherwise false with the reason in `problem`.
bool probeTerrainFile(const std::string& path, std::string& problem,
                      unsigned seconds = kTerrainProbeSeconds);

// Loads the terrain model (Earth-centred, added with no transform) and adds it to root in
// render bin 2 with a material whose diffuse alpha is 0: blended, it adds no colour over the
// video but still writes depth, hiding route and targets behind the terrain.
// The library's readers trust their input, so the file is let near them only once it is
// known to be sound: when a terrain.manifest beside it lists it, its size and crc32 are
// checked and the checked bytes are parsed (the file is read once); otherwise it must first
// load in a child process (probeTerrainFile). Then a TerrainGuard, installed as the
// registry's read-file callback, checks the tiles that the database pager reads later.
// A file that is refused or cannot be loaded gives a warning on `err` and an empty group in
// the terrain's place; a manifest that cannot be read gives a warning and counts as absent.
void runTerrainStage(osg::Group& root, const std::string& path, TerrainStage& stage,
                     std::ostream& err);

// Reads the mission file and adds the waypoint markers and route legs (render bin 3) to
// root. Throws InputError for a file that cannot be read; a mission without a route point
// gives one warning line on `err` and the run goes on.
void runRouteStage(osg::Group& root, const std::string& path, RouteStage& stage,
                   std::ostream& err = std::cerr);

} // namespace skyframe
