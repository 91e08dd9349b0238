#pragma once

#include <gdal_priv.h>

#include <string>
#include <vector>

namespace skyframe {

// Where the posts of one one-degree DTED cell are: each at its own position (the pixel centre
// of GDAL's georeferencing). Rows count from the north, columns from the west; a cell
// includes its edge posts, so neighbouring cells' edge posts coincide.
struct CellGeometry {
    std::string name; // from the cell's georeferencing: "n33_w116"
    std::string path;
    int rows = 0, columns = 0;
    double north = 0.0, west = 0.0;      // the north-west post, degrees
    double latStep = 0.0, lonStep = 0.0; // degrees between posts, positive

    double latitude(double row) const { return north - row * latStep; }       // degrees
    double longitude(double column) const { return west + column * lonStep; } // degrees
};

// The heights (metres) of a rectangle of a cell's posts, row by row: rows row0 ... row0 +
// rows - 1, columns column0 ... column0 + columns - 1, in the cell's numbering.
struct PostWindow {
    int row0 = 0, column0 = 0, rows = 0, columns = 0;
    std::vector<float> heights;

    float at(int row, int column) const {
        return heights[static_cast<std::size_t>(row - row0) * columns + (column - column0)];
    }
    // Makes this the window of those posts, its heights yet to be filled.
    void reshape(int firstRow, int rowCount, int firstColumn, int columnCount) {
        row0 = firstRow;
        column0 = firstColumn;
        rows = rowCount;
        columns = columnCount;
        heights.resize(static_cast<std::size_t>(rowCount) * columnCount);
    }
};

// A cell's heights, handed out a window at a time so that a tile needs no more of the cell in
// memory than the window it works on. One source serves one thread.
class PostSource {
public:
    virtual ~PostSource() = default;
    virtual const CellGeometry& geometry() const = 0;
    // Fills out with the window's posts. The window lies inside the cell. Throws
    // std::runtime_error naming the file when the posts cannot be read.
    virtual void read(int row0, int rows, int column0, int columns, PostWindow& out) const = 0;
};

// Every post of a cell in memory, row by row: small cells and tests.
struct CellPosts : CellGeometry, PostSource {
    std::vector<float> heights; // metres, row by row
    long long voidsFilled = 0;

    float at(int row, int column) const {
        return heights[static_cast<std::size_t>(row) * columns + column];
    }
    const CellGeometry& geometry() const override { return *this; }
    void read(int row0, int rows, int column0, int columns, PostWindow& out) const override;
};

// Opens the DTED cell at path. Throws std::runtime_error naming the file when GDAL cannot
// open it or it is not a north-up one-degree geographic cell.
GDALDatasetUniquePtr openCell(const std::string& path);

// Where the posts of the cell `dataset`, opened from path, are.
CellGeometry cellGeometry(GDALDataset& dataset, const std::string& path);

} // namespace skyframe
