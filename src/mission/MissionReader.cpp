#include "mission/MissionReader.h"

#include "camera/Geodesy.h"
#include "mission/ReaderSupport.h"
#include "mission/TargetsReader.h"

#include <algorithm>
#include <cstdlib>
#include <vector>

namespace skyframe {

osg::ref_ptr<osg::Vec3Array> parseMission(std::string text, const std::string& source) {
    const XmlFile xml(std::move(text), source);
    const std::string missionPath = "CRD/MISSION_LIST/MISSION";
    const XmlNode& mission = xml.require(xml.document(), {"CRD", "MISSION_LIST", "MISSION"}, "");
    const XmlNode& pointList = xml.require(mission, {"POINT_LIST"}, missionPath);
    const std::vector<const XmlNode*> points = elementList(pointList.first_node("POINT"));

    auto pointPath = [&](const XmlNode& point) {
        return missionPath + "/POINT_LIST/" + std::string(point.name(), point.name_size());
    };

    std::size_t count = 0;
    for (std::size_t i = 0; i < points.size(); ++i) {
        const XmlNode& point = *points[i];
        const XmlNode& id =
            xml.require(point, {"ID"}, pointPath(point), xml.describe("point", i, point));
        if (isPositiveId(elementWindow(id, kIdWindow.offset, kIdWindow.length))) {
            ++count;
        }
    }

    std::vector<std::string> longitudeTexts, latitudeTexts;
    for (std::size_t i = 0; i < count; ++i) {
        const XmlNode& point = *points[i];
        const std::string where = xml.describe("point", i, point);
        const XmlNode& position = xml.require(point, {"WGS84_POSITION"}, pointPath(point), where);
        const std::string positionPath = pointPath(point) + "/WGS84_POSITION";
        const XmlNode& longitude = xml.require(position, {"LONGITUDE"}, positionPath, where);
        const XmlNode& latitude = xml.require(position, {"LATITUDE"}, positionPath, where);
        longitudeTexts.push_back(
            elementWindow(longitude, kLongitudeWindow.offset, kLongitudeWindow.length));
        latitudeTexts.push_back(
            elementWindow(latitude, kLatitudeWindow.offset, kLatitudeWindow.length));
    }

    // heights[i] is the height of point i: the first point lies on the ellipsoid, every
    // other one at the commanded altitude of the leg that ends at it.
    const XmlNode& intentList =
        xml.require(mission, {"ROUTE_LIST", "ROUTE", "INTENT_LIST"}, missionPath);
    const std::string intentListPath = missionPath + "/ROUTE_LIST/ROUTE/INTENT_LIST";
    const std::vector<const XmlNode*> intents = elementList(intentList.first_node("INTENT"));
    std::vector<double> heights(count + 1, 0.0);
    for (std::size_t k = 0; k < std::min(intents.size(), count); ++k) {
        const XmlNode& intent = *intents[k];
        const XmlNode& value =
            xml.require(intent, {"COMMANDED_ALTITUDE", "ALTITUDE", "VALUE"},
                        intentListPath + "/" + std::string(intent.name(), intent.name_size()),
                        xml.describe("intent", k, intent));
        heights[k + 1] = std::atof(valueText(value).c_str()) * kFeetToMetres;
    }

    const std::size_t routeLength = std::min(count, kRouteLength);
    if (routeLength > 1 && intents.size() < routeLength - 1) {
        xml.fail(std::to_string(count) + " points and " + std::to_string(intents.size()) +
                 " intents: a route of " + std::to_string(routeLength) + " points needs " +
                 std::to_string(routeLength - 1) + " intents, one per leg");
    }

    const GeodeticDegrees degrees = parseDegreesMinutesSeconds(latitudeTexts, longitudeTexts);
    osg::ref_ptr<osg::Vec3Array> waypoints = new osg::Vec3Array;
    for (std::size_t i = 0; i < routeLength; ++i) {
        osg::Vec3f point;
        if (!toScenePoint(geodeticToEcef(degrees.latitudes[i], degrees.longitudes[i], heights[i]),
                          point)) {
            xml.fail("no usable position " + xml.describe("point", i, *points[i]) +
                     " (latitude \"" + latitudeTexts[i] + "\", longitude \"" + longitudeTexts[i] +
                     "\", height " + formatNumber(heights[i]) + " m)");
        }
        waypoints->push_back(point);
    }
    return waypoints;
}

osg::ref_ptr<osg::Vec3Array> readMission(const std::string& path) {
    return parseMission(readTextFile(path), path);
}

} // namespace skyframe
