#include "Ellipsoid.h"

#include "ProjectionState.h"

namespace pel {

namespace {

// Every iteration of the library ends after a fixed number of rounds, so
// non-finite or absurd input returns in bounded time.
constexpr int kMaxArcRounds = 100;
constexpr int kMaxIsometricRounds = 100;

}  // namespace

Ellipsoid Ellipsoid::FromState() {
    const ProjectionState& s = State();
    return FromAxes(s.A, s.B);
}

// c·∫₀^φ (1 + e'²cos²ψ)^(−3/2) dψ, binomial series through e'¹²:
// G = c·Σ k_n·e'^(2n)·I_n with I_n = sinφ·cos^(2n−1)φ/(2n) + (2n−1)/(2n)·I_(n−1).
double MeridianArcLength(const Ellipsoid& el, double phiDeg) {
    const double phi = phiDeg / kRho;
    return MeridianArcLength(el, phi, std::sin(phi), std::cos(phi));
}

double MeridianArcLength(const Ellipsoid& el, double phi, double s, double co) {
    // Binomial coefficients of the exponent −3/2, 1/(2n) and (2n−1)/(2n).
    static constexpr double k[7] = {1.0,       -1.5,        1.875,       -2.1875,
                                    2.4609375, -2.70703125, 2.9326171875};
    static constexpr double kHalfInverse[7] = {0.0,     1.0 / 2,  1.0 / 4, 1.0 / 6,
                                               1.0 / 8, 1.0 / 10, 1.0 / 12};
    static constexpr double kRatio[7] = {0.0,     1.0 / 2,  3.0 / 4,  5.0 / 6,
                                         7.0 / 8, 9.0 / 10, 11.0 / 12};
    const double co2 = co * co;
    double integral = phi;  // I_0
    double cosPow = co;     // cos^(2n−1)
    double ep2Pow = 1.0;
    double sum = integral;
    for (int n = 1; n <= 6; ++n) {
        integral = s * cosPow * kHalfInverse[n] + kRatio[n] * integral;
        cosPow *= co2;
        ep2Pow *= el.ep2;
        sum += k[n] * ep2Pow * integral;
    }
    return std::fabs(el.c * sum);
}

double LatitudeFromArc(const Ellipsoid& el, double x) {
    // Start with the radius of curvature at half the rough latitude.
    const double psi = x / (2.0 * std::sqrt(el.a * el.b));
    double v = el.V(std::cos(psi));
    double phi = x * v * v * v / el.c;
    for (int round = 0; round < kMaxArcRounds; ++round) {
        // Newton steps: the arc grows by the meridian radius M(φ) = c/V(φ)³.
        // (The radius at φ/2 would converge to the same latitude, only
        // linearly and in about twice the rounds.)
        const double s = std::sin(phi);
        const double co = std::cos(phi);
        v = el.V(co);
        const double delta = (x - MeridianArcLength(el, phi, s, co)) * v * v * v / el.c;
        phi += delta;
        // Done once a step falls below 1e-15 rad, or once the quadratic
        // convergence of Newton's method bounds the error left after this
        // step, (3/4)·e'²·Δ², below 1e-17 rad; NaN ends it too.
        if (!(std::fabs(delta) >= 1e-15) || !(0.75 * el.ep2 * delta * delta >= 1e-17)) break;
    }
    return phi * kRho;
}

double SignedMeridianArc(const Ellipsoid& el, double phiDeg) {
    const double g = MeridianArcLength(el, phiDeg);
    return phiDeg < 0.0 ? -g : g;
}

double LatitudeFromSignedArc(const Ellipsoid& el, double x) {
    const double phi = LatitudeFromArc(el, std::fabs(x));
    return x < 0.0 ? -phi : phi;
}

double IsometricLatitude(const Ellipsoid& el, double phi) {
    // ln tan(π/4 + φ/2) − (e/2)·ln((1 + e·sinφ)/(1 − e·sinφ)), written as
    // asinh(tan φ) − e·atanh(e·sinφ): the same function, exact at the equator
    // and as well conditioned near the poles.
    return IsometricLatitude(el, std::sin(phi), std::cos(phi));
}

namespace {

// atanh for the small arguments e·sinφ (|x| ≤ e ≈ 0.08 on the Earth's
// ellipsoids): its odd power series, exact to double precision for |x| ≤ 0.1.
double AtanhOfEccentricTerm(double x) {
    if (!(std::fabs(x) <= 0.1)) return std::atanh(x);
    static constexpr double kInverseOdd[10] = {1.0,        1.0 / 3,  1.0 / 5,  1.0 / 7,
                                               1.0 / 9,    1.0 / 11, 1.0 / 13, 1.0 / 15,
                                               1.0 / 17,   1.0 / 19};
    const double x2 = x * x;
    double sum = kInverseOdd[9];
    for (int k = 8; k >= 0; --k) sum = sum * x2 + kInverseOdd[k];
    return x * sum;
}

// asinh through the plain logarithm, which is markedly cheaper than the
// library's asinh; odd symmetry keeps it free of cancellation.
double Asinh(double x) {
    const double ax = std::fabs(x);
    if (!(ax <= 1e8)) return std::asinh(x);
    const double r = std::log(ax + std::sqrt(ax * ax + 1.0));
    return x < 0.0 ? -r : r;
}

}  // namespace

double IsometricLatitude(const Ellipsoid& el, double s, double c) {
    return Asinh(s / c) - el.e * AtanhOfEccentricTerm(el.e * s);
}

double LatitudeFromIsometric(const Ellipsoid& el, double q) {
    return LatitudeFromIsometric(el, q, 2.0 * std::atan(std::exp(q)) - 2.0 * (kPi / 4.0));
}

double LatitudeFromIsometric(const Ellipsoid& el, double q, double start) {
    const double ep2 = el.e2 / (1.0 - el.e2);
    auto step = [&](double phi) {
        const double s = std::sin(phi);
        const double co = std::cos(phi);
        return phi + co * (q - IsometricLatitude(el, s, co)) * (1.0 + ep2 * co * co);
    };
    double phi = start;
    double next = step(phi);
    double lastChange = std::fabs(next - phi);
    for (int round = 1; round <= kMaxIsometricRounds && lastChange > 1e-16; ++round) {
        phi = next;
        next = step(phi);
        const double change = std::fabs(next - phi);
        // Converged to the last bit: a step that no longer shrinks is
        // rounding noise bouncing between neighbouring doubles.
        if (change < 1e-14 && change >= lastChange) {
            lastChange = change;
            break;
        }
        lastChange = change;
    }
    return next;
}

}  // namespace pel
