#pragma once

// Matches telemetry to pictures. By time: every KLV packet takes the presentation time of the
// data packet that carried it and the pose of a picture is interpolated at the picture's own
// time. By queue (data streams without timestamps, or when asked): the four-record lag, with
// each data packet released only once a picture of a later video packet has come out, so
// that pictures the decoder never produces, B-frame reordering and decoder threads cannot
// shift telemetry against the pictures.

#include "app/PoseTimeline.h"
#include "app/TelemetryIntake.h"

#include <cstdint>
#include <deque>
#include <vector>

namespace skyframe {

enum class SyncMode { Auto, Time, Queue };

// "time" or "queue".
const char* syncModeName(SyncMode mode);

struct SyncOptions {
    SyncMode mode = SyncMode::Auto;
    double maxGapSeconds = 2.0;
    double klvOffsetSeconds = 0.0; // added to every telemetry time
    KlvIntakeOptions intake;       // the checksum policy
};

// What a picture is shown with.
struct PictureTelemetry {
    bool posed = false; // a usable record has posed the camera (now or earlier)
    bool fresh = false; // this picture took a newer record than the one before
    bool stale = false; // time sync: the record in use is beyond the allowed gap
    double age = 0.0;   // time sync: picture time minus the time of the record in use
    CameraInputs inputs;
};

class TelemetrySync {
public:
    explicit TelemetrySync(const SyncOptions& options);

    // One data packet, with its presentation time in seconds (NaN when it has none), read
    // after `videoPacketsBefore` video packets. The first data packet fixes the mode in Auto.
    void addDataPacket(const uint8_t* data, int size, double time, long videoPacketsBefore);

    // A picture came out of the decoder from video packet `packetIndex` (0-based, read
    // order), shown or not: the data packets read before it are due.
    void pictureDecoded(long packetIndex);

    // The telemetry for the picture shown at presentation time `time` (seconds); call
    // pictureDecoded for it first.
    PictureTelemetry forPicture(double time);

    // After a seek: forgets every record and held packet; the pose stays until a record of
    // the new position arrives.
    void reset();

    // Effective mode: Time or Queue once known; Auto until the first data packet.
    SyncMode mode() const { return mode_; }
    // The latest telemetry time read so far (time sync), for reading ahead of a picture.
    double latestTime() const { return timeline_.latest(); }
    RecordCounts counts() const;
    long dataPackets() const { return dataPackets_; }
    std::size_t held() const { return held_.size(); }
    std::size_t queued() const { return intake_.queued(); }
    long recordsUsed() const { return recordsUsed_; }
    // The counts of the KLV intake so far (unusable records included).
    KlvTally tally() const;

private:
    struct HeldPacket {
        long videoPacketsBefore;
        std::vector<uint8_t> bytes;
    };
    void addTimed(const uint8_t* data, int size, double time);
    void releaseHeld(long lastPacketOut);
    PictureTelemetry timedPicture(double time);
    PictureTelemetry queuedPicture();

    SyncOptions options_;
    SyncMode mode_;
    PoseTimeline timeline_;
    TelemetryIntake intake_;
    std::deque<HeldPacket> held_;
    long lastPacketOut_ = -1;
    long dataPackets_ = 0;
    long recordsUsed_ = 0;
    RecordCounts timedCounts_;
    KlvTally tally_;
    PictureTelemetry last_;
    double lastRecordTime_ = 0.0;
};

} // namespace skyframe
