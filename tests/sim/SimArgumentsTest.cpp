#include "SimArguments.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace skyframe {
namespace {

SimCommand parse(const std::vector<std::string>& args) {
    return parseSimArguments(args, "/samples");
}

std::string usageError(const std::vector<std::string>& args) {
    try {
        parse(args);
    } catch (const UsageError& e) {
        return e.what();
    }
    return "(accepted)";
}

TEST(SimArguments, DefaultsFlyTheSampleRouteLookingDown) {
    const SimCommand c = parse({"out.ts"});
    const SimOptions& o = c.options;
    EXPECT_FALSE(c.help);
    EXPECT_EQ(o.output, "out.ts");
    EXPECT_EQ(o.missionPath, "/samples/mission.xml");
    EXPECT_EQ(o.targetsPath, "/samples/targets.xml");
    EXPECT_FALSE(o.hover.has_value());
    EXPECT_EQ(o.width, 1280);
    EXPECT_EQ(o.height, 720);
    EXPECT_EQ(o.fps, 30);
    EXPECT_EQ(o.speed, 50.0);
    ASSERT_TRUE(o.altitude.has_value());
    EXPECT_EQ(*o.altitude, 5000.0);
    EXPECT_EQ(o.lookTarget, 0);
    EXPECT_EQ(o.ground, GroundKind::Checkerboard);
    EXPECT_EQ(o.markers.radius, 20.0);
    EXPECT_EQ(o.lead, 0);
    EXPECT_EQ(o.klvRate, 0.0);
    EXPECT_FALSE(o.klvGap.has_value());
    EXPECT_FALSE(o.noCameraTags);
    EXPECT_FALSE(o.cutBeforeKeyframe);
    EXPECT_FALSE(o.verticalFov.has_value());
}

TEST(SimArguments, ReadsEveryOption) {
    const SimCommand c = parse({"--hover",
                                "33.4,-115.7,2500",
                                "--heading",
                                "250",
                                "--mission",
                                "m.xml",
                                "--targets",
                                "t.xml",
                                "--speed",
                                "70",
                                "--altitude",
                                "mission",
                                "--start",
                                "3",
                                "--look",
                                "target",
                                "4",
                                "--hfov",
                                "45",
                                "--vfov",
                                "20",
                                "--ground-height",
                                "-30",
                                "--checker-size",
                                "0.002",
                                "--size",
                                "640x360",
                                "--fps",
                                "25",
                                "--duration",
                                "2.5",
                                "--crf",
                                "30",
                                "--ring-radius",
                                "12",
                                "--lead",
                                "-1",
                                "--klv-rate",
                                "7.5",
                                "--klv-jitter",
                                "4",
                                "--klv-gap",
                                "1.5,3",
                                "--no-camera-tags",
                                "--heading-bias",
                                "1",
                                "--cut-before-keyframe",
                                "flight.ts"});
    const SimOptions& o = c.options;
    ASSERT_TRUE(o.hover.has_value());
    EXPECT_EQ(o.hover->latitude, 33.4);
    EXPECT_EQ(o.hover->longitude, -115.7);
    EXPECT_EQ(o.hover->height, 2500.0);
    EXPECT_EQ(o.hoverHeading, 250.0);
    EXPECT_EQ(o.missionPath, "m.xml");
    EXPECT_EQ(o.targetsPath, "t.xml");
    EXPECT_EQ(o.speed, 70.0);
    EXPECT_FALSE(o.altitude.has_value());
    EXPECT_EQ(o.startWaypoint, 3);
    EXPECT_EQ(o.lookTarget, 4);
    EXPECT_EQ(o.horizontalFov, 45.0);
    EXPECT_EQ(*o.verticalFov, 20.0);
    EXPECT_EQ(o.groundHeight, -30.0);
    EXPECT_EQ(o.checkerDegrees, 0.002);
    EXPECT_EQ(o.width, 640);
    EXPECT_EQ(o.height, 360);
    EXPECT_EQ(o.fps, 25);
    EXPECT_EQ(o.duration, 2.5);
    EXPECT_EQ(o.crf, 30);
    EXPECT_EQ(o.markers.radius, 12.0);
    EXPECT_EQ(o.lead, -1);
    EXPECT_EQ(o.klvRate, 7.5);
    EXPECT_EQ(o.klvJitterMs, 4.0);
    ASSERT_TRUE(o.klvGap.has_value());
    EXPECT_EQ(o.klvGap->first, 1.5);
    EXPECT_EQ(o.klvGap->second, 3.0);
    EXPECT_TRUE(o.noCameraTags);
    EXPECT_EQ(o.headingBias, 1.0);
    EXPECT_TRUE(o.cutBeforeKeyframe);
    EXPECT_EQ(o.output, "flight.ts");
}

TEST(SimArguments, ChoosesTheGround) {
    EXPECT_EQ(parse({"o.ts", "--ground", "plain"}).options.ground, GroundKind::Plain);
    const SimOptions terrain = parse({"o.ts", "--dted", "n33.dt1"}).options;
    EXPECT_EQ(terrain.ground, GroundKind::Terrain);
    EXPECT_EQ(terrain.dtedPaths, std::vector<std::string>{"n33.dt1"});
    const SimOptions block = parse({"o.ts", "--dted", "n33.dt1", "--dted", "n34.dt1"}).options;
    EXPECT_EQ(block.ground, GroundKind::Terrain);
    EXPECT_EQ(block.dtedPaths, (std::vector<std::string>{"n33.dt1", "n34.dt1"}));
    EXPECT_EQ(parse({"o.ts", "--look", "target", "2", "--look", "down"}).options.lookTarget, 0);
    const SimOptions ahead =
        parse({"o.ts", "--look", "target", "2", "--look", "forward", "25"}).options;
    EXPECT_EQ(ahead.lookTarget, 0);
    EXPECT_EQ(ahead.lookForward, 25.0);
    EXPECT_FALSE(parse({"o.ts", "--look", "forward", "25", "--look", "down"}).options.lookForward);
    EXPECT_FALSE(
        parse({"o.ts", "--look", "forward", "9", "--look", "target", "1"}).options.lookForward);
}

TEST(SimArguments, HelpNeedsNoOutput) {
    EXPECT_TRUE(parse({"--help"}).help);
    EXPECT_TRUE(parse({"-h"}).help);
    EXPECT_NE(simUsage().find("--lead"), std::string::npos);
    EXPECT_NE(simUsage().find("time of the pose it carries"), std::string::npos);
}

TEST(SimArguments, RefusesWhatItCannotRun) {
    struct Case {
        std::vector<std::string> args;
        const char* says;
    };
    const std::vector<Case> cases = {
        {{}, "no OUTPUT"},
        {{"a.ts", "b.ts"}, "more than one OUTPUT"},
        {{"a.ts", "--bogus"}, "unknown option --bogus"},
        {{"a.ts", "--speed"}, "--speed needs a value"},
        {{"a.ts", "--speed", "0"}, "--speed needs a number from 0.1 to 1000"},
        {{"a.ts", "--speed", "fast"}, "not \"fast\""},
        {{"a.ts", "--hover", "33.4,-115.7"}, "--hover needs LAT,LON,ALT"},
        {{"a.ts", "--hover", "95,0,100"}, "--hover latitude"},
        {{"a.ts", "--altitude", "20000"}, "--altitude"},
        {{"a.ts", "--look", "up"}, "--look needs"},
        {{"a.ts", "--look", "target"}, "needs the target's number"},
        {{"a.ts", "--look", "target", "0"}, "--look target needs a whole number from 1"},
        {{"a.ts", "--look", "forward"}, "degrees below the horizon"},
        {{"a.ts", "--look", "forward", "-5"}, "--look forward needs a number from 0 to 90"},
        {{"a.ts", "--size", "641x360"}, "even"},
        {{"a.ts", "--size", "640"}, "WIDTHxHEIGHT"},
        {{"a.ts", "--hfov", "180"}, "--hfov"},
        {{"a.ts", "--ground", "grass"}, "--ground needs"},
        {{"a.ts", "--dted", "c.dt1", "--ground", "plain"}, "cannot be used together"},
        {{"a.ts", "--fps", "2.5"}, "--fps needs a whole number"},
        {{"a.ts", "--duration", "0"}, "--duration"},
        {{"a.ts", "--klv-rate", "0"}, "--klv-rate needs a number"},
        {{"a.ts", "--klv-gap", "3,1"}, "FROM before TO"},
        {{"a.ts", "--klv-gap", "3"}, "--klv-gap needs FROM,TO"},
        {{"a.ts", "--klv-jitter", "-1"}, "--klv-jitter"},
    };
    for (const Case& c : cases) {
        const std::string message = usageError(c.args);
        EXPECT_NE(message.find(c.says), std::string::npos) << message;
    }
}

} // namespace
} // namespace skyframe
