#pragma once
// Turns a mesh of transformation areas, each with the identical points that
// describe the transformation inside it, into the text of a Marlo database.
//
// Every area gets one parameter set, fitted by least squares to its points
// at two heights, so that the horizontal result of the set hardly depends on
// the height (a grid shift or a list of plane coordinates knows no height);
// what the set cannot follow is written as the points' residuals, which the
// library's inverse distance interpolation (weight 1/d^2 over the points of
// the containing area) adds back: exactly at every identical point, smoothly
// between them. Neighbouring areas share their boundary points, so the
// transformation agrees across a shared border at those points and differs
// between them only by the interpolation's error.

#include <map>
#include <string>
#include <vector>

namespace marlobuild {

struct Ellipsoid {
  std::string name;
  double a = 0.0, b = 0.0;
};

// One position known in both systems (degrees, metres).
struct IdenticalPosition {
  std::string name;
  double sourceLat = 0, sourceLon = 0, sourceHeight = 0;
  double targetLat = 0, targetLon = 0, targetHeight = 0;
};

struct BuildSettings {
  Ellipsoid source, target;
  int projectionType = 2;  // 2 Gauss-Krueger, 3 UTM (raw), 4 Lambert
  double centralMeridian = 0.0;
  double originLatitude = 0.0;
  // The sets are fitted at these two ellipsoidal heights; the residuals are
  // taken half-way between them.
  double fitHeightLow = 0.0, fitHeightHigh = 1000.0;
  // Heights of the identical positions are meaningful (control points):
  // residual heights carry target minus source height; otherwise (grid
  // shifts) the database passes heights through.
  bool heightsGiven = false;
  int indexCellSize = 5000;  // metres
  std::vector<std::string> comments;
};

// Parameters of one area in the database's units.
struct AreaParameters {
  double tx = 0, ty = 0, tz = 0;  // metres
  double rx = 0, ry = 0, rz = 0;  // arc-seconds
  double scale = 0;               // 1e-7
};

struct FittedPoint {
  IdenticalPosition position;
  double easting = 0, northing = 0;
  double residualLon = 0, residualLat = 0, residualHeight = 0;  // metres
};

// The database's transformation of one area without interpolation, written
// out as the library computes it, and the least-squares fit of its set.
class AreaModel {
 public:
  AreaModel(const BuildSettings& settings, const double shift[3]);
  // Fits the set to the positions; false when they cannot determine it.
  bool Fit(const std::vector<IdenticalPosition>& points, AreaParameters& p) const;
  // Source position to target (degrees, metres) with the set.
  void Apply(const AreaParameters& p, double lat, double lon, double h, double& outLat, double& outLon,
             double& outH) const;
  // Residuals (metres, as the library adds them back) of one position.
  FittedPoint Residuals(const AreaParameters& p, const IdenticalPosition& q) const;
  double ReferenceHeight() const { return 0.5 * (s_.fitHeightLow + s_.fitHeightHigh); }

