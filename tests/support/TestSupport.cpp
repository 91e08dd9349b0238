#include "TestSupport.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>

#include <gtest/gtest.h>

namespace skyframe::test {

namespace fs = std::filesystem;

fs::path scratchDir(const std::string& group) {
    const auto* info = testing::UnitTest::GetInstance()->current_test_info();
    fs::path dir = fs::path(SKYFRAME_BINARY_DIR) / "test-scratch" / group;
    if (info) {
        dir /= std::string(info->test_suite_name()) + "." + info->name();
    }
    fs::create_directories(dir);
    return dir;
}

std::string readText(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string shellQuote(const std::string& word) {
    std::string q = "'";
    for (char c : word) {
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return q + "'";
}

ProcessResult runProcess(const std::vector<std::string>& argv, const fs::path& dir,
                         const std::vector<std::string>& environment) {
    std::string command;
    if (!environment.empty()) {
        command = "env";
        for (const auto& e : environment) {
            command += " " + shellQuote(e);
        }
        command += " ";
    }
    for (size_t i = 0; i < argv.size(); ++i) {
        command += (i ? " " : "") + shellQuote(argv[i]);
    }
    command += " >" + shellQuote((dir / "stdout").string()) + " 2>" +
               shellQuote((dir / "stderr").string()) + " </dev/null";
    const int status = std::system(command.c_str());
    ProcessResult result;
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.out = readText(dir / "stdout");
    result.err = readText(dir / "stderr");
    return result;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> result;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        result.push_back(line);
    }
    return result;
}

namespace {

// The next header field of a PPM file; comment lines ("# ...") may stand between fields.
std::string ppmField(std::istream& in) {
    std::string field;
    while (in >> field && field[0] == '#') {
        std::string rest;
        std::getline(in, rest);
    }
    return field;
}

} // namespace

RgbImage readPpm(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    RgbImage image;
    const std::string magic = ppmField(in);
    image.width = std::atoi(ppmField(in).c_str());
    image.height = std::atoi(ppmField(in).c_str());
    const int maxValue = std::atoi(ppmField(in).c_str());
    if (!in || magic != "P6" || maxValue != 255 || image.width <= 0 || image.height <= 0) {
        throw std::runtime_error(file.string() + ": not an 8-bit binary PPM picture");
    }
    in.get(); // the one whitespace byte before the samples
    image.rgb.resize(static_cast<size_t>(image.width) * image.height * 3);
    in.read(reinterpret_cast<char*>(image.rgb.data()),
            static_cast<std::streamsize>(image.rgb.size()));
    if (!in) {
        throw std::runtime_error(file.string() + ": picture data cut short");
    }
    return image;
}

} // namespace skyframe::test
