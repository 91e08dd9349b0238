#pragma once

// The three output formats of skyframe-klv.

#include "KlvInput.h"

#include <iosfwd>
#include <optional>
#include <string>

namespace skyframe {

enum class ExportFormat {
    Text, // printItems per packet
    Csv,  // header row, then one row per packet
    Json, // one JSON object per line
};

// "text", "csv" or "json"; nothing for any other name.
std::optional<ExportFormat> parseExportFormat(const std::string& name);

// Decimal text that reads back as exactly the same double: whole numbers below 2^53 in
// plain digits ("1231798102000000", "360"), others in the shortest form ("12.5",
// "60.176822966978335").
std::string formatDouble(double value);

// Writes packets in one format. Columns and keys, in order: index, pts (seconds; empty or
// null when the data packet had none), set ("0601" or "0104"), status, checksum ("ok", "bad",
// "absent", "none"), then the fifteen decoded fields by name in ascending tag order.
class KlvExporter {
public:
    KlvExporter(std::ostream& out, ExportFormat format);

    // Writes one packet; the CSV header row goes out before the first one, so a run that
    // fails before any packet leaves standard output empty.
    void write(const KlvPacketReport& report);
    // Completes the output: the header row of a CSV export without packets.
    void finish();

private:
    void writeHeader();

    std::ostream& out_;
    ExportFormat format_;
    bool started_ = false;
};

} // namespace skyframe
