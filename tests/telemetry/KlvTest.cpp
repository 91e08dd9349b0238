#include "telemetry/Klv.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <initializer_list>
#include <sstream>
#include <string>
#include <vector>

namespace skyframe {
namespace {

using Bytes = std::vector<unsigned char>;

Bytes join(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) {
        out.insert(out.end(), p.begin(), p.end());
    }
    return out;
}

// Runs parseItems on an exactly sized copy, so any read past `length` is a sanitizer report.
int parse(KlvRecord& record, const Bytes& value) {
    const Bytes exact(value);
    return parseItems(record, exact.data(), static_cast<int>(exact.size()));
}

// Every decoded field, for "nothing else changed" comparisons.
std::vector<double> fields(const KlvRecord& r) {
    std::vector<double> out;
    for (const KlvField& f : kKlvFields) {
        out.push_back(r.*f.field);
    }
    return out;
}

struct MappingCase {
    Bytes item;
    double KlvRecord::*field;
    double expected;
};

// Stored integers of the MISB ST 0601 example mission (the standard's sample packet) and
// of flight data, with their physical values computed exactly as rationals (Python's
// fractions: raw * range / divisor - offset) and rounded to 17 digits. A wrong divisor,
// byte order, sign extension or offset shows up in the leading digits.
TEST(ParseItems, MapsStoredIntegersToPhysicalValues) {
    const std::vector<MappingCase> cases = {
        {{2, 8, 0x00, 0x04, 0x60, 0x50, 0x58, 0x4E, 0x01, 0x80},
         &KlvRecord::timestamp,
         1231798102000000.0},
        {{5, 2, 0x71, 0xC2}, &KlvRecord::platformHeading, 159.97436484321355},
        {{6, 2, 0xFD, 0x3D}, &KlvRecord::platformPitch, -0.4315317239906003},
        {{7, 2, 0x08, 0xB8}, &KlvRecord::platformRoll, 3.4058656575212867},
        {{7, 2, 0xD7, 0x13}, &KlvRecord::platformRoll, -15.98712118900113},
        {{13, 4, 0x55, 0x95, 0xB6, 0x6D}, &KlvRecord::sensorLatitude, 60.176822966978335},
        {{14, 4, 0x5B, 0x53, 0x60, 0xC4}, &KlvRecord::sensorLongitude, 128.42675904204452},
        {{14, 4, 0xB1, 0x0C, 0x3E, 0x2B}, &KlvRecord::sensorLongitude, -111.02649810306099},
        {{15, 2, 0xC2, 0x21}, &KlvRecord::sensorAltitude, 14190.719462882429},
        {{15, 2, 0x1F, 0x40}, &KlvRecord::sensorAltitude, 1529.2362859540704},
        {{16, 2, 0xCD, 0x9C}, &KlvRecord::horizontalFov, 144.5712977798123},
        {{17, 2, 0xD9, 0x17}, &KlvRecord::verticalFov, 152.64362554360267},
        {{18, 4, 0x72, 0x4A, 0x0A, 0x20}, &KlvRecord::sensorAzimuth, 160.71921143697557},
        {{18, 4, 0xCF, 0xCF, 0x95, 0x54}, &KlvRecord::sensorAzimuth, 292.234039262923},
        {{19, 4, 0x87, 0xF8, 0x4B, 0x86}, &KlvRecord::sensorElevation, -168.79232483394085},
        {{20, 4, 0x7D, 0xC5, 0x5E, 0xCE}, &KlvRecord::sensorRoll, 176.86543764939194},
        {{20, 4, 0xFF, 0x5C, 0x41, 0x6A}, &KlvRecord::sensorRoll, 359.1005248108647},
        {{23, 4, 0xF1, 0x01, 0xA2, 0x29}, &KlvRecord::frameCenterLatitude, -10.542388633146132},
        {{24, 4, 0x14, 0xBC, 0x08, 0x2B}, &KlvRecord::frameCenterLongitude, 29.157890122923018},
        {{25, 2, 0x34, 0xF3}, &KlvRecord::frameCenterElevation, 3216.037232013428},
        {{25, 2, 0x14, 0x40}, &KlvRecord::frameCenterElevation, 674.1451132982376},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.item));
        KlvRecord record;
        ASSERT_EQ(parse(record, c.item), kKlvOk);
        EXPECT_NEAR(record.*c.field, c.expected, std::fabs(c.expected) * 1e-15);
    }
}

struct ExactCase {
    Bytes item;
    double KlvRecord::*field;
    double expected;
};

