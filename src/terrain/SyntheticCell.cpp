#include "terrain/SyntheticCell.h"

#include "terrain/DtedRaster.h"

#include <cpl_error.h>
#include <gdal_priv.h>
#include <ogr_spatialref.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <stdexcept>
#include <unistd.h>
#include <vector>

namespace skyframe {

void makeDtedCell(const std::string& path, int south, int west, int posts, const PostHeight& height,
                  const std::function<void(double)>& progress) {
    if (posts != 121 && posts != 1201 && posts != 3601) {
        throw std::invalid_argument("DTED cell \"" + path + "\": " + std::to_string(posts) +
                                    " posts is not a DTED level");
    }
    GDALAllRegister();
    GDALDriver* memDriver = GetGDALDriverManager()->GetDriverByName("MEM");
    GDALDriver* dtedDriver = GetGDALDriverManager()->GetDriverByName("DTED");
    if (memDriver == nullptr || dtedDriver == nullptr) {
        throw std::runtime_error("GDAL lacks its MEM or DTED driver");
    }
    GDALDatasetUniquePtr cell(memDriver->Create("", posts, posts, 1, GDT_Int16, nullptr));
    // Posts sit at pixel centres: the raster reaches half a post spacing beyond the degree.
    const double spacing = 1.0 / (posts - 1);
    double geoTransform[6] = {west - 0.5 * spacing,      spacing, 0.0,
                              south + 1 + 0.5 * spacing, 0.0,     -spacing};
    cell->SetGeoTransform(geoTransform);
    OGRSpatialReference wgs84;
    wgs84.importFromEPSG(4326);
    cell->SetSpatialRef(&wgs84);

    std::vector<std::int16_t> row(posts);
    GDALRasterBand* band = cell->GetRasterBand(1);
    for (int r = 0; r < posts; ++r) {
        for (int c = 0; c < posts; ++c) {
            // DTED's 16-bit signed magnitude reaches +-32767; -32767 is its void marker.
            row[c] =
                static_cast<std::int16_t>(std::clamp(std::lround(height(r, c)), -32767L, 32767L));
        }
        if (band->RasterIO(GF_Write, 0, r, posts, 1, row.data(), posts, 1, GDT_Int16, 0, 0,
                           nullptr) != CE_None) {
            throw std::runtime_error("cannot fill DTED cell \"" + path + "\"");
        }
        if (progress) {
            progress(static_cast<double>(r + 1) / posts);
        }
    }

    const std::string partPath = path + "." + std::to_string(::getpid()) + ".part.dt2";
    CPLErrorReset();
    GDALDatasetUniquePtr written(
        dtedDriver->CreateCopy(partPath.c_str(), cell.get(), TRUE, nullptr, nullptr, nullptr));
    if (!written) {
        std::remove(partPath.c_str());
        throw gdalFailure("cannot write DTED cell", path);
    }
    written.reset();
    if (std::rename(partPath.c_str(), path.c_str()) != 0) {
        std::remove(partPath.c_str());
        throw std::runtime_error("cannot rename DTED cell into \"" + path + "\"");
    }
}

namespace {

// Hash of a lattice point to 0 ... 2^32 - 1.
std::uint32_t latticeHash(long i, long j, std::uint32_t seed) {
    std::uint32_t h = static_cast<std::uint32_t>(i) * 0x8da6b343u ^
                      static_cast<std::uint32_t>(j) * 0xd8163841u ^ seed * 0xcb1ab31fu;
    h ^= h >> 13;
    h *= 0x5bd1e995u;
    h ^= h >> 15;
    return h;
}

// Gradient noise, about -1 ... 1, with lattice points one unit apart: a random gradient at
// each lattice point, blended with a quintic fade, so that no feature follows the lattice.
double gradientNoise(double u, double v, std::uint32_t seed) {
    const double fu = std::floor(u), fv = std::floor(v);
    const long i = static_cast<long>(fu), j = static_cast<long>(fv);
    const double x = u - fu, y = v - fv;
    auto corner = [&](long ci, long cj, double dx, double dy) {
        const double angle = latticeHash(ci, cj, seed) * (6.283185307179586 / 4294967296.0);
        return std::cos(angle) * dx + std::sin(angle) * dy;
    };
    auto fade = [](double t) { return t * t * t * (t * (t * 6.0 - 15.0) + 10.0); };
    const double su = fade(x), sv = fade(y);
    const double a = corner(i, j, x, y), b = corner(i + 1, j, x - 1.0, y);
    const double c = corner(i, j + 1, x, y - 1.0), d = corner(i + 1, j + 1, x - 1.0, y - 1.0);
    const double bottom = a + (b - a) * su, top = c + (d - c) * su;
    return 1.4 * (bottom + (top - bottom) * sv);
}

// The next octave's coordinates: twice as fine and turned, so that octaves do not align.
void nextOctave(double& u, double& v) {
    const double turnedU = 1.6 * u - 1.2 * v + 17.1;
    v = 1.2 * u + 1.6 * v - 9.7;
    u = turnedU;
}

// Sum of octaves, about -1 ... 1.
double fractalNoise(double u, double v, int octaves, std::uint32_t seed) {
    double sum = 0.0, amplitude = 0.5, weight = 0.0;
    for (int o = 0; o < octaves; ++o) {
        sum += amplitude * gradientNoise(u, v, seed + o);
        weight += amplitude;
        nextOctave(u, v);
        amplitude *= 0.5;
    }
    return sum / weight;
}

// Ridged multifractal, 0 ... 1: sharp crests and branching gullies, as eroded ranges show.
double ridgedNoise(double u, double v, int octaves, std::uint32_t seed) {
    double sum = 0.0, amplitude = 0.5, weight = 0.0, previous = 1.0;
    for (int o = 0; o < octaves; ++o) {
        double crest = 1.0 - std::min(1.0, std::abs(gradientNoise(u, v, seed + o)));
        crest *= crest;
        sum += amplitude * crest * previous;
        weight += amplitude;
        previous = 0.3 + 0.7 * crest;
        nextOctave(u, v);
        amplitude *= 0.5;
    }
    return sum / weight;
}

double smoothStep(double edge0, double edge1, double x) {
    const double t = std::clamp((x - edge0) / (edge1 - edge0), 0.0, 1.0);
    return t * t * (3.0 - 2.0 * t);
}

// A spur of the hills: a crest across the shore at `along` kilometres down the shore line,
// from the sea (`fromSide` kilometres off the line) into the ranges.
struct Spur {
    double along, halfWidth, height, fromSide;
};

} // namespace

double syntheticRelief(int row, int column, int posts) {
    // Kilometres east and north of the cell's south-west corner, as at 33.5 degrees north.
    const double east = 92.8 * column / (posts - 1);
    const double north = 111.0 * (1.0 - static_cast<double>(row) / (posts - 1));
    // The shore line runs south-east from 58.1 km north, 6.96 km east; `along` is measured
    // down it, `side` away from it, positive inland (north-east).
    const double de = east - 6.96, dn = north - 58.1;
    const double along = 0.648 * de - 0.762 * dn;
    const double side = 0.762 * de + 0.648 * dn;

    // The basin floor: a fan sloping gently up to the north, and the flat sea south-west of
    // the shore.
    const double fan = -65.0 + 145.0 * smoothStep(48.0, 68.0, north) +
                       6.0 * fractalNoise(east / 1.5, north / 1.5, 4, 11) +
                       30.0 * (ridgedNoise(east / 2.5, north / 2.5, 5, 13) - 0.3);
    const double floor = -70.0 + (fan + 70.0) * smoothStep(-3.0, -1.5, side);

    // Ranges inland, and beyond the sea: ridged crests up to about 1400 m.
    const double inland = smoothStep(4.5, 12.0, side + 1.5 * fractalNoise(along / 4, 0.0, 3, 5));
    const double farShore = smoothStep(-22.0, -32.0, side);
    const double massif =
        0.35 + 0.65 * smoothStep(-0.6, 0.6, fractalNoise(east / 25, north / 25, 2, 7));
    const double crests = ridgedNoise(east / 9.0, north / 9.0, 8, 23);
    const double ranges = (inland + farShore) * 1500.0 * massif * crests * crests;

    // Spurs that reach from the ranges down to the shore, between the sample targets.
    static const Spur spurs[] = {{8.05, 0.42, 650.0, -1.2},
                                 {11.4, 0.5, 850.0, -1.8},
                                 {-3.0, 0.9, 700.0, 1.0},
                                 {17.5, 0.8, 800.0, 0.5}};
    double hills = 0.0;
    for (const Spur& s : spurs) {
        const double offset =
            (along - s.along +
             (0.3 + 0.08 * std::abs(side)) * fractalNoise(side / 2.5, s.along, 3, 41)) /
            s.halfWidth;
        if (std::abs(offset) >= 1.0) {
            continue;
        }
        const double profile = (1.0 - offset * offset) * (1.0 - offset * offset);
        const double rise =
            smoothStep(s.fromSide, s.fromSide + 2.0, side) * smoothStep(11.0, 7.0, side);
        const double rough = 0.6 + 0.6 * ridgedNoise(east / 1.2, north / 1.2, 6, 61);
        hills = std::max(hills, s.height * profile * rise * rough);
    }
    return floor + std::max(ranges, hills);
}

} // namespace skyframe
