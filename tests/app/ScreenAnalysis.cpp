#include "ScreenAnalysis.h"

#include <Eigen/Dense>

#include <cmath>
#include <cstdlib>
#include <numeric>

namespace skyframe::test {

bool isMarkerMagenta(const uint8_t* rgb) {
    return rgb[0] > 150 && rgb[2] > 150 && rgb[1] < 100 && std::abs(rgb[0] - rgb[2]) < 80;
}

namespace {

struct UnionFind {
    std::vector<int> parent;
    explicit UnionFind(int n) : parent(static_cast<size_t>(n)) {
        std::iota(parent.begin(), parent.end(), 0);
    }
    int find(int i) {
        while (parent[static_cast<size_t>(i)] != i) {
            parent[static_cast<size_t>(i)] =
                parent[static_cast<size_t>(parent[static_cast<size_t>(i)])];
            i = parent[static_cast<size_t>(i)];
        }
        return i;
    }
    void join(int a, int b) { parent[static_cast<size_t>(find(a))] = find(b); }
};

// Algebraic circle fit: x^2 + y^2 + D x + E y + F = 0 in the least-squares sense.
bool fitCircle(const std::vector<Point>& points, Point& centre, double& radius) {
    if (points.size() < 3) {
        return false;
    }
    Eigen::MatrixXd a(points.size(), 3);
    Eigen::VectorXd b(points.size());
    for (size_t i = 0; i < points.size(); ++i) {
        a(static_cast<Eigen::Index>(i), 0) = points[i].x;
        a(static_cast<Eigen::Index>(i), 1) = points[i].y;
        a(static_cast<Eigen::Index>(i), 2) = 1.0;
        b(static_cast<Eigen::Index>(i)) = -(points[i].x * points[i].x + points[i].y * points[i].y);
    }
    const Eigen::Vector3d s = a.colPivHouseholderQr().solve(b);
    centre = {-s(0) / 2.0, -s(1) / 2.0};
    const double r2 = centre.x * centre.x + centre.y * centre.y - s(2);
    if (!(r2 > 0.0)) {
        return false;
    }
    radius = std::sqrt(r2);
    return true;
}

} // namespace

std::vector<Ring> findRings(const RgbImage& image, double minRadius, double maxRadius,
                            int minPixels, int linkDistance) {
    std::vector<int> index(static_cast<size_t>(image.width) * image.height, -1);
    std::vector<Point> pixels;
    for (int y = 0; y < image.height; ++y) {
        for (int x = 0; x < image.width; ++x) {
            if (isMarkerMagenta(image.at(x, y))) {
                index[static_cast<size_t>(y) * image.width + x] = static_cast<int>(pixels.size());
                pixels.push_back({static_cast<double>(x), static_cast<double>(y)});
            }
        }
    }
    UnionFind groups(static_cast<int>(pixels.size()));
    for (const Point& p : pixels) {
        const int x = static_cast<int>(p.x);
        const int y = static_cast<int>(p.y);
        const int self = index[static_cast<size_t>(y) * image.width + x];
        for (int dy = 0; dy <= linkDistance; ++dy) {
            for (int dx = -linkDistance; dx <= linkDistance; ++dx) {
                const int nx = x + dx;
                const int ny = y + dy;
                if ((dy == 0 && dx <= 0) || nx < 0 || ny >= image.height || nx >= image.width) {
                    continue;
                }
                const int other = index[static_cast<size_t>(ny) * image.width + nx];
                if (other >= 0) {
                    groups.join(self, other);
                }
            }
        }
    }
    std::vector<std::vector<Point>> members(pixels.size());
    for (size_t i = 0; i < pixels.size(); ++i) {
        members[static_cast<size_t>(groups.find(static_cast<int>(i)))].push_back(pixels[i]);
    }
    std::vector<Ring> rings;
    for (const auto& group : members) {
        if (static_cast<int>(group.size()) < minPixels) {
            continue;
        }
        Ring ring{};
        if (fitCircle(group, ring.centre, ring.radius) && ring.radius >= minRadius &&
            ring.radius <= maxRadius) {
            ring.pixels = static_cast<int>(group.size());
            rings.push_back(ring);
        }
    }
    return rings;
}

bool shapeCentroid(const RgbImage& image, Point centre, double radius, const PixelTest& test,
                   int erosion, int minPixels, Point& centroid, long* area) {
    const int r = static_cast<int>(std::ceil(radius));
    const int x0 = static_cast<int>(std::floor(centre.x)) - r;
    const int y0 = static_cast<int>(std::floor(centre.y)) - r;
    const int size = 2 * r + 2;
    auto inside = [&](int x, int y) {
        return x >= 0 && y >= 0 && x < image.width && y < image.height &&
               std::hypot(x - centre.x, y - centre.y) <= radius;
    };
    std::vector<char> mask(static_cast<size_t>(size) * size, 0);
    for (int j = 0; j < size; ++j) {
        for (int i = 0; i < size; ++i) {
            const int x = x0 + i;
            const int y = y0 + j;
            mask[static_cast<size_t>(j) * size + i] = inside(x, y) && test(image.at(x, y));
        }
    }
    // Erosion with a square: a pixel stays when its whole neighbourhood is set.
    long count = 0;
    double sx = 0.0, sy = 0.0;
    for (int j = 0; j < size; ++j) {
        for (int i = 0; i < size; ++i) {
            bool keep = true;
            for (int dj = -erosion; dj <= erosion && keep; ++dj) {
                for (int di = -erosion; di <= erosion && keep; ++di) {
                    const int ii = i + di;
                    const int jj = j + dj;
                    keep = ii >= 0 && jj >= 0 && ii < size && jj < size &&
                           mask[static_cast<size_t>(jj) * size + ii];
                }
            }
            if (keep) {
                ++count;
                sx += x0 + i;
                sy += y0 + j;
            }
        }
    }
    if (count < minPixels) {
        return false;
    }
    centroid = {sx / count, sy / count};
    if (area) {
        *area = count;
    }
    return true;
}

} // namespace skyframe::test
