#include "telemetry/KlvEncoder.h"

#include "telemetry/Klv.h"
#include "telemetry/KlvPacket.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <stdexcept>
#include <vector>

namespace skyframe {
namespace {

using Bytes = std::vector<unsigned char>;

// Decodes a packet the encoder made, through the same path the viewer uses.
KlvRecord decode(const Bytes& packet, int* status = nullptr) {
    KlvPacket framed;
    EXPECT_TRUE(frameKlvPacket(packet.data(), packet.size(), framed));
    EXPECT_EQ(framed.size, packet.size());
    KlvRecord record;
    const int s = parseItems(record, framed.value(), static_cast<int>(framed.valueLength));
    if (status != nullptr) {
        *status = s;
    }
    return record;
}

struct Resolution {
    double KlvRecord::*field;
    double step; // one stored unit, in physical units
};

const std::vector<Resolution> kResolutions = {
    {&KlvRecord::platformHeading, 360.0 / 65535},
    {&KlvRecord::platformPitch, 20.0 / 32767},
    {&KlvRecord::platformRoll, 50.0 / 32767},
    {&KlvRecord::sensorLatitude, 90.0 / 2147483647},
    {&KlvRecord::sensorLongitude, 180.0 / 2147483647},
    {&KlvRecord::sensorAltitude, 19900.0 / 65535},
    {&KlvRecord::horizontalFov, 180.0 / 65535},
    {&KlvRecord::verticalFov, 180.0 / 65535},
    {&KlvRecord::sensorAzimuth, 360.0 / 4294967295},
    {&KlvRecord::sensorElevation, 180.0 / 2147483647},
    {&KlvRecord::sensorRoll, 360.0 / 4294967295},
    {&KlvRecord::frameCenterLatitude, 90.0 / 2147483647},
    {&KlvRecord::frameCenterLongitude, 180.0 / 2147483647},
    {&KlvRecord::frameCenterElevation, 19900.0 / 65535},
};

// Encode, parse, compare: every value comes back within half a stored unit, across the
// ranges and in both signs.
TEST(EncodeUasLocalSet, RoundTripsWithinHalfAStoredUnit) {
    for (int i = 0; i < 200; ++i) {
        const double t = i / 199.0; // 0 .. 1
        const double s = 2.0 * t - 1.0;
        KlvRecord in;
        in.timestamp = 1704067200000000.0 + i * 33333.0;
        in.platformHeading = 360.0 * t;
        in.platformPitch = 20.0 * s;
        in.platformRoll = -50.0 * s;
        in.sensorLatitude = 90.0 * s * 0.999;
        in.sensorLongitude = -180.0 * s * 0.999;
        in.sensorAltitude = -900.0 + 19900.0 * t;
        in.horizontalFov = 180.0 * t;
        in.verticalFov = 180.0 * (1.0 - t);
        in.sensorAzimuth = 360.0 * t;
        in.sensorElevation = 180.0 * s * 0.999;
        in.sensorRoll = 359.0 * (1.0 - t);
        in.frameCenterLatitude = -89.9 * s;
        in.frameCenterLongitude = 179.9 * s;
        in.frameCenterElevation = 19000.0 - 19900.0 * t;
        int status = -99;
        const Bytes packet = encodeUasLocalSet(in);
        const KlvRecord out = decode(packet, &status);
        SCOPED_TRACE(testing::Message() << "sample " << i);
        ASSERT_EQ(status, kKlvOk);
        EXPECT_EQ(out.timestamp, in.timestamp);
        for (const Resolution& r : kResolutions) {
            EXPECT_NEAR(out.*r.field, in.*r.field, r.step * 0.5000001);
        }
        KlvPacket framed;
        ASSERT_TRUE(frameKlvPacket(packet.data(), packet.size(), framed));
        EXPECT_EQ(verifyChecksum(framed), ChecksumStatus::Ok);
    }
}

// Every 16-bit stored integer, decoded and encoded again, is the same integer: rounding
// neither drifts nor skips a code.
TEST(StoreIntegers, DecodedCodesEncodeToThemselves) {
    for (uint32_t raw = 0; raw <= 0xFFFF; ++raw) {
        const unsigned char b[2] = {static_cast<unsigned char>(raw >> 8),
                                    static_cast<unsigned char>(raw)};
        ASSERT_EQ(storeU16(normU16(b) * 360.0, 360.0), raw);
        ASSERT_EQ(storeU16(normU16(b) * 19900.0 - 900.0, 19900.0, 900.0), raw);
        if (raw != 0x8000) {
            ASSERT_EQ(static_cast<uint16_t>(storeS16(normS16(b) * 20.0, 20.0)), raw);
            ASSERT_EQ(static_cast<uint16_t>(storeS16(normS16(b) * 50.0, 50.0)), raw);
        }
    }
    for (uint64_t raw = 0; raw <= 0xFFFFFFFFu; raw += 0x10001 * 7 + 3) {
        const unsigned char b[4] = {
            static_cast<unsigned char>(raw >> 24), static_cast<unsigned char>(raw >> 16),
            static_cast<unsigned char>(raw >> 8), static_cast<unsigned char>(raw)};
        ASSERT_EQ(storeU32(normU32(b) * 360.0, 360.0), raw);
        if (raw != 0x80000000u) {
            ASSERT_EQ(static_cast<uint32_t>(storeS32(normS32(b) * 90.0, 90.0)), raw);
            ASSERT_EQ(static_cast<uint32_t>(storeS32(normS32(b) * 180.0, 180.0)), raw);
        }
    }
}

TEST(StoreIntegers, RoundToNearestAndClampWithoutTheMarker) {
    const double headingUnit = 360.0 / 65535;
    EXPECT_EQ(storeU16(100.3 * headingUnit, 360.0), 100);
    EXPECT_EQ(storeU16(100.7 * headingUnit, 360.0), 101);
    EXPECT_EQ(storeS16(-100.3 * 20.0 / 32767, 20.0), -100);
    EXPECT_EQ(storeS16(-100.7 * 20.0 / 32767, 20.0), -101);
    EXPECT_EQ(storeU16(360.0, 360.0), 0xFFFF);
    EXPECT_EQ(storeU16(400.0, 360.0), 0xFFFF);
    EXPECT_EQ(storeU16(-1.0, 360.0), 0);
    EXPECT_EQ(storeU16(-900.0, 19900.0, 900.0), 0);
    EXPECT_EQ(storeU16(19000.0, 19900.0, 900.0), 0xFFFF);
    EXPECT_EQ(storeU16(-5000.0, 19900.0, 900.0), 0);
    // Below the range a signed item clamps to -(2^(n-1) - 1): the most negative code means
    // "out of range" to every reader.
    EXPECT_EQ(storeS16(-20.0, 20.0), -32767);
    EXPECT_EQ(storeS16(-25.0, 20.0), -32767);
    EXPECT_EQ(storeS16(25.0, 20.0), 32767);
    EXPECT_EQ(storeS32(-90.0, 90.0), -2147483647);
    EXPECT_EQ(storeS32(-91.0, 90.0), -2147483647);
    EXPECT_EQ(storeS32(-std::numeric_limits<double>::infinity(), 90.0), -2147483647);
    EXPECT_EQ(storeU32(std::numeric_limits<double>::infinity(), 360.0), 0xFFFFFFFFu);
    EXPECT_EQ(storeU32(std::nan(""), 360.0), 0u);
}

TEST(WrapDegrees, WholeTurnsIntoTheRange) {
    EXPECT_EQ(wrapDegrees(-10.0, 0.0, 360.0), 350.0);
    EXPECT_EQ(wrapDegrees(370.0, 0.0, 360.0), 10.0);
    EXPECT_EQ(wrapDegrees(360.0, 0.0, 360.0), 360.0) << "the range's own end stays";
    EXPECT_EQ(wrapDegrees(-720.0, 0.0, 360.0), 0.0);
    EXPECT_EQ(wrapDegrees(190.0, -180.0, 180.0), -170.0);
    EXPECT_EQ(wrapDegrees(-190.0, -180.0, 180.0), 170.0);
    EXPECT_EQ(wrapDegrees(45.0, -180.0, 180.0), 45.0);
}

TEST(EncodeUasLocalSet, WrapsAnglesAndClampsTheRest) {
    KlvRecord in;
    in.platformHeading = -10.0;
    in.sensorLongitude = 190.0;
    in.sensorLatitude = 95.0;
    in.platformPitch = -30.0;
    in.sensorAltitude = 25000.0;
    const KlvRecord out = decode(encodeUasLocalSet(in));
    EXPECT_NEAR(out.platformHeading, 350.0, 0.003);
    EXPECT_NEAR(out.sensorLongitude, -170.0, 1e-7);
    EXPECT_EQ(out.sensorLatitude, 90.0);
    EXPECT_EQ(out.platformPitch, -20.0);
    EXPECT_EQ(out.sensorAltitude, 19000.0);
}

TEST(EncodeUasLocalSet, LayoutOfTheLocalSet) {
    KlvRecord in;
    in.timestamp = 1231798102000000.0;
    const Bytes packet = encodeUasLocalSet(in);
    const Bytes key = {0x06, 0x0E, 0x2B, 0x34, 0x02, 0x0B, 0x01, 0x01,
                       0x0E, 0x01, 0x03, 0x01, 0x01, 0x00, 0x00, 0x00};
    ASSERT_GT(packet.size(), 18u);
    EXPECT_EQ(Bytes(packet.begin(), packet.begin() + 16), key);
    // 10 timestamp + 7 * 4 (two-byte items) + 7 * 6 (four-byte items) + 4 checksum = 84
    EXPECT_EQ(packet[16], 84);
    EXPECT_EQ(packet.size(), 17u + 84u);
    // The timestamp first, as the standard asks; the example's bytes.
    EXPECT_EQ(Bytes(packet.begin() + 17, packet.begin() + 27),
              (Bytes{0x02, 0x08, 0x00, 0x04, 0x60, 0x50, 0x58, 0x4E, 0x01, 0x80}));
    // Tags in ascending order after it, checksum last.
    std::vector<int> tags;
    size_t offset = 17;
    while (offset < packet.size()) {
        tags.push_back(packet[offset]);
        offset += 2 + packet[offset + 1];
    }
    EXPECT_EQ(tags, (std::vector<int>{2, 5, 6, 7, 13, 14, 15, 16, 17, 18, 19, 20, 23, 24, 25, 1}));
    EXPECT_EQ(packet[packet.size() - 4], 0x01);
    EXPECT_EQ(packet[packet.size() - 3], 0x02);
}

TEST(EncodeUasLocalSet, ExtraItemsWithLongLengthsAndHighTags) {
    KlvRecord in;
    in.platformHeading = 90.0;
    const std::vector<KlvItem> extras = {
        {3, Bytes(300, 'M')},     // long text: 0x82 length
        {142, Bytes{0x12, 0x34}}, // BER-OID tag
        {65, Bytes{0x11}},        // UAS LS version
    };
    const Bytes packet = encodeUasLocalSet(in, extras);
    EXPECT_EQ(packet[16], 0x82) << "a value over 255 bytes needs two length bytes";
    int status = -99;
    const KlvRecord out = decode(packet, &status);
    EXPECT_EQ(status, kKlvOk);
    EXPECT_NEAR(out.platformHeading, 90.0, 0.003);
    KlvPacket framed;
    ASSERT_TRUE(frameKlvPacket(packet.data(), packet.size(), framed));
    EXPECT_EQ(verifyChecksum(framed), ChecksumStatus::Ok);
    const Bytes tail(packet.end() - 12, packet.end() - 4);
    EXPECT_EQ(tail, (Bytes{0x81, 0x0E, 0x02, 0x12, 0x34, 0x41, 0x01, 0x11}));

    EXPECT_THROW(encodeUasLocalSet(in, {{1, {0, 0}}}), std::invalid_argument);
    EXPECT_THROW(encodeUasLocalSet(in, {{2, {0}}}), std::invalid_argument);
}

TEST(EncodeUasLocalSet, UnknownValuesAreLeftOut) {
    KlvRecord in;
    in.platformPitch = std::nan("");
    in.timestamp = std::nan("");
    in.sensorLatitude = 45.0;
    const Bytes packet = encodeUasLocalSet(in);
    EXPECT_EQ(packet[16], 84 - 10 - 4);
    KlvRecord out;
    out.platformPitch = 3.0;
    KlvPacket framed;
    ASSERT_TRUE(frameKlvPacket(packet.data(), packet.size(), framed));
    EXPECT_EQ(parseItems(out, framed.value(), static_cast<int>(framed.valueLength)), kKlvOk);
    EXPECT_EQ(out.platformPitch, 3.0);
    EXPECT_NEAR(out.sensorLatitude, 45.0, 1e-7);
}

TEST(EncodeUasLocalSet, TimestampIsRoundedAndClamped) {
    KlvRecord in;
    in.timestamp = 1.6;
    EXPECT_EQ(decode(encodeUasLocalSet(in)).timestamp, 2.0);
    in.timestamp = -5.0;
    EXPECT_EQ(decode(encodeUasLocalSet(in)).timestamp, 0.0);
    in.timestamp = 1e30;
    EXPECT_EQ(decode(encodeUasLocalSet(in)).timestamp, 18446744073709551615.0);
}

TEST(WrapUasLocalSet, WithoutChecksum) {
    const Bytes items = {5, 2, 0xFF, 0xFF};
    const Bytes packet = wrapUasLocalSet(items, false);
    EXPECT_EQ(packet.size(), 16u + 1u + 4u);
    KlvPacket framed;
    ASSERT_TRUE(frameKlvPacket(packet.data(), packet.size(), framed));
    EXPECT_EQ(verifyChecksum(framed), ChecksumStatus::Absent);
}

} // namespace
} // namespace skyframe
