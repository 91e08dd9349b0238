#pragma once

#include <osg/Notify>

#include <cstring>
#include <iostream>

namespace skyframe {

// osgDB's OBJ reader warns about the missing material of every file without one, which is
// every terrain tile, once per tile loaded (and the pager loads tiles all through
// playback). This handler drops that one message and passes the scene graph's other
// messages on to standard error.
class TileReaderMessages : public osg::NotifyHandler {
public:
    void notify(osg::NotifySeverity, const char* message) override {
        if (std::strncmp(message, kNoMaterial, sizeof(kNoMaterial) - 1) != 0) {
            std::cerr << message;
        }
    }

    // Installs the handler for the whole process.
    static void install() { osg::setNotifyHandler(new TileReaderMessages); }

private:
    static constexpr char kNoMaterial[] = "Obj unable to find material ''";
};

} // namespace skyframe
