#include "telemetry/Eg0104.h"

#include "Eg0104TestEncoder.h"
#include "camera/Geodesy.h"
#include "media/FfmpegHandles.h"
#include "telemetry/KlvPacket.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <memory>
#include <string>

namespace skyframe {
namespace {

using namespace eg0104test;
using E = Eg0104Element;

struct FieldCase {
    E element;
    Bytes value;
    double KlvRecord::*field;
    double expected;
};

// Values an EG 0104 recorder writes, and what the record must hold: IEEE values as they
// are (a float widened to double), the heading brought into 0..360 as ST 0601 keeps it.
std::vector<FieldCase> fieldCases() {
    return {
        {E::Timestamp, bigEndian(1221515219356000u, 8), &KlvRecord::timestamp, 1221515219356000.0},
        {E::PlatformHeading, floatBytes(-102.75f), &KlvRecord::platformHeading, 257.25},
        {E::PlatformPitch, floatBytes(1.5f), &KlvRecord::platformPitch, 1.5},
        {E::PlatformRoll, floatBytes(-3.25f), &KlvRecord::platformRoll, -3.25},
        {E::SensorLatitude, doubleBytes(38.252336), &KlvRecord::sensorLatitude, 38.252336},
        {E::SensorLongitude, doubleBytes(-77.366859), &KlvRecord::sensorLongitude, -77.366859},
        {E::SensorAltitude, floatBytes(1054.5f), &KlvRecord::sensorAltitude, 1054.5},
        {E::HorizontalFov, floatBytes(0.8f), &KlvRecord::horizontalFov, double(0.8f)},
        {E::VerticalFov, floatBytes(0.6f), &KlvRecord::verticalFov, double(0.6f)},
        {E::SensorRoll, floatBytes(2.0f), &KlvRecord::sensorRoll, 2.0},
        {E::FrameCenterLatitude, doubleBytes(38.24559), &KlvRecord::frameCenterLatitude, 38.24559},
        {E::FrameCenterLongitude, doubleBytes(-77.35374), &KlvRecord::frameCenterLongitude,
         -77.35374},
        {E::FrameCenterElevation, floatBytes(61.5f), &KlvRecord::frameCenterElevation, 61.5},
    };
}

TEST(Eg0104, EveryFieldFromKnownValues) {
    std::vector<Element> elements;
    for (const FieldCase& c : fieldCases()) {
        elements.push_back(element(c.element, c.value));
    }
    elements.push_back(element(E::SlantRange, floatBytes(1729.5f)));
    const double corners[8] = {38.1, 38.2, 38.3, 38.4, -77.1, -77.2, -77.3, -77.4};
    for (int i = 0; i < 8; ++i) {
        elements.push_back(element(static_cast<E>(static_cast<int>(E::CornerLatitude1) + i),
                                   doubleBytes(corners[i])));
    }
    const Bytes value = encodeElements(elements);
    KlvRecord r;
    KlvWalkCounts counts;
    EXPECT_EQ(parseEg0104(r, value.data(), value.size(), &counts), 0);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.set, KlvSet::Eg0104);
    EXPECT_EQ(counts.unknown, 0);
    for (const FieldCase& c : fieldCases()) {
        SCOPED_TRACE(static_cast<int>(c.element));
        EXPECT_EQ(r.*c.field, c.expected);
        EXPECT_TRUE(r.carries(c.field));
    }
    ASSERT_TRUE(r.hasCorners);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(r.cornerLatitude[i], corners[i]);
        EXPECT_EQ(r.cornerLongitude[i], corners[4 + i]);
    }
    EXPECT_FALSE(r.carries(&KlvRecord::sensorEllipsoidHeight));
}

