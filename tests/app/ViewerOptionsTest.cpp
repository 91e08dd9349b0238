#include "app/ViewerOptions.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace skyframe {
namespace {

TEST(ViewerOptions, WithoutOptionsPlaysAsBefore) {
    const ViewerOptions o = parseViewerOptions({"v.ts", "m.xml", "t.xml", "terrain.osgb"});
    EXPECT_EQ(o.files.size(), 4u);
    EXPECT_FALSE(o.playback.realtime);
    EXPECT_FALSE(o.playback.everyPicture);
    EXPECT_EQ(o.playback.sync.mode, SyncMode::Auto);
    EXPECT_EQ(o.playback.sync.maxGapSeconds, 2.0);
    EXPECT_EQ(o.playback.media.timeoutSeconds, 5.0);
    EXPECT_EQ(o.playback.media.dataStream, -1);
    EXPECT_TRUE(o.snapshotTimes.empty());
}

TEST(ViewerOptions, ReadsEveryOptionAnywhere) {
    const ViewerOptions o =
        parseViewerOptions({"--realtime", "v.ts", "--sync", "queue", "m.xml", "--max-gap", "0.5",
                            "--klv-offset", "-0.25", "t.xml", "--every-picture", "--data-stream",
                            "3", "--timeout", "2", "--snapshot", "4,1.5", "shots", "terrain.osgb"});
    EXPECT_EQ(o.files, (std::vector<std::string>{"v.ts", "m.xml", "t.xml", "terrain.osgb"}));
    EXPECT_TRUE(o.playback.realtime);
    EXPECT_TRUE(o.playback.everyPicture);
    EXPECT_EQ(o.playback.sync.mode, SyncMode::Queue);
    EXPECT_EQ(o.playback.sync.maxGapSeconds, 0.5);
    EXPECT_EQ(o.playback.sync.klvOffsetSeconds, -0.25);
    EXPECT_EQ(o.playback.media.dataStream, 3);
    EXPECT_EQ(o.playback.media.timeoutSeconds, 2.0);
    EXPECT_EQ(o.snapshotTimes, (std::vector<double>{1.5, 4.0}));
    EXPECT_EQ(o.snapshotDir, "shots");
    EXPECT_TRUE(parseViewerOptions({"--help"}).help);
}

TEST(ViewerOptions, ReadsTheExportOptions) {
    const ViewerOptions plain = parseViewerOptions({"v.ts", "m.xml", "t.xml", "terrain.osgb"});
    EXPECT_EQ(plain.exportPath, "");
    EXPECT_EQ(plain.crf, 20);
    EXPECT_FALSE(plain.hud);
    EXPECT_FALSE(plain.quiet);
    const ViewerOptions o = parseViewerOptions({"v.ts", "--export", "out/a.ts", "m.xml", "--crf",
                                                "0", "--hud", "t.xml", "-q", "terrain.osgb"});
    EXPECT_EQ(o.files, (std::vector<std::string>{"v.ts", "m.xml", "t.xml", "terrain.osgb"}));
    EXPECT_EQ(o.exportPath, "out/a.ts");
    EXPECT_EQ(o.crf, 0);
    EXPECT_TRUE(o.hud);
    EXPECT_TRUE(o.quiet);
}

TEST(ViewerOptions, NamesTheBadOptionInOneLine) {
    struct Case {
        std::vector<std::string> args;
        const char* says;
    };
    const std::vector<Case> cases = {
        {{"--fast"}, "unknown option --fast"},
        {{"--sync", "clock"}, "--sync takes time or queue"},
        {{"--sync"}, "--sync needs a value"},
        {{"--max-gap", "0"}, "--max-gap needs a positive number"},
        {{"--max-gap", "2s"}, "--max-gap needs a number, not \"2s\""},
        {{"--klv-offset", "nan"}, "--klv-offset needs a number"},
        {{"--data-stream", "-1"}, "--data-stream needs a stream number"},
        {{"--data-stream", "1.5"}, "--data-stream needs a stream number"},
        {{"--timeout", "-3"}, "--timeout needs a positive number"},
        {{"--snapshot", "1,x", "dir"}, "--snapshot needs a number"},
        {{"--snapshot", "-1", "dir"}, "must not be negative"},
        {{"--snapshot", "1"}, "--snapshot needs a value"},
        {{"--export"}, "--export needs a value"},
        {{"--export", ""}, "--export needs a file name"},
        {{"--crf", "52"}, "--crf needs a whole number from 0 to 51"},
        {{"--crf", "-1"}, "--crf needs a whole number from 0 to 51"},
        {{"--crf", "18.5"}, "--crf needs a whole number from 0 to 51"},
    };
    for (const Case& c : cases) {
        try {
            parseViewerOptions(c.args);
            ADD_FAILURE() << "accepted: " << c.args[0];
        } catch (const UsageError& e) {
            const std::string message = e.what();
            EXPECT_NE(message.find(c.says), std::string::npos) << message;
            EXPECT_EQ(message.find('\n'), std::string::npos) << message;
        }
    }
}

} // namespace
} // namespace skyframe
