#include "KlvExport.h"

#include "telemetry/KlvRecord.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <ostream>
#include <system_error>

namespace skyframe {

std::optional<ExportFormat> parseExportFormat(const std::string& name) {
    if (name == "text") {
        return ExportFormat::Text;
    }
    if (name == "csv") {
        return ExportFormat::Csv;
    }
    if (name == "json") {
        return ExportFormat::Json;
    }
    return std::nullopt;
}

std::string formatDouble(double value) {
    // Time stamps in microseconds are whole numbers that the shortest form would write in
    // exponent notation; below 2^53 every whole double is exactly an integer.
    constexpr double kTwoTo53 = 9007199254740992.0;
    if (value == 0.0) {
        return std::signbit(value) ? "-0" : "0";
    }
    if (std::fabs(value) < kTwoTo53 && value == std::trunc(value)) {
        return std::to_string(static_cast<int64_t>(value));
    }
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    if (result.ec != std::errc()) {
        return "nan";
    }
    return std::string(buffer, result.ptr);
}

KlvExporter::KlvExporter(std::ostream& out, ExportFormat format) : out_(out), format_(format) {}

void KlvExporter::finish() {
    if (!started_) {
        writeHeader();
    }
}

void KlvExporter::writeHeader() {
    started_ = true;
    if (format_ != ExportFormat::Csv) {
        return;
    }
    out_ << "index,pts,set,status,checksum";
    for (const KlvField& f : kKlvFields) {
        out_ << ',' << f.name;
    }
    out_ << '\n';
}

void KlvExporter::write(const KlvPacketReport& report) {
    if (!started_) {
        writeHeader();
    }
    const KlvRecord& record = *report.record;
    switch (format_) {
    case ExportFormat::Text:
        printItems(record, out_);
        return;
    case ExportFormat::Csv:
        out_ << report.index << ',' << (report.pts ? formatDouble(*report.pts) : "") << ','
             << klvSetName(record.set) << ',' << report.status << ','
             << checksumName(report.checksum);
        for (const KlvField& f : kKlvFields) {
            out_ << ',' << formatDouble(record.*f.field);
        }
        out_ << '\n';
        return;
    case ExportFormat::Json:
        out_ << "{\"index\":" << report.index
             << ",\"pts\":" << (report.pts ? formatDouble(*report.pts) : "null") << ",\"set\":\""
             << klvSetName(record.set) << "\",\"status\":" << report.status << ",\"checksum\":\""
             << checksumName(report.checksum) << '"';
        for (const KlvField& f : kKlvFields) {
            out_ << ",\"" << f.name << "\":" << formatDouble(record.*f.field);
        }
        out_ << "}\n";
        return;
    }
}

} // namespace skyframe
