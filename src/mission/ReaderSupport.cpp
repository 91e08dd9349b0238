#include "mission/ReaderSupport.h"

#include "mission/InputError.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

namespace skyframe {

namespace {

std::string tooLarge(const std::string& path, const std::string& size) {
    return path + ": file is " + size + ", more than the " + std::to_string(kMaxInputBytes >> 20) +
           " MiB a mission or targets file may have";
}

// 1-based line of a byte offset.
std::size_t lineAt(const std::string& text, std::size_t offset) {
    const auto end = text.begin() + static_cast<std::ptrdiff_t>(std::min(offset, text.size()));
    return static_cast<std::size_t>(std::count(text.begin(), end, '\n')) + 1;
}

} // namespace

std::string readTextFile(const std::string& path) {
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) {
        throw InputError(path + ": is a directory, not a file");
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw InputError(path + ": cannot open file (" + std::strerror(errno) + ")");
    }
    if (std::filesystem::is_regular_file(path, ec)) {
        const std::uintmax_t size = std::filesystem::file_size(path, ec);
        if (!ec && size > kMaxInputBytes) {
            throw InputError(tooLarge(path, std::to_string(size) + " bytes"));
        }
    }
    // Devices and pipes have no size to check first: reading stops one byte past the cap.
    std::string content;
    std::vector<char> chunk(1 << 16);
    while (in && content.size() <= kMaxInputBytes) {
        in.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
        content.append(chunk.data(), static_cast<std::size_t>(in.gcount()));
    }
    if (in.bad()) {
        throw InputError(path + ": read error (" + std::strerror(errno) + ")");
    }
    if (content.size() > kMaxInputBytes) {
        throw InputError(tooLarge(path, "endless or larger"));
    }
    if (content.empty()) {
        throw InputError(path + ": file is empty");
    }
    return content;
}

void checkTextBytes(const std::string& text, const std::string& source) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    if (text.size() >= 2 &&
        ((byte(0) == 0xFF && byte(1) == 0xFE) || (byte(0) == 0xFE && byte(1) == 0xFF))) {
        throw InputError(source + ": UTF-16 text (byte order mark at byte offset 0); only " +
                         "UTF-8 or ASCII XML is read, save the file as UTF-8");
    }
    for (std::size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = byte(i);
        if (c >= 0x20 || c == '\t' || c == '\n' || c == '\r') {
            continue;
        }
        char hex[8];
        std::snprintf(hex, sizeof hex, "0x%02X", c);
        // A NUL next to '<' is how UTF-16 without a byte order mark starts.
        const bool utf16 = c == 0 && text.size() >= 2 && (byte(0) == 0 || byte(1) == 0);
        throw InputError(source + ": not a text file: byte " + hex + " at byte offset " +
                         std::to_string(i) + " (line " + std::to_string(lineAt(text, i)) + ")" +
                         (utf16 ? "; UTF-16 text is not read, save the file as UTF-8" : ""));
    }
}

namespace {

// Position just past the next `terminator` after `from`, or the end of the text.
std::size_t skipPast(const std::string& text, std::size_t from, const char* terminator) {
    const std::size_t at = text.find(terminator, from);
    return at == std::string::npos ? text.size() : at + std::strlen(terminator);
}

} // namespace

std::size_t nestingDepthBound(const std::string& text) {
    // Comments, CDATA sections and processing instructions are skipped as the parser skips
    // them; anything else that opens a tag counts as a level until its closing tag, so
    // stray markup can only raise the bound.
    std::size_t depth = 0;
    std::size_t deepest = 0;
    std::size_t i = 0;
    while (i < text.size()) {
        if (text[i] != '<') {
            ++i;
        } else if (text.compare(i, 4, "<!--") == 0) {
            i = skipPast(text, i + 4, "-->");
        } else if (text.compare(i, 9, "<![CDATA[") == 0) {
            i = skipPast(text, i + 9, "]]>");
        } else if (text.compare(i, 2, "<?") == 0) {
            i = skipPast(text, i + 2, "?>");
        } else if (text.compare(i, 2, "</") == 0) {
            depth = depth > 0 ? depth - 1 : 0;
            i += 2;
        } else if (text.compare(i, 2, "<!") == 0) {
            i += 2;
        } else {
            deepest = std::max(deepest, ++depth);
            // The tag ends at the first '>' outside quoted attribute values.
            std::size_t j = i + 1;
            char quote = 0;
            for (; j < text.size(); ++j) {
                const char c = text[j];
                if (quote != 0) {
                    if (c == quote) {
                        quote = 0;
                    }
                } else if (c == '"' || c == '\'') {
                    quote = c;
                } else if (c == '>') {
                    break;
                }
            }
            if (j < text.size() && text[j - 1] == '/') {
                --depth;
            }
            i = j + 1;
        }
    }
    return deepest;
}

