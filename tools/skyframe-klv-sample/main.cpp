// skyframe-klv-sample: writes a short MPEG-TS sample, video with MISB ST 0601 telemetry, of
// an aircraft circling a point, and optionally the same telemetry as a raw KLV file. Used by
// the demo and as a fixture for trying the telemetry tools.

#include "media/TsWriter.h"
#include "telemetry/KlvEncoder.h"
#include "telemetry/KlvRecord.h"

extern "C" {
#include <libavutil/log.h>
}

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <exception>
#include <fstream>
#include <iostream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr const char* kUsage =
    "usage: skyframe-klv-sample OUTPUT.ts [--raw OUTPUT.klv] [--frames N] [--size WxH]\n"
    "                           [--fps N] [--codec h264|mpeg2]\n"
    "\n"
    "Writes a sample flight: N frames (default 90) of WxH video (default 320x180) at N fps\n"
    "(default 30), with one MISB ST 0601 packet per frame, of an aircraft circling 33.5 N,\n"
    "115.5 W at 1500 m with its sensor on the circle's centre. --raw also writes the KLV\n"
    "packets, concatenated, to a raw file. Exit status: 0 success, 1 failure, 2 usage.\n";

constexpr double kPi = 3.14159265358979323846;
constexpr double kDeg = kPi / 180.0;

struct Options {
    std::string output;
    std::string raw;
    int frames = 90;
    int width = 320;
    int height = 180;
    int fps = 30;
    skyframe::VideoCodec codec = skyframe::VideoCodec::H264;
    bool help = false;
};

struct UsageError {
    std::string message;
};

int parseCount(const std::string& option, const std::string& text, int low, int high) {
    size_t used = 0;
    int value = 0;
    try {
        value = std::stoi(text, &used);
    } catch (const std::exception&) {
        used = 0;
    }
    if (used != text.size() || value < low || value > high) {
        throw UsageError{option + " needs a whole number from " + std::to_string(low) + " to " +
                         std::to_string(high) + ", not \"" + text + "\""};
    }
    return value;
}

Options parseArguments(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) {
                throw UsageError{arg + " needs a value"};
            }
            return argv[++i];
        };
        if (arg == "--help" || arg == "-h") {
            o.help = true;
        } else if (arg == "--raw") {
            o.raw = value();
        } else if (arg == "--frames") {
            o.frames = parseCount(arg, value(), 1, 100000);
        } else if (arg == "--fps") {
            o.fps = parseCount(arg, value(), 1, 240);
        } else if (arg == "--size") {
            const std::string size = value();
            const size_t x = size.find('x');
            if (x == std::string::npos) {
                throw UsageError{"--size needs WIDTHxHEIGHT, not \"" + size + "\""};
            }
            o.width = parseCount("--size width", size.substr(0, x), 16, 7680);
            o.height = parseCount("--size height", size.substr(x + 1), 16, 4320);
            if (o.width % 2 != 0 || o.height % 2 != 0) {
                throw UsageError{"--size needs an even width and height"};
            }
        } else if (arg == "--codec") {
            const std::string name = value();
            if (name == "h264") {
                o.codec = skyframe::VideoCodec::H264;
            } else if (name == "mpeg2") {
                o.codec = skyframe::VideoCodec::Mpeg2;
            } else {
                throw UsageError{"unknown codec \"" + name + "\": use h264 or mpeg2"};
            }
        } else if (arg.size() > 1 && arg[0] == '-') {
            throw UsageError{"unknown option " + arg};
        } else if (!o.output.empty()) {
            throw UsageError{"more than one OUTPUT given"};
        } else {
            o.output = arg;
        }
    }
    if (o.output.empty() && !o.help) {
        throw UsageError{"no OUTPUT given"};
    }
    return o;
}

// Telemetry at `seconds` into a steady, coordinated circle flown clockwise. Small-area
// approximations are enough for a sample; the values only need to be plausible and smooth.
skyframe::KlvRecord sampleTelemetry(double seconds, int width, int height) {
    const double centreLat = 33.5, centreLon = -115.5; // degrees
    const double radius = 2000.0, altitude = 1500.0;   // metres
    const double speed = 50.0;                         // metres per second
    const double metresPerDegree = 111320.0;
    const double theta = speed / radius * seconds; // bearing from the centre, radians

    skyframe::KlvRecord r;
    r.timestamp = 1704067200.0e6 + std::round(seconds * 1e6); // from 2024-01-01 00:00 UTC
    r.sensorLatitude = centreLat + radius * std::cos(theta) / metresPerDegree;
    r.sensorLongitude =
        centreLon + radius * std::sin(theta) / (metresPerDegree * std::cos(centreLat * kDeg));
    r.sensorAltitude = altitude;
    // Flying clockwise, the heading leads the bearing from the centre by a quarter turn,
    // and the centre lies square off the right wing.
    r.platformHeading = std::fmod(theta / kDeg + 90.0, 360.0);
    r.platformPitch = 0.0;
    r.platformRoll = std::atan(speed * speed / (9.80665 * radius)) / kDeg;
    r.sensorAzimuth = 90.0;
    r.sensorElevation = -std::atan(altitude / radius) / kDeg;
    r.sensorRoll = 0.0;
    r.horizontalFov = 30.0;
    r.verticalFov = 2.0 * std::atan(std::tan(15.0 * kDeg) * height / width) / kDeg;
    r.frameCenterLatitude = centreLat;
    r.frameCenterLongitude = centreLon;
    r.frameCenterElevation = 0.0;
    return r;
}

