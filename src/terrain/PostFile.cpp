#include "terrain/PostFile.h"

#include "terrain/DtedRaster.h"
#include "terrain/VoidFill.h"

#include <cpl_conv.h>
#include <cpl_error.h>
#include <cpl_string.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <utility>
#include <vector>

namespace skyframe {

namespace {

// Columns column0 ... column0 + width - 1 of every row, row by row.
void strip(GDALRasterBand& band, GDALRWFlag direction, int column0, int width,
           std::vector<float>& posts, const std::string& path) {
    const int rows = band.GetYSize();
    posts.resize(static_cast<std::size_t>(rows) * width);
    if (band.RasterIO(direction, column0, 0, width, rows, posts.data(), width, rows, GDT_Float32, 0,
                      0, nullptr) != CE_None) {
        throw gdalFailure(direction == GF_Read ? "cannot read" : "cannot write", path);
    }
}

// Reads `in` a strip of kPostBlock columns at a time, hands each to edit(column0, width,
// posts) and writes it to `out` when given. Every strip's blocks are dropped from GDAL's cache
// as soon as it is done: none is wanted again.
template <typename Edit>
void eachStrip(GDALRasterBand& in, const std::string& inPath, GDALRasterBand* out,
               const std::string& outPath, Edit edit) {
    std::vector<float> posts;
    for (int c = 0; c < in.GetXSize(); c += kPostBlock) {
        const int width = std::min(kPostBlock, in.GetXSize() - c);
        strip(in, GF_Read, c, width, posts, inPath);
        edit(c, width, posts);
        if (out != nullptr) {
            strip(*out, GF_Write, c, width, posts, outPath);
            if (out->FlushCache() != CE_None) {
                throw gdalFailure("cannot write", outPath);
            }
        }
        if (out != &in) {
            in.FlushCache();
        }
    }
}

GDALDatasetUniquePtr createFile(const std::string& filePath, const CellGeometry& cell) {
    GDALDriver* gtiff = GetGDALDriverManager()->GetDriverByName("GTiff");
    CPLStringList options;
    options.SetNameValue("TILED", "YES");
    options.SetNameValue("BLOCKXSIZE", std::to_string(kPostBlock).c_str());
    options.SetNameValue("BLOCKYSIZE", std::to_string(kPostBlock).c_str());
    GDALDatasetUniquePtr file(gtiff ? gtiff->Create(filePath.c_str(), cell.columns, cell.rows, 1,
                                                    GDT_Float32, options.List())
                                    : nullptr);
    if (!file) {
        throw gdalFailure("cannot create", filePath);
    }
    file->GetRasterBand(1)->SetNoDataValue(kVoidMark);
    return file;
}

// The same float per post as adding the geoid to a whole cell in memory.
void addGeoid(const CellGeometry& cell, const GeoidPatch& geoid, int column0, int width,
              std::vector<float>& posts) {
    for (int r = 0; r < cell.rows; ++r) {
        const double lat = cell.latitude(r);
        float* row = &posts[static_cast<std::size_t>(r) * width];
        for (int c = 0; c < width; ++c) {
            row[c] = static_cast<float>(row[c] + geoid.at(lat, cell.longitude(column0 + c)));
        }
    }
}

} // namespace

PostFile writePostFile(const std::string& cellPath, HeightReference heights,
                       const std::string& filePath) {
    GDALDatasetUniquePtr dted = openCell(cellPath);
    GDALRasterBand& in = *dted->GetRasterBand(1);
    PostFile result;
    result.cell = cellGeometry(*dted, cellPath);
    const CellGeometry& cell = result.cell;
    int hasNoData = 0;
    const double noData = in.GetNoDataValue(&hasNoData);
    auto isVoid = [&](float h) { return isVoidPost(h, hasNoData != 0, noData); };
    // Voids are filled on the heights as stored; a cell without any (most) takes the geoid on
    // the way, a cell with voids in a pass of its own after the filling.
    eachStrip(in, cellPath, nullptr, filePath, [&](int, int, std::vector<float>& posts) {
        result.voidsFilled += std::count_if(posts.begin(), posts.end(), isVoid);
    });
    if (result.voidsFilled == static_cast<long long>(cell.rows) * cell.columns) {
        throw std::runtime_error("\"" + cellPath + "\" is void throughout: no post has a height");
    }
    std::optional<GeoidPatch> geoid;
    if (heights == HeightReference::Ellipsoid) {
        geoid.emplace(cell.latitude(cell.rows - 1), cell.north, cell.west,
                      cell.longitude(cell.columns - 1));
    }
    GDALDatasetUniquePtr file = createFile(filePath, cell);
    GDALRasterBand& out = *file->GetRasterBand(1);
    const bool voids = result.voidsFilled > 0;
    eachStrip(in, cellPath, &out, filePath, [&](int column0, int width, std::vector<float>& posts) {
        if (voids) {
            std::replace_if(posts.begin(), posts.end(), isVoid, static_cast<float>(kVoidMark));
        } else if (geoid) {
            addGeoid(cell, *geoid, column0, width, posts);
        }
    });
    dted.reset();
    if (voids) {
        // GDAL's fill keeps work files of its own (about 9 bytes a post) in CPL_TMPDIR, by
        // default the current folder, which may not be writable: beside the post file instead.
        const std::string folder = std::filesystem::path(filePath).parent_path().string();
        const CPLConfigOptionSetter workFolder("CPL_TMPDIR", folder.empty() ? "." : folder.c_str(),
                                               true);
        fillMarkedVoids(out, cellPath);
        if (geoid) {
            eachStrip(out, filePath, &out, filePath,
                      [&](int column0, int width, std::vector<float>& posts) {
                          addGeoid(cell, *geoid, column0, width, posts);
                      });
        }
    }
    CPLErrorReset();
    file.reset();
    if (CPLGetLastErrorType() >= CE_Failure) {
        throw gdalFailure("cannot write", filePath);
    }
    return result;
}

PostFileReader::PostFileReader(const std::string& filePath, CellGeometry cell)
    : cell_(std::move(cell)), path_(filePath) {
    const char* const drivers[] = {"GTiff", nullptr};
    dataset_.reset(GDALDataset::Open(filePath.c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY, drivers));
    if (!dataset_) {
        throw gdalFailure("cannot open", filePath);
    }
}

void PostFileReader::read(int row0, int rows, int column0, int columns, PostWindow& out) const {
    out.reshape(row0, rows, column0, columns);
    if (dataset_->GetRasterBand(1)->RasterIO(GF_Read, column0, row0, columns, rows,
                                             out.heights.data(), columns, rows, GDT_Float32, 0, 0,
                                             nullptr) != CE_None) {
        throw gdalFailure("cannot read", path_);
    }
}

} // namespace skyframe
