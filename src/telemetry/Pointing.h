#pragma once

// Sets such as MISB EG 0104 give the sensor's line of sight as absolute angles in the local
// north-east-down frame; the camera's rotation chain takes them relative to the platform.

namespace skyframe {

// Sensor pointing relative to the platform, as the rotation chain takes it (degrees).
struct RelativePointing {
    double azimuth = 0.0;   // 0..360, about the platform's down axis, clockwise seen from above
    double elevation = 0.0; // -90..90, about the platform's right axis, positive raises
};

// The relative angles whose chain heading -> pitch -> roll -> azimuth -> elevation gives the
// same line of sight as the absolute pair.
//   heading, pitch, roll  platform attitude (degrees), turned about the successively moved
//                         down, right and forward axes of the local north-east-down frame
//   absoluteAzimuth       line of sight's angle from true north, clockwise (degrees)
//   absoluteElevation     line of sight's angle above the local horizontal, negative below
//                         (degrees)
// The line of sight is written in the local frame, turned into the platform's axes by the
// transposed attitude, and read back as an azimuth and an elevation. Looking straight along
// the platform's down axis leaves the azimuth undefined; it is then 0.
RelativePointing relativePointing(double heading, double pitch, double roll, double absoluteAzimuth,
                                  double absoluteElevation);

// True bearing from the first point to the second (degrees from north, clockwise, 0..360),
// in the local frame of the first on the WGS84 ellipsoid: meridian and prime-vertical radii
// turn the differences of latitude and longitude into metres north and east. Meant for
// points a few kilometres apart, such as a sensor and the centre of its picture.
double localBearing(double latitude, double longitude, double toLatitude, double toLongitude);

} // namespace skyframe
