// End-to-end tests of the skyframe-klv binary: fixtures written by the tests themselves, and
// third-party recordings when the test data folder is present.

#include "TestSupport.h"
#include "media/TsWriter.h"
#include "telemetry/Klv.h"
#include "telemetry/KlvEncoder.h"
#include "telemetry/KlvPacket.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <vector>

namespace skyframe {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<unsigned char>;

const fs::path kTestData = SKYFRAME_TESTDATA;

fs::path scratchDir() {
    return test::scratchDir("skyframe-klv");
}

using test::readText;

void writeBytes(const fs::path& file, const Bytes& bytes) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

using ToolRun = test::ProcessResult;

ToolRun runTool(const std::vector<std::string>& args) {
    std::vector<std::string> command = {SKYFRAME_KLV_TOOL};
    command.insert(command.end(), args.begin(), args.end());
    return test::runProcess(command, scratchDir());
}

std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::string part;
    std::istringstream in(text);
    while (std::getline(in, part, separator)) {
        parts.push_back(part);
    }
    if (!text.empty() && text.back() == separator && separator != '\n') {
        parts.push_back("");
    }
    return parts;
}

using Row = std::map<std::string, std::string>;

// CSV output as rows keyed by the header's column names.
std::vector<Row> parseCsv(const std::string& text) {
    const auto lines = split(text, '\n');
    EXPECT_FALSE(lines.empty());
    if (lines.empty()) {
        return {};
    }
    const auto header = split(lines[0], ',');
    std::vector<Row> rows;
    for (size_t i = 1; i < lines.size(); ++i) {
        const auto cells = split(lines[i], ',');
        EXPECT_EQ(cells.size(), header.size()) << lines[i];
        Row row;
        for (size_t c = 0; c < header.size() && c < cells.size(); ++c) {
            row[header[c]] = cells[c];
        }
        rows.push_back(row);
    }
    return rows;
}

// The flat one-line objects skyframe-klv writes: string, number or null values only.
std::vector<Row> parseJsonLines(const std::string& text) {
    std::vector<Row> rows;
    for (const auto& line : split(text, '\n')) {
        EXPECT_TRUE(line.size() >= 2 && line.front() == '{' && line.back() == '}') << line;
        Row row;
        for (const auto& member : split(line.substr(1, line.size() - 2), ',')) {
            const size_t colon = member.find(':');
            EXPECT_NE(colon, std::string::npos) << member;
            std::string key = member.substr(0, colon);
            std::string value = member.substr(colon + 1);
            EXPECT_TRUE(key.size() >= 2 && key.front() == '"' && key.back() == '"') << key;
            key = key.substr(1, key.size() - 2);
            if (!value.empty() && value.front() == '"') {
                value = value.substr(1, value.size() - 2);
            } else if (value == "null") {
                value = "";
            }
            row[key] = value;
        }
        rows.push_back(row);
    }
    return rows;
}

double number(const Row& row, const std::string& column) {
    const auto it = row.find(column);
    EXPECT_NE(it, row.end()) << column;
    if (it == row.end()) {
        return std::nan("");
    }
    char* end = nullptr;
    const double v = std::strtod(it->second.c_str(), &end);
    EXPECT_TRUE(end != it->second.c_str() && *end == '\0') << column << " = " << it->second;
    return v;
}

// The values the tool must print for a packet, decoded in-process from the same bytes.
struct Expected {
    KlvRecord record;
    int status;
    std::string checksum;
    double seconds; // presentation time from the first frame
};

Expected decodeHere(const Bytes& packet, double seconds) {
    Expected e;
    KlvPacket framed;
    EXPECT_TRUE(frameKlvPacket(packet.data(), packet.size(), framed));
    e.status = parseItems(e.record, framed.value(), static_cast<int>(framed.valueLength));
    e.checksum = checksumName(verifyChecksum(framed));
    e.seconds = seconds;
    return e;
}