// Ends and midpoints of each range, which the mapping hits exactly.
TEST(ParseItems, RangeEndsAreExact) {
    const std::vector<ExactCase> cases = {
        {{5, 2, 0xFF, 0xFF}, &KlvRecord::platformHeading, 360.0},
        {{5, 2, 0x00, 0x00}, &KlvRecord::platformHeading, 0.0},
        {{6, 2, 0x80, 0x01}, &KlvRecord::platformPitch, -20.0},
        {{6, 2, 0x7F, 0xFF}, &KlvRecord::platformPitch, 20.0},
        {{7, 2, 0x80, 0x01}, &KlvRecord::platformRoll, -50.0},
        {{13, 4, 0x7F, 0xFF, 0xFF, 0xFF}, &KlvRecord::sensorLatitude, 90.0},
        {{13, 4, 0x80, 0x00, 0x00, 0x01}, &KlvRecord::sensorLatitude, -90.0},
        {{14, 4, 0x80, 0x00, 0x00, 0x01}, &KlvRecord::sensorLongitude, -180.0},
        {{15, 2, 0x00, 0x00}, &KlvRecord::sensorAltitude, -900.0},
        {{15, 2, 0xFF, 0xFF}, &KlvRecord::sensorAltitude, 19000.0},
        {{16, 2, 0xFF, 0xFF}, &KlvRecord::horizontalFov, 180.0},
        {{17, 2, 0xFF, 0xFF}, &KlvRecord::verticalFov, 180.0},
        // Unsigned 32-bit: no sign extension, all ones is the full circle.
        {{18, 4, 0xFF, 0xFF, 0xFF, 0xFF}, &KlvRecord::sensorAzimuth, 360.0},
        {{19, 4, 0x7F, 0xFF, 0xFF, 0xFF}, &KlvRecord::sensorElevation, 180.0},
        {{20, 4, 0xFF, 0xFF, 0xFF, 0xFF}, &KlvRecord::sensorRoll, 360.0},
        {{23, 4, 0x80, 0x00, 0x00, 0x01}, &KlvRecord::frameCenterLatitude, -90.0},
        {{24, 4, 0x7F, 0xFF, 0xFF, 0xFF}, &KlvRecord::frameCenterLongitude, 180.0},
        {{25, 2, 0x00, 0x00}, &KlvRecord::frameCenterElevation, -900.0},
        {{25, 2, 0xFF, 0xFF}, &KlvRecord::frameCenterElevation, 19000.0},
        {{2, 8, 0x00, 0x20, 0, 0, 0, 0, 0, 0}, &KlvRecord::timestamp, 9007199254740992.0},
        {{2, 8, 0x00, 0x1F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF},
         &KlvRecord::timestamp,
         9007199254740991.0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.item));
        KlvRecord record;
        record.*c.field = -12345.0;
        ASSERT_EQ(parse(record, c.item), kKlvOk);
        EXPECT_EQ(record.*c.field, c.expected);
    }
}

TEST(ParseItems, EmptyValueChangesNothing) {
    KlvRecord record;
    record.platformHeading = 12.0;
    const std::vector<double> before = fields(record);
    EXPECT_EQ(parseItems(record, nullptr, 0), kKlvOk);
    const unsigned char one[] = {5};
    EXPECT_EQ(parseItems(record, one, 0), kKlvOk);
    EXPECT_EQ(parseItems(record, one, -7), kKlvOk);
    EXPECT_EQ(fields(record), before);
}

TEST(ParseItems, OutOfRangeCodeKeepsTheFieldAndReportsMinusOne) {
    const std::vector<Bytes> markers = {
        {6, 2, 0x80, 0x00},     {7, 2, 0x80, 0x00},     {13, 4, 0x80, 0, 0, 0},
        {14, 4, 0x80, 0, 0, 0}, {19, 4, 0x80, 0, 0, 0}, {23, 4, 0x80, 0, 0, 0},
        {24, 4, 0x80, 0, 0, 0},
    };
    for (const Bytes& item : markers) {
        SCOPED_TRACE(testing::PrintToString(item));
        KlvRecord record;
        for (const KlvField& f : kKlvFields) {
            record.*f.field = 7.0;
        }
        EXPECT_EQ(parse(record, item), kKlvOutOfRange);
        for (const KlvField& f : kKlvFields) {
            EXPECT_EQ(record.*f.field, 7.0) << f.name;
        }
    }
    // Unsigned items have no marker: the same bits are an ordinary value.
    KlvRecord record;
    EXPECT_EQ(parse(record, {20, 4, 0x80, 0, 0, 0}), kKlvOk);
    EXPECT_NEAR(record.sensorRoll, 180.0, 1e-7);
}

