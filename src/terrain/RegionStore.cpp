#include "terrain/RegionStore.h"

#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <unistd.h>

namespace skyframe {

namespace fs = std::filesystem;

namespace {

constexpr const char* kRecordHeader = "skyframe terrain cell 1";

} // namespace

std::uint32_t crc32Of(const std::string& bytes) {
    uLong crc = crc32(0L, Z_NULL, 0);
    const auto* data = reinterpret_cast<const Bytef*>(bytes.data());
    std::size_t left = bytes.size();
    while (left > 0) {
        const auto chunk = static_cast<uInt>(std::min<std::size_t>(left, 1u << 30));
        crc = crc32(crc, data, chunk);
        data += chunk;
        left -= chunk;
    }
    return static_cast<std::uint32_t>(crc);
}

void writeFileAtomically(const std::string& path, const std::string& bytes) {
    const std::string part = path + ".part";
    const int fd = ::open(part.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        throw std::runtime_error("cannot create \"" + part + "\": " + std::strerror(errno));
    }
    std::size_t done = 0;
    int error = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            error = n < 0 ? errno : ENOSPC;
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    if (::close(fd) != 0 && error == 0) {
        error = errno;
    }
    if (error == 0 && std::rename(part.c_str(), path.c_str()) != 0) {
        error = errno;
    }
    if (error != 0) {
        std::remove(part.c_str());
        throw std::runtime_error("cannot write \"" + path + "\": " + std::strerror(error));
    }
}

std::string entryLine(const FileEntry& entry) {
    char crc[16];
    std::snprintf(crc, sizeof crc, "%08x", static_cast<unsigned>(entry.crc));
    return std::to_string(entry.size) + " " + crc + " " + entry.path;
}

std::string cellRecordText(const CellRecord& record) {
    std::ostringstream out;
    out.precision(17);
    out << kRecordHeader << '\n'
        << "cell " << record.cell << '\n'
        << "options " << record.options << '\n'
        << "source " << record.source << '\n'
        << "bound " << record.bound.center().x() << ' ' << record.bound.center().y() << ' '
        << record.bound.center().z() << ' ' << record.bound.radius() << '\n';
    for (const FileEntry& file : record.files) {
        out << "file " << entryLine(file) << '\n';
    }
    return out.str();
}

std::optional<CellRecord> readCellRecord(const std::string& cellFolder) {
    std::ifstream in(fs::path(cellFolder) / kCellRecordName);
    std::string line;
    if (!in || !std::getline(in, line) || line != kRecordHeader) {
        return std::nullopt;
    }
    CellRecord record;
    while (std::getline(in, line)) {
        const std::size_t space = line.find(' ');
        const std::string key = line.substr(0, space);
        const std::string value = space == std::string::npos ? "" : line.substr(space + 1);
        std::istringstream fields(value);
        if (key == "cell") {
            record.cell = value;
        } else if (key == "options") {
            record.options = value;
        } else if (key == "source") {
            record.source = value;
        } else if (key == "bound") {
            double x = 0, y = 0, z = 0, r = 0;
            fields >> x >> y >> z >> r;
            record.bound = osg::BoundingSphered(osg::Vec3d(x, y, z), r);
        } else if (key == "file") {
            FileEntry file;
            fields >> file.size >> std::hex >> file.crc >> std::dec >> std::ws;
            std::getline(fields, file.path);
            record.files.push_back(file);
        }
        if (!fields && key != "cell" && key != "options" && key != "source") {
            return std::nullopt;
        }
    }
    if (record.cell.empty() || record.files.empty() || !record.bound.valid()) {
        return std::nullopt;
    }
    return record;
}

std::string manifestText(const std::vector<CellRecord>& cells, const FileEntry& root) {
    std::vector<FileEntry> files{root};
    std::string text = std::string(kManifestHeader) + '\n';
    for (const CellRecord& cell : cells) {
        text += "# cell " + cell.cell + " " + cell.options + '\n';
        files.insert(files.end(), cell.files.begin(), cell.files.end());
    }
    std::sort(files.begin(), files.end(),
              [](const FileEntry& a, const FileEntry& b) { return a.path < b.path; });
    for (const FileEntry& file : files) {
        text += entryLine(file) + '\n';
    }
    return text;
}

} // namespace skyframe