// Rows must hold exactly the decoded doubles: the text has to read back bit for bit.
void expectRows(const std::vector<Row>& rows, const std::vector<Expected>& expected, bool withPts) {
    ASSERT_EQ(rows.size(), expected.size());
    const double firstPts = withPts ? number(rows[0], "pts") : 0.0;
    for (size_t i = 0; i < rows.size(); ++i) {
        SCOPED_TRACE(testing::Message() << "row " << i);
        const Row& row = rows[i];
        EXPECT_EQ(row.at("index"), std::to_string(i));
        EXPECT_EQ(row.at("status"), std::to_string(expected[i].status));
        EXPECT_EQ(row.at("checksum"), expected[i].checksum);
        if (withPts) {
            EXPECT_NEAR(number(row, "pts") - firstPts, expected[i].seconds, 1.0 / 90000);
        } else {
            EXPECT_EQ(row.at("pts"), "");
        }
        for (const KlvField& f : kKlvFields) {
            EXPECT_EQ(number(row, f.name), expected[i].record.*f.field) << f.name;
        }
    }
}

KlvRecord flightRecord(int i) {
    KlvRecord r;
    r.timestamp = 1704067200000000.0 + i * 100000.0;
    r.platformHeading = 10.0 + 40.0 * i;
    r.platformPitch = -3.5 + i;
    r.platformRoll = 12.25 - 2 * i;
    r.sensorLatitude = 33.5 + 0.001 * i;
    r.sensorLongitude = -115.5 - 0.002 * i;
    r.sensorAltitude = 1500.0 + 10 * i;
    r.horizontalFov = 30.0 - i;
    r.verticalFov = 17.0 - 0.5 * i;
    r.sensorAzimuth = 270.0 + 5 * i;
    r.sensorElevation = -36.87 + i;
    r.sensorRoll = 1.0 * i;
    r.frameCenterLatitude = 33.49 + 0.001 * i;
    r.frameCenterLongitude = -115.49;
    r.frameCenterElevation = -69.0 + i;
    return r;
}

// A small transport stream with every kind of packet the tool must tell apart, and the
// same KLV packets as a raw file.
struct Fixture {
    fs::path ts;
    fs::path raw;
    std::vector<Expected> expected;
    std::vector<KlvRecord> inputs; // physical values of the encoder-made packets
};

Fixture makeFixture(const fs::path& dir) {
    Fixture f;
    f.ts = dir / "fixture.ts";
    f.raw = dir / "fixture.klv";
    TsWriterOptions options;
    options.width = 32;
    options.height = 32;
    options.fps = 10;
    options.codec = VideoCodec::Mpeg2;
    TsWriter writer(f.ts.string(), options);
    Bytes raw;
    std::vector<unsigned char> pixels(32 * 32 * 3, 90);

    auto emit = [&](const std::vector<Bytes>& packets, double seconds) {
        Bytes data;
        for (const Bytes& p : packets) {
            data.insert(data.end(), p.begin(), p.end());
            f.expected.push_back(decodeHere(p, seconds));
        }
        writer.writeKlv(data, seconds);
        raw.insert(raw.end(), data.begin(), data.end());
    };
    for (int i = 0; i < 3; ++i) {
        f.inputs.push_back(flightRecord(i));
    }
    writer.writeFrame(pixels.data());
    emit({encodeUasLocalSet(f.inputs[0])}, 0.0);
    writer.writeFrame(pixels.data());
    // Two KLV packets in one data packet, the second with a long text item.
    emit({encodeUasLocalSet(f.inputs[1]),
          encodeUasLocalSet(f.inputs[2], {{3, Bytes(200, 'M')}, {142, {1, 2}}})},
         0.1);
    writer.writeFrame(pixels.data());
    Bytes badSum = encodeUasLocalSet(flightRecord(3));
    badSum.back() ^= 0x5A;
    emit({badSum}, 0.2);
    writer.writeFrame(pixels.data());
    emit({wrapUasLocalSet({5, 2, 0x40, 0x00, 13, 2, 0x12, 0x34, 14, 4, 0x10, 0, 0, 0})}, 0.3);
    writer.writeFrame(pixels.data());
    emit({wrapUasLocalSet({6, 2, 0x80, 0x00, 7, 2, 0x7F, 0xFF})}, 0.4);
    writer.writeFrame(pixels.data());
    emit({wrapUasLocalSet({16, 2, 0xFF, 0xFF}, false)}, 0.5);
    writer.finish();
    writeBytes(f.raw, raw);
    return f;
}

