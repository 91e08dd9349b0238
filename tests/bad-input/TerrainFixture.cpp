// Writes terrain models for the bad-input cases: a grid of n x n vertices as one triangle
// mesh, in whatever format the file name's extension selects (.osgb for the cut files); or a
// small paged tree with its manifest, as the tiler lays one out:
//   DIR/terrain.osgb   root: a grid, and c/1.osgb paged in at any distance
//   DIR/c/1.osgb       a grid, and 2.osgb (beside it) paged in at any distance
//   DIR/c/2.osgb       a grid
//   DIR/terrain.manifest
//
//   bad_input_terrain OUTPUT N
//   bad_input_terrain --tree DIR

#include <osg/Geode>
#include <osg/Geometry>
#include <osg/PagedLOD>
#include <osgDB/WriteFile>

#include <zlib.h>

#include <cfloat>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>

namespace {

osg::ref_ptr<osg::Geode> makeGrid(int n) {
    osg::ref_ptr<osg::Vec3Array> vertices = new osg::Vec3Array;
    for (int i = 0; i < n; ++i) {
        for (int j = 0; j < n; ++j) {
            // Uneven heights keep the writer from storing the grid more compactly.
            vertices->push_back(osg::Vec3(float(i), float(j), float((i * 31 + j * 17) % 23)));
        }
    }
    osg::ref_ptr<osg::DrawElementsUInt> triangles =
        new osg::DrawElementsUInt(osg::PrimitiveSet::TRIANGLES);
    for (int i = 0; i + 1 < n; ++i) {
        for (int j = 0; j + 1 < n; ++j) {
            const unsigned a = static_cast<unsigned>(i * n + j);
            const unsigned b = a + static_cast<unsigned>(n);
            for (unsigned v : {a, a + 1, b, a + 1, b + 1, b}) {
                triangles->push_back(v);
            }
        }
    }
    osg::ref_ptr<osg::Geometry> geometry = new osg::Geometry;
    geometry->setVertexArray(vertices.get());
    geometry->addPrimitiveSet(triangles.get());
    osg::ref_ptr<osg::Geode> geode = new osg::Geode;
    geode->addDrawable(geometry.get());
    return geode;
}

// A grid, and `child` paged in wherever the eye is: the bound holds the whole Earth, so the
// node is never culled, and the child's range has no limit.
osg::ref_ptr<osg::PagedLOD> makePaged(int n, const std::string& child) {
    osg::ref_ptr<osg::PagedLOD> node = new osg::PagedLOD;
    node->addChild(makeGrid(n).get(), 0.0f, FLT_MAX);
    node->setFileName(1, child);
    node->setRange(1, 0.0f, FLT_MAX);
    node->setCenterMode(osg::LOD::USER_DEFINED_CENTER);
    node->setCenter(osg::Vec3(0.0f, 0.0f, 0.0f));
    node->setRadius(2.0e7f);
    return node;
}

bool write(osg::Node& node, const std::string& path) {
    if (!osgDB::writeNodeFile(node, path)) {
        std::cerr << path << ": cannot write the terrain model\n";
        return false;
    }
    return true;
}

// The manifest line of one file: size, zlib crc32, path relative to the tree's folder.
std::string manifestLine(const std::string& dir, const std::string& path) {
    std::ifstream in(dir + "/" + path, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const uLong crc =
        crc32(0L, reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(bytes.size()));
    char hex[9];
    std::snprintf(hex, sizeof hex, "%08lx", crc);
    return std::to_string(bytes.size()) + " " + hex + " " + path + "\n";
}

int writeTree(const std::string& dir) {
    std::filesystem::create_directories(dir + "/c");
    if (!write(*makePaged(12, "c/1.osgb"), dir + "/terrain.osgb") ||
        !write(*makePaged(16, "2.osgb"), dir + "/c/1.osgb") ||
        !write(*makeGrid(20), dir + "/c/2.osgb")) {
        return 1;
    }
    std::ofstream manifest(dir + "/terrain.manifest");
    manifest << "skyframe terrain manifest 1\n# written by bad_input_terrain\n"
             << manifestLine(dir, "terrain.osgb") << manifestLine(dir, "c/1.osgb")
             << manifestLine(dir, "c/2.osgb");
    return manifest.good() ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: bad_input_terrain OUTPUT N | bad_input_terrain --tree DIR\n";
        return 2;
    }
    if (std::string(argv[1]) == "--tree") {
        return writeTree(argv[2]);
    }
    const std::string output = argv[1];
    const int n = std::stoi(argv[2]);
    if (n < 2 || n > 2000) {
        std::cerr << "bad_input_terrain: N must be from 2 to 2000\n";
        return 2;
    }
    return write(*makeGrid(n), output) ? 0 : 1;
}
