#include "app/TelemetrySync.h"

#include "telemetry/KlvPacket.h"

#include <cmath>

namespace skyframe {

namespace {
// Data packets held for pictures still inside the decoder; beyond this many the oldest go
// to the queue at once, so a file without pictures cannot hold them without bound.
constexpr std::size_t kHeldLimit = 4096;
} // namespace

const char* syncModeName(SyncMode mode) {
    switch (mode) {
    case SyncMode::Time:
        return "time";
    case SyncMode::Queue:
        return "queue";
    case SyncMode::Auto:
        break;
    }
    return "auto";
}

TelemetrySync::TelemetrySync(const SyncOptions& options)
    : options_(options), mode_(options.mode), timeline_(options.maxGapSeconds) {}

void TelemetrySync::addDataPacket(const uint8_t* data, int size, double time,
                                  long videoPacketsBefore) {
    if (data == nullptr || size <= 0) {
        return;
    }
    ++dataPackets_;
    if (mode_ != SyncMode::Queue && std::isfinite(time)) {
        mode_ = SyncMode::Time;
    } else if (mode_ == SyncMode::Auto ||
               (mode_ == SyncMode::Time && timeline_.empty() && timedCounts_.records == 0)) {
        // Without timestamps there is no time to match by: the queue rule applies.
        mode_ = SyncMode::Queue;
    }
    if (mode_ == SyncMode::Time) {
        if (std::isfinite(time)) {
            addTimed(data, size, time + options_.klvOffsetSeconds);
        }
        return;
    }
    held_.push_back({videoPacketsBefore, std::vector<uint8_t>(data, data + size)});
    while (held_.size() > kHeldLimit) {
        intake_.addDataPacket(held_.front().bytes.data(),
                              static_cast<int>(held_.front().bytes.size()), options_.intake,
                              &tally_);
        held_.pop_front();
    }
}

void TelemetrySync::addTimed(const uint8_t* data, int size, double time) {
    recordQueue records;
    appendKlvRecords(records, data, static_cast<std::size_t>(size), options_.intake, &tally_);
    for (auto& record : records) {
        ++timedCounts_.records;
        if (usableForPose(*record)) {
            ++timedCounts_.usable;
            timeline_.add(time, cameraInputsOf(*record));
        }
    }
}

void TelemetrySync::releaseHeld(long lastPacketOut) {
    while (!held_.empty() && held_.front().videoPacketsBefore <= lastPacketOut) {
        intake_.addDataPacket(held_.front().bytes.data(),
                              static_cast<int>(held_.front().bytes.size()), options_.intake,
                              &tally_);
        held_.pop_front();
    }
}

void TelemetrySync::pictureDecoded(long packetIndex) {
    // Data read before any video packet up to this picture's own belongs to it; the
    // largest index out so far also covers packets that never gave a picture.
    if (packetIndex > lastPacketOut_) {
        lastPacketOut_ = packetIndex;
    }
    releaseHeld(lastPacketOut_);
}

PictureTelemetry TelemetrySync::forPicture(double time) {
    PictureTelemetry p = mode_ == SyncMode::Time ? timedPicture(time) : queuedPicture();
    if (p.fresh) {
        ++recordsUsed_;
    }
    last_ = p;
    return p;
}

PictureTelemetry TelemetrySync::timedPicture(double time) {
    const TimedPose pose = timeline_.at(time);
    if (!pose.valid) {
        return last_;
    }
    PictureTelemetry p;
    p.posed = true;
    p.inputs = pose.inputs;
    p.stale = pose.stale;
    p.age = time - pose.recordTime;
    p.fresh = !last_.posed || pose.recordTime != lastRecordTime_;
    lastRecordTime_ = pose.recordTime;
    timeline_.forgetBefore(time);
    return p;
}

PictureTelemetry TelemetrySync::queuedPicture() {
    PictureTelemetry p = last_;
    p.fresh = intake_.consume(p.inputs);
    p.posed = p.posed || p.fresh;
    p.stale = false;
    p.age = 0.0;
    return p;
}

void TelemetrySync::reset() {
    timeline_.clear();
    intake_.clear();
    held_.clear();
    lastPacketOut_ = -1;
}

KlvTally TelemetrySync::tally() const {
    KlvTally t = tally_;
    const RecordCounts c = counts();
    t.unusable = c.records - c.usable;
    return t;
}

RecordCounts TelemetrySync::counts() const {
    RecordCounts c = intake_.counts();
    c.records += timedCounts_.records;
    c.usable += timedCounts_.usable;
    return c;
}

} // namespace skyframe
