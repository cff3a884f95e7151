#include "Ellipsoid.h"

#include "ProjectionState.h"

namespace pel {

namespace {

// Every iteration of the library ends after a fixed number of rounds, so
// non-finite or absurd input returns in bounded time.
constexpr int kMaxArcRounds = 100;
constexpr int kMaxIsometricRounds = 100;

// Angles up to this size (radians) are turned by their Taylor polynomials.
constexpr double kSmallTurn = 0.01;

// sin d and cos d − 1 for |d| ≤ kSmallTurn, exact to double precision (the
// first neglected terms are below 3e-24). Moving a known sine and cosine by
// such a d costs a few multiplications instead of two library calls.
struct SmallTurn {
    double sin;
    double cosMinusOne;
};

SmallTurn TurnBy(double d) {
    const double d2 = d * d;
    SmallTurn t;
    t.sin = d * (1.0 - d2 * (1.0 / 6) * (1.0 - d2 * (1.0 / 20) * (1.0 - d2 * (1.0 / 42))));
    t.cosMinusOne =
        -0.5 * d2 * (1.0 - d2 * (1.0 / 12) * (1.0 - d2 * (1.0 / 30) * (1.0 - d2 * (1.0 / 56))));
    return t;
}

// The latitude `from` moved by d, its sine and cosine from the angle sum.
Latitude Turned(const Latitude& from, double d) {
    Latitude to;
    to.phi = from.phi + d;
    if (std::fabs(d) <= kSmallTurn) {
        const SmallTurn t = TurnBy(d);
        to.sin = from.sin + (from.sin * t.cosMinusOne + from.cos * t.sin);
        to.cos = from.cos + (from.cos * t.cosMinusOne - from.sin * t.sin);
    } else {
        to.sin = std::sin(to.phi);
        to.cos = std::cos(to.phi);
    }
    return to;
}

// atanh for the small arguments e·sinφ (|x| ≤ e ≈ 0.08 on the Earth's
// ellipsoids): its odd power series, exact to double precision for |x| ≤ 0.1
// (and its first five terms for |x| ≤ 0.01).
double AtanhOfEccentricTerm(double x) {
    const double x2 = x * x;
    if (std::fabs(x) <= 0.01)
        return x * (1.0 + x2 * (1.0 / 3 + x2 * (1.0 / 5 + x2 * (1.0 / 7 + x2 * (1.0 / 9)))));
    if (!(std::fabs(x) <= 0.1)) return std::atanh(x);
    static constexpr double kInverseOdd[10] = {1.0,        1.0 / 3,  1.0 / 5,  1.0 / 7,
                                               1.0 / 9,    1.0 / 11, 1.0 / 13, 1.0 / 15,
                                               1.0 / 17,   1.0 / 19};
    double sum = kInverseOdd[9];
    for (int k = 8; k >= 0; --k) sum = sum * x2 + kInverseOdd[k];
    return x * sum;
}

// asinh through the plain logarithm, which is markedly cheaper than the
// library's asinh; odd symmetry keeps it free of cancellation. Below 0.01
// its power series (neglected terms below 3e-22 relative) needs no logarithm.
double Asinh(double x) {
    const double ax = std::fabs(x);
    if (ax <= 0.01) {
        const double x2 = x * x;
        return x * (1.0 + x2 * (-1.0 / 6 + x2 * (3.0 / 40 + x2 * (-5.0 / 112 + x2 * (35.0 / 1152)))));
    }
    if (!(ax <= 1e8)) return std::asinh(x);
    const double r = std::log(ax + std::sqrt(ax * ax + 1.0));
    return x < 0.0 ? -r : r;
}

// Factor of φ in the meridian arc series, G = c·(A0·φ + periodic terms):
// Σ k_n·e'^(2n)·(1·3·…(2n−1))/(2·4·…2n).
double RectifyingFactor(double ep2) {
    static constexpr double k[7] = {1.0,           -1.5 * 0.5,          1.875 * 0.375,
                                    -2.1875 * 0.3125, 2.4609375 * 0.2734375, -2.70703125 * 0.24609375,
                                    2.9326171875 * 0.2255859375};
    double sum = k[6];
    for (int n = 5; n >= 0; --n) sum = sum * ep2 + k[n];
    return sum;
}

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

double LatitudeFromArc(const Ellipsoid& el, double x) { return FootpointLatitude(el, x).phi * kRho; }

Latitude FootpointLatitude(const Ellipsoid& el, double x) {
    // Start from the series inverse of the rectifying latitude μ in the third
    // flattening n, φ = μ + Σ b_k·sin 2kμ through n⁵; what it leaves (of the
    // order n⁶, some 1e-17 rad on the Earth) one Newton step removes.
    const double n = (el.a - el.b) / (el.a + el.b);
    const double n2 = n * n;
    const double b[5] = {n * (1.5 + n2 * (-27.0 / 32 + n2 * (269.0 / 512))),
                         n2 * (21.0 / 16 + n2 * (-55.0 / 32)),
                         n2 * n * (151.0 / 96 + n2 * (-417.0 / 128)),
                         n2 * n2 * (1097.0 / 512),
                         n2 * n2 * n * (8011.0 / 2560)};
    const double mu = x / (el.c * RectifyingFactor(el.ep2));
    const double sinMu = std::sin(mu);
    const double cosMu = std::cos(mu);
    // Clenshaw's sum of the sines of the multiples of 2μ.
    const double twiceCos2Mu = 2.0 * (cosMu - sinMu) * (cosMu + sinMu);
    double s1 = 0.0;
    double s2 = 0.0;
    for (int k = 4; k >= 0; --k) {
        const double t = b[k] + twiceCos2Mu * s1 - s2;
        s2 = s1;
        s1 = t;
    }
    Latitude f = Turned({mu, sinMu, cosMu}, 2.0 * sinMu * cosMu * s1);
    for (int round = 0; round < kMaxArcRounds; ++round) {
        // Newton steps: the arc grows by the meridian radius M(φ) = c/V(φ)³.
        // (The radius at φ/2 would converge to the same latitude, only
        // linearly and in about twice the rounds.)
        const double v = el.V(f.cos);
        const double delta = (x - MeridianArcLength(el, f.phi, f.sin, f.cos)) * v * v * v / el.c;
        // Done once a step falls below 1e-15 rad, or once the quadratic
        // convergence of Newton's method bounds the error left after this
        // step, (3/4)·e'²·Δ², below 1e-17 rad; NaN ends it too.
        if (!(std::fabs(delta) >= 1e-15) || !(0.75 * el.ep2 * delta * delta >= 1e-17)) {
            f = Turned(f, delta);
            break;
        }
        f.phi += delta;
        f.sin = std::sin(f.phi);
        f.cos = std::cos(f.phi);
    }
    return f;
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

double LatitudeFromIsometricOffset(const Ellipsoid& el, const Latitude& from, double dq,
                                   double start) {
    const double ep2 = el.e2 / (1.0 - el.e2);
    double phi = start;
    for (int round = 0; round <= kMaxIsometricRounds; ++round) {
        // φ with its sine and cosine, and sin φ − sin φ' kept apart from the
        // rounding of sin φ itself.
        const double d = phi - from.phi;
        Latitude at;
        double rise;
        if (std::fabs(d) <= kSmallTurn) {
            const SmallTurn t = TurnBy(d);
            rise = from.sin * t.cosMinusOne + from.cos * t.sin;
            at.sin = from.sin + rise;
            at.cos = from.cos + (from.cos * t.cosMinusOne - from.sin * t.sin);
        } else {
            at.sin = std::sin(phi);
            at.cos = std::cos(phi);
            rise = at.sin - from.sin;
        }
        double residual;
        if (at.cos > 0.0 && from.cos > 0.0) {
            // asinh(tan φ) − asinh(tan φ') = asinh((sin φ − sin φ')/(cos φ·cos φ'))
            // and atanh a − atanh b = atanh((a − b)/(1 − a·b)).
            const double spherical = Asinh(rise / (at.cos * from.cos));
            const double eccentric = AtanhOfEccentricTerm(el.e * rise / (1.0 - el.e2 * at.sin * from.sin));
            residual = dq - (spherical - el.e * eccentric);
        } else {
            // At or beyond a pole the identities do not hold.
            residual = IsometricLatitude(el, from.sin, from.cos) + dq - IsometricLatitude(el, at.sin, at.cos);
        }
        const double step = at.cos * residual * (1.0 + ep2 * at.cos * at.cos);
        phi += step;
        // Newton's error after a step Δ is about (tan φ / 2)·Δ²: stop once
        // that is below 1e-17 rad (NaN stops too).
        if (!(step * step * (std::fabs(at.sin / at.cos) + 1.0) >= 1e-17)) break;
    }
    return phi;
}

}  // namespace pel
