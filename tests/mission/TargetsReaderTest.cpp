#include "mission/TargetsReader.h"

#include "TestSupport.h"
#include "camera/Geodesy.h"
#include "mission/InputError.h"

#include <gtest/gtest.h>

#include <cmath>
#include <stdexcept>
#include <string>
#include <vector>

namespace skyframe {
namespace {

using test::ScratchDir;
using test::toGeodetic;

struct TargetEntry {
    std::string id, latitude, longitude, altitude, description;
};

std::string targetXml(const TargetEntry& t) {
    return "    <TARGET>\n      <ID>" + t.id + "</ID>\n      <WGS84_POSITION>\n        <LATITUDE>" +
           t.latitude + "</LATITUDE>\n        <LONGITUDE>" + t.longitude +
           "</LONGITUDE>\n        <ALTITUDE><VALUE>" + t.altitude +
           "</VALUE></ALTITUDE>\n      </WGS84_POSITION>\n      <DESCRIPTION>" + t.description +
           "</DESCRIPTION>\n    </TARGET>\n";
}

std::string targetsFile(const std::vector<TargetEntry>& targets) {
    std::string text = "<?xml version=\"1.0\"?>\n<CRD>\n  <TARGETS_LIST>\n";
    for (const TargetEntry& t : targets) {
        text += targetXml(t);
    }
    return text + "  </TARGETS_LIST>\n</CRD>\n";
}

TargetEntry target(const std::string& id, const std::string& description = "Bridge") {
    return {id, "N33 3012.500", "W1155423.000", "-5.0", description};
}

osg::Vec3f expectedPoint(double lat, double lon, double h) {
    const Eigen::Vector3d p = geodeticToEcef(lat, lon, h);
    return osg::Vec3f(static_cast<float>(p.x()), static_cast<float>(p.y()),
                      static_cast<float>(p.z()));
}

std::string windowOf(const std::string& xml, std::size_t offset, std::size_t length) {
    std::vector<char> buffer(xml.begin(), xml.end());
    buffer.push_back('\0');
    rapidxml::xml_document<char> document;
    document.parse<0>(buffer.data());
    return elementWindow(*document.first_node(), offset, length);
}

// Reads text as a targets file, through a real file.
struct Read {
    osg::ref_ptr<osg::Vec3Array> positions;
    std::vector<std::string> names;
    osg::ref_ptr<osg::Vec3Array> references = new osg::Vec3Array;
};
Read readText(const std::string& text) {
    ScratchDir dir;
    Read r;
    r.positions = readTargets(dir.write("targets.xml", text), r.names, *r.references);
    return r;
}

struct AngleCase {
    const char* text;
    bool latitude;
    double degrees;
};

TEST(ParseDegreesMinutesSeconds, ConvertsTextForms) {
    const std::vector<AngleCase> cases = {
        {"W0030000.000", false, -3.0},
        {"E0031230.000", false, 3.0 + 12.0 / 60 + 30.0 / 3600},
        {"e0031230.000", false, -(3.0 + 12.0 / 60 + 30.0 / 3600)}, // only upper-case E is east
        {"E1795959.999", false, 179.0 + 59.0 / 60 + 59.999 / 3600},
        {"E0030000", false, 3.0},     // shorter than the window: seconds 0
        {"E0030000</LO", false, 3.0}, // the closing tag stops the conversion
        {"E0031230.5</", false, 3.0 + 12.0 / 60 + 30.5 / 3600},
        {"N40 1230.000", true, 40.0 + 12.0 / 60 + 30.0 / 3600},
        {"N40x1230.000", true, 40.0 + 12.0 / 60 + 30.0 / 3600}, // position 3 is not read
        {"N0401230.000", true, 4.0 + 12.0 / 60 + 30.0 / 3600},  // two degree digits only
        {"S33 3000.000", true, -33.5},
        {"n33 3000.000", true, -33.5},
        {"N33 3000.000", true, 33.5},
        {"N90 0000.000", true, 90.0},
        {"W1800000.000", false, -180.0},
    };
    for (const AngleCase& c : cases) {
        SCOPED_TRACE(c.text);
        const std::vector<std::string> text{c.text}, none{"E0000000.000"};
        const GeodeticDegrees d = c.latitude ? parseDegreesMinutesSeconds(text, none)
                                             : parseDegreesMinutesSeconds(none, text);
        EXPECT_DOUBLE_EQ(c.latitude ? d.latitudes[0] : d.longitudes[0], c.degrees);
    }
}

struct RefusedAngle {
    const char* text;
    bool latitude;
    const char* fault;
};

TEST(ParseAngle, RefusesTextThatIsNotAnAngle) {
    // Each of these once became a number (atof reads what it can, 0 for the rest), so a
    // typing error flew the route from the equator.
    const std::vector<RefusedAngle> cases = {
        {"", true, "is empty"},
        {"</LATITUDE>", true, "is empty"},
        {"N33 30\n0.000", true, "\"N33 30\\n0.000\": the seconds are not a number"},
        {"NAB CDEFGHIJ", true, "degrees are not 2 digits"},
        {"N3", true, "degrees are not 2 digits"},
        {"N33", true, "minutes are not 2 digits"},
        {"Nxx", true, "degrees are not 2 digits"},
        {"W!!!", false, "degrees are not 3 digits"},
        {"E003", false, "minutes are not 2 digits"},
        {"E003 000.000", false, "minutes are not 2 digits"},
        {"N33 30nan000", true, "seconds are not a number"},
        {"N33 301e3000", true, "seconds are not a number"},
        {"N33 30-1.000", true, "seconds are not a number"},
        {"N33 3012.5.0", true, "seconds are not a number"},
        {"N33 30 1.000", true, "seconds are not a number"},
        {"N-3 3000.000", true, "degrees are not 2 digits"},
        {"933 3000.000", true, "not a hemisphere letter"},
        {" N33 3000.00", true, "not a hemisphere letter"},
        {"N99 9999.999", true, "below 60"},
        {"N33 6000.000", true, "below 60"},
        {"N33 0060.000", true, "below 60"},
        {"N91 0000.000", true, "beyond 90 degrees"},
        {"S90 0000.001", true, "beyond 90 degrees"},
        {"E1800000.001", false, "beyond 180 degrees"},
        {"W9990000.000", false, "beyond 180 degrees"},
    };
    for (const RefusedAngle& c : cases) {
        SCOPED_TRACE(c.text);
        try {
            parseAngle(c.text, c.latitude ? AngleKind::Latitude : AngleKind::Longitude);
            ADD_FAILURE() << "accepted";
        } catch (const std::invalid_argument& e) {
            const std::string message = e.what();
            const std::string named = std::string(c.latitude ? "latitude" : "longitude") + " \"";
            EXPECT_EQ(message.rfind(named, 0), 0u) << message;
            EXPECT_NE(message.find(c.fault), std::string::npos) << message;
        }
    }
}

TEST(ParseDegreesMinutesSeconds, KeepsOrderAndRefusesUnequalLists) {
    const GeodeticDegrees d = parseDegreesMinutesSeconds({"N10 0000.000", "N20 3000.000"},
                                                         {"E0050000.000", "W0060000.000"});
    EXPECT_EQ(d.latitudes, (std::vector<double>{10.0, 20.5}));
    EXPECT_EQ(d.longitudes, (std::vector<double>{5.0, -6.0}));
    EXPECT_THROW(parseDegreesMinutesSeconds({"N10 0000.000"}, {}), std::invalid_argument);
}

TEST(ElementWindow, CutsThePrintedElement) {
    EXPECT_EQ(windowOf("<ID>12</ID>", 4, 12), "12</ID>\n");
    EXPECT_EQ(windowOf("<ID>12</ID>", 4, 2), "12");
    EXPECT_EQ(windowOf("<LATITUDE>N40 1230.123456</LATITUDE>", 10, 12), "N40 1230.123");
    EXPECT_EQ(windowOf("<DESCRIPTION>Bridge</DESCRIPTION>", 13, 1), "B");
    // Entities are translated on parsing and written again on printing.
    EXPECT_EQ(windowOf("<DESCRIPTION>&amp;Co</DESCRIPTION>", 13, 5), "&amp;");
    EXPECT_EQ(windowOf("<DESCRIPTION>&lt;x</DESCRIPTION>", 13, 4), "&lt;");
    // An element without text prints as <NAME/>.
    EXPECT_EQ(windowOf("<DESCRIPTION></DESCRIPTION>", 0, 20), "<DESCRIPTION/>\n");
    EXPECT_EQ(windowOf("<DESCRIPTION/>", 13, 1), ">");
    EXPECT_EQ(windowOf("<ID/>", 40, 12), "");
}

TEST(ReadTargets, PositionsReferencePointsAndNames) {
    const Read r = readText(targetsFile({
        {"1", "N33 3012.500", "W1155423.000", "-5.0", "Bridge"},
        {"2", "S12 0030.000", "E0450000.000", "250.5", "Radar"},
    }));
    ASSERT_EQ(r.positions->size(), 2u);
    ASSERT_EQ(r.references->size(), 2u);
    EXPECT_EQ(r.names, (std::vector<std::string>{"B", "R"}));

    const double lat0 = 33.0 + 30.0 / 60 + 12.5 / 3600, lon0 = -(115.0 + 54.0 / 60 + 23.0 / 3600);
    const double lat1 = -(12.0 + 0.0 / 60 + 30.0 / 3600), lon1 = 45.0;
    EXPECT_EQ((*r.positions)[0], expectedPoint(lat0, lon0, -5.0));
    EXPECT_EQ((*r.references)[0], expectedPoint(lat0, lon0, 1300.0));
    EXPECT_EQ((*r.positions)[1], expectedPoint(lat1, lon1, 250.5));
    EXPECT_EQ((*r.references)[1], expectedPoint(lat1, lon1, 1300.0));

    // The same through an independent inverse: hemispheres, heights in metres, reference
    // points on the 1300 m surface whatever the target's altitude. Single precision keeps
    // Earth-centred coordinates to half a metre.
    const struct {
        osg::Vec3f point;
        double lat, lon, h;
    } checks[] = {{(*r.positions)[0], lat0, lon0, -5.0},
                  {(*r.references)[0], lat0, lon0, 1300.0},
                  {(*r.positions)[1], lat1, lon1, 250.5},
                  {(*r.references)[1], lat1, lon1, 1300.0}};
    for (const auto& c : checks) {
        const test::Geodetic g = toGeodetic(c.point);
        EXPECT_NEAR(g.latitude, c.lat, 1e-5);
        EXPECT_NEAR(g.longitude, c.lon, 1e-5);
        EXPECT_NEAR(g.height, c.h, 0.8);
    }
}

TEST(ReadTargets, CountsPositiveIdsAndReadsThatManyElements) {
    // N is the number of positive IDs; the first N elements are read, whichever they are.
    const Read r =
        readText(targetsFile({target("1", "Alpha"), target("0", "Bravo"), target("-4", "Charlie"),
                              target("0.9", "Delta"), target("7", "Echo")}));
    EXPECT_EQ(r.names, (std::vector<std::string>{"A", "B"}));
    EXPECT_EQ(r.positions->size(), 2u);

    const Read all = readText(targetsFile({target("3"), target(" 12"), target("+2")}));
    EXPECT_EQ(all.positions->size(), 3u);
}

TEST(ReadTargets, NamesAreTheFirstPrintedCharacterOfTheDescription) {
    const Read r = readText(targetsFile(
        {target("1", "Bridge"), target("2", ""), target("3", "&amp;Co"), target("4", "&lt;x"),
         target("5", "&apos;q"), target("6", "&quot;q"), target("7", "&gt;"), target("8", "d")}));
    EXPECT_EQ(r.names, (std::vector<std::string>{"B", ">", "&", "&", "&", "&", "&", "d"}));
}

TEST(ReadTargets, AppendsToTheCallersLists) {
    ScratchDir dir;
    std::vector<std::string> names{"X"};
    osg::ref_ptr<osg::Vec3Array> references = new osg::Vec3Array;
    references->push_back(osg::Vec3f(1, 2, 3));
    const auto positions =
        readTargets(dir.write("t.xml", targetsFile({target("1", "Depot")})), names, *references);
    EXPECT_EQ(names, (std::vector<std::string>{"X", "D"}));
    ASSERT_EQ(references->size(), 2u);
    EXPECT_EQ((*references)[0], osg::Vec3f(1, 2, 3));
    EXPECT_EQ(positions->size(), 1u);
}

TEST(ReadTargets, ReadsEveryListElementWhateverItsName) {
    std::string text = targetsFile({target("1", "Alpha"), target("2", "Bravo")});
    const std::size_t second = text.rfind("<TARGET>");
    text.replace(second, 8, "<OTHER>");
    text.replace(text.rfind("</TARGET>"), 9, "</OTHER>");
    // Text between the list's elements is not an element and is passed over.
    text.insert(second, "stray text ");
    const Read r = readText(text);
    EXPECT_EQ(r.names, (std::vector<std::string>{"A", "B"}));
}

TEST(ReadTargets, EmptyListGivesNoTargets) {
    const Read r = readText("<CRD><TARGETS_LIST></TARGETS_LIST></CRD>");
    EXPECT_EQ(r.positions->size(), 0u);
    EXPECT_TRUE(r.names.empty());
    EXPECT_EQ(r.references->size(), 0u);
}

// Regression: a fixed table of 1000 entries was written past with a longer list.
TEST(ReadTargets, MoreThanAThousandTargetsAreReadInFull) {
    std::vector<TargetEntry> targets;
    for (int i = 1; i <= 1205; ++i) {
        targets.push_back(target(std::to_string(i), i % 2 ? "Odd" : "Even"));
    }
    const Read r = readText(targetsFile(targets));
    ASSERT_EQ(r.positions->size(), 1205u);
    EXPECT_EQ(r.names[1204], "O");
    EXPECT_EQ(r.names[1203], "E");
}

// Regression: with non-positive IDs the positions of all elements were stored into tables
// sized for the positive ones.
TEST(ReadTargets, ElementsBeyondTheCountAreNotRead) {
    std::string text = targetsFile({target("1", "Alpha"), target("0", "Bravo")});
    const std::size_t at = text.rfind("<WGS84_POSITION>");
    text.erase(at, text.rfind("</WGS84_POSITION>") + 17 - at);
    const Read r = readText(text);
    EXPECT_EQ(r.names, (std::vector<std::string>{"A"}));
}

// The message a bad file gives; empty when it reads without error.
std::string errorFor(const std::string& path) {
    std::vector<std::string> names{"kept"};
    osg::ref_ptr<osg::Vec3Array> references = new osg::Vec3Array;
    try {
        readTargets(path, names, *references);
    } catch (const InputError& e) {
        // Nothing half-read reaches the caller.
        EXPECT_EQ(names.size(), 1u);
        EXPECT_EQ(references->size(), 0u);
        return e.what();
    }
    return "";
}

struct BadCase {
    const char* name;
    std::string content;
    std::vector<std::string> messageParts;
};

TEST(ReadTargets, BadInputThrowsInputErrorSayingWhereAndWhat) {
    std::string noLatitude = targetsFile({target("1"), target("2")});
    const std::size_t lat = noLatitude.rfind("<LATITUDE>");
    noLatitude.erase(lat, noLatitude.find('\n', lat) - lat);

    std::string deep = "<CRD>";
    for (int i = 0; i < 100000; ++i) {
        deep += "<a>";
    }

    const std::vector<BadCase> cases = {
        {"empty", "", {"file is empty"}},
        {"not XML", "just text", {"malformed XML", "line 1"}},
        {"unclosed", "<CRD>\n<TARGETS_LIST>\n<TARGET>\n", {"malformed XML", "line 4"}},
        {"bad tag",
         "<CRD>\n  <TARGETS_LIST>\n  </TARGETS_LIST x\n</CRD>\n",
         {"malformed XML", "line 3", "expected >"}},
        {"no CRD", "<DOC/>", {"missing element CRD"}},
        {"no list", "<CRD><TARGETS/></CRD>", {"missing element CRD/TARGETS_LIST"}},
        {"no ID",
         "<CRD><TARGETS_LIST><TARGET/></TARGETS_LIST></CRD>",
         {"missing element CRD/TARGETS_LIST/TARGET/ID", "in target 1 (line 1)"}},
        {"no latitude",
         noLatitude,
         {"missing element CRD/TARGETS_LIST/TARGET/WGS84_POSITION/LATITUDE",
          "in target 2 (line 13)"}},
        {"deep nesting", deep, {"nested more than 256"}},
        {"altitude beyond float range",
         targetsFile({{"1", "N33 3012.500", "W1155423.000", "1e300", "Bridge"}}),
         {"no usable position in target 1", "altitude"}},
        {"seconds not a number",
         targetsFile({{"1", "N33 30nan000", "W1155423.000", "0", "Bridge"}}),
         {"no usable position in target 1 (line 4): latitude \"N33 30nan000\": the seconds"}},
        {"latitude letters",
         targetsFile({target("1"), {"2", "NAB CDEFGHIJ", "W1155423.000", "0", "Bridge"}}),
         {"no usable position in target 2 (line 13): latitude \"NAB CDEFGHIJ\""}},
        {"longitude beyond 180",
         targetsFile({{"1", "N33 3012.500", "W1815423.000", "0", "Bridge"}}),
         {"longitude \"W1815423.000\": beyond 180 degrees"}},
        {"altitude not a number",
         targetsFile({{"1", "N33 3012.500", "W1155423.000", "high", "Bridge"}}),
         {"altitude \"high\" is not a number in target 1 (line 4)"}},
        {"altitude out of range",
         targetsFile({{"1", "N33 3012.500", "W1155423.000", "-20000", "Bridge"}}),
         {"altitude -20000 m is outside -11000 to 100000 m"}},
        {"ID not a number",
         targetsFile({target("1"), target("two")}),
         {"ID \"two\" is not a number in target 2 (line 13)"}},
        {"mismatched list end tag",
         "<CRD>\n<TARGETS_LIST>\n</TARGT>\n</CRD>\n",
         {"malformed XML at line 3 (</TARGT>): invalid closing tag name"}},
        {"latitude closed as longitude",
         "<CRD><TARGETS_LIST><TARGET><ID>1</ID><WGS84_POSITION>\n"
         "<LATITUDE>N33 3012.500</LONGITUDE>",
         {"malformed XML at line 2 (</LONGITUDE>)"}},
        {"UTF-16 with byte order mark", std::string("\xFF\xFE<\0C\0", 6), {"UTF-16 text"}},
        {"UTF-16 without byte order mark",
         std::string("<\0C\0R\0D\0", 8),
         {"byte 0x00 at byte offset 1 (line 1); UTF-16"}},
        {"binary", "<CRD>\n\x01\x02\x7f", {"not a text file: byte 0x01 at byte offset 6 (line 2)"}},
    };
    for (const BadCase& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchDir dir;
        const std::string path = dir.write("bad.xml", c.content);
        const std::string message = errorFor(path);
        EXPECT_EQ(message.rfind(path + ": ", 0), 0u) << message;
        for (const std::string& part : c.messageParts) {
            EXPECT_NE(message.find(part), std::string::npos) << message;
        }
    }
}

TEST(ReadTargets, UnreadableFileThrowsInputError) {
    ScratchDir dir;
    const std::string missing = dir.path() + "/none.xml";
    EXPECT_EQ(errorFor(missing), missing + ": cannot open file (No such file or directory)");
    EXPECT_EQ(errorFor(dir.path()), dir.path() + ": is a directory, not a file");
}

} // namespace
} // namespace skyframe
