// skyframe-sim: writes a synthetic flight, video with MISB ST 0601 telemetry, whose pictures
// are drawn from the viewer's own camera model with markers at every target, reference
// point and waypoint, so that the viewer's registration can be checked against them.

#include "SimArguments.h"
#include "Simulator.h"

extern "C" {
#include <libavutil/log.h>
}

#include <exception>
#include <iomanip>
#include <iostream>
#include <string>
#include <vector>

#ifndef SKYFRAME_SAMPLE_DIR
#define SKYFRAME_SAMPLE_DIR "data"
#endif

int main(int argc, char** argv) {
    try {
        const skyframe::SimCommand command = skyframe::parseSimArguments(
            std::vector<std::string>(argv + 1, argv + argc), SKYFRAME_SAMPLE_DIR);
        if (command.help) {
            std::cout << skyframe::simUsage();
            return 0;
        }
        av_log_set_level(AV_LOG_ERROR);
        const skyframe::SimOptions& o = command.options;
        const skyframe::SimSummary s = skyframe::runSimulation(o, std::cerr);
        std::cerr << o.output << ": " << s.frames << " frames " << o.width << "x" << o.height
                  << " at " << o.fps << " fps, " << s.klvPackets << " KLV packets (lead " << o.lead
                  << "), " << std::fixed << std::setprecision(1) << s.seconds << " s (drawing "
                  << s.drawSeconds << " s, encoding " << s.encodeSeconds << " s)\n";
        return 0;
    } catch (const skyframe::UsageError& e) {
        std::cerr << "skyframe-sim: " << e.what() << " (see skyframe-sim --help)\n";
        return 2;
    } catch (const std::exception& e) {
        std::cerr << "skyframe-sim: " << e.what() << '\n';
        return 1;
    }
}
