#pragma once

// Where skyframe-klv gets its packets: the KLV data stream of any file FFmpeg demuxes, or a
// raw file of concatenated KLV packets.

#include "telemetry/KlvPacket.h"
#include "telemetry/KlvRecord.h"

#include <functional>
#include <iosfwd>
#include <optional>
#include <string>

namespace skyframe {

// One KLV packet, decoded.
struct KlvPacketReport {
    long index = 0;            // 0-based, over the whole input
    std::optional<double> pts; // presentation time of its data packet (seconds), if any
    int status = 0;            // parseItems' status (Klv.h); -3 also for a cut raw packet
    ChecksumStatus checksum = ChecksumStatus::Absent;
    const KlvRecord* record = nullptr; // valid during the call only
};
using KlvPacketSink = std::function<void(const KlvPacketReport&)>;

struct KlvInputSummary {
    long packets = 0;
    long failedDecodes = 0; // packets whose status is not 0
    long badChecksums = 0;
    long absentChecksums = 0;
    long strayBytes = 0; // bytes of data packets that held no whole KLV packet
    std::string origin;  // "data stream #<index>" or "raw KLV"
};

// Reads every data packet of the file's last data stream (the one the viewer uses); each
// KLV packet in a data packet becomes one record. Returns nothing, with the reason in
// `openError`, when FFmpeg cannot open the file, cannot find its streams, or finds no data
// stream; nothing has been passed to `sink` then. Throws std::runtime_error naming the file
// when it cannot be read to its end.
std::optional<KlvInputSummary> readMediaKlv(const std::string& path, const KlvPacketSink& sink,
                                            std::string& openError);

// Reads a raw file of concatenated KLV packets through a KlvRecord source and
// readNextPacket, whose "key:" and "tlv_size:" lines go to `log`. Every packet is decoded
// into a fresh record. Throws std::runtime_error naming the file when it cannot be opened.
KlvInputSummary readRawKlv(const std::string& path, const KlvPacketSink& sink, std::ostream& log);

// Whether the file begins with a SMPTE universal label (06 0E 2B 34), as a raw KLV file does.
bool startsWithUniversalLabel(const std::string& path);

} // namespace skyframe
