#include "terrain/PagedTree.h"

#include "camera/Geodesy.h"
#include "terrain/DtedRaster.h"
#include "terrain/TileStem.h"
#include "terrain/TileWriter.h"

#include <osg/Group>
#include <osgDB/ReadFile>

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <limits>

namespace skyframe {

namespace {

constexpr float kFarthest = std::numeric_limits<float>::max();

// What the trees need of a cell: its width, pixel size and top-left corner. A cell that
// cannot be opened keeps zeros, and its nodes then sit at the Earth's centre.
struct CellGeometry {
    int width = 0;
    double pixelWidth = 0.0;
    osg::Vec3f origin{0.0f, 0.0f, 0.0f};

    // Half the cell's extent (degrees): 0.5 for a one-degree cell.
    double halfExtent() const { return (width / 2) * pixelWidth; }
    double latitude() const { return origin.y(); }
    double longitude() const { return origin.x(); }
};

CellGeometry queryCell(const std::string& path) {
    CellGeometry cell;
    readDtedGeometry(path, cell.width, cell.pixelWidth, cell.origin);
    return cell;
}

osg::Vec3f centreAt(double latitude, double longitude) {
    const Eigen::Vector3d p = geodeticToEcef(latitude, longitude, 0.0);
    return osg::Vec3f(static_cast<float>(p.x()), static_cast<float>(p.y()),
                      static_cast<float>(p.z()));
}

void setCentre(osg::LOD& node, const osg::Vec3f& centre) {
    node.setCenterMode(osg::LOD::USER_DEFINED_CENTER);
    node.setCenter(centre);
}

// Radius of a sphere round `centre` holding the ground of a tile that extends `halfExtent`
// degrees either side of (latitude, longitude), at any height from the Dead Sea shore to
// above Everest. A paged node whose tile is not loaded yet has no bound of its own: without
// this radius the scene graph's culling would judge it by an empty sphere at the Earth's
// centre and, depending on the view, never ask for its tile.
float groundRadius(const osg::Vec3f& centre, double latitude, double longitude, double halfExtent) {
    double radius = 0.0;
    for (double dLat : {-halfExtent, halfExtent}) {
        for (double dLon : {-halfExtent, halfExtent}) {
            for (double height : {-500.0, 9000.0}) {
                const Eigen::Vector3d corner =
                    geodeticToEcef(latitude + dLat, longitude + dLon, height);
                const Eigen::Vector3d c(centre.x(), centre.y(), centre.z());
                radius = std::max(radius, (corner - c).norm());
            }
        }
    }
    return static_cast<float>(radius);
}

// The centre of a tile's node, and the radius that bounds its ground.
void placeNode(osg::LOD& node, double latitude, double longitude, double halfExtent) {
    const osg::Vec3f centre = centreAt(latitude, longitude);
    setCentre(node, centre);
    node.setRadius(groundRadius(centre, latitude, longitude, halfExtent));
}

// Reads a tile now. One that cannot be read leaves an empty group in its place, so that the
// children after it keep the ranges meant for them.
osg::ref_ptr<osg::Node> loadTile(const std::string& fileName, UnreadableTiles* unreadable) {
    osg::ref_ptr<osg::Node> tile = osgDB::readRefNodeFile(fileName);
    if (tile) {
        return tile;
    }
    std::fflush(stdout);
    std::cerr << "cannot read tile \"" << fileName << "\"; its place in the tree stays empty\n";
    if (unreadable != nullptr) {
        unreadable->push_back(fileName);
    }
    return new osg::Group;
}

// One cell's part of a tree: its tile rows of level 2.
struct CellPart {
    const CellGeometry& cell;
    const std::string& stem;
    int firstRow;
    bool printsColumn3;
};

} // namespace

std::string treeTileFileName(const std::string& directoryPrefix, const std::string& stem,
                             unsigned level, unsigned x, unsigned y) {
    return directoryPrefix + "quadtree_" + stem + "_L" + std::to_string(level) + "_X" +
           std::to_string(x) + "_Y" + std::to_string(y) + ".obj";
}

osg::ref_ptr<osg::PagedLOD> buildPagedTree(const std::string& directoryPrefix,
                                           const std::string& pathA, const std::string& pathB,
                                           UnreadableTiles* unreadable) {
    const std::string stemA = tileStem(pathA);
    const std::string stemB = tileStem(pathB);
    const CellGeometry a = queryCell(pathA);
    const CellGeometry b = queryCell(pathB);

    osg::ref_ptr<osg::PagedLOD> root = new osg::PagedLOD;
    root->addChild(loadTile(treeTileFileName(directoryPrefix, stemA, 1, 0, 0), unreadable),
                   kLevel1Range, kFarthest);
    // The same cell twice covers that cell; B north of A puts the centre on A's northern edge.
    const double rootLatitude = a.origin == b.origin ? a.latitude() - a.halfExtent() : a.latitude();
    placeNode(*root, rootLatitude, a.longitude() + a.halfExtent(), a.halfExtent());

    osg::ref_ptr<osg::Group> level2 = new osg::Group;
    for (const CellPart& part : {CellPart{a, stemA, 0, true}, CellPart{b, stemB, 2, false}}) {
        const double e4 = part.cell.halfExtent() / 4;
        const double e16 = part.cell.halfExtent() / 16;
        for (int r = part.firstRow; r < part.firstRow + 2; ++r) {
            for (int c = 0; c < 4; ++c) {
                osg::ref_ptr<osg::PagedLOD> node2 = new osg::PagedLOD;
                node2->addChild(
                    loadTile(treeTileFileName(directoryPrefix, part.stem, 2, r, c), unreadable),
                    kLevel2Range, kLevel1Range);
                placeNode(*node2, part.cell.latitude() - (2 * r + 1) * e4,
                          part.cell.longitude() + (2 * c + 1) * e4, e4);

                osg::ref_ptr<osg::Group> level3 = new osg::Group;
                for (int row = 4 * r; row < 4 * r + 4; ++row) {
                    for (int column = 4 * c; column < 4 * c + 4; ++column) {
                        osg::ref_ptr<osg::PagedLOD> node3 = new osg::PagedLOD;
                        node3->setFileName(
                            0, treeTileFileName(directoryPrefix, part.stem, 3, row, column));
                        node3->setRange(0, 0.0f, kLevel2Range);
                        placeNode(*node3, part.cell.latitude() - (2 * row + 1) * e16,
                                  part.cell.longitude() + (2 * column + 1) * e16, e16);
                        level3->addChild(node3);
                    }
                }
                node2->addChild(level3, 0.0f, kLevel2Range);
                level2->addChild(node2);
                if (part.printsColumn3 && c == 3) {
                    std::printf("3\n");
                }
            }
        }
    }
    root->addChild(level2, 0.0f, kLevel1Range);
    return root;
}

osg::ref_ptr<osg::PagedLOD> buildMixLod(const std::string& directoryPrefix,
                                        const std::string& pathA, const std::string& pathB,
                                        UnreadableTiles* unreadable) {
    const std::string stemA = tileStem(pathA);
    const std::string stemB = tileStem(pathB);
    osg::ref_ptr<osg::PagedLOD> lod = new osg::PagedLOD;
    lod->addChild(loadTile(directoryPrefix + "quadtree_" + stemA + "___" + stemB + "_L1_X0_Y0.obj",
                           unreadable),
                  0.0f, kFarthest);

    unsigned child = 1;
    const auto addPaged = [&](const std::string& stem, unsigned level, unsigned firstRow,
                              unsigned rows, float minRange, float maxRange) {
        const unsigned columns = level == 2 ? 4 : 16;
        for (unsigned x = firstRow; x < firstRow + rows; ++x) {
            for (unsigned y = 0; y < columns; ++y) {
                lod->setFileName(child, treeTileFileName(directoryPrefix, stem, level, x, y));
                lod->setRange(child, minRange, maxRange);
                if (child <= 8) {
                    std::printf("%u\n", child);
                }
                ++child;
            }
        }
    };
    addPaged(stemA, 2, 0, 2, 500000.0f, 6377438.0f);
    addPaged(stemB, 2, 2, 2, 500000.0f, 6377438.0f);
    addPaged(stemA, 3, 0, 8, 0.0f, 5000000.0f);
    addPaged(stemB, 3, 8, 8, 0.0f, 5000000.0f);
    return lod;
}

osg::ref_ptr<osg::PagedLOD> buildTwoLevelTree(const std::string& directoryPrefix,
                                              const std::string& pathA, const std::string& pathB,
                                              UnreadableTiles* unreadable) {
    constexpr float kSwitchRange = 5990510.0f;
    const std::string stemA = tileStem(pathA);
    const std::string stemB = tileStem(pathB);
    const CellGeometry a = queryCell(pathA);
    const CellGeometry b = queryCell(pathB);

    osg::ref_ptr<osg::PagedLOD> root = new osg::PagedLOD;
    root->addChild(loadTile(treeTileFileName(directoryPrefix, stemA, 1, 0, 0), unreadable),
                   kSwitchRange, kFarthest);
    const double rootLatitude = a.origin == b.origin ? a.latitude() - a.halfExtent() : a.latitude();
    {
        const osg::Vec3f centre = centreAt(rootLatitude, a.longitude() + a.halfExtent());
        setCentre(*root, centre);
        std::cout << "x: " << a.longitude() + a.halfExtent() << " y: " << rootLatitude
                  << " z: " << 0 << '\n'
                  << "DTED_XY:  x: " << centre.x() << " y: " << centre.y() << " z: " << centre.z()
                  << '\n';
    }

    osg::ref_ptr<osg::Group> level2 = new osg::Group;
    for (const CellPart& part : {CellPart{a, stemA, 0, false}, CellPart{b, stemB, 2, false}}) {
        const double e4 = part.cell.halfExtent() / 4;
        for (int r = part.firstRow; r < part.firstRow + 2; ++r) {
            for (int c = 0; c < 4; ++c) {
                osg::ref_ptr<osg::PagedLOD> node = new osg::PagedLOD;
                node->setFileName(0, treeTileFileName(directoryPrefix, part.stem, 2, r, c));
                node->setRange(0, 0.0f, kSwitchRange);
                const double latitude = part.cell.latitude() - (2 * r + 1) * e4;
                const double longitude = part.cell.longitude() + (2 * c + 1) * e4;
                const osg::Vec3f centre = centreAt(latitude, longitude);
                setCentre(*node, centre);
                const std::string label =
                    "DTED_X" + std::to_string(r) + "Y" + std::to_string(c) + ":  ";
                std::cout << label << "x: " << longitude << " y: " << latitude << " z: " << 0
                          << '\n'
                          << label << "x: " << centre.x() << " y: " << centre.y()
                          << " z: " << centre.z() << '\n';
                level2->addChild(node);
            }
        }
    }
    root->addChild(level2, 0.0f, kSwitchRange);
    std::cout.flush();
    return root;
}

osg::ref_ptr<osg::PagedLOD> buildTileNode(const std::string& directoryPrefix,
                                          const std::string& path, unsigned x, unsigned y,
                                          UnreadableTiles* unreadable) {
    const std::string stem = tileStem(path);
    const CellGeometry cell = queryCell(path);
    osg::ref_ptr<osg::PagedLOD> node = new osg::PagedLOD;
    node->addChild(loadTile(makeTileFileName(directoryPrefix, stem, 3, x, y), unreadable), 0.0f,
                   kFarthest);
    node->setFileName(1, makeTileFileName(directoryPrefix, stem, 2, x, y));
    node->setRange(1, 0.0f, 5675220.0f);
    const double eighth = (cell.width / 8) * cell.pixelWidth;
    setCentre(*node, centreAt(cell.latitude() - (2 * x + 1) * eighth,
                              cell.longitude() + (2 * y + 1) * eighth));
    return node;
}

} // namespace skyframe
