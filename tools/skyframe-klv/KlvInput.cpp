#include "KlvInput.h"

#include "media/FfmpegHandles.h"
#include "telemetry/Ber.h"
#include "telemetry/Klv.h"

#include <fstream>
#include <iterator>
#include <map>
#include <ostream>
#include <stdexcept>
#include <vector>

namespace skyframe {

namespace {

constexpr size_t kKeySize = 16;

// The raw reader's lines: the key's bytes as characters up to the first zero byte, and the
// value length.
void logPacket(std::ostream& log, const unsigned char* key, uint32_t length) {
    log << "key:";
    for (size_t i = 0; i < kKeySize && key[i] != 0; ++i) {
        log << static_cast<char>(key[i]);
    }
    log << "\ntlv_size: " << length << '\n';
}

void deliver(KlvInputSummary& summary, KlvPacketReport& report, const KlvRecord& record,
             const KlvPacketSink& sink) {
    report.index = summary.records++;
    report.status = record.status;
    report.record = &record;
    if (!usableForPose(record)) {
        ++summary.tally.unusable;
    }
    sink(report);
}

// Decodes every KLV packet of one data packet (or of a whole raw file).
size_t decodeBuffer(const unsigned char* data, size_t size, std::optional<double> pts,
                    const KlvReadOptions& options, const KlvPacketSink& sink,
                    KlvInputSummary& summary, std::ostream* log) {
    size_t offset = 0;
    size_t covered = 0;
    KlvPacket packet;
    while (nextKlvPacket(data, size, offset, packet, &summary.tally)) {
        covered += packet.size;
        if (log != nullptr) {
            logPacket(*log, packet.data, packet.valueLength);
        }
        KlvRecord record;
        KlvPacketReport report;
        report.pts = pts;
        if (decodeKlvPacket(packet, record, options.intake, &summary.tally, &report.checksum)) {
            deliver(summary, report, record, sink);
        }
    }
    summary.strayBytes += static_cast<long>(size - covered);
    return offset;
}

struct BufferedPacket {
    std::optional<double> pts;
    std::vector<unsigned char> bytes;
};

// Every data packet of every data stream, in file order per stream.
using DataStreams = std::map<int, std::vector<BufferedPacket>>;

void readDataStreams(AVFormatContext& format, const std::string& path, DataStreams& streams) {
    PacketPtr packet(av_packet_alloc());
    if (!packet) {
        throw std::runtime_error(path + ": out of memory");
    }
    for (;;) {
        const int rc = av_read_frame(&format, packet.get());
        if (rc == AVERROR_EOF) {
            return;
        }
        if (rc < 0) {
            throw std::runtime_error(path + ": read error: " + avErrorText(rc));
        }
        const auto found = streams.find(packet->stream_index);
        if (found != streams.end() && packet->size > 0) {
            BufferedPacket b;
            const AVRational tb = format.streams[packet->stream_index]->time_base;
            if (packet->pts != AV_NOPTS_VALUE) {
                b.pts = static_cast<double>(packet->pts) * tb.num / tb.den;
            }
            b.bytes.assign(packet->data, packet->data + packet->size);
            found->second.push_back(std::move(b));
        }
        av_packet_unref(packet.get());
    }
}

bool carriesKlv(const std::vector<BufferedPacket>& packets) {
    for (const BufferedPacket& b : packets) {
        size_t offset = 0;
        KlvPacket klv;
        if (nextKlvPacket(b.bytes.data(), b.bytes.size(), offset, klv)) {
            return true;
        }
    }
    return false;
}

} // namespace

int lastStreamCarryingKlv(const std::vector<bool>& carries) {
    for (size_t i = carries.size(); i-- > 0;) {
        if (carries[i]) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

std::optional<KlvInputSummary> readMediaKlv(const std::string& path, const KlvReadOptions& options,
                                            const KlvPacketSink& sink, std::string& openError) {
    AVFormatContext* raw = nullptr;
    const int opened = avformat_open_input(&raw, path.c_str(), nullptr, nullptr);
    if (opened != 0) {
        openError = "FFmpeg cannot open it: " + avErrorText(opened);
        return std::nullopt;
    }
    InputFormatPtr format(raw);
    // FFmpeg may take a short file of any bytes for a transport stream (a raw KLV file among
    // them) and then fail to find its streams: a file it cannot read, not a read error.
    const int info = avformat_find_stream_info(format.get(), nullptr);
    if (info < 0) {
        openError = "FFmpeg cannot read its streams: " + avErrorText(info);
        return std::nullopt;
    }
    DataStreams streams;
    for (unsigned i = 0; i < format->nb_streams; ++i) {
        if (format->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_DATA) {
            streams[static_cast<int>(i)];
        }
    }
    if (streams.empty()) {
        openError = "no KLV data stream";
        return std::nullopt;
    }
    if (options.stream >= 0 && streams.count(options.stream) == 0) {
        openError = "stream " + std::to_string(options.stream) + " is not a data stream";
        return std::nullopt;
    }
    readDataStreams(*format, path, streams);

    std::vector<bool> carries(format->nb_streams, false);
    for (const auto& [index, packets] : streams) {
        carries[static_cast<size_t>(index)] = carriesKlv(packets);
    }
    int chosen = options.stream;
    KlvInputSummary summary;
    if (chosen < 0) {
        chosen = lastStreamCarryingKlv(carries);
        chosen = chosen < 0 ? streams.rbegin()->first : chosen;
        summary.origin = "data stream #" + std::to_string(chosen) + " (the last of " +
                         std::to_string(streams.size()) + " data streams that carries KLV)";
    } else {
        summary.origin = "data stream #" + std::to_string(chosen);
    }
    for (const BufferedPacket& b : streams[chosen]) {
        decodeBuffer(b.bytes.data(), b.bytes.size(), b.pts, options, sink, summary, nullptr);
    }
    return summary;
}

namespace {

// The packet cut by the end of a raw file: its items that arrived whole, status -3.
void reportCutPacket(const std::vector<unsigned char>& bytes, size_t offset,
                     const KlvPacketSink& sink, KlvInputSummary& summary, std::ostream& log) {
    if (bytes.size() - offset <= kKeySize) {
        return;
    }
    uint32_t length = 0;
    const size_t lengthBytes =
        decodeBerLength(bytes.data() + offset + kKeySize, bytes.size() - offset - kKeySize, length);
    const size_t valueOffset = offset + kKeySize + lengthBytes;
    if (lengthBytes == 0 || length <= bytes.size() - valueOffset) {
        return; // not cut: damaged bytes the framing could not resynchronise past
    }
    logPacket(log, bytes.data() + offset, length);
    KlvRecord record;
    KlvWalkCounts counts;
    parseItems(record, bytes.data() + valueOffset, static_cast<int>(bytes.size() - valueOffset),
               &counts);
    record.status = kKlvTruncated;
    ++summary.tally.packets;
    summary.tally.unknown += counts.unknown;
    summary.strayBytes -= static_cast<long>(bytes.size() - offset);
    KlvPacketReport report;
    report.checksum = ChecksumStatus::Absent;
    deliver(summary, report, record, sink);
}

} // namespace

KlvInputSummary readRawKlv(const std::string& path, const KlvReadOptions& options,
                           const KlvPacketSink& sink, std::ostream& log) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw std::runtime_error(path + ": cannot open for reading");
    }
    const std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)),
                                           std::istreambuf_iterator<char>());
    if (in.bad()) {
        throw std::runtime_error(path + ": read error");
    }
    KlvInputSummary summary;
    summary.origin = "raw KLV";
    const size_t end =
        decodeBuffer(bytes.data(), bytes.size(), std::nullopt, options, sink, summary, &log);
    if (end < bytes.size()) {
        reportCutPacket(bytes, end, sink, summary, log);
    }
    return summary;
}

bool startsWithUniversalLabel(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    unsigned char label[4] = {};
    in.read(reinterpret_cast<char*>(label), sizeof label);
    return in.gcount() == 4 && label[0] == 0x06 && label[1] == 0x0E && label[2] == 0x2B &&
           label[3] == 0x34;
}

} // namespace skyframe
