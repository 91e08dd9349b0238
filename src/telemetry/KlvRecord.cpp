#include "telemetry/KlvRecord.h"

#include "telemetry/Klv.h"

#include <fstream>
#include <iostream>
#include <ostream>

namespace skyframe {

const std::array<KlvField, 15> kKlvFields = {{
    {2, "timestamp", &KlvRecord::timestamp},
    {5, "platformHeading", &KlvRecord::platformHeading},
    {6, "platformPitch", &KlvRecord::platformPitch},
    {7, "platformRoll", &KlvRecord::platformRoll},
    {13, "sensorLatitude", &KlvRecord::sensorLatitude},
    {14, "sensorLongitude", &KlvRecord::sensorLongitude},
    {15, "sensorAltitude", &KlvRecord::sensorAltitude},
    {16, "horizontalFov", &KlvRecord::horizontalFov},
    {17, "verticalFov", &KlvRecord::verticalFov},
    {18, "sensorAzimuth", &KlvRecord::sensorAzimuth},
    {19, "sensorElevation", &KlvRecord::sensorElevation},
    {20, "sensorRoll", &KlvRecord::sensorRoll},
    {23, "frameCenterLatitude", &KlvRecord::frameCenterLatitude},
    {24, "frameCenterLongitude", &KlvRecord::frameCenterLongitude},
    {25, "frameCenterElevation", &KlvRecord::frameCenterElevation},
}};

const char* klvSetName(KlvSet set) {
    return set == KlvSet::Eg0104 ? "0104" : "0601";
}

KlvRecord::KlvRecord() = default;

KlvRecord::KlvRecord(const std::string& sourcePath) {
    auto file = std::make_unique<std::ifstream>(sourcePath, std::ios::binary);
    if (file->is_open()) {
        source = std::move(file);
    }
}

namespace {
// The ellipsoid height is not one of the fifteen dumped fields; its flag follows theirs.
constexpr int kEllipsoidHeightBit = 15;

int fieldIndex(double KlvRecord::*field) {
    if (field == &KlvRecord::sensorEllipsoidHeight) {
        return kEllipsoidHeightBit;
    }
    for (size_t i = 0; i < kKlvFields.size(); ++i) {
        if (kKlvFields[i].field == field) {
            return static_cast<int>(i);
        }
    }
    return -1;
}
} // namespace

bool KlvRecord::carries(double KlvRecord::*field) const {
    const int i = fieldIndex(field);
    return i >= 0 && (present & (1u << i)) != 0;
}

void KlvRecord::markAbsent(double KlvRecord::*field) {
    const int i = fieldIndex(field);
    if (i >= 0) {
        present &= ~(1u << i);
    }
}

void KlvRecord::markPresent(double KlvRecord::*field) {
    const int i = fieldIndex(field);
    if (i >= 0) {
        present |= 1u << i;
    }
}

int extractCameraData(KlvRecord& record, double fov[2], double sensorPosition[3],
                      double sensorAngles[3], double platformAngles[3], double frameCenter[3]) {
    readNextPacket(record);
    record.extractClock += 20.0;
    fov[0] = record.horizontalFov;
    fov[1] = record.verticalFov;
    sensorPosition[0] = record.sensorLatitude;
    sensorPosition[1] = record.sensorLongitude;
    sensorPosition[2] = record.sensorAltitude;
    sensorAngles[0] = record.sensorAzimuth;
    sensorAngles[1] = record.sensorElevation;
    sensorAngles[2] = record.sensorRoll;
    platformAngles[0] = record.platformHeading;
    platformAngles[1] = record.platformPitch;
    platformAngles[2] = record.platformRoll;
    frameCenter[0] = record.frameCenterLatitude;
    frameCenter[1] = record.frameCenterLongitude;
    frameCenter[2] = record.frameCenterElevation;
    return 0;
}

void printItems(const KlvRecord& record, std::ostream& out) {
    out.precision(20);
    out.unsetf(std::ios::floatfield);
    out << "KLV DATA:\n";
    for (const KlvField& f : kKlvFields) {
        out << "TAG " << f.tag << ": " << record.*f.field << " \n";
    }
    out << '\n';
}

void printItems(const KlvRecord& record) {
    printItems(record, std::cout);
}

void printTimestamp(const KlvRecord& record, std::ostream& out) {
    out.precision(20);
    out.unsetf(std::ios::floatfield);
    out << "Timestamp:" << record.timestamp << " \n";
}

void printTimestamp(const KlvRecord& record) {
    printTimestamp(record, std::cout);
}

} // namespace skyframe
