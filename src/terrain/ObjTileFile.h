#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace skyframe {

// One Wavefront OBJ tile being written. The lines go to "<path>.part" through a large buffer;
// commit() renames the finished file to path, so that an interrupted run never leaves a
// half-written tile under a tile's name. A tile that is never committed is removed.
class ObjTileFile {
public:
    // Creates "<path>.part"; throws std::runtime_error naming path when it cannot.
    explicit ObjTileFile(std::string path);
    ~ObjTileFile();
    ObjTileFile(const ObjTileFile&) = delete;
    ObjTileFile& operator=(const ObjTileFile&) = delete;
    ObjTileFile(ObjTileFile&& other) noexcept;
    ObjTileFile& operator=(ObjTileFile&&) = delete;

    // Appends the vertex line of the Earth-centred point (x, y, z) (metres). OBJ readers take
    // y as up, so the point is written as (x, z, -y): a y-up reader turns it back into the
    // Earth-centred frame.
    void addVertex(double x, double y, double z);

    // Appends raw text (face lines).
    void addText(std::string_view text);

    // Writes what is buffered, closes the file and gives it its name. Throws
    // std::runtime_error naming the file when any write, the close or the rename fails.
    void commit();

    const std::string& path() const { return path_; }

private:
    void flush();
    void fail(const std::string& what);

    std::string path_;
    std::string partPath_;
    int fd_ = -1;
    std::vector<char> buffer_;
    std::size_t used_ = 0;
};

// The face lines of a grid of rows x columns vertices numbered row by row from 1: for every
// cell (k, j) the triangles (k, j+1) (k, j) (k+1, j) and (k, j+1) (k+1, j) (k+1, j+1). Every
// tile of one shape has the same faces, so the text is built once per shape and kept.
const std::string& gridFaceText(int rows, int columns);

} // namespace skyframe
