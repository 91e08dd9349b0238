#include "telemetry/KlvRecord.h"

#include "telemetry/Klv.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iomanip>
#include <sstream>
#include <string>
#include <vector>

namespace skyframe {
namespace {

using Bytes = std::vector<unsigned char>;

struct CameraInputs {
    double fov[2] = {-1, -1};
    double sensorPosition[3] = {-1, -1, -1};
    double sensorAngles[3] = {-1, -1, -1};
    double platformAngles[3] = {-1, -1, -1};
    double frameCenter[3] = {-1, -1, -1};

    int extract(KlvRecord& record) {
        return extractCameraData(record, fov, sensorPosition, sensorAngles, platformAngles,
                                 frameCenter);
    }
    std::vector<double> all() const {
        return {fov[0],
                fov[1],
                sensorPosition[0],
                sensorPosition[1],
                sensorPosition[2],
                sensorAngles[0],
                sensorAngles[1],
                sensorAngles[2],
                platformAngles[0],
                platformAngles[1],
                platformAngles[2],
                frameCenter[0],
                frameCenter[1],
                frameCenter[2]};
    }
};

TEST(KlvRecord, FreshRecordHandsOutZeros) {
    KlvRecord record;
    for (const KlvField& f : kKlvFields) {
        EXPECT_EQ(record.*f.field, 0.0) << f.name;
    }
    EXPECT_EQ(record.extractClock, 0.0);
    EXPECT_EQ(record.source, nullptr);
    CameraInputs in;
    EXPECT_EQ(in.extract(record), 0);
    EXPECT_EQ(in.all(), std::vector<double>(14, 0.0));
    EXPECT_EQ(record.extractClock, 20.0);
    in.extract(record);
    EXPECT_EQ(record.extractClock, 40.0);
}

// Each output slot gets its own field: distinct values catch any swap.
TEST(ExtractCameraData, CopiesEveryFieldToItsSlot) {
    KlvRecord r;
    r.horizontalFov = 1;
    r.verticalFov = 2;
    r.sensorLatitude = 3;
    r.sensorLongitude = 4;
    r.sensorAltitude = 5;
    r.sensorAzimuth = 6;
    r.sensorElevation = 7;
    r.sensorRoll = 8;
    r.platformHeading = 9;
    r.platformPitch = 10;
    r.platformRoll = 11;
    r.frameCenterLatitude = 12;
    r.frameCenterLongitude = 13;
    r.frameCenterElevation = 14;
    r.timestamp = 99;
    CameraInputs in;
    in.extract(r);
    EXPECT_EQ(in.all(), (std::vector<double>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14}));
}

TEST(ExtractCameraData, PacketWithOnlyPositionLeavesTheRestZero) {
    const Bytes value = {13, 4, 0x20, 0, 0, 0, 14, 4, 0xE0, 0, 0, 0, 15, 2, 0x80, 0x00};
    KlvRecord record;
    ASSERT_EQ(parseItems(record, value.data(), static_cast<int>(value.size())), 0);
    CameraInputs in;
    in.extract(record);
    EXPECT_NEAR(in.sensorPosition[0], 22.5, 1e-7);
    EXPECT_NEAR(in.sensorPosition[1], -45.0, 1e-7);
    EXPECT_NEAR(in.sensorPosition[2], 9050.15, 0.01);
    EXPECT_EQ(in.fov[0], 0.0);
    EXPECT_EQ(in.fov[1], 0.0);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(in.sensorAngles[i], 0.0);
        EXPECT_EQ(in.platformAngles[i], 0.0);
        EXPECT_EQ(in.frameCenter[i], 0.0);
    }
}

// Each row of the field table is the field its tag's decoder fills.
TEST(KlvFields, EachRowNamesTheFieldItsTagFills) {
    int previous = 0;
    for (const KlvField& row : kKlvFields) {
        EXPECT_GT(row.tag, previous) << "rows are in ascending tag order";
        previous = row.tag;
        KlvRecord record;
        const unsigned char bytes[8] = {0x00, 0x20, 0x40, 0x60, 0x10, 0x30, 0x50, 0x70};
        const int width = row.tag == 2 ? 8
                          : (row.tag >= 13 && row.tag <= 14) || (row.tag >= 18 && row.tag <= 24)
                              ? 4
                              : 2;
        ASSERT_EQ(decodeItem(static_cast<uint32_t>(row.tag), bytes, record, width), 0) << row.name;
        for (const KlvField& other : kKlvFields) {
            if (&other == &row) {
                EXPECT_NE(record.*other.field, 0.0) << row.name;
            } else {
                EXPECT_EQ(record.*other.field, 0.0) << row.name << " also set " << other.name;
            }
        }
    }
}

