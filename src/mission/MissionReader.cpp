#include "mission/MissionReader.h"

#include "camera/Geodesy.h"
#include "mission/ReaderSupport.h"
#include "mission/TargetsReader.h"

#include <algorithm>
#include <vector>

namespace skyframe {

namespace {

const std::string kMissionPath = "CRD/MISSION_LIST/MISSION";

std::string listItemPath(const std::string& listPath, const XmlNode& item) {
    return listPath + "/" + std::string(item.name(), item.name_size());
}

// N: how many of the point elements have a positive ID.
std::size_t countPoints(const XmlFile& xml, const std::vector<const XmlNode*>& points) {
    std::size_t count = 0;
    for (std::size_t i = 0; i < points.size(); ++i) {
        const XmlNode& point = *points[i];
        const std::string where = xml.describe("point", i, point);
        const XmlNode& id =
            xml.require(point, {"ID"}, listItemPath(kMissionPath + "/POINT_LIST", point), where);
        const std::string text = elementWindow(id, kIdWindow.offset, kIdWindow.length);
        if (isPositiveId(xml.number(untilTag(text), "ID", where))) {
            ++count;
        }
    }
    return count;
}

// heights[i] is the height of point i (metres): the first point lies on the ellipsoid,
// every other one at the commanded altitude of the leg that ends at it.
std::vector<double> readHeights(const XmlFile& xml, const XmlNode& mission, std::size_t count,
                                std::size_t& intentCount) {
    const XmlNode& intentList =
        xml.require(mission, {"ROUTE_LIST", "ROUTE", "INTENT_LIST"}, kMissionPath);
    const std::string intentListPath = kMissionPath + "/ROUTE_LIST/ROUTE/INTENT_LIST";
    const std::vector<const XmlNode*> intents = elementList(intentList.first_node("INTENT"));
    std::vector<double> heights(count + 1, 0.0);
    for (std::size_t k = 0; k < std::min(intents.size(), count); ++k) {
        const XmlNode& intent = *intents[k];
        const std::string where = xml.describe("intent", k, intent);
        const std::string feet =
            valueText(xml.require(intent, {"COMMANDED_ALTITUDE", "ALTITUDE", "VALUE"},
                                  listItemPath(intentListPath, intent), where));
        // An element without text gives 0, as atof of an empty string does.
        heights[k + 1] =
            feet.empty() ? 0.0 : xml.number(feet, "commanded altitude", where) * kFeetToMetres;
    }
    intentCount = intents.size();
    return heights;
}

} // namespace

osg::ref_ptr<osg::Vec3Array> parseMission(std::string text, const std::string& source) {
    const XmlFile xml(std::move(text), source);
    const XmlNode& mission = xml.require(xml.document(), {"CRD", "MISSION_LIST", "MISSION"}, "");
    const XmlNode& pointList = xml.require(mission, {"POINT_LIST"}, kMissionPath);
    const std::vector<const XmlNode*> points = elementList(pointList.first_node("POINT"));
    const std::size_t count = countPoints(xml, points);

    std::vector<std::string> longitudeTexts, latitudeTexts;
    for (std::size_t i = 0; i < count; ++i) {
        const XmlNode& point = *points[i];
        const std::string where = xml.describe("point", i, point);
        const std::string pointPath = listItemPath(kMissionPath + "/POINT_LIST", point);
        const XmlNode& position = xml.require(point, {"WGS84_POSITION"}, pointPath, where);
        const std::string positionPath = pointPath + "/WGS84_POSITION";
        const XmlNode& longitude = xml.require(position, {"LONGITUDE"}, positionPath, where);
        const XmlNode& latitude = xml.require(position, {"LATITUDE"}, positionPath, where);
        longitudeTexts.push_back(coordinateWindow(longitude, kLongitudeWindow));
        latitudeTexts.push_back(coordinateWindow(latitude, kLatitudeWindow));
    }

    std::size_t intentCount = 0;
    const std::vector<double> heights = readHeights(xml, mission, count, intentCount);
    const std::size_t routeLength = std::min(count, kRouteLength);
    if (routeLength > 1 && intentCount < routeLength - 1) {
        xml.fail(std::to_string(count) + " points and " + std::to_string(intentCount) +
                 " intents: a route of " + std::to_string(routeLength) + " points needs " +
                 std::to_string(routeLength - 1) + " intents, one per leg");
    }

    osg::ref_ptr<osg::Vec3Array> waypoints = new osg::Vec3Array;
    for (std::size_t i = 0; i < routeLength; ++i) {
        const std::string where = xml.describe("point", i, *points[i]);
        double lat = 0.0, lon = 0.0;
        std::string problem =
            positionProblem(latitudeTexts[i], longitudeTexts[i], "height", heights[i], lat, lon);
        osg::Vec3f point;
        if (problem.empty() && !toScenePoint(geodeticToEcef(lat, lon, heights[i]), point)) {
            problem = "not representable";
        }
        if (!problem.empty()) {
            xml.fail("no usable position " + where + ": " + problem);
        }
        waypoints->push_back(point);
    }
    return waypoints;
}

osg::ref_ptr<osg::Vec3Array> readMission(const std::string& path) {
    return parseMission(readTextFile(path), path);
}

} // namespace skyframe
