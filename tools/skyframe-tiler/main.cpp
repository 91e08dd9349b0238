// skyframe-tiler: DTED cells to quadtree OBJ tiles in Earth-centred metres, and paged
// level-of-detail trees over them for the viewer.

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

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <stdexcept>
#include <string>
#include <unistd.h>
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
    "       skyframe-tiler synth SOUTH WEST FILE [--posts 121|1201|3601]\n";

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
    "(\"n33w16\" for \"cells/n33w16.dt2\"). Reports go to standard output, errors and progress\n"
    "to standard error. Exit status: 0 success, 1 failure, 2 usage.\n";

struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Positional arguments and --name value options of one subcommand.
struct Arguments {
    std::vector<std::string> positional;
    std::vector<std::pair<std::string, std::string>> options;

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
        if (arg.size() > 2 && arg.compare(0, 2, "--") == 0) {
            bool known = false;
            for (const std::string& name : allowed) {
                known = known || name == arg;
            }
            if (!known) {
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

// "dir" -> "dir/", made if missing.
std::string outputPrefix(const std::string& directory) {
    std::error_code ec;
    fs::create_directories(directory, ec);
    if (ec || !fs::is_directory(directory)) {
        throw std::runtime_error("cannot make output folder \"" + directory +
                                 "\": " + (ec ? ec.message() : "not a folder"));
    }
    return directory.back() == '/' ? directory : directory + "/";
}

// Shows "tile n of total" on standard error when it is a terminal.
class Progress {
public:
    explicit Progress(int total) : total_(total), shown_(::isatty(STDERR_FILENO) == 1) {}
    ~Progress() {
        if (shown_ && done_ > 0) {
            std::cerr << '\n';
        }
    }
    TileDone callback() {
        return [this](const std::string& tile) {
            ++done_;
            if (shown_) {
                std::cerr << "\rtile " << done_ << " of " << total_ << ": "
                          << fs::path(tile).filename().string() << "\033[K" << std::flush;
            }
        };
    }

private:
    int total_;
    bool shown_;
    int done_ = 0;
};

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
    const std::string& cell = args.positional[0];
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
    const std::string prefix = outputPrefix(args.positional[1]);
    std::vector<int> halves;
    if (half != "south") {
        halves.push_back(kNorthHalf);
    }
    if (half != "north") {
        halves.push_back(kSouthHalf);
    }
    Progress progress(tilesPerHalf(level) * static_cast<int>(halves.size()));
    for (int selector : halves) {
        if (const int status =
                writeTileLevel(level, selector, cell, prefix, progress.callback(), heights)) {
            return status;
        }
    }
    return 0;
}

int runMix(const Arguments& args) {
    const HeightReference heights = heightsOption(args);
    const std::string prefix = outputPrefix(args.positional[2]);
    return create1x1mix(args.positional[0], args.positional[1], prefix, {}, heights);
}

int runTree(const Arguments& args) {
    const std::string& cellA = args.positional[0];
    const std::string& cellB = args.positional[1];
    const HeightReference heights = heightsOption(args);
    const std::string prefix = outputPrefix(args.positional[2]);
    const std::string treePath = args.option("--out", prefix + "quadtree_" + tileStem(cellA) +
                                                          "___" + tileStem(cellB) + ".osgb");
    {
        Progress progress(2 * tilesPerHalf(1));
        if (const int status =
                prepareTreeTiles(prefix, cellA, cellB, progress.callback(), heights)) {
            return status;
        }
    }
    TileReaderMessages::install();
    UnreadableTiles unreadable;
    osg::ref_ptr<osg::PagedLOD> root = buildPagedTree(prefix, cellA, cellB, &unreadable);
    std::fflush(stdout);
    if (!unreadable.empty()) {
        throw std::runtime_error(std::to_string(unreadable.size()) +
                                 " tiles could not be read; tree \"" + treePath + "\" not written");
    }
    writeTreeFile(*root, prefix, treePath);
    std::cerr << "tree written to \"" << treePath << "\"\n";
    return 0;
}

int runSynth(const Arguments& args) {
    std::size_t end = 0;
    const std::string& southText = args.positional[0];
    const std::string& westText = args.positional[1];
    int south = 0;
    int west = 0;
    int posts = 0;
    try {
        south = std::stoi(southText, &end);
        if (end != southText.size() || south < -90 || south > 89) {
            throw std::invalid_argument(southText);
        }
        west = std::stoi(westText, &end);
        if (end != westText.size() || west < -180 || west > 179) {
            throw std::invalid_argument(westText);
        }
        posts = std::stoi(args.option("--posts", "3601"));
    } catch (const std::logic_error&) {
        throw UsageError("SOUTH must be a whole latitude -90 ... 89 and WEST a whole longitude "
                         "-180 ... 179");
    }
    if (posts != 121 && posts != 1201 && posts != 3601) {
        throw UsageError("--posts must be 121, 1201 or 3601");
    }
    // The relief is modelled in the scene's ellipsoid heights; the cell stores them above
    // mean sea level, which the tiler's ellipsoid heights turn back into the relief.
    const GeoidPatch geoid(south, south + 1, west, west + 1);
    const double spacing = 1.0 / (posts - 1);
    makeDtedCell(args.positional[2], south, west, posts, [&](int row, int column) {
        return syntheticRelief(row, column, posts) -
               geoid.at(south + 1 - row * spacing, west + column * spacing);
    });
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

} // namespace

int main(int argc, char** argv) {
    try {
        if (wantsHelp(argc, argv)) {
            std::cout << kUsage << '\n' << kHelp;
            return 0;
        }
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
        if (command == "synth") {
            return runSynth(parse(argc, argv, 2, 3, {"--posts"}));
        }
        throw UsageError("unknown subcommand \"" + command + "\"");
    } catch (const UsageError& e) {
        std::cerr << "skyframe-tiler: " << e.what() << '\n' << kUsage;
        return 2;
    } catch (const std::exception& e) {
        std::fflush(stdout);
        std::cerr << "skyframe-tiler: " << e.what() << '\n';
        return 1;
    }
}