TEST(SkyframeKlv, FixtureDecodesInAllThreeFormats) {
    const Fixture f = makeFixture(scratchDir());
    // The fixture covers each status and checksum state.
    const std::vector<int> statuses = {0, 0, 0, 0, kKlvWrongLength, kKlvOutOfRange, 0};
    const std::vector<std::string> sums = {"ok", "ok", "ok", "bad", "ok", "ok", "absent"};
    ASSERT_EQ(f.expected.size(), statuses.size());
    for (size_t i = 0; i < statuses.size(); ++i) {
        EXPECT_EQ(f.expected[i].status, statuses[i]) << i;
        EXPECT_EQ(f.expected[i].checksum, sums[i]) << i;
    }

    const ToolRun csv = runTool({f.ts.string(), "--format", "csv"});
    ASSERT_EQ(csv.exitCode, 0) << csv.err;
    expectRows(parseCsv(csv.out), f.expected, true);
    // Counted from the packets made above: four whole flight sets (two of them with the
    // unknown tags 3 and 142, one with a bad checksum), a wrong length, an out-of-range code,
    // and a set of one field without a checksum; the last three give no pose.
    EXPECT_NE(csv.err.find("KLV: 7 packets, 6 decoded (6 ST 0601, 0 EG 0104), 0 discarded by "
                           "the checksum policy, 1 with a bad checksum, 1 without a checksum, "
                           "2 unknown tags, 1 out-of-range codes, 3 unusable for a pose, "
                           "0 resynchronisations (0 bytes skipped)\n"),
              std::string::npos)
        << csv.err;
    // Strict: the packets with a bad and without a checksum are gone, the rest keep theirs.
    const ToolRun strict = runTool({f.ts.string(), "--format", "csv", "--klv-strict"});
    ASSERT_EQ(strict.exitCode, 0) << strict.err;
    const size_t kept[] = {0, 1, 2, 4, 5};
    const auto strictRows = parseCsv(strict.out);
    ASSERT_EQ(strictRows.size(), std::size(kept));
    for (size_t i = 0; i < std::size(kept); ++i) {
        const Expected& e = f.expected[kept[i]];
        EXPECT_EQ(number(strictRows[i], "timestamp"), e.record.timestamp) << i;
        EXPECT_EQ(strictRows[i].at("status"), std::to_string(e.status)) << i;
    }
    EXPECT_NE(strict.err.find("KLV: 7 packets, 4 decoded (4 ST 0601, 0 EG 0104), 2 discarded "
                              "by the checksum policy, 1 with a bad checksum, 1 without a "
                              "checksum, 2 unknown tags, 1 out-of-range codes, 2 unusable for "
                              "a pose,"),
              std::string::npos)
        << strict.err;

    const ToolRun json = runTool({f.ts.string(), "--format=json"});
    ASSERT_EQ(json.exitCode, 0) << json.err;
    expectRows(parseJsonLines(json.out), f.expected, true);

    const ToolRun text = runTool({f.ts.string()});
    ASSERT_EQ(text.exitCode, 0) << text.err;
    std::ostringstream dump;
    for (const Expected& e : f.expected) {
        printItems(e.record, dump);
    }
    EXPECT_EQ(text.out, dump.str());
}

