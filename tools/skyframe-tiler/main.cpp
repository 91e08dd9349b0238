// skyframe-tiler: DTED cells to quadtree OBJ tiles in Earth-centred metres, and paged
// level-of-detail trees over them for the viewer.

#include "CliSupport.h"
#include "RegionCommand.h"

#include "terrain/CellGrid.h"
#include "terrain/DtedRaster.h"
#include "terrain/DtedReport.h"
#include "terrain/GeoidPatch.h"
#include "terrain/PagedTree.h"
#include "terrain/SyntheticCell.h"
#include "terrain/TileReaderMessages.h"
#include "terrain/TileStem.h"
#include "terrain/TileWriter.h"
#include "terrain/TreeFiles.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using namespace skyframe;
namespace fs = std::filesystem;

constexpr const char* kUsage =
    "usage: skyframe-tiler info CELL\n"
    "       skyframe-tiler tiles CELL OUTDIR [--half north|south|both] [--level 1|2|3]\n"
    "                            [--heights ellipsoid|msl]\n"
    "       skyframe-tiler mix CELL_A CELL_B OUTDIR [--heights ellipsoid|msl]\n"
    "       skyframe-tiler tree CELL_A CELL_B OUTDIR [--out FILE.osgb|FILE.osgt]\n"
    "                           [--heights ellipsoid|msl]\n"
    "       skyframe-tiler region OUTDIR INPUT... [--heights ellipsoid|msl] [-j N] [--no-root]\n"
    "       skyframe-tiler region OUTDIR --root-only\n"
    "       skyframe-tiler synth SOUTH WEST FILE [--posts 121|1201|3601]\n"
    "options of every command: -q (no progress), -v (the writers' reports on standard "
    "output)\n";

constexpr const char* kHelp =
    "Turns one-degree DTED cells into Wavefront OBJ tiles in Earth-centred (WGS84) metres,\n"
    "on three quadtree levels of 1, 4 x 4 and 16 x 16 tiles of 225 x 225 samples, and joins\n"
    "them into paged level-of-detail trees that the viewer loads as its terrain.\n"
    "\n"
    "  info CELL        print the cell's dataset and band reports\n"
    "  tiles CELL OUTDIR\n"
    "                   write the cell's tiles into OUTDIR: the northern half (tile rows of\n"
    "                   the north), the southern half, or both (default; the level-1 tile is\n"
    "                   then written by each half), from --level (default 1) down to level 3\n"
    "  mix CELL_A CELL_B OUTDIR\n"
    "                   write one level-1 tile over both cells\n"
    "  tree CELL_A CELL_B OUTDIR\n"
    "                   paged tree over the northern half of A and the southern half of B\n"
    "                   (B the cell north of A; the same cell twice gives that whole cell):\n"
    "                   writes the missing tiles, names them for the tree and writes the tree\n"
    "                   (default OUTDIR/quadtree_<stem A>___<stem B>.osgb, binary; the format\n"
    "                   follows --out's extension, .osgt for text). The viewer loads it as\n"
    "                   its terrain file and finds the paged tiles relative to it.\n"
    "  region OUTDIR INPUT...\n"
    "                   tile DTED cells of any level (files, or folders searched for .dt0,\n"
    "                   .dt1, .dt2) into OUTDIR/<cell>/ as OpenSceneGraph binary tiles paged by\n"
    "                   screen-space error, then write OUTDIR/terrain.osgb over every tiled\n"
    "                   cell of OUTDIR and, last, OUTDIR/terrain.manifest (size, CRC-32 and\n"
    "                   path of every file). -j N threads (default: every core); --no-root\n"
    "                   leaves root and manifest alone, so that cells can be tiled by separate\n"
    "                   tasks; region OUTDIR --root-only then writes them from the tiled cells.\n"
    "                   The viewer loads OUTDIR/terrain.osgb as its terrain file.\n"
    "  synth SOUTH WEST FILE\n"
    "                   write a synthetic DTED cell over SOUTH ... SOUTH+1 degrees of\n"
    "                   latitude and WEST ... WEST+1 of longitude (default 3601 posts, DTED\n"
    "                   level 2), for demonstrations and benchmarks: a desert shore with\n"
    "                   eroded ranges, modelled on the sample mission's area (33 -116); its\n"
    "                   heights are stored above mean sea level, as DTED's are, so that the\n"
    "                   tiles (above the ellipsoid) have the modelled relief\n"
    "\n"
    "Heights: DTED stores heights above mean sea level (the EGM96 geoid); the viewer's scene\n"
    "is in heights above the WGS84 ellipsoid. The tiles carry ellipsoid heights (the geoid\n"
    "height, from PROJ's egm96_15.gtx, added to every post) unless --heights msl keeps the\n"
    "heights as stored. Void posts are filled from their neighbours. Vertices lie at the\n"
    "posts' own positions.\n"
    "\n"
    "A cell's tile stem is the six characters in front of the last four of its path\n"
    "(\"n33w16\" for \"cells/n33w16.dt2\"); a cell whose path gives no such name (the DTED\n"
    "layout \"dted/w116/n33.dt1\", short names) is named from its corner (\"n33_w116\").\n"
    "Standard output carries the report of info (and the writers' reports with -v);\n"
    "progress (-q silences it), a summary and errors go to standard error. Every cell,\n"
    "option and output folder is checked before any work. Tiles are written under a\n"
    "temporary name and renamed; tree reuses tiles no older than their cell and written\n"
    "with the same --heights. Exit status: 0 success, 1 failure, 2 usage.\n";

