#include "app/TelemetryIntake.h"

#include "app/PoseTimeline.h"
#include "telemetry/KlvPacket.h"

namespace skyframe {

void TelemetryIntake::addDataPacket(const uint8_t* data, int size, const KlvIntakeOptions& options,
                                    KlvTally* tally) {
    if (data == nullptr || size <= 0) {
        return;
    }
    recordQueue fresh;
    appendKlvRecords(fresh, data, static_cast<std::size_t>(size), options, tally);
    for (auto& record : fresh) {
        ++counts_.records;
        if (usableForPose(*record)) {
            ++counts_.usable;
            records_.push_back(std::move(record));
        }
    }
    while (records_.size() > kRecordQueueLimit) {
        records_.pop_front();
    }
}

bool TelemetryIntake::consume(CameraInputs& inputs) {
    if (records_.size() <= kRecordLag) {
        return false;
    }
    std::unique_ptr<KlvRecord> record;
    while (records_.size() > kRecordLag) {
        record = std::move(records_.front());
        records_.pop_front();
    }
    inputs = cameraInputsOf(*record);
    return true;
}

} // namespace skyframe
