#pragma once

// One decoded telemetry record, the queue that delays records against the video, and the
// hand-over of a record's values to the camera.

#include <array>
#include <cstdint>
#include <deque>
#include <iosfwd>
#include <istream>
#include <memory>
#include <string>

namespace skyframe {

// Which universal set a record was decoded from.
enum class KlvSet {
    St0601, // MISB ST 0601 UAS Datalink Local Set
    Eg0104, // MISB EG 0104 Predator UAV Basic Universal Set
};

// "0601" or "0104".
const char* klvSetName(KlvSet set);

// The telemetry of one MISB ST 0601 (or EG 0104) packet in physical units. Every double is 0.0 when
// the record is made, so a tag the packet does not carry reads as 0; nothing carries over from one
// record to the next. Angles are degrees, heights metres above the ellipsoid.
class KlvRecord {
public:
    double extractClock = 0.0;         // +20 per extractCameraData; nothing reads it
    double timestamp = 0.0;            // tag 2, microseconds since 1970-01-01 UTC
    double platformHeading = 0.0;      // tag 5, degrees 0..360
    double platformPitch = 0.0;        // tag 6, degrees -20..20
    double platformRoll = 0.0;         // tag 7, degrees -50..50
    double sensorLatitude = 0.0;       // tag 13, degrees -90..90
    double sensorLongitude = 0.0;      // tag 14, degrees -180..180
    double sensorAltitude = 0.0;       // tag 15, metres -900..19000
    double horizontalFov = 0.0;        // tag 16, degrees 0..180
    double verticalFov = 0.0;          // tag 17, degrees 0..180
    double sensorAzimuth = 0.0;        // tag 18, degrees 0..360, relative to the platform
    double sensorElevation = 0.0;      // tag 19, degrees -180..180, relative to the platform
    double sensorRoll = 0.0;           // tag 20, degrees 0..360, relative to the platform
    double frameCenterLatitude = 0.0;  // tag 23, degrees -90..90
    double frameCenterLongitude = 0.0; // tag 24, degrees -180..180
    double frameCenterElevation = 0.0; // tag 25, metres -900..19000
    // Tag 75, metres above the WGS84 ellipsoid, -900..19000 (tag 15 and EG 0104 altitude are
    // mean sea level). Presence: carries(&KlvRecord::sensorEllipsoidHeight).
    double sensorEllipsoidHeight = 0.0;
    // Frame corners, points 1-4 (degrees): ST 0601 tags 82-89, or tags 26-33 (offsets from the
    // frame centre) made absolute; EG 0104 corner elements. Valid when hasCorners.
    double cornerLatitude[4] = {};
    double cornerLongitude[4] = {};
    bool hasCorners = false;
    KlvSet set = KlvSet::St0601;
    // The walk's status for this record's packet (0, or the kKlv* failure codes).
    int status = 0;
    // Bit i is set once field kKlvFields[i] has been decoded from the packet: a value of 0
    // alone cannot tell "at the equator" from "not carried".
    uint32_t present = 0;
    // Packets read by readNextPacket: a file of concatenated KLV packets, or none. Any
    // std::istream may be attached (tests and fuzzers use in-memory streams).
    std::unique_ptr<std::istream> source;

    // A record without a source, as the frame loop makes them.
    KlvRecord();
    // A record reading packets from the file at sourcePath (binary). A file that cannot be
    // opened leaves the record without a source, exactly like the constructor above.
    explicit KlvRecord(const std::string& sourcePath);

    // True when the packet carried the field (one of kKlvFields' members, or
    // sensorEllipsoidHeight).
    bool carries(double KlvRecord::*field) const;
    void markPresent(double KlvRecord::*field);
    void markAbsent(double KlvRecord::*field);
};

// The frame loop's first-in first-out queue; it owns the records in it.
using recordQueue = std::deque<std::unique_ptr<KlvRecord>>;

// One decoded tag: its ST 0601 number, the field's name and the field. The fifteen rows are
// in ascending tag order, the order of every dump and export.
struct KlvField {
    int tag;
    const char* name;
    double KlvRecord::*field;
};
extern const std::array<KlvField, 15> kKlvFields;

// Hands the record's values to the camera. First reads the next packet of the record's
// source, if it has one (readNextPacket; its result is ignored), then adds 20 to
// extractClock and copies:
//   fov            horizontalFov, verticalFov                              (degrees)
//   sensorPosition sensorLatitude, sensorLongitude (degrees), sensorAltitude (metres)
//   sensorAngles   sensorAzimuth, sensorElevation, sensorRoll              (degrees)
//   platformAngles platformHeading, platformPitch, platformRoll           (degrees)
//   frameCenter    frameCenterLatitude, frameCenterLongitude (degrees),
//                  frameCenterElevation (metres)
// Always returns 0.
int extractCameraData(KlvRecord& record, double fov[2], double sensorPosition[3],
                      double sensorAngles[3], double platformAngles[3], double frameCenter[3]);

// Diagnostic dump: "KLV DATA:", then "TAG <n>: <value> " for each decoded tag in ascending
// order with 20 significant digits (general notation, so 360 prints as 360), then an empty
// line. Leaves the stream's precision at 20.
void printItems(const KlvRecord& record, std::ostream& out);
void printItems(const KlvRecord& record); // to standard output

// "Timestamp:<value> " with 20 significant digits and an end of line. Leaves the stream's
// precision at 20.
void printTimestamp(const KlvRecord& record, std::ostream& out);
void printTimestamp(const KlvRecord& record); // to standard output

} // namespace skyframe