// On a level platform pointing at north the relative angles are the absolute ones. The
// azimuth is the angle to north without a frame centre, else the frame centre's bearing.
TEST(Eg0104, PointingOnALevelPlatform) {
    const struct {
        const char* what;
        double centreLat, centreLon; // NaN: no frame centre in the set
        double azimuth;
    } cases[] = {
        {"angle to north alone", NAN, NAN, 124.5},
        {"frame centre due east", 0.0, 0.01, 90.0},
        {"frame centre due north", 0.01, 0.0, 0.0},
        {"frame centre south-west", -0.01, -0.01 * 0.9933056200098589, 225.0}, // M = a (1 - e2)
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<Element> elements = {element(E::PlatformHeading, floatBytes(0.0f)),
                                         element(E::SensorLatitude, doubleBytes(0.0)),
                                         element(E::SensorLongitude, doubleBytes(0.0)),
                                         element(E::SensorAzimuth, floatBytes(124.5f)),
                                         element(E::SensorObliquity, floatBytes(-37.5f))};
        if (!std::isnan(c.centreLat)) {
            elements.push_back(element(E::FrameCenterLatitude, doubleBytes(c.centreLat)));
            elements.push_back(element(E::FrameCenterLongitude, doubleBytes(c.centreLon)));
        }
        const Bytes value = encodeElements(elements);
        KlvRecord r;
        ASSERT_EQ(parseEg0104(r, value.data(), value.size()), 0);
        EXPECT_TRUE(r.carries(&KlvRecord::sensorAzimuth));
        EXPECT_TRUE(r.carries(&KlvRecord::sensorElevation));
        EXPECT_NEAR(std::fmod(r.sensorAzimuth + 180.0, 360.0) - 180.0,
                    std::fmod(c.azimuth + 180.0, 360.0) - 180.0, 1e-6);
        EXPECT_NEAR(r.sensorElevation, -37.5, 1e-9);
    }
}

// Only the pair of absolute angles can be turned into relative ones; a lone azimuth is kept
// out of the record, and three corners are not a frame.
TEST(Eg0104, IncompletePointingAndCorners) {
    const Bytes value = encodeElements({element(E::SensorAzimuth, floatBytes(10.0f)),
                                        element(E::CornerLatitude1, doubleBytes(1.0)),
                                        element(E::CornerLongitude1, doubleBytes(2.0))});
    KlvRecord r;
    EXPECT_EQ(parseEg0104(r, value.data(), value.size()), 0);
    EXPECT_FALSE(r.carries(&KlvRecord::sensorAzimuth));
    EXPECT_EQ(r.sensorAzimuth, 0.0);
    EXPECT_FALSE(r.hasCorners);
}

TEST(Eg0104, WrongElementSizeStopsTheWalk) {
    for (const Eg0104ElementInfo& info : kEg0104Elements) {
        for (const size_t size : {size_t{0}, size_t{info.size} - 1, size_t{info.size} + 4}) {
            SCOPED_TRACE(testing::Message() << static_cast<int>(info.element) << " size " << size);
            const Bytes value = encodeElements({element(E::SensorAltitude, floatBytes(100.0f)),
                                                {info.key, Bytes(size, 0x41)},
                                                element(E::HorizontalFov, floatBytes(5.0f))});
            KlvRecord r;
            EXPECT_EQ(parseEg0104(r, value.data(), value.size()), -2);
            EXPECT_EQ(r.sensorAltitude, 100.0);
            EXPECT_FALSE(r.carries(&KlvRecord::horizontalFov));
            EXPECT_EQ(r.horizontalFov, 0.0);
        }
    }
}

TEST(Eg0104, UnknownKeysAreSteppedOverByTheirLength) {
    UniversalKey unknown = keyOf(E::SensorLatitude);
    unknown[15] = 0x7E; // not in the document
    UniversalKey newerVersion = keyOf(E::SensorLatitude);
    newerVersion[7] = 0x0E; // same element from a later dictionary version
    const Bytes value = encodeElements({
        {unknown, Bytes(3, 0xAA)},
        element(E::PlatformPitch, floatBytes(4.0f)),
        {unknown, Bytes(300, 0x06)}, // long-form length, bytes that look like keys
        {newerVersion, doubleBytes(-12.5)},
    });
    KlvRecord r;
    KlvWalkCounts counts;
    EXPECT_EQ(parseEg0104(r, value.data(), value.size(), &counts), 0);
    EXPECT_EQ(counts.unknown, 2);
    EXPECT_EQ(r.platformPitch, 4.0);
    EXPECT_EQ(r.sensorLatitude, -12.5);
}

