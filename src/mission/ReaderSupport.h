#pragma once

// Machinery shared by the mission and targets readers: reading and parsing the file,
// locating required elements with messages that say where, and turning positions into scene
// points.

#include "mission/RapidXml.h"

#include <Eigen/Core>
#include <osg/Vec3f>

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace skyframe {

using XmlNode = rapidxml::xml_node<char>;

// Elements nested deeper than this are refused before parsing: the parser and the printer
// both recurse once per level, and the files hold a dozen levels at most.
constexpr std::size_t kMaxXmlNesting = 256;

// Mission and targets files hold a few thousand elements at most; anything larger (or an
// endless device such as /dev/zero) is refused before it can eat the memory.
constexpr std::uintmax_t kMaxInputBytes = std::uintmax_t{64} << 20;

// The whole content of a file. Throws InputError when it cannot be opened or read, is empty,
// or is larger than kMaxInputBytes (a regular file is refused before any of it is read).
std::string readTextFile(const std::string& path);

// Throws InputError (prefixed with source) unless text can be XML in an 8-bit encoding:
// a UTF-16 byte order mark, a NUL byte or a control character other than tab, line feed
// and carriage return is refused, with its byte offset and line.
void checkTextBytes(const std::string& text, const std::string& source);

// An upper bound on the element nesting of XML text, found without parsing it.
std::size_t nestingDepthBound(const std::string& text);

// XML text parsed in place (rapidxml, flags 0: entities translated, whitespace kept), with
// the unmodified text kept beside it for line numbers.
class XmlFile {
public:
    // source names the file in messages. Throws InputError for binary or UTF-16 text, and
    // for malformed (end tags that do not match their start tags included) or too deeply
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

    // The number in `text`, read with parseNumber; InputError naming `what` ("ID",
    // "altitude") and `where` when it is not one.
    double number(std::string_view text, const char* what, const std::string& where) const;

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

// The text of an element window up to its closing tag: where atof would have stopped on a
// well-formed value.
std::string_view untilTag(std::string_view window);

// Strict decimal conversion: text, less leading and trailing XML whitespace, must be one
// finite number written in full (an optional sign, digits, a point, an exponent). False,
// value untouched, for anything else: empty text, "high", "12abc", "nan", "1e999".
bool parseNumber(std::string_view text, double& value);

// An identifier counts when it is at least 1 (truncated toward zero, it is positive).
// Comparing the double keeps a huge value from overflowing an integer conversion.
inline bool isPositiveId(double id) {
    return id >= 1.0;
}

// Heights above the ellipsoid that a route point or a target may have (metres): from the
// deepest ocean trench to the edge of space. Anything outside is a typing error.
constexpr double kMinHeight = -11000.0;
constexpr double kMaxHeight = 100000.0;

// Empty when height (metres) is within [kMinHeight, kMaxHeight], else why it is not, naming
// it as `what` ("altitude 1e+300 m is outside -11000 to 100000 m").
std::string heightProblem(const char* what, double height);

// A number as a message shows it: shortest form, exponent for large magnitudes.
std::string formatNumber(double value);

// An Earth-centred position rounded to single precision. False when a coordinate is not a
// number or out of the float range, which only nonsense input produces.
bool toScenePoint(const Eigen::Vector3d& position, osg::Vec3f& point);

} // namespace skyframe
