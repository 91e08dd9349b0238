#pragma once

#include "TestSupport.h"

#include <string>
#include <vector>

namespace skyframe::testing {

// Height of the fixture cells at a geographic post: 1 m per arc-second post southward and 2 m
// per post eastward (metres), the same plane at every DTED level, so cells of different
// resolution describe the same ground. Row and column count 3601-post spacings from the
// north-west corner.
inline double fixtureHeight(double row3601, double column3601) {
    return row3601 + 2.0 * column3601;
}

// DTED cells over 33-34 N, 116-115 W with fixtureHeight, made on first use and kept in the
// build tree (creation is atomic, so concurrent tests may race for it). posts is 121, 1201 or
// 3601; the tile stems are "a33w16", "b33w16" and "c33w16" respectively.
const std::string& fixtureCell(int posts);

// The cell north of fixtureCell(121): 34-35 N, stem "d34w16".
const std::string& fixtureNorthCell();

// A fresh, empty folder for one test (removed by the TempFolder's destructor).
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const std::string& path() const { return path_; }
    // path() with a trailing separator, the form the writers take as output prefix.
    std::string prefix() const { return path_ + "/"; }

private:
    std::string path_;
};

// Files in a folder (names only, sorted).
std::vector<std::string> listFolder(const std::string& folder);

// A whole file as text.
using skyframe::test::readText;

} // namespace skyframe::testing
