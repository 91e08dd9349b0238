#pragma once

#include "mission/RapidXml.h"

#include <osg/Array>
#include <osg/ref_ptr>

#include <cstddef>
#include <string>
#include <vector>

namespace skyframe {

// Where a value sits in an element printed by elementWindow. The offsets are the lengths of
// the opening tags ("<ID>" is 4 characters, "<LONGITUDE>" 11, "<LATITUDE>" 10,
// "<DESCRIPTION>" 13), so a window starts at the element's first character of text.
struct ElementWindow {
    std::size_t offset;
    std::size_t length;
};
constexpr ElementWindow kIdWindow{4, 12};
constexpr ElementWindow kLongitudeWindow{11, 12};
constexpr ElementWindow kLatitudeWindow{10, 12};
constexpr ElementWindow kDescriptionWindow{13, 1};

// Height above the ellipsoid of every target's reference point, where its label hangs
// (metres).
constexpr double kReferenceHeight = 1300.0;

// Reads a targets file (root CRD, list CRD/TARGETS_LIST of TARGET elements). For each
// target, in file order, appends its name (the first character of its description) to
// targetNames and its reference point (its latitude and longitude at kReferenceHeight) to
// referencePoints, and returns the target positions at their own altitudes. Points are
// Earth-centred metres in single precision.
//
// The number of targets N is the number of list elements whose ID is positive; positions
// are read from the first N elements of the list. Throws InputError (naming the file, the
// problem and where) when the file cannot be read, is malformed, lacks an element that is
// read, or holds an ID, coordinate or altitude that is not a number or is out of range
// (parseAngle, heightProblem); the two lists are then left as they were.
osg::ref_ptr<osg::Vec3Array> readTargets(const std::string& path,
                                         std::vector<std::string>& targetNames,
                                         osg::Vec3Array& referencePoints);

// readTargets on text already in memory; source names it in messages.
osg::ref_ptr<osg::Vec3Array> parseTargets(std::string text, const std::string& source,
                                          std::vector<std::string>& targetNames,
                                          osg::Vec3Array& referencePoints);

// At most `length` characters from `offset` of the element as rapidxml prints it (flags 0:
// opening tag, text with < > & ' " written as entities, closing tag, line break; an element
// without text prints as <NAME/>). Empty when the printed form is shorter than offset.
std::string elementWindow(const rapidxml::xml_node<char>& element, std::size_t offset,
                          std::size_t length);

// elementWindow for a latitude or longitude: empty for an element without text, whose
// printed form <NAME/> holds no coordinate, only the end of its own tag.
std::string coordinateWindow(const rapidxml::xml_node<char>& element, ElementWindow window);

// Latitudes and longitudes in degrees, one per text, in the order of the texts.
struct GeodeticDegrees {
    std::vector<double> latitudes;
    std::vector<double> longitudes;
};

enum class AngleKind { Latitude, Longitude };

// Converts one degree/minute/second text (a 12-character window; positions from 0) to
// degrees:
//   longitude  "E0031230.000": hemisphere letter, degrees at 1-3, minutes 4-5, seconds 6-11
//   latitude   "N40 1230.000": hemisphere letter, degrees at 1-2 (position 3 is not read),
//              minutes 4-5, seconds 6-11
// The text is read up to its closing tag ('<'). Any letter other than an upper-case E
// (longitude) or N (latitude) makes the value negative: west or south. The degrees and
// minutes must be digits in full; the seconds may be missing (0) but are otherwise digits
// with an optional decimal point. Throws std::invalid_argument, naming the text and the
// fault, for anything else, for minutes or seconds of 60 or more, and for a latitude beyond
// 90 or a longitude beyond 180 degrees.
double parseAngle(const std::string& window, AngleKind kind);

// A position's latitude and longitude texts and its height (metres) checked together: empty
// when all are usable, with latitude and longitude set (degrees); else the first fault
// (parseAngle, heightProblem), worded for a message.
std::string positionProblem(const std::string& latitudeText, const std::string& longitudeText,
                            const char* heightName, double height, double& latitude,
                            double& longitude);

// parseAngle over lists of texts, in the order of the texts. Throws std::invalid_argument
// when the two lists differ in length or a text is refused.
GeodeticDegrees parseDegreesMinutesSeconds(const std::vector<std::string>& latitudeTexts,
                                           const std::vector<std::string>& longitudeTexts);

} // namespace skyframe