// Every cut of a set: nothing past the cut is read (the copy ends there, so a sanitizer
// would see it), whole elements before it are decoded, a cut inside an element is -3.
TEST(Eg0104, CutSets) {
    const std::vector<Element> elements = {element(E::Timestamp, bigEndian(77, 8)),
                                           element(E::SensorLatitude, doubleBytes(10.0)),
                                           element(E::SensorAltitude, floatBytes(20.0f))};
    const Bytes value = encodeElements(elements);
    const size_t ends[] = {25, 50, 71};
    ASSERT_EQ(value.size(), ends[2]);
    for (size_t cut = 0; cut <= value.size(); ++cut) {
        SCOPED_TRACE(cut);
        auto copy = std::make_unique<unsigned char[]>(std::max<size_t>(cut, 1));
        std::copy(value.begin(), value.begin() + static_cast<long>(cut), copy.get());
        KlvRecord r;
        const int status = parseEg0104(r, copy.get(), cut);
        const bool boundary =
            cut == 0 || std::find(std::begin(ends), std::end(ends), cut) != std::end(ends);
        EXPECT_EQ(status, boundary ? 0 : -3);
        EXPECT_EQ(r.timestamp, cut >= ends[0] ? 77.0 : 0.0);
        EXPECT_EQ(r.sensorLatitude, cut >= ends[1] ? 10.0 : 0.0);
        EXPECT_EQ(r.sensorAltitude, cut >= ends[2] ? 20.0 : 0.0);
    }
}

// The intake tells the sets apart by their keys.
TEST(Eg0104, IntakeDecodesBothSetsByKey) {
    const Bytes eg = encodeSet({element(E::SensorAltitude, floatBytes(250.0f))});
    recordQueue queue;
    KlvTally tally;
    ASSERT_EQ(appendKlvRecords(queue, eg.data(), eg.size(), KlvIntakeOptions{true}, &tally), 1u);
    EXPECT_EQ(queue[0]->set, KlvSet::Eg0104);
    EXPECT_EQ(queue[0]->sensorAltitude, 250.0);
    EXPECT_STREQ(klvSetName(queue[0]->set), "0104");
    EXPECT_STREQ(klvSetName(KlvSet::St0601), "0601");
    // No checksum in this set: the strict policy, which is about ST 0601's, keeps it.
    EXPECT_EQ(tally.eg0104, 1);
    EXPECT_EQ(tally.checksumAbsent, 0);
    EXPECT_EQ(tally.discarded, 0);
}

// ---- The recording aphill_short.ts ------------------------------------------------------

const std::filesystem::path kTestData = SKYFRAME_TESTDATA;

// The first data packet of the file, as FFmpeg demultiplexes it.
Bytes firstDataPacket(const std::string& path) {
    AVFormatContext* raw = nullptr;
    if (avformat_open_input(&raw, path.c_str(), nullptr, nullptr) != 0) {
        return {};
    }
    InputFormatPtr format(raw);
    if (avformat_find_stream_info(format.get(), nullptr) < 0) {
        return {};
    }
    PacketPtr packet(av_packet_alloc());
    while (av_read_frame(format.get(), packet.get()) >= 0) {
        if (format->streams[packet->stream_index]->codecpar->codec_type == AVMEDIA_TYPE_DATA) {
            return Bytes(packet->data, packet->data + packet->size);
        }
        av_packet_unref(packet.get());
    }
    return {};
}

// The value bytes of the element with this exact key (as the file writes it), found by a
// plain search of the packet; its length byte must be the short form.
Bytes elementValue(const Bytes& packet, const Bytes& key) {
    const auto at = std::search(packet.begin(), packet.end(), key.begin(), key.end());
    if (at == packet.end() || at + 17 > packet.end()) {
        ADD_FAILURE() << "key not in the packet";
        return {};
    }
    const auto start = at + 17;
    return Bytes(start, start + *(at + 16));
}

