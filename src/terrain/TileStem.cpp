#include "terrain/TileStem.h"

#include <stdexcept>

namespace skyframe {

std::string tileStem(const std::string& path) {
    if (path.size() < kTileStemSpan) {
        throw std::invalid_argument("\"" + path + "\": path too short for a tile stem (needs " +
                                    std::to_string(kTileStemSpan) + " characters)");
    }
    return path.substr(path.size() - kTileStemSpan, 6);
}

} // namespace skyframe
