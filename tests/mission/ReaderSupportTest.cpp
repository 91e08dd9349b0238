#include "mission/ReaderSupport.h"

#include "TestSupport.h"
#include "mission/InputError.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

namespace skyframe {
namespace {

using test::ScratchDir;

std::string readError(const std::string& path) {
    try {
        readTextFile(path);
    } catch (const InputError& e) {
        return e.what();
    }
    return "";
}

TEST(ReadTextFile, RefusesAFileOverTheCapBeforeReadingIt) {
    ScratchDir dir;
    const std::string path = dir.write("huge.xml", "<CRD/>");
    // Sparse: 64 MiB and one byte on the directory entry, no blocks read or written.
    std::filesystem::resize_file(path, kMaxInputBytes + 1);
    EXPECT_EQ(readError(path), path + ": file is 67108865 bytes, more than the 64 MiB a mission "
                                      "or targets file may have");
    std::filesystem::resize_file(path, kMaxInputBytes);
    EXPECT_EQ(readTextFile(path).size(), kMaxInputBytes);
}

// Regression: /dev/zero as the mission ended in std::bad_alloc after eating the memory.
TEST(ReadTextFile, StopsAnEndlessDeviceAtTheCap) {
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(readError("/dev/zero"), "/dev/zero: file is endless or larger, more than the 64 "
                                      "MiB a mission or targets file may have");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
}

struct NumberCase {
    const char* text;
    bool accepted;
    double value;
};

TEST(ParseNumber, TakesOnlyAWholeFiniteDecimal) {
    const std::vector<NumberCase> cases = {
        {"12", true, 12.0},    {" 250.5\n", true, 250.5}, {"-5.0", true, -5.0}, {"+7", true, 7.0},
        {"1e3", true, 1000.0}, {".5", true, 0.5},         {"0.9", true, 0.9},   {"", false, 0},
        {"  \t", false, 0},    {"high", false, 0},        {"12abc", false, 0},  {"2 3", false, 0},
        {"nan", false, 0},     {"inf", false, 0},         {"-inf", false, 0},   {"1e999", false, 0},
        {"0x10", false, 0},    {"--1", false, 0},         {"+-1", false, 0},    {"1,5", false, 0},
        {"&amp;", false, 0},
    };
    for (const NumberCase& c : cases) {
        SCOPED_TRACE(std::string("\"") + c.text + "\"");
        double value = -123.0;
        EXPECT_EQ(parseNumber(c.text, value), c.accepted);
        EXPECT_EQ(value, c.accepted ? c.value : -123.0);
    }
}

TEST(UntilTag, CutsAtTheClosingTag) {
    EXPECT_EQ(untilTag("12</ID>\n"), "12");
    EXPECT_EQ(untilTag("E0030000</LO"), "E0030000");
    EXPECT_EQ(untilTag("N40 1230.000"), "N40 1230.000");
    EXPECT_EQ(untilTag("</ID>"), "");
}

TEST(HeightProblem, NamesTheHeightOutsideTheRange) {
    EXPECT_EQ(heightProblem("altitude", kMinHeight), "");
    EXPECT_EQ(heightProblem("altitude", kMaxHeight), "");
    EXPECT_EQ(heightProblem("altitude", 100000.5),
              "altitude 100000.5 m is outside -11000 to 100000 m");
    EXPECT_EQ(heightProblem("height", -11001.0), "height -11001 m is outside -11000 to 100000 m");
}

TEST(CheckTextBytes, AcceptsTextAndUtf8) {
    EXPECT_NO_THROW(checkTextBytes("<CRD>\r\n\t\xC3\xA9\xEF\xBB\xBF</CRD>", "f"));
    EXPECT_NO_THROW(checkTextBytes("\xEF\xBB\xBF<CRD/>", "f"));
}

} // namespace
} // namespace skyframe
