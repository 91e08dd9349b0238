#pragma once

#include <cstdint>
#include <istream>
#include <map>
#include <stdexcept>
#include <string>

namespace skyframe {

// One file of a terrain tree as the tiler wrote it.
struct ManifestEntry {
    std::uint64_t size = 0;  // bytes
    std::uint32_t crc32 = 0; // zlib's crc32 of the whole file
};

// A manifest that cannot be read or is not well formed; the message names the file and,
// for a bad line, its number.
class ManifestError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The record a terrain tree keeps of its files, written by the tiler last of all beside
// the tree's root, so that a viewer can check every file before a reader sees its bytes:
//
//   skyframe terrain manifest 1
//   <size in bytes> <crc32, 8 lowercase hex digits> <path relative to the folder, '/'-separated>
//   # lines that start with '#' are the tiler's own records, ignored here
//
// Reading is strict: a line of any other shape, a path listed twice, and a path that is
// absolute or climbs out of the folder ("..") make the whole manifest unusable, since a
// manifest that is not exactly what the tiler writes cannot vouch for anything.
class TerrainManifest {
public:
    static constexpr const char* kFileName = "terrain.manifest";

    // Reads the manifest file at `path`; the entries are relative to its folder.
    static TerrainManifest read(const std::string& path);

    // Parses a manifest's text; `name` names it in errors, `folder` is what its paths are
    // relative to.
    static TerrainManifest parse(std::istream& text, const std::string& name,
                                 const std::string& folder);

    // The folder the paths are relative to, absolute and without "." or "..".
    const std::string& folder() const { return folder_; }
    std::size_t size() const { return entries_.size(); }

    // The entry of a path relative to the folder, exactly as listed; null when not listed.
    const ManifestEntry* find(const std::string& relativePath) const;

    // Whether `path` (absolute, or relative to the working directory) lies inside the folder,
    // and if so the path relative to it, '/'-separated. No file is touched: a file that a
    // manifest vouches for is checked by its bytes, wherever a link in the folder points.
    bool contains(const std::string& path, std::string& relativePath) const;

private:
    std::string folder_;
    std::map<std::string, ManifestEntry> entries_;
};

// Checks the file at `path` against its entry: its size first, so that a cut or padded
// file is refused without reading it, then its crc32, read in blocks. Returns an empty
// string when the file matches, otherwise the problem in a few words ("is 1024 bytes, not
// 4096"). When `bytes` is given it receives the file's contents, so that a reader can parse
// exactly the bytes that were checked and the file is read only once.
std::string checkTerrainFile(const std::string& path, const ManifestEntry& entry,
                             std::string* bytes = nullptr);

// The crc32 as a manifest writes it: 8 lowercase hexadecimal digits.
std::string crc32Hex(std::uint32_t crc);

} // namespace skyframe
