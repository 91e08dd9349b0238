// The intake of data packets: resynchronisation after damaged lengths, the checksum policy,
// the tally, and the ST 0601 items beyond the fifteen fields (corners, ellipsoid height).
#include "Eg0104TestEncoder.h"
#include "telemetry/Klv.h"
#include "telemetry/KlvEncoder.h"
#include "telemetry/KlvPacket.h"
#include "telemetry/KlvTally.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace skyframe {
namespace {

using Bytes = std::vector<unsigned char>;

KlvRecord flight(int i) {
    KlvRecord r;
    r.timestamp = 1704067200000000.0 + 1000.0 * i;
    r.platformHeading = 10.0 + i;
    r.sensorLatitude = 33.5 + 0.001 * i;
    r.sensorLongitude = -115.5;
    r.sensorAltitude = 1500.0;
    r.horizontalFov = 30.0;
    r.verticalFov = 17.0;
    return r;
}

struct Damage {
    const char* what;
    unsigned char length; // replaces the short-form length byte
};
const Damage kDamage[] = {
    {"too long, reaching into the next packet", 0x7F},
    {"too short, ending inside its own value", 0x08},
    {"beyond the data (long form, 4 bytes)", 0x84},
};

TEST(Resync, NinetyPacketsWithOneCorruptLengthGiveEightyNine) {
    for (const Damage& d : kDamage) {
        SCOPED_TRACE(d.what);
        Bytes data;
        size_t damagedSize = 0;
        for (int i = 0; i < 90; ++i) {
            Bytes p = encodeUasLocalSet(flight(i));
            ASSERT_LT(p[16], 0x80);
            if (i == 57) {
                p[16] = d.length;
                damagedSize = p.size();
            }
            data.insert(data.end(), p.begin(), p.end());
        }
        recordQueue queue;
        KlvTally tally;
        ASSERT_EQ(appendKlvRecords(queue, data.data(), data.size(), {}, &tally), 89u);
        for (size_t i = 0; i < queue.size(); ++i) {
            const int input = i < 57 ? static_cast<int>(i) : static_cast<int>(i) + 1;
            EXPECT_EQ(queue[i]->status, 0) << i;
            EXPECT_EQ(queue[i]->timestamp, flight(input).timestamp) << i;
        }
        EXPECT_EQ(tally.packets, 89);
        EXPECT_EQ(tally.decoded, 89);
        EXPECT_EQ(tally.resyncs, 1);
        EXPECT_EQ(tally.skippedBytes, static_cast<long>(damagedSize));
        size_t consumed = 0;
        EXPECT_EQ(splitKlvPackets(data.data(), data.size(), &consumed).size(), 89u);
        EXPECT_EQ(consumed, data.size() - damagedSize);
    }
}

TEST(Resync, GarbageBeforeAndAfterThePackets) {
    const Bytes a = encodeUasLocalSet(flight(1));
    const Bytes b = encodeUasLocalSet(flight(2));
    Bytes data = {0x00, 0x06, 0x0E, 0x2B, 0x34, 0x99, 0x81}; // a broken label, then a set
    data.insert(data.end(), a.begin(), a.end());
    data.insert(data.end(), b.begin(), b.end());
    data.insert(data.end(), {0x06, 0x0E, 0x2B}); // a packet cut inside its key
    recordQueue queue;
    KlvTally tally;
    ASSERT_EQ(appendKlvRecords(queue, data.data(), data.size(), {}, &tally), 2u);
    EXPECT_EQ(queue[0]->timestamp, flight(1).timestamp);
    EXPECT_EQ(queue[1]->timestamp, flight(2).timestamp);
    EXPECT_EQ(tally.resyncs, 1);
    EXPECT_EQ(tally.skippedBytes, 7);
}

// A universal set whose length is cut short at an element boundary: the element keys after
// it (06 0E 2B 34 01 ...) are not taken for packets.
TEST(Resync, ShortLengthOfAUniversalSetEndsAtAnElement) {
    using namespace eg0104test;
    const std::vector<Element> elements = {
        element(Eg0104Element::SensorLatitude, doubleBytes(38.25)),
        element(Eg0104Element::SensorLongitude, doubleBytes(-77.37)),
        element(Eg0104Element::SensorAltitude, floatBytes(1054.5f))};
    Bytes damaged = encodeSet(elements);
    ASSERT_LT(damaged[16], 0x80);
    damaged[16] = 25; // the first element only
    const Bytes good = encodeSet(elements);
    Bytes data = damaged;
    data.insert(data.end(), good.begin(), good.end());
    recordQueue queue;
    KlvTally tally;
    ASSERT_EQ(appendKlvRecords(queue, data.data(), data.size(), {}, &tally), 1u);
    EXPECT_EQ(queue[0]->set, KlvSet::Eg0104);
    EXPECT_EQ(queue[0]->sensorAltitude, 1054.5);
    EXPECT_EQ(tally.st0601, 0);
    EXPECT_EQ(tally.resyncs, 1);
    EXPECT_EQ(tally.skippedBytes, static_cast<long>(damaged.size()));
}

// ---- Checksum policy ---------------------------------------------------------------------

Bytes readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

const std::filesystem::path kTestData = SKYFRAME_TESTDATA;

TEST(ChecksumPolicy, StrictRefusesWhatLenientKeeps) {
    Bytes noSum = wrapUasLocalSet({5, 2, 0x40, 0x00}, false);
    Bytes goodSum = encodeUasLocalSet(flight(0));
    Bytes badSum = goodSum;
    badSum.back() ^= 0x01;
    struct Case {
        const char* what;
        Bytes bytes;
        long bad, absent;
    };
    std::vector<Case> cases = {
        {"no checksum", noSum, 0, 1}, {"correct", goodSum, 0, 0}, {"wrong", badSum, 1, 0}};
    // The standard's example packet, whose stored checksum 0xAA43 should be 0x3E1E, and a
    // packet with a correct one.
    const auto wrongFile = kTestData / "DynamicConstantMISMMSPacketData.bin";
    const auto rightFile = kTestData / "DynamicOnlyMISMMSPacketData.bin";
    if (std::filesystem::exists(wrongFile)) {
        cases.push_back({"testdata, wrong checksum", readFile(wrongFile), 1, 0});
        cases.push_back({"testdata, correct checksum", readFile(rightFile), 0, 0});
    } else {
        std::cout << "third-party test data not found at " << kTestData
                  << "; its packets are not tried\n";
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const bool refused = c.bad + c.absent > 0;
        recordQueue lenient, strict;
        KlvTally lenientTally, strictTally;
        EXPECT_EQ(appendKlvRecords(lenient, c.bytes.data(), c.bytes.size(), {false}, &lenientTally),
                  1u);
        EXPECT_EQ(appendKlvRecords(strict, c.bytes.data(), c.bytes.size(), {true}, &strictTally),
                  refused ? 0u : 1u);
        EXPECT_EQ(lenientTally.checksumBad, c.bad);
        EXPECT_EQ(lenientTally.checksumAbsent, c.absent);
        EXPECT_EQ(lenientTally.discarded, 0);
        EXPECT_EQ(strictTally.checksumBad, c.bad);
        EXPECT_EQ(strictTally.discarded, refused ? 1 : 0);
        EXPECT_EQ(strictTally.decoded, refused ? 0 : 1);
        EXPECT_EQ(lenient.front()->status, 0);
    }
}

// ---- Items beyond the fifteen fields -----------------------------------------------------

Bytes s16(int v) {
    return {static_cast<unsigned char>((v >> 8) & 0xFF), static_cast<unsigned char>(v & 0xFF)};
}
Bytes s32(long v) {
    const auto u = static_cast<uint32_t>(v);
    return {static_cast<unsigned char>(u >> 24), static_cast<unsigned char>(u >> 16),
            static_cast<unsigned char>(u >> 8), static_cast<unsigned char>(u)};
}
void item(Bytes& out, unsigned tag, const Bytes& v) {
    appendKlvItem(out, tag, v.data(), v.size());
}

// Offsets (tags 26-33) are scaled to +-0.075 degrees over +-32767 and added to the frame
// centre, which may come after them in the set.
TEST(St0601Corners, OffsetsFromTheFrameCentre) {
    const int raw[8] = {32767, -32767, 16384, 1000, -1, 0, -20000, 5};
    Bytes items;
    for (int i = 0; i < 8; ++i) {
        item(items, 26 + i, s16(raw[i]));
    }
    item(items, 23, s32(1073741824)); // 45.00000002 degrees
    item(items, 24, s32(-1073741824));
    KlvRecord r;
    EXPECT_EQ(parseItems(r, items.data(), static_cast<int>(items.size())), 0);
    ASSERT_TRUE(r.hasCorners);
    const double lat0 = 1073741824.0 / 2147483647.0 * 90.0;
    const double lon0 = -1073741824.0 / 2147483647.0 * 180.0;
    for (int i = 0; i < 4; ++i) {
        EXPECT_NEAR(r.cornerLatitude[i], lat0 + raw[2 * i] * 0.075 / 32767.0, 1e-12) << i;
        EXPECT_NEAR(r.cornerLongitude[i], lon0 + raw[2 * i + 1] * 0.075 / 32767.0, 1e-12) << i;
    }
    // Without the frame centre the offsets mean nothing.
    KlvRecord noCentre;
    EXPECT_EQ(parseItems(noCentre, items.data(), static_cast<int>(items.size()) - 12), 0);
    EXPECT_FALSE(noCentre.hasCorners);
}

TEST(St0601Corners, FullCornersWinAndOutOfRangeCodes) {
    const long raw[8] = {2147483647, -2147483647, 1000000000, -1, 0, 5, -1000000000, 77};
    Bytes items;
    for (int i = 0; i < 8; ++i) {
        item(items, 82 + i, s32(raw[i]));
        item(items, 26 + i, s16(100)); // offsets as well: the full values win
    }
    item(items, 23, s32(0));
    item(items, 24, s32(0));
    KlvRecord r;
    EXPECT_EQ(parseItems(r, items.data(), static_cast<int>(items.size())), 0);
    ASSERT_TRUE(r.hasCorners);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(r.cornerLatitude[i], raw[2 * i] / 2147483647.0 * 90.0) << i;
        EXPECT_EQ(r.cornerLongitude[i], raw[2 * i + 1] / 2147483647.0 * 180.0) << i;
    }
    // One corner holding the out-of-range code: status -1, no frame of corners.
    Bytes marked;
    for (int i = 0; i < 8; ++i) {
        item(marked, 82 + i, i == 5 ? Bytes{0x80, 0, 0, 0} : s32(raw[i]));
    }
    KlvRecord m;
    KlvWalkCounts counts;
    EXPECT_EQ(parseItems(m, marked.data(), static_cast<int>(marked.size()), &counts), -1);
    EXPECT_EQ(counts.outOfRange, 1);
    EXPECT_FALSE(m.hasCorners);
}

