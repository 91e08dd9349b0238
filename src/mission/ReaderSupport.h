#pragma once

// Machinery shared by the mission and targets readers: reading and parsing the file,
// locating required elements with messages that say where, and turning positions into scene
// points.

#include "mission/RapidXml.h"

#include <Eigen/Core>
#include <osg/Vec3f>

#include <initializer_list>
#include <string>
#include <vector>

namespace skyframe {

using XmlNode = rapidxml::xml_node<char>;

// Elements nested deeper than this are refused before parsing: the parser and the printer
// both recurse once per level, and the files hold a dozen levels at most.
constexpr std::size_t kMaxXmlNesting = 256;

// The whole content of a file. Throws InputError when it cannot be opened or read, or is
// empty.
std::string readTextFile(const std::string& path);

// An upper bound on the element nesting of XML text, found without parsing it.
std::size_t nestingDepthBound(const std::string& text);

// XML text parsed in place (rapidxml, flags 0: entities translated, whitespace kept), with
// the unmodified text kept beside it for line numbers.
class XmlFile {
public:
    // source names the file in messages. Throws InputError for malformed or too deeply
    // nested XML, with the parser's message and the line.
    XmlFile(std::string text, std::string source);
    XmlFile(const XmlFile&) = delete;
    XmlFile& operator=(const XmlFile&) = delete;

    const XmlNode& document() const { return document_; }
    const std::string& source() const { return source_; }

    // 1-based line of a node's name in the file; 0 for a node that has none there.
    int lineOf(const XmlNode& node) const;

    // Follows `names` down from `from`, first element of each name. A missing element throws
    // InputError naming the path fromPath/names... and `where` (such as "in point 3 (line
    // 40)"), which may be empty.
    const XmlNode& require(const XmlNode& from, std::initializer_list<const char*> names,
                           const std::string& fromPath, const std::string& where = "") const;

    // "target 3 (line 17)": an item of a list by its 1-based position, for messages.
    std::string describe(const char* what, std::size_t index, const XmlNode& node) const;

    [[noreturn]] void fail(const std::string& problem) const;

private:
    std::string source_;
    std::string original_;
    std::vector<char> buffer_;
    rapidxml::xml_document<char> document_;
};

// `first` and every following sibling element, in order. Text between the elements of a
// list is skipped.
std::vector<const XmlNode*> elementList(const XmlNode* first);

// The value text of an element (entities translated), empty when it has none.
std::string valueText(const XmlNode& element);

// An identifier window counts when atof, truncated toward zero, is positive. Comparing the
// double keeps a huge or non-numeric value from overflowing an integer conversion.
bool isPositiveId(const std::string& idWindow);

// A number as a message shows it: shortest form, exponent for large magnitudes.
std::string formatNumber(double value);

// An Earth-centred position rounded to single precision. False when a coordinate is not a
// number or out of the float range, which only nonsense input produces.
bool toScenePoint(const Eigen::Vector3d& position, osg::Vec3f& point);

} // namespace skyframe
