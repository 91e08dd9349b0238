#pragma once

// Counts over one run of KLV intake, for the one summary line a run prints.

#include <string>

namespace skyframe {

class KlvRecord;

struct KlvTally {
    long packets = 0; // KLV packets framed
    long decoded = 0; // records whose walk ended with status 0 or -1
    long st0601 = 0;  // decoded records of each set
    long eg0104 = 0;
    long discarded = 0;      // ST 0601 packets a strict intake refused for their checksum
    long checksumBad = 0;    // ST 0601 packets whose checksum item is wrong
    long checksumAbsent = 0; // ST 0601 packets without one
    long unknown = 0;        // items or elements without a decoder (ST 0601 tags, EG 0104 keys)
    long outOfRange = 0;     // items holding ST 0601's "out of range" code
    long resyncs = 0;        // times the framing searched forward for the next set key
    long skippedBytes = 0;   // bytes passed over by those searches
    long unusable = 0;       // filled by the caller: records it could not pose a camera from
};

// Whether a record can pose a camera: its walk succeeded (status 0, or -1 where one value
// held the out-of-range marker), it carries sensor latitude, longitude and an altitude (mean
// sea level or ellipsoid) and both fields of view, the fields of view lie strictly between 0
// and 180 degrees, and every value is finite.
bool usableForPose(const KlvRecord& record);

// One line, without an end of line:
// "KLV: P packets, D decoded (A ST 0601, B EG 0104), X discarded by the checksum policy,
//  C with a bad checksum, N without a checksum, U unknown tags, O out-of-range codes,
//  Q unusable for a pose, R resynchronisations (S bytes skipped)".
std::string formatTally(const KlvTally& tally);

} // namespace skyframe
