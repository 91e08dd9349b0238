#include "app/TelemetryIntake.h"

#include "telemetry/KlvEncoder.h"

#include <gtest/gtest.h>

#include <vector>

namespace skyframe {
namespace {

// A packet whose sensor latitude tells which one it is (exact in the 32-bit mapping for
// these small whole numbers divided by 1000).
std::vector<unsigned char> numberedPacket(int n) {
    KlvRecord r;
    r.sensorLatitude = n / 1000.0;
    r.horizontalFov = 30.0;
    r.verticalFov = 20.0;
    return encodeUasLocalSet(r);
}

int numberOf(const CameraInputs& inputs) {
    return static_cast<int>(inputs.sensorPosition[0] * 1000.0 +
                            (inputs.sensorPosition[0] >= 0 ? 0.5 : -0.5));
}

class Intake : public testing::Test {
protected:
    void add(int n) {
        const auto p = numberedPacket(n);
        intake.addDataPacket(p.data(), static_cast<int>(p.size()));
    }

    TelemetryIntake intake;
    CameraInputs inputs;
    int next = 1;
};

TEST_F(Intake, FourQueuedRecordsAreKeptBackFiveReleaseTheOldest) {
    for (int i = 0; i < 4; ++i) {
        add(next++);
    }
    EXPECT_FALSE(intake.consume(inputs));
    EXPECT_EQ(inputs.sensorPosition[0], 0.0); // untouched
    EXPECT_EQ(intake.queued(), 4u);
    add(next++);
    ASSERT_TRUE(intake.consume(inputs));
    EXPECT_EQ(numberOf(inputs), 1);
    EXPECT_NEAR(inputs.fov[0], 30.0, 0.01);
    EXPECT_EQ(intake.queued(), 4u);
}

// Telemetry at the processed-picture rate or slower: one record at a time, oldest first,
// taken once five are queued, never two in one picture.
TEST_F(Intake, SlowTelemetryIsTakenOneRecordPerPicture) {
    for (int picturesPerPacket : {1, 2, 3}) {
        SCOPED_TRACE(picturesPerPacket);
        TelemetryIntake fresh;
        CameraInputs in;
        int arrived = 0;
        std::vector<int> used;
        for (int picture = 0; picture < 30; ++picture) {
            if (picture % picturesPerPacket == 0) {
                const auto p = numberedPacket(++arrived);
                fresh.addDataPacket(p.data(), static_cast<int>(p.size()));
            }
            if (fresh.consume(in)) {
                used.push_back(numberOf(in));
            }
        }
        std::vector<int> expected;
        for (int n = 1; n <= arrived - 4; ++n) {
            expected.push_back(n);
        }
        EXPECT_EQ(used, expected);
        EXPECT_EQ(fresh.queued(), 4u);
    }
}

// Faster telemetry (several records per processed picture, as real recordings with one set
// per video frame give): the lag stays at four records instead of growing.
TEST_F(Intake, FastTelemetryKeepsTheLagAtFourRecords) {
    std::vector<int> used;
    for (int picture = 0; picture < 20; ++picture) {
        add(next++);
        add(next++);
        add(next++);
        if (intake.consume(inputs)) {
            used.push_back(numberOf(inputs));
        }
        EXPECT_LE(intake.queued(), 4u);
    }
    // At picture p (from 0), 3(p+1) records have arrived; the one in use is the newest but four.
    ASSERT_EQ(used.size(), 19u);
    for (size_t i = 0; i < used.size(); ++i) {
        const int picture = static_cast<int>(i) + 1;
        EXPECT_EQ(used[i], 3 * (picture + 1) - 4);
    }
}

TEST_F(Intake, DataPacketWithSeveralKlvPacketsQueuesOneRecordEach) {
    std::vector<unsigned char> joined;
    for (int n = 1; n <= 6; ++n) {
        const auto p = numberedPacket(n);
        joined.insert(joined.end(), p.begin(), p.end());
    }
    intake.addDataPacket(joined.data(), static_cast<int>(joined.size()));
    EXPECT_EQ(intake.queued(), 6u);
    ASSERT_TRUE(intake.consume(inputs));
    EXPECT_EQ(numberOf(inputs), 2);
}

TEST_F(Intake, CutOrEmptyPacketsQueueNothing) {
    const auto p = numberedPacket(7);
    intake.addDataPacket(p.data(), static_cast<int>(p.size()) - 1);
    intake.addDataPacket(p.data(), 0);
    intake.addDataPacket(nullptr, 10);
    EXPECT_EQ(intake.queued(), 0u);
}

} // namespace
} // namespace skyframe
