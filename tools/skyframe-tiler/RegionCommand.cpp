#include "RegionCommand.h"

#include "CliSupport.h"

#include "terrain/CellGrid.h"
#include "terrain/DtedRaster.h"
#include "terrain/RegionStore.h"
#include "terrain/RegionWriter.h"

#include <filesystem>
#include <iostream>
#include <map>
#include <string>
#include <vector>

namespace skyframe {

namespace {

namespace fs = std::filesystem;

struct RegionArguments {
    std::string outDir;
    std::vector<std::string> inputs;
    RegionOptions options;
    bool noRoot = false, rootOnly = false, quiet = false;
};

int jobsValue(const std::string& text) {
    std::size_t end = 0;
    int jobs = 0;
    try {
        jobs = std::stoi(text, &end);
    } catch (const std::logic_error&) {
        end = 0;
    }
    if (end != text.size() || jobs < 1 || jobs > 1024) {
        throw UsageError("-j needs a number of threads 1 ... 1024, not \"" + text + "\"");
    }
    return jobs;
}

RegionArguments parseRegion(int argc, char** argv, int first) {
    RegionArguments a;
    std::vector<std::string> positional;
    for (int i = first; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool takesValue = arg == "--heights" || arg == "-j" || arg == "--jobs";
        if (takesValue && i + 1 >= argc) {
            throw UsageError(arg + " needs a value");
        }
        if (arg == "--heights") {
            const std::string value = argv[++i];
            if (value != "ellipsoid" && value != "msl") {
                throw UsageError("--heights must be ellipsoid or msl, not \"" + value + "\"");
            }
            a.options.heights =
                value == "msl" ? HeightReference::MeanSeaLevel : HeightReference::Ellipsoid;
        } else if (arg == "-j" || arg == "--jobs") {
            a.options.threads = jobsValue(argv[++i]);
        } else if (arg == "--no-root" || arg == "--root-only") {
            (arg == "--no-root" ? a.noRoot : a.rootOnly) = true;
        } else if (arg == "-q" || arg == "-v") {
            a.quiet = a.quiet || arg == "-q";
        } else if (arg.size() > 1 && arg[0] == '-') {
            throw UsageError("unknown option " + arg);
        } else {
            positional.push_back(arg);
        }
    }
    if (positional.empty()) {
        throw UsageError("region needs an output folder");
    }
    a.outDir = positional.front();
    a.inputs.assign(positional.begin() + 1, positional.end());
    if (a.rootOnly && (a.noRoot || !a.inputs.empty())) {
        throw UsageError("--root-only takes the output folder alone");
    }
    if (!a.rootOnly && a.inputs.empty()) {
        throw UsageError("region needs at least one DTED cell or folder of cells");
    }
    return a;
}

struct RegionInput {
    std::string path;
    long long posts = 0;
};

// Every cell opened and its georeferencing checked before any work (its posts are read only
// when it is tiled: a cell void throughout fails then, named, and the others go on); of two
// inputs for one cell the one with more posts.
std::map<std::string, RegionInput> checkInputs(const std::vector<std::string>& inputs) {
    std::map<std::string, RegionInput> cells;
    for (const std::string& path : findDtedCells(inputs)) {
        std::string whyNot;
        GDALDatasetUniquePtr dataset = openDted(path, &whyNot);
        if (!dataset) {
            throw std::runtime_error("cannot open \"" + path + "\": " + whyNot);
        }
        CellGrid check(*dataset, path);
        const RegionInput input{path, static_cast<long long>(dataset->GetRasterXSize()) *
                                          dataset->GetRasterYSize()};
        const std::string name = cellName(cellCorner(*dataset, path));
        auto [it, fresh] = cells.emplace(name, input);
        if (!fresh) {
            const bool finer = input.posts > it->second.posts;
            std::cerr << "skyframe-tiler: cell " << name << " given twice (\"" << it->second.path
                      << "\", \"" << path << "\"): using \"" << (finer ? path : it->second.path)
                      << "\", the finer\n";
            if (finer) {
                it->second = input;
            }
        }
    }
    return cells;
}

// Region tiles take about 32 bytes a post (vertices and indices over all levels).
unsigned long long regionBytes(const std::map<std::string, RegionInput>& cells) {
    unsigned long long bytes = 1000000;
    for (const auto& cell : cells) {
        bytes += 32ull * static_cast<unsigned long long>(cell.second.posts);
    }
    return bytes;
}

} // namespace

int runRegion(int argc, char** argv, int first) {
    const RegionArguments a = parseRegion(argc, argv, first);
    Summary summary;
    const std::map<std::string, RegionInput> cells = checkInputs(a.inputs);
    if (a.rootOnly && !fs::is_directory(a.outDir)) {
        throw std::runtime_error("\"" + a.outDir + "\" is not a folder of tiled cells");
    }
    checkWritable(a.outDir, regionBytes(cells));
    OutputFolder folder(a.outDir);
    Progress progress(1, a.quiet);
    int done = 0;
    for (const auto& [name, input] : cells) {
        try {
            const RegionCellResult result =
                tileRegionCell(a.outDir, input.path, a.options, [&](double fraction) {
                    progress.set((done + fraction) / cells.size());
                });
            summary.written += result.written;
            summary.reused += result.reused;
            summary.voidsFilled += result.voidsFilled;
            ++summary.cells;
        } catch (const std::exception& e) {
            std::cerr << "\nskyframe-tiler: cell " << name << " (\"" << input.path
                      << "\") failed: " << e.what() << '\n';
            ++summary.failed;
        }
        progress.set(static_cast<double>(++done) / cells.size());
    }
    progress.set(1.0);
    if (!a.noRoot) {
        const int rootCells = assembleRegionRoot(a.outDir);
        if (a.rootOnly) {
            summary.cells = rootCells;
        }
        std::cerr << "skyframe-tiler: root \"" << (fs::path(a.outDir) / kRootName).string()
                  << "\" covers " << rootCells << " cells\n";
    }
    folder.keep();
    summary.print();
    return summary.failed > 0 ? 1 : 0;
}

} // namespace skyframe
