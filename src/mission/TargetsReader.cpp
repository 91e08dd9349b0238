#include "mission/TargetsReader.h"

#include "camera/Geodesy.h"
#include "mission/ReaderSupport.h"

#include <algorithm>
#include <cctype>
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

bool allDigits(const std::string& text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
        return std::isdigit(static_cast<unsigned char>(c)) != 0;
    });
}

// Seconds: digits with at most one decimal point, nothing else (no sign, no exponent).
bool isSecondsText(const std::string& text) {
    return !text.empty() && std::isdigit(static_cast<unsigned char>(text[0])) &&
           std::count(text.begin(), text.end(), '.') <= 1 &&
           std::all_of(text.begin(), text.end(), [](char c) {
               return c == '.' || std::isdigit(static_cast<unsigned char>(c));
           });
}

} // namespace

double parseAngle(const std::string& window, AngleKind kind) {
    const bool latitude = kind == AngleKind::Latitude;
    const std::string text(untilTag(window));
    // Line breaks and tabs are shown escaped, so that the message stays one line.
    std::string shown;
    for (const char c : text) {
        shown += c == '\n' ? "\\n" : c == '\r' ? "\\r" : c == '\t' ? "\\t" : std::string(1, c);
    }
    const std::string name =
        std::string(latitude ? "latitude" : "longitude") + " \"" + shown + "\"";
    auto refuse = [&](const std::string& problem) -> double {
        throw std::invalid_argument(name + ": " + problem);
    };
    if (text.empty()) {
        return refuse("is empty");
    }
    if (!std::isalpha(static_cast<unsigned char>(text[0]))) {
        return refuse("position 0 is not a hemisphere letter");
    }
    const std::size_t degreeDigits = latitude ? 2 : 3;
    const std::string degreesText = field(text, 1, degreeDigits);
    if (degreesText.size() != degreeDigits || !allDigits(degreesText)) {
        return refuse("the degrees are not " + std::to_string(degreeDigits) + " digits");
    }
    const std::string minutesText = field(text, 4, 2);
    if (minutesText.size() != 2 || !allDigits(minutesText)) {
        return refuse("the minutes are not 2 digits");
    }
    // A text that ends after the minutes has 0 seconds, as atof gives for a missing field.
    const std::string secondsText = field(text, 6, 6);
    if (!secondsText.empty() && !isSecondsText(secondsText)) {
        return refuse("the seconds are not a number");
    }
    const double degrees = std::stod(degreesText);
    const double minutes = std::stod(minutesText);
    const double seconds = secondsText.empty() ? 0.0 : std::stod(secondsText);
    if (minutes >= 60.0 || seconds >= 60.0) {
        return refuse("minutes and seconds must be below 60");
    }
    const double value = degrees + minutes / 60.0 + seconds / 3600.0;
    if (value > (latitude ? 90.0 : 180.0)) {
        return refuse(latitude ? "beyond 90 degrees" : "beyond 180 degrees");
    }
    return text.compare(0, 1, latitude ? "N" : "E") == 0 ? value : -value;
}

namespace {

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

std::string coordinateWindow(const rapidxml::xml_node<char>& element, ElementWindow w) {
    return element.value_size() == 0 && element.first_node() == nullptr
               ? std::string()
               : elementWindow(element, w.offset, w.length);
}

std::string positionProblem(const std::string& latitudeText, const std::string& longitudeText,
                            const char* heightName, double height, double& latitude,
                            double& longitude) {
    try {
        latitude = parseAngle(latitudeText, AngleKind::Latitude);
        longitude = parseAngle(longitudeText, AngleKind::Longitude);
    } catch (const std::invalid_argument& e) {
        return e.what();
    }
    return heightProblem(heightName, height);
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
        result.longitudes.push_back(parseAngle(text, AngleKind::Longitude));
    }
    result.latitudes.reserve(latitudeTexts.size());
    for (const std::string& text : latitudeTexts) {
        result.latitudes.push_back(parseAngle(text, AngleKind::Latitude));
    }
    return result;
}

namespace {

// What the second pass takes from one target element.
struct TargetText {
    std::string longitude, latitude, name;
    double altitude = 0.0;
};

TargetText readTarget(const XmlFile& xml, const XmlNode& item, const std::string& path,
                      const std::string& where) {
    TargetText t;
    const XmlNode& position = xml.require(item, {"WGS84_POSITION"}, path, where);
    const std::string positionPath = path + "/WGS84_POSITION";
    t.longitude =
        window(xml.require(position, {"LONGITUDE"}, positionPath, where), kLongitudeWindow);
    t.latitude = window(xml.require(position, {"LATITUDE"}, positionPath, where), kLatitudeWindow);
    const std::string altitude =
        valueText(xml.require(position, {"ALTITUDE", "VALUE"}, positionPath, where));
    // An element without text gives 0, as atof of an empty string does.
    t.altitude = altitude.empty() ? 0.0 : xml.number(altitude, "altitude", where);
    t.name = window(xml.require(item, {"DESCRIPTION"}, path, where), kDescriptionWindow);
    return t;
}

} // namespace

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
        const std::string where = xml.describe("target", k, item);
        const XmlNode& id = xml.require(item, {"ID"}, itemPath(item), where);
        if (isPositiveId(xml.number(untilTag(window(id, kIdWindow)), "ID", where))) {
            ++count;
        }
    }

    std::vector<std::string> names;
    osg::ref_ptr<osg::Vec3Array> references = new osg::Vec3Array;
    osg::ref_ptr<osg::Vec3Array> positions = new osg::Vec3Array;
    for (std::size_t k = 0; k < count; ++k) {
        const XmlNode& item = *elements[k];
        const std::string where = xml.describe("target", k, item);
        const TargetText t = readTarget(xml, item, itemPath(item), where);
        double lat = 0.0, lon = 0.0;
        std::string problem =
            positionProblem(t.latitude, t.longitude, "altitude", t.altitude, lat, lon);
        osg::Vec3f reference, target;
        if (problem.empty() &&
            (!toScenePoint(geodeticToEcef(lat, lon, kReferenceHeight), reference) ||
             !toScenePoint(geodeticToEcef(lat, lon, t.altitude), target))) {
            problem = "not representable";
        }
        if (!problem.empty()) {
            xml.fail("no usable position " + where + ": " + problem);
        }
        names.push_back(t.name);
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
