#pragma once

// Helpers shared by the tests that run the project's programs as a user would.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace skyframe::test {

// The running test's folder under the build tree's test-scratch/<group>, created when
// missing; what earlier runs left there stays.
std::filesystem::path scratchDir(const std::string& group);

std::string readText(const std::filesystem::path& file);

// A single-quoted word for /bin/sh.
std::string shellQuote(const std::string& word);

struct ProcessResult {
    int exitCode = -1; // the exit status, or -1 when the process did not exit normally
    std::string out;
    std::string err;
};

// Runs argv[0] with the other arguments through /bin/sh, standard output and error captured
// in files of `dir`. `environment` entries (NAME=value) are set for the command alone.
ProcessResult runProcess(const std::vector<std::string>& argv, const std::filesystem::path& dir,
                         const std::vector<std::string>& environment = {});

// Lines of a text, without their line ends.
std::vector<std::string> lines(const std::string& text);

// A binary PPM (P6) picture, 8 bits per sample.
struct RgbImage {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgb; // row by row from the top, 3 bytes per pixel

    const uint8_t* at(int x, int y) const { return &rgb[(static_cast<size_t>(y) * width + x) * 3]; }
};

// Throws std::runtime_error naming the file when it is not a P6 picture.
RgbImage readPpm(const std::filesystem::path& file);

} // namespace skyframe::test