// Independent of the parser: what the tool prints is what the encoder was given, to within
// half a stored unit.
TEST(SkyframeKlv, FixtureValuesAreThePhysicalInputs) {
    const Fixture f = makeFixture(scratchDir());
    const ToolRun csv = runTool({f.ts.string(), "--format", "csv"});
    ASSERT_EQ(csv.exitCode, 0) << csv.err;
    const auto rows = parseCsv(csv.out);
    ASSERT_GE(rows.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        const KlvRecord& in = f.inputs[i];
        EXPECT_EQ(number(rows[i], "timestamp"), in.timestamp);
        EXPECT_NEAR(number(rows[i], "platformHeading"), in.platformHeading, 0.0028);
        EXPECT_NEAR(number(rows[i], "platformPitch"), in.platformPitch, 0.00031);
        EXPECT_NEAR(number(rows[i], "platformRoll"), in.platformRoll, 0.00077);
        EXPECT_NEAR(number(rows[i], "sensorLatitude"), in.sensorLatitude, 2.1e-8);
        EXPECT_NEAR(number(rows[i], "sensorLongitude"), in.sensorLongitude, 4.2e-8);
        EXPECT_NEAR(number(rows[i], "sensorAltitude"), in.sensorAltitude, 0.152);
        EXPECT_NEAR(number(rows[i], "horizontalFov"), in.horizontalFov, 0.0014);
        EXPECT_NEAR(number(rows[i], "sensorAzimuth"), in.sensorAzimuth, 4.2e-8);
        EXPECT_NEAR(number(rows[i], "sensorElevation"), in.sensorElevation, 4.2e-8);
        EXPECT_NEAR(number(rows[i], "frameCenterElevation"), in.frameCenterElevation, 0.152);
    }
}

TEST(SkyframeKlv, RawFileOfConcatenatedPackets) {
    const Fixture f = makeFixture(scratchDir());
    // FFmpeg cannot open it, so it is read raw without being told; --raw says so outright.
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{f.raw.string(), "--format", "csv"},
          std::vector<std::string>{"--raw", "--format", "csv", f.raw.string()}}) {
        const ToolRun run = runTool(args);
        ASSERT_EQ(run.exitCode, 0) << run.err;
        expectRows(parseCsv(run.out), f.expected, false);
        // The reader's own lines go to standard error, one pair per packet.
        size_t keys = 0, sizes = 0;
        for (const auto& line : split(run.err, '\n')) {
            keys += line.rfind("key:", 0) == 0;
            sizes += line.rfind("tlv_size: ", 0) == 0;
        }
        EXPECT_EQ(keys, f.expected.size());
        EXPECT_EQ(sizes, f.expected.size());
        EXPECT_EQ(run.out.find("key:"), std::string::npos);
    }
}

