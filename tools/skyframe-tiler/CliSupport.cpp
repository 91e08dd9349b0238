#include "CliSupport.h"

#include "terrain/CellGrid.h"
#include "terrain/DtedRaster.h"
#include "terrain/VoidFill.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <iostream>
#include <stdexcept>
#include <unistd.h>

namespace skyframe {

namespace fs = std::filesystem;

Progress::Progress(int total, bool quiet) : total_(total), quiet_(quiet) {
    set(0.0);
}

Progress::~Progress() {
    if (!quiet_ && marks_ >= 0 && marks_ < 40) {
        std::cerr << '\n'; // interrupted: end the line
    }
}

void Progress::set(double fraction) {
    if (quiet_) {
        return;
    }
    const int target = static_cast<int>(std::floor(std::clamp(fraction, 0.0, 1.0) * 40 + 1e-9));
    for (; marks_ < target; ++marks_) {
        const int mark = marks_ + 1;
        if (mark % 4 == 0) {
            std::cerr << mark / 4 * 10;
        } else {
            std::cerr << '.';
        }
        if (mark == 40) {
            std::cerr << " - done.\n";
        }
    }
    std::cerr.flush();
}

TileDone Progress::tileCallback() {
    return [this](const std::string&) {
        ++done_;
        set(total_ > 0 ? static_cast<double>(done_ + skipped_) / total_ : 1.0);
    };
}

void Progress::skip(int tiles) {
    skipped_ += tiles;
    set(total_ > 0 ? static_cast<double>(done_ + skipped_) / total_ : 1.0);
}

OutputFolder::OutputFolder(const std::string& path) : path_(path) {
    std::error_code ec;
    made_ = !fs::exists(path, ec);
    fs::create_directories(path, ec);
    if (ec || !fs::is_directory(path)) {
        throw std::runtime_error("cannot make output folder \"" + path +
                                 "\": " + (ec ? ec.message() : "not a folder"));
    }
    prefix_ = path.back() == '/' ? path : path + "/";
}

OutputFolder::~OutputFolder() {
    std::error_code ec;
    if (made_ && !kept_ && fs::is_empty(path_, ec) && !ec) {
        fs::remove(path_, ec);
    }
}

QuietStdout::QuietStdout(bool quiet) {
    if (!quiet) {
        return;
    }
    std::fflush(stdout);
    const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (null >= 0) {
        saved_ = ::dup(STDOUT_FILENO);
        ::dup2(null, STDOUT_FILENO);
        ::close(null);
    }
}

QuietStdout::~QuietStdout() {
    if (saved_ >= 0) {
        std::fflush(stdout);
        ::dup2(saved_, STDOUT_FILENO);
        ::close(saved_);
    }
}

CheckedCell checkCell(const std::string& path) {
    std::string whyNot;
    GDALDatasetUniquePtr dataset = openDted(path, &whyNot);
    if (!dataset) {
        throw std::runtime_error("cannot open \"" + path + "\": " + whyNot);
    }
    CellGrid grid(*dataset, path);
    CheckedCell cell{path, cellCorner(*dataset, path),
                     countVoidPosts(*dataset->GetRasterBand(1), path)};
    const long long posts =
        static_cast<long long>(dataset->GetRasterXSize()) * dataset->GetRasterYSize();
    if (cell.voids == posts) {
        throw std::runtime_error("\"" + path + "\" is void throughout: no post has a height");
    }
    return cell;
}

void checkWritable(const std::string& folder, unsigned long long bytes) {
    fs::path existing = fs::absolute(folder.empty() ? "." : folder);
    std::error_code ec;
    while (!fs::exists(existing, ec) && existing.has_parent_path() &&
           existing != existing.parent_path()) {
        existing = existing.parent_path();
    }
    if (!fs::is_directory(existing, ec) || ::access(existing.c_str(), W_OK) != 0) {
        throw std::runtime_error("cannot write into \"" + folder + "\": \"" + existing.string() +
                                 "\" is not a writable folder");
    }
    const fs::space_info space = fs::space(existing, ec);
    if (!ec && space.available < bytes) {
        throw std::runtime_error("not enough space in \"" + existing.string() +
                                 "\": " + std::to_string(bytes / 1000000 + 1) + " MB needed, " +
                                 std::to_string(space.available / 1000000) + " MB free");
    }
}

void Summary::print() const {
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    char text[200];
    std::snprintf(text, sizeof text,
                  "skyframe-tiler: %d cells, %d tiles written, %d reused, %d failed, %lld voids "
                  "filled, %.1f s\n",
                  cells, written, reused, failed, voidsFilled, seconds);
    std::cerr << text;
}

} // namespace skyframe
