#pragma once

#include <vector>

namespace skyframe {

// Which heights the tiles carry. DTED stores heights above mean sea level (the EGM96 geoid);
// the scene's are above the WGS84 ellipsoid.
enum class HeightReference {
    MeanSeaLevel, // the heights as the cell stores them
    Ellipsoid,    // the EGM96 geoid height added to every post
};

// EGM96 geoid heights (metres) over an area, sampled every minute of arc and interpolated
// bilinearly. The geoid grid itself is bilinear between nodes every 15 minutes, which fall
// on whole minutes, so the patch gives PROJ's values, at a fraction of PROJ's cost per post.
class GeoidPatch {
public:
    // The area south ... north, west ... east (degrees), widened to whole minutes.
    GeoidPatch(double south, double north, double west, double east);

    // Geoid height (metres) at a latitude and longitude inside the area (degrees).
    double at(double latitude, double longitude) const;

private:
    static constexpr double kSamplesPerDegree = 60.0;
    double south_ = 0.0, west_ = 0.0; // the south-west sample, degrees
    int rows_ = 0, columns_ = 0;      // samples, south to north and west to east
    std::vector<double> heights_;     // row by row from the south
};

} // namespace skyframe
