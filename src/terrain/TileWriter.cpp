#include "terrain/TileWriter.h"

#include "terrain/CellGrid.h"
#include "terrain/DtedRaster.h"
#include "terrain/DtedReport.h"
#include "terrain/EcefGrid.h"
#include "terrain/ObjTileFile.h"
#include "terrain/TileStem.h"
#include "terrain/VoidFill.h"

#include <cstdio>
#include <iostream>
#include <stdexcept>
#include <vector>

namespace skyframe {

namespace {

constexpr int kSamplesPerSide = 225;

// Reports a failure on standard error after whatever standard output holds, so that the
// console reads in order.
int failWith(const std::string& message) {
    std::fflush(stdout);
    std::cerr << message << '\n';
    return 1;
}

bool stemOf(const std::string& path, std::string& stem) {
    try {
        stem = tileStem(path);
        return true;
    } catch (const std::invalid_argument& e) {
        failWith(e.what());
        return false;
    }
}

bool checkHalf(int halfSelector, const char* writer) {
    if (halfSelector == kSouthHalf || halfSelector == kNorthHalf) {
        return true;
    }
    failWith(std::string(writer) + ": half selector " + std::to_string(halfSelector) +
             " is neither 0 (southern half) nor 1 (northern half)");
    return false;
}

// Opens a cell and prints its dataset report; null after kOpenFailureText (and the reason on
// standard error) when it cannot be opened.
GDALDatasetUniquePtr openReported(const std::string& path) {
    std::string whyNot;
    GDALDatasetUniquePtr dataset = openDted(path, &whyNot);
    if (!dataset) {
        std::fputs(kOpenFailureText, stdout);
        failWith("cannot open \"" + path + "\": " + whyNot);
        return dataset;
    }
    printDatasetReport(*dataset);
    return dataset;
}

// Checks that the opened cell can be tiled (refusing it before anything else is printed),
// prints its band report and fills its voids; the grid to read it through.
CellGrid reportedGrid(GDALDatasetUniquePtr& dataset, const std::string& path,
                      HeightReference heights) {
    CellGrid{*dataset, path};
    printBandReport(*dataset->GetRasterBand(1));
    fillVoids(dataset, path);
    CellGrid grid(*dataset, path);
    if (heights == HeightReference::Ellipsoid) {
        grid.convertToEllipsoidHeights();
    }
    return grid;
}

// One level's layout: tile (x, y) covers grid rows and columns from (x, y) * pixelsPerTile
// and is sampled every `step` pixels, `samples` per side.
struct TileLayout {
    unsigned levelName;
    int pixelsPerTile;
    int step;
    int samples;
};

// Writes the tiles of tile rows firstRow ... lastRow, all tilesPerSide columns of each. The
// tiles of one row share their grid rows, so they are written side by side: each grid row is
// read once for all of them.
void writeTileRows(CellGrid& grid, const std::string& prefix, const std::string& stem,
                   const TileLayout& layout, int tilesPerSide, int firstRow, int lastRow,
                   const TileDone& tileDone) {
    const int n = layout.samples;
    std::vector<EcefLongitude> longitudes;
    longitudes.reserve(static_cast<std::size_t>(tilesPerSide) * n);
    for (int y = 0; y < tilesPerSide; ++y) {
        for (int j = 0; j < n; ++j) {
            longitudes.emplace_back(grid.longitude(y * layout.pixelsPerTile + j * layout.step));
        }
    }
    std::vector<float> heights(longitudes.size());
    // Each read costs a block look-up per raster column however many rows it covers, so
    // consecutive sample rows are fetched 16 at a time: one scan line per tile of the row.
    grid.setRowsPerRead(layout.step == 1 ? 16 : 1);
    const std::string& faces = gridFaceText(n, n);

    for (int x = firstRow; x <= lastRow; ++x) {
        std::vector<ObjTileFile> tiles;
        tiles.reserve(tilesPerSide);
        for (int y = 0; y < tilesPerSide; ++y) {
            tiles.emplace_back(makeTileFileName(prefix, stem, layout.levelName,
                                                static_cast<unsigned>(x),
                                                static_cast<unsigned>(y)));
        }
        for (int k = 0; k < n; ++k) {
            const int v = x * layout.pixelsPerTile + k * layout.step;
            const EcefLatitude latitude(grid.latitude(v));
            for (int y = 0; y < tilesPerSide; ++y) {
                grid.readHeights(v, y * layout.pixelsPerTile, layout.step, n,
                                 heights.data() + y * n);
            }
            for (int y = 0; y < tilesPerSide; ++y) {
                for (int j = 0; j < n; ++j) {
                    const Eigen::Vector3d p =
                        ecefAt(latitude, longitudes[y * n + j], heights[y * n + j]);
                    tiles[y].addVertex(p.x(), p.y(), p.z());
                }
            }
        }
        for (ObjTileFile& tile : tiles) {
            tile.addText(faces);
            tile.commit();
            if (tileDone) {
                tileDone(tile.path());
            }
        }
    }
}

// Appends the vertices of the level-1 samples of a cell to a tile.
void addLevel1Vertices(CellGrid& grid, ObjTileFile& tile) {
    constexpr int step = CellGrid::kPixels / kSamplesPerSide;
    std::vector<EcefLongitude> longitudes;
    longitudes.reserve(kSamplesPerSide);
    for (int j = 0; j < kSamplesPerSide; ++j) {
        longitudes.emplace_back(grid.longitude(j * step));
    }
    std::vector<float> heights(kSamplesPerSide);
    grid.setRowsPerRead(1);
    for (int k = 0; k < kSamplesPerSide; ++k) {
        const int v = k * step;
        const EcefLatitude latitude(grid.latitude(v));
        grid.readHeights(v, 0, step, kSamplesPerSide, heights.data());
        for (int j = 0; j < kSamplesPerSide; ++j) {
            const Eigen::Vector3d p = ecefAt(latitude, longitudes[j], heights[j]);
            tile.addVertex(p.x(), p.y(), p.z());
        }
    }
}

} // namespace

std::string makeTileFileName(const std::string& outputPrefix, const std::string& stem,
                             unsigned level, unsigned x, unsigned y) {
    return outputPrefix + "quadtree_PRUEBA" + stem + "_L" + std::to_string(level) + "_X" +
           std::to_string(x) + "_Y" + std::to_string(y) + ".obj";
}

int writeTileLevel(int level, int halfSelector, const std::string& inputPath,
                   const std::string& outputPrefix, const TileDone& tileDone,
                   HeightReference heights) {
    std::string stem;
    if (!stemOf(inputPath, stem)) {
        return 1;
    }
    if (level < kFirstTileLevel || level > kLastTileLevel) {
        return 0;
    }
    if (!checkHalf(halfSelector, "writeTileLevel")) {
        return 1;
    }

    int status = 0;
    if (GDALDatasetUniquePtr dataset = openReported(inputPath)) {
        try {
            CellGrid grid = reportedGrid(dataset, inputPath, heights);
            const int tilesPerSide = 1 << (2 * (level - 1));
            const int pixelsPerTile = CellGrid::kPixels / tilesPerSide;
            const TileLayout layout{static_cast<unsigned>(level), pixelsPerTile,
                                    pixelsPerTile / kSamplesPerSide, kSamplesPerSide};
            int firstRow = 0;
            int lastRow = 0;
            if (tilesPerSide > 1) {
                firstRow = halfSelector == kNorthHalf ? 0 : tilesPerSide / 2;
                lastRow = firstRow + tilesPerSide / 2 - 1;
            }
            writeTileRows(grid, outputPrefix, stem, layout, tilesPerSide, firstRow, lastRow,
                          tileDone);
        } catch (const std::runtime_error& e) {
            // A refused cell or an unwritable tile: the deeper levels would fail alike.
            return failWith(e.what());
        }
    } else {
        status = 1;
    }
    std::printf("%s\n", kLevelDoneText);
    const int deeper =
        writeTileLevel(level + 1, halfSelector, inputPath, outputPrefix, tileDone, heights);
    return status != 0 ? status : deeper;
}

int writeHalfLevels2And3(int halfSelector, const std::string& inputPath,
                         const std::string& outputPrefix, const TileDone& tileDone,
                         HeightReference heights) {
    std::string stem;
    if (!stemOf(inputPath, stem) || !checkHalf(halfSelector, "writeHalfLevels2And3")) {
        return 1;
    }
    GDALDatasetUniquePtr dataset = openReported(inputPath);
    if (!dataset) {
        return 1;
    }
    try {
        CellGrid grid = reportedGrid(dataset, inputPath, heights);
        constexpr int tilesPerSide = 4;
        constexpr int pixelsPerTile = CellGrid::kPixels / tilesPerSide;
        const int firstRow = halfSelector == kNorthHalf ? 0 : tilesPerSide / 2;
        const int lastRow = firstRow + tilesPerSide / 2 - 1;
        writeTileRows(grid, outputPrefix, stem, TileLayout{2, pixelsPerTile, 4, kSamplesPerSide},
                      tilesPerSide, firstRow, lastRow, tileDone);
        std::printf("%s\n", kLevelDoneText);
        writeTileRows(grid, outputPrefix, stem, TileLayout{3, pixelsPerTile, 15, 60}, tilesPerSide,
                      firstRow, lastRow, tileDone);
    } catch (const std::runtime_error& e) {
        return failWith(e.what());
    }
    return 0;
}

int create1x1mix(const std::string& inputPathA, const std::string& inputPathB,
                 const std::string& outputPrefix, const TileDone& tileDone,
                 HeightReference heights) {
    std::printf("entra en create1x1mix\n");
    std::string stemA;
    std::string stemB;
    if (!stemOf(inputPathA, stemA) || !stemOf(inputPathB, stemB)) {
        return 1;
    }
    const std::string name = stemA + "___" + stemB;
    std::printf("string name:%s\n", name.c_str());

    GDALDatasetUniquePtr datasetA = openReported(inputPathA);
    if (!datasetA) {
        return 1;
    }
    try {
        CellGrid gridA = reportedGrid(datasetA, inputPathA, heights);
        GDALDatasetUniquePtr datasetB = openReported(inputPathB);
        if (!datasetB) {
            return 1;
        }
        CellGrid gridB = reportedGrid(datasetB, inputPathB, heights);

        ObjTileFile tile(makeTileFileName(outputPrefix, name, 1, 0, 0));
        addLevel1Vertices(gridA, tile);
        addLevel1Vertices(gridB, tile);
        tile.addText(gridFaceText(2 * kSamplesPerSide, kSamplesPerSide));
        tile.commit();
        if (tileDone) {
            tileDone(tile.path());
        }
    } catch (const std::runtime_error& e) {
        return failWith(e.what());
    }
    return 0;
}

} // namespace skyframe