// Real encoders send the out-of-range code for a sensor elevation they cannot express and
// carry on; stopping at it lost the frame centre and everything after.
TEST(ParseItems, OutOfRangeMarkerDoesNotLoseLaterItems) {
    KlvRecord record;
    const Bytes value = join({{19, 4, 0x80, 0, 0, 0},
                              {20, 4, 0xFF, 0xFF, 0xFF, 0xFF},
                              {23, 4, 0x80, 0, 0, 0},
                              {25, 2, 0xFF, 0xFF}});
    EXPECT_EQ(parse(record, value), kKlvOutOfRange);
    EXPECT_EQ(record.sensorElevation, 0.0);
    EXPECT_EQ(record.sensorRoll, 360.0);
    EXPECT_EQ(record.frameCenterLatitude, 0.0);
    EXPECT_EQ(record.frameCenterElevation, 19000.0);
}

TEST(ParseItems, WrongLengthStopsTheWalk) {
    KlvRecord record;
    const Bytes value =
        join({{5, 2, 0xFF, 0xFF}, {13, 2, 0x12, 0x34}, {14, 4, 0x7F, 0xFF, 0xFF, 0xFF}});
    EXPECT_EQ(parse(record, value), kKlvWrongLength);
    EXPECT_EQ(record.platformHeading, 360.0) << "items before the failure keep their values";
    EXPECT_EQ(record.sensorLatitude, 0.0);
    EXPECT_EQ(record.sensorLongitude, 0.0) << "items after the failure are not decoded";

    KlvRecord timestamp;
    EXPECT_EQ(parse(timestamp, {2, 4, 1, 2, 3, 4}), kKlvWrongLength);
    EXPECT_EQ(timestamp.timestamp, 0.0);

    // A wrong length after an out-of-range code is what ends the walk.
    KlvRecord both;
    EXPECT_EQ(parse(both, join({{6, 2, 0x80, 0x00}, {16, 1, 0x10}})), kKlvWrongLength);
}

TEST(ParseItems, OtherTagsAreSteppedOver) {
    KlvRecord record;
    const Bytes value = join({
        {1, 2, 0xAA, 0x43},                                  // checksum, not verified
        {3, 9, 'M', 'I', 'S', 'S', 'I', 'O', 'N', '0', '1'}, // mission id
        {4, 6, 'A', 'F', '-', '1', '0', '1'},                // tail number
        {1, 5, 5, 2, 0xFF, 0xFF, 0},                         // a "checksum" of odd length
        {21, 0},                                             // empty item
        {5, 2, 0x80, 0x00},
    });
    EXPECT_EQ(parse(record, value), kKlvOk);
    EXPECT_NEAR(record.platformHeading, 180.0, 0.01);
    // Nothing inside the stepped-over items was taken for a tag.
    EXPECT_EQ(record.timestamp, 0.0);
}

TEST(ParseItems, LaterItemOfTheSameTagWins) {
    KlvRecord record;
    EXPECT_EQ(parse(record, join({{16, 2, 0xFF, 0xFF}, {16, 2, 0x00, 0x00}})), kKlvOk);
    EXPECT_EQ(record.horizontalFov, 0.0);
}

// Tag 142 arrives as 0x81 0x0E; read as one byte, 0x81 was taken for a tag, 0x0E for a
// 14-byte length, and every item after it was lost.
TEST(ParseItems, TagAbove127DoesNotMisalignTheWalk) {
    KlvRecord record;
    const Bytes value = join({{0x81, 0x0E, 2, 0x00, 0x05}, // tag 142
                              {0x82, 0x00, 1, 0x09},       // tag 256
                              {5, 2, 0xFF, 0xFF},
                              {0x80, 0x10, 2, 0xFF, 0xFF}}); // tag 16, padded form
    EXPECT_EQ(parse(record, value), kKlvOk);
    EXPECT_EQ(record.platformHeading, 360.0);
    EXPECT_EQ(record.horizontalFov, 180.0);
}

