// Gauss-Krüger and UTM: the series coefficients, zone conventions, bands,
// and agreement with the exact transverse Mercator.

#include <GeographicLib/TransverseMercatorExact.hpp>
#include <gtest/gtest.h>

#include <cctype>
#include <cmath>
#include <map>
#include <string>
#include <utility>

#include "GaussKruegerSeries.h"
#include "PelProjection.h"
#include "ProjectionTestSupport.h"
#include "PublishedSeriesCoefficients.h"

using namespace projection_test;

namespace {

// Polynomial in e and c as {(e power, c power) → integer coefficient}.
using Terms = std::map<std::pair<int, int>, long long>;

// Reads sums of products of integers, e, e^n, c^n and parenthesised sums.
class PolynomialReader {
public:
    explicit PolynomialReader(const std::string& text) : s_(text) {}
    Terms Read() {
        Terms t = Sum();
        Skip();
        if (pos_ != s_.size()) throw std::runtime_error("trailing text at " + std::to_string(pos_));
        return t;
    }

private:
    void Skip() {
        while (pos_ < s_.size() && s_[pos_] == ' ') ++pos_;
    }
    int Exponent() {
        Skip();
        if (pos_ < s_.size() && s_[pos_] == '^') {
            ++pos_;
            return static_cast<int>(Integer());
        }
        return 1;
    }
    long long Integer() {
        Skip();
        size_t used = 0;
        const long long v = std::stoll(s_.substr(pos_), &used);
        pos_ += used;
        return v;
    }
    Terms Factor() {
        Skip();
        const char ch = s_[pos_];
        if (ch == '(') {
            ++pos_;
            Terms t = Sum();
            Skip();
            ++pos_;  // ')'
            return t;
        }
        if (ch == 'e' || ch == 'c') {
            ++pos_;
            const int n = Exponent();
            return Terms{{ch == 'e' ? std::pair{n, 0} : std::pair{0, n}, 1}};
        }
        return Terms{{{0, 0}, Integer()}};
    }
    static Terms Multiply(const Terms& a, const Terms& b) {
        Terms r;
        for (const auto& [ka, va] : a)
            for (const auto& [kb, vb] : b) r[{ka.first + kb.first, ka.second + kb.second}] += va * vb;
        return r;
    }
    Terms Product() {
        Terms t = Factor();
        for (Skip(); pos_ < s_.size() && s_[pos_] == '*'; Skip()) {
            ++pos_;
            t = Multiply(t, Factor());
        }
        return t;
    }
    Terms Sum() {
        Skip();
        int sign = 1;
        if (s_[pos_] == '-') {
            sign = -1;
            ++pos_;
        }
        Terms total;
        for (;;) {
            for (const auto& [k, v] : Product()) total[k] += sign * v;
            Skip();
            if (pos_ >= s_.size() || (s_[pos_] != '+' && s_[pos_] != '-')) break;
            sign = s_[pos_] == '-' ? -1 : 1;
            ++pos_;
        }
        return total;
    }
    std::string s_;
    size_t pos_ = 0;
};

Terms Generated(int order) {
    const pel::series::OrderPolynomial& p = pel::series::ForwardOrder(order);
    Terms t;
    for (int j = 0; j < p.ePowers; ++j)
        for (int m = p.lo[j]; m <= p.hi[j]; ++m)
            if (p.coef[j][m] != 0.0) t[{j, 2 * m}] = static_cast<long long>(p.coef[j][m]);
    return t;
}

void DropZeros(Terms& t) {
    std::erase_if(t, [](const auto& kv) { return kv.second == 0; });
}

struct EN {
    double E;
    double N;
};

EN GK(double B, double L) {
    EN r{};
    BL_to_EN_GK(B, L, &r.E, &r.N);
    return r;
}

}  // namespace

TEST(TransverseMercatorSeries, CoefficientsEqualThePublishedPolynomials) {
    for (const PublishedOrder& row : kPublishedForwardOrders) {
        Terms expected = PolynomialReader(row.polynomial).Read();
        Terms actual = Generated(row.order);
        DropZeros(expected);
        DropZeros(actual);
        EXPECT_EQ(actual, expected) << "order " << row.order;
    }
}

