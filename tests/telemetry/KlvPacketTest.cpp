#include "telemetry/KlvPacket.h"

#include "telemetry/Klv.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <vector>

namespace skyframe {
namespace {

using Bytes = std::vector<unsigned char>;

const Bytes kKey = {0x06, 0x0E, 0x2B, 0x34, 0x02, 0x0B, 0x01, 0x01,
                    0x0E, 0x01, 0x03, 0x01, 0x01, 0x00, 0x00, 0x00};

Bytes join(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) {
        out.insert(out.end(), p.begin(), p.end());
    }
    return out;
}

Bytes packet(const Bytes& lengthField, const Bytes& value) {
    return join({kKey, lengthField, value});
}

std::vector<double> fields(const KlvRecord& r) {
    std::vector<double> out;
    for (const KlvField& f : kKlvFields) {
        out.push_back(r.*f.field);
    }
    return out;
}

TEST(FrameKlvPacket, EveryLengthForm) {
    const Bytes value(300, 0x21);
    struct Case {
        Bytes lengthField;
        size_t valueLength;
    };
    const std::vector<Case> cases = {
        {{0x00}, 0},
        {{0x7F}, 127},
        {{0x81, 0xC8}, 200},
        {{0x82, 0x01, 0x2C}, 300},
        {{0x83, 0x00, 0x01, 0x2C}, 300},
        {{0x84, 0x00, 0x00, 0x00, 0x05}, 5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.lengthField));
        const Bytes bytes =
            packet(c.lengthField, Bytes(value.begin(), value.begin() + c.valueLength));
        KlvPacket framed;
        ASSERT_TRUE(frameKlvPacket(bytes.data(), bytes.size(), framed));
        EXPECT_EQ(framed.data, bytes.data());
        EXPECT_EQ(framed.valueOffset, 16 + c.lengthField.size());
        EXPECT_EQ(framed.valueLength, c.valueLength);
        EXPECT_EQ(framed.size, bytes.size());
    }
}

TEST(FrameKlvPacket, RefusesWhatDoesNotFit) {
    const std::vector<Bytes> bad = {
        {},
        Bytes(kKey.begin(), kKey.begin() + 10),
        kKey,                                // no length
        packet({0x81}, {}),                  // length cut
        packet({0x82, 0x01}, {}),            //
        packet({0x05}, {1, 2, 3, 4}),        // value cut
        packet({0x81, 0xC8}, Bytes(199, 0)), //
        packet({0x80}, {1, 2}),              // indefinite form
        packet({0x85, 0, 0, 0, 0, 1}, {1}),  // five length bytes
        packet({0x84, 0x80, 0, 0, 0}, {1}),  // beyond INT_MAX
    };
    for (const Bytes& bytes : bad) {
        SCOPED_TRACE(testing::PrintToString(bytes));
        KlvPacket framed;
        EXPECT_FALSE(frameKlvPacket(bytes.data(), bytes.size(), framed));
    }
}

TEST(SplitKlvPackets, PacketsBackToBackThenACutOne) {
    const Bytes a = packet({0x04}, {5, 2, 0xFF, 0xFF});
    const Bytes b = packet({0x81, 0x04}, {16, 2, 0xFF, 0xFF});
    const Bytes c = packet({0x82, 0x00, 0x00}, {});
    const Bytes cut = packet({0x06}, {17, 2, 0xFF});
    const Bytes all = join({a, b, c, cut});
    size_t consumed = 0;
    const auto packets = splitKlvPackets(all.data(), all.size(), &consumed);
    ASSERT_EQ(packets.size(), 3u);
    EXPECT_EQ(packets[0].data, all.data());
    EXPECT_EQ(packets[1].data, all.data() + a.size());
    EXPECT_EQ(packets[2].data, all.data() + a.size() + b.size());
    EXPECT_EQ(packets[2].valueLength, 0u);
    EXPECT_EQ(consumed, a.size() + b.size() + c.size());

    EXPECT_TRUE(splitKlvPackets(all.data(), 20, &consumed).empty());
    EXPECT_EQ(consumed, 0u);
    EXPECT_TRUE(splitKlvPackets(nullptr, 0).empty());
}

// The frame loop's layout (value at byte 18, length in byte 17) gives the same record for
// every packet in the 0x81 nn form.
TEST(AppendKlvRecords, SameAsParsingByte18ForLongFormOneByteLengths) {
    Bytes text(180, 'T');
    const std::vector<Bytes> values = {
        {5, 2, 0x71, 0xC2, 13, 4, 0x55, 0x95, 0xB6, 0x6D},
        join({{3, 0x81, 0xB4}, text, {6, 2, 0x80, 0x00, 7, 2, 0x08, 0xB8}}),
        {16, 1, 0x00, 17, 2, 0xD9, 0x17}, // wrong length: partly decoded
        {},
    };
    for (const Bytes& value : values) {
        const Bytes bytes = packet({0x81, static_cast<unsigned char>(value.size())}, value);
        recordQueue queue;
        ASSERT_EQ(appendKlvRecords(queue, bytes.data(), bytes.size()), 1u);
        ASSERT_EQ(queue.size(), 1u);
        KlvRecord direct;
        parseItems(direct, bytes.data() + 18, bytes[17]);
        EXPECT_EQ(fields(*queue.front()), fields(direct));
        EXPECT_EQ(queue.front()->source, nullptr);
    }
}