// Item lengths above 127 use the BER long form; nested local sets (security, VMTI) and
// long text items are common in ST 0601 packets.
TEST(ParseItems, LongFormItemLengthsAreWalked) {
    Bytes text(200, 'x');
    Bytes longText(300, 'y');
    Bytes huge(70000, 0x05); // looks like tag 5 items if misread
    KlvRecord record;
    const Bytes value = join({{3, 0x81, 0xC8},
                              text,
                              {13, 4, 0x7F, 0xFF, 0xFF, 0xFF},
                              {74, 0x82, 0x01, 0x2C},
                              longText,
                              {48, 0x83, 0x01, 0x11, 0x70},
                              huge,
                              {5, 0x81, 0x02, 0xFF, 0xFF}, // long form of 2: still 2
                              {16, 0x84, 0, 0, 0, 2, 0xFF, 0xFF}});
    EXPECT_EQ(parse(record, value), kKlvOk);
    EXPECT_EQ(record.sensorLatitude, 90.0);
    EXPECT_EQ(record.platformHeading, 360.0);
    EXPECT_EQ(record.horizontalFov, 180.0);
}

TEST(ParseItems, NestedSetIsSteppedOverAsAWhole) {
    KlvRecord record;
    // A VMTI-like set whose inner items use decoded tag numbers of their own.
    EXPECT_EQ(parse(record, {74, 8, 5, 2, 0xFF, 0xFF, 16, 2, 0xFF, 0xFF}), kKlvOk);
    EXPECT_EQ(record.platformHeading, 0.0);
    EXPECT_EQ(record.horizontalFov, 0.0);
}

// Nothing of an item that does not fit inside `length` is read or stored.
TEST(ParseItems, CutItemsEndTheWalkWithMinusThree) {
    const std::vector<Bytes> cut = {
        {5},                           // tag only
        {5, 2},                        // tag and length, no value
        {5, 2, 0xFF},                  // half a value
        {0x81},                        // tag that never ends
        {0x81, 0x0E},                  // tag 142, no length
        {3, 0x82, 0x01},               // long length cut
        {3, 0x81, 0xC8, 'a', 'b'},     // long value cut
        {3, 0x80},                     // indefinite length
        {3, 0x85, 0, 0, 0, 0, 1, 'a'}, // length wider than 32 bits
        {3, 0x84, 0xFF, 0xFF, 0xFF, 0xFF, 'a'},
    };
    for (const Bytes& tail : cut) {
        SCOPED_TRACE(testing::PrintToString(tail));
        KlvRecord record;
        record.platformHeading = 7.0;
        EXPECT_EQ(parse(record, join({{16, 2, 0xFF, 0xFF}, tail})), kKlvTruncated);
        EXPECT_EQ(record.horizontalFov, 180.0) << "the complete item before the cut counts";
        EXPECT_EQ(record.platformHeading, 7.0);
    }
}

TEST(ParseItems, ReadsNothingBeyondLength) {
    // The bytes after `length` hold a valid heading item; it must not be seen.
    const Bytes buffer = {16, 2, 0xFF, 0xFF, 5, 2, 0xFF, 0xFF};
    KlvRecord record;
    EXPECT_EQ(parseItems(record, buffer.data(), 4), kKlvOk);
    EXPECT_EQ(record.platformHeading, 0.0);
    EXPECT_EQ(parseItems(record, buffer.data(), 6), kKlvTruncated);
    EXPECT_EQ(record.platformHeading, 0.0);
}