TEST(TransverseMercatorSeries, ReferenceValuesAndCentralMeridian) {
    const pel::Ellipsoid el = pel::Ellipsoid::FromAxes(kGRS80.a, kGRS80.b);
    pel::PlanePoint p = pel::GaussKruegerSeriesForward(el, 52, 6);
    EXPECT_NEAR(p.y, 411885.3175, 1e-4);
    EXPECT_NEAR(p.x, 5780365.4474, 1e-4);
    p = pel::GaussKruegerSeriesForward(el, 48, 3);
    EXPECT_NEAR(p.y, 223865.4616, 1e-4);
    EXPECT_NEAR(p.x, 5322784.9030, 1e-4);

    p = pel::GaussKruegerSeriesForward(el, -35, 0);
    EXPECT_EQ(p.y, 0.0);
    EXPECT_EQ(p.x, -pel::MeridianArcLength(el, 35));
    const pel::GeoPoint g = pel::GaussKruegerSeriesInverse(el, 0, p.x);
    EXPECT_NEAR(g.B, -35, 1e-12);
    EXPECT_EQ(g.l, 0.0);
}

TEST(GaussKrueger, GermanZonesRoundHalvesTowardZero) {
    StateValues{.L0Auto = 1, .axes = kBessel, .GKCase = 0}.Push();
    EXPECT_NEAR(GK(50, 9).E, 3500000.0, 1e-6);
    // 10.5 is exactly half-way: zone 3 (9°), easting east of it.
    const EN half = GK(50, 10.5);
    EXPECT_GT(half.E, 3500000.0);
    EXPECT_LT(half.E, 3700000.0);
    EXPECT_NEAR(GK(50, 10.6).E, 4500000.0 - (GK(50, 13.4).E - 4500000.0), 1e-3);
    EXPECT_LT(GK(50, -1.5).E, 500000.0);   // g = −0.5: meridian 0
    // −1.6 lies 1.4° east of −3° (zone −1): −1000000 + 500000 + y.
    EXPECT_GT(GK(50, -1.6).E, -500000.0);
    EXPECT_LT(GK(50, -1.6).E, -300000.0);

    // The inverse takes the zone from the millions.
    double b, l;
    EN_to_BL_GK(half.E, half.N, &b, &l);
    EXPECT_NEAR(b, 50, 1e-9);
    EXPECT_NEAR(l, 10.5, 1e-9);

    // Without L0Auto the set meridian counts, also for the zone prefix.
    StateValues{.L0 = 12, .axes = kBessel, .GKCase = 0}.Push();
    EXPECT_NEAR(GK(50, 12).E, 4500000.0, 1e-6);
}

TEST(GaussKrueger, AustrianStripsBothWays) {
    StateValues{.axes = kBessel, .GKCase = 99}.Push();  // raw: y only
    auto rawY = [](double B, double L, double L0) {
        SetL0(L0);
        return GK(B, L).E;
    };
    const double m28 = 31.0 / 3.0, m31 = 40.0 / 3.0, m34 = 49.0 / 3.0;
    const double y28 = rawY(47, 11.8, m28), y31 = rawY(47, 12.0, m31), y34 = rawY(47, 15, m34);

    StateValues{.L0Auto = 1, .axes = kBessel, .GKCase = 4}.Push();
    EXPECT_NEAR(GK(47, 11.8).E, y28 + 150000, 1e-6);
    EXPECT_NEAR(GK(47, 12.0).E, y31 + 450000, 1e-6);
    EXPECT_NEAR(GK(47, 15.0).E, y34 + 750000, 1e-6);
    EXPECT_NEAR(GK(47, 40.0 / 3.0).E, 450000, 1e-6);

    // Every Austrian point comes back from its strip coordinates.
    PointSource pts(46.3, 49.1, 9.4, 17.3, 11);
    for (int i = 0; i < kRandomPoints; ++i) {
        const double B = pts.Lat(), L = pts.Lon();
        const EN en = GK(B, L);
        double b, l;
        EN_to_BL_GK(en.E, en.N, &b, &l);
        ASSERT_NEAR(b, B, 1e-9) << B << " " << L;
        ASSERT_NEAR(l, L, 1e-9) << B << " " << L;
    }
}

TEST(UTM, AutomaticZonesWriteTheMeridian) {
    StateValues{.L0 = 77, .L0Auto = 1, .axes = kGRS80}.Push();
    double e, n;
    BL_to_EN_UTM_Raw(48, 9.5, &e, &n);
    EXPECT_EQ(GetL0(), 9.0);
    EXPECT_GT(e, 32500000.0);
    EXPECT_LT(e, 32600000.0);
    BL_to_EN_UTM_Raw(48, -2, &e, &n);
    EXPECT_EQ(GetL0(), -3.0);
    EXPECT_EQ(std::floor(e / 1e6), 30);
    BL_to_EN_UTM_Raw(48, 0, &e, &n);
    EXPECT_EQ(GetL0(), 3.0);
    EXPECT_EQ(std::floor(e / 1e6), 31);

    SetL0(0);
    double b, l;
    EN_to_BL_UTM_Raw(32500000.0, 5316000.0, &b, &l);
    EXPECT_EQ(GetL0(), 9.0);
    EXPECT_NEAR(l, 9.0, 1e-12);

    // The meridian stored by UTM is what a later GK call without L0Auto sees.
    SetL0Auto(0);
    SetGKCase(0);
    EXPECT_NEAR(GK(48, 9).E, 3500000.0, 1e-6);
}

