#include "terrain/RegionQuadtree.h"

namespace skyframe {

QuadTile topTile(int rows, int columns) {
    return QuadTile{"", TileSpan{0, rows - 1, 0, columns - 1}, 0};
}

bool isLeaf(const TileSpan& span) {
    return span.rowIntervals() <= kTileIntervals && span.columnIntervals() <= kTileIntervals;
}

std::vector<QuadTile> children(const QuadTile& tile) {
    const TileSpan& s = tile.span;
    std::vector<std::pair<int, int>> rowRanges{{s.row0, s.row1}};
    std::vector<std::pair<int, int>> columnRanges{{s.column0, s.column1}};
    if (s.rowIntervals() > kTileIntervals) {
        const int middle = (s.row0 + s.row1) / 2;
        rowRanges = {{s.row0, middle}, {middle, s.row1}};
    }
    if (s.columnIntervals() > kTileIntervals) {
        const int middle = (s.column0 + s.column1) / 2;
        columnRanges = {{s.column0, middle}, {middle, s.column1}};
    }
    std::vector<QuadTile> result;
    for (const auto& rows : rowRanges) {
        for (const auto& columns : columnRanges) {
            const char digit = static_cast<char>('0' + result.size());
            result.push_back(QuadTile{
                tile.id + digit, TileSpan{rows.first, rows.second, columns.first, columns.second},
                tile.level + 1});
        }
    }
    return result;
}

std::vector<int> samplePosts(int first, int last) {
    const int intervals = last - first;
    const int step = (intervals + kTileIntervals - 1) / kTileIntervals;
    std::vector<int> posts;
    for (int p = first; p < last; p += step) {
        posts.push_back(p);
    }
    posts.push_back(last);
    return posts;
}

std::string topFileName() {
    return "top.osgb";
}

std::string childrenFileName(const std::string& parentId) {
    return "q" + parentId + ".osgb";
}

std::vector<TileFile> cellTileFiles(int rows, int columns) {
    const QuadTile top = topTile(rows, columns);
    std::vector<TileFile> files{TileFile{topFileName(), {top}}};
    for (std::size_t i = 0; i < files.size(); ++i) {
        for (std::size_t t = 0; t < files[i].tiles.size(); ++t) {
            const QuadTile tile = files[i].tiles[t];
            if (!isLeaf(tile.span)) {
                files.push_back(TileFile{childrenFileName(tile.id), children(tile)});
            }
        }
    }
    return files;
}

} // namespace skyframe
