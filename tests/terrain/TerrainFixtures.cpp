#include "TerrainFixtures.h"

#include "terrain/SyntheticCell.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>

namespace skyframe::testing {

namespace fs = std::filesystem;

namespace {

std::string fixtureFolder() {
    const fs::path folder = fs::path(SKYFRAME_BINARY_DIR) / "tests" / "terrain" / "fixtures-v1";
    fs::create_directories(folder);
    return folder.string();
}

std::string makeOnce(const std::string& name, int south, int posts) {
    const std::string path = fixtureFolder() + "/" + name;
    if (!fs::exists(path)) {
        const double scale = 3600.0 / (posts - 1);
        makeDtedCell(path, south, -116, posts, [scale](int row, int column) {
            return fixtureHeight(row * scale, column * scale);
        });
    }
    return path;
}

} // namespace

const std::string& fixtureCell(int posts) {
    static std::mutex mutex;
    static std::string cells[3];
    const std::lock_guard<std::mutex> lock(mutex);
    const int slot = posts == 121 ? 0 : posts == 1201 ? 1 : 2;
    if (cells[slot].empty()) {
        const char* names[] = {"a33w16.dt0", "b33w16.dt1", "c33w16.dt2"};
        cells[slot] = makeOnce(names[slot], 33, posts);
    }
    return cells[slot];
}

const std::string& fixtureNorthCell() {
    static const std::string cell = makeOnce("d34w16.dt0", 34, 121);
    return cell;
}

TempFolder::TempFolder() {
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    const fs::path base = fs::temp_directory_path() / "skyframe-terrain-tests";
    fs::create_directories(base);
    std::string pattern = (base / (std::string(test ? test->name() : "test") + "-XXXXXX")).string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("cannot make a temporary folder " + pattern);
    }
    path_ = pattern;
}

TempFolder::~TempFolder() {
    std::error_code ec;
    fs::remove_all(path_, ec);
}

std::vector<std::string> listFolder(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace skyframe::testing
