#pragma once
// Ellipsoids, state set-up and random points shared by the projection tests.

#include <random>

#include "PelProjection.h"

namespace projection_test {

struct Axes {
    double a;
    double b;
    double inverseFlattening;
};

inline Axes MakeAxes(double a, double rf) { return {a, a * (1.0 - 1.0 / rf), rf}; }
inline const Axes kGRS80 = MakeAxes(6378137.0, 298.257222101);
inline const Axes kBessel = MakeAxes(6377397.155, 299.1528128);
inline const Axes kGRS67 = MakeAxes(6378160.0, 298.247167427);
inline const Axes kHayford = MakeAxes(6378388.0, 297.0);

// Pushes a whole state, as the library's callers do before every call.
struct StateValues {
    double L0 = 0.0;
    int L0Auto = 0;
    double B0 = 0.0;
    Axes axes = kGRS80;
    double BNord = 0.0;
    double BSued = 0.0;
    double FalseNorth = 0.0;
    double FalseEast = 0.0;
    int LambType = 0;
    int LambCase = 0;
    int GKCase = 0;

    void Push() const {
        InitializeDLL(L0, L0Auto, B0, axes.a, axes.b, BNord, BSued, FalseNorth, FalseEast, LambType,
                      LambCase, GKCase);
    }
};

// Reproducible uniform points in a box.
class PointSource {
public:
    PointSource(double latMin, double latMax, double lonMin, double lonMax, unsigned seed = 42)
        : rng_(seed), lat_(latMin, latMax), lon_(lonMin, lonMax) {}
    double Lat() { return lat_(rng_); }
    double Lon() { return lon_(rng_); }

private:
    std::mt19937_64 rng_;
    std::uniform_real_distribution<double> lat_;
    std::uniform_real_distribution<double> lon_;
};

inline constexpr int kRandomPoints = 3000;

}  // namespace projection_test
