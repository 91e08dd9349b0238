#pragma once

#include "terrain/TerrainManifest.h"

#include <osg/ref_ptr>
#include <osgDB/Callbacks>
#include <osgDB/Options>
#include <osgDB/ReaderWriter>

#include <cstddef>
#include <memory>
#include <mutex>
#include <ostream>
#include <set>
#include <string>

namespace skyframe {

// Parses a node from `bytes`, the whole content of the file `path` already read (and
// checked), with the reader for the path's extension, as that reader would have read the
// file itself: paged children named in it are looked for in the file's folder. Readers that
// cannot parse from memory read `path` again.
osgDB::ReaderWriter::ReadResult readNodeFromBytes(const std::string& path, const std::string& bytes,
                                                  const osgDB::Options* options);

// Stands between the scene-graph library's readers and the files of a terrain tree that the
// database pager reads once the viewer runs (installed as the registry's read-file callback
// after the tree's root has been loaded):
// - a file inside the manifest's folder is read only when the manifest lists it and its
//   size and crc32 match; the reader then parses the very bytes that were checked;
// - a binary scene file (.osgb, .ive) anywhere else is refused: its reader trusts its input,
//   a damaged file could take the viewer down on the pager's thread, and there is nothing
//   to check it against;
// - any other file is read as before (by `next`, the callback installed before, if any).
// A refused file costs one warning line naming it and the problem; when the pager asks for
// it again it is refused without a word. The tile above it stays on screen.
// Safe to call from the pager's threads at once.
class TerrainGuard : public osgDB::ReadFileCallback {
public:
    // `manifest` may be null: a tree without one. `warnings` must outlive the guard.
    TerrainGuard(std::shared_ptr<const TerrainManifest> manifest, std::ostream& warnings,
                 osgDB::ReadFileCallback* next = nullptr);

    osgDB::ReaderWriter::ReadResult readNode(const std::string& file,
                                             const osgDB::Options* options) override;

    // How many different files have been refused so far.
    std::size_t refusedFiles() const;

    // Whether `message` is the database pager's complaint about a file this guard refused
    // ("Error in reading file F : ..."), which it repeats on every retry.
    bool isRetryComplaint(const char* message) const;

private:
    osgDB::ReaderWriter::ReadResult refuse(const std::string& file, const std::string& problem);
    osgDB::ReaderWriter::ReadResult readListed(const std::string& file,
                                               const std::string& relativePath,
                                               const osgDB::Options* options);

    std::shared_ptr<const TerrainManifest> manifest_;
    std::ostream& warnings_;
    osg::ref_ptr<osgDB::ReadFileCallback> next_;
    mutable std::mutex mutex_; // guards refused_ and warnings_
    std::set<std::string> refused_;
};

// Makes `guard` the registry's read-file callback and filters the pager's repeated
// complaints about the files it refuses out of the scene graph's messages. For the rest of
// the process.
void installTerrainGuard(TerrainGuard& guard);

} // namespace skyframe
