#include "terrain/TileStem.h"

#include "terrain/CellName.h"
#include "terrain/DtedRaster.h"

#include <stdexcept>

namespace skyframe {

std::string tileStem(const std::string& path) {
    if (path.size() >= kTileStemSpan) {
        std::string stem = path.substr(path.size() - kTileStemSpan, 6);
        if (stem.find('/') == std::string::npos) {
            return stem;
        }
    }
    std::string whyNot;
    GDALDatasetUniquePtr cell = openDted(path, &whyNot);
    if (!cell) {
        throw std::invalid_argument("\"" + path + "\": no tile stem in its name, and " + whyNot);
    }
    try {
        return cellName(cellCorner(*cell, path));
    } catch (const std::runtime_error& e) {
        throw std::invalid_argument(std::string("no tile stem: ") + e.what());
    }
}

} // namespace skyframe
