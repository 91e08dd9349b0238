#include "KlvExport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <sstream>
#include <string>

namespace skyframe {
namespace {

TEST(FormatDouble, ReadsBackExactly) {
    const double values[] = {360.0,
                             12.5,
                             0.1,
                             -0.4315317239906003,
                             60.176822966978335,
                             1231798102000000.0,
                             18446744073709551615.0,
                             9007199254740993.0,
                             1.1111111111111112e-05,
                             -900.0,
                             std::nextafter(180.0, 0.0),
                             std::numeric_limits<double>::min(),
                             -std::numeric_limits<double>::max()};
    for (double v : values) {
        const std::string text = formatDouble(v);
        EXPECT_EQ(std::strtod(text.c_str(), nullptr), v) << text;
    }
}

TEST(FormatDouble, PlainDigitsForWholeNumbers) {
    EXPECT_EQ(formatDouble(360.0), "360");
    EXPECT_EQ(formatDouble(0.0), "0");
    EXPECT_EQ(formatDouble(-900.0), "-900");
    EXPECT_EQ(formatDouble(1231798102000000.0), "1231798102000000");
    EXPECT_EQ(formatDouble(12.5), "12.5");
    EXPECT_EQ(formatDouble(0.1), "0.1");
}

TEST(ParseExportFormat, KnownNamesOnly) {
    EXPECT_EQ(parseExportFormat("text"), ExportFormat::Text);
    EXPECT_EQ(parseExportFormat("csv"), ExportFormat::Csv);
    EXPECT_EQ(parseExportFormat("json"), ExportFormat::Json);
    EXPECT_FALSE(parseExportFormat("CSV"));
    EXPECT_FALSE(parseExportFormat(""));
}

KlvRecord sampleRecord() {
    KlvRecord r;
    r.timestamp = 1231798102000000.0;
    r.platformHeading = 360.0;
    r.platformPitch = -0.5;
    r.frameCenterElevation = 12.25;
    return r;
}

TEST(KlvExporter, CsvHeaderThenRows) {
    const KlvRecord record = sampleRecord();
    std::ostringstream out;
    KlvExporter exporter(out, ExportFormat::Csv);
    KlvPacketReport report;
    report.record = &record;
    report.index = 0;
    report.pts = 1.5;
    report.checksum = ChecksumStatus::Ok;
    exporter.write(report);
    report.index = 1;
    report.pts.reset();
    report.status = -2;
    report.checksum = ChecksumStatus::Bad;
    exporter.write(report);
    exporter.finish();
    EXPECT_EQ(out.str(),
              "index,pts,set,status,checksum,timestamp,platformHeading,platformPitch,platformRoll,"
              "sensorLatitude,sensorLongitude,sensorAltitude,horizontalFov,verticalFov,"
              "sensorAzimuth,sensorElevation,sensorRoll,frameCenterLatitude,"
              "frameCenterLongitude,frameCenterElevation\n"
              "0,1.5,0601,0,ok,1231798102000000,360,-0.5,0,0,0,0,0,0,0,0,0,0,0,12.25\n"
              "1,,0601,-2,bad,1231798102000000,360,-0.5,0,0,0,0,0,0,0,0,0,0,0,12.25\n");
}

TEST(KlvExporter, CsvWithoutPacketsIsJustTheHeader) {
    std::ostringstream out;
    KlvExporter exporter(out, ExportFormat::Csv);
    exporter.finish();
    const std::string text = out.str();
    EXPECT_EQ(text.rfind("index,pts,set,status,checksum,timestamp,", 0), 0u);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1);
}

TEST(KlvExporter, JsonObjectPerLine) {
    const KlvRecord record = sampleRecord();
    std::ostringstream out;
    KlvExporter exporter(out, ExportFormat::Json);
    KlvPacketReport report;
    report.record = &record;
    report.index = 7;
    report.status = -1;
    report.checksum = ChecksumStatus::Absent;
    exporter.write(report);
    exporter.finish();
    EXPECT_EQ(out.str(),
              "{\"index\":7,\"pts\":null,\"set\":\"0601\",\"status\":-1,\"checksum\":\"absent\","
              "\"timestamp\":1231798102000000,\"platformHeading\":360,\"platformPitch\":-0.5,"
              "\"platformRoll\":0,\"sensorLatitude\":0,\"sensorLongitude\":0,"
              "\"sensorAltitude\":0,\"horizontalFov\":0,\"verticalFov\":0,"
              "\"sensorAzimuth\":0,\"sensorElevation\":0,\"sensorRoll\":0,"
              "\"frameCenterLatitude\":0,\"frameCenterLongitude\":0,"
              "\"frameCenterElevation\":12.25}\n");
}

TEST(KlvExporter, TextIsTheRecordDump) {
    const KlvRecord record = sampleRecord();
    std::ostringstream out, expected;
    KlvExporter exporter(out, ExportFormat::Text);
    KlvPacketReport report;
    report.record = &record;
    exporter.write(report);
    exporter.write(report);
    exporter.finish();
    printItems(record, expected);
    printItems(record, expected);
    EXPECT_EQ(out.str(), expected.str());
}

} // namespace
} // namespace skyframe