// Positional arguments, --name value options and the -q / -v flags of one subcommand.
struct Arguments {
    std::vector<std::string> positional;
    std::vector<std::pair<std::string, std::string>> options;
    bool quiet = false;
    bool verbose = false;

    std::string option(const std::string& name, const std::string& fallback) const {
        for (const auto& [key, value] : options) {
            if (key == name) {
                return value;
            }
        }
        return fallback;
    }
};

Arguments parse(int argc, char** argv, int first, std::size_t positionals,
                const std::vector<std::string>& allowed) {
    Arguments args;
    for (int i = first; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "-q" || arg == "-v") {
            (arg == "-q" ? args.quiet : args.verbose) = true;
        } else if (arg.size() > 2 && arg.compare(0, 2, "--") == 0) {
            if (std::find(allowed.begin(), allowed.end(), arg) == allowed.end()) {
                throw UsageError("unknown option " + arg);
            }
            if (i + 1 >= argc) {
                throw UsageError(arg + " needs a value");
            }
            args.options.emplace_back(arg, argv[++i]);
        } else {
            args.positional.push_back(arg);
        }
    }
    if (args.positional.size() != positionals) {
        throw UsageError("expected " + std::to_string(positionals) + " arguments, got " +
                         std::to_string(args.positional.size()));
    }
    return args;
}

HeightReference heightsOption(const Arguments& args) {
    const std::string heights = args.option("--heights", "ellipsoid");
    if (heights == "ellipsoid") {
        return HeightReference::Ellipsoid;
    }
    if (heights == "msl") {
        return HeightReference::MeanSeaLevel;
    }
    throw UsageError("--heights must be ellipsoid or msl, not \"" + heights + "\"");
}

// An OBJ tile of 225 x 225 samples takes about 4 MB.
constexpr unsigned long long kTileBytes = 4200000;

int tilesPerHalf(int fromLevel) {
    const int perLevel[] = {0, 1, 8, 128};
    int total = 0;
    for (int level = fromLevel; level <= kLastTileLevel; ++level) {
        total += perLevel[level];
    }
    return total;
}

int runInfo(const Arguments& args) {
    const std::string& path = args.positional[0];
    std::string whyNot;
    GDALDatasetUniquePtr dataset = openDted(path, &whyNot);
    if (!dataset) {
        throw std::runtime_error("cannot open \"" + path + "\": " + whyNot);
    }
    printDatasetReport(*dataset);
    if (dataset->GetRasterCount() > 0) {
        printBandReport(*dataset->GetRasterBand(1));
    }
    std::fflush(stdout);
    try {
        CellGrid grid(*dataset, path);
    } catch (const std::runtime_error& e) {
        std::cerr << "note: this raster cannot be tiled: " << e.what() << '\n';
    }
    return 0;
}