// IEEE binary64 / binary32 from big-endian bytes, by its formula: sign, exponent, fraction.
double ieee(const Bytes& b) {
    uint64_t bits = 0;
    for (unsigned char c : b) {
        bits = bits << 8 | c;
    }
    const bool wide = b.size() == 8;
    const int fractionBits = wide ? 52 : 23;
    const int bias = wide ? 1023 : 127;
    const uint64_t fraction = bits & ((uint64_t{1} << fractionBits) - 1);
    const auto exponent = static_cast<int>((bits >> fractionBits) & (wide ? 0x7FF : 0xFF));
    const double sign = (bits >> (wide ? 63 : 31)) ? -1.0 : 1.0;
    return sign * std::ldexp(1.0 + std::ldexp(static_cast<double>(fraction), -fractionBits),
                             exponent - bias);
}

Bytes key(std::initializer_list<unsigned char> tail) {
    Bytes k = {0x06, 0x0E, 0x2B, 0x34, 0x01, 0x01, 0x01};
    k.insert(k.end(), tail);
    return k;
}

class Aphill : public testing::Test {
protected:
    void SetUp() override {
        const auto path = kTestData / "aphill_short.ts";
        if (!std::filesystem::exists(path)) {
            GTEST_SKIP() << "third-party test data not found at " << path;
        }
        packet = firstDataPacket(path.string());
        ASSERT_FALSE(packet.empty());
        ASSERT_EQ(appendKlvRecords(queue, packet.data(), packet.size()), 1u);
    }
    Bytes packet;
    recordQueue queue;
};

TEST_F(Aphill, FirstPacketHasTheValuesOfItsBytes) {
    const KlvRecord& r = *queue.front();
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.set, KlvSet::Eg0104);
    // Keys as the recorder wrote them, version bytes included.
    const struct {
        Bytes key;
        double KlvRecord::*field;
        double readme; // the test data's README
        double tolerance;
    } cases[] = {
        {key({0x03, 0x07, 0x01, 0x02, 0x01, 0x02, 0x04, 0x02, 0x00}), &KlvRecord::sensorLatitude,
         38.252336, 1e-9},
        {key({0x03, 0x07, 0x01, 0x02, 0x01, 0x02, 0x06, 0x02, 0x00}), &KlvRecord::sensorLongitude,
         -77.366859, 1e-9},
        {key({0x01, 0x07, 0x01, 0x02, 0x01, 0x02, 0x02, 0x00, 0x00}), &KlvRecord::sensorAltitude,
         1054.4, 1e-4},
        {key({0x02, 0x04, 0x20, 0x02, 0x01, 0x01, 0x08, 0x00, 0x00}), &KlvRecord::horizontalFov,
         0.8, 1e-7},
        {key({0x07, 0x04, 0x20, 0x02, 0x01, 0x01, 0x0A, 0x01, 0x00}), &KlvRecord::verticalFov, 0.6,
         1e-7},
        {key({0x01, 0x07, 0x01, 0x02, 0x01, 0x03, 0x02, 0x00, 0x00}),
         &KlvRecord::frameCenterLatitude, 38.24559, 1e-5},
        {key({0x01, 0x07, 0x01, 0x02, 0x01, 0x03, 0x04, 0x00, 0x00}),
         &KlvRecord::frameCenterLongitude, -77.35374, 1e-5},
    };
    for (const auto& c : cases) {
        const double fromBytes = ieee(elementValue(packet, c.key));
        EXPECT_EQ(r.*c.field, fromBytes);
        EXPECT_NEAR(r.*c.field, c.readme, c.tolerance);
    }
    for (int i = 0; i < 4; ++i) {
        const auto n = static_cast<unsigned char>(i);
        EXPECT_EQ(
            r.cornerLatitude[i],
            ieee(elementValue(packet, key({0x03, 0x07, 0x01, 0x02, 0x01, 0x03,
                                           static_cast<unsigned char>(0x07 + n), 0x01, 0x00}))));
        EXPECT_EQ(
            r.cornerLongitude[i],
            ieee(elementValue(packet, key({0x03, 0x07, 0x01, 0x02, 0x01, 0x03,
                                           static_cast<unsigned char>(0x0B + n), 0x01, 0x00}))));
    }
    EXPECT_TRUE(r.hasCorners);
    uint64_t time = 0;
    for (unsigned char c :
         elementValue(packet, key({0x03, 0x07, 0x02, 0x01, 0x01, 0x01, 0x05, 0x00, 0x00}))) {
        time = time << 8 | c;
    }
    EXPECT_EQ(r.timestamp, static_cast<double>(time));
    // 2008-09-15 UTC, in microseconds.
    EXPECT_NEAR(r.timestamp, 1221436800e6, 86400e6);
}

