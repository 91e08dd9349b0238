#pragma once

// What every skyframe-tiler command shares: progress, output folders, the check of a cell
// before any work, and the summary.

#include "terrain/CellName.h"
#include "terrain/TileWriter.h"

#include <chrono>
#include <stdexcept>
#include <string>

namespace skyframe {

// A command line that does not fit the usage: exit status 2 and the usage text.
struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Progress on standard error in GDAL's style, "0...10...20...30...40...50...60...70...80...90
// ...100 - done.": a dot every 2.5 %, a number every 10 %. Silent when quiet.
class Progress {
public:
    Progress(int total, bool quiet);
    ~Progress();
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    void set(double fraction); // 0 ... 1
    // A tile callback that counts tiles towards the total.
    TileDone tileCallback();
    // Tiles that count towards the total without being written (reused).
    void skip(int tiles);
    int tilesDone() const { return done_; }

private:
    int total_;
    bool quiet_;
    int done_ = 0;
    int skipped_ = 0;
    int marks_ = -1; // of 40, -1 before the "0"
};

// An output folder, made when missing. One that this run made and that is still empty when
// the run fails is removed again, so that a refused command leaves nothing behind.
class OutputFolder {
public:
    explicit OutputFolder(const std::string& path);
    ~OutputFolder();
    OutputFolder(const OutputFolder&) = delete;
    OutputFolder& operator=(const OutputFolder&) = delete;

    // The folder with a trailing separator, the writers' output prefix.
    const std::string& prefix() const { return prefix_; }
    // The run succeeded: keep the folder whatever it holds.
    void keep() { kept_ = true; }

private:
    std::string path_;
    std::string prefix_;
    bool made_ = false;
    bool kept_ = false;
};

// Standard output sent to /dev/null for the lifetime of the object: the writers print the
// original tiler's dataset reports and debugging lines, which a user asked for only with -v.
class QuietStdout {
public:
    explicit QuietStdout(bool quiet);
    ~QuietStdout();
    QuietStdout(const QuietStdout&) = delete;
    QuietStdout& operator=(const QuietStdout&) = delete;

private:
    int saved_ = -1;
};

// A cell that can be tiled: opened, its geometry checked, its corner and its void posts
// counted. Throws std::runtime_error naming the path and the reason (it does not exist, GDAL
// cannot read it, it is not a one-degree cell, it is void throughout).
struct CheckedCell {
    std::string path;
    CellCorner corner;
    long long voids = 0;
};
CheckedCell checkCell(const std::string& path);

// Fails (std::runtime_error naming the folder) unless `folder`, or the nearest folder above
// it that exists, is a writable folder with at least `bytes` free.
void checkWritable(const std::string& folder, unsigned long long bytes);

// "skyframe-tiler: 2 cells, 274 tiles written, 0 reused, 0 failed, 0 voids filled, 41.2 s"
// on standard error.
struct Summary {
    int cells = 0, written = 0, reused = 0, failed = 0;
    long long voidsFilled = 0;
    std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
    void print() const;
};

} // namespace skyframe
