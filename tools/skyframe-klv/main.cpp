// skyframe-klv: shows or exports the MISB ST 0601 / EG 0104 telemetry of a video file or of a raw
// file of KLV packets, so that a user can check it before trusting an overlay built on it.

#include "KlvExport.h"
#include "KlvInput.h"

extern "C" {
#include <libavutil/log.h>
}

#include <cerrno>
#include <charconv>
#include <cstring>
#include <exception>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>
#include <system_error>

namespace {

constexpr const char* kUsage =
    "usage: skyframe-klv FILE [--format text|csv|json] [--raw] [--stream N] [--klv-strict]\n"
    "\n"
    "Decodes the KLV telemetry of FILE (MISB ST 0601 local sets and EG 0104 universal\n"
    "sets) and writes it to standard output.\n"
    "\n"
    "FILE is any file FFmpeg demultiplexes (MPEG-TS, ...): by default the last data stream\n"
    "that carries KLV packets is read, as the viewer does, and each KLV packet in it becomes\n"
    "one record. With --raw, or when FFmpeg cannot open FILE, it is read as raw\n"
    "concatenated KLV packets (the reader's \"key:\" and \"tlv_size:\" lines then go to\n"
    "standard error). After a packet whose length is damaged, reading resumes at the next\n"
    "key of a known set.\n"
    "\n"
    "  --format text  the record dump: \"KLV DATA:\" and one \"TAG n: value\" line per tag\n"
    "                 (default)\n"
    "  --format csv   a header row, then one row per packet\n"
    "  --format json  one JSON object per line\n"
    "  --raw          read FILE as raw KLV packets even if FFmpeg could open it\n"
    "  --stream N     read the data stream with index N of FILE\n"
    "  --klv-strict   discard ST 0601 packets whose checksum is wrong or absent\n"
    "  --help         show this text\n"
    "\n"
    "csv and json give per packet: index, pts (seconds; empty or null when the data packet\n"
    "has none), set (0601 or 0104), status (0 decoded; -1 an out-of-range code; -2 an item\n"
    "of the wrong length; -3 the packet ends inside an item), checksum (ok, bad, absent, or\n"
    "none for EG 0104; by default a diagnostic, the values are decoded either way) and the\n"
    "fifteen decoded fields: degrees, metres and microseconds, with enough digits to read\n"
    "back the exact doubles. EG 0104 pointing is given relative to the platform, as ST 0601\n"
    "carries it.\n"
    "\n"
    "Standard error ends with one summary line: packets, decoded records by set, checksum\n"
    "failures, unknown tags, out-of-range codes and records unusable for a camera pose.\n"
    "\n"
    "Exit status: 0 success, 1 the file cannot be read or yields no decoded record, 2 usage\n"
    "error.\n";

struct Options {
    std::string file;
    skyframe::ExportFormat format = skyframe::ExportFormat::Text;
    bool raw = false;
    bool help = false;
    skyframe::KlvReadOptions read;
};

struct UsageError {
    std::string message;
};

int parseStreamIndex(const std::string& text) {
    int value = -1;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    if (result.ec != std::errc() || result.ptr != text.data() + text.size() || value < 0) {
        throw UsageError{"--stream needs a stream index (0, 1, ...), not \"" + text + "\""};
    }
    return value;
}

Options parseArguments(int argc, char** argv) {
    Options options;
    bool haveFile = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            options.help = true;
        } else if (arg == "--raw") {
            options.raw = true;
        } else if (arg == "--klv-strict") {
            options.read.intake.strict = true;
        } else if (arg == "--stream") {
            if (i + 1 >= argc) {
                throw UsageError{"--stream needs a stream index"};
            }
            options.read.stream = parseStreamIndex(argv[++i]);
        } else if (arg == "--format" || arg.rfind("--format=", 0) == 0) {
            std::string name;
            if (arg == "--format") {
                if (i + 1 >= argc) {
                    throw UsageError{"--format needs a value: text, csv or json"};
                }
                name = argv[++i];
            } else {
                name = arg.substr(std::strlen("--format="));
            }
            const auto format = skyframe::parseExportFormat(name);
            if (!format) {
                throw UsageError{"unknown format \"" + name + "\": use text, csv or json"};
            }
            options.format = *format;
        } else if (arg.size() > 1 && arg[0] == '-') {
            throw UsageError{"unknown option " + arg};
        } else if (haveFile) {
            throw UsageError{"more than one FILE given"};
        } else {
            options.file = arg;
            haveFile = true;
        }
    }
    if (!haveFile && !options.help) {
        throw UsageError{"no FILE given"};
    }
    return options;
}

int run(const Options& options) {
    const std::string& path = options.file;
    {
        std::ifstream probe(path, std::ios::binary);
        if (!probe) {
            throw std::runtime_error(path + ": cannot open for reading: " + std::strerror(errno));
        }
    }
    skyframe::KlvExporter exporter(std::cout, options.format);
    const skyframe::KlvPacketSink sink = [&](const skyframe::KlvPacketReport& report) {
        exporter.write(report);
    };

    std::optional<skyframe::KlvInputSummary> summary;
    if (!options.raw) {
        av_log_set_level(AV_LOG_ERROR);
        std::string openError;
        summary = skyframe::readMediaKlv(path, options.read, sink, openError);
        // Not a media file with a data stream: raw KLV packets, if it starts like them.
        if (!summary && !skyframe::startsWithUniversalLabel(path)) {
            throw std::runtime_error(path + ": " + openError);
        }
    }
    if (!summary) {
        summary = skyframe::readRawKlv(path, options.read, sink, std::cerr);
    }

    exporter.finish();
    std::cout.flush();
    if (!std::cout) {
        throw std::runtime_error("cannot write to standard output");
    }
    std::cerr << path << ": " << summary->origin << ": " << skyframe::formatTally(summary->tally);
    if (summary->strayBytes > 0) {
        std::cerr << "; " << summary->strayBytes
                  << " bytes of data packets held no whole KLV packet";
    }
    std::cerr << '\n';
    if (summary->tally.decoded == 0) {
        throw std::runtime_error(path + ": no decoded KLV record");
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    try {
        const Options options = parseArguments(argc, argv);
        if (options.help) {
            std::cout << kUsage;
            return 0;
        }
        return run(options);
    } catch (const UsageError& e) {
        std::cerr << "skyframe-klv: " << e.message << "\n\n" << kUsage;
        return 2;
    } catch (const std::exception& e) {
        std::cerr << "skyframe-klv: " << e.what() << '\n';
        return 1;
    }
}
