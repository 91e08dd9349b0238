#include "terrain/RegionWriter.h"

#include "terrain/CellGrid.h"
#include "terrain/CellName.h"
#include "terrain/DtedRaster.h"
#include "terrain/OsgbBytes.h"
#include "terrain/ParallelIndices.h"
#include "terrain/PostFile.h"
#include "terrain/RegionQuadtree.h"
#include "terrain/RegionStore.h"
#include "terrain/RegionTile.h"

#include <osg/PagedLOD>

#include <algorithm>
#include <cctype>
#include <cfloat>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <thread>

namespace skyframe {

namespace fs = std::filesystem;

namespace {

// The cell's heights while its tiles are written: removed when they are, or on failure.
constexpr const char* kPostFileName = "posts.tif.part";

// Bumped whenever the tiles' content changes for the same options.
constexpr int kTileFormat = 3;

struct CellPlan {
    std::string name, folder, options;
    std::vector<TileFile> files;
    std::vector<FileEntry> entries; // as recorded, or empty where the file is to be written
    osg::BoundingSphered bound;
};

bool reusable(const fs::path& file, const FileEntry& recorded, fs::file_time_type cellTime) {
    std::error_code ec;
    const auto size = fs::file_size(file, ec);
    if (ec || size != recorded.size) {
        return false;
    }
    const auto time = fs::last_write_time(file, ec);
    return !ec && time >= cellTime;
}

CellPlan planCell(const std::string& outDir, const std::string& cellPath,
                  const RegionOptions& options) {
    std::string whyNot;
    GDALDatasetUniquePtr dataset = openDted(cellPath, &whyNot);
    if (!dataset) {
        throw std::runtime_error("cannot open \"" + cellPath + "\": " + whyNot);
    }
    CellGrid check(*dataset, cellPath);
    CellPlan plan;
    plan.name = cellName(cellCorner(*dataset, cellPath));
    plan.folder = (fs::path(outDir) / plan.name).string();
    const int rows = dataset->GetRasterYSize(), columns = dataset->GetRasterXSize();
    plan.options = regionOptionsText(options, rows, columns);
    plan.files = cellTileFiles(rows, columns);
    plan.entries.resize(plan.files.size());
    const std::optional<CellRecord> record = readCellRecord(plan.folder);
    if (!record || record->options != plan.options || record->cell != plan.name) {
        return plan;
    }
    plan.bound = record->bound;
    const fs::file_time_type cellTime = fs::last_write_time(cellPath);
    for (std::size_t i = 0; i < plan.files.size(); ++i) {
        const std::string path = plan.name + "/" + plan.files[i].name;
        for (const FileEntry& entry : record->files) {
            if (entry.path == path && reusable(fs::path(outDir) / path, entry, cellTime)) {
                plan.entries[i] = entry;
            }
        }
    }
    return plan;
}

// GDAL's block cache per thread: the widest window a tile reads, a band of rows across a
// 3601-post cell, touches one row of blocks of the post file (29 blocks of 64 kB); twice that
// keeps most blocks of a tile's neighbours too: half of it made the benchmark a tenth slower.
constexpr GIntBig kBlockCachePerThread = 4 << 20;

// Builds, serialises and writes one file of a cell; its entry in the manifest.
FileEntry writeTileFile(const PostSource& posts, const CellFrame& frame, const TileFile& file,
                        const std::string& folder, osg::BoundingSphered* bound) {
    const osg::ref_ptr<osg::Node> node = buildTileFile(posts, frame, file, bound);
    const std::string path = (fs::path(folder) / file.name).string();
    const std::string bytes = osgbBytes(*node, "\"" + path + "\"");
    writeFileAtomically(path, bytes);
    return FileEntry{bytes.size(), crc32Of(bytes), posts.geometry().name + "/" + file.name};
}

// Removes a file when it goes out of scope, whether the work succeeded or not.
class TemporaryFile {
public:
    explicit TemporaryFile(std::string path) : path_(std::move(path)) {}
    ~TemporaryFile() {
        std::error_code ec;
        fs::remove(path_, ec);
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

int threadCount(const RegionOptions& options) {
    if (options.threads > 0) {
        return options.threads;
    }
    return std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
}

// A file's place when the quadtree is walked depth first: a tile's descendants right after
// it, while the blocks of the post file under it are still in GDAL's cache.
std::string depthFirstKey(const TileFile& file) {
    const std::string& id = file.tiles.front().id;
    return id.empty() ? std::string() : "q" + id.substr(0, id.size() - 1);
}

// Writes the plan's missing files with `threads` threads, each taking the next file depth first
// and reading the posts from postFile through its own reader.
int writeMissing(const PostFile& postFile, const std::string& postPath, CellPlan& plan, int threads,
                 const CellProgress& progress) {
    std::vector<std::size_t> todo;
    for (std::size_t i = 0; i < plan.files.size(); ++i) {
        if (plan.entries[i].path.empty()) {
            todo.push_back(i);
        }
    }
    std::stable_sort(todo.begin(), todo.end(), [&](std::size_t a, std::size_t b) {
        return depthFirstKey(plan.files[a]) < depthFirstKey(plan.files[b]);
    });
    const CellFrame frame(postFile.cell);
    std::mutex mutex;
    std::size_t done = 0;
    forEachIndex(todo.size(), threads, [&] {
        return [&,
                posts = std::make_unique<PostFileReader>(postPath, postFile.cell)](std::size_t k) {
            const std::size_t i = todo[k];
            osg::BoundingSphered bound;
            const FileEntry entry =
                writeTileFile(*posts, frame, plan.files[i], plan.folder, i == 0 ? &bound : nullptr);
            const std::lock_guard<std::mutex> lock(mutex);
            plan.entries[i] = entry;
            if (i == 0) {
                plan.bound = bound;
            }
            ++done;
            if (progress) {
                progress(static_cast<double>(done) / todo.size());
            }
        };
    });
    return static_cast<int>(todo.size());
}

// Files an earlier layout of the cell left that the new one does not have.
void removeLeftovers(const std::string& outDir, const std::optional<CellRecord>& old,
                     const CellPlan& plan) {
    if (!old) {
        return;
    }
    for (const FileEntry& entry : old->files) {
        const bool kept = std::any_of(plan.entries.begin(), plan.entries.end(),
                                      [&](const FileEntry& e) { return e.path == entry.path; });
        if (!kept) {
            std::error_code ec;
            fs::remove(fs::path(outDir) / entry.path, ec);
        }
    }
}

// "2", "2.5": as few digits as the value needs.
std::string shortNumber(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

bool isDtedName(const fs::path& path) {
    std::string extension = path.extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return extension == ".dt0" || extension == ".dt1" || extension == ".dt2";
}

std::vector<CellRecord> recordedCells(const std::string& outDir) {
    std::vector<CellRecord> cells;
    for (const auto& entry : fs::directory_iterator(outDir)) {
        if (entry.is_directory()) {
            if (std::optional<CellRecord> record = readCellRecord(entry.path().string())) {
                cells.push_back(std::move(*record));
            }
        }
    }
    std::sort(cells.begin(), cells.end(),
              [](const CellRecord& a, const CellRecord& b) { return a.cell < b.cell; });
    return cells;
}

} // namespace

std::string regionOptionsText(const RegionOptions& options, int rows, int columns) {
    return std::string("heights=") +
           (options.heights == HeightReference::Ellipsoid ? "ellipsoid" : "msl") +
           " posts=" + std::to_string(columns) + "x" + std::to_string(rows) +
           " intervals=" + std::to_string(kTileIntervals) +
           " tolerance=" + shortNumber(kPixelTolerance) + " format=" + std::to_string(kTileFormat);
}

RegionCellResult tileRegionCell(const std::string& outDir, const std::string& cellPath,
                                const RegionOptions& options, const CellProgress& progress) {
    CellPlan plan = planCell(outDir, cellPath, options);
    RegionCellResult result;
    result.cell = plan.name;
    const bool complete = std::none_of(plan.entries.begin(), plan.entries.end(),
                                       [](const FileEntry& e) { return e.path.empty(); });
    if (complete) {
        result.reused = static_cast<int>(plan.files.size());
        return result;
    }
    const std::optional<CellRecord> old = readCellRecord(plan.folder);
    const fs::path recordPath = fs::path(plan.folder) / kCellRecordName;
    // Without its record a half-rewritten folder is never taken for a finished one.
    fs::create_directories(plan.folder);
    fs::remove(recordPath);
    const int threads = threadCount(options);
    const GIntBig cacheBytes = threads * kBlockCachePerThread;
    if (GDALGetCacheMax64() > cacheBytes) {
        GDALSetCacheMax64(cacheBytes);
    }
    const TemporaryFile postPath((fs::path(plan.folder) / kPostFileName).string());
    const PostFile postFile = writePostFile(cellPath, options.heights, postPath.path(), threads);
    result.voidsFilled = postFile.voidsFilled;
    prepareOsgbWriter();
    result.written = writeMissing(postFile, postPath.path(), plan, threads, progress);
    result.reused = static_cast<int>(plan.files.size()) - result.written;
    removeLeftovers(outDir, old, plan);
    const CellRecord record{plan.name, plan.options, cellPath, plan.bound, plan.entries};
    writeFileAtomically(recordPath.string(), cellRecordText(record));
    return result;
}

int assembleRegionRoot(const std::string& outDir) {
    const std::vector<CellRecord> cells = recordedCells(outDir);
    if (cells.empty()) {
        throw std::runtime_error("\"" + outDir + "\" holds no tiled cell: nothing to assemble");
    }
    osg::ref_ptr<osg::Group> root = new osg::Group;
    for (const CellRecord& cell : cells) {
        for (const FileEntry& file : cell.files) {
            std::error_code ec;
            const auto size = fs::file_size(fs::path(outDir) / file.path, ec);
            if (ec || size != file.size) {
                throw std::runtime_error("\"" + (fs::path(outDir) / file.path).string() + "\" " +
                                         (ec ? "is missing" : "has another size than recorded") +
                                         ": tile cell " + cell.cell + " again");
            }
        }
        osg::ref_ptr<osg::PagedLOD> lod = new osg::PagedLOD;
        lod->setRangeMode(osg::LOD::PIXEL_SIZE_ON_SCREEN);
        lod->setCenterMode(osg::LOD::USER_DEFINED_CENTER);
        lod->setCenter(osg::Vec3(cell.bound.center()));
        lod->setRadius(static_cast<float>(cell.bound.radius()));
        lod->setFileName(0, cell.cell + "/" + topFileName());
        lod->setRange(0, 0.0f, FLT_MAX);
        root->addChild(lod.get());
    }
    const std::string rootPath = (fs::path(outDir) / kRootName).string();
    const std::string bytes = osgbBytes(*root, "\"" + rootPath + "\"");
    writeFileAtomically(rootPath, bytes);
    const FileEntry rootEntry{bytes.size(), crc32Of(bytes), kRootName};
    writeFileAtomically((fs::path(outDir) / kManifestName).string(),
                        manifestText(cells, rootEntry));
    return static_cast<int>(cells.size());
}

std::vector<std::string> findDtedCells(const std::vector<std::string>& inputs) {
    std::vector<std::string> cells;
    for (const std::string& input : inputs) {
        std::error_code ec;
        if (!fs::exists(input, ec)) {
            throw std::runtime_error("\"" + input + "\" does not exist");
        }
        if (!fs::is_directory(input, ec)) {
            cells.push_back(input);
            continue;
        }
        std::vector<std::string> found;
        for (const auto& entry : fs::recursive_directory_iterator(input)) {
            if (entry.is_regular_file() && isDtedName(entry.path())) {
                found.push_back(entry.path().string());
            }
        }
        if (found.empty()) {
            throw std::runtime_error("\"" + input + "\" holds no .dt0, .dt1 or .dt2 file");
        }
        std::sort(found.begin(), found.end());
        cells.insert(cells.end(), found.begin(), found.end());
    }
    return cells;
}

} // namespace skyframe
