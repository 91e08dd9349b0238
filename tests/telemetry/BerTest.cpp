#include "telemetry/Ber.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace skyframe {
namespace {

using Bytes = std::vector<unsigned char>;

struct BerCase {
    Bytes bytes;
    size_t used; // 0: not decodable from these bytes
    uint32_t value;
};

TEST(DecodeBerLength, ShortAndLongForms) {
    const std::vector<BerCase> cases = {
        {{0x00}, 1, 0},
        {{0x05, 0xAA}, 1, 5}, // trailing bytes are the caller's
        {{0x7F}, 1, 127},
        {{0x81, 0x80}, 2, 128},
        {{0x81, 0xC8}, 2, 200},
        {{0x82, 0x01, 0x2C}, 3, 300},
        {{0x82, 0x00, 0x05}, 3, 5}, // non-minimal but legal
        {{0x83, 0x01, 0x00, 0x00}, 4, 65536},
        {{0x84, 0xFF, 0xFF, 0xFF, 0xFF}, 5, 4294967295u},
        {{0x80}, 0, 0},                               // indefinite form: not KLV
        {{0x85, 0, 0, 0, 0, 1}, 0, 0},                // beyond 32 bits
        {{0xFF, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 0, 0}, // 127 length bytes
        {{0x82, 0x01}, 0, 0},                         // cut
        {{0x81}, 0, 0},
        {{}, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.bytes));
        // The vector's heap block is exactly its size: a read past it is a sanitizer report.
        uint32_t length = 0xDEADBEEF;
        EXPECT_EQ(decodeBerLength(c.bytes.data(), c.bytes.size(), length), c.used);
        if (c.used != 0) {
            EXPECT_EQ(length, c.value);
        }
    }
}

TEST(DecodeBerOid, SevenBitGroups) {
    const std::vector<BerCase> cases = {
        {{0x00}, 1, 0},
        {{0x05}, 1, 5},
        {{0x7F}, 1, 127},
        {{0x81, 0x00}, 2, 128},
        {{0x81, 0x0E}, 2, 142}, // ST 0601 tag 142
        {{0x80, 0x05}, 2, 5},   // padded form of 5
        {{0x81, 0x80, 0x00}, 3, 16384},
        {{0x8F, 0xFF, 0xFF, 0xFF, 0x7F}, 5, 0xFFFFFFFFu},
        {{0x81}, 0, 0}, // never ends
        {{0x81, 0x82, 0x83}, 0, 0},
        {{}, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.bytes));
        uint32_t number = 0xDEADBEEF;
        EXPECT_EQ(decodeBerOid(c.bytes.data(), c.bytes.size(), number), c.used);
        if (c.used != 0) {
            EXPECT_EQ(number, c.value);
        }
    }
}

TEST(DecodeBerOid, NumbersBeyond32BitsSaturateInsteadOfWrapping) {
    // 2^35 + 5 would wrap to 5 (a decoded tag) in 32-bit arithmetic.
    const Bytes bytes = {0x81, 0x80, 0x80, 0x80, 0x80, 0x05};
    uint32_t number = 0;
    EXPECT_EQ(decodeBerOid(bytes.data(), bytes.size(), number), bytes.size());
    EXPECT_EQ(number, UINT32_MAX);
}

TEST(AppendBer, ShortestForms) {
    const std::vector<std::pair<uint32_t, Bytes>> lengths = {
        {0, {0x00}},
        {127, {0x7F}},
        {128, {0x81, 0x80}},
        {255, {0x81, 0xFF}},
        {256, {0x82, 0x01, 0x00}},
        {65535, {0x82, 0xFF, 0xFF}},
        {65536, {0x83, 0x01, 0x00, 0x00}},
        {16777216, {0x84, 0x01, 0x00, 0x00, 0x00}},
        {UINT32_MAX, {0x84, 0xFF, 0xFF, 0xFF, 0xFF}},
    };
    for (const auto& [value, bytes] : lengths) {
        Bytes out;
        appendBerLength(out, value);
        EXPECT_EQ(out, bytes) << "length " << value;
    }
    const std::vector<std::pair<uint32_t, Bytes>> oids = {
        {0, {0x00}},
        {127, {0x7F}},
        {128, {0x81, 0x00}},
        {142, {0x81, 0x0E}},
        {16383, {0xFF, 0x7F}},
        {16384, {0x81, 0x80, 0x00}},
        {UINT32_MAX, {0x8F, 0xFF, 0xFF, 0xFF, 0x7F}},
    };
    for (const auto& [value, bytes] : oids) {
        Bytes out;
        appendBerOid(out, value);
        EXPECT_EQ(out, bytes) << "oid " << value;
    }
}

TEST(AppendBer, DecodersReadBackWhatIsAppended) {
    for (uint64_t v = 0; v <= UINT32_MAX; v = v * 3 + 1) {
        const auto value = static_cast<uint32_t>(v);
        Bytes out;
        appendBerLength(out, value);
        appendBerOid(out, value);
        uint32_t length = 0, number = 0;
        const size_t used = decodeBerLength(out.data(), out.size(), length);
        ASSERT_NE(used, 0u) << value;
        EXPECT_EQ(length, value);
        EXPECT_EQ(decodeBerOid(out.data() + used, out.size() - used, number), out.size() - used);
        EXPECT_EQ(number, value);
    }
}

} // namespace
} // namespace skyframe
