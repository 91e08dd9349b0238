#include "Simulator.h"

#include "BitmapFont.h"
#include "FlightTelemetry.h"
#include "Ground.h"
#include "TerrainGround.h"

#include "media/TsWriter.h"
#include "mission/MissionReader.h"
#include "mission/TargetsReader.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>
#include <memory>
#include <ostream>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace skyframe {

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

std::unique_ptr<Ground> makeGround(const SimOptions& o) {
    switch (o.ground) {
    case GroundKind::Plain:
        return std::make_unique<PlainGround>(o.groundHeight);
    case GroundKind::Terrain:
        return std::make_unique<TerrainGround>(
            std::make_shared<DtedCell>(DtedCell::mosaic(o.dtedPaths)), o.groundHeight);
    case GroundKind::Checkerboard:
        break;
    }
    return std::make_unique<CheckerboardGround>(o.groundHeight, o.checkerDegrees);
}

} // namespace

int trailingPackets(int lead) {
    return std::max(0, 4 - lead);
}

Flight::Flight(const SimOptions& o) : options_(o) {
    // Everything the markers show, as the viewer reads it.
    std::vector<std::string> targetNames;
    osg::ref_ptr<osg::Vec3Array> referencePoints = new osg::Vec3Array;
    const osg::ref_ptr<osg::Vec3Array> targets =
        readTargets(o.targetsPath, targetNames, *referencePoints);
    const osg::ref_ptr<osg::Vec3Array> route = readMission(o.missionPath);
    const std::vector<GeodeticPoint> waypoints = toGeodetic(*route);
    markers_ = toGeodetic(*targets);
    const std::vector<GeodeticPoint> references = toGeodetic(*referencePoints);
    markers_.insert(markers_.end(), references.begin(), references.end());
    markers_.insert(markers_.end(), waypoints.begin(), waypoints.end());

    if (o.hover) {
        trajectory_ = std::make_unique<HoverTrajectory>(*o.hover, o.hoverHeading);
    } else {
        try {
            trajectory_ = std::make_unique<RouteTrajectory>(
                waypoints, o.speed, o.altitude, static_cast<std::size_t>(o.startWaypoint));
        } catch (const std::invalid_argument& e) {
            throw std::invalid_argument(o.missionPath + ": " + e.what());
        }
    }

    SensorPlan sensor;
    sensor.horizontalFov = o.horizontalFov;
    sensor.verticalFov =
        o.verticalFov ? *o.verticalFov : verticalFovFor(o.horizontalFov, o.width, o.height);
    if (o.lookTarget > 0) {
        if (static_cast<std::size_t>(o.lookTarget) > targets->size()) {
            throw std::invalid_argument(o.targetsPath + ": there is no target " +
                                        std::to_string(o.lookTarget) + " (the file holds " +
                                        std::to_string(targets->size()) + ")");
        }
        const osg::Vec3f& t = (*targets)[static_cast<std::size_t>(o.lookTarget - 1)];
        sensor.target = Eigen::Vector3d(t.x(), t.y(), t.z());
    } else {
        sensor.depression = o.lookForward;
    }

    ground_ = makeGround(o);
    telemetry_ = std::make_unique<FlightTelemetry>(*trajectory_, sensor, *ground_, o.fps);
    slots_ = klvSchedule(o, frames());
}

Flight::~Flight() = default;

long Flight::frames() const {
    return std::max(1L, std::lround(options_.duration * options_.fps));
}

std::vector<KlvSlot> klvSchedule(const SimOptions& o, long frames) {
    const double rate = o.klvRate > 0 ? o.klvRate : o.fps;
    const long regular = o.klvRate > 0 ? std::lround(frames * rate / o.fps) : frames;
    const long count = regular + trailingPackets(o.lead);
    // A fixed seed: the same options make the same file.
    std::mt19937 random(20240101);
    std::uniform_real_distribution<double> jitter(-o.klvJitterMs * 1e-3, o.klvJitterMs * 1e-3);
    std::vector<KlvSlot> slots;
    for (long i = 0; i < count; ++i) {
        double t = static_cast<double>(i + o.lead) / rate;
        if (o.klvJitterMs > 0 && i + o.lead > 0) {
            t += jitter(random);
        }
        t = std::max(0.0, t);
        if (o.klvGap && t >= o.klvGap->first && t < o.klvGap->second) {
            continue;
        }
        slots.push_back({t});
    }
    std::stable_sort(slots.begin(), slots.end(),
                     [](const KlvSlot& a, const KlvSlot& b) { return a.seconds < b.seconds; });
    return slots;
}

