// Throughput of the telemetry intake on ST 0601 packets of the three sizes seen in practice:
// the bare decoded set, a typical set with text and a security set, and a full set with
// nested target and tracking sets (kilobytes).

#include "telemetry/Klv.h"
#include "telemetry/KlvEncoder.h"
#include "telemetry/KlvPacket.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <string>
#include <vector>

namespace skyframe {
namespace {

using Bytes = std::vector<unsigned char>;

KlvRecord flight(int i) {
    KlvRecord r;
    const double t = i * 0.033;
    r.timestamp = 1704067200000000.0 + t * 1e6;
    r.platformHeading = std::fmod(90.0 + 1.4 * t, 360.0);
    r.platformPitch = 2.0 * std::sin(t);
    r.platformRoll = 7.2 + std::cos(t);
    r.sensorLatitude = 33.5 + 0.01 * std::cos(0.02 * t);
    r.sensorLongitude = -115.5 + 0.01 * std::sin(0.02 * t);
    r.sensorAltitude = 1500.0 + t;
    r.horizontalFov = 30.0;
    r.verticalFov = 17.1;
    r.sensorAzimuth = 90.0 + std::sin(t);
    r.sensorElevation = -36.9;
    r.sensorRoll = 0.5;
    r.frameCenterLatitude = 33.5;
    r.frameCenterLongitude = -115.5;
    r.frameCenterElevation = -60.0;
    return r;
}

Bytes text(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

// Items a typical encoder sends besides the decoded ones.
std::vector<KlvItem> typicalExtras() {
    // Security local set (tag 48): classification, country coding, country, version.
    const Bytes security = {1, 1, 1, 2, 1, 7, 3, 5, '/', '/', 'U', 'S', 'A', 22, 2, 0, 12};
    return {{3, text("MISSION01")},
            {4, text("AF-101")},
            {10, text("MQ1-B")},
            {11, text("EO Nose")},
            {12, text("Geodetic WGS84")},
            {21, {0x03, 0x83, 0x09, 0x26}},
            {22, {0x12, 0x81}},
            {48, security},
            {65, {13}},
            {0x8E, {0x00, 0x05}}};
}

// A full set: every other tag up to 140, and large nested sets (VMTI with 20 targets, a
// tracking set) whose lengths need the BER long form.
std::vector<KlvItem> fullExtras() {
    std::vector<KlvItem> extras = typicalExtras();
    for (uint32_t tag = 26; tag <= 140; ++tag) {
        if (tag == 48 || tag == 65 || tag == 74) {
            continue;
        }
        extras.push_back({tag, Bytes(tag % 7 + 1, static_cast<unsigned char>(tag))});
    }
    Bytes vmti = {3, 1, 20, 4, 1, 20};
    for (int target = 0; target < 20; ++target) {
        Bytes pack = {static_cast<unsigned char>(target + 1)};
        for (int item = 1; item <= 12; ++item) {
            pack.insert(pack.end(), {static_cast<unsigned char>(item), 4, 0x12, 0x34, 0x56,
                                     static_cast<unsigned char>(target)});
        }
        vmti.push_back(0x81);
        vmti.push_back(static_cast<unsigned char>(pack.size()));
        vmti.insert(vmti.end(), pack.begin(), pack.end());
    }
    extras.push_back({74,
                      {101, 0x82, static_cast<unsigned char>(vmti.size() >> 8),
                       static_cast<unsigned char>(vmti.size())}});
    extras.back().value.insert(extras.back().value.end(), vmti.begin(), vmti.end());
    extras.push_back({73, Bytes(300, 0x2A)});
    return extras;
}

enum class Kind { Bare, Typical, Full };

// 256 consecutive packets of a flight, as a stream delivers them.
std::vector<Bytes> makePackets(Kind kind) {
    const std::vector<KlvItem> extras = kind == Kind::Bare      ? std::vector<KlvItem>{}
                                        : kind == Kind::Typical ? typicalExtras()
                                                                : fullExtras();
    std::vector<Bytes> packets;
    for (int i = 0; i < 256; ++i) {
        packets.push_back(encodeUasLocalSet(flight(i), extras));
    }
    return packets;
}

void parseItemsBench(benchmark::State& state, Kind kind) {
    const std::vector<Bytes> packets = makePackets(kind);
    std::vector<KlvPacket> framed(packets.size());
    size_t valueBytes = 0;
    for (size_t i = 0; i < packets.size(); ++i) {
        if (!frameKlvPacket(packets[i].data(), packets[i].size(), framed[i])) {
            state.SkipWithError("packet does not frame");
            return;
        }
        valueBytes += framed[i].valueLength;
    }
    KlvRecord record;
    for (auto _ : state) {
        for (const KlvPacket& p : framed) {
            const int status = parseItems(record, p.value(), static_cast<int>(p.valueLength));
            benchmark::DoNotOptimize(status);
        }
        benchmark::ClobberMemory();
    }
    const auto iterations = static_cast<double>(state.iterations());
    state.SetBytesProcessed(static_cast<int64_t>(iterations * valueBytes));
    state.SetItemsProcessed(static_cast<int64_t>(iterations * packets.size()));
    state.counters["packet_bytes"] = static_cast<double>(valueBytes) / packets.size();
    state.counters["packets/s"] =
        benchmark::Counter(iterations * packets.size(), benchmark::Counter::kIsRate);
}

// The frame loop's whole intake of a data packet: framing, a new record, the walk, queueing.
void intakeBench(benchmark::State& state, Kind kind) {
    const std::vector<Bytes> packets = makePackets(kind);
    size_t bytes = 0;
    for (const Bytes& p : packets) {
        bytes += p.size();
    }
    recordQueue queue;
    for (auto _ : state) {
        for (const Bytes& p : packets) {
            appendKlvRecords(queue, p.data(), p.size());
        }
        queue.clear();
    }
    const auto iterations = static_cast<double>(state.iterations());
    state.SetBytesProcessed(static_cast<int64_t>(iterations * bytes));
    state.counters["packet_bytes"] = static_cast<double>(bytes) / packets.size();
    state.counters["packets/s"] =
        benchmark::Counter(iterations * packets.size(), benchmark::Counter::kIsRate);
}

BENCHMARK_CAPTURE(parseItemsBench, bare, Kind::Bare);
BENCHMARK_CAPTURE(parseItemsBench, typical, Kind::Typical);
BENCHMARK_CAPTURE(parseItemsBench, full, Kind::Full);
BENCHMARK_CAPTURE(intakeBench, typical, Kind::Typical);
BENCHMARK_CAPTURE(intakeBench, full, Kind::Full);

} // namespace
} // namespace skyframe

BENCHMARK_MAIN();