TEST(UTM, ZoneNumberBandsAndSouthernFalseNorthing) {
    StateValues{.L0Auto = 1, .axes = kGRS80}.Push();
    double e, n;
    int zone = 0;
    char band = '?';
    BL_to_EN_UTM_With_Zone(-0.000001, 15, &e, &n, &zone, &band);
    EXPECT_EQ(zone, 33);
    EXPECT_EQ(band, 'M');
    EXPECT_NEAR(n, 10000000.0, 1.0);
    EXPECT_NEAR(e, 500000.0, 1e-6);
    BL_to_EN_UTM_With_Zone(0, 15, &e, &n, &zone, &band);
    EXPECT_EQ(band, 'N');
    EXPECT_EQ(n, 0.0);

    const std::pair<double, char> bands[] = {{83.9, 'X'}, {72, 'X'},   {71.99, 'W'}, {8, 'P'},
                                             {7.99, 'N'}, {-8, 'M'},   {-8.01, 'L'}, {-72, 'D'},
                                             {-72.01, 'C'}, {-80, 'C'}};
    for (const auto& [lat, letter] : bands) {
        BL_to_EN_UTM_With_Zone(lat, 15, &e, &n, &zone, &band);
        EXPECT_EQ(band, letter) << lat;
    }

    // Back: southern letters in either case subtract the false northing.
    BL_to_EN_UTM_With_Zone(-33.9, 18.4, &e, &n, &zone, &band);
    for (const char* text : {"H", "h"}) {
        double b, l;
        EN_to_BL_UTM_With_Zone(e, n, zone, text, &b, &l);
        EXPECT_NEAR(b, -33.9, 1e-9) << text;
        EXPECT_NEAR(l, 18.4, 1e-9) << text;
    }
    double b, l;
    EN_to_BL_UTM_With_Zone(e, n, zone, "N", &b, &l);
    EXPECT_GT(b, 0.0);  // northern or unknown band: N taken as it is
    EN_to_BL_UTM_With_Zone(e, n, zone, "", &b, &l);
    EXPECT_GT(b, 0.0);
}

TEST(TransverseMercatorAccuracy, GaussKruegerMatchesExactWithinThreeDegrees) {
    const GeographicLib::TransverseMercatorExact exact(kBessel.a, 1.0 / kBessel.inverseFlattening, 1.0);
    StateValues{.L0 = 12, .axes = kBessel, .GKCase = 99}.Push();
    PointSource pts(-80, 84, 9, 15, 21);
    for (int i = 0; i < kRandomPoints; ++i) {
        const double B = pts.Lat(), L = pts.Lon();
        double x, y;
        exact.Forward(12, B, L, x, y);
        const EN en = GK(B, L);
        ASSERT_NEAR(en.E, x, 1e-4) << B << " " << L;
        ASSERT_NEAR(en.N, y, 1e-4) << B << " " << L;
        double b, l;
        EN_to_BL_GK(en.E, en.N, &b, &l);
        ASSERT_NEAR(b, B, 1e-9) << B << " " << L;
        ASSERT_NEAR(l, L, 1e-9) << B << " " << L;
    }
}

TEST(TransverseMercatorAccuracy, UTMMatchesExactWithinThreeDegrees) {
    const GeographicLib::TransverseMercatorExact exact(kGRS80.a, 1.0 / kGRS80.inverseFlattening, 0.9996);
    StateValues{.L0Auto = 1, .axes = kGRS80}.Push();
    PointSource pts(-80, 84, -180, 180, 22);
    for (int i = 0; i < kRandomPoints; ++i) {
        const double B = pts.Lat(), L = pts.Lon();
        double e, n;
        int zone;
        char band;
        BL_to_EN_UTM_With_Zone(B, L, &e, &n, &zone, &band);
        const double meridian = 6.0 * zone - 183.0;
        ASSERT_LE(std::fabs(L - meridian), 3.0 + 1e-12);
        double x, y;
        exact.Forward(meridian, B, L, x, y);
        ASSERT_NEAR(e, x + 500000.0, 1e-4) << B << " " << L;
        ASSERT_NEAR(n, B < 0 ? y + 10000000.0 : y, 1e-4) << B << " " << L;
        const char text[2] = {band, '\0'};
        double b, l;
        EN_to_BL_UTM_With_Zone(e, n, zone, text, &b, &l);
        ASSERT_NEAR(b, B, 1e-9) << B << " " << L;
        ASSERT_NEAR(l, L, 1e-9) << B << " " << L;
    }
}