int runTiles(const Arguments& args) {
    const std::string half = args.option("--half", "both");
    const std::string levelText = args.option("--level", "1");
    if (half != "north" && half != "south" && half != "both") {
        throw UsageError("--half must be north, south or both, not \"" + half + "\"");
    }
    if (levelText != "1" && levelText != "2" && levelText != "3") {
        throw UsageError("--level must be 1, 2 or 3, not \"" + levelText + "\"");
    }
    const int level = std::stoi(levelText);
    const HeightReference heights = heightsOption(args);
    std::vector<int> halves;
    if (half != "south") {
        halves.push_back(kNorthHalf);
    }
    if (half != "north") {
        halves.push_back(kSouthHalf);
    }
    const int total = tilesPerHalf(level) * static_cast<int>(halves.size());
    Summary summary;
    const CheckedCell cell = checkCell(args.positional[0]);
    const std::string stem = tileStem(cell.path);
    checkWritable(args.positional[1], total * kTileBytes);
    OutputFolder folder(args.positional[1]);
    Progress progress(total, args.quiet);
    for (int selector : halves) {
        std::vector<TilePosition> tiles = halfTilePositions(selector);
        tiles.erase(std::remove_if(tiles.begin(), tiles.end(),
                                   [level](const TilePosition& t) {
                                       return static_cast<int>(t.level) < level;
                                   }),
                    tiles.end());
        if (tilesReusable(folder.prefix(), stem, cell.path, tiles, heights)) {
            summary.reused += static_cast<int>(tiles.size());
            progress.skip(static_cast<int>(tiles.size()));
            continue;
        }
        QuietStdout quiet(!args.verbose);
        if (const int status = writeTileLevel(level, selector, cell.path, folder.prefix(),
                                              progress.tileCallback(), heights)) {
            return status;
        }
    }
    writeTileOptions(folder.prefix(), stem, heights);
    folder.keep();
    summary.cells = 1;
    summary.written = progress.tilesDone();
    summary.voidsFilled = cell.voids;
    summary.print();
    return 0;
}

int runMix(const Arguments& args) {
    const HeightReference heights = heightsOption(args);
    Summary summary;
    const CheckedCell a = checkCell(args.positional[0]);
    const CheckedCell b = checkCell(args.positional[1]);
    tileStem(a.path);
    tileStem(b.path);
    checkWritable(args.positional[2], kTileBytes * 2);
    OutputFolder folder(args.positional[2]);
    Progress progress(1, args.quiet);
    int status = 0;
    {
        QuietStdout quiet(!args.verbose);
        status = create1x1mix(a.path, b.path, folder.prefix(), progress.tileCallback(), heights);
    }
    if (status == 0) {
        folder.keep();
        summary.cells = a.path == b.path ? 1 : 2;
        summary.written = progress.tilesDone();
        summary.voidsFilled = a.voids + (a.path == b.path ? 0 : b.voids);
        summary.print();
    }
    return status;
}

// The file formats OpenSceneGraph writes a scene graph in.
bool isSceneFile(const std::string& path) {
    const std::string extension = fs::path(path).extension().string();
    for (const char* known : {".osgb", ".osgt", ".osgx", ".osg", ".ive"}) {
        if (extension == known) {
            return true;
        }
    }
    return false;
}

// The tree's cells must be one cell twice or B directly north of A.
void checkTreeCells(const CheckedCell& a, const CheckedCell& b) {
    const bool same = a.corner.south == b.corner.south && a.corner.west == b.corner.west;
    const bool north = b.corner.south == a.corner.south + 1 && b.corner.west == a.corner.west;
    if (!same && !north) {
        throw std::runtime_error("\"" + b.path + "\" (" + cellName(b.corner) + ") is neither \"" +
                                 a.path + "\" (" + cellName(a.corner) +
                                 ") itself nor the cell directly north of it: a tree covers "
                                 "the northern half of CELL_A and the southern half of CELL_B");
    }
}

int runTree(const Arguments& args) {
    const HeightReference heights = heightsOption(args);
    const std::string outOption = args.option("--out", "");
    if (!outOption.empty() && !isSceneFile(outOption)) {
        throw UsageError("--out must name an OpenSceneGraph file (.osgb, .osgt, .osgx, .osg, "
                         ".ive), not \"" +
                         outOption + "\"");
    }
    Summary summary;
    const CheckedCell a = checkCell(args.positional[0]);
    const CheckedCell b = checkCell(args.positional[1]);
    checkTreeCells(a, b);
    const std::string stemA = tileStem(a.path), stemB = tileStem(b.path);
    const std::string& outDir = args.positional[2];
    if (!outOption.empty()) {
        checkWritable(fs::path(fs::absolute(outOption)).parent_path().string(), 1000000);
    }
    checkWritable(outDir, 2 * tilesPerHalf(1) * kTileBytes);
    OutputFolder folder(outDir);
    const std::string treePath =
        outOption.empty() ? folder.prefix() + "quadtree_" + stemA + "___" + stemB + ".osgb"
                          : outOption;
    Progress progress(2 * tilesPerHalf(1) + 1, args.quiet);
    {
        QuietStdout quiet(!args.verbose);
        if (const int status = prepareTreeTiles(folder.prefix(), a.path, b.path,
                                                progress.tileCallback(), heights)) {
            return status;
        }
        TileReaderMessages::install();
        UnreadableTiles unreadable;
        osg::ref_ptr<osg::PagedLOD> root =
            buildPagedTree(folder.prefix(), a.path, b.path, &unreadable);
        std::fflush(stdout);
        if (!unreadable.empty()) {
            throw std::runtime_error(std::to_string(unreadable.size()) +
                                     " tiles could not be read; tree \"" + treePath +
                                     "\" not written");
        }
        writeTreeFile(*root, folder.prefix(), treePath);
    }
    progress.set(1.0);
    folder.keep();
    summary.cells = a.path == b.path ? 1 : 2;
    summary.written = progress.tilesDone();
    summary.reused = 2 * tilesPerHalf(1) - summary.written;
    summary.voidsFilled = a.voids + (a.path == b.path ? 0 : b.voids);
    summary.print();
    std::cerr << "tree written to \"" << treePath << "\"\n";
    return 0;
}

