// Both XML readers over arbitrary bytes: every input must either read or raise InputError,
// and what is read must hang together.
#include "mission/InputError.h"
#include "mission/MissionReader.h"
#include "mission/TargetsReader.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    try {
        std::vector<std::string> names;
        osg::ref_ptr<osg::Vec3Array> references = new osg::Vec3Array;
        const osg::ref_ptr<osg::Vec3Array> targets =
            skyframe::parseTargets(text, "fuzz-input", names, *references);
        if (targets->size() != names.size() || references->size() != names.size()) {
            std::abort();
        }
        for (const std::string& name : names) {
            if (name.size() > 1) {
                std::abort();
            }
        }
    } catch (const skyframe::InputError&) {
    }
    try {
        if (skyframe::parseMission(text, "fuzz-input")->size() > skyframe::kRouteLength) {
            std::abort();
        }
    } catch (const skyframe::InputError&) {
    }
    return 0;
}