XmlFile::XmlFile(std::string text, std::string source)
    : source_(std::move(source)), original_(std::move(text)) {
    checkTextBytes(original_, source_);
    if (nestingDepthBound(original_) > kMaxXmlNesting) {
        fail("malformed XML: elements nested more than " + std::to_string(kMaxXmlNesting) +
             " levels deep");
    }
    buffer_.assign(original_.begin(), original_.end());
    buffer_.push_back('\0');
    try {
        // Flags 0 plus the check of end tags: without it </LONGITUDE> would close a
        // LATITUDE element and a misspelt file would be read as something else.
        document_.parse<rapidxml::parse_validate_closing_tags>(buffer_.data());
    } catch (const rapidxml::parse_error& e) {
        const char* where = e.where<char>();
        std::string at;
        if (where >= buffer_.data() && where < buffer_.data() + buffer_.size()) {
            // In-place parsing only rewrites text it has already passed, so the offset of
            // the error is the same in the untouched copy.
            const auto offset = static_cast<std::size_t>(where - buffer_.data());
            at = " at line " + std::to_string(lineAt(original_, offset));
            const std::size_t tag = original_.rfind("</", offset);
            if (std::strcmp(e.what(), "invalid closing tag name") == 0 &&
                tag != std::string::npos) {
                at += " (" + original_.substr(tag, offset - tag) + ">)";
            }
        }
        fail("malformed XML" + at + ": " + e.what());
    }
}

int XmlFile::lineOf(const XmlNode& node) const {
    const char* name = node.name();
    if (node.name_size() == 0 || name < buffer_.data() || name >= buffer_.data() + buffer_.size()) {
        return 0;
    }
    const auto offset = static_cast<std::size_t>(name - buffer_.data());
    const auto end = original_.begin() + std::min(offset, original_.size());
    return static_cast<int>(std::count(original_.begin(), end, '\n')) + 1;
}

const XmlNode& XmlFile::require(const XmlNode& from, std::initializer_list<const char*> names,
                                const std::string& fromPath, const std::string& where) const {
    const XmlNode* node = &from;
    std::string path = fromPath;
    for (const char* name : names) {
        path += path.empty() ? name : std::string("/") + name;
        node = node->first_node(name);
        if (node == nullptr) {
            fail("missing element " + path + (where.empty() ? "" : " " + where));
        }
    }
    return *node;
}

std::string XmlFile::describe(const char* what, std::size_t index, const XmlNode& node) const {
    std::string text = std::string("in ") + what + " " + std::to_string(index + 1);
    const int line = lineOf(node);
    if (line > 0) {
        text += " (line " + std::to_string(line) + ")";
    }
    return text;
}

double XmlFile::number(std::string_view text, const char* what, const std::string& where) const {
    double value = 0.0;
    if (!parseNumber(text, value)) {
        fail(std::string(what) + " \"" + std::string(text) + "\" is not a number " + where);
    }
    return value;
}

void XmlFile::fail(const std::string& problem) const {
    throw InputError(source_ + ": " + problem);
}

std::vector<const XmlNode*> elementList(const XmlNode* first) {
    std::vector<const XmlNode*> elements;
    for (const XmlNode* node = first; node != nullptr; node = node->next_sibling()) {
        if (node->type() == rapidxml::node_element) {
            elements.push_back(node);
        }
    }
    return elements;
}

std::string valueText(const XmlNode& element) {
    return std::string(element.value(), element.value_size());
}

std::string_view untilTag(std::string_view window) {
    return window.substr(0, window.find('<'));
}

bool parseNumber(std::string_view text, double& value) {
    const char* space = " \t\r\n";
    const std::size_t first = text.find_first_not_of(space);
    if (first == std::string_view::npos) {
        return false;
    }
    text = text.substr(first, text.find_last_not_of(space) - first + 1);
    // from_chars takes neither a '+' nor, after it, a second sign; it does take "inf" and
    // "nan", which are no coordinate or height.
    const bool plus = text.front() == '+';
    if (plus) {
        text.remove_prefix(1);
    }
    if (text.empty() || !(std::isdigit(static_cast<unsigned char>(text.front())) ||
                          (text.front() == '-' && !plus) || text.front() == '.')) {
        return false;
    }
    double parsed = 0.0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), parsed);
    if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(parsed)) {
        return false;
    }
    value = parsed;
    return true;
}

std::string heightProblem(const char* what, double height) {
    if (height >= kMinHeight && height <= kMaxHeight) {
        return "";
    }
    return std::string(what) + " " + formatNumber(height) + " m is outside " +
           formatNumber(kMinHeight) + " to " + formatNumber(kMaxHeight) + " m";
}

std::string formatNumber(double value) {
    std::ostringstream text;
    // Enough digits that a value just outside a limit does not print as the limit.
    text.precision(10);
    text << value;
    return text.str();
}

bool toScenePoint(const Eigen::Vector3d& position, osg::Vec3f& point) {
    for (int i = 0; i < 3; ++i) {
        if (!(std::fabs(position[i]) <= FLT_MAX)) {
            return false;
        }
    }
    point.set(static_cast<float>(position.x()), static_cast<float>(position.y()),
              static_cast<float>(position.z()));
    return true;
}

} // namespace skyframe