TEST(SkyframeKlv, CutRawFileReportsTheCutPacket) {
    const Fixture f = makeFixture(scratchDir());
    Bytes raw;
    {
        std::ifstream in(f.raw, std::ios::binary);
        raw.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    // Keep the first packet and 30 bytes of the second.
    const size_t first = 17 + 84;
    raw.resize(first + 30);
    const fs::path cut = scratchDir() / "cut.klv";
    writeBytes(cut, raw);
    const ToolRun run = runTool({cut.string(), "--format", "json"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const auto rows = parseJsonLines(run.out);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].at("status"), "0");
    EXPECT_EQ(rows[1].at("status"), std::to_string(kKlvTruncated));
    EXPECT_EQ(rows[1].at("checksum"), "absent");
    // Items that arrived whole before the cut are decoded: the timestamp and heading.
    EXPECT_EQ(number(rows[1], "timestamp"), f.inputs[1].timestamp);
    EXPECT_EQ(number(rows[1], "sensorLatitude"), 0.0);
}

TEST(SkyframeKlv, UsageAndFailures) {
    const ToolRun help = runTool({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_EQ(help.out.rfind("usage: skyframe-klv FILE", 0), 0u) << help.out;

    for (const std::vector<std::string>& args :
         {std::vector<std::string>{}, std::vector<std::string>{"a.ts", "b.ts"},
          std::vector<std::string>{"a.ts", "--format", "xml"},
          std::vector<std::string>{"a.ts", "--format"},
          std::vector<std::string>{"a.ts", "--verbose"}}) {
        const ToolRun run = runTool(args);
        EXPECT_EQ(run.exitCode, 2) << testing::PrintToString(args);
        EXPECT_NE(run.err.find("usage:"), std::string::npos);
        EXPECT_EQ(run.out, "");
    }

    const fs::path dir = scratchDir();
    const std::string missing = (dir / "missing.ts").string();
    const ToolRun absent = runTool({missing});
    EXPECT_EQ(absent.exitCode, 1);
    EXPECT_NE(absent.err.find(missing), std::string::npos) << absent.err;
    EXPECT_EQ(absent.out, "");

    for (const auto& [name, content] : std::vector<std::pair<std::string, std::string>>{
             {"notes.txt", "these are not video frames\n"}, {"empty.ts", ""}}) {
        const fs::path file = dir / name;
        std::ofstream(file) << content;
        const ToolRun run = runTool({file.string(), "--format", "csv"});
        EXPECT_EQ(run.exitCode, 1) << name;
        EXPECT_NE(run.err.find(file.string()), std::string::npos) << run.err;
        EXPECT_EQ(run.out, "") << "nothing half-written";
    }
}

// ---- Third-party recordings ---------------------------------------------------------------

bool haveTestData() {
    return fs::is_directory(kTestData);
}

#define REQUIRE_TEST_DATA()                                                                        \
    if (!haveTestData()) {                                                                         \
        GTEST_SKIP() << "third-party test data not found at " << kTestData                         \
                     << "; real-recording tests skipped";                                          \
    }

std::vector<Row> csvOf(const std::string& file, ToolRun* runOut = nullptr) {
    const ToolRun run = runTool({(kTestData / file).string(), "--format", "csv"});
    EXPECT_EQ(run.exitCode, 0) << file << ": " << run.err;
    if (runOut != nullptr) {
        *runOut = run;
    }
    return parseCsv(run.out);
}

struct FieldValue {
    const char* name;
    double value;
};

// Expected values: the stored integers read from the files by hand (hexdump) and converted
// exactly as rationals (Python's fractions), rounded to 17 digits.
void expectValues(const Row& row, const std::vector<FieldValue>& values) {
    for (const FieldValue& v : values) {
        EXPECT_NEAR(number(row, v.name), v.value, std::fabs(v.value) * 1e-15) << v.name;
    }
}

const std::vector<FieldValue> kExampleMission = {
    {"platformHeading", 159.97436484321355},      {"platformPitch", -0.4315317239906003},
    {"platformRoll", 3.4058656575212867},         {"sensorLatitude", 60.176822966978335},
    {"sensorLongitude", 128.42675904204452},      {"sensorAltitude", 14190.719462882429},
    {"horizontalFov", 144.5712977798123},         {"verticalFov", 152.64362554360267},
    {"sensorAzimuth", 160.71921143697557},        {"sensorElevation", -168.79232483394085},
    {"sensorRoll", 176.86543764939194},           {"frameCenterLatitude", -10.542388633146132},
    {"frameCenterLongitude", 29.157890122923018}, {"frameCenterElevation", 3216.037232013428},
};

// 2.4 KB sets with nested local sets, tags above 127 and 0x82 lengths: every packet is
// walked to its end.
TEST(SkyframeKlvRealData, H264KlvEveryPacketDecodes) {
    REQUIRE_TEST_DATA();
    const auto rows = csvOf("h264_klv.ts");
    ASSERT_EQ(rows.size(), 30u);
    for (const Row& row : rows) {
        EXPECT_EQ(row.at("status"), "0") << row.at("index");
        EXPECT_EQ(row.at("checksum"), "ok") << row.at("index");
        EXPECT_EQ(row.at("pts"), "") << "these KLV packets carry no time stamp";
    }
    EXPECT_EQ(number(rows[0], "timestamp"), 1224807209913000.0);
    expectValues(rows[0], kExampleMission);
    EXPECT_EQ(number(rows[29], "timestamp"), 1224807210879666.0);
    expectValues(rows[29], {{"platformHeading", 160.50171663996338},
                            {"platformPitch", -3.0469679860835597},
                            {"sensorLatitude", 60.17651472248906},
                            {"sensorLongitude", 128.42396082748843},
                            {"sensorAltitude", 14175.233081559472},
                            {"horizontalFov", 94.00045777065691},
                            {"verticalFov", 85.99954222934309},
                            {"sensorElevation", -167.34907023950902},
                            {"frameCenterElevation", 3212.697032120241}});
}

TEST(SkyframeKlvRealData, Mpeg2KlvCarriesTheSameTelemetry) {
    REQUIRE_TEST_DATA();
    const auto h264 = csvOf("h264_klv.ts");
    const auto mpeg2 = csvOf("mpeg2_klv.ts");
    EXPECT_EQ(h264, mpeg2);
}

// KLV with presentation times, in decoding order (not sorted by time).
TEST(SkyframeKlvRealData, ForemanEveryPacketDecodesWithItsTime) {
    REQUIRE_TEST_DATA();
    const auto rows = csvOf("foreman_cif_klv.ts");
    ASSERT_EQ(rows.size(), 300u);
    bool outOfOrder = false;
    for (size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(rows[i].at("status"), "0") << i;
        EXPECT_EQ(rows[i].at("checksum"), "ok") << i;
        ASSERT_NE(rows[i].at("pts"), "") << i;
        outOfOrder = outOfOrder || (i > 0 && number(rows[i], "pts") < number(rows[i - 1], "pts"));
    }
    EXPECT_TRUE(outOfOrder) << "rows follow the file's order, as the viewer reads them";
    EXPECT_EQ(number(rows[0], "pts"), 1.48);
    EXPECT_EQ(number(rows[0], "timestamp"), 1497623180296000.0);
    expectValues(rows[0], {{"platformHeading", 291.0212863355459},
                           {"platformPitch", -1.054109317300943},
                           {"platformRoll", -15.98712118900113},
                           {"sensorLatitude", 52.8080068169199},
                           {"sensorLongitude", -111.02649810306099},
                           {"sensorAltitude", 1529.2362859540704},
                           {"horizontalFov", 1.744106202792401},
                           {"verticalFov", 1.3073929961089494},
                           {"sensorAzimuth", 292.234039262923},
                           {"sensorElevation", -40.611701971204816},
                           {"sensorRoll", 359.1005248108647},
                           {"frameCenterLatitude", 52.80171707868656},
                           {"frameCenterLongitude", -111.0321589890086},
                           {"frameCenterElevation", 674.1451132982376}});
}

// Every packet of this real flight holds the out-of-range code for sensor elevation and
// frame centre: status -1, those fields stay 0, and the items after them still decode.
TEST(SkyframeKlvRealData, RealFlightOutOfRangeCodes) {
    REQUIRE_TEST_DATA();
    ToolRun run;
    const auto rows = csvOf("realflight.bin", &run);
    ASSERT_EQ(rows.size(), 19u);
    for (const Row& row : rows) {
        EXPECT_EQ(row.at("status"), std::to_string(kKlvOutOfRange)) << row.at("index");
        EXPECT_EQ(row.at("checksum"), "ok") << row.at("index");
        EXPECT_EQ(number(row, "sensorElevation"), 0.0);
        EXPECT_EQ(number(row, "frameCenterLatitude"), 0.0);
        EXPECT_EQ(number(row, "frameCenterLongitude"), 0.0);
        EXPECT_EQ(number(row, "sensorAltitude"), 0.0) << "the flight carries no tag 15";
        // Tag 20 follows the marker of tag 19; its 0x80000000 is an ordinary unsigned value.
        EXPECT_NEAR(number(row, "sensorRoll"), 180.00000004190952, 1e-12);
    }
    EXPECT_EQ(number(rows[0], "timestamp"), 1568297221029439.0);
    expectValues(rows[0], {{"platformHeading", 104.39917601281758},
                           {"sensorLatitude", 39.34838915213402},
                           {"sensorLongitude", -9.320705500115038},
                           {"horizontalFov", 9.83016708628977},
                           {"verticalFov", 5.94369420920119}});
    EXPECT_EQ(number(rows[18], "timestamp"), 1568297230225276.0);
    expectValues(rows[18], {{"platformHeading", 104.37170977340352},
                            {"sensorLatitude", 39.34839074469562},
                            {"sensorLongitude", -9.320701728258609}});
    EXPECT_NE(run.err.find("tlv_size: 304"), std::string::npos) << "the one 0x82 packet";
}

TEST(SkyframeKlvRealData, WrongChecksumIsReportedNotFatal) {
    REQUIRE_TEST_DATA();
    const auto bad = csvOf("DynamicConstantMISMMSPacketData.bin");
    ASSERT_EQ(bad.size(), 1u);
    EXPECT_EQ(bad[0].at("checksum"), "bad");
    EXPECT_EQ(bad[0].at("status"), "0");
    EXPECT_EQ(number(bad[0], "timestamp"), 1231798102000000.0);
    expectValues(bad[0], kExampleMission);

    const auto good = csvOf("DynamicOnlyMISMMSPacketData.bin");
    ASSERT_EQ(good.size(), 1u);
    EXPECT_EQ(good[0].at("checksum"), "ok");
    EXPECT_EQ(good[0].at("status"), "0");
}

TEST(SkyframeKlvRealData, FilesWithoutUsableKlv) {
    REQUIRE_TEST_DATA();
    const std::string noKlv = (kTestData / "h264_no_klv.ts").string();
    const ToolRun run = runTool({noKlv, "--format", "json"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find(noKlv + ": no KLV data stream"), std::string::npos) << run.err;
    EXPECT_EQ(run.out, "");
}

// Three KLV streams, the last of which never carries a packet: by default the tool reads
// the one the viewer uses, the last that carries KLV (60 tiny sets), and says which.
TEST(SkyframeKlvRealData, EmptyLastDataStreamIsPassedOver) {
    REQUIRE_TEST_DATA();
    ToolRun tricky;
    const auto rows = csvOf("h265_tricky_klv.ts", &tricky);
    EXPECT_EQ(rows.size(), 60u);
    EXPECT_NE(tricky.err.find("data stream #2 (the last of 3 data streams that carries KLV)"),
              std::string::npos)
        << tricky.err;

    const std::string path = (kTestData / "h265_tricky_klv.ts").string();
    const struct {
        std::string stream;
        int exitCode;
        size_t rows;
    } cases[] = {{"1", 0, 30}, {"2", 0, 60}, {"3", 1, 0}, {"0", 1, 0}, {"9", 1, 0}};
    for (const auto& c : cases) {
        const ToolRun run = runTool({path, "--format", "csv", "--stream", c.stream});
        EXPECT_EQ(run.exitCode, c.exitCode) << c.stream << ": " << run.err;
        EXPECT_EQ(run.out.empty() ? 0 : parseCsv(run.out).size(), c.rows) << c.stream;
    }
    const ToolRun bad = runTool({path, "--stream", "x"});
    EXPECT_EQ(bad.exitCode, 2);
}

// ---- Damaged lengths -----------------------------------------------------------------------

// Packets of the flight, one of them with its length byte replaced. The encoder writes the
// short form (these values are well under 128 bytes), so byte 16 is the whole length.
Bytes flightWithDamagedLength(int count, int damaged, unsigned char length,
                              std::vector<KlvRecord>& inputs) {
    Bytes raw;
    for (int i = 0; i < count; ++i) {
        inputs.push_back(flightRecord(i % 8));
        inputs.back().timestamp += i;
        Bytes packet = encodeUasLocalSet(inputs.back());
        EXPECT_LT(packet[16], 0x80);
        if (i == damaged) {
            packet[16] = length;
        }
        raw.insert(raw.end(), packet.begin(), packet.end());
    }
    return raw;
}

TEST(SkyframeKlvResync, RawFileWithOneCorruptLengthLosesOnlyThatPacket) {
    const struct {
        const char* what;
        unsigned char length;
    } cases[] = {
        {"too long, reaching into the next packet", 0x7F},
        {"too short, ending inside its own value", 0x10},
        {"longer than the rest of the file", 0x84}, // long form: 4 length bytes from the value
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<KlvRecord> inputs;
        const Bytes raw = flightWithDamagedLength(90, 41, c.length, inputs);
        const fs::path file = scratchDir() / "damaged.klv";
        writeBytes(file, raw);
        const ToolRun run = runTool({file.string(), "--format", "csv"});
        ASSERT_EQ(run.exitCode, 0) << run.err;
        const auto rows = parseCsv(run.out);
        ASSERT_EQ(rows.size(), 89u);
        for (size_t i = 0; i < rows.size(); ++i) {
            const size_t input = i < 41 ? i : i + 1;
            EXPECT_EQ(rows[i].at("status"), "0") << i;
            EXPECT_EQ(number(rows[i], "timestamp"), std::round(inputs[input].timestamp)) << i;
        }
        EXPECT_NE(run.err.find("89 decoded (89 ST 0601, 0 EG 0104)"), std::string::npos) << run.err;
        EXPECT_NE(run.err.find(" 1 resynchronisations"), std::string::npos) << run.err;
    }
}

TEST(SkyframeKlvResync, DataPacketWithADamagedSetStillYieldsTheGoodOnes) {
    const fs::path dir = scratchDir();
    TsWriterOptions options;
    options.width = 32;
    options.height = 32;
    options.fps = 10;
    options.codec = VideoCodec::Mpeg2;
    std::vector<KlvRecord> inputs;
    const Bytes fourSets = flightWithDamagedLength(4, 1, 0x7F, inputs);
    {
        TsWriter writer((dir / "resync.ts").string(), options);
        std::vector<unsigned char> pixels(32 * 32 * 3, 90);
        writer.writeFrame(pixels.data());
        writer.writeKlv(fourSets, 0.0);
        writer.writeFrame(pixels.data());
        writer.writeKlv(encodeUasLocalSet(inputs[0]), 0.1);
        writer.writeFrame(pixels.data());
        writer.finish();
    }
    const ToolRun run = runTool({(dir / "resync.ts").string(), "--format", "csv"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const auto rows = parseCsv(run.out);
    ASSERT_EQ(rows.size(), 4u);
    const int expected[] = {0, 2, 3, 0};
    for (size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(number(rows[i], "timestamp"), std::round(inputs[expected[i]].timestamp)) << i;
        // Stored in 2^31 steps of 90 degrees: within 5e-8 of the input.
        EXPECT_NEAR(number(rows[i], "sensorLatitude"), inputs[expected[i]].sensorLatitude, 1e-7)
            << i;
    }
}

// A stream whose every KLV length is corrupt yields no record: a failure, not an empty
// success.
TEST(SkyframeKlvResync, NoDecodedRecordIsAFailure) {
    const fs::path dir = scratchDir();
    TsWriterOptions options;
    options.width = 32;
    options.height = 32;
    options.fps = 10;
    options.codec = VideoCodec::Mpeg2;
    {
        TsWriter writer((dir / "corrupt.ts").string(), options);
        std::vector<unsigned char> pixels(32 * 32 * 3, 90);
        for (int i = 0; i < 3; ++i) {
            Bytes packet = encodeUasLocalSet(flightRecord(i));
            packet[16] = 0x7F; // longer than the data packet
            writer.writeFrame(pixels.data());
            writer.writeKlv(packet, 0.1 * i);
        }
        writer.finish();
    }
    const ToolRun run = runTool({(dir / "corrupt.ts").string(), "--format", "csv"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("no decoded KLV record"), std::string::npos) << run.err;
}

// ---- EG 0104 -------------------------------------------------------------------------------

TEST(SkyframeKlvRealData, Eg0104RecordingDecodes) {
    REQUIRE_TEST_DATA();
    ToolRun run;
    const auto rows = csvOf("aphill_short.ts", &run);
    ASSERT_EQ(rows.size(), 48u);
    for (const Row& row : rows) {
        EXPECT_EQ(row.at("set"), "0104");
        EXPECT_EQ(row.at("status"), "0");
        EXPECT_EQ(row.at("checksum"), "none");
        EXPECT_NEAR(number(row, "sensorLatitude"), 38.2523, 0.01);
    }
    EXPECT_NE(run.err.find("48 decoded (0 ST 0601, 48 EG 0104)"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("0 unusable for a pose"), std::string::npos) << run.err;
}

} // namespace
} // namespace skyframe
