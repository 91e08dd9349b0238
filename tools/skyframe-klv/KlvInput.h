#pragma once

// Where skyframe-klv gets its packets: a KLV data stream of any file FFmpeg demuxes, or a
// raw file of concatenated KLV packets.

#include "telemetry/KlvPacket.h"
#include "telemetry/KlvRecord.h"
#include "telemetry/KlvTally.h"

#include <functional>
#include <iosfwd>
#include <optional>
#include <string>

namespace skyframe {

// One KLV packet, decoded.
struct KlvPacketReport {
    long index = 0;            // 0-based, over the packets handed out
    std::optional<double> pts; // presentation time of its data packet (seconds), if any
    int status = 0;            // the walk's status (Klv.h); -3 also for a cut raw packet
    ChecksumStatus checksum = ChecksumStatus::Absent;
    const KlvRecord* record = nullptr; // valid during the call only
};
using KlvPacketSink = std::function<void(const KlvPacketReport&)>;

struct KlvReadOptions {
    KlvIntakeOptions intake;
    int stream = -1; // index of the data stream to read; -1: the viewer's choice
};

struct KlvInputSummary {
    KlvTally tally;      // unusable counted here with usableForPose
    long records = 0;    // reports handed to the sink
    long strayBytes = 0; // bytes of data packets that held no whole KLV packet
    std::string origin;  // "data stream #<index>" or "raw KLV"
};

// The viewer's data stream: the last one in which at least one packet frames a KLV packet.
// `carries[i]` tells whether stream i did; returns -1 when none did.
int lastStreamCarryingKlv(const std::vector<bool>& carries);

// Reads every packet of one data stream of the file (options.stream, or by default the last
// data stream that carries KLV, as the viewer chooses); each KLV packet in a data packet
// becomes one record. Returns nothing, with the reason in `openError`, when FFmpeg cannot
// open the file, cannot find its streams, finds no data stream, or options.stream is not
// one; nothing has been passed to `sink` then. Throws std::runtime_error naming the file
// when it cannot be read to its end.
std::optional<KlvInputSummary> readMediaKlv(const std::string& path, const KlvReadOptions& options,
                                            const KlvPacketSink& sink, std::string& openError);

// Reads a raw file of concatenated KLV packets, framing them as the data-packet splitter
// does (resynchronising after a damaged length), and writes a "key:" and a "tlv_size: <n>"
// line per packet to `log`. A packet cut by the end of the file is still reported, with the
// items that arrived whole decoded and status -3. Throws std::runtime_error naming the file
// when it cannot be read.
KlvInputSummary readRawKlv(const std::string& path, const KlvReadOptions& options,
                           const KlvPacketSink& sink, std::ostream& log);

// Whether the file begins with a SMPTE universal label (06 0E 2B 34), as a raw KLV file does.
bool startsWithUniversalLabel(const std::string& path);

} // namespace skyframe
