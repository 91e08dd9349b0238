#include "mission/TargetsReader.h"

#include "camera/Geodesy.h"
#include "mission/ReaderSupport.h"

#include <cmath>
#include <cstdlib>
#include <iterator>
#include <sstream>
#include <stdexcept>

namespace skyframe {

namespace {

// Characters [pos, pos + length) of text, fewer when the text ends first.
std::string field(const std::string& text, std::size_t pos, std::size_t length) {
    return pos < text.size() ? text.substr(pos, length) : std::string();
}

double angleFromText(const std::string& text, std::size_t degreeDigits, const char* positive) {
    const double degrees = std::trunc(std::atof(field(text, 1, degreeDigits).c_str()));
    const double minutes = std::atof(field(text, 4, 2).c_str());
    const double seconds = std::atof(field(text, 6, 6).c_str());
    const double value = degrees + minutes / 60.0 + seconds / 3600.0;
    return field(text, 0, 1) == positive ? value : -value;
}

std::string window(const XmlNode& element, ElementWindow w) {
    return elementWindow(element, w.offset, w.length);
}

} // namespace

std::string elementWindow(const rapidxml::xml_node<char>& element, std::size_t offset,
                          std::size_t length) {
    std::ostringstream printed;
    rapidxml::print(std::ostream_iterator<char>(printed), element, 0);
    return field(printed.str(), offset, length);
}

GeodeticDegrees parseDegreesMinutesSeconds(const std::vector<std::string>& latitudeTexts,
                                           const std::vector<std::string>& longitudeTexts) {
    if (latitudeTexts.size() != longitudeTexts.size()) {
        throw std::invalid_argument(
            "parseDegreesMinutesSeconds: " + std::to_string(latitudeTexts.size()) +
            " latitudes but " + std::to_string(longitudeTexts.size()) + " longitudes");
    }
    GeodeticDegrees result;
    result.longitudes.reserve(longitudeTexts.size());
    for (const std::string& text : longitudeTexts) {
        result.longitudes.push_back(angleFromText(text, 3, "E"));
    }
    result.latitudes.reserve(latitudeTexts.size());
    for (const std::string& text : latitudeTexts) {
        result.latitudes.push_back(angleFromText(text, 2, "N"));
    }
    return result;
}

osg::ref_ptr<osg::Vec3Array> parseTargets(std::string text, const std::string& source,
                                          std::vector<std::string>& targetNames,
                                          osg::Vec3Array& referencePoints) {
    const XmlFile xml(std::move(text), source);
    const XmlNode& list = xml.require(xml.document(), {"CRD", "TARGETS_LIST"}, "");
    const std::vector<const XmlNode*> elements = elementList(list.first_node("TARGET"));

    auto itemPath = [](const XmlNode& item) {
        return "CRD/TARGETS_LIST/" + std::string(item.name(), item.name_size());
    };

    std::size_t count = 0;
    for (std::size_t k = 0; k < elements.size(); ++k) {
        const XmlNode& item = *elements[k];
        const XmlNode& id =
            xml.require(item, {"ID"}, itemPath(item), xml.describe("target", k, item));
        if (isPositiveId(window(id, kIdWindow))) {
            ++count;
        }
    }

    std::vector<std::string> longitudeTexts, latitudeTexts, names;
    std::vector<double> altitudes;
    for (std::size_t k = 0; k < count; ++k) {
        const XmlNode& item = *elements[k];
        const std::string path = itemPath(item);
        const std::string where = xml.describe("target", k, item);
        const XmlNode& position = xml.require(item, {"WGS84_POSITION"}, path, where);
        const std::string positionPath = path + "/WGS84_POSITION";
        longitudeTexts.push_back(
            window(xml.require(position, {"LONGITUDE"}, positionPath, where), kLongitudeWindow));
        latitudeTexts.push_back(
            window(xml.require(position, {"LATITUDE"}, positionPath, where), kLatitudeWindow));
        altitudes.push_back(std::atof(
            valueText(xml.require(position, {"ALTITUDE", "VALUE"}, positionPath, where)).c_str()));
        names.push_back(
            window(xml.require(item, {"DESCRIPTION"}, path, where), kDescriptionWindow));
    }

    const GeodeticDegrees degrees = parseDegreesMinutesSeconds(latitudeTexts, longitudeTexts);
    osg::ref_ptr<osg::Vec3Array> references = new osg::Vec3Array;
    osg::ref_ptr<osg::Vec3Array> positions = new osg::Vec3Array;
    for (std::size_t k = 0; k < count; ++k) {
        const double lat = degrees.latitudes[k];
        const double lon = degrees.longitudes[k];
        osg::Vec3f reference, target;
        if (!toScenePoint(geodeticToEcef(lat, lon, kReferenceHeight), reference) ||
            !toScenePoint(geodeticToEcef(lat, lon, altitudes[k]), target)) {
            xml.fail("no usable position " + xml.describe("target", k, *elements[k]) +
                     " (latitude \"" + latitudeTexts[k] + "\", longitude \"" + longitudeTexts[k] +
                     "\", altitude " + formatNumber(altitudes[k]) + ")");
        }
        references->push_back(reference);
        positions->push_back(target);
    }

    // Only now that the whole file has been read do the caller's lists grow.
    targetNames.insert(targetNames.end(), names.begin(), names.end());
    referencePoints.insert(referencePoints.end(), references->begin(), references->end());
    return positions;
}

osg::ref_ptr<osg::Vec3Array> readTargets(const std::string& path,
                                         std::vector<std::string>& targetNames,
                                         osg::Vec3Array& referencePoints) {
    return parseTargets(readTextFile(path), path, targetNames, referencePoints);
}

} // namespace skyframe
