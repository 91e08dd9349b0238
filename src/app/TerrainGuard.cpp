#include "app/TerrainGuard.h"

#include <osg/Notify>
#include <osgDB/FileNameUtils>
#include <osgDB/Registry>

#include <cstring>
#include <istream>
#include <streambuf>
#include <utility>

namespace skyframe {

namespace {

using ReadResult = osgDB::ReaderWriter::ReadResult;

// A read-only view of bytes in memory that can seek, as the binary readers do when they
// look at a file's header and start again.
class MemoryBuffer : public std::streambuf {
public:
    explicit MemoryBuffer(const std::string& bytes) {
        // The buffer is only ever read: nothing here or in std::streambuf writes through it.
        char* begin = const_cast<char*>(bytes.data());
        setg(begin, begin, begin + bytes.size());
    }

protected:
    pos_type seekoff(off_type offset, std::ios_base::seekdir from,
                     std::ios_base::openmode which) override {
        const off_type size = egptr() - eback();
        const off_type base = from == std::ios_base::beg   ? 0
                              : from == std::ios_base::cur ? gptr() - eback()
                                                           : size;
        const off_type target = base + offset;
        if (!(which & std::ios_base::in) || target < 0 || target > size) {
            return pos_type(off_type(-1));
        }
        setg(eback(), eback() + target, egptr());
        return pos_type(target);
    }

    pos_type seekpos(pos_type position, std::ios_base::openmode which) override {
        return seekoff(off_type(position), std::ios_base::beg, which);
    }
};

bool isBinarySceneFile(const std::string& file) {
    const std::string extension = osgDB::getLowerCaseFileExtension(file);
    return extension == "osgb" || extension == "ive";
}

// What the database pager says about a file it could not read, each time it retries.
constexpr const char* kPagerComplaint = "Error in reading file ";

// Passes the scene graph's messages on, less the pager's complaints about refused files:
// the pager asks for a file again every frame while its tile is in range, and the guard
// has already said, once, why the file is not read.
class RefusedFileMessages : public osg::NotifyHandler {
public:
    RefusedFileMessages(const TerrainGuard& guard, osg::NotifyHandler* next)
        : guard_(&guard), next_(next) {}

    void notify(osg::NotifySeverity severity, const char* message) override {
        if (!guard_->isRetryComplaint(message)) {
            next_->notify(severity, message);
        }
    }

private:
    osg::ref_ptr<const TerrainGuard> guard_;
    osg::ref_ptr<osg::NotifyHandler> next_;
};

} // namespace

void installTerrainGuard(TerrainGuard& guard) {
    osgDB::Registry::instance()->setReadFileCallback(&guard);
    osg::NotifyHandler* messages = osg::getNotifyHandler();
    if (!messages) {
        messages = new osg::StandardNotifyHandler;
    }
    osg::setNotifyHandler(new RefusedFileMessages(guard, messages));
}

ReadResult readNodeFromBytes(const std::string& path, const std::string& bytes,
                             const osgDB::Options* options) {
    osgDB::Registry* registry = osgDB::Registry::instance();
    osgDB::ReaderWriter* reader =
        registry->getReaderWriterForExtension(osgDB::getLowerCaseFileExtension(path));
    if (!reader) {
        return ReadResult(ReadResult::FILE_NOT_HANDLED);
    }
    // What the readers do for a file they open themselves: names in it are relative to it.
    osg::ref_ptr<osgDB::Options> local =
        options ? static_cast<osgDB::Options*>(options->clone(osg::CopyOp::SHALLOW_COPY))
                : new osgDB::Options;
    local->getDatabasePathList().push_front(osgDB::getFilePath(path));
    MemoryBuffer buffer(bytes);
    std::istream in(&buffer);
    ReadResult result = reader->readNode(in, local.get());
    if (result.status() == ReadResult::NOT_IMPLEMENTED) {
        return registry->readNodeImplementation(path, options);
    }
    return result;
}

TerrainGuard::TerrainGuard(std::shared_ptr<const TerrainManifest> manifest, std::ostream& warnings,
                           osgDB::ReadFileCallback* next)
    : manifest_(std::move(manifest)), warnings_(warnings), next_(next) {}

ReadResult TerrainGuard::readNode(const std::string& file, const osgDB::Options* options) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (refused_.count(file) != 0) {
            return ReadResult(ReadResult::FILE_NOT_FOUND);
        }
    }
    std::string relativePath;
    if (manifest_ && manifest_->contains(file, relativePath)) {
        return readListed(file, relativePath, options);
    }
    if (isBinarySceneFile(file)) {
        return refuse(file, std::string("a binary scene file with no ") +
                                TerrainManifest::kFileName + " to check it against");
    }
    return next_ ? next_->readNode(file, options)
                 : osgDB::Registry::instance()->readNodeImplementation(file, options);
}

bool TerrainGuard::isRetryComplaint(const char* message) const {
    const std::size_t prefixLength = std::strlen(kPagerComplaint);
    if (std::strncmp(message, kPagerComplaint, prefixLength) != 0) {
        return false;
    }
    const std::string rest = message + prefixLength;
    const std::size_t end = rest.rfind(" : ");
    std::lock_guard<std::mutex> lock(mutex_);
    return end != std::string::npos && refused_.count(rest.substr(0, end)) != 0;
}

std::size_t TerrainGuard::refusedFiles() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return refused_.size();
}

ReadResult TerrainGuard::readListed(const std::string& file, const std::string& relativePath,
                                    const osgDB::Options* options) {
    const ManifestEntry* entry = manifest_->find(relativePath);
    if (!entry) {
        return refuse(file,
                      "not listed in " + manifest_->folder() + "/" + TerrainManifest::kFileName);
    }
    std::string bytes;
    const std::string problem = checkTerrainFile(file, *entry, &bytes);
    if (!problem.empty()) {
        return refuse(file, problem);
    }
    return readNodeFromBytes(file, bytes, options);
}

ReadResult TerrainGuard::refuse(const std::string& file, const std::string& problem) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (refused_.insert(file).second) {
        warnings_ << file << ": warning: terrain tile not loaded: " << problem
                  << "; the coarser tile stays" << std::endl;
    }
    return ReadResult(ReadResult::FILE_NOT_FOUND);
}

} // namespace skyframe
