// EG 0104 element walk throughput beside the ST 0601 item walk (MB/s and packets/s), on
// sets shaped like a real recorder's: every element of the document plus one it does not
// list, about 560 value bytes.
#include "Eg0104TestEncoder.h"
#include "telemetry/Eg0104.h"
#include "telemetry/KlvPacket.h"

#include <benchmark/benchmark.h>

#include <vector>

namespace skyframe {
namespace {

using namespace eg0104test;

std::vector<Bytes> makeSets() {
    std::vector<Bytes> sets;
    UniversalKey unknown = keyOf(Eg0104Element::Timestamp);
    unknown[10] = 0x20;
    for (int i = 0; i < 256; ++i) {
        std::vector<Element> elements = {{unknown, floatBytes(12.0f)}};
        for (const Eg0104ElementInfo& info : kEg0104Elements) {
            const double v = 38.25 + 0.001 * i + static_cast<int>(info.element);
            elements.push_back(
                {info.key, info.size == 8 ? doubleBytes(v) : floatBytes(static_cast<float>(v))});
        }
        sets.push_back(encodeSet(elements));
    }
    return sets;
}

void eg0104Bench(benchmark::State& state) {
    const std::vector<Bytes> sets = makeSets();
    std::vector<KlvPacket> framed(sets.size());
    size_t valueBytes = 0;
    for (size_t i = 0; i < sets.size(); ++i) {
        if (!frameKlvPacket(sets[i].data(), sets[i].size(), framed[i])) {
            state.SkipWithError("set does not frame");
            return;
        }
        valueBytes += framed[i].valueLength;
    }
    KlvRecord record;
    for (auto _ : state) {
        for (const KlvPacket& p : framed) {
            const int status = parseEg0104(record, p.value(), p.valueLength);
            benchmark::DoNotOptimize(status);
        }
        benchmark::ClobberMemory();
    }
    const auto iterations = static_cast<double>(state.iterations());
    state.SetBytesProcessed(static_cast<int64_t>(iterations * valueBytes));
    state.counters["packet_bytes"] = static_cast<double>(valueBytes) / sets.size();
    state.counters["packets/s"] =
        benchmark::Counter(iterations * sets.size(), benchmark::Counter::kIsRate);
}

// The whole intake: resynchronising framing, a new record, the walk, queueing.
void eg0104IntakeBench(benchmark::State& state) {
    const std::vector<Bytes> sets = makeSets();
    size_t bytes = 0;
    for (const Bytes& s : sets) {
        bytes += s.size();
    }
    recordQueue queue;
    for (auto _ : state) {
        for (const Bytes& s : sets) {
            appendKlvRecords(queue, s.data(), s.size());
        }
        queue.clear();
    }
    const auto iterations = static_cast<double>(state.iterations());
    state.SetBytesProcessed(static_cast<int64_t>(iterations * bytes));
    state.counters["packet_bytes"] = static_cast<double>(bytes) / sets.size();
    state.counters["packets/s"] =
        benchmark::Counter(iterations * sets.size(), benchmark::Counter::kIsRate);
}

BENCHMARK(eg0104Bench);
BENCHMARK(eg0104IntakeBench);

} // namespace
} // namespace skyframe
