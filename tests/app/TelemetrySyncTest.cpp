#include "app/TelemetrySync.h"

#include "telemetry/KlvEncoder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace skyframe {
namespace {

const double kNoTime = std::numeric_limits<double>::quiet_NaN();

// A whole camera record whose latitude tells which one it is: n / 1000 degrees.
std::vector<unsigned char> numbered(int n) {
    KlvRecord r;
    r.sensorLatitude = n / 1000.0;
    r.sensorLongitude = -116.0;
    r.sensorAltitude = 3000.0;
    r.horizontalFov = 30.0;
    r.verticalFov = 20.0;
    return encodeUasLocalSet(r);
}

int numberOf(const PictureTelemetry& t) {
    return static_cast<int>(std::lround(t.inputs.sensorPosition[0] * 1000.0));
}

void add(TelemetrySync& sync, int n, double time, long videoBefore) {
    const auto p = numbered(n);
    sync.addDataPacket(p.data(), static_cast<int>(p.size()), time, videoBefore);
}

TEST(TimeSync, EachPictureGetsThePoseOfItsOwnTime) {
    TelemetrySync sync(SyncOptions{});
    // Telemetry at 10 Hz, pictures at 30 Hz: a record's number is its time in ms.
    for (int k = 0; k <= 10; ++k) {
        add(sync, 100 * k, k / 10.0, 0);
    }
    EXPECT_EQ(sync.mode(), SyncMode::Time);
    for (int j = 0; j < 30; ++j) {
        const double t = j / 30.0;
        sync.pictureDecoded(j);
        const PictureTelemetry p = sync.forPicture(t);
        ASSERT_TRUE(p.posed);
        EXPECT_NEAR(p.inputs.sensorPosition[0], t, 1e-6) << "picture " << j;
        EXPECT_NEAR(p.age, t - (j / 3) / 10.0, 1e-12) << "picture " << j;
        EXPECT_FALSE(p.stale);
    }
}

TEST(TimeSync, AnOffsetShiftsTelemetryTime) {
    SyncOptions o;
    o.klvOffsetSeconds = 0.5;
    TelemetrySync sync(o);
    add(sync, 1, 0.0, 0);
    add(sync, 2, 1.0, 0);
    // Record 1 now stands at 0.5 s, record 2 at 1.5 s.
    EXPECT_EQ(numberOf(sync.forPicture(0.5)), 1);
    EXPECT_NEAR(sync.forPicture(1.0).inputs.sensorPosition[0], 0.0015, 1e-7);
}

TEST(TimeSync, UnusableRecordsNeverPose) {
    TelemetrySync sync(SyncOptions{});
    KlvRecord noCamera;
    noCamera.platformHeading = 90;
    const auto p = encodeUasLocalSet(noCamera); // position 0, fields of view 0
    sync.addDataPacket(p.data(), static_cast<int>(p.size()), 0.0, 0);
    EXPECT_FALSE(sync.forPicture(0.0).posed);
    EXPECT_EQ(sync.counts().records, 1);
    EXPECT_EQ(sync.counts().usable, 0);
}

// Queue mode: records keyed on packet order. Picture of video packet j uses record j - 4
// whatever pictures the decoder never produced or handed out late.
TEST(QueueSync, LostAndReorderedPicturesDoNotMoveTelemetry) {
    struct Case {
        const char* what;
        std::vector<long> pictureOrder; // packet index of each picture, in output order
    };
    const std::vector<Case> cases = {
        {"every packet gives its picture", {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13}},
        {"packets 6 and 9 give none", {0, 1, 2, 3, 4, 5, 7, 8, 10, 11, 12, 13}},
        {"B-frame order", {0, 2, 3, 1, 5, 6, 4, 8, 9, 7, 11, 12, 10, 13}},
        {"cut before the first key frame", {5, 6, 7, 8, 9, 10, 11, 12, 13}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TelemetrySync sync(SyncOptions{});
        // Data packet k is read just before video packet k.
        for (int k = 0; k < 14; ++k) {
            add(sync, k, kNoTime, k);
        }
        EXPECT_EQ(sync.mode(), SyncMode::Queue);
        long latest = -1;
        for (long j : c.pictureOrder) {
            sync.pictureDecoded(j);
            latest = std::max(latest, j);
            const PictureTelemetry p = sync.forPicture(0.0);
            if (latest >= 4) {
                ASSERT_TRUE(p.posed);
                EXPECT_EQ(numberOf(p), latest - 4) << "picture of packet " << j;
            } else {
                EXPECT_FALSE(p.posed);
            }
        }
    }
}

TEST(QueueSync, NothingIsHeldWithoutBound) {
    TelemetrySync sync(SyncOptions{});
    // A stream of telemetry and no picture at all.
    for (int k = 0; k < 20000; ++k) {
        add(sync, k % 1000, kNoTime, 0);
    }
    EXPECT_LE(sync.held(), 4096u);
    EXPECT_LE(sync.queued(), kRecordQueueLimit);
}

TEST(QueueSync, AskedForEvenWithTimestamps) {
    SyncOptions o;
    o.mode = SyncMode::Queue;
    TelemetrySync sync(o);
    add(sync, 1, 0.0, 0);
    EXPECT_EQ(sync.mode(), SyncMode::Queue);
}

TEST(QueueSync, TimeAskedForButNoTimestampsFallsBackToTheQueue) {
    SyncOptions o;
    o.mode = SyncMode::Time;
    TelemetrySync sync(o);
    add(sync, 1, kNoTime, 0);
    EXPECT_EQ(sync.mode(), SyncMode::Queue);
}

} // namespace
} // namespace skyframe
