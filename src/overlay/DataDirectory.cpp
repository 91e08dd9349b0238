#include "overlay/DataDirectory.h"

#include "overlay/Labels.h"

#include <osgDB/FileUtils>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <iostream>

namespace skyframe {

std::string registerDataDirectory() {
    const char* fromEnvironment = std::getenv(kDataDirectoryVariable);
    const std::string directory = fromEnvironment != nullptr && *fromEnvironment != '\0'
                                      ? std::string(fromEnvironment)
                                      : std::string(SKYFRAME_BUILD_DATA_DIR);

    osgDB::FilePathList& paths = osgDB::getDataFilePathList();
    if (std::find(paths.begin(), paths.end(), directory) == paths.end()) {
        paths.push_back(directory);
        std::error_code ec;
        if (!std::filesystem::is_regular_file(std::filesystem::path(directory) / kLabelFont, ec)) {
            std::cerr << "warning: font " << kLabelFont << " not found in " << directory << " (set "
                      << kDataDirectoryVariable << "); labels use the default font\n";
        }
    }
    return directory;
}

} // namespace skyframe
