#include "terrain/GeoidPatch.h"

#include "camera/Geoid.h"

#include <algorithm>
#include <cmath>

namespace skyframe {

GeoidPatch::GeoidPatch(double south, double north, double west, double east)
    : south_(std::floor(south * kSamplesPerDegree) / kSamplesPerDegree),
      west_(std::floor(west * kSamplesPerDegree) / kSamplesPerDegree) {
    rows_ = static_cast<int>(std::ceil((north - south_) * kSamplesPerDegree)) + 1;
    columns_ = static_cast<int>(std::ceil((east - west_) * kSamplesPerDegree)) + 1;
    rows_ = std::max(rows_, 2);
    columns_ = std::max(columns_, 2);
    heights_.resize(static_cast<std::size_t>(rows_) * columns_);
    for (int r = 0; r < rows_; ++r) {
        const double latitude = std::min(90.0, south_ + r / kSamplesPerDegree);
        for (int c = 0; c < columns_; ++c) {
            heights_[static_cast<std::size_t>(r) * columns_ + c] =
                geoidHeightEgm96(latitude, west_ + c / kSamplesPerDegree);
        }
    }
}

GeoidPatch::Place GeoidPatch::row(double latitude) const {
    const double row = std::clamp((latitude - south_) * kSamplesPerDegree, 0.0, rows_ - 1.0);
    const int r0 = std::min(static_cast<int>(row), rows_ - 2);
    return Place{r0, row - r0};
}

GeoidPatch::Place GeoidPatch::column(double longitude) const {
    const double column = std::clamp((longitude - west_) * kSamplesPerDegree, 0.0, columns_ - 1.0);
    const int c0 = std::min(static_cast<int>(column), columns_ - 2);
    return Place{c0, column - c0};
}

} // namespace skyframe
