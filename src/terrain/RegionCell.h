#pragma once

#include "terrain/GeoidPatch.h"

#include <string>
#include <vector>

namespace skyframe {

// Every post of one one-degree DTED cell in memory, at its own position (the pixel centre of
// GDAL's georeferencing), voids filled from their neighbours, heights above the ellipsoid or
// as stored. Rows count from the north, columns from the west; a cell includes its edge posts,
// so neighbouring cells' edge posts coincide.
struct CellPosts {
    std::string name; // from the cell's georeferencing: "n33_w116"
    std::string path;
    int rows = 0, columns = 0;
    double north = 0.0, west = 0.0;      // the north-west post, degrees
    double latStep = 0.0, lonStep = 0.0; // degrees between posts, positive
    std::vector<float> heights;          // metres, row by row
    long long voidsFilled = 0;

    float at(int row, int column) const {
        return heights[static_cast<std::size_t>(row) * columns + column];
    }
    double latitude(double row) const { return north - row * latStep; }       // degrees
    double longitude(double column) const { return west + column * lonStep; } // degrees
};

// Reads the cell at path. Throws std::runtime_error naming the file when GDAL cannot open or
// read it, it is not a north-up one-degree cell, it is void throughout, or PROJ cannot give
// the geoid.
CellPosts loadCellPosts(const std::string& path, HeightReference heights);

// The cell's name from its georeferencing, without reading its posts. Throws as
// loadCellPosts.
std::string cellNameOf(const std::string& path);

} // namespace skyframe
