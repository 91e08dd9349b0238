#include "KlvInput.h"

#include "media/FfmpegHandles.h"
#include "telemetry/Klv.h"

#include <fstream>
#include <stdexcept>

namespace skyframe {

namespace {

void count(KlvInputSummary& summary, const KlvPacketReport& report) {
    ++summary.packets;
    if (report.status != 0) {
        ++summary.failedDecodes;
    }
    if (report.checksum == ChecksumStatus::Bad) {
        ++summary.badChecksums;
    } else if (report.checksum == ChecksumStatus::Absent) {
        ++summary.absentChecksums;
    }
}

} // namespace

std::optional<KlvInputSummary> readMediaKlv(const std::string& path, const KlvPacketSink& sink,
                                            std::string& openError) {
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
    int dataIndex = -1;
    int dataStreams = 0;
    for (unsigned i = 0; i < format->nb_streams; ++i) {
        if (format->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_DATA) {
            dataIndex = static_cast<int>(i);
            ++dataStreams;
        }
    }
    if (dataIndex < 0) {
        openError = "no KLV data stream";
        return std::nullopt;
    }
    const AVRational timeBase = format->streams[dataIndex]->time_base;

    KlvInputSummary summary;
    summary.origin = "data stream #" + std::to_string(dataIndex);
    if (dataStreams > 1) {
        summary.origin += " (the last of " + std::to_string(dataStreams) + " data streams)";
    }
    PacketPtr packet(av_packet_alloc());
    if (!packet) {
        throw std::runtime_error(path + ": out of memory");
    }
    for (;;) {
        const int rc = av_read_frame(format.get(), packet.get());
        if (rc == AVERROR_EOF) {
            break;
        }
        if (rc < 0) {
            throw std::runtime_error(path + ": read error after " +
                                     std::to_string(summary.packets) +
                                     " KLV packets: " + avErrorText(rc));
        }
        if (packet->stream_index == dataIndex && packet->size > 0) {
            KlvPacketReport report;
            if (packet->pts != AV_NOPTS_VALUE) {
                report.pts = static_cast<double>(packet->pts) * timeBase.num / timeBase.den;
            }
            size_t consumed = 0;
            const auto size = static_cast<size_t>(packet->size);
            for (const KlvPacket& klv : splitKlvPackets(packet->data, size, &consumed)) {
                KlvRecord record;
                report.index = summary.packets;
                report.status = parseItems(record, klv.value(), static_cast<int>(klv.valueLength));
                report.checksum = verifyChecksum(klv);
                report.record = &record;
                sink(report);
                count(summary, report);
            }
            summary.strayBytes += static_cast<long>(size - consumed);
        }
        av_packet_unref(packet.get());
    }
    return summary;
}

KlvInputSummary readRawKlv(const std::string& path, const KlvPacketSink& sink, std::ostream& log) {
    KlvRecord reader(path);
    if (!reader.source) {
        throw std::runtime_error(path + ": cannot open for reading");
    }
    KlvInputSummary summary;
    summary.origin = "raw KLV";
    PacketReadDetails details;
    for (;;) {
        // A fresh record per packet: no value carries over from the packet before.
        KlvRecord record;
        record.source = std::move(reader.source);
        const int rc = readNextPacket(record, log, &details);
        reader.source = std::move(record.source);
        if (rc != 0) {
            break;
        }
        KlvPacketReport report;
        report.index = summary.packets;
        report.status = details.parseStatus;
        KlvPacket framed;
        if (details.complete &&
            frameKlvPacket(details.packet.data(), details.packet.size(), framed)) {
            report.checksum = verifyChecksum(framed);
        }
        report.record = &record;
        sink(report);
        count(summary, report);
    }
    if (reader.source->bad()) {
        throw std::runtime_error(path + ": read error after " + std::to_string(summary.packets) +
                                 " KLV packets");
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