TEST(AppendKlvRecords, OneRecordPerPacketWithoutCarryOver) {
    const Bytes bytes = join({packet({0x08}, {5, 2, 0xFF, 0xFF, 16, 2, 0xFF, 0xFF}),
                              packet({0x82, 0x00, 0x04}, {17, 2, 0xFF, 0xFF}),
                              packet({0x10}, {5, 2})}); // cut: yields nothing
    recordQueue queue;
    queue.push_back(std::make_unique<KlvRecord>());
    EXPECT_EQ(appendKlvRecords(queue, bytes.data(), bytes.size()), 2u);
    ASSERT_EQ(queue.size(), 3u);
    EXPECT_EQ(queue[1]->platformHeading, 360.0);
    EXPECT_EQ(queue[1]->horizontalFov, 180.0);
    EXPECT_EQ(queue[2]->verticalFov, 180.0);
    EXPECT_EQ(queue[2]->platformHeading, 0.0);
    EXPECT_EQ(queue[2]->horizontalFov, 0.0);

    // A data packet shorter than its own length field says yields nothing at all.
    const Bytes shortPacket = packet({0x81, 0x20}, {5, 2, 0xFF, 0xFF});
    EXPECT_EQ(appendKlvRecords(queue, shortPacket.data(), shortPacket.size()), 0u);
    EXPECT_EQ(appendKlvRecords(queue, shortPacket.data(), 17), 0u);
    EXPECT_EQ(queue.size(), 3u);
}

TEST(KlvChecksum, EvenOffsetsAreTheHighByte) {
    const Bytes three = {0x01, 0x02, 0x03};
    EXPECT_EQ(klvChecksum(three.data(), three.size()), 0x0402); // 0x0100 + 0x02 + 0x0300
    const Bytes ones(301, 0xFF);
    EXPECT_EQ(klvChecksum(ones.data(), ones.size()), 0xFE6A); // 151 * 0xFF00 + 150 * 0xFF
    EXPECT_EQ(klvChecksum(nullptr, 0), 0);
}

TEST(VerifyChecksum, OkBadAbsent) {
    // Worked by hand: the sum over key, 0x08, 05 02 71 C2 01 02 is 0x14C7.
    const Bytes good = packet({0x08}, {5, 2, 0x71, 0xC2, 1, 2, 0x14, 0xC7});
    const Bytes wrong = packet({0x08}, {5, 2, 0x71, 0xC3, 1, 2, 0x14, 0xC7});
    const Bytes none = packet({0x04}, {5, 2, 0x71, 0xC2});
    const Bytes oddSize = packet({0x09}, {5, 2, 0x71, 0xC2, 1, 3, 0x14, 0xC7, 0});
    const Bytes cutWalk = packet({0x08}, {5, 9, 0x71, 0xC2, 1, 2, 0x14, 0xC7});
    struct Case {
        const Bytes* bytes;
        ChecksumStatus expected;
    };
    for (const Case& c : {Case{&good, ChecksumStatus::Ok}, Case{&wrong, ChecksumStatus::Bad},
                          Case{&none, ChecksumStatus::Absent}, Case{&oddSize, ChecksumStatus::Bad},
                          Case{&cutWalk, ChecksumStatus::Absent}}) {
        SCOPED_TRACE(testing::PrintToString(*c.bytes));
        KlvPacket framed;
        ASSERT_TRUE(frameKlvPacket(c.bytes->data(), c.bytes->size(), framed));
        EXPECT_EQ(verifyChecksum(framed), c.expected);
    }
    EXPECT_STREQ(checksumName(ChecksumStatus::Ok), "ok");
    EXPECT_STREQ(checksumName(ChecksumStatus::Bad), "bad");
    EXPECT_STREQ(checksumName(ChecksumStatus::Absent), "absent");
}

TEST(VerifyChecksum, CoversLongLengthFieldsAndTagsAbove127) {
    // The sum starts at the key and includes every length byte and multi-byte tag before
    // the checksum item.
    Bytes value = {0x81, 0x0E, 2, 0x12, 0x34};
    value.insert(value.end(), {1, 2});
    Bytes bytes = packet({0x82, 0x00, static_cast<unsigned char>(value.size() + 2)}, value);
    const uint16_t sum = klvChecksum(bytes.data(), bytes.size());
    bytes.push_back(static_cast<unsigned char>(sum >> 8));
    bytes.push_back(static_cast<unsigned char>(sum & 0xFF));
    KlvPacket framed;
    ASSERT_TRUE(frameKlvPacket(bytes.data(), bytes.size(), framed));
    EXPECT_EQ(verifyChecksum(framed), ChecksumStatus::Ok);
    bytes[5] ^= 0x01; // a key byte: only the sum covers it
    ASSERT_TRUE(frameKlvPacket(bytes.data(), bytes.size(), framed));
    EXPECT_EQ(verifyChecksum(framed), ChecksumStatus::Bad);
}

} // namespace
} // namespace skyframe