// Why the frame centre, not the angle to north, gives the azimuth: on every packet of this
// recording the angle to north exceeds the true bearing of the frame centre by the UTM grid
// convergence at the sensor (zone 18, central meridian 75 W): it is measured from grid
// north. Bearing from Earth-centred differences, convergence by its textbook formula.
TEST_F(Aphill, AngleToNorthIsFromGridNorth) {
    const KlvRecord& r = *queue.front();
    const double angleToNorth =
        ieee(elementValue(packet, key({0x01, 0x07, 0x01, 0x10, 0x01, 0x02, 0x00, 0x00, 0x00})));
    const Eigen::Vector3d d = geodeticToEcef(r.frameCenterLatitude, r.frameCenterLongitude, 0) -
                              geodeticToEcef(r.sensorLatitude, r.sensorLongitude, 0);
    const double p = r.sensorLatitude * kDegToRad, l = r.sensorLongitude * kDegToRad;
    const Eigen::Vector3d north(-std::sin(p) * std::cos(l), -std::sin(p) * std::sin(l),
                                std::cos(p));
    const Eigen::Vector3d east(-std::sin(l), std::cos(l), 0.0);
    const double bearing = std::atan2(d.dot(east), d.dot(north)) / kDegToRad;
    const double convergence =
        std::atan(std::tan((r.sensorLongitude + 75.0) * kDegToRad) * std::sin(p)) / kDegToRad;
    EXPECT_NEAR(angleToNorth - bearing, -convergence, 0.02);
    EXPECT_NEAR(-convergence, 1.47, 0.01);
}

// Posed from what the set carries, through the converted relative angles, the camera sees
// the frame centre the set reports near the middle of the picture. The centre's height is
// not in the set; it is placed where the set's slant range ends.
TEST_F(Aphill, FrameCentreProjectsNearThePictureCentre) {
    const KlvRecord& r = *queue.front();
    const double slant =
        ieee(elementValue(packet, key({0x01, 0x07, 0x01, 0x08, 0x01, 0x01, 0x00, 0x00, 0x00})));
    const Eigen::Matrix3d R =
        sensorRotation(r.sensorLongitude, r.sensorLatitude, r.platformHeading, r.platformPitch,
                       r.platformRoll, r.sensorAzimuth, r.sensorElevation);
    const Eigen::Vector3d sensor =
        geodeticToEcef(r.sensorLatitude, r.sensorLongitude, r.sensorAltitude);
    double low = -500.0, high = r.sensorAltitude;
    for (int i = 0; i < 60; ++i) { // the height at which the centre is `slant` away
        const double mid = 0.5 * (low + high);
        const double d =
            (geodeticToEcef(r.frameCenterLatitude, r.frameCenterLongitude, mid) - sensor).norm();
        (d > slant ? low : high) = mid;
    }
    const Eigen::Vector3d q =
        R * (geodeticToEcef(r.frameCenterLatitude, r.frameCenterLongitude, low) - sensor);
    ASSERT_GT(q.z(), 0.0);
    const double halfWidth = std::tan(0.5 * r.horizontalFov * kDegToRad);
    const double halfHeight = std::tan(0.5 * r.verticalFov * kDegToRad);
    // Within a tenth of the half-picture of the centre: 720 x 480 pixels -> 36 and 24.
    EXPECT_LT(std::abs(q.x() / q.z()) / halfWidth, 0.1);
    EXPECT_LT(std::abs(q.y() / q.z()) / halfHeight, 0.1);
    std::cout << "frame centre at " << 360.0 * q.x() / q.z() / halfWidth << ", "
              << 240.0 * q.y() / q.z() / halfHeight << " pixels from the picture centre\n";
}

} // namespace
} // namespace skyframe
