#include "RegionTreeWalk.h"

#include <osg/Geometry>
#include <osg/NodeVisitor>
#include <osg/PagedLOD>
#include <osgDB/ReadFile>

#include <zlib.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>

namespace skyframe::testing {

namespace {

// The vertices of every geometry below a node, through the transforms above them.
class PointCollector : public osg::NodeVisitor {
public:
    PointCollector() : osg::NodeVisitor(TRAVERSE_ALL_CHILDREN) {}
    void apply(osg::Geometry& geometry) override {
        const osg::Matrixd toWorld = osg::computeLocalToWorld(getNodePath());
        const auto* vertices = dynamic_cast<const osg::Vec3Array*>(geometry.getVertexArray());
        if (vertices != nullptr) {
            for (const osg::Vec3& v : *vertices) {
                points.push_back(osg::Vec3d(v) * toWorld);
            }
        }
    }
    std::vector<osg::Vec3d> points;
};

// The tiles of one loaded file: its PagedLODs, or the file's content when it has none.
std::vector<osg::ref_ptr<osg::Node>> tilesOf(osg::Node& file) {
    if (auto* group = dynamic_cast<osg::Group*>(&file);
        group != nullptr && dynamic_cast<osg::LOD*>(&file) == nullptr &&
        dynamic_cast<osg::Transform*>(&file) == nullptr) {
        std::vector<osg::ref_ptr<osg::Node>> tiles;
        for (unsigned i = 0; i < group->getNumChildren(); ++i) {
            tiles.emplace_back(group->getChild(i));
        }
        return tiles;
    }
    return {&file};
}

struct Walker {
    const Descend& descend;
    bool collect;
    TreeWalk walk;

    void file(const std::string& path, const std::string& cell, int level) {
        walk.filesRead.push_back(path);
        osg::ref_ptr<osg::Node> node = osgDB::readNodeFile(path);
        if (!node) {
            walk.unreadable.push_back(path);
            return;
        }
        for (const osg::ref_ptr<osg::Node>& tileNode : tilesOf(*node)) {
            WalkedTile tile{cell, level, {}};
            if (collect || descend) {
                PointCollector collector;
                tileNode->accept(collector);
                tile.points = std::move(collector.points);
            }
            auto* lod = dynamic_cast<osg::PagedLOD*>(tileNode.get());
            const bool deeper = lod != nullptr && (!descend || descend(tile));
            if (collect) {
                walk.tiles.push_back(tile);
            }
            if (deeper) {
                for (unsigned i = lod->getNumChildren(); i < lod->getNumFileNames(); ++i) {
                    file(lod->getDatabasePath() + lod->getFileName(i), cell, level + 1);
                }
            }
        }
    }
};

} // namespace

TreeWalk walkRegionTree(const std::string& rootPath, const Descend& descend, bool collect) {
    Walker walker{descend, collect, {}};
    walker.walk.filesRead.push_back(rootPath);
    osg::ref_ptr<osg::Node> root = osgDB::readNodeFile(rootPath);
    auto* group = dynamic_cast<osg::Group*>(root.get());
    if (group == nullptr) {
        walker.walk.unreadable.push_back(rootPath);
        return walker.walk;
    }
    for (unsigned i = 0; i < group->getNumChildren(); ++i) {
        auto* lod = dynamic_cast<osg::PagedLOD*>(group->getChild(i));
        if (lod == nullptr || lod->getNumFileNames() == 0) {
            walker.walk.unreadable.push_back(rootPath + " (child " + std::to_string(i) + ")");
            continue;
        }
        const std::string& name = lod->getFileName(0);
        walker.file(lod->getDatabasePath() + name, name.substr(0, name.find('/')), 0);
    }
    return walker.walk;
}

std::map<std::string, std::pair<unsigned long long, std::string>>
readManifest(const std::string& manifestPath, std::vector<std::string>* comments) {
    std::ifstream in(manifestPath);
    std::map<std::string, std::pair<unsigned long long, std::string>> entries;
    std::string line;
    std::getline(in, line); // the header, checked by the tests
    while (std::getline(in, line)) {
        if (!line.empty() && line[0] == '#') {
            if (comments != nullptr) {
                comments->push_back(line);
            }
            continue;
        }
        std::istringstream fields(line);
        unsigned long long size = 0;
        std::string crc, path;
        fields >> size >> crc >> path;
        entries[path] = {size, crc};
    }
    return entries;
}

std::string fileCrc(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const uLong crc = crc32(crc32(0L, Z_NULL, 0), reinterpret_cast<const Bytef*>(bytes.data()),
                            static_cast<uInt>(bytes.size()));
    char text[16];
    std::snprintf(text, sizeof text, "%08lx", static_cast<unsigned long>(crc));
    return text;
}

} // namespace skyframe::testing
