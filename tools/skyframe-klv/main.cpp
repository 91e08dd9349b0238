// skyframe-klv: shows or exports the MISB ST 0601 telemetry of a video file or of a raw file
// of KLV packets, so that a user can check it before trusting an overlay built on it.

#include "KlvExport.h"
#include "KlvInput.h"

extern "C" {
#include <libavutil/log.h>
}

#include <cerrno>
#include <cstring>
#include <exception>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>

namespace {

constexpr const char* kUsage =
    "usage: skyframe-klv FILE [--format text|csv|json] [--raw]\n"
    "\n"
    "Decodes the MISB ST 0601 KLV telemetry of FILE and writes it to standard output.\n"
    "\n"
    "FILE is any file FFmpeg demultiplexes (MPEG-TS, ...): every packet of its last data\n"
    "stream is read, and each KLV packet in it becomes one record. With --raw, or when FFmpeg\n"
    "cannot open FILE, it is read as raw concatenated KLV packets (the reader's \"key:\" and\n"
    "\"tlv_size:\" lines then go to standard error).\n"
    "\n"
    "  --format text  the record dump: \"KLV DATA:\" and one \"TAG n: value\" line per tag\n"
    "                 (default)\n"
    "  --format csv   a header row, then one row per packet\n"
    "  --format json  one JSON object per line\n"
    "  --raw          read FILE as raw KLV packets even if FFmpeg could open it\n"
    "  --help         show this text\n"
    "\n"
    "csv and json give per packet: index, pts (seconds; empty or null when the data packet\n"
    "has none), status (0 decoded; -1 an out-of-range code; -2 a tag of the wrong length;\n"
    "-3 the packet ends inside an item), checksum (ok, bad or absent; a diagnostic, the\n"
    "values are decoded either way) and the fifteen decoded fields: degrees, metres and\n"
    "microseconds, with enough digits to read back the exact doubles.\n"
    "\n"
    "Exit status: 0 success, 1 the file cannot be read or holds no KLV data, 2 usage error.\n";

struct Options {
    std::string file;
    skyframe::ExportFormat format = skyframe::ExportFormat::Text;
    bool raw = false;
    bool help = false;
};

struct UsageError {
    std::string message;
};

Options parseArguments(int argc, char** argv) {
    Options options;
    bool haveFile = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            options.help = true;
        } else if (arg == "--raw") {
            options.raw = true;
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
        summary = skyframe::readMediaKlv(path, sink, openError);
        // Not a media file with a data stream: raw KLV packets, if it starts like them.
        if (!summary && !skyframe::startsWithUniversalLabel(path)) {
            throw std::runtime_error(path + ": " + openError);
        }
    }
    if (!summary) {
        summary = skyframe::readRawKlv(path, sink, std::cerr);
        if (summary->packets == 0) {
            throw std::runtime_error(path + ": no KLV packets");
        }
    }

    exporter.finish();
    std::cout.flush();
    if (!std::cout) {
        throw std::runtime_error("cannot write to standard output");
    }
    std::cerr << path << ": " << summary->packets << " KLV packets from " << summary->origin << "; "
              << summary->failedDecodes << " with a decode status other than 0, "
              << summary->badChecksums << " with a bad checksum, " << summary->absentChecksums
              << " without a checksum";
    if (summary->strayBytes > 0) {
        std::cerr << "; " << summary->strayBytes
                  << " bytes of data packets held no whole KLV packet";
    }
    std::cerr << '\n';
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
