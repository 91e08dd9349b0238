#pragma once

#include "telemetry/KlvRecord.h"

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
};

// Number of records kept waiting behind the one in use: the fixed lag of the overlay
// behind the data stream.
constexpr std::size_t kRecordLag = 4;

// Telemetry intake of the frame loop: every data packet becomes records at the back of the
// queue; every processed picture takes its record from the front.
class TelemetryIntake {
public:
    // Queues one record per KLV packet held in the data packet.
    void addDataPacket(const uint8_t* data, int size);

    // Takes records from the front while more than kRecordLag are queued, extracts the last
    // one taken into `inputs` and destroys them all. Returns false (inputs unchanged) when
    // kRecordLag or fewer are queued. Where telemetry arrives at most once per processed
    // picture this takes one record at a time; faster telemetry cannot make the lag grow.
    bool consume(CameraInputs& inputs);

    std::size_t queued() const { return records_.size(); }

private:
    recordQueue records_;
};

} // namespace skyframe
