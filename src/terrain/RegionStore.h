#pragma once

// The files of a region tree on disk: tiles in OpenSceneGraph's binary format, each cell's
// record of what it holds, and the manifest that lists every file with its size and CRC so
// that a reader can check a file before it loads it.

#include <osg/BoundingSphere>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace skyframe {

// zlib's CRC-32 of bytes.
std::uint32_t crc32Of(const std::string& bytes);

// Writes bytes to path through "<path>.part" and a rename, so that nobody ever sees half a
// file under its name. Throws std::runtime_error naming path; the part is removed.
void writeFileAtomically(const std::string& path, const std::string& bytes);

// One file of the tree: size in bytes, CRC-32 and the path relative to the tree's folder,
// '/'-separated.
struct FileEntry {
    std::uint64_t size = 0;
    std::uint32_t crc = 0;
    std::string path;
};
// "<size> <crc as 8 lowercase hex digits> <path>"
std::string entryLine(const FileEntry& entry);

// What one cell's folder holds, written into it (cellRecordName) after every tile: the
// options its tiles were written with, the bounding sphere of its top tile (Earth-centred
// metres) and its files.
struct CellRecord {
    std::string cell;    // "n33_w116", also the folder's name
    std::string options; // one line, no line end
    std::string source;  // the cell's path when it was tiled
    osg::BoundingSphered bound;
    std::vector<FileEntry> files; // paths relative to the tree's folder: "n33_w116/top.osgb"
};
constexpr const char* kCellRecordName = "cell.record";
std::string cellRecordText(const CellRecord& record);
// The record in cellFolder, or nothing when it is missing or not a record of this format.
std::optional<CellRecord> readCellRecord(const std::string& cellFolder);

// The manifest's first line, and its name in the tree's folder.
constexpr const char* kManifestHeader = "skyframe terrain manifest 1";
constexpr const char* kManifestName = "terrain.manifest";
constexpr const char* kRootName = "terrain.osgb";

// The manifest text: the header, one comment line per cell with its options, then one
// entry line per file, sorted by path.
std::string manifestText(const std::vector<CellRecord>& cells, const FileEntry& root);

} // namespace skyframe