 private:
  // Result without parameters and the derivatives by the seven parameters.
  void Linearise(double lat, double lon, double h, double& B2, double& L2, double& h2, double rowLat[7],
                 double rowLon[7], double rowH[7]) const;
  BuildSettings s_;
  double shift_[3];
};

// Cartesian mean of target minus source over the positions (heights 0): the
// geocentric shift every area carries, so the fitted sets stay small.
void MeanShift(const BuildSettings& settings, const std::vector<IdenticalPosition>& points, double shift[3]);

// Projection of a source position into the database plane.
bool ToPlane(const BuildSettings& settings, double lat, double lon, double& easting, double& northing);
// And back.
bool FromPlane(const BuildSettings& settings, double easting, double northing, double& lat, double& lon);

// Support points of one area for the library's interpolation (1/d^2 over
// the points of the containing area). They stand on two circles around the
// area, well outside it, and carry values fitted by least squares so that
// the set plus the interpolation reproduces the source at many sample
// positions inside the area. Seen from inside, points that far away blend
// smoothly, with no flat spot at a point and no bump between points, so
// neighbouring areas agree along their shared border to a small fraction
// of a millimetre. Why two circles: the 1/d^2 weights of points on one
// circle are Poisson's kernel, so one circle follows exactly the fields
// that satisfy Laplace's equation (constant, linear, x^2 - y^2, xy, and so
// every bilinear grid cell) but not one that curves alike in both
// directions (x^2 + y^2); a second, wider circle adds that term.
struct SupportRing {
  int count = 16;            // every second point on the outer circle
  double radius = 2.0;       // inner circle, in units of the area's larger extent in the plane
  double outerRadius = 4.0;  // outer circle; 0 puts every point on the inner one
};

// Fits the support values of one area with its set p; worst is the
// largest horizontal misfit at the samples (metres). False when the
// positions cannot be projected or the system is singular.
bool FitSupport(const BuildSettings& settings, const AreaModel& model, const AreaParameters& p,
                const std::vector<IdenticalPosition>& samples, const SupportRing& ring,
                const std::string& name, std::vector<FittedPoint>& support, double& worst);
// The same for residuals already known at sample positions (easting,
// northing in the database plane and the three residuals in metres, as the
// library adds them): the support points are named name_S1, name_S2, ...
bool FitSupportValues(const std::vector<FittedPoint>& wanted, const SupportRing& ring,
                      const std::string& name, std::vector<FittedPoint>& support, double& worst);

struct MeshArea {
  std::vector<int> ring;  // node ids in boundary order
  std::vector<IdenticalPosition> points;
  // When given: the set is fitted to the points and the file carries
  // support points fitted to these samples instead of the points'
  // residuals.
  std::vector<IdenticalPosition> samples;
  AreaParameters parameters;
  std::vector<FittedPoint> fitted;
};

struct FitStatistics {
  std::size_t areas = 0, points = 0;
  double residualRms = 0, residualMax = 0;  // metres, horizontal
  // Areas with support points: the largest misfit at their samples.
  std::size_t supportAreas = 0;
  double supportMisfitMax = 0;  // metres, horizontal
};

// Collects nodes and areas, fits them and writes the database text.
class DatabaseBuilder {
 public:
  explicit DatabaseBuilder(BuildSettings settings);
  // Node in the database plane from its source position; returns its id.
  int AddNode(double sourceLat, double sourceLon);
  void AddArea(std::vector<int> ring, std::vector<IdenticalPosition> points,
               std::vector<IdenticalPosition> samples = {});
  // The geocentric shift every area carries; Build computes it from the
  // areas' points unless it is given here first.
  void UseShift(const double shift[3]);
  const BuildSettings& Settings() const { return s_; }

  // Fits every area and writes the text; false with a sentence in error.
  bool Build(std::string& text, FitStatistics& stats, std::string& error);

 private:
  struct Node {
    double e = 0, n = 0;
  };
  bool FitAll(FitStatistics& stats, std::string& error);
  std::string Write() const;

  BuildSettings s_;
  std::vector<Node> nodes_;  // id = index + 1
  std::vector<MeshArea> areas_;
  double shift_[3] = {0, 0, 0};
  bool shiftGiven_ = false;
};

// Loads the text with the library's own reader and transforms every check
// position with interpolation on as the server switches it on; errors in
// metres (horizontal) for each position, -1 for a position no area holds.
bool VerifyDatabase(const std::string& text, const std::vector<IdenticalPosition>& checks,
                    std::vector<double>& horizontalErrors, std::string& error);

// The interpolation settings the database is built for (SetInterpolationType).
struct InterpolationKeys {
  int onOff = 1, weightFunction = 2, neighbourMode = 0;
  double searchRadiusKm = 0.0, shapeDistance = 0.0;
};

}  // namespace marlobuild
