#pragma once

#include "telemetry/KlvPacket.h"
#include "telemetry/KlvRecord.h"
#include "telemetry/KlvTally.h"

#include <cstdint>

namespace skyframe {

// The camera inputs handed out by extractCameraData, kept from one processed picture to the
// next until a newer record is taken. Zero until the first record is extracted.
struct CameraInputs {
    double fov[2] = {};
    double sensorPosition[3] = {};
    double sensorAngles[3] = {};
    double platformAngles[3] = {};
    double frameCenter[3] = {};
    bool hasFrameCenter = false;
    bool hasCorners = false;
    double corners[4][2] = {}; // latitude, longitude of the frame's four corners
};

// Number of records kept waiting behind the one in use: the fixed lag of the overlay
// behind the data stream.
constexpr std::size_t kRecordLag = 4;

// Records queued beyond this many are dropped oldest first: with no picture to take them
// (a recording without pictures, a long stretch the decoder rejects) the queue must not
// grow without bound, and only the newest kRecordLag + 1 can ever pose the camera.
constexpr std::size_t kRecordQueueLimit = 1024;

// How many records the data packets gave, and how many of them could pose the camera.
struct RecordCounts {
    long records = 0;
    long usable = 0;
};

// Telemetry intake of the frame loop: every data packet becomes records at the back of the
// queue; every processed picture takes its record from the front. Records that cannot pose
// the camera (see usableForPose) are counted and dropped at once.
class TelemetryIntake {
public:
    // Queues one record per usable KLV packet held in the data packet, decoded under
    // `options` and counted in `tally` (if given).
    void addDataPacket(const uint8_t* data, int size, const KlvIntakeOptions& options = {},
                       KlvTally* tally = nullptr);

    // Takes records from the front while more than kRecordLag are queued, extracts the last
    // one taken into `inputs` and destroys them all. Returns false (inputs unchanged) when
    // kRecordLag or fewer are queued. Where telemetry arrives at most once per processed
    // picture this takes one record at a time; faster telemetry cannot make the lag grow.
    bool consume(CameraInputs& inputs);

    std::size_t queued() const { return records_.size(); }
    const RecordCounts& counts() const { return counts_; }
    void clear() { records_.clear(); }

private:
    recordQueue records_;
    RecordCounts counts_;
};

} // namespace skyframe
