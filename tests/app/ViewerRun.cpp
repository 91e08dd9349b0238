#include "ViewerRun.h"

#include <gtest/gtest.h>

#include <cstdio>
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
        const bool key = shot.name.rfind("key=", 0) == 0;
        command.insert(command.end(), {key ? "--key" : "--shot", std::to_string(shot.delaySeconds),
                                       key ? shot.name.substr(4) : shot.name});
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

std::string snapshotKey(double time) {
    char name[64];
    std::snprintf(name, sizeof name, "snapshot-%.3f", time);
    return name;
}

ViewerRun runViewerAt(const std::vector<std::string>& args, const std::vector<double>& times) {
    const fs::path dir = scratchDir("viewer-snapshots");
    for (double t : times) {
        fs::remove(dir / (snapshotKey(t) + ".png"));
    }
    std::string list;
    for (double t : times) {
        list += (list.empty() ? "" : ",") + std::to_string(t);
    }
    std::vector<std::string> withSnapshots = {"--snapshot", list, dir.string()};
    withSnapshots.insert(withSnapshots.end(), args.begin(), args.end());
    ViewerRun run = runViewer(withSnapshots);
    for (double t : times) {
        const fs::path png = dir / (snapshotKey(t) + ".png");
        const fs::path ppm = dir / (snapshotKey(t) + ".ppm");
        if (fs::exists(png) &&
            runProcess({"convert", png.string(), ppm.string()}, dir).exitCode == 0) {
            run.shots[snapshotKey(t)] = readPpm(ppm);
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
    static const std::regex play(R"(skyframe stats: .* play ([0-9.]+))");
    if (std::regex_search(err, m, play)) {
        c.playSeconds = std::stod(m[1]);
    }
    return c;
}

} // namespace skyframe::test
