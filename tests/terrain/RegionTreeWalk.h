#pragma once

// Reads a region tree back as the database pager would: the root, then every paged file by
// its PagedLOD's database path and file name, collecting the tiles' vertices in Earth-centred
// metres.

#include <osg/Vec3d>

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace skyframe::testing {

struct WalkedTile {
    std::string cell;               // the folder the cell's top file lies in
    int level = 0;                  // 0 for a cell's top tile
    std::vector<osg::Vec3d> points; // every vertex, local coordinates through its transforms
};

struct TreeWalk {
    std::vector<std::string> filesRead; // as the pager would open them, root first
    std::vector<WalkedTile> tiles;
    std::vector<std::string> unreadable;
};

// Whether to page in the children of a tile, given the tile.
using Descend = std::function<bool(const WalkedTile&)>;

// Walks the tree whose root file is rootPath, descending where `descend` says so (everywhere
// when it is empty). Tiles are collected only when collect is true.
TreeWalk walkRegionTree(const std::string& rootPath, const Descend& descend, bool collect);

// The manifest's entry lines: path relative to the tree's folder -> (size, crc text).
std::map<std::string, std::pair<unsigned long long, std::string>>
readManifest(const std::string& manifestPath, std::vector<std::string>* comments = nullptr);

// zlib's CRC-32 of a file's bytes as 8 lowercase hex digits.
std::string fileCrc(const std::string& path);

} // namespace skyframe::testing
