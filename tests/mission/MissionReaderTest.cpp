#include "mission/MissionReader.h"

#include "TestSupport.h"
#include "camera/Geodesy.h"
#include "mission/InputError.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace skyframe {
namespace {

using test::ScratchDir;
using test::toGeodetic;

// Point i of a generated mission lies at N33 mm ss, W115 mm 30 with minutes i % 60 and
// seconds i / 60.
std::string latitudeText(int i) {
    char text[32];
    std::snprintf(text, sizeof text, "N33 %02d%06.3f", i % 60, static_cast<double>(i / 60));
    return text;
}
std::string longitudeText(int i) {
    char text[32];
    std::snprintf(text, sizeof text, "W115%02d30.000", i % 60);
    return text;
}
double latitudeOf(int i) {
    return 33.0 + (i % 60) / 60.0 + (i / 60) / 3600.0;
}
double longitudeOf(int i) {
    return -(115.0 + (i % 60) / 60.0 + 30.0 / 3600.0);
}

std::string pointXml(const std::string& id, int i) {
    return "        <POINT>\n          <ID>" + id +
           "</ID>\n          <WGS84_POSITION>\n            <LATITUDE>" + latitudeText(i) +
           "</LATITUDE>\n            <LONGITUDE>" + longitudeText(i) +
           "</LONGITUDE>\n          </WGS84_POSITION>\n        </POINT>\n";
}

std::string intentXml(const std::string& feet, const std::string& name = "INTENT") {
    return "            <" + name + "><COMMANDED_ALTITUDE><ALTITUDE><VALUE>" + feet +
           "</VALUE></ALTITUDE></COMMANDED_ALTITUDE></" + name + ">\n";
}

std::string missionXml(const std::string& points, const std::string& intents) {
    return "<CRD>\n  <MISSION_LIST>\n    <MISSION>\n      <POINT_LIST>\n" + points +
           "      </POINT_LIST>\n      <ROUTE_LIST>\n        <ROUTE>\n          "
           "<INTENT_LIST>\n" +
           intents + "          </INTENT_LIST>\n        </ROUTE>\n      </ROUTE_LIST>\n" +
           "    </MISSION>\n  </MISSION_LIST>\n</CRD>\n";
}

// A mission of `points` points with IDs 1, 2, ... and intents of feetOfLeg(k) feet.
std::string mission(int points, int intents, double (*feetOfLeg)(int) = nullptr) {
    std::string p, in;
    for (int i = 0; i < points; ++i) {
        p += pointXml(std::to_string(i + 1), i);
    }
    for (int k = 0; k < intents; ++k) {
        char feet[32];
        std::snprintf(feet, sizeof feet, "%g", feetOfLeg ? feetOfLeg(k) : 7000.0 + 10.0 * k);
        in += intentXml(feet);
    }
    return missionXml(p, in);
}

osg::ref_ptr<osg::Vec3Array> readText(const std::string& text) {
    ScratchDir dir;
    return readMission(dir.write("mission.xml", text));
}

osg::Vec3f expectedPoint(double lat, double lon, double h) {
    const Eigen::Vector3d p = geodeticToEcef(lat, lon, h);
    return osg::Vec3f(static_cast<float>(p.x()), static_cast<float>(p.y()),
                      static_cast<float>(p.z()));
}

TEST(ReadMission, WaypointsAtTheCommandedAltitudeOfTheLegEndingThere) {
    const auto route = readText(mission(49, 48));
    ASSERT_EQ(route->size(), 49u);
    for (int i = 0; i < 49; ++i) {
        SCOPED_TRACE(i);
        const double height = i == 0 ? 0.0 : (7000.0 + 10.0 * (i - 1)) * 0.3048;
        EXPECT_EQ((*route)[i], expectedPoint(latitudeOf(i), longitudeOf(i), height));
    }
}

TEST(ReadMission, FeetBecomeMetresAndTheFirstPointLiesOnTheEllipsoid) {
    const auto route = readText(mission(49, 48, [](int) { return 1000.0; }));
    ASSERT_EQ(route->size(), 49u);
    // Checked through an independent inverse: 1000 ft is 304.8 m, and point 0 has no leg
    // ending at it, so the first intent does not lift it.
    const test::Geodetic first = toGeodetic((*route)[0]);
    EXPECT_NEAR(first.height, 0.0, 0.8);
    EXPECT_NEAR(first.latitude, 33.0, 1e-5);
    EXPECT_NEAR(first.longitude, -(115.0 + 30.0 / 3600), 1e-5);
    for (int i = 1; i < 49; ++i) {
        EXPECT_NEAR(toGeodetic((*route)[i]).height, 304.8, 0.8) << i;
    }
}

TEST(ReadMission, RouteIsTheFirst49Points) {
    const auto route = readText(mission(60, 59));
    ASSERT_EQ(route->size(), 49u);
    EXPECT_EQ((*route)[48],
              expectedPoint(latitudeOf(48), longitudeOf(48), (7000.0 + 470) * 0.3048));

    // Regression: a point list longer than 1000 overflowed a fixed table.
    EXPECT_EQ(readText(mission(1100, 48))->size(), 49u);
}

TEST(ReadMission, ShortMissionGivesARouteOfAllItsPoints) {
    const auto route = readText(mission(10, 9));
    ASSERT_EQ(route->size(), 10u);
    EXPECT_EQ((*route)[9], expectedPoint(latitudeOf(9), longitudeOf(9), (7000.0 + 80) * 0.3048));
    EXPECT_EQ(readText(mission(1, 0))->size(), 1u);
    EXPECT_EQ(readText(mission(0, 0))->size(), 0u);
}

TEST(ReadMission, IntentsBeyondTheRouteAreIgnored) {
    EXPECT_EQ(readText(mission(49, 60))->size(), 49u);
    // Intents past the N-th are not even looked at.
    std::string points;
    for (int i = 0; i < 10; ++i) {
        points += pointXml(std::to_string(i + 1), i);
    }
    std::string intents;
    for (int k = 0; k < 9; ++k) {
        intents += intentXml("1000");
    }
    intents += intentXml("1000") + "<INTENT/>\n<INTENT/>\n";
    EXPECT_EQ(readText(missionXml(points, intents))->size(), 10u);
}

TEST(ReadMission, IntentListIsWalkedElementByElementInOrder) {
    std::string points;
    for (int i = 0; i < 4; ++i) {
        points += pointXml(std::to_string(i + 1), i);
    }
    const std::string intents =
        intentXml("1000") + intentXml("2000", "LEG") + intentXml("", "STEP") + "<!-- c -->\n";
    const auto route = readText(missionXml(points, intents));
    ASSERT_EQ(route->size(), 4u);
    EXPECT_EQ((*route)[1], expectedPoint(latitudeOf(1), longitudeOf(1), 1000 * 0.3048));
    EXPECT_EQ((*route)[2], expectedPoint(latitudeOf(2), longitudeOf(2), 2000 * 0.3048));
    // An element without value text gives 0.
    EXPECT_EQ((*route)[3], expectedPoint(latitudeOf(3), longitudeOf(3), 0.0));
}

// Regression: with a non-positive ID the positions of every element were stored into tables
// sized for the positive ones.
TEST(ReadMission, PointsAreTheFirstNElementsWhereNCountsPositiveIds) {
    std::string points;
    for (int i = 0; i < 50; ++i) {
        points += i == 3 ? pointXml("0", i) : pointXml(std::to_string(i + 1), i);
    }
    // The last element is past N = 49 and is never read.
    points += "        <POINT><ID>-1</ID></POINT>\n";
    std::string intents;
    for (int k = 0; k < 48; ++k) {
        intents += intentXml("1000");
    }
    const auto route = readText(missionXml(points, intents));
    ASSERT_EQ(route->size(), 49u);
    EXPECT_EQ((*route)[3], expectedPoint(latitudeOf(3), longitudeOf(3), 304.8));
    EXPECT_EQ((*route)[48], expectedPoint(latitudeOf(48), longitudeOf(48), 304.8));
}

struct BadCase {
    const char* name;
    std::string content;
    std::vector<std::string> messageParts;
};

TEST(ReadMission, BadInputThrowsInputErrorSayingWhereAndWhat) {
    std::string noLongitude = mission(49, 48);
    const std::size_t second = noLongitude.find("<LONGITUDE>", noLongitude.find("<LONGITUDE>") + 1);
    noLongitude.erase(second, noLongitude.find('\n', second) - second);

    std::string noValue = mission(49, 48);
    std::size_t intent = noValue.find("<INTENT>");
    intent = noValue.find("<INTENT>", intent + 1);
    intent = noValue.find("<INTENT>", intent + 1);
    const std::size_t value = noValue.find("<VALUE>", intent);
    noValue.erase(value, noValue.find("</VALUE>", value) + 8 - value);

    std::string highIntent = mission(3, 2);
    const std::size_t secondValue = highIntent.find("<VALUE>", highIntent.find("<VALUE>") + 1) + 7;
    highIntent.replace(secondValue, highIntent.find('<', secondValue) - secondValue, "high");
    std::string n3 = mission(3, 2);
    const std::size_t firstLatitude = n3.find("<LATITUDE>") + 10;
    n3.replace(firstLatitude, n3.find('<', firstLatitude) - firstLatitude, "N3");

    const std::vector<BadCase> cases = {
        {"empty", "", {"file is empty"}},
        {"malformed",
         "<CRD>\n<MISSION_LIST>\n<MISSION>\n</MISSION_LIST",
         {"malformed XML", "line 4"}},
        {"no mission list", "<CRD/>", {"missing element CRD/MISSION_LIST"}},
        {"no mission", "<CRD><MISSION_LIST/></CRD>", {"missing element CRD/MISSION_LIST/MISSION"}},
        {"no point list",
         "<CRD><MISSION_LIST><MISSION/></MISSION_LIST></CRD>",
         {"missing element CRD/MISSION_LIST/MISSION/POINT_LIST"}},
        {"no intent list",
         "<CRD><MISSION_LIST><MISSION><POINT_LIST/><ROUTE_LIST><ROUTE/></ROUTE_LIST>"
         "</MISSION></MISSION_LIST></CRD>",
         {"missing element CRD/MISSION_LIST/MISSION/ROUTE_LIST/ROUTE/INTENT_LIST"}},
        {"no longitude",
         noLongitude,
         {"missing element CRD/MISSION_LIST/MISSION/POINT_LIST/POINT/WGS84_POSITION/LONGITUDE",
          "in point 2 (line 12)"}},
        {"no value",
         noValue,
         {"missing element "
          "CRD/MISSION_LIST/MISSION/ROUTE_LIST/ROUTE/INTENT_LIST/INTENT/COMMANDED_ALTITUDE/"
          "ALTITUDE/VALUE",
          "in intent 3"}},
        {"too few intents",
         mission(49, 20),
         {"49 points and 20 intents: a route of 49 points needs 48 intents"}},
        {"too few intents, long mission", mission(60, 47), {"60 points and 47 intents"}},
        {"too few intents, short mission", mission(5, 3), {"5 points and 3 intents"}},
        {"altitude beyond float range",
         mission(3, 2, [](int) { return 1e300; }),
         {"no usable position in point 2", "height 3.048e+299 m is outside"}},
        {"altitude not a number",
         highIntent,
         {"commanded altitude \"high\" is not a number in intent 2"}},
        {"latitude N3", n3, {"no usable position in point 1 (line 5): latitude \"N3\""}},
        {"mismatched point list end tag",
         "<CRD><MISSION_LIST><MISSION><POINT_LIST>\n</POINT_LST></MISSION></MISSION_LIST></CRD>",
         {"malformed XML at line 2 (</POINT_LST>)"}},
    };
    for (const BadCase& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchDir dir;
        const std::string path = dir.write("bad.xml", c.content);
        try {
            readMission(path);
            ADD_FAILURE() << "no error";
        } catch (const InputError& e) {
            const std::string message = e.what();
            EXPECT_EQ(message.rfind(path + ": ", 0), 0u) << message;
            for (const std::string& part : c.messageParts) {
                EXPECT_NE(message.find(part), std::string::npos) << message;
            }
        }
    }
}

TEST(ReadMission, UnreadableFileThrowsInputError) {
    ScratchDir dir;
    EXPECT_THROW(readMission(dir.path() + "/none.xml"), InputError);
}

} // namespace
} // namespace skyframe
