#include "ViewerRun.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <regex>

namespace skyframe::test {

namespace fs = std::filesystem;

const fs::path kViewer = SKYFRAME_VIEWER;
const fs::path kMission = fs::path(SKYFRAME_SOURCE_DIR) / "data/mission.xml";
const fs::path kTargets = fs::path(SKYFRAME_SOURCE_DIR) / "data/targets.xml";
const std::vector<std::string> kStartUpLines = {"Virtual world init.", "Targets init.",
                                                "Terrain init.", "Route init."};

namespace {

const fs::path kRunViewer = fs::path(SKYFRAME_SOURCE_DIR) / "scripts/run-viewer.sh";

// The sanitizer build keeps the GL driver loaded until exit (see run-viewer.sh).
std::vector<std::string> viewerEnvironment() {
#ifdef SKYFRAME_VIEWER_PRELOAD
    return {std::string("VIEWER_PRELOAD=") + SKYFRAME_VIEWER_PRELOAD};
#else
    return {};
#endif
}

} // namespace

ViewerRun runViewer(const std::vector<std::string>& args, const std::vector<Shot>& shots) {
    ViewerRun run;
    run.dir = scratchDir("viewer");
    std::vector<std::string> command = {kRunViewer.string(), run.dir.string()};
    for (const Shot& shot : shots) {
        command.insert(command.end(), {"--shot", std::to_string(shot.delaySeconds), shot.name});
    }
    command.push_back("--");
    command.push_back(kViewer.string());
    command.insert(command.end(), args.begin(), args.end());
    const ProcessResult script = runProcess(command, run.dir, viewerEnvironment());
    EXPECT_EQ(script.exitCode, 0) << script.err;
    run.out = readText(run.dir / "stdout");
    run.err = readText(run.dir / "stderr");
    const std::string exitText = readText(run.dir / "exit");
    run.exitCode = exitText.empty() ? -1 : std::atoi(exitText.c_str());
    for (const Shot& shot : shots) {
        const fs::path file = run.dir / (shot.name + ".ppm");
        if (fs::exists(file)) {
            run.shots[shot.name] = readPpm(file);
        }
    }
    return run;
}

Counts countsOf(const std::string& err) {
    static const std::regex line(R"(skyframe stats: decoded (\d+) processed (\d+) frames (\d+) )"
                                 R"(data-packets \d+ records-used (\d+))");
    std::smatch m;
    Counts c;
    if (std::regex_search(err, m, line)) {
        c.decoded = std::stol(m[1]);
        c.processed = std::stol(m[2]);
        c.frames = std::stol(m[3]);
        c.recordsUsed = std::stol(m[4]);
    }
    return c;
}

} // namespace skyframe::test
