#include "terrain/TreeFiles.h"

#include "terrain/PagedTree.h"
#include "terrain/TileStem.h"

#include <osg/NodeVisitor>
#include <osg/PagedLOD>
#include <osgDB/WriteFile>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <stdexcept>
#include <system_error>

namespace skyframe {

namespace fs = std::filesystem;

namespace {

// Renames the paged children's files from one folder prefix to another.
class PagedNameRewriter : public osg::NodeVisitor {
public:
    PagedNameRewriter(std::string from, std::string to)
        : osg::NodeVisitor(TRAVERSE_ALL_CHILDREN), from_(std::move(from)), to_(std::move(to)) {}

    void apply(osg::PagedLOD& node) override {
        for (unsigned i = 0; i < node.getNumFileNames(); ++i) {
            const std::string& name = node.getFileName(i);
            if (!name.empty() && name.compare(0, from_.size(), from_) == 0) {
                node.setFileName(i, to_ + name.substr(from_.size()));
            }
        }
        traverse(node);
    }

private:
    std::string from_;
    std::string to_;
};

std::string tileOptionsText(HeightReference heights) {
    return heights == HeightReference::Ellipsoid ? "heights=ellipsoid\n" : "heights=msl\n";
}

// Gives `target` the name `link`, replacing any other file of that name at once.
void linkOrCopy(const fs::path& target, const fs::path& link) {
    std::error_code ec;
    if (fs::equivalent(target, link, ec)) {
        return; // renaming a link onto its own file would do nothing and keep the part
    }
    const fs::path part = link.string() + ".part";
    fs::remove(part, ec);
    fs::create_hard_link(target, part, ec);
    if (ec) {
        fs::copy_file(target, part, fs::copy_options::overwrite_existing);
    }
    fs::rename(part, link);
}

} // namespace

std::string tileOptionsFileName(const std::string& directoryPrefix, const std::string& stem) {
    return directoryPrefix + "quadtree_PRUEBA" + stem + ".options";
}

void writeTileOptions(const std::string& directoryPrefix, const std::string& stem,
                      HeightReference heights) {
    const std::string path = tileOptionsFileName(directoryPrefix, stem);
    const std::string part = path + ".part";
    {
        std::ofstream out(part, std::ios::trunc);
        out << tileOptionsText(heights);
        out.close();
        if (!out) {
            std::remove(part.c_str());
            throw std::runtime_error("cannot write \"" + path + "\"");
        }
    }
    std::error_code ec;
    fs::rename(part, path, ec);
    if (ec) {
        std::remove(part.c_str());
        throw std::runtime_error("cannot rename into \"" + path + "\": " + ec.message());
    }
}

bool tilesReusable(const std::string& directoryPrefix, const std::string& stem,
                   const std::string& cellPath, const std::vector<TilePosition>& tiles,
                   HeightReference heights) {
    std::ifstream options(tileOptionsFileName(directoryPrefix, stem));
    std::stringstream text;
    text << options.rdbuf();
    std::error_code ec;
    const fs::file_time_type cellTime = fs::last_write_time(cellPath, ec);
    if (!options || text.str() != tileOptionsText(heights) || ec) {
        return false;
    }
    for (const TilePosition& t : tiles) {
        const fs::file_time_type tileTime =
            fs::last_write_time(makeTileFileName(directoryPrefix, stem, t.level, t.x, t.y), ec);
        if (ec || tileTime < cellTime) {
            return false;
        }
    }
    return true;
}

std::vector<TilePosition> halfTilePositions(int halfSelector) {
    std::vector<TilePosition> tiles{{1, 0, 0}};
    for (unsigned level = 2; level <= 3; ++level) {
        const unsigned side = 1u << (2 * (level - 1));
        const unsigned first = halfSelector == kNorthHalf ? 0 : side / 2;
        for (unsigned x = first; x < first + side / 2; ++x) {
            for (unsigned y = 0; y < side; ++y) {
                tiles.push_back({level, x, y});
            }
        }
    }
    return tiles;
}

namespace {

// One half of a tree's tiles: the northern half of A or the southern half of B.
struct TreeHalf {
    const std::string& path;
    int half;
    std::string stem;
    bool reuse;
};

// The tiles of a half that the tree uses: B's level-1 tile is written with its half but
// not used.
std::vector<TilePosition> treeTiles(int half) {
    std::vector<TilePosition> tiles = halfTilePositions(half);
    if (half == kSouthHalf) {
        tiles.erase(tiles.begin()); // level 1 comes first
    }
    return tiles;
}

// Gives the tiles of a half their tree names.
void linkTreeNames(const std::string& directoryPrefix, const TreeHalf& part) {
    for (const TilePosition& t : treeTiles(part.half)) {
        linkOrCopy(makeTileFileName(directoryPrefix, part.stem, t.level, t.x, t.y),
                   treeTileFileName(directoryPrefix, part.stem, t.level, t.x, t.y));
    }
}

} // namespace

int prepareTreeTiles(const std::string& directoryPrefix, const std::string& pathA,
                     const std::string& pathB, const TileDone& tileDone, HeightReference heights) {
    std::vector<TreeHalf> parts{{pathA, kNorthHalf, {}, false}, {pathB, kSouthHalf, {}, false}};
    // Both halves are judged before either is written: the two halves of one cell share
    // their record of options.
    for (TreeHalf& part : parts) {
        try {
            part.stem = tileStem(part.path);
        } catch (const std::invalid_argument& e) {
            std::cerr << e.what() << '\n';
            return 1;
        }
        part.reuse =
            tilesReusable(directoryPrefix, part.stem, part.path, treeTiles(part.half), heights);
    }
    for (const TreeHalf& part : parts) {
        if (!part.reuse) {
            // Until every half of the cell is written, its tiles are not finished ones.
            std::remove(tileOptionsFileName(directoryPrefix, part.stem).c_str());
        }
    }
    for (const TreeHalf& part : parts) {
        if (!part.reuse) {
            if (const int status = writeTileLevel(kFirstTileLevel, part.half, part.path,
                                                  directoryPrefix, tileDone, heights)) {
                return status;
            }
        }
        try {
            linkTreeNames(directoryPrefix, part);
            writeTileOptions(directoryPrefix, part.stem, heights);
        } catch (const std::runtime_error& e) {
            std::fflush(stdout);
            std::cerr << "cannot give tiles of \"" << part.path
                      << "\" their tree names: " << e.what() << '\n';
            return 1;
        }
    }
    return 0;
}

void writeTreeFile(osg::Node& root, const std::string& directoryPrefix,
                   const std::string& treePath) {
    const fs::path tree = fs::absolute(treePath).lexically_normal();
    fs::path tiles =
        fs::absolute(directoryPrefix.empty() ? "." : directoryPrefix).lexically_normal();
    if (!tiles.has_filename()) {
        tiles = tiles.parent_path(); // "dir/" names the folder dir
    }
    std::string relative = tiles.lexically_relative(tree.parent_path()).generic_string();
    if (relative == ".") {
        relative.clear();
    } else if (!relative.empty()) {
        relative += '/';
    }
    PagedNameRewriter rewriter(directoryPrefix, relative);
    root.accept(rewriter);

    const fs::path part =
        tree.parent_path() / (tree.stem().string() + ".part" + tree.extension().string());
    if (!osgDB::writeNodeFile(root, part.string())) {
        std::error_code ec;
        fs::remove(part, ec);
        throw std::runtime_error("cannot write tree \"" + treePath + "\"");
    }
    std::error_code ec;
    fs::rename(part, tree, ec);
    if (ec) {
        fs::remove(part, ec);
        throw std::runtime_error("cannot rename tree into \"" + treePath + "\": " + ec.message());
    }
}

} // namespace skyframe
