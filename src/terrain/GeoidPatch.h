#pragma once

#include <cstddef>
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

    // Where a latitude or a longitude falls among the samples: the sample before it and the
    // fraction of the way to the next. Worked out once for a row or a column of posts.
    struct Place {
        int index = 0;
        double fraction = 0.0;
    };
    Place row(double latitude) const;
    Place column(double longitude) const;

    // Geoid height (metres) at a latitude and longitude inside the area (degrees).
    double at(double latitude, double longitude) const {
        return at(row(latitude), column(longitude));
    }

    // The same, at a row's and a column's places.
    double at(Place row, Place column) const {
        const double* below =
            &heights_[static_cast<std::size_t>(row.index) * columns_ + column.index];
        const double* above = below + columns_;
        const double southern = below[0] + column.fraction * (below[1] - below[0]);
        const double northern = above[0] + column.fraction * (above[1] - above[0]);
        return southern + row.fraction * (northern - southern);
    }

private:
    static constexpr double kSamplesPerDegree = 60.0;
    double south_ = 0.0, west_ = 0.0; // the south-west sample, degrees
    int rows_ = 0, columns_ = 0;      // samples, south to north and west to east
    std::vector<double> heights_;     // row by row from the south
};

} // namespace skyframe