// A slowly shifting gradient with a bright bar sweeping across it, so that motion and
// frame order are visible.
void drawFrame(std::vector<unsigned char>& rgb, int width, int height, int frame) {
    const int bar = (frame * 4) % width;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            unsigned char* p = &rgb[(static_cast<size_t>(y) * width + x) * 3];
            const bool inBar = x >= bar && x < bar + width / 16;
            p[0] = inBar ? 250 : static_cast<unsigned char>(40 + 120 * x / width);
            p[1] = inBar ? 250 : static_cast<unsigned char>(60 + 100 * y / height);
            p[2] = inBar ? 250 : static_cast<unsigned char>((frame * 2) % 200 + 30);
        }
    }
}

// A file written as NAME.part and renamed to NAME by commit(); removed if never committed.
// An empty name is no file at all.
class PartFile {
public:
    explicit PartFile(std::string name) : name_(std::move(name)) {}
    PartFile(const PartFile&) = delete;
    PartFile& operator=(const PartFile&) = delete;
    ~PartFile() {
        if (!name_.empty() && !committed_) {
            std::remove(path().c_str());
        }
    }
    std::string path() const { return name_ + ".part"; }
    void commit() {
        if (name_.empty()) {
            return;
        }
        if (std::rename(path().c_str(), name_.c_str()) != 0) {
            throw std::runtime_error(name_ + ": cannot move " + path() + " into place (" +
                                     std::strerror(errno) + ")");
        }
        committed_ = true;
    }

private:
    std::string name_;
    bool committed_ = false;
};

void run(const Options& o) {
    skyframe::TsWriterOptions options;
    options.width = o.width;
    options.height = o.height;
    options.fps = o.fps;
    options.codec = o.codec;
    options.pixelOrder = skyframe::PixelOrder::Rgb;
    skyframe::TsWriter writer(o.output, options);

    std::vector<unsigned char> raw;
    std::vector<unsigned char> rgb(static_cast<size_t>(o.width) * o.height * 3);
    for (int i = 0; i < o.frames; ++i) {
        const double seconds = static_cast<double>(i) / o.fps;
        drawFrame(rgb, o.width, o.height, i);
        writer.writeFrame(rgb.data());
        const auto packet =
            skyframe::encodeUasLocalSet(sampleTelemetry(seconds, o.width, o.height));
        writer.writeKlv(packet, seconds);
        raw.insert(raw.end(), packet.begin(), packet.end());
    }
    // The raw file goes into place only with the video: a failure anywhere (a full disk
    // most likely) leaves neither behind.
    PartFile rawPart(o.raw);
    if (!o.raw.empty()) {
        std::ofstream out(rawPart.path(), std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(raw.data()),
                  static_cast<std::streamsize>(raw.size()));
        out.close();
        if (!out) {
            throw std::runtime_error(o.raw + ": cannot write " + rawPart.path() + " (" +
                                     std::strerror(errno) + ")");
        }
    }
    writer.finish();
    rawPart.commit();
    std::cerr << o.output << ": " << o.frames << " frames " << o.width << "x" << o.height << " at "
              << o.fps << " fps with " << o.frames << " KLV packets\n";
    if (!o.raw.empty()) {
        std::cerr << o.raw << ": " << o.frames << " KLV packets, " << raw.size() << " bytes\n";
    }
}

} // namespace

int main(int argc, char** argv) {
    try {
        const Options options = parseArguments(argc, argv);
        if (options.help) {
            std::cout << kUsage;
            return 0;
        }
        av_log_set_level(AV_LOG_ERROR);
        run(options);
        return 0;
    } catch (const UsageError& e) {
        std::cerr << "skyframe-klv-sample: " << e.message << "\n\n" << kUsage;
        return 2;
    } catch (const std::exception& e) {
        std::cerr << "skyframe-klv-sample: " << e.what() << '\n';
        return 1;
    }
}
