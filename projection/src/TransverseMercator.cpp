// Gauss-Krüger (German 3° zones, Austrian meridian strips) and UTM around the
// shared transverse Mercator series.

#include <cctype>
#include <cmath>
#include <cstring>

#include "GaussKruegerSeries.h"
#include "PelProjection.h"
#include "ProjectionState.h"
#include "Truncate.h"

using pel::Ellipsoid;
using pel::ProjectionState;
using pel::State;

namespace {

// The three Austrian meridians 10°20′, 13°20′ and 16°20′.
constexpr double kM28 = 31.0 / 3.0;
constexpr double kM31 = 40.0 / 3.0;
constexpr double kM34 = 49.0 / 3.0;
constexpr double kMetresPerZoneDegree = 333333.3333333333;  // 1000000 per 3° zone
constexpr double kUtmScale = 0.9996;
constexpr double kUtmScaleInverse = 1.0004001600640255;
constexpr double kSouthernFalseNorthing = 10000000.0;

double GermanZoneMeridian(double L) {
  // Nearest multiple of 3°; an exact half rounds toward zero.
  const double g = L / 3.0;
  const double f = g - std::trunc(g);
  double zone;
  if (f > 0.5)
    zone = std::ceil(g);
  else if (f < -0.5)
    zone = std::floor(g);
  else
    zone = std::trunc(g);
  return 3.0 * zone;
}

double AustrianStripMeridian(double L) {
  if (L < 11.833333333333334) return kM28;
  if (L < 14.833333333333332) return kM31;
  return kM34;
}

double AustrianStripOffset(double meridian) {
  if (meridian == kM28) return 150000.0;
  if (meridian == kM31) return 450000.0;
  if (meridian == kM34) return 750000.0;
  return 0.0;
}

double UtmZoneMillions(double meridian) { return ((meridian + 3.0) * (1.0 / 6.0) + 30.0) * 1000000.0; }

bool IsSouthernBand(const char* band) {
  if (band == nullptr || band[0] == '\0' || band[1] != '\0') return false;
  const char up = static_cast<char>(std::toupper(static_cast<unsigned char>(band[0])));
  return std::strchr("MLKJHGFEDC", up) != nullptr;
}

char LatitudeBand(double B) {
  static constexpr struct {
    double from;
    char letter;
  } kBands[] = {{72, 'X'},  {64, 'W'},  {56, 'V'},  {48, 'U'},  {40, 'T'},  {32, 'S'},  {24, 'R'},
                {16, 'Q'},  {8, 'P'},   {0, 'N'},   {-8, 'M'},  {-16, 'L'}, {-24, 'K'}, {-32, 'J'},
                {-40, 'H'}, {-48, 'G'}, {-56, 'F'}, {-64, 'E'}, {-72, 'D'}};
  for (const auto& band : kBands)
    if (B >= band.from) return band.letter;
  return 'C';
}

// Gauss-Krüger forward with the state and ellipsoid at hand (the single and
// the array export share it).
void GaussKruegerForward(const ProjectionState& s, const Ellipsoid& el, double B, double L, double* E,
                         double* N) {
  double meridian = s.L0;
  if (s.L0Auto != 0) {
    if (s.GKCase == 0)
      meridian = GermanZoneMeridian(L);
    else if (s.GKCase == 4)
      meridian = AustrianStripMeridian(L);
    // Other conventions have no zone rule: the set meridian is kept.
  }
  const pel::PlanePoint p = pel::GaussKruegerSeriesForward(el, B, L - meridian);
  *N = p.x;
  if (s.GKCase == 0)
    *E = meridian * kMetresPerZoneDegree + p.y + 500000.0;
  else if (s.GKCase == 4)
    *E = p.y + AustrianStripOffset(meridian);
  else
    *E = p.y;
}

}  // namespace

extern "C" {

void BL_to_EN_GK(double B, double L, double* E, double* N) {
  GaussKruegerForward(State(), Ellipsoid::FromState(), B, L, E, N);
}

void BL_to_EN_GK_Points(int count, const double* B, const double* L, double* E, double* N) {
  if (count <= 0) return;
  const ProjectionState& s = State();
  const Ellipsoid el = Ellipsoid::FromState();
  for (int i = 0; i < count; ++i) {
    // Copied first: an output array may be one of the input arrays.
    const double b = B[i], l = L[i];
    GaussKruegerForward(s, el, b, l, &E[i], &N[i]);
  }
}

void EN_to_BL_GK(double E, double N, double* B, double* L) {
  const ProjectionState& s = State();
  const Ellipsoid el = Ellipsoid::FromState();
  double meridian = s.L0;
  if (s.L0Auto != 0) {
    if (s.GKCase == 0)
      meridian = 3.0 * std::trunc(E * 0.000001);
    else if (s.GKCase == 4)
      // Strip eastings are y + 150000, 450000 or 750000; the strips
      // meet halfway between those offsets.
      meridian = E < 300000.0 ? kM28 : (E < 600000.0 ? kM31 : kM34);
  }
  double y = E;
  if (s.GKCase == 0)
    y = E - meridian * kMetresPerZoneDegree - 500000.0;
  else if (s.GKCase == 4)
    y = E - AustrianStripOffset(meridian);
  const pel::GeoPoint g = pel::GaussKruegerSeriesInverse(el, y, N);
  *B = g.B;
  *L = g.l + meridian;
}

void BL_to_EN_UTM_Raw(double B, double L, double* E, double* N) {
  ProjectionState& s = State();
  const Ellipsoid el = Ellipsoid::FromState();
  double meridian = s.L0;
  if (s.L0Auto != 0) {
    meridian = 6.0 * std::floor(L / 6.0) + 3.0;
    s.L0 = meridian;
  }
  const pel::PlanePoint p = pel::GaussKruegerSeriesForward(el, B, L - meridian);
  *N = kUtmScale * p.x;
  *E = UtmZoneMillions(meridian) + kUtmScale * p.y + 500000.0;
}

void EN_to_BL_UTM_Raw(double E, double N, double* B, double* L) {
  ProjectionState& s = State();
  const Ellipsoid el = Ellipsoid::FromState();
  double meridian = s.L0;
  if (s.L0Auto != 0) {
    meridian = -183.0 - 6.0 * std::trunc(E * -0.000001);
    s.L0 = meridian;
  }
  const double y = (E - UtmZoneMillions(meridian) - 500000.0) * kUtmScaleInverse;
  const double x = N * kUtmScaleInverse;
  const pel::GeoPoint g = pel::GaussKruegerSeriesInverse(el, y, x);
  *B = g.B;
  *L = g.l + meridian;
}

void BL_to_EN_UTM_With_Zone(double B, double L, double* E, double* N, int* zone, char* band) {
  double e = 0.0;
  double n = 0.0;
  BL_to_EN_UTM_Raw(B, L, &e, &n);
  const int z = pel::TruncateToInt((State().L0 + 183.0) * (1.0 / 6.0));
  e -= z * 1000000.0;
  if (B < 0.0) n += kSouthernFalseNorthing;
  *E = e;
  *N = n;
  *zone = z;
  *band = LatitudeBand(B);
}

void EN_to_BL_UTM_With_Zone(double E, double N, int zone, const char* band, double* B, double* L) {
  if (IsSouthernBand(band)) N -= kSouthernFalseNorthing;
  EN_to_BL_UTM_Raw(E + zone * 1000000.0, N, B, L);
}

}  // extern "C"