TEST(PrintItems, FreshRecordPrintsFifteenZeroLines) {
    KlvRecord record;
    std::ostringstream out;
    printItems(record, out);
    EXPECT_EQ(out.str(), "KLV DATA:\n"
                         "TAG 2: 0 \nTAG 5: 0 \nTAG 6: 0 \nTAG 7: 0 \nTAG 13: 0 \n"
                         "TAG 14: 0 \nTAG 15: 0 \nTAG 16: 0 \nTAG 17: 0 \nTAG 18: 0 \n"
                         "TAG 19: 0 \nTAG 20: 0 \nTAG 23: 0 \nTAG 24: 0 \nTAG 25: 0 \n\n");
}

TEST(PrintItems, TwentySignificantDigitsInGeneralNotation) {
    KlvRecord record;
    record.platformHeading = 360.0;
    record.platformPitch = 12.5;
    record.platformRoll = 0.1;
    record.timestamp = 1231798102000000.0;
    std::ostringstream out;
    out << std::fixed << std::setprecision(3); // whatever the stream had before
    printItems(record, out);
    const std::string text = out.str();
    EXPECT_NE(text.find("TAG 2: 1231798102000000 \n"), std::string::npos) << text;
    EXPECT_NE(text.find("TAG 5: 360 \n"), std::string::npos) << text;
    EXPECT_NE(text.find("TAG 6: 12.5 \n"), std::string::npos) << text;
    EXPECT_NE(text.find("TAG 7: 0.10000000000000000555 \n"), std::string::npos) << text;
    EXPECT_EQ(out.precision(), 20);
}

TEST(PrintItems, DefaultsToStandardOutput) {
    KlvRecord record;
    record.platformHeading = 360.0;
    testing::internal::CaptureStdout();
    printItems(record);
    printTimestamp(record);
    const std::string text = testing::internal::GetCapturedStdout();
    EXPECT_EQ(text.rfind("KLV DATA:\n", 0), 0u);
    EXPECT_NE(text.find("TAG 5: 360 \n"), std::string::npos);
    EXPECT_NE(text.find("\n\nTimestamp:0 \n"), std::string::npos);
}

TEST(PrintTimestamp, OneLine) {
    KlvRecord record;
    record.timestamp = 1231798102000000.0;
    std::ostringstream out;
    printTimestamp(record, out);
    EXPECT_EQ(out.str(), "Timestamp:1231798102000000 \n");
    record.timestamp = 1.5;
    out.str("");
    printTimestamp(record, out);
    EXPECT_EQ(out.str(), "Timestamp:1.5 \n");
}

std::string writeFile(const std::string& name, const Bytes& bytes) {
    const auto dir = std::filesystem::path(SKYFRAME_BINARY_DIR) / "test-scratch" / "klvrecord";
    std::filesystem::create_directories(dir);
    const auto path = (dir / name).string();
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    return path;
}

// A record bound to a file of two packets hands out the first packet's values at the
// first extraction and the second's at the second, printing each packet's two lines.
TEST(KlvRecord, SourceFileFeedsOnePacketPerExtraction) {
    Bytes key = {6, 14, 43, 52, 2, 11, 1, 1, 14, 1, 3, 1, 1, 0, 0, 0};
    Bytes bytes = key;
    bytes.insert(bytes.end(), {0x81, 0x08, 16, 2, 0xFF, 0xFF, 5, 2, 0xFF, 0xFF});
    bytes.insert(bytes.end(), key.begin(), key.end());
    bytes.insert(bytes.end(), {0x04, 16, 2, 0x00, 0x00});
    KlvRecord record(writeFile("two-packets.klv", bytes));
    ASSERT_NE(record.source, nullptr);
    CameraInputs in;

    testing::internal::CaptureStdout();
    in.extract(record);
    const std::string first = testing::internal::GetCapturedStdout();
    EXPECT_EQ(in.fov[0], 180.0);
    EXPECT_EQ(in.platformAngles[0], 360.0);
    EXPECT_EQ(first, "key:\x06\x0e+4\x02\x0b\x01\x01\x0e\x01\x03\x01\x01\ntlv_size: 8\n");

    testing::internal::CaptureStdout();
    in.extract(record);
    const std::string second = testing::internal::GetCapturedStdout();
    EXPECT_EQ(in.fov[0], 0.0);
    EXPECT_EQ(in.platformAngles[0], 360.0) << "the second packet has no heading";
    EXPECT_NE(second.find("tlv_size: 4\n"), std::string::npos);

    // At the end of the file extraction hands out what the record holds, silently.
    testing::internal::CaptureStdout();
    in.extract(record);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(in.platformAngles[0], 360.0);
    EXPECT_EQ(record.extractClock, 60.0);
}

TEST(KlvRecord, UnopenablePathBehavesLikeNoSource) {
    KlvRecord record("/nonexistent/skyframe/telemetry.klv");
    EXPECT_EQ(record.source, nullptr);
    record.sensorAltitude = 250.0;
    CameraInputs in;
    testing::internal::CaptureStdout();
    EXPECT_EQ(in.extract(record), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(in.sensorPosition[2], 250.0);
}

} // namespace
} // namespace skyframe