long Flight::packets() const {
    return static_cast<long>(slots_.size());
}

std::vector<unsigned char> Flight::packet(long index) const {
    KlvRecord r = telemetry_->atSeconds(slots_.at(static_cast<size_t>(index)).seconds);
    r.platformHeading = std::fmod(r.platformHeading + options_.headingBias + 360.0, 360.0);
    if (options_.mslAltitudeOnly) {
        r.markAbsent(&KlvRecord::sensorEllipsoidHeight);
    }
    if (options_.noCameraTags) {
        const double none = std::numeric_limits<double>::quiet_NaN();
        r.sensorLatitude = r.sensorLongitude = r.sensorAltitude = none;
        r.horizontalFov = r.verticalFov = none;
        r.markAbsent(&KlvRecord::sensorEllipsoidHeight);
    }
    return encodeFlightPacket(r);
}

double Flight::packetSeconds(long index) const {
    return slots_.at(static_cast<size_t>(index)).seconds;
}

Camera Flight::camera(long frame) const {
    return cameraFromPacket(encodeFlightPacket(telemetry_->at(frame)), options_.width,
                            options_.height);
}

void Flight::draw(long frame, RgbImage& image) const {
    const Camera c = camera(frame);
    ground_->render(c, image);
    drawMarkers(image, c, markers_, options_.markers);
    drawFrameNumber(image, static_cast<int>(frame), frameNumberScale(image.height));
}

SimSummary runSimulation(const SimOptions& o, std::ostream& progress) {
    const Clock::time_point start = Clock::now();
    SimSummary summary;
    const Flight flight(o);

    TsWriterOptions writerOptions;
    writerOptions.width = o.width;
    writerOptions.height = o.height;
    writerOptions.fps = o.fps;
    writerOptions.codec = VideoCodec::H264;
    writerOptions.pixelOrder = PixelOrder::Rgb;
    writerOptions.h264Crf = o.crf;
    if (o.cutBeforeKeyframe) {
        // Half a second of video is cut: the first picture is the key frame at 1 s.
        writerOptions.skipFirstVideoPackets = std::max(1, o.fps / 2);
    }
    TsWriter writer(o.output, writerOptions);

    const long frames = flight.frames();
    RgbImage image(o.width, o.height);
    long nextPacket = 0;
    // Every packet due by `seconds` goes into the file ahead of the video of that instant.
    auto writePacketsUntil = [&](double seconds) {
        while (nextPacket < flight.packets() && flight.packetSeconds(nextPacket) <= seconds) {
            writer.writeKlv(flight.packet(nextPacket), flight.packetSeconds(nextPacket));
            ++nextPacket;
            ++summary.klvPackets;
        }
    };

    Clock::time_point lastReport = start;
    for (long frame = 0; frame < frames; ++frame) {
        const Clock::time_point drawStart = Clock::now();
        writePacketsUntil(static_cast<double>(frame) / o.fps);
        flight.draw(frame, image);
        const Clock::time_point encodeStart = Clock::now();
        summary.drawSeconds += std::chrono::duration<double>(encodeStart - drawStart).count();
        writer.writeFrame(image.pixels.data());
        summary.encodeSeconds += secondsSince(encodeStart);
        ++summary.frames;

        if (std::chrono::duration<double>(Clock::now() - lastReport).count() >= 1.0) {
            lastReport = Clock::now();
            progress << "skyframe-sim: frame " << frame + 1 << " of " << frames << " ("
                     << (100 * (frame + 1)) / frames << "%), " << std::lround(secondsSince(start))
                     << " s" << std::endl;
        }
    }
    writePacketsUntil(std::numeric_limits<double>::infinity());
    const Clock::time_point finishStart = Clock::now();
    writer.finish();
    summary.encodeSeconds += secondsSince(finishStart);
    summary.seconds = secondsSince(start);
    return summary;
}

} // namespace skyframe
