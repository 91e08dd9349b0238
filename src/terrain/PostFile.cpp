#include "terrain/PostFile.h"

#include "terrain/DtedRaster.h"
#include "terrain/ParallelIndices.h"
#include "terrain/VoidFill.h"

#include <cpl_conv.h>
#include <cpl_error.h>
#include <cpl_string.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <memory>
#include <mutex>
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

// Reads the band a strip of kPostBlock columns at a time, hands each to edit(column0, width,
// posts) and writes it back, so that no more than a strip is in GDAL's cache.
template <typename Edit> void editStrips(GDALRasterBand& band, const std::string& path, Edit edit) {
    std::vector<float> posts;
    for (int c = 0; c < band.GetXSize(); c += kPostBlock) {
        const int width = std::min(kPostBlock, band.GetXSize() - c);
        strip(band, GF_Read, c, width, posts, path);
        edit(c, width, posts);
        strip(band, GF_Write, c, width, posts, path);
        if (band.FlushCache() != CE_None) {
            throw gdalFailure("cannot write", path);
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
    std::vector<GeoidPatch::Place> columns(static_cast<std::size_t>(width));
    for (int c = 0; c < width; ++c) {
        columns[static_cast<std::size_t>(c)] = geoid.column(cell.longitude(column0 + c));
    }
    for (int r = 0; r < cell.rows; ++r) {
        const GeoidPatch::Place row = geoid.row(cell.latitude(r));
        float* heights = &posts[static_cast<std::size_t>(r) * width];
        for (int c = 0; c < width; ++c) {
            heights[c] = static_cast<float>(heights[c] +
                                            geoid.at(row, columns[static_cast<std::size_t>(c)]));
        }
    }
}

// The strips of a cell, read by several threads at once, each through its own handle on the
// cell, and written one at a time to the post file. While no void has been seen, a strip
// takes the geoid on the way; once one has, strips are written as stored with their voids
// marked, since the filling works on the heights as stored, and those that took the geoid
// before are done again (redo()). A cell without voids (most) is read once.
class StripPass {
public:
    StripPass(const PostFile& result, const std::optional<GeoidPatch>& geoid, GDALRasterBand& out,
              std::string outPath, bool hasNoData, double noData)
        : cell_(result.cell), geoid_(geoid), out_(out), outPath_(std::move(outPath)),
          hasNoData_(hasNoData), noData_(noData),
          tookGeoid_((cell_.columns + kPostBlock - 1) / kPostBlock, 0) {}

    // Every strip, with `threads` threads; the number of void posts.
    long long run(int threads) {
        std::vector<int> strips(tookGeoid_.size());
        for (std::size_t k = 0; k < strips.size(); ++k) {
            strips[k] = static_cast<int>(k);
        }
        forEach(strips, threads);
        return voids_;
    }

    // The strips written with the geoid once a void turned up: again, as stored.
    void redo(int threads) {
        std::vector<int> strips;
        for (std::size_t k = 0; k < tookGeoid_.size(); ++k) {
            if (tookGeoid_[k] != 0) {
                strips.push_back(static_cast<int>(k));
            }
        }
        forEach(strips, threads);
    }

private:
    void forEach(const std::vector<int>& strips, int threads);
    void doStrip(GDALRasterBand& in, int strip, std::vector<float>& posts);

    const CellGeometry& cell_;
    const std::optional<GeoidPatch>& geoid_;
    GDALRasterBand& out_;
    const std::string outPath_;
    const bool hasNoData_;
    const double noData_;
    std::vector<char> tookGeoid_; // per strip; each written by the one thread doing the strip
    std::atomic<long long> voids_{0};
    std::atomic<bool> voidSeen_{false};
    std::mutex writing_;
};

// Each thread reads through a handle on the cell of its own.
void StripPass::forEach(const std::vector<int>& strips, int threads) {
    forEachIndex(strips.size(), threads, [&] {
        return [&, dted = openCell(cell_.path), posts = std::vector<float>()](
                   std::size_t k) mutable { doStrip(*dted->GetRasterBand(1), strips[k], posts); };
    });
}

void StripPass::doStrip(GDALRasterBand& in, int stripIndex, std::vector<float>& posts) {
    const int column0 = stripIndex * kPostBlock;
    const int width = std::min(kPostBlock, cell_.columns - column0);
    posts.resize(static_cast<std::size_t>(cell_.rows) * width);
    readWindow(in, 0, cell_.rows, column0, width, posts.data(), "cannot read", cell_.path);
    in.FlushCache(); // none of the strip's blocks is wanted again
    auto isVoid = [&](float h) { return isVoidPost(h, hasNoData_, noData_); };
    const long long voids = std::count_if(posts.begin(), posts.end(), isVoid);
    if (voids > 0) {
        voids_ += voids;
        voidSeen_ = true;
        std::replace_if(posts.begin(), posts.end(), isVoid, static_cast<float>(kVoidMark));
    } else if (geoid_ && !voidSeen_) {
        addGeoid(cell_, *geoid_, column0, width, posts);
        tookGeoid_[stripIndex] = 1;
    } else {
        tookGeoid_[stripIndex] = 0;
    }
    const std::lock_guard<std::mutex> lock(writing_);
    strip(out_, GF_Write, column0, width, posts, outPath_);
    if (out_.FlushCache() != CE_None) {
        throw gdalFailure("cannot write", outPath_);
    }
}

} // namespace

PostFile writePostFile(const std::string& cellPath, HeightReference heights,
                       const std::string& filePath, int threads) {
    PostFile result;
    int hasNoData = 0;
    double noData = 0.0;
    {
        GDALDatasetUniquePtr dted = openCell(cellPath);
        result.cell = cellGeometry(*dted, cellPath);
        noData = dted->GetRasterBand(1)->GetNoDataValue(&hasNoData);
    }
    const CellGeometry& cell = result.cell;
    std::optional<GeoidPatch> geoid;
    if (heights == HeightReference::Ellipsoid) {
        geoid.emplace(cell.latitude(cell.rows - 1), cell.north, cell.west,
                      cell.longitude(cell.columns - 1));
    }
    GDALDatasetUniquePtr file = createFile(filePath, cell);
    GDALRasterBand& out = *file->GetRasterBand(1);
    StripPass pass(result, geoid, out, filePath, hasNoData != 0, noData);
    result.voidsFilled = pass.run(std::max(1, threads));
    if (result.voidsFilled == static_cast<long long>(cell.rows) * cell.columns) {
        throw std::runtime_error("\"" + cellPath + "\" is void throughout: no post has a height");
    }
    if (result.voidsFilled > 0) {
        pass.redo(std::max(1, threads));
        // GDAL's fill keeps work files of its own (about 9 bytes a post) in CPL_TMPDIR, by
        // default the current folder, which may not be writable: beside the post file instead.
        const std::string folder = std::filesystem::path(filePath).parent_path().string();
        const CPLConfigOptionSetter workFolder("CPL_TMPDIR", folder.empty() ? "." : folder.c_str(),
                                               true);
        fillMarkedVoids(out, cellPath);
        if (geoid) {
            editStrips(out, filePath, [&](int column0, int width, std::vector<float>& posts) {
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
