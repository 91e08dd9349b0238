#include "terrain/TerrainManifest.h"

#include <zlib.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <vector>

namespace skyframe {

namespace fs = std::filesystem;

namespace {

constexpr const char* kHeader = "skyframe terrain manifest 1";
constexpr const char* kHeaderStem = "skyframe terrain manifest ";

bool isDecimal(const std::string& s) {
    return !s.empty() && s.find_first_not_of("0123456789") == std::string::npos;
}

bool isCrc(const std::string& s) {
    return s.size() == 8 && s.find_first_not_of("0123456789abcdef") == std::string::npos;
}

// Empty when the path is one the tiler can have written, else what is wrong with it.
std::string pathProblem(const std::string& path) {
    if (path.empty()) {
        return "no path";
    }
    for (const char c : path) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
            return "a control character in the path";
        }
    }
    if (path.front() == '/') {
        return "an absolute path, not one relative to the manifest's folder";
    }
    std::size_t start = 0;
    while (start <= path.size()) {
        const std::size_t end = std::min(path.find('/', start), path.size());
        const std::string part = path.substr(start, end - start);
        if (part == "..") {
            return "a path that climbs out of the manifest's folder (\"..\")";
        }
        if (part.empty() || part == ".") {
            return "a path with an empty or \".\" step";
        }
        start = end + 1;
    }
    return {};
}

std::uint64_t parseSize(const std::string& text, bool& ok) {
    std::uint64_t value = 0;
    constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
    ok = isDecimal(text);
    for (const char c : text) {
        const auto digit = static_cast<std::uint64_t>(c - '0');
        if (!ok || value > (kMax - digit) / 10) {
            ok = false;
            return 0;
        }
        value = value * 10 + digit;
    }
    return value;
}

// One "<size> <crc32> <path>" line; sets `problem` when the line has any other shape.
ManifestEntry parseEntryLine(const std::string& line, std::string& path, std::string& problem) {
    ManifestEntry entry;
    const std::size_t first = line.find(' ');
    const std::size_t second = first == std::string::npos ? first : line.find(' ', first + 1);
    if (second == std::string::npos) {
        problem = "expected \"<size> <crc32> <path>\"";
        return entry;
    }
    bool sizeOk = false;
    entry.size = parseSize(line.substr(0, first), sizeOk);
    const std::string crc = line.substr(first + 1, second - first - 1);
    path = line.substr(second + 1);
    if (!sizeOk) {
        problem = "the size \"" + line.substr(0, first) + "\" is not a whole number of bytes";
    } else if (!isCrc(crc)) {
        problem = "the crc32 \"" + crc + "\" is not 8 lowercase hexadecimal digits";
    } else {
        entry.crc32 = static_cast<std::uint32_t>(std::stoul(crc, nullptr, 16));
        problem = pathProblem(path);
    }
    return entry;
}

} // namespace

TerrainManifest TerrainManifest::read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw ManifestError(path + ": cannot open the manifest (" + std::strerror(errno) + ")");
    }
    const std::string folder = fs::path(path).parent_path().string();
    TerrainManifest manifest = parse(in, path, folder.empty() ? "." : folder);
    if (in.bad()) {
        throw ManifestError(path + ": cannot read the manifest");
    }
    return manifest;
}

TerrainManifest TerrainManifest::parse(std::istream& text, const std::string& name,
                                       const std::string& folder) {
    TerrainManifest manifest;
    fs::path normal = fs::absolute(folder).lexically_normal();
    if (normal.filename().empty()) {
        normal = normal.parent_path();
    }
    manifest.folder_ = normal.string();

    std::string line;
    if (!std::getline(text, line)) {
        throw ManifestError(name + ": empty, not a terrain manifest");
    }
    if (line != kHeader) {
        const bool otherVersion = line.rfind(kHeaderStem, 0) == 0;
        throw ManifestError(name + ": line 1: " +
                            (otherVersion
                                 ? "manifest version \"" + line.substr(std::strlen(kHeaderStem)) +
                                       "\" is not supported (only 1 is)"
                                 : std::string("not a terrain manifest (the first line "
                                               "is not \"") +
                                       kHeader + "\")"));
    }
    std::map<std::string, long> firstLine;
    for (long number = 2; std::getline(text, line); ++number) {
        if (!line.empty() && line.front() == '#') {
            continue;
        }
        std::string path;
        std::string problem;
        const ManifestEntry entry = parseEntryLine(line, path, problem);
        if (problem.empty() && !firstLine.emplace(path, number).second) {
            problem =
                path + " is listed twice (first on line " + std::to_string(firstLine[path]) + ")";
        }
        if (!problem.empty()) {
            throw ManifestError(name + ": line " + std::to_string(number) + ": " + problem);
        }
        manifest.entries_.emplace(path, entry);
    }
    return manifest;
}

const ManifestEntry* TerrainManifest::find(const std::string& relativePath) const {
    const auto it = entries_.find(relativePath);
    return it == entries_.end() ? nullptr : &it->second;
}

bool TerrainManifest::contains(const std::string& path, std::string& relativePath) const {
    const fs::path normal = fs::absolute(path).lexically_normal();
    const fs::path relative = normal.lexically_relative(folder_);
    if (relative.empty() || *relative.begin() == ".." || relative == ".") {
        return false;
    }
    relativePath = relative.generic_string();
    return true;
}

std::string crc32Hex(std::uint32_t crc) {
    char text[9];
    std::snprintf(text, sizeof text, "%08x", static_cast<unsigned>(crc));
    return text;
}

std::string checkTerrainFile(const std::string& path, const ManifestEntry& entry,
                             std::string* bytes) {
    std::error_code error;
    const fs::file_status status = fs::status(path, error);
    if (error) {
        return "cannot be read (" + error.message() + ")";
    }
    if (!fs::is_regular_file(status)) {
        return "is not a regular file";
    }
    const std::uintmax_t size = fs::file_size(path, error);
    if (error) {
        return "cannot be read (" + error.message() + ")";
    }
    if (size != entry.size) {
        return "is " + std::to_string(size) + " bytes, not " + std::to_string(entry.size) +
               " as the manifest says";
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return std::string("cannot be opened (") + std::strerror(errno) + ")";
    }
    if (bytes) {
        bytes->clear();
        bytes->reserve(static_cast<std::size_t>(entry.size));
    }
    std::vector<char> block(1 << 16);
    uLong crc = crc32(0L, Z_NULL, 0);
    std::uint64_t total = 0;
    while (total <= entry.size && (in.read(block.data(), block.size()) || in.gcount() > 0)) {
        const auto n = static_cast<std::size_t>(in.gcount());
        crc = crc32(crc, reinterpret_cast<const Bytef*>(block.data()), static_cast<uInt>(n));
        total += n;
        if (bytes) {
            bytes->append(block.data(), n);
        }
    }
    if (in.bad()) {
        return "cannot be read (input error)";
    }
    if (total != entry.size) {
        return "changed while it was read (" + std::to_string(total) + " bytes, not " +
               std::to_string(entry.size) + ")";
    }
    if (crc != entry.crc32) {
        return "has crc32 " + crc32Hex(static_cast<std::uint32_t>(crc)) + ", not " +
               crc32Hex(entry.crc32) + " as the manifest says";
    }
    return {};
}

} // namespace skyframe