TEST(St0601EllipsoidHeight, Tag75) {
    const struct {
        Bytes value;
        int status;
        double height;
        bool present;
    } cases[] = {
        {{0x00, 0x00}, 0, -900.0, true},
        {{0xFF, 0xFF}, 0, 19000.0, true},
        {{0x2A, 0x94}, 0, 0x2A94 / 65535.0 * 19900.0 - 900.0, true},
        {{0x2A}, -2, 0.0, false},
    };
    for (const auto& c : cases) {
        Bytes items;
        item(items, 75, c.value);
        KlvRecord r;
        EXPECT_EQ(parseItems(r, items.data(), static_cast<int>(items.size())), c.status);
        EXPECT_EQ(r.sensorEllipsoidHeight, c.height);
        EXPECT_EQ(r.carries(&KlvRecord::sensorEllipsoidHeight), c.present);
        EXPECT_FALSE(r.carries(&KlvRecord::sensorAltitude));
    }
}

KlvRecord decodedFlight() {
    KlvRecord r;
    const Bytes p = encodeUasLocalSet(flight(0));
    parseItems(r, p.data() + 17, p[16]);
    return r;
}

TEST(KlvTally, UsableForPoseNeedsPositionHeightAndFieldOfView) {
    EXPECT_TRUE(usableForPose(decodedFlight()));
    KlvRecord noHeight = decodedFlight();
    noHeight.present &= ~(1u << 6); // sensorAltitude's flag
    EXPECT_FALSE(usableForPose(noHeight));
    noHeight.markPresent(&KlvRecord::sensorEllipsoidHeight);
    EXPECT_TRUE(usableForPose(noHeight));
    KlvRecord zeroFov = decodedFlight();
    zeroFov.verticalFov = 0.0;
    EXPECT_FALSE(usableForPose(zeroFov));
    EXPECT_FALSE(usableForPose(KlvRecord{}));
}

} // namespace
} // namespace skyframe