struct SynthArguments {
    int south = 0, west = 0, posts = 0;
};

SynthArguments synthArguments(const Arguments& args) {
    std::size_t end = 0;
    const std::string& southText = args.positional[0];
    const std::string& westText = args.positional[1];
    SynthArguments s;
    try {
        s.south = std::stoi(southText, &end);
        if (end != southText.size() || s.south < -90 || s.south > 89) {
            throw std::invalid_argument(southText);
        }
        s.west = std::stoi(westText, &end);
        if (end != westText.size() || s.west < -180 || s.west > 179) {
            throw std::invalid_argument(westText);
        }
        s.posts = std::stoi(args.option("--posts", "3601"));
    } catch (const std::logic_error&) {
        throw UsageError("SOUTH must be a whole latitude -90 ... 89 and WEST a whole longitude "
                         "-180 ... 179");
    }
    if (s.posts != 121 && s.posts != 1201 && s.posts != 3601) {
        throw UsageError("--posts must be 121, 1201 or 3601");
    }
    return s;
}

int runSynth(const Arguments& args) {
    const SynthArguments s = synthArguments(args);
    const std::string& path = args.positional[2];
    // Two bytes a post and a few kilobytes of headers, and as much again for the temporary
    // copy GDAL makes.
    const unsigned long long bytes = 2ull * (2ull * s.posts * s.posts + 12ull * s.posts + 4000);
    checkWritable(fs::path(fs::absolute(path)).parent_path().string(), bytes);
    // The relief is modelled in the scene's ellipsoid heights; the cell stores them above
    // mean sea level, which the tiler's ellipsoid heights turn back into the relief.
    const GeoidPatch geoid(s.south, s.south + 1, s.west, s.west + 1);
    const double spacing = 1.0 / (s.posts - 1);
    Progress progress(1, args.quiet);
    makeDtedCell(
        path, s.south, s.west, s.posts,
        [&](int row, int column) {
            return syntheticRelief(row, column, s.posts) -
                   geoid.at(s.south + 1 - row * spacing, s.west + column * spacing);
        },
        [&progress](double fraction) { progress.set(fraction); });
    return 0;
}

bool wantsHelp(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            return true;
        }
    }
    return false;
}

int runCommand(int argc, char** argv) {
    if (argc < 2) {
        throw UsageError("missing subcommand");
    }
    const std::string command = argv[1];
    if (command == "info") {
        return runInfo(parse(argc, argv, 2, 1, {}));
    }
    if (command == "tiles") {
        return runTiles(parse(argc, argv, 2, 2, {"--half", "--level", "--heights"}));
    }
    if (command == "mix") {
        return runMix(parse(argc, argv, 2, 3, {"--heights"}));
    }
    if (command == "tree") {
        return runTree(parse(argc, argv, 2, 3, {"--out", "--heights"}));
    }
    if (command == "region") {
        return runRegion(argc, argv, 2);
    }
    if (command == "synth") {
        return runSynth(parse(argc, argv, 2, 3, {"--posts"}));
    }
    throw UsageError("unknown subcommand \"" + command + "\"");
}

// Whatever was written to standard output must have arrived: a full disk or a closed pipe
// is a failure, not a success with a truncated report.
int checkStandardOutput(int status) {
    std::cout.flush();
    if (std::fflush(stdout) != 0 || std::ferror(stdout) || !std::cout) {
        std::cerr << "skyframe-tiler: cannot write standard output: " << std::strerror(errno)
                  << '\n';
        return 1;
    }
    return status;
}

} // namespace

int main(int argc, char** argv) {
    try {
        if (wantsHelp(argc, argv)) {
            std::cout << kUsage << '\n' << kHelp;
            return checkStandardOutput(0);
        }
        return checkStandardOutput(runCommand(argc, argv));
    } catch (const UsageError& e) {
        std::cerr << "skyframe-tiler: " << e.what() << '\n' << kUsage;
        return 2;
    } catch (const std::exception& e) {
        std::fflush(stdout);
        std::cerr << "skyframe-tiler: " << e.what() << '\n';
        return 1;
    }
}
