#include "terrain/TerrainManifest.h"

#include "TerrainFixtures.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace skyframe {
namespace {

namespace fs = std::filesystem;

constexpr const char* kHeader = "skyframe terrain manifest 1\n";

TerrainManifest parseText(const std::string& text, const std::string& folder = "/trees/a") {
    std::istringstream in(text);
    return TerrainManifest::parse(in, "m", folder);
}

void writeFile(const fs::path& path, const std::string& bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

TEST(TerrainManifest, ReadsEntriesAndSkipsTheTilersRecords) {
    const TerrainManifest m =
        parseText(std::string(kHeader) + "# cell n33_w116 level 1 options geoid\n"
                                         "5213 6cb7f577 terrain.osgb\n"
                                         "#\n"
                                         "0 00000000 n33_w116/L3/x 0 y 1.osgb\n"
                                         "18446744073709551615 ffffffff n33_w116/0.osgb");
    EXPECT_EQ(m.size(), 3u);
    EXPECT_EQ(m.folder(), "/trees/a");
    const ManifestEntry* root = m.find("terrain.osgb");
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(root->size, 5213u);
    EXPECT_EQ(root->crc32, 0x6cb7f577u);
    // A path may hold spaces: it is the rest of the line.
    ASSERT_NE(m.find("n33_w116/L3/x 0 y 1.osgb"), nullptr);
    const ManifestEntry* largest = m.find("n33_w116/0.osgb");
    ASSERT_NE(largest, nullptr);
    EXPECT_EQ(largest->size, 18446744073709551615u);
    EXPECT_EQ(largest->crc32, 0xffffffffu);
    EXPECT_EQ(m.find("terrain.osgt"), nullptr);
    EXPECT_EQ(m.find("./terrain.osgb"), nullptr);
}

TEST(TerrainManifest, RefusesEveryLineThatIsNotExactlyWhatTheTilerWrites) {
    struct Case {
        std::string text;
        const char* message;
    };
    const std::string h = kHeader;
    const Case cases[] = {
        {"", "m: empty, not a terrain manifest"},
        {"skyframe terrain manifest 2\n", "m: line 1: manifest version \"2\" is not supported"},
        {"12 0badf00d a.osgb\n", "m: line 1: not a terrain manifest"},
        {"skyframe terrain manifest 1 \n", "m: line 1: manifest version \"1 \""},
        {h + "12 0badf00d\n", "m: line 2: expected \"<size> <crc32> <path>\""},
        {h + "\n", "m: line 2: expected"},
        {h + "12\t0badf00d\ta.osgb\n", "m: line 2: expected"},
        {h + "# fine\nx12 0badf00d a.osgb\n", "m: line 3: the size \"x12\" is not a whole number"},
        {h + "-1 0badf00d a.osgb\n", "line 2: the size \"-1\""},
        {h + "+1 0badf00d a.osgb\n", "line 2: the size \"+1\""},
        {h + "18446744073709551616 0badf00d a.osgb\n", "line 2: the size \"18446744073709551616\""},
        {h + "12 0BADF00D a.osgb\n", "line 2: the crc32 \"0BADF00D\" is not 8 lowercase"},
        {h + "12 badf00d a.osgb\n", "line 2: the crc32 \"badf00d\""},
        {h + "12 0badf00d0 a.osgb\n", "line 2: the crc32 \"0badf00d0\""},
        {h + "12  0badf00d a.osgb\n", "line 2: the crc32 \"\""},
        {h + "12 0badf00d \n", "line 2: no path"},
        {h + "12 0badf00d /etc/passwd\n", "line 2: an absolute path"},
        {h + "12 0badf00d ../x.osgb\n", "line 2: a path that climbs out"},
        {h + "12 0badf00d c/../../x.osgb\n", "line 2: a path that climbs out"},
        {h + "12 0badf00d c//x.osgb\n", "line 2: a path with an empty or \".\" step"},
        {h + "12 0badf00d ./x.osgb\n", "line 2: a path with an empty or \".\" step"},
        {h + "12 0badf00d c/\n", "line 2: a path with an empty or \".\" step"},
        {h + "12 0badf00d a.osgb\r\n", "line 2: a control character"},
        {h + "1 0badf00d a.osgb\n2 0badf00d b.osgb\n3 0badf00d a.osgb\n",
         "line 4: a.osgb is listed twice (first on line 2)"},
    };
    for (const Case& c : cases) {
        try {
            parseText(c.text);
            ADD_FAILURE() << "accepted: " << c.text;
        } catch (const ManifestError& e) {
            EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos)
                << "text: " << c.text << "\nmessage: " << e.what();
        }
    }
}

TEST(TerrainManifest, TellsWhetherAPathLiesInsideItsFolder) {
    const TerrainManifest m = parseText(kHeader, "/trees/a/");
    struct Case {
        const char* path;
        bool inside;
        const char* relative;
    };
    for (const Case& c :
         {Case{"/trees/a/terrain.osgb", true, "terrain.osgb"},
          Case{"/trees/a/c/1.osgb", true, "c/1.osgb"},
          Case{"/trees/a/c/../c/./2.osgb", true, "c/2.osgb"},
          Case{"/trees/b/../a/c/1.osgb", true, "c/1.osgb"}, Case{"/trees/a", false, ""},
          Case{"/trees/a/", false, ""}, Case{"/trees/ab/c.osgb", false, ""},
          Case{"/trees/a/../b/c.osgb", false, ""}, Case{"/c.osgb", false, ""}}) {
        std::string relative;
        EXPECT_EQ(m.contains(c.path, relative), c.inside) << c.path;
        if (c.inside) {
            EXPECT_EQ(relative, c.relative) << c.path;
        }
    }
    // Relative paths are taken from the working directory, as the readers take them.
    const TerrainManifest here = parseText(kHeader, "tree");
    std::string relative;
    EXPECT_EQ(here.folder(), (fs::current_path() / "tree").string());
    EXPECT_TRUE(here.contains("tree/c/1.osgb", relative));
    EXPECT_EQ(relative, "c/1.osgb");
}

TEST(TerrainManifest, ReadsAFileRelativeToItsFolder) {
    testing::TempFolder folder;
    const fs::path path = fs::path(folder.path()) / "tree" / TerrainManifest::kFileName;
    writeFile(path, std::string(kHeader) + "9 cbf43926 c/1.osgb\n");
    const TerrainManifest m = TerrainManifest::read(path.string());
    EXPECT_EQ(m.folder(), (fs::path(folder.path()) / "tree").string());
    ASSERT_NE(m.find("c/1.osgb"), nullptr);

    const std::string missing = folder.path() + "/none/terrain.manifest";
    try {
        TerrainManifest::read(missing);
        ADD_FAILURE() << "read a missing manifest";
    } catch (const ManifestError& e) {
        EXPECT_EQ(std::string(e.what()),
                  missing + ": cannot open the manifest (No such file or directory)");
    }
}

// The check value of CRC-32 as zlib computes it (ISO-HDLC): "123456789" gives cbf43926.
TEST(TerrainFileCheck, TakesOnlyTheFileTheManifestDescribes) {
    testing::TempFolder folder;
    const ManifestEntry entry{9, 0xcbf43926u};
    struct Case {
        const char* name;
        const char* bytes; // null: no file at all
        const char* problem;
    };
    const Case cases[] = {
        {"sound", "123456789", ""},
        {"cut", "12345", "is 5 bytes, not 9 as the manifest says"},
        {"padded", "1234567890", "is 10 bytes, not 9 as the manifest says"},
        {"flipped byte", "123456788", "has crc32 "},
        {"empty", "", "is 0 bytes, not 9 as the manifest says"},
        {"missing", nullptr, "cannot be read (No such file or directory)"},
    };
    for (const Case& c : cases) {
        const fs::path path = fs::path(folder.path()) / c.name;
        if (c.bytes) {
            writeFile(path, c.bytes);
        }
        std::string bytes;
        const std::string problem = checkTerrainFile(path.string(), entry, &bytes);
        if (*c.problem == '\0') {
            EXPECT_EQ(problem, "") << c.name;
            EXPECT_EQ(bytes, c.bytes) << c.name;
        } else {
            EXPECT_EQ(problem.rfind(c.problem, 0), 0u) << c.name << ": " << problem;
        }
    }
    const fs::path flipped = fs::path(folder.path()) / "flipped byte";
    EXPECT_NE(checkTerrainFile(flipped.string(), entry).find(", not cbf43926 as the manifest says"),
              std::string::npos);
    EXPECT_EQ(checkTerrainFile(folder.path(), entry), "is not a regular file");
    EXPECT_EQ(checkTerrainFile((fs::path(folder.path()) / "empty").string(), ManifestEntry{0, 0}),
              "");
}

// Files longer than one read block: the crc over the blocks is the crc of the whole, and one
// flipped bit anywhere is found.
TEST(TerrainFileCheck, ChecksFilesOfManyBlocks) {
    testing::TempFolder folder;
    std::string content(300007, '\0');
    for (std::size_t i = 0; i < content.size(); ++i) {
        content[i] = static_cast<char>((i * 7919u) >> 3);
    }
    const uLong whole = crc32(0L, reinterpret_cast<const Bytef*>(content.data()),
                              static_cast<uInt>(content.size()));
    const ManifestEntry entry{content.size(), static_cast<std::uint32_t>(whole)};
    const fs::path path = fs::path(folder.path()) / "big.osgb";
    writeFile(path, content);
    std::string bytes;
    EXPECT_EQ(checkTerrainFile(path.string(), entry, &bytes), "");
    EXPECT_TRUE(bytes == content);
    for (const std::size_t at : {std::size_t{0}, std::size_t{65535}, std::size_t{65536},
                                 std::size_t{200000}, content.size() - 1}) {
        std::string damaged = content;
        damaged[at] = static_cast<char>(damaged[at] ^ 0x10);
        writeFile(path, damaged);
        EXPECT_EQ(checkTerrainFile(path.string(), entry).rfind("has crc32 ", 0), 0u) << at;
    }
}

TEST(TerrainFileCheck, WritesTheCrcAsTheManifestDoes) {
    EXPECT_EQ(crc32Hex(0), "00000000");
    EXPECT_EQ(crc32Hex(0xcbf43926u), "cbf43926");
    EXPECT_EQ(crc32Hex(0xffffffffu), "ffffffff");
    EXPECT_EQ(crc32Hex(0x0000abcdu), "0000abcd");
}

} // namespace
} // namespace skyframe
