#include "mission/ReaderSupport.h"

#include "mission/InputError.h"

#include <algorithm>
#include <cerrno>
#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace skyframe {

std::string readTextFile(const std::string& path) {
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) {
        throw InputError(path + ": is a directory, not a file");
    }
    std::ifstream in(path);
    if (!in) {
        throw InputError(path + ": cannot open file (" + std::strerror(errno) + ")");
    }
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad()) {
        throw InputError(path + ": read error");
    }
    std::string content = text.str();
    if (content.empty()) {
        throw InputError(path + ": file is empty");
    }
    return content;
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
    if (nestingDepthBound(original_) > kMaxXmlNesting) {
        fail("malformed XML: elements nested more than " + std::to_string(kMaxXmlNesting) +
             " levels deep");
    }
    buffer_.assign(original_.begin(), original_.end());
    buffer_.push_back('\0');
    try {
        document_.parse<0>(buffer_.data());
    } catch (const rapidxml::parse_error& e) {
        const char* where = e.where<char>();
        std::string at;
        if (where >= buffer_.data() && where < buffer_.data() + buffer_.size()) {
            // In-place parsing only rewrites text it has already passed, so the offset of
            // the error is the same in the untouched copy.
            const auto offset = static_cast<std::size_t>(where - buffer_.data());
            const auto end = original_.begin() + std::min(offset, original_.size());
            at = " at line " + std::to_string(std::count(original_.begin(), end, '\n') + 1);
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

bool isPositiveId(const std::string& idWindow) {
    return std::atof(idWindow.c_str()) >= 1.0;
}

std::string formatNumber(double value) {
    std::ostringstream text;
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