TEST(Normalisers, ReadBigEndianWithTheirSignedness) {
    const unsigned char ones[8] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    const unsigned char minPlusOne16[2] = {0x80, 0x01};
    const unsigned char minPlusOne[4] = {0x80, 0x00, 0x00, 0x01};
    const unsigned char min[4] = {0x80, 0x00, 0x00, 0x00};
    const unsigned char one[4] = {0x00, 0x01, 0x00, 0x00};
    EXPECT_EQ(normU16(ones), 1.0);
    EXPECT_EQ(normU32(ones), 1.0);
    EXPECT_EQ(normS16(ones), -1.0 / 32767.0);
    EXPECT_EQ(normS32(ones), -1.0 / 2147483647.0);
    EXPECT_EQ(normS16(minPlusOne16), -1.0);
    EXPECT_EQ(normS32(minPlusOne), -1.0);
    EXPECT_LT(normS16(min), -1.0);
    EXPECT_LT(normS32(min), -1.0);
    EXPECT_EQ(normU16(one), 1.0 / 65535.0);
    EXPECT_EQ(normU32(one), 65536.0 / 4294967295.0);
    EXPECT_EQ(decodeTimestamp(ones), 18446744073709551615.0);
    const unsigned char order[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_EQ(decodeTimestamp(order), 72623859790382856.0); // 0x0102030405060708
}

TEST(DecodeItem, OnlyTheFifteenTagsHaveDecoders) {
    const unsigned char bytes[8] = {0x7F, 0xFF, 0xFF, 0xFF, 0x7F, 0xFF, 0xFF, 0xFF};
    for (uint32_t tag = 0; tag < 300; ++tag) {
        KlvRecord record;
        const int width = tag == 2 ? 8 : 4;
        decodeItem(tag, bytes, record, width);
        decodeItem(tag, bytes, record, 2);
        bool changed = false;
        for (const KlvField& f : kKlvFields) {
            changed = changed || record.*f.field != 0.0;
        }
        bool decoded = false;
        for (const KlvField& f : kKlvFields) {
            decoded = decoded || static_cast<uint32_t>(f.tag) == tag;
        }
        EXPECT_EQ(changed, decoded) << "tag " << tag;
    }
}

// A raw packet: 16-byte key, then the length field and value as given.
Bytes packet(const Bytes& lengthField, const Bytes& value) {
    Bytes key = {'K', 'L', 'V', '-', 'k', 'e', 'y', 0, 9, 9, 9, 9, 9, 9, 9, 9};
    return join({key, lengthField, value});
}

KlvRecord recordReading(const Bytes& bytes) {
    KlvRecord record;
    record.source = std::make_unique<std::istringstream>(std::string(bytes.begin(), bytes.end()));
    return record;
}

TEST(ReadNextPacket, NoSourceReadsAndPrintsNothing) {
    KlvRecord record;
    record.platformHeading = 3.0;
    std::ostringstream log;
    EXPECT_EQ(readNextPacket(record, log), -1);
    EXPECT_EQ(log.str(), "");
    EXPECT_EQ(record.platformHeading, 3.0);

    KlvRecord missing("/nonexistent/skyframe/packets.klv");
    EXPECT_EQ(missing.source, nullptr);
    EXPECT_EQ(readNextPacket(missing, log), -1);
}

TEST(ReadNextPacket, WalksConcatenatedPacketsInEveryLengthForm) {
    const Bytes p1 = packet({0x05}, {5, 2, 0xFF, 0xFF, 0}); // short form 5
    Bytes text(193, 'z');
    const Bytes p2 = packet({0x81, 0xC8}, join({{3, 0x81, 0xC1}, text, {16, 2, 0xFF, 0xFF}}));
    Bytes more(292, 'q');
    const Bytes p3 =
        packet({0x82, 0x01, 0x2C}, join({{3, 0x82, 0x01, 0x24}, more, {17, 2, 0xFF, 0xFF}}));
    KlvRecord record = recordReading(join({p1, p2, p3}));
    std::ostringstream log;
    PacketReadDetails details;

    ASSERT_EQ(readNextPacket(record, log, &details), 0);
    EXPECT_EQ(record.platformHeading, 360.0);
    EXPECT_EQ(details.packet, p1);
    EXPECT_EQ(details.valueOffset, 17u);
    EXPECT_TRUE(details.complete);
    EXPECT_EQ(details.parseStatus, kKlvTruncated) << "the trailing lone 0 is a cut item";

    ASSERT_EQ(readNextPacket(record, log, &details), 0);
    EXPECT_EQ(record.horizontalFov, 180.0);
    EXPECT_EQ(details.valueOffset, 18u);
    EXPECT_EQ(details.parseStatus, kKlvOk);

    ASSERT_EQ(readNextPacket(record, log, &details), 0);
    EXPECT_EQ(record.verticalFov, 180.0);
    EXPECT_EQ(details.valueOffset, 19u);
    EXPECT_EQ(details.packet.size(), p3.size());

    EXPECT_EQ(readNextPacket(record, log, &details), -1);
    EXPECT_EQ(log.str(), "key:KLV-key\ntlv_size: 5\nkey:KLV-key\ntlv_size: 200\n"
                         "key:KLV-key\ntlv_size: 300\n");
}

// 0x82 0x01 0x2C is 300; taking one length byte read 1 and misframed every later packet.
TEST(ReadNextPacket, TwoByteLongFormLengthIsNotMisread) {
    Bytes filler(296, 'f');
    const Bytes p1 = packet({0x82, 0x01, 0x2C}, join({{4, 0x82, 0x01, 0x28}, filler}));
    const Bytes p2 = packet({0x04}, {6, 2, 0x7F, 0xFF});
    KlvRecord record = recordReading(join({p1, p2}));
    std::ostringstream log;
    EXPECT_EQ(readNextPacket(record, log), 0);
    EXPECT_EQ(readNextPacket(record, log), 0);
    EXPECT_EQ(record.platformPitch, 20.0);
    EXPECT_EQ(readNextPacket(record, log), -1);
}

TEST(ReadNextPacket, KeyIsPrintedUpToItsFirstZeroByte) {
    Bytes key(16, 'A');
    key[0] = 0x06;
    KlvRecord full = recordReading(join({key, {0}}));
    std::ostringstream log;
    EXPECT_EQ(readNextPacket(full, log), 0);
    EXPECT_EQ(log.str(), "key:\x06" + std::string(15, 'A') + "\ntlv_size: 0\n");
}

TEST(ReadNextPacket, DefaultLogIsStandardOutput) {
    KlvRecord record = recordReading(packet({0x00}, {}));
    testing::internal::CaptureStdout();
    EXPECT_EQ(readNextPacket(record), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "key:KLV-key\ntlv_size: 0\n");
}

// A file that ends inside a packet: the items that arrived whole count, the cut one
// changes nothing, and nothing beyond the file's end is read.
TEST(ReadNextPacket, CutPacketDecodesOnlyWholeItems) {
    const Bytes full = packet({0x0C}, {5, 2, 0xFF, 0xFF, 13, 4, 0x7F, 0xFF, 0xFF, 0xFF, 16, 0});
    const Bytes cut(full.begin(), full.begin() + 17 + 8); // inside the latitude's value
    KlvRecord record = recordReading(cut);
    record.sensorLatitude = 1.5;
    std::ostringstream log;
    PacketReadDetails details;
    EXPECT_EQ(readNextPacket(record, log, &details), 0);
    EXPECT_EQ(record.platformHeading, 360.0);
    EXPECT_EQ(record.sensorLatitude, 1.5);
    EXPECT_FALSE(details.complete);
    EXPECT_EQ(details.parseStatus, kKlvTruncated);
    EXPECT_EQ(details.packet, cut);
    EXPECT_EQ(readNextPacket(record, log, &details), -1);

    // Cut inside the key or the length field: nothing to decode.
    for (size_t keep : {1u, 15u, 16u, 17u, 18u}) {
        const Bytes longForm = packet({0x82, 0x00, 0x04}, {5, 2, 0xFF, 0xFF});
        KlvRecord r = recordReading(Bytes(longForm.begin(), longForm.begin() + keep));
        EXPECT_EQ(readNextPacket(r, log, &details), 0) << keep;
        EXPECT_FALSE(details.complete);
        EXPECT_EQ(r.platformHeading, 0.0);
        EXPECT_EQ(readNextPacket(r, log, &details), -1);
    }
}

TEST(ReadNextPacket, UnframeableLengthEndsTheSource) {
    for (const Bytes& lengthField :
         std::vector<Bytes>{{0x80}, {0x85, 0, 0, 0, 0, 4}, {0x84, 0x80, 0, 0, 0}}) {
        SCOPED_TRACE(testing::PrintToString(lengthField));
        const Bytes bytes =
            join({packet(lengthField, {5, 2, 0xFF, 0xFF}), packet({4}, {5, 2, 0, 0})});
        KlvRecord record = recordReading(bytes);
        std::ostringstream log;
        PacketReadDetails details;
        EXPECT_EQ(readNextPacket(record, log, &details), 0);
        EXPECT_FALSE(details.complete);
        EXPECT_EQ(details.parseStatus, kKlvTruncated);
        EXPECT_EQ(record.platformHeading, 0.0);
        EXPECT_EQ(readNextPacket(record, log, &details), -1);
    }
}

// A corrupt length near INT_MAX must cost only what the file holds.
TEST(ReadNextPacket, HugeLengthOnShortFileReadsWhatIsThere) {
    KlvRecord record = recordReading(packet({0x84, 0x7F, 0xFF, 0xFF, 0xFF}, {5, 2, 0xFF, 0xFF}));
    std::ostringstream log;
    PacketReadDetails details;
    EXPECT_EQ(readNextPacket(record, log, &details), 0);
    EXPECT_EQ(log.str(), "key:KLV-key\ntlv_size: 2147483647\n");
    EXPECT_EQ(details.packet.size(), 25u);
    EXPECT_EQ(record.platformHeading, 360.0);
    EXPECT_EQ(details.parseStatus, kKlvTruncated);
}

} // namespace
} // namespace skyframe
